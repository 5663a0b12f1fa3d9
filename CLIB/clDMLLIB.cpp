// Winsock 2 goes before windows.h, which JTRKCLIB.h includes.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <strsafe.h>
#include <winspool.h>

#include "jtrkplatform.h"

#include "clDMLLIB.h"

#include <cstring>
#include <vector>

#include "ClibTrace.h"
#include "DmlpEntries.h"

namespace {

const WCHAR kXcvPortPrefix[] = W(",XcvPort ");
const WCHAR kXcvGetIPAddress[] = W("GetIPAddress");
const WCHAR kIniSection[] = W("JTRKCLIB");
const DWORD kAdministerAccess = 1;
const DWORD kEchoTimeoutMs = 3000;
const DWORD kEchoReplyBytes = 2048;
const char kEchoData[] = "Data Buffer";  // sent with its terminating NUL
const int kMaxRouteSteps = 8;
const UINT kLargestTimeout = 0x7FFFFFFF;  // the engine's deadlines are 32-bit tick sums
const UINT kLargestRetry = 255;

// inet_addr of the address written as "%d.%d.%d.%d"; INADDR_NONE when it does not convert.
IPAddr dottedAddress(const ClibIPv4 device)
{
    char text[16];
    snprintf(text, sizeof text, "%d.%d.%d.%d", device[0], device[1], device[2], device[3]);
    return inet_addr(text);
}

DmlpAddress udpAddress(const BYTE* ip, WORD port)
{
    DmlpAddress address = {};
    address.kind = DMLP_ADDRESS_UDP;
    memcpy(address.u.inet.address, ip, sizeof(ClibIPv4));
    address.u.inet.port = port;
    return address;
}

// The next hop of the last direct route towards destination; 0 when the walk fails, meets a next
// hop twice or takes more than kMaxRouteSteps steps.
DWORD directNextHop(IPAddr destination)
{
    std::vector<DWORD> visited;
    DWORD target = destination;
    for (int step = 0; step < kMaxRouteSteps; ++step) {
        MIB_IPFORWARDROW route = {};
        if (GetBestRoute(target, 0, &route) != NO_ERROR)
            return 0;
        if (route.dwForwardType != MIB_IPROUTE_TYPE_INDIRECT)
            return route.dwForwardNextHop;
        for (DWORD hop : visited)
            if (hop == route.dwForwardNextHop)
                return 0;
        visited.push_back(route.dwForwardNextHop);
        target = route.dwForwardNextHop;
    }
    return 0;
}

DWORD firstTableAddress()
{
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return 0;
    std::vector<BYTE> room(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(room.data());
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR || table->dwNumEntries == 0)
        return 0;
    return table->table[0].dwAddr;
}

} // namespace

DWORD ClibLocalAddressFor(const ClibIPv4 device)
{
    IPAddr destination = dottedAddress(device);
    DWORD nextHop = destination == INADDR_NONE ? 0 : directNextHop(destination);
    return nextHop ? nextHop : firstTableAddress();
}

BOOL ClibDeviceAnswersEcho(const ClibIPv4 device)
{
    HANDLE icmp = IcmpCreateFile();
    if (icmp == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL answered = FALSE;
    IPAddr destination = dottedAddress(device);
    if (destination != INADDR_NONE) {
        std::vector<BYTE> replies(kEchoReplyBytes);
        char data[sizeof kEchoData];
        memcpy(data, kEchoData, sizeof data);
        DWORD count = IcmpSendEcho(icmp, destination, data, sizeof data, nullptr, replies.data(), kEchoReplyBytes,
                                   kEchoTimeoutMs);
        // Only a reply with status 0 is an answer: an ICMP error also comes back as a reply.
        const auto* reply = reinterpret_cast<const ICMP_ECHO_REPLY*>(replies.data());
        answered = count > 0 && reply->Status == IP_SUCCESS;
    }
    IcmpCloseHandle(icmp);
    return answered;
}

clDMLLIB::clDMLLIB(DmlpInstance hAplh, const WCHAR* lpPortName)
    : m_lpPortName(lpPortName), m_hAplh(hAplh), m_hBind(nullptr), m_byPhase(DMLLIB_PHASE_START), m_bBind(FALSE)
{
}

void* clDMLLIB::operator new(size_t size, const std::nothrow_t&) noexcept
{
    return g_DmlpEntries.AllocateObject(size);
}

void clDMLLIB::operator delete(void* object) noexcept
{
    g_DmlpEntries.FreeObject(object);
}

BOOL clDMLLIB::bGetXcvPortName(WCHAR* lpName)
{
    return SUCCEEDED(StringCchCopyW(lpName, CLIB_NAME_CHARS, kXcvPortPrefix)) &&
           SUCCEEDED(StringCchCatW(lpName, CLIB_NAME_CHARS, m_lpPortName));
}

BOOL clDMLLIB::bGetIPAddress(BYTE* lpIPAddr)
{
    if (!lpIPAddr) {
        CLIB_ERROR(TRACE_ERROR_PARAMETER);
        CLIB_TRACE(W("NULL == lpIPAddr"));
        return FALSE;
    }
    WCHAR name[CLIB_NAME_CHARS];
    if (!bGetXcvPortName(name)) {
        CLIB_ERROR(CLIB_ERROR_GENERAL);
        CLIB_TRACE(W("Failed to bGetXcvPortName()."));
        return FALSE;
    }
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, kAdministerAccess};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name, &printer, &defaults)) {
        CLIB_ERROR(CLIB_ERROR_GENERAL);
        CLIB_TRACE(W("Failed to OpenPrinter API()."));
        return FALSE;
    }
    BYTE address[sizeof(ClibIPv4)] = {};
    DWORD needed = 0, status = 0;
    BOOL bRtn = XcvDataW(printer, kXcvGetIPAddress, nullptr, 0, address, sizeof address, &needed, &status) &&
                status == ERROR_SUCCESS;
    ClosePrinter(printer);
    if (bRtn)
        memcpy(lpIPAddr, address, sizeof address);
    CLIB_TRACE(W("Return Value bRtn = [%ls]"), ClibBoolText(bRtn));
    return bRtn;
}

