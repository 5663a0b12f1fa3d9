// Add Port through the UI, in this process, against the scriptable monitor.
#include "ui_testing.h"

using namespace uitest;

namespace {

class AddPort : public UiHost {
protected:
    void SetUp() override
    {
        UiHost::SetUp();
        startWith(u"UIFAKEMON.DLL");
    }
    BOOL add(const char* script, PWSTR* out = nullptr)
    {
        palSetDialogScript(script);
        SetLastError(0);
        return AddPortUI(nullptr, GetDesktopWindow(), kMonitor.c_str(), out);
    }
};

TEST_F(AddPort, TheRecordCarriesTheDialogValuesAndTheDefaults)
{
    PWSTR out = reinterpret_cast<PWSTR>(0x1);
    ASSERT_TRUE(add("type 1033 10.0.0.5\nok\n", &out));
    EXPECT_EQ(out, nullptr) << "the out name is cleared, never set";
    EXPECT_TRUE(shownMessages().empty());
    auto adds = callsOf("AddPort");
    ASSERT_EQ(adds.size(), 1u);
    const std::vector<BYTE>& record = adds[0];
    ASSERT_EQ(record.size(), 508u);
    EXPECT_EQ(textAt(record, 0, 64), u"KPX2_10.0.0.5");
    EXPECT_EQ(textAt(record, 128, 64), u"10.0.0.5");
    EXPECT_EQ(textAt(record, 256, 64), u"") << "no original port";
    // Protocol 1, PortNumber 9100 (0x238C), Queue "lp", then the settings, little-endian.
    EXPECT_EQ(std::vector<BYTE>(record.begin() + 384, record.begin() + 398),
              (std::vector<BYTE>{1, 0, 0, 0, 0x8C, 0x23, 0, 0, 'l', 0, 'p', 0, 0, 0}));
    const BYTE settings[52] = {
        0,    0,    0, 0, // the end of the queue and the padding
        0,    0,    0, 0, // TransferMode
        0,    0,    0, 0, // Banner
        1,    0,    0, 0, // RetryInfinity
        5,    0,    0, 0, // RetryCount
        5,    0,    0, 0, // RetryInterval
        0,    0,    0, 0, // LprRetryCount
        10,   0,    0, 0, // LprRetryTimeout
        0,    0,    0, 0, // WSAEventTimeout
        0,    0,    0, 0, // LprSendInterval
        0x30, 0x75, 0, 0, // LprRecvCount 30000
        10,   0,    0, 0, // LprRecvInterval
        1,    0,    0, 0, // LprCheckJobStatus
    };
    EXPECT_EQ(std::vector<BYTE>(record.begin() + 456, record.end()), (std::vector<BYTE>(settings, settings + 52)))
        << "the queue's padding, then TransferMode to LprCheckJobStatus";
}

TEST_F(AddPort, ValidationOrderKeepsTheDialogOpen)
{
    // Each OK that fails shows its message and the dialog stays; the script goes on.
    const char* script = "answer ok\n"
                         "ok\n"                    // 200: no address
                         "type 1033 10.0.0.1\n"    // the name follows: KPX2_10.0.0.1
                         "type 1040\n"
                         "ok\n"                    // 210: no name
                         "type 1040 a\\b\n"
                         "ok\n"                    // 212: '\' in the name, before PortExist
                         "type 1040 \xE3\x80\x80 \n"
                         "ok\n"                    // 210: only blanks (U+3000, U+0020)
                         "type 1033 192.168.1\n"   // name KPX2_192.168.1
                         "ok\n"                    // 202: three parts
                         "type 1033 1.2.3.4.5\n"
                         "ok\n"                    // 202: five parts
                         "type 1033 \\1.2.3\n"
                         "ok\n"                    // 202: '\' in the address
                         "type 1033 \xE3\x80\x80\n"
                         "ok\n"                    // 200: only blanks
                         "type 1033 10.0.0.9\n"
                         "type 1040 TAKEN\n"
                         "ok\n"                    // 213: PortExist says it exists
                         "type 1040 FREE\n"
                         "ok\n";
    addFakePort(u"taken");
    ASSERT_TRUE(add(script));
    EXPECT_EQ(shownIds(), (std::vector<UINT>{200, 210, 212, 210, 202, 202, 202, 200, 213}));
    for (const Shown& shown : shownMessages()) {
        EXPECT_EQ(shown.captionId, 20u);
        EXPECT_EQ(shown.icon, UINT(MB_ICONWARNING));
    }
    // PortExist was asked only for the two names that passed every earlier test.
    std::vector<std::string> expected = {"PortExist", "PortExist", "AddPort"};
    std::vector<std::string> methods;
    for (const std::string& line : journal())
        methods.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(methods, expected);
    EXPECT_EQ(textAt(callsOf("AddPort")[0], 0, 64), u"FREE");
}

TEST_F(AddPort, QueueIsAlwaysTestedAndRefusesBackslashAsEmpty)
{
    ASSERT_TRUE(add("select 1031 1\n"
                    "type 1033 10.0.0.5\n"
                    "type 1036\n"
                    "ok\n"
                    "type 1036 a\\b\n"
                    "ok\n"
                    "type 1036 q1\n"
                    "ok\n"));
    EXPECT_EQ(shownIds(), (std::vector<UINT>{220, 220}));
    auto record = callsOf("AddPort").at(0);
    EXPECT_EQ(dwordAt(record, 384), 2u);
    EXPECT_EQ(textAt(record, 392, 33), u"q1");
}

struct Probe {
    std::vector<std::u16string> names;
    std::vector<bool> queueShown;
    std::vector<DWORD> limits;
};

TEST_F(AddPort, AddressFillsTheNameAndTheProtocolSwitchResets)
{
    static Probe probe;
    probe = Probe{};
    auto stepper = [](HWND dialog, UINT id, int, void*) -> BOOL {
        if (id == IDD_CONFIGPORT)
            return palDialogCommand(dialog, "ok");
        auto name = [&] {
            WCHAR text[64];
            GetDlgItemTextW(dialog, IDC_PORTNAME, text, 64);
            return std::u16string(text);
        };
        for (int control : {IDC_ADDRESS, IDC_PORTNAME, IDC_QUEUE})
            probe.limits.push_back(DWORD(SendDlgItemMessageW(dialog, control, EM_GETLIMITTEXT, 0, 0)));
        probe.queueShown.push_back(IsWindowVisible(GetDlgItem(dialog, IDC_QUEUE)) != FALSE);
        palDialogCommand(dialog, "type 1033 10.0.0.5");
        probe.names.push_back(name());
        palDialogCommand(dialog, "type 1036 other");
        palDialogCommand(dialog, "select 1031 1");
        probe.names.push_back(name());
        probe.queueShown.push_back(IsWindowVisible(GetDlgItem(dialog, IDC_QUEUE_LABEL)) != FALSE);
        WCHAR queue[40], address[40];
        GetDlgItemTextW(dialog, IDC_QUEUE, queue, 40);
        GetDlgItemTextW(dialog, IDC_ADDRESS, address, 40);
        EXPECT_EQ(std::u16string(queue), u"lp");
        EXPECT_EQ(std::u16string(address), u"");
        palDialogCommand(dialog, "type 1033 1234567890123456789");
        WCHAR typed[40];
        GetDlgItemTextW(dialog, IDC_ADDRESS, typed, 40);
        EXPECT_EQ(std::u16string(typed), u"123456789012345") << "typing stops at 15";
        return palDialogCommand(dialog, "cancel");
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_FALSE(AddPortUI(nullptr, GetDesktopWindow(), kMonitor.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_EQ(probe.names, (std::vector<std::u16string>{u"KPX2_10.0.0.5", u""}));
    EXPECT_EQ(probe.queueShown, (std::vector<bool>{false, true}));
    EXPECT_EQ(probe.limits, (std::vector<DWORD>{15, 63, 32}));
    EXPECT_TRUE(callsOf("AddPort").empty());
}

TEST_F(AddPort, ConfigureDialogValuesTravelWithTheAdd)
{
    ASSERT_TRUE(add("select 1031 1\n"
                    "type 1033 10.0.0.7\n"
                    "click 1042\n"
                    "check 1044\n"
                    "uncheck 1045\n"
                    "type 1048 30\n"
                    "type 1049 3\n"
                    "ok\n"
                    "ok\n"));
    auto record = callsOf("AddPort").at(0);
    EXPECT_EQ(dwordAt(record, 384), 2u);
    EXPECT_EQ(dwordAt(record, 460), 1u) << "TransferMode";
    EXPECT_EQ(dwordAt(record, 468), 0u) << "RetryInfinity";
    EXPECT_EQ(dwordAt(record, 472), 3u) << "RetryCount";
    EXPECT_EQ(dwordAt(record, 476), 30u) << "RetryInterval";
}

TEST_F(AddPort, ProtocolSwitchAfterConfigureRestoresTheRetryDefaults)
{
    ASSERT_TRUE(add("type 1033 10.0.0.7\n"
                    "click 1042\n"
                    "uncheck 1045\n"
                    "type 1048 30\n"
                    "ok\n"
                    "select 1031 0\n"
                    "type 1033 10.0.0.8\n"
                    "ok\n"));
    auto record = callsOf("AddPort").at(0);
    EXPECT_EQ(dwordAt(record, 468), 1u);
    EXPECT_EQ(dwordAt(record, 476), 5u);
}

TEST_F(AddPort, MonitorStatusesBecomeMessages)
{
    struct Case {
        DWORD status;
        UINT message;
    } cases[] = {{ERROR_BAD_PATHNAME, 212}, {ERROR_ACCESS_DENIED, 301}, {1287, 300}, {ERROR_INVALID_DATA, 300}};
    for (const Case& c : cases) {
        palClearMessageBoxes();
        setStatus(u"AddPort", c.status);
        EXPECT_FALSE(add("type 1033 10.0.0.5\nok\n"));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
        auto shown = shownMessages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].id, c.message);
        EXPECT_EQ(shown[0].captionId, 20u);
        EXPECT_EQ(shown[0].icon, c.message == 212 ? UINT(MB_ICONWARNING) : UINT(MB_ICONERROR));
    }
}

TEST_F(AddPort, CancelAndDialogsThatCannotBeShownWriteNothing)
{
    EXPECT_FALSE(add("type 1033 10.0.0.5\ncancel\n"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_FALSE(add("type 1033 10.0.0.5\n")) << "the script ends with the dialog open";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    palSetDialogScript(nullptr);
    SetLastError(0);
    EXPECT_FALSE(AddPortUI(nullptr, GetDesktopWindow(), kMonitor.c_str(), nullptr)) << "no input: the dialog gives -1";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    int notAWindow = 0;
    palSetDialogScript("type 1033 10.0.0.5\nok\n");
    EXPECT_FALSE(AddPortUI(nullptr, &notAWindow, kMonitor.c_str(), nullptr)) << "an invalid parent: the dialog gives 0";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_FALSE(AddPortUI(nullptr, nullptr, kMonitor.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_FALSE(AddPortUI(nullptr, GetDesktopWindow(), nullptr, nullptr));
    EXPECT_TRUE(callsOf("AddPort").empty());
    EXPECT_TRUE(shownMessages().empty());
}

TEST_F(AddPort, UnknownMonitorFailsWithoutAMessage)
{
    palSetDialogScript("type 1033 10.0.0.5\nok\n");
    EXPECT_FALSE(AddPortUI(nullptr, GetDesktopWindow(), u"No Such Monitor", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_TRUE(shownMessages().empty());
}

} // namespace
