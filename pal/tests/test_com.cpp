#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include <windows.h>

namespace {

const IID kSinkIid = {0xC4D2A877, 0x1B5E, 0x4F30, {0x8E, 0x9A, 0x3F, 0x61, 0xB0, 0xD2, 0xC9, 0x55}};

TEST(ComApartments, CountPerThreadAndRefuseAnotherKind)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    std::thread other([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << "each thread has its own";
        CoUninitialize();
    });
    other.join();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "one of two calls undone";
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << "all undone: a new kind may start";
    CoUninitialize();
    CoUninitialize(); // one too many is harmless
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
}

TEST(Bstr, CarriesItsByteLengthBeforeAndATerminatorAfter)
{
    const WCHAR text[] = {u'a', 0, u'b'};
    BSTR bstr = SysAllocStringLen(text, 3);
    ASSERT_NE(bstr, nullptr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(bstr) - 4;
    const unsigned char expected[] = {6, 0, 0, 0, 'a', 0, 0, 0, 'b', 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof expected), 0);
    EXPECT_EQ(SysStringLen(bstr), 3u) << "an embedded NUL counts";
    EXPECT_EQ(SysStringByteLen(bstr), 6u);
    EXPECT_TRUE(SysReAllocString(&bstr, u"longer text"));
    EXPECT_EQ(SysStringLen(bstr), 11u);
    SysFreeString(bstr);

    BSTR blank = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(blank[0], 0);
    EXPECT_EQ(blank[2], 0);
    SysFreeString(blank);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(u"", 0x7FFFFFFF), nullptr) << "too long to describe";
}

TEST(BstrWrapper, SharesCopiesAndConvertsToTheAnsiCodePage)
{
    _bstr_t empty;
    EXPECT_EQ(static_cast<const WCHAR*>(empty), nullptr);
    EXPECT_EQ(static_cast<const char*>(empty), nullptr);
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_TRUE(!empty);

    _bstr_t name(u"日本");
    _bstr_t shared = name;
    EXPECT_EQ(static_cast<const WCHAR*>(shared), static_cast<const WCHAR*>(name)) << "one string, two references";
    EXPECT_STREQ(static_cast<const char*>(name), "\x93\xFA\x96\x7B") << "code page 932";
    EXPECT_EQ(_bstr_t("\x93\xFA\x96\x7B"), name);
    EXPECT_EQ(_bstr_t("\x93\xFA\x96\x7B").length(), 2u);

    name += _bstr_t(u"語");
    EXPECT_EQ(name.length(), 3u);
    EXPECT_EQ(shared.length(), 2u) << "appending makes a new string";
    EXPECT_TRUE(name != shared);
    EXPECT_TRUE(_bstr_t(u"a") < _bstr_t(u"b"));
    EXPECT_EQ(_bstr_t(u"x") + _bstr_t(u"y"), _bstr_t(u"xy"));

    BSTR owned = name.copy();
    EXPECT_NE(owned, static_cast<const WCHAR*>(name));
    EXPECT_EQ(SysStringLen(owned), 3u);
    _bstr_t attached;
    attached.Attach(owned);
    EXPECT_EQ(static_cast<const WCHAR*>(attached), owned) << "attached, not copied";
    BSTR detached = attached.Detach();
    EXPECT_EQ(detached, owned);
    EXPECT_EQ(static_cast<const WCHAR*>(attached), nullptr);
    SysFreeString(detached);

    BSTR whileShared = shared.Detach();
    EXPECT_NE(whileShared, static_cast<const WCHAR*>(name));
    EXPECT_EQ(SysStringLen(whileShared), 2u) << "a shared string is detached as a copy";
    SysFreeString(whileShared);
}

// An error object and an interface that supplies it, counting their references.
struct FakeErrorInfo : IErrorInfo {
    ULONG references = 1;
    STDMETHOD(QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHOD_(ULONG, AddRef)() override { return ++references; }
    STDMETHOD_(ULONG, Release)() override { return --references; }
    STDMETHOD(GetGUID)(GUID* pGUID) override
    {
        *pGUID = kSinkIid;
        return S_OK;
    }
    STDMETHOD(GetSource)(BSTR* source) override
    {
        *source = SysAllocString(u"JCSDK.Spooler");
        return S_OK;
    }
    STDMETHOD(GetDescription)(BSTR* description) override
    {
        *description = SysAllocString(u"device job unknown");
        return S_OK;
    }
    STDMETHOD(GetHelpFile)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(GetHelpContext)(DWORD*) override { return E_NOTIMPL; }
};

struct FakeObject : ISupportErrorInfo {
    bool supports = true;
    ULONG references = 1;
    STDMETHOD(QueryInterface)(REFIID riid, void** object) override
    {
        if (riid == IID_ISupportErrorInfo || riid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++references; }
    STDMETHOD_(ULONG, Release)() override { return --references; }
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override
    {
        return supports && riid == kSinkIid ? S_OK : S_FALSE;
    }
};

TEST(ComErrors, CarryTheResultTheInterfaceAndTheErrorObjectsTexts)
{
    FakeErrorInfo info;
    FakeObject object;
    EXPECT_EQ(SetErrorInfo(0, &info), S_OK);
    EXPECT_EQ(info.references, 2u);
    try {
        _com_issue_errorex(static_cast<HRESULT>(0x80040300), &object, kSinkIid);
        FAIL() << "not thrown";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), static_cast<HRESULT>(0x80040300));
        EXPECT_EQ(error.Source(), _bstr_t(u"JCSDK.Spooler"));
        EXPECT_EQ(error.Description(), _bstr_t(u"device job unknown"));
        EXPECT_TRUE(error.GUID() == kSinkIid);
        EXPECT_EQ(std::u16string(error.ErrorMessage()), u"IDispatch error #256");
    }
    EXPECT_EQ(info.references, 1u) << "the thread's reference went to the error and with it";
    EXPECT_EQ(object.references, 1u);
    IErrorInfo* none = &info;
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);

    object.supports = false;
    try {
        _com_issue_errorex(E_FAIL, &object, kSinkIid);
    } catch (const _com_error& error) {
        EXPECT_TRUE(error.GUID() == kSinkIid) << "the interface it was raised for";
        EXPECT_TRUE(!error.Source());
        EXPECT_EQ(std::u16string(error.ErrorMessage()), u"Unspecified error");
    }
    try {
        _com_issue_error(static_cast<HRESULT>(0x80991234));
    } catch (const _com_error& error) {
        EXPECT_EQ(std::u16string(error.ErrorMessage()), u"Unknown error 0x80991234");
        EXPECT_TRUE(error.GUID() == GUID_NULL);
    }
    EXPECT_EQ(std::u16string(_com_error(RPC_E_CHANGED_MODE).ErrorMessage()),
              u"Cannot change thread mode after it is set.");
}

TEST(Guids, FormatAsRegistryText)
{
    WCHAR text[39];
    EXPECT_EQ(StringFromGUID2(IID_IConnectionPointContainer, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{B196B284-BAB4-101A-B69C-00AA00341D07}");
    EXPECT_EQ(StringFromGUID2(kSinkIid, text, 38), 0);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
}

} // namespace
