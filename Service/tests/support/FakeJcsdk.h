// A JCSDK spooler object for unit tests: scripted HRESULTs, every call recorded, one connection
// point for the event sink.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include <windows.h>

#include "JCSDK.h"

class FakeJcsdk : public IJCSDKSpooler, public IConnectionPointContainer, public IConnectionPoint {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** object) override;
    STDMETHOD_(ULONG, AddRef)() override { return ++references; }
    STDMETHOD_(ULONG, Release)() override { return --references; } // owned by the test

    STDMETHOD(Unused4)() override { return E_NOTIMPL; }
    STDMETHOD(Unused5)() override { return E_NOTIMPL; }
    STDMETHOD(Unused6)() override { return E_NOTIMPL; }
    STDMETHOD(Unused7)() override { return E_NOTIMPL; }
    STDMETHOD(Unused8)() override { return E_NOTIMPL; }
    STDMETHOD(Unused9)() override { return E_NOTIMPL; }
    STDMETHOD(Unused10)() override { return E_NOTIMPL; }
    STDMETHOD(Unused11)() override { return E_NOTIMPL; }
    STDMETHOD(Unused12)() override { return E_NOTIMPL; }
    STDMETHOD(Unused13)() override { return E_NOTIMPL; }
    STDMETHOD(Unused14)() override { return E_NOTIMPL; }
    STDMETHOD(Unused15)() override { return E_NOTIMPL; }
    STDMETHOD(ControlDeviceJob)(BSTR deviceJobId, LONG command) override;
    STDMETHOD(SetJobEvents)(LONG mask) override;
    STDMETHOD(ResetJobEvents)() override;

    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** point) override;

    STDMETHOD(GetConnectionInterface)(IID*) override { return E_NOTIMPL; }
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer**) override { return E_NOTIMPL; }
    STDMETHOD(Advise)(IUnknown*, DWORD*) override { return E_NOTIMPL; }
    STDMETHOD(Unadvise)(DWORD cookie) override;
    STDMETHOD(EnumConnections)(IEnumConnections**) override { return E_NOTIMPL; }

    std::atomic<ULONG> references{1};
    HRESULT controlResult = S_OK;
    HRESULT setResult = S_OK;
    HRESULT resetResult = S_OK;
    std::vector<std::string> calls; // "ControlDeviceJob <id> <command>", "SetJobEvents <mask>", ...
};
