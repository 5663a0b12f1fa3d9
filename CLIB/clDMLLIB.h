// clDMLLIB: the base of every operation object. It knows the printer's port, the protocol-library
// instance and the device binding, keeps the phase that goes into the result code, and builds,
// drops and rebuilds the binding to the device, whose address the port monitor gives.
#pragma once

#include <new>

#include "JTRKCLIB.h"

#define CLIB_NAME_CHARS 260
#define CLIB_DEVICE_PORT 47545
#define CLIB_DEFAULT_TIMEOUT 5000
#define CLIB_DEFAULT_RETRY 2

// The device's IPv4 address, first octet first, as the port monitor gives it.
typedef BYTE ClibIPv4[4];

class clDMLLIB {
public:
    clDMLLIB(DmlpInstance hAplh, const WCHAR* lpPortName);
    virtual ~clDMLLIB() = default;
    clDMLLIB(const clDMLLIB&) = delete;
    clDMLLIB& operator=(const clDMLLIB&) = delete;

    // Operation objects come from the entry table's allocator; NULL when it has no memory.
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* object) noexcept;

    BOOL bGetXcvPortName(WCHAR* lpName);
    BOOL bGetIPAddress(BYTE* lpIPAddr);
    void vSetBindProperty(DmlpEPProperty* lpProperty);
    BOOL bCheckBind();
    virtual WORD rtnBind();
    DWORD dwSetResultCode(WORD wStatus);
    DWORD dwUnbind(WORD wStatus);
    WORD dwResetBind(WORD wLocalPort);

    DmlpBinding hGetBinding() const { return m_hBind; }
    void vSetPhase(BYTE byPhase) { m_byPhase = byPhase; }

protected:
    // A flow that found no binding: an error line and the starting status, or the library's
    // own "no binding" status when nothing failed before.
    WORD rtnNotBound(WORD wStartStatus);

    const WCHAR* m_lpPortName;
    DmlpInstance m_hAplh;
    DmlpBinding m_hBind;
    BYTE m_byPhase;
    BOOL m_bBind;
};

// Local IPv4 address (network order) from which the device is reached: the interface named by the
// last direct route of the walk from the device towards its gateways, else the first address of
// the machine's table, else 0.0.0.0.
DWORD ClibLocalAddressFor(const ClibIPv4 device);
// Whether the device answers an ICMP echo within 3000 ms.
BOOL ClibDeviceAnswersEcho(const ClibIPv4 device);
