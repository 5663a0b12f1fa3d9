// The monitor's multibyte texts, in code page 932: the server address and, of LPR, the file names,
// a command that announces a file and the control file with the document name cut between
// characters.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "lpr.h"
#include "lpr_control_file.h"
#include "spooler_double.h"

using namespace montest;

namespace {

const WCHAR* g_userName = W("alice");

// As GetComputerNameW and GetUserNameW fill their buffers.
BOOL copyName(const WCHAR* name, LPWSTR buffer, LPDWORD size)
{
    DWORD chars = DWORD(std::char_traits<WCHAR>::length(name));
    if (chars + 1 > *size) {
        *size = chars + 1;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, name, (chars + 1) * sizeof(WCHAR));
    *size = chars;
    return TRUE;
}

BOOL WINAPI computerName(LPWSTR buffer, LPDWORD size)
{
    return copyName(W("PC1"), buffer, size);
}

BOOL WINAPI userName(LPWSTR buffer, LPDWORD size)
{
    return copyName(g_userName, buffer, size);
}

class MonTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The spooler double puts every call of g_MonSys back when it goes, these two included.
        g_MonSys.pfnGetComputerNameW = computerName;
        g_MonSys.pfnGetUserNameW = userName;
        spooler.addPrinter(W("Printer"));
        WCHAR printer[] = W("Printer");
        ASSERT_TRUE(g_MonSys.pfnOpenPrinterW(printer, &port.hPrinter, nullptr));
    }

    void TearDown() override
    {
        g_MonSys.pfnClosePrinter(port.hPrinter);
        g_userName = W("alice");
    }

    SpoolerDouble spooler;
    PortEntry port = {};
};

TEST_F(MonTexts, ServerNameMustBeADottedAddress)
{
    struct Case {
        WString name;
        bool ok;
        DWORD address;
    } cases[] = {
        {W("127.0.0.5"), true, 0x0500007F},
        {W("10.1.2.3"), true, 0x0302010A},
        {W("printer.local"), false, 0},
        {W(" 127.0.0.5"), false, 0},
        {W("\uFF11\uFF12\uFF17.0.0.1"), false, 0},  // full-width digits
        {W(""), false, 0},
        {WString(2051, W('1')), false, 0},
    };
    for (const Case& c : cases) {
        struct sockaddr_in address = {};
        EXPECT_EQ(bool(GetServerAddress(c.name.c_str(), &address)), c.ok);
        if (c.ok) {
            EXPECT_EQ(address.sin_addr.s_addr, c.address);
            EXPECT_EQ(address.sin_family, AF_INET);
        }
    }
}

TEST_F(MonTexts, DocumentNamesAreCutAtCharacterBoundariesInCp932)
{
    WString kanji(60, W('\u5370'));  // 0x88 0xF3 each
    std::string kanjiBytes;
    for (int i = 0; i < 49; i++)
        kanjiBytes += "\x88\xF3";
    struct Case {
        WString document;
        std::string expected;
    } cases[] = {
        {kanji, kanjiBytes},  // 98 bytes: the 50th character would make 100
        {W("a") + kanji, "a" + kanjiBytes},  // 99 bytes
        {W("ab") + kanji, "ab" + kanjiBytes.substr(0, 96)},  // 98 bytes
        {W("line\nfeed\ttab\x7F"), "line feed tab "},
        {W("\u30A2\U0001F600"), "\x83\x41??"},  // a character without a code becomes '?'
    };
    g_userName = W("user\nname-longer-than-twenty");
    DWORD job = 1;
    for (const Case& c : cases) {
        spooler.setJob(job, {0, 10, c.document});
        port.dwJobId = job;
        ASSERT_TRUE(PrepareControlFile(&port));
        std::string names = "00" + std::to_string(job) + "PC1";
        EXPECT_EQ(std::string(port.szCtrlFile, port.dwCtrlFileLen), controlFile(c.expected, "user name-longer-tha", names));
        job++;
    }
}

TEST_F(MonTexts, FileNamesCarryTheJobIdModuloAThousand)
{
    WCHAR name[LPR_NAME_CHARS];
    ASSERT_TRUE(LprFileName('c', 1234, W("PC1"), name, _countof(name)));
    EXPECT_EQ(WString(name), W("cfA234PC1"));
    ASSERT_TRUE(LprFileName('d', 7, W("HOST-NAME-15CHR"), name, _countof(name)));
    EXPECT_EQ(WString(name), W("dfA007HOST-NAME-15CHR"));
    LprCommand command;
    port.dwJobId = 5;
    ASSERT_TRUE(MakeDataFileCommand(0x123456789ULL, nullptr, &port, W("PC1"), &command));
    EXPECT_EQ(std::string(command.bytes, command.cb), "\3" "4886718345 dfA005PC1\n");
}

} // namespace
