// Configure Port and Delete Port through the UI, in this process, against the scriptable monitor.
#include "ui_testing.h"

using namespace uitest;

namespace {

PortConfigData storedConfig()
{
    PortConfigData config{};
    std::u16string name = u"P1", server = u"10.1.2.3", queue = u"q9";
    name.copy(config.sztPortName, name.size());
    server.copy(config.sztServerName, server.size());
    queue.copy(config.sztQueue, queue.size());
    config.dwProtocol = PROTOCOL_RAWTCP_TYPE;
    config.dwPortNumber = 9101;
    config.dwRetryInfinity = 0;
    config.dwRetryCount = 7;
    config.dwRetryInterval = 20;
    config.dwLprRetryCount = 3;
    config.dwLprRetryTimeout = 11;
    config.dwWSAEventTimeout = 12;
    config.dwLprSendInterval = 13;
    config.dwLprRecvCount = 14;
    config.dwLprRecvInterval = 15;
    config.dwLprCheckJobStatus = 0;
    return config;
}

class ConfigurePort : public UiHost {
protected:
    void SetUp() override
    {
        UiHost::SetUp();
        addFakePort(u"P1");
        store(storedConfig());
        startWith(u"UIFAKEMON.DLL");
    }
    // What the fake monitor's GetConfigInfo answers.
    void store(const PortConfigData& config)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, u"Config", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&config), sizeof config),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    BOOL configure(const char* script, LPCWSTR port = u"P1")
    {
        palSetDialogScript(script);
        SetLastError(0);
        return ConfigurePortUI(nullptr, GetDesktopWindow(), port);
    }
};

TEST_F(ConfigurePort, OnlyTheFiveValuesAreRewritten)
{
    ASSERT_TRUE(configure("type 1040 9200\ncheck 1045\nok\n"));
    auto calls = callsOf("ConfigPort");
    ASSERT_EQ(calls.size(), 1u);
    PortConfigData expected = storedConfig();
    expected.dwPortNumber = 9200;
    expected.dwRetryInfinity = 1;
    std::vector<BYTE> bytes(reinterpret_cast<BYTE*>(&expected), reinterpret_cast<BYTE*>(&expected) + sizeof expected);
    EXPECT_EQ(calls[0], bytes) << "what GetConfigInfo gave, with the dialog's five values";
    // The GetConfigInfo input was the zeroed record with the port name.
    auto asks = callsOf("GetConfigInfo");
    ASSERT_EQ(asks.size(), 1u);
    EXPECT_EQ(textAt(asks[0], 0, 64), u"P1");
    EXPECT_EQ(std::count(asks[0].begin() + 4, asks[0].end(), 0), 504);
}