void clDMLLIB::vSetBindProperty(DmlpEPProperty* lpProperty)
{
    *lpProperty = DmlpEPProperty{};
    UINT timeout = CLIB_DEFAULT_TIMEOUT, retry = CLIB_DEFAULT_RETRY;
    WCHAR iniPath[CLIB_NAME_CHARS];
    if (GetModuleIniPath(iniPath, CLIB_NAME_CHARS)) {
        timeout = GetPrivateProfileIntW(kIniSection, W("Timeout"), CLIB_DEFAULT_TIMEOUT, iniPath);
        retry = GetPrivateProfileIntW(kIniSection, W("Retry"), CLIB_DEFAULT_RETRY, iniPath);
    }
    if (timeout == 0 || timeout > kLargestTimeout)
        timeout = CLIB_DEFAULT_TIMEOUT;
    if (retry < 1 || retry > kLargestRetry)
        retry = CLIB_DEFAULT_RETRY;
    lpProperty->timeout = timeout;
    lpProperty->transmissions = static_cast<uint8_t>(retry);
}

BOOL clDMLLIB::bCheckBind()
{
    CLIB_TRACE(W("Return Value m_bBind = [%ls]"), ClibBoolText(m_bBind));
    return m_bBind;
}

WORD clDMLLIB::rtnBind()
{
    WORD rtnRet = DMLPLIBERR_NOT_CALLED;
    m_byPhase = DMLLIB_PHASE_BIND;
    ClibIPv4 device = {};
    if (!bGetIPAddress(device)) {
        rtnRet = DMLPLIBERR_NO_BINDING;
    } else {
        DmlpEPProperty property;
        vSetBindProperty(&property);
        DmlpAddress remote = udpAddress(device, CLIB_DEVICE_PORT);
        rtnRet = g_DmlpEntries.Bind(m_hAplh, &remote, nullptr, &property, &m_hBind);
        m_bBind = rtnRet == DMLP_SUCCESS;
        if (!m_bBind)
            m_hBind = nullptr;
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

DWORD clDMLLIB::dwSetResultCode(WORD wStatus)
{
    DWORD dwRtnCode = DMLLIB_MAKE_RESULT(m_byPhase, wStatus);
    CLIB_TRACE(W("Return Value dwRtnCode = [%08lx]"), dwRtnCode);
    return dwRtnCode;
}

DWORD clDMLLIB::dwUnbind(WORD wStatus)
{
    WORD status = wStatus;
    if (m_bBind) {
        WORD unbound = g_DmlpEntries.Unbind(m_hBind);
        if (unbound == DMLP_SUCCESS)
            m_bBind = FALSE;
        if (wStatus == DMLP_SUCCESS) {
            m_byPhase = DMLLIB_PHASE_UNBIND;
            status = unbound;
        }
    }
    DWORD dwRtn = dwSetResultCode(status);
    CLIB_TRACE(W("Return Value dwRtn = [%08lx]"), dwRtn);
    return dwRtn;
}

// Everything the new binding needs is gathered before the old one is dropped, so that only
// DMLP_Bind can fail once it is gone.
WORD clDMLLIB::dwResetBind(WORD wLocalPort)
{
    WORD rtnRet = 0;
    ClibIPv4 device = {};
    if (bGetIPAddress(device) && ClibDeviceAnswersEcho(device)) {
        DmlpEPProperty property;
        vSetBindProperty(&property);
        DmlpAddress remote = udpAddress(device, CLIB_DEVICE_PORT);
        DWORD local = ClibLocalAddressFor(device);
        DmlpAddress localAddress = udpAddress(reinterpret_cast<const BYTE*>(&local), wLocalPort);

        g_DmlpEntries.Unbind(m_hBind);
        m_hBind = nullptr;
        m_bBind = FALSE;
        m_byPhase = DMLLIB_PHASE_BIND;
        rtnRet = g_DmlpEntries.Bind(m_hAplh, &remote, &localAddress, &property, &m_hBind);
        m_bBind = rtnRet == DMLP_SUCCESS;
        if (!m_bBind)
            m_hBind = nullptr;
    }
    CLIB_TRACE(W("Return Value rtnRet = [%ld]"), static_cast<LONG>(rtnRet));
    return rtnRet;
}

WORD clDMLLIB::rtnNotBound(WORD wStartStatus)
{
    CLIB_ERROR(CLIB_ERROR_GENERAL);
    CLIB_TRACE(W("Failed Bind."));
    return wStartStatus == DMLP_SUCCESS ? DMLPLIBERR_NO_BINDING : wStartStatus;
}
