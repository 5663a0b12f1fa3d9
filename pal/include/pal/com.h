// COM as the system uses it: apartments, GUIDs, IUnknown and the error-information and
// connection-point interfaces (plain tables of functions: C++ classes with only pure virtual
// methods, so that slot n of an interface is its n-th method), BSTR strings with the wrappers
// _bstr_t and _com_error.
//
// CoInitializeEx: per thread, S_OK for the first call, S_FALSE for a later one of the same
// apartment kind, RPC_E_CHANGED_MODE (count unchanged) for the other kind; CoUninitialize undoes
// one successful call. A BSTR is UTF-16 with its length in bytes in the 4 bytes before it and a
// terminating 0 after it.
#pragma once

#include <atomic>
#include <cstring>
#include <string>

#include "pal/codepage.h"
#include "pal/errors.h"
#include "pal/types.h"

#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_ABORT ((HRESULT)0x80004004)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_HANDLE ((HRESULT)0x80070006)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200)
#define CONNECT_E_ADVISELIMIT ((HRESULT)0x80040201)
#define CONNECT_E_CANNOTCONNECT ((HRESULT)0x80040202)
#define FACILITY_WIN32 7
#define FACILITY_ITF 4
#define HRESULT_CODE(hr) ((hr) & 0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)

inline HRESULT HRESULT_FROM_WIN32(DWORD error)
{
    return static_cast<LONG>(error) <= 0 ? static_cast<HRESULT>(error)
                                         : static_cast<HRESULT>((error & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0

// GUID comes from pal/types.h.
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
#define IsEqualIID IsEqualGUID
inline bool operator==(REFGUID a, REFGUID b)
{
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b)
{
    return !IsEqualGUID(a, b);
}

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;
};
typedef IUnknown* LPUNKNOWN;

struct IErrorInfo : IUnknown {
    STDMETHOD(GetGUID)(GUID* pGUID) PURE;
    STDMETHOD(GetSource)(BSTR* pBstrSource) PURE;
    STDMETHOD(GetDescription)(BSTR* pBstrDescription) PURE;
    STDMETHOD(GetHelpFile)(BSTR* pBstrHelpFile) PURE;
    STDMETHOD(GetHelpContext)(DWORD* pdwHelpContext) PURE;
};

struct ISupportErrorInfo : IUnknown {
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) PURE;
};

struct IConnectionPoint;

typedef struct tagCONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
} CONNECTDATA;

struct IEnumConnections : IUnknown {
    STDMETHOD(Next)(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cConnections) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumConnections** ppEnum) PURE;
};

struct IEnumConnectionPoints : IUnknown {
    STDMETHOD(Next)(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) PURE;
    STDMETHOD(Skip)(ULONG cConnections) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumConnectionPoints** ppEnum) PURE;
};

struct IConnectionPointContainer : IUnknown {
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) PURE;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) PURE;
};

struct IConnectionPoint : IUnknown {
    STDMETHOD(GetConnectionInterface)(IID* pIID) PURE;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** ppCPC) PURE;
    STDMETHOD(Advise)(IUnknown* pUnkSink, DWORD* pdwCookie) PURE;
    STDMETHOD(Unadvise)(DWORD dwCookie) PURE;
    STDMETHOD(EnumConnections)(IEnumConnections** ppEnum) PURE;
};

extern "C" {
PAL_EXPORT extern const IID GUID_NULL;
PAL_EXPORT extern const IID IID_IUnknown;
PAL_EXPORT extern const IID IID_IErrorInfo;
PAL_EXPORT extern const IID IID_ISupportErrorInfo;
PAL_EXPORT extern const IID IID_IConnectionPointContainer;
PAL_EXPORT extern const IID IID_IConnectionPoint;
PAL_EXPORT extern const IID IID_IEnumConnections;
PAL_EXPORT extern const IID IID_IEnumConnectionPoints;

PAL_EXPORT HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
PAL_EXPORT HRESULT CoInitialize(LPVOID pvReserved);
PAL_EXPORT void CoUninitialize(void);

PAL_EXPORT BSTR SysAllocString(const OLECHAR* psz);
PAL_EXPORT BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
PAL_EXPORT INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
PAL_EXPORT void SysFreeString(BSTR bstrString);
PAL_EXPORT UINT SysStringLen(BSTR pbstr);
PAL_EXPORT UINT SysStringByteLen(BSTR bstr);

// The thread's error object: SetErrorInfo keeps a reference; GetErrorInfo hands it over (S_FALSE
// and NULL when there is none) and clears it.
PAL_EXPORT HRESULT SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
PAL_EXPORT HRESULT GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the characters written with the terminator (39), or 0
// when cchMax is too small.
PAL_EXPORT int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

// The text of an HRESULT as _com_error::ErrorMessage gives it (a static string).
PAL_EXPORT LPCWSTR palComErrorText(HRESULT hr);
}

