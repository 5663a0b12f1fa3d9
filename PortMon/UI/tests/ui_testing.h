// Helpers of the UI's tests: the spooler host with a monitor registered as
// "TALLY-DESK Output Beacon Port2" (the real JTRKMON2 or the scriptable UIFAKEMON), and what the UI
// showed.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "jtrkmnui.h"
#include "resource.h"
#include "test_spooler_host.h"

namespace uitest {

const std::u16string kMonitor = u"TALLY-DESK Output Beacon Port2";
const std::u16string kMonitorKey = spoolertest::monitorKey(kMonitor);

// A message box as the UI showed it: the message id whose text it carried, caption id and icon.
struct Shown {
    UINT id;
    UINT captionId;
    UINT icon;
    bool operator==(const Shown& other) const
    {
        return id == other.id && captionId == other.captionId && icon == other.icon;
    }
};

inline std::u16string uiString(UINT id)
{
    WCHAR text[300] = {};
    LoadStringW(UiModule(), id, text, 300);
    return text;
}

// The ids of the message boxes shown since the last clear (0 for a text of no known id).
inline std::vector<Shown> shownMessages()
{
    static const UINT ids[] = {200, 201, 202, 210, 211, 212, 213, 220, 221, 230, 232, 240, 242, 244, 250,
                               252, 254, 300, 301, 310, 320, 321, 322, 329, 330, 331, 339};
    std::vector<Shown> shown;
    for (UINT i = 0; i < palMessageBoxCount(); ++i) {
        PAL_MESSAGE_BOX_RECORD box{};
        palMessageBoxRecord(i, &box);
        Shown one{0, 0, box.type & 0xF0};
        for (UINT id : ids)
            if (uiString(id) == box.text)
                one.id = id;
        for (UINT caption : {20u, 21u, 22u})
            if (uiString(caption) == box.caption)
                one.captionId = caption;
        shown.push_back(one);
    }
    return shown;
}

inline std::vector<UINT> shownIds()
{
    std::vector<UINT> ids;
    for (const Shown& shown : shownMessages())
        ids.push_back(shown.id);
    return ids;
}

// The journal of UIFAKEMON: one "Method HEX" line per Xcv call.
inline std::vector<std::string> journal()
{
    std::vector<std::string> lines;
    WCHAR text[32768] = {};
    DWORD size = sizeof text - 2;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str(), u"Journal", RRF_RT_REG_SZ, nullptr, text, &size) !=
        ERROR_SUCCESS)
        return lines;
    std::string line;
    for (const WCHAR* p = text; *p; ++p) {
        if (*p == u'\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += char(*p);
        }
    }
    return lines;
}

// The input bytes of the journal's calls of one method.
inline std::vector<std::vector<BYTE>> callsOf(const std::string& method)
{
    std::vector<std::vector<BYTE>> calls;
    for (const std::string& line : journal()) {
        if (line.compare(0, method.size() + 1, method + " ") != 0)
            continue;
        std::vector<BYTE> bytes;
        for (size_t i = method.size() + 1; i + 1 < line.size(); i += 2)
            bytes.push_back(BYTE(std::stoi(line.substr(i, 2), nullptr, 16)));
        calls.push_back(bytes);
    }
    return calls;
}

inline DWORD dwordAt(const std::vector<BYTE>& bytes, size_t offset)
{
    return DWORD(bytes[offset]) | DWORD(bytes[offset + 1]) << 8 | DWORD(bytes[offset + 2]) << 16 |
           DWORD(bytes[offset + 3]) << 24;
}

inline std::u16string textAt(const std::vector<BYTE>& bytes, size_t offset, size_t chars)
{
    std::u16string text;
    for (size_t i = 0; i < chars; ++i) {
        char16_t c = char16_t(bytes[offset + 2 * i] | bytes[offset + 2 * i + 1] << 8);
        if (!c)
            break;
        text += c;
    }
    return text;
}

// The spooler host in a fresh platform root, with the real monitor or the fake one.
class UiHost : public ::testing::Test {
protected:
    void startWith(const std::u16string& driver, const std::vector<std::string>& options = {})
    {
        spoolertest::setStringValue(kMonitorKey, u"Driver", driver);
        ASSERT_TRUE(started = host.start(options));
    }
    void SetUp() override
    {
        palSetDialogTerminal(FALSE);
        palClearMessageBoxes();
    }
    void TearDown() override
    {
        palSetDialogScript(nullptr);
        palSetDialogStepper(nullptr, nullptr);
        if (started) {
            EXPECT_EQ(host.stop(), 0);
        }
    }
    void addFakePort(const std::u16string& port) { spoolertest::setDwordValue(kMonitorKey + u"\\Ports\\" + port, u"Unused", 0); }
    void setStatus(const std::u16string& method, DWORD status)
    {
        spoolertest::setDwordValue(kMonitorKey, (u"Status." + method).c_str(), status);
    }

    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
    bool started = false;
};

} // namespace uitest
