// The outside job-control SDK JCSDK as the service uses it: the printer's spooler object (three
// consecutive methods of its table) and the connection of the printer's event sink. A failing
// HRESULT of the spooler object is thrown as a _com_error carrying the interface id.
#pragma once

#include <windows.h>
#include <comdef.h>

#include "jtrkplatform.h"

extern const IID IID_IJCSDKSpooler; // {5B3E91C2-40AF-4E6D-9C1B-7A2D6F08E314}
extern const IID IID_IJCSDKEvents;  // {C4D2A877-1B5E-4F30-8E9A-3F61B0D2C955}: the event sink

#define JCSDK_COMMAND_DELETE 3
#define JCSDK_JOB_EVENTS 0x40000C00
#define JCSDK_COOKIE_UNADVISED 0xFEFEFEFEu

// Slots 4 to 15 are methods the service does not call.
struct IJCSDKSpooler : IUnknown {
    STDMETHOD(Unused4)() PURE;
    STDMETHOD(Unused5)() PURE;
    STDMETHOD(Unused6)() PURE;
    STDMETHOD(Unused7)() PURE;
    STDMETHOD(Unused8)() PURE;
    STDMETHOD(Unused9)() PURE;
    STDMETHOD(Unused10)() PURE;
    STDMETHOD(Unused11)() PURE;
    STDMETHOD(Unused12)() PURE;
    STDMETHOD(Unused13)() PURE;
    STDMETHOD(Unused14)() PURE;
    STDMETHOD(Unused15)() PURE;
    STDMETHOD(ControlDeviceJob)(BSTR deviceJobId, LONG command) PURE; // slot 16
    STDMETHOD(SetJobEvents)(LONG mask) PURE;                           // slot 17
    STDMETHOD(ResetJobEvents)() PURE;                                  // slot 18
};

// The printer's device object: only held and released.
typedef IUnknown IJCSDKDevice;

// The printer's event sink: its advise cookie on the spooler object's connection point.
class JCSDKEventSink {
public:
    explicit JCSDKEventSink(DWORD cookie) : m_cookie(cookie) {}
    DWORD Cookie() const { return m_cookie; }
    void SetCookie(DWORD cookie) { m_cookie = cookie; }

private:
    DWORD m_cookie;
};

// The HRESULT of the call; a negative one is thrown as a _com_error.
HRESULT ControlDeviceJob(IJCSDKSpooler* spooler, BSTR deviceJobId, LONG command);
HRESULT SetJobEvents(IJCSDKSpooler* spooler, LONG mask);
HRESULT ResetJobEvents(IJCSDKSpooler* spooler);
// Unadvises the sink from the spooler object's connection point of IID_IJCSDKEvents; the first
// failing HRESULT or that of Unadvise. The cookie is marked unadvised afterwards.
HRESULT UnadviseJobEvents(IJCSDKSpooler* spooler, JCSDKEventSink* sink);
