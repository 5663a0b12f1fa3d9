// The UI against the real monitor inside the spooler host.
#include "ui_testing.h"

using namespace uitest;

namespace {

class RealMonitor : public UiHost {
protected:
    void SetUp() override
    {
        UiHost::SetUp();
        startWith(u"JTRKMON2.DLL");
    }
    BOOL add(const char* script)
    {
        palSetDialogScript(script);
        return AddPortUI(nullptr, GetDesktopWindow(), kMonitor.c_str(), nullptr);
    }
};

TEST_F(RealMonitor, PortThatVanishesWhileTheDialogIsOpenIsNotConfigured)
{
    ASSERT_TRUE(add("type 1033 127.0.0.9\nok\n"));
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        spoolertest::XcvHandle xcv(u",XcvMonitor " + kMonitor);
        DELETE_PORT_DATA_1 data{};
        std::u16string name = u"KPX2_127.0.0.9";
        name.copy(data.psztPortName, name.size());
        data.dwVersion = 1;
        std::vector<BYTE> input(reinterpret_cast<BYTE*>(&data), reinterpret_cast<BYTE*>(&data) + sizeof data), none;
        EXPECT_EQ(xcv.call(u"DeletePort", input, none), 0u);
        return palDialogCommand(dialog, "ok");
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_FALSE(ConfigurePortUI(nullptr, GetDesktopWindow(), u"KPX2_127.0.0.9"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    EXPECT_EQ(shownIds(), std::vector<UINT>{322});
}

TEST_F(RealMonitor, AddedPortIsUsableAndItsSettingsComeBack)
{
    ASSERT_TRUE(add("select 1031 1\ntype 1033 127.0.0.11\ntype 1036 queue1\nclick 1042\ncheck 1044\nok\nok\n"));
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_BYTECOUNT, BM_GETCHECK, 0, 0), BST_CHECKED);
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_PORTNUMBER))) << "LPR hides the port number";
        return palDialogCommand(dialog, "cancel");
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_FALSE(ConfigurePortUI(nullptr, GetDesktopWindow(), u"KPX2_127.0.0.11"));
    WCHAR queue[40] = {};
    DWORD size = sizeof queue;
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, (kMonitorKey + u"\\Ports\\KPX2_127.0.0.11").c_str(), u"Queue",
                           RRF_RT_REG_SZ, nullptr, queue, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(queue), u"queue1");
}

} // namespace
