// Apartments, BSTRs, the thread's error object, GUID text and the COM error texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pal/com.h"

namespace pal {
namespace {

struct Apartment {
    int initialised = 0;
    bool singleThreaded = false;
};

thread_local Apartment t_apartment;

// The thread's error object, released when the thread ends.
struct ErrorSlot {
    IErrorInfo* info = nullptr;
    ~ErrorSlot()
    {
        if (info)
            info->Release();
    }
};

thread_local ErrorSlot t_error;

constexpr UINT kMaxBstrChars = 0x7FFFFFFF / sizeof(OLECHAR) - 4;

DWORD* lengthSlot(BSTR bstr)
{
    return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(bstr) - sizeof(DWORD));
}

struct HresultText {
    HRESULT hr;
    const WCHAR* text;
};

const HresultText kTexts[] = {
    {S_OK, u"The operation completed successfully."},
    {S_FALSE, u"Incorrect function."},
    {E_UNEXPECTED, u"Catastrophic failure"},
    {E_NOTIMPL, u"Not implemented"},
    {E_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, u"The parameter is incorrect."},
    {E_NOINTERFACE, u"No such interface supported"},
    {E_POINTER, u"Invalid pointer"},
    {E_HANDLE, u"The handle is invalid."},
    {E_ABORT, u"Operation aborted"},
    {E_FAIL, u"Unspecified error"},
    {E_ACCESSDENIED, u"Access is denied."},
    {RPC_E_CHANGED_MODE, u"Cannot change thread mode after it is set."},
    {CO_E_NOTINITIALIZED, u"CoInitialize has not been called."},
};

// Texts made on demand for other values: one per HRESULT, kept for the process's life.
const WCHAR* madeText(HRESULT hr)
{
    struct Made {
        HRESULT hr;
        WCHAR text[48];
        Made* next;
    };
    static std::atomic<Made*> made{nullptr};
    for (Made* entry = made.load(); entry; entry = entry->next)
        if (entry->hr == hr)
            return entry->text;
    auto* entry = new Made{hr, {}, nullptr};
    char text[48];
    WORD wcode = _com_error(hr).WCode();
    if (wcode)
        std::snprintf(text, sizeof text, "IDispatch error #%u", static_cast<unsigned>(wcode));
    else
        std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(static_cast<DWORD>(hr)));
    for (size_t i = 0; text[i]; ++i)
        entry->text[i] = static_cast<WCHAR>(text[i]);
    entry->next = made.load();
    while (!made.compare_exchange_weak(entry->next, entry)) {
    }
    return entry->text;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

const IID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_IConnectionPointContainer = {0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IConnectionPoint = {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnections = {0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};
const IID IID_IEnumConnectionPoints = {0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}};

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    constexpr DWORD known = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
    if (pvReserved || (dwCoInit & ~known))
        return E_INVALIDARG;
    bool singleThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) != 0;
    Apartment& apartment = t_apartment;
    if (apartment.initialised == 0) {
        apartment.singleThreaded = singleThreaded;
        apartment.initialised = 1;
        return S_OK;
    }
    if (apartment.singleThreaded != singleThreaded)
        return RPC_E_CHANGED_MODE;
    ++apartment.initialised;
    return S_FALSE;
}

HRESULT CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize(void)
{
    if (t_apartment.initialised > 0)
        --t_apartment.initialised;
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui)
{
    if (ui > kMaxBstrChars)
        return nullptr;
    size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
    auto* block = static_cast<char*>(std::calloc(1, sizeof(DWORD) + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    BSTR bstr = reinterpret_cast<BSTR>(block + sizeof(DWORD));
    *lengthSlot(bstr) = static_cast<DWORD>(bytes);
    if (strIn)
        std::memcpy(bstr, strIn, bytes);
    return bstr;
}

BSTR SysAllocString(const OLECHAR* psz)
{
    if (!psz)
        return nullptr;
    UINT length = 0;
    while (psz[length])
        ++length;
    return SysAllocStringLen(psz, length);
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz)
{
    if (!pbstr)
        return FALSE;
    BSTR replacement = SysAllocString(psz);
    if (psz && !replacement)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = replacement;
    return TRUE;
}

void SysFreeString(BSTR bstrString)
{
    if (bstrString)
        std::free(lengthSlot(bstrString));
}

UINT SysStringByteLen(BSTR bstr)
{
    return bstr ? *lengthSlot(bstr) : 0;
}

UINT SysStringLen(BSTR pbstr)
{
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* perrinfo)
{
    if (perrinfo)
        perrinfo->AddRef();
    IErrorInfo* previous = t_error.info;
    t_error.info = perrinfo;
    if (previous)
        previous->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** pperrinfo)
{
    if (!pperrinfo)
        return E_INVALIDARG;
    *pperrinfo = t_error.info;
    t_error.info = nullptr;
    return *pperrinfo ? S_OK : S_FALSE;
}

int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax)
{
    constexpr int kChars = 39;
    if (!lpsz || cchMax < kChars)
        return 0;
    char text[kChars + 1];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(rguid.Data1), rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                  rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6], rguid.Data4[7]);
    for (int i = 0; i < kChars; ++i)
        lpsz[i] = static_cast<OLECHAR>(text[i]);
    return kChars;
}

LPCWSTR palComErrorText(HRESULT hr)
{
    for (const HresultText& entry : kTexts)
        if (entry.hr == hr)
            return entry.text;
    return madeText(hr);
}

} // extern "C"

void _com_issue_error(HRESULT hr)
{
    throw _com_error(hr);
}

void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid)
{
    IErrorInfo* info = nullptr;
    ISupportErrorInfo* support = nullptr;
    if (punk && SUCCEEDED(punk->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) && support) {
        if (support->InterfaceSupportsErrorInfo(riid) == S_OK && GetErrorInfo(0, &info) != S_OK)
            info = nullptr;
        support->Release();
    }
    throw _com_error(hr, info, false, riid);
}
