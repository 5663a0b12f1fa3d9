#include "FakeJcsdk.h"

#include <cstdio>

namespace {

std::string number(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lx", value);
    return text;
}

} // namespace

HRESULT FakeJcsdk::QueryInterface(REFIID riid, void** object)
{
    if (riid == IID_IUnknown || riid == IID_IJCSDKSpooler)
        *object = static_cast<IJCSDKSpooler*>(this);
    else if (riid == IID_IConnectionPointContainer)
        *object = static_cast<IConnectionPointContainer*>(this);
    else
        return *object = nullptr, E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT FakeJcsdk::ControlDeviceJob(BSTR deviceJobId, LONG command)
{
    std::u16string id = deviceJobId ? deviceJobId : u"";
    calls.push_back("ControlDeviceJob " + std::string(id.begin(), id.end()) + " " + std::to_string(command));
    return controlResult;
}

HRESULT FakeJcsdk::SetJobEvents(LONG mask)
{
    calls.push_back("SetJobEvents " + number(static_cast<unsigned long>(mask)));
    return setResult;
}

HRESULT FakeJcsdk::ResetJobEvents()
{
    calls.push_back("ResetJobEvents");
    return resetResult;
}

HRESULT FakeJcsdk::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    if (riid != IID_IJCSDKEvents)
        return *point = nullptr, CONNECT_E_NOCONNECTION;
    AddRef();
    *point = this;
    return S_OK;
}

HRESULT FakeJcsdk::Unadvise(DWORD cookie)
{
    calls.push_back("Unadvise " + number(cookie));
    return S_OK;
}