// A reference-counted BSTR, with its ANSI form made on demand. An empty _bstr_t converts to NULL.
class PAL_EXPORT _bstr_t {
public:
    _bstr_t() noexcept = default;
    _bstr_t(const _bstr_t& other) noexcept : data_(other.data_) { addRef(); }
    _bstr_t(const char* text) : data_(text ? new Data(SysAllocStringLen(nullptr, 0)) : nullptr)
    {
        if (data_)
            data_->assignAnsi(text);
    }
    _bstr_t(const WCHAR* text) : data_(text ? new Data(SysAllocString(text)) : nullptr) {}
    // fCopy false takes over bstr.
    _bstr_t(BSTR bstr, bool fCopy) : data_(bstr ? new Data(fCopy ? SysAllocString(bstr) : bstr) : nullptr) {}
    ~_bstr_t() { release(); }

    _bstr_t& operator=(const _bstr_t& other) noexcept
    {
        if (data_ != other.data_) {
            release();
            data_ = other.data_;
            addRef();
        }
        return *this;
    }
    _bstr_t& operator=(const WCHAR* text) { return *this = _bstr_t(text); }
    _bstr_t& operator=(const char* text) { return *this = _bstr_t(text); }
    _bstr_t& operator+=(const _bstr_t& other)
    {
        std::u16string joined(view());
        joined.append(other.view());
        _bstr_t result(SysAllocStringLen(joined.data(), static_cast<UINT>(joined.size())), false);
        return *this = result;
    }
    _bstr_t operator+(const _bstr_t& other) const
    {
        _bstr_t result(*this);
        result += other;
        return result;
    }

    operator const WCHAR*() const noexcept { return data_ ? data_->wide : nullptr; }
    operator WCHAR*() const noexcept { return data_ ? data_->wide : nullptr; }
    operator const char*() const { return data_ ? data_->ansi() : nullptr; }
    operator char*() const { return data_ ? data_->ansi() : nullptr; }
    bool operator!() const noexcept { return !data_ || !data_->wide; }
    bool operator==(const _bstr_t& other) const noexcept { return compare(other) == 0; }
    bool operator!=(const _bstr_t& other) const noexcept { return compare(other) != 0; }
    bool operator<(const _bstr_t& other) const noexcept { return compare(other) < 0; }

    UINT length() const noexcept { return data_ ? SysStringLen(data_->wide) : 0; }
    // A new BSTR the caller frees (fCopy), or the wrapped one.
    BSTR copy(bool fCopy = true) const
    {
        return !data_ ? nullptr : fCopy ? SysAllocStringLen(data_->wide, length()) : data_->wide;
    }
    void Assign(BSTR bstr) { *this = _bstr_t(bstr, true); }
    void Attach(BSTR bstr) { *this = _bstr_t(bstr, false); }
    BSTR Detach()
    {
        if (!data_)
            return nullptr;
        BSTR bstr = data_->wide;
        if (data_->references.load() == 1) {
            data_->wide = nullptr;
            release();
            return bstr;
        }
        bstr = copy();
        release();
        return bstr;
    }
    BSTR& GetBSTR()
    {
        if (!data_)
            data_ = new Data(nullptr);
        return data_->wide;
    }
    BSTR* GetAddress()
    {
        release();
        data_ = new Data(nullptr);
        return &data_->wide;
    }

private:
    struct Data {
        explicit Data(BSTR bstr) : wide(bstr) {}
        ~Data()
        {
            SysFreeString(wide);
            delete[] narrow;
        }
        Data(const Data&) = delete;
        Data& operator=(const Data&) = delete;