TEST_F(ConfigurePort, DialogShowsTheStoredValues)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        WCHAR text[16];
        GetDlgItemTextW(dialog, IDC_PORTNUMBER, text, 16);
        EXPECT_EQ(std::u16string(text), u"9101");
        GetDlgItemTextW(dialog, IDC_RETRYINTERVAL, text, 16);
        EXPECT_EQ(std::u16string(text), u"20");
        GetDlgItemTextW(dialog, IDC_RETRYCOUNT, text, 16);
        EXPECT_EQ(std::u16string(text), u"7");
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_BYTECOUNT))) << "RAW hides the byte count";
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_RETRYCOUNT)));
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PORTNUMBER, EM_GETLIMITTEXT, 0, 0), 6);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_RETRYINTERVAL, EM_GETLIMITTEXT, 0, 0), 2);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_RETRYCOUNT, EM_GETLIMITTEXT, 0, 0), 2);
        int low = -1, high = -1;
        SendDlgItemMessageW(dialog, IDC_RETRYINTERVAL_SPIN, UDM_GETRANGE32, WPARAM(&low), LPARAM(&high));
        EXPECT_EQ(low, 2);
        EXPECT_EQ(high, 60);
        SendDlgItemMessageW(dialog, IDC_RETRYCOUNT_SPIN, UDM_GETRANGE32, WPARAM(&low), LPARAM(&high));
        EXPECT_EQ(low, 0);
        EXPECT_EQ(high, 10);
        palDialogCommand(dialog, "check 1045");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_RETRYINTERVAL)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_RETRYCOUNT)));
        palDialogCommand(dialog, "uncheck 1045");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_RETRYINTERVAL)));
        return palDialogCommand(dialog, "cancel");
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_FALSE(ConfigurePortUI(nullptr, GetDesktopWindow(), u"P1"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_TRUE(callsOf("ConfigPort").empty());
}

TEST_F(ConfigurePort, PortNumberAndRetryChecks)
{
    ASSERT_TRUE(configure("answer ok\n"
                          "type 1040\nok\n"          // 230
                          "type 1040 abc\nok\n"      // 232
                          "type 1040 0\nok\n"        // 232
                          "type 1040 65536\nok\n"    // 232
                          "type 1040 9100\n"
                          "type 1048\nok\n"          // 240
                          "type 1048 5\n"
                          "type 1049\nok\n"          // 250
                          "type 1049 2\n"
                          "type 1048 x\nok\n"        // 242: the typed text is not a number
                          "type 1048 70\nok\n"       // 244
                          "type 1048 1\nok\n"        // 244
                          "type 1048 9\n"
                          "type 1049 y\nok\n"        // 252
                          "type 1049 11\nok\n"       // 254
                          "type 1049 10\nok\n"));
    EXPECT_EQ(shownIds(), (std::vector<UINT>{230, 232, 232, 232, 240, 250, 242, 244, 244, 252, 254}));
    for (const Shown& shown : shownMessages())
        EXPECT_EQ(shown.captionId, 21u);
    auto record = callsOf("ConfigPort").at(0);
    EXPECT_EQ(dwordAt(record, 388), 9100u);
    EXPECT_EQ(dwordAt(record, 476), 9u);
    EXPECT_EQ(dwordAt(record, 472), 10u);
}

TEST_F(ConfigurePort, AnLprPortKeepsTheHiddenPortNumberItCannotShow)
{
    for (DWORD stored : {DWORD(0), DWORD(65536), DWORD(0x80000000)}) {
        palClearMessageBoxes();
        PortConfigData config = storedConfig();
        config.dwProtocol = PROTOCOL_LPR_TYPE;
        config.dwPortNumber = stored;
        store(config);
        EXPECT_TRUE(configure("type 1049 3\nok\n")) << stored;
        EXPECT_TRUE(shownMessages().empty()) << stored;
        auto calls = callsOf("ConfigPort");
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(dwordAt(calls.back(), 388), stored);
        EXPECT_EQ(dwordAt(calls.back(), 472), 3u);
    }
}

TEST_F(ConfigurePort, InfiniteRetryReplacesBadValuesWithoutAMessage)
{
    ASSERT_TRUE(configure("type 1048 70\ntype 1049 zz\ncheck 1045\nok\n"));
    EXPECT_TRUE(shownMessages().empty());
    auto record = callsOf("ConfigPort").at(0);
    EXPECT_EQ(dwordAt(record, 468), 1u);
    EXPECT_EQ(dwordAt(record, 476), 5u) << "interval 70 stored as 5";
    EXPECT_EQ(dwordAt(record, 472), 5u);
}

TEST_F(ConfigurePort, ReadFailuresAndMissingPorts)
{
    setStatus(u"GetConfigInfo", ERROR_BUSY);
    EXPECT_FALSE(configure("ok\n"));
    setStatus(u"GetConfigInfo", 1287);
    EXPECT_FALSE(configure("ok\n"));
    setStatus(u"GetConfigInfo", 0);
    EXPECT_FALSE(configure("ok\n", u"NOPE")) << "the spooler has no such port: no Xcv object, no message";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_EQ(shownIds(), (std::vector<UINT>{321, 310}));
    EXPECT_TRUE(callsOf("ConfigPort").empty());
    palClearMessageBoxes();
    std::u16string longName(64, u'x');
    EXPECT_FALSE(configure("ok\n", longName.c_str()));
    EXPECT_FALSE(ConfigurePortUI(nullptr, nullptr, u"P1"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_TRUE(shownMessages().empty());
}

TEST_F(ConfigurePort, MonitorStatusesBecomeMessages)
{
    struct Case {
        DWORD status;
        UINT message;
    } cases[] = {{ERROR_BAD_PATHNAME, 212}, {ERROR_BUSY, 321}, {ERROR_ACCESS_DENIED, 320}, {1287, 329}};
    for (const Case& c : cases) {
        palClearMessageBoxes();
        setStatus(u"ConfigPort", c.status);
        EXPECT_FALSE(configure("ok\n"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
        EXPECT_EQ(shownIds(), std::vector<UINT>{c.message});
    }
}

class DeletePort : public UiHost {
protected:
    void SetUp() override
    {
        UiHost::SetUp();
        addFakePort(u"P1");
        startWith(u"UIFAKEMON.DLL");
    }
};

TEST_F(DeletePort, SendsTheVersionOneRecord)
{
    ASSERT_TRUE(DeletePortUI(nullptr, GetDesktopWindow(), u"P1"));
    auto calls = callsOf("DeletePort");
    ASSERT_EQ(calls.size(), 1u);
    std::vector<BYTE> expected(236, 0);
    expected[0] = 'P';
    expected[2] = '1';
    expected[228] = 1; // dwVersion
    EXPECT_EQ(calls[0], expected);
    EXPECT_TRUE(shownMessages().empty());
}

TEST_F(DeletePort, StatusesBecomeMessagesOnlyWithAWindow)
{
    struct Case {
        DWORD status;
        UINT message;
    } cases[] = {{ERROR_BUSY, 331}, {ERROR_ACCESS_DENIED, 330}, {1287, 339}};
    for (const Case& c : cases) {
        palClearMessageBoxes();
        setStatus(u"DeletePort", c.status);
        SetLastError(0);
        EXPECT_FALSE(DeletePortUI(nullptr, GetDesktopWindow(), u"P1"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
        auto shown = shownMessages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], (Shown{c.message, 22, MB_ICONERROR}));
        palClearMessageBoxes();
        SetLastError(0);
        EXPECT_FALSE(DeletePortUI(nullptr, nullptr, u"P1"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
        EXPECT_TRUE(shownMessages().empty()) << "no window, no box";
    }
    EXPECT_FALSE(DeletePortUI(nullptr, GetDesktopWindow(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
}

} // namespace