        void assignAnsi(const char* text)
        {
            int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
            SysFreeString(wide);
            wide = SysAllocStringLen(nullptr, length > 0 ? static_cast<UINT>(length - 1) : 0);
            if (wide && length > 1)
                MultiByteToWideChar(CP_ACP, 0, text, -1, wide, length);
        }
        char* ansi()
        {
            if (!narrow && wide) {
                int size = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(SysStringLen(wide)) + 1, nullptr,
                                               0, nullptr, nullptr);
                narrow = new char[size > 0 ? size : 1]();
                if (size > 0)
                    WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(SysStringLen(wide)) + 1, narrow, size,
                                        nullptr, nullptr);
            }
            return narrow;
        }

        BSTR wide;
        char* narrow = nullptr;
        std::atomic<long> references{1};
    };

    void addRef() noexcept
    {
        if (data_)
            data_->references.fetch_add(1);
    }
    void release() noexcept
    {
        if (data_ && data_->references.fetch_sub(1) == 1)
            delete data_;
        data_ = nullptr;
    }
    std::u16string_view view() const noexcept
    {
        return data_ && data_->wide ? std::u16string_view(data_->wide, length()) : std::u16string_view();
    }
    int compare(const _bstr_t& other) const noexcept
    {
        return view().compare(other.view());
    }

    Data* data_ = nullptr;
};

// A failed HRESULT as an exception: the HRESULT, the interface it came from, and the texts of the
// thread's error object when the interface supplied one.
class PAL_EXPORT _com_error {
public:
    _com_error(HRESULT hr, IErrorInfo* perrinfo = nullptr, bool fAddRef = false, REFIID iid = GUID_NULL) noexcept
        : hresult_(hr), info_(perrinfo), iid_(iid)
    {
        if (info_ && fAddRef)
            info_->AddRef();
    }
    _com_error(const _com_error& other) noexcept : hresult_(other.hresult_), info_(other.info_), iid_(other.iid_)
    {
        if (info_)
            info_->AddRef();
    }
    _com_error& operator=(const _com_error& other) noexcept
    {
        if (this != &other) {
            if (other.info_)
                other.info_->AddRef();
            if (info_)
                info_->Release();
            hresult_ = other.hresult_;
            info_ = other.info_;
            iid_ = other.iid_;
        }
        return *this;
    }
    virtual ~_com_error()
    {
        if (info_)
            info_->Release();
    }

    HRESULT Error() const noexcept { return hresult_; }
    WORD WCode() const noexcept
    {
        return hresult_ >= static_cast<HRESULT>(0x80040200) && hresult_ <= static_cast<HRESULT>(0x8004FFFF)
                   ? static_cast<WORD>(hresult_ - 0x80040200)
                   : 0;
    }
    IErrorInfo* ErrorInfo() const noexcept
    {
        if (info_)
            info_->AddRef();
        return info_;
    }
    const WCHAR* ErrorMessage() const noexcept { return palComErrorText(hresult_); }
    // The error object's interface id, else the interface the error was raised for.
    ::GUID GUID() const
    {
        ::GUID id = iid_;
        if (info_)
            info_->GetGUID(&id);
        return id;
    }
    _bstr_t Source() const { return text(&IErrorInfo::GetSource); }
    _bstr_t Description() const { return text(&IErrorInfo::GetDescription); }
    _bstr_t HelpFile() const { return text(&IErrorInfo::GetHelpFile); }

private:
    _bstr_t text(HRESULT (IErrorInfo::*getter)(BSTR*)) const
    {
        BSTR value = nullptr;
        if (!info_ || FAILED((info_->*getter)(&value)))
            return _bstr_t();
        return _bstr_t(value, false);
    }

    HRESULT hresult_;
    IErrorInfo* info_;
    ::GUID iid_;
};

// Throw _com_error for hr; the Ex form takes the thread's error object when punk supports error
// information for riid, and records riid.
[[noreturn]] PAL_EXPORT void _com_issue_error(HRESULT hr);
[[noreturn]] PAL_EXPORT void _com_issue_errorex(HRESULT hr, IUnknown* punk, REFIID riid);
