// The print-manager binding against the stand-in HBPHSTD64. The binding keeps its module for the
// life of the process, as each case of this program runs in a process of its own under CTest.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "Gate.h"
#include "PrintMgr.h"
#include "StandinTesting.h"
#include "TempRoot.h"

namespace {

using standin::jsonText;
using standin::jsonValue;

const char kLevel2[] = "[PrintManager]\nLevel=2\n";

std::string journalOf(const std::string& folder)
{
    return folder + "/journal.log";
}

bool libraryLoaded()
{
    return GetModuleHandleA("HBPHSTD64") != nullptr;
}

void setComponentPath(const std::string& value, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, PRINTMGR_REG_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, PRINTMGR_REG_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()), size);
    RegCloseKey(key);
}

TEST(PrintMgrBinding, NotInstalledGivesMinusTwoThenLoadsOnceInstalled)
{
    testsupport::TempRoot root;
    EXPECT_FALSE(IsPrintMgrInstalled());
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 7), PRINTMGR_NOT_AVAILABLE);
    EXPECT_FALSE(libraryLoaded());

    std::string folder = root.file("drive_c/Harbor");
    std::filesystem::create_directories(folder);
    setComponentPath("C:\\Harbor", 10);
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 7), PRINTMGR_NOT_AVAILABLE) << "a folder without the library";
    EXPECT_FALSE(libraryLoaded());

    standin::installPrintManager(kLevel2);
    EXPECT_TRUE(IsPrintMgrInstalled());
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 7), 0);
    EXPECT_TRUE(libraryLoaded());
    auto lines = standin::journalLines(journalOf(folder), "PrStatusNoticeEndD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonText(lines[0], "printer"), "Office");
    EXPECT_EQ(jsonValue(lines[0], "job"), "7");
    EXPECT_TRUE(standin::hexMatches(jsonText(lines[0], "block"), "0000000000000000 ???????????????? 07000000"));
}

TEST(PrintMgrBinding, AComponentPathTooLongForTheLibraryPathIsNotInstalled)
{
    testsupport::TempRoot root;
    // 250 characters: the folder fits 260 bytes, the library's path does not.
    std::string name(247, 'h');
    standin::installPrintManager(kLevel2, false, name);
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 1), PRINTMGR_NOT_AVAILABLE);
    EXPECT_FALSE(libraryLoaded());

    // A value that fills all 260 bytes without a terminator.
    std::string full = "C:\\" + std::string(257, 'h');
    setComponentPath(full, 260);
    char path[PRINTMGR_PATH_BYTES];
    EXPECT_FALSE(GetPrintMgrComponentPath(path));
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 1), PRINTMGR_NOT_AVAILABLE);
}

TEST(PrintMgrBinding, AValueWithoutTerminatorIsReadToItsLength)
{
    testsupport::TempRoot root;
    standin::installPrintManager(kLevel2);
    setComponentPath("C:\\Harbor", 9);
    char path[PRINTMGR_PATH_BYTES];
    memset(path, 'x', sizeof path);
    ASSERT_TRUE(GetPrintMgrComponentPath(path));
    EXPECT_STREQ(path, "C:\\Harbor");
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 2), 0);
}

// Sends status 0x4400 with two extended values {7, 9} and returns the journal line.
std::string sendWithTwoValues(const std::string& folder)
{
    DWORD values[2] = {7, 9};
    EXPECT_EQ(PrStatusSendExD(W("Office"), 3, 0x4400, 2, values, sizeof values, nullptr, nullptr), 0);
    auto lines = standin::journalLines(journalOf(folder));
    return lines.empty() ? "" : lines.back();
}

TEST(PrintMgrBinding, LevelTwoTakesTheBlockAsItIs)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(kLevel2);
    std::string line = sendWithTwoValues(folder);
    EXPECT_EQ(jsonText(line, "entry"), "PrStatusSendExD");
    EXPECT_EQ(jsonValue(line, "status"), "17408");
    EXPECT_EQ(jsonValue(line, "extCount"), "2");
    EXPECT_EQ(jsonValue(line, "ext"), "[7,9]");
}

TEST(PrintMgrBinding, LevelOneSendsTheNewStatusAs512)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=1\n");
    std::string line = sendWithTwoValues(folder);
    EXPECT_EQ(jsonValue(line, "status"), "512");
    EXPECT_EQ(jsonValue(line, "ext"), "[7,9]");
}

TEST(PrintMgrBinding, LevelZeroDropsTheFirstOfTwoValues)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=0\n");
    std::string line = sendWithTwoValues(folder);
    EXPECT_EQ(jsonValue(line, "status"), "512");
    EXPECT_EQ(jsonValue(line, "extCount"), "1");
    EXPECT_EQ(jsonValue(line, "extSize"), "4");
    EXPECT_EQ(jsonValue(line, "ext"), "[9]");
}

TEST(PrintMgrBinding, WithoutTheExEntriesStatusesGoThroughThePlainEntry)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=2\n", true);
    PrNoticeInfo notice = {1003, 0, 0, const_cast<LPSTR>("Sender")};
    EXPECT_EQ(PrStatusSendExD(W("Office"), 3, 0x4400, 0, nullptr, 0, &notice, "text"), 0);
    auto lines = standin::journalLines(journalOf(folder), "PrStatusSendD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonValue(lines[0], "status"), "512");
    EXPECT_EQ(jsonText(lines[0], "text"), "text");
    EXPECT_EQ(jsonValue(lines[0], "notice"), "{\"msgNo\":1003,\"msgType\":0,\"sender\":\"Sender\"}");
    // 0: two zero DWORDs; 8: printer; 16: job; 20: status; 24: notice; 32: text; 40: pass-through 0.
    EXPECT_TRUE(standin::hexMatches(jsonText(lines[0], "block"),
                                    "0000000000000000 ???????????????? 03000000 00020000"
                                    "???????????????? ???????????????? 0000000000000000"));
}

TEST(PrintMgrBinding, TheLibrarysOwnMinusTwoIsNoFallback)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=2\n[PrStatusSendExD]\nResult=-2\n");
    EXPECT_EQ(PrStatusSendExD(W("Office"), 3, 0x400, 0, nullptr, 0, nullptr, nullptr), -2);
    EXPECT_TRUE(standin::journalLines(journalOf(folder), "PrStatusSendD").empty());
}

TEST(PrintMgrBinding, ExStatusBlockMatchesItsLayout)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(kLevel2);
    DWORD pages[2] = {12, 0};
    PrNoticeInfo notice = {1002, 0, 0, const_cast<LPSTR>("Sender")};
    EXPECT_EQ(PrStatusSendExD(W("Office"), 0x11223344, 0x10, 1, pages, 8, &notice, "jam"), 0);
    auto lines = standin::journalLines(journalOf(folder), "PrStatusSendExD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(standin::hexMatches(jsonText(lines[0], "block"),
                                    "00000000 00000000"   // 0, 4
                                    "????????????????"    // 8: printer
                                    "44332211 10000000"   // 16: job, 20: status
                                    "01000000 00000000"   // 24: count, padding
                                    "????????????????"    // 32: pointer to the values
                                    "08000000 00000000"   // 40: size, padding
                                    "????????????????"    // 48: notice
                                    "????????????????"    // 56: text
                                    "0000000000000000"))  // 64: pass-through
        << lines[0];
    EXPECT_EQ(jsonValue(lines[0], "ext"), "[12,0]");
    EXPECT_EQ(jsonText(lines[0], "text"), "jam");
}

TEST(PrintMgrBinding, HeldJobsAnswerThePrintingQuestionWithOne)
{
    testsupport::TempRoot root;
    standin::installPrintManager("[PrintManager]\nLevel=2\nHeldJobs=4,5\n");
    EXPECT_EQ(PrStatusSendExD(W("Office"), 5, 0x400, 0, nullptr, 0, nullptr, nullptr), 1);
    EXPECT_EQ(PrStatusSendExD(W("Office"), 6, 0x400, 0, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(PrStatusSendExD(W("Office"), 5, 0x10000000, 0, nullptr, 0, nullptr, nullptr), 0);
}

TEST(PrintMgrBinding, AFailureLeavesTheEntrysLastError)
{
    testsupport::TempRoot root;
    standin::installPrintManager("[PrintManager]\nLevel=2\n[PrStatusNoticeEndD]\nResult=-1\nLastError=1722\n");
    SetLastError(0);
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 5), -1);
    EXPECT_EQ(GetLastError(), 1722u);
    standin::configurePrintManager("[PrintManager]\nLevel=2\n");
    SetLastError(87);
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 5), 0) << "the INI is read at every call";
    EXPECT_EQ(GetLastError(), 0u);
}

TEST(PrintMgrBinding, StartNoticeAtLevelTwoReturnsTheLibrarysHandleAndTheRenamedDocument)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=2\nRename=Renamed.txt\n");
    WCHAR document[64] = W("report.txt");
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD(W("Office"), 9, 1, document, 64, 7, &notice), 0);
    EXPECT_NE(notice, nullptr);
    EXPECT_EQ(std::u16string(document), u"Renamed.txt");
    EXPECT_EQ(LocalFree(notice), nullptr);
    auto lines = standin::journalLines(journalOf(folder), "PrStatusNoticeStartExD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonText(lines[0], "document"), "report.txt");
    EXPECT_EQ(jsonValue(lines[0], "job"), "9");
    EXPECT_EQ(jsonValue(lines[0], "fields"), "7");
}

TEST(PrintMgrBinding, StartNoticeAtLevelZeroMakesItsOwnHandle)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=0\n", true);
    WCHAR document[64] = W("report.txt");
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD(W("Office"), 9, 1, document, 64, 7, &notice), 0);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(LocalSize(notice), sizeof(PrNoticeHandle));
    const auto* handle = static_cast<const PrNoticeHandle*>(notice);
    EXPECT_EQ(handle->dwVersion, 1u);
    EXPECT_EQ(handle->dwCount, 1u);
    EXPECT_EQ(handle->lReserved, -1);
    LocalFree(notice);
    auto lines = standin::journalLines(journalOf(folder), "PrStatusNoticeStartD");
    ASSERT_EQ(lines.size(), 1u);
    // 0, 4: zero; 8: printer; 16: document; 24: job; 28: field count.
    EXPECT_TRUE(standin::hexMatches(jsonText(lines[0], "block"),
                                    "00000000 00000000 ???????????????? ???????????????? 09000000 07000000"));
}

TEST(PrintMgrBinding, TheLegacyLibraryInstalledByTheToolTakesStartNotices)
{
    testsupport::TempRoot root;
    auto installed = testsupport::runProgram(testsupport::besideSelf("hbphstd"), {"install", "C:\\Harbor", "--legacy"});
    ASSERT_EQ(installed.status, 0) << installed.err;
    WCHAR document[64] = W("report.txt");
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD(W("Office"), 9, 1, document, 64, 7, &notice), 0)
        << "the old interface answers at level 0";
    EXPECT_NE(notice, nullptr);
    LocalFree(notice);
    EXPECT_EQ(PrStatusNoticeEndD(W("Office"), 9), 0);
}

TEST(PrintMgrBinding, AnOverlongRenameIsCutToTheCallersBuffer)
{
    testsupport::TempRoot root;
    standin::installPrintManager("[PrintManager]\nLevel=2\nRename=" + std::string(300, 'R') + "\n");
    // 16 characters given; the 16 after them must stay as they are.
    WCHAR buffer[32];
    for (WCHAR& c : buffer)
        c = u'#';
    memcpy(buffer, u"a.txt", 12);
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD(W("Office"), 9, 1, buffer, 16, 7, &notice), 0);
    LocalFree(notice);
    EXPECT_EQ(std::u16string(buffer), std::u16string(15, u'R'));
    for (int i = 16; i < 32; ++i)
        EXPECT_EQ(buffer[i], u'#') << i;

    // A large buffer gets what the library's 260-byte document buffer held.
    std::vector<WCHAR> large(400, u'#');
    large[0] = 0;
    EXPECT_EQ(PrStatusNoticeStartExD(W("Office"), 9, 1, large.data(), 400, 7, &notice), 0);
    LocalFree(notice);
    EXPECT_EQ(std::u16string(large.data()), std::u16string(PRINTMGR_DOCUMENT_BYTES - 1, u'R'));
}

TEST(PrintMgrBinding, NullTextsGoOutEmpty)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(kLevel2);
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD(nullptr, 9, 1, nullptr, 0, 7, &notice), 0);
    LocalFree(notice);
    auto lines = standin::journalLines(journalOf(folder), "PrStatusNoticeStartExD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonValue(lines[0], "printer"), "\"\"");
    EXPECT_EQ(jsonValue(lines[0], "document"), "\"\"");
}

TEST(PrintMgrBinding, SixteenFirstCallsLoadTheLibraryOnce)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(kLevel2);
    testsupport::Gate start;
    std::vector<std::thread> threads;
    std::vector<int> results(16, -100);
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&, i] {
            start.waitOpen();
            results[i] = PrStatusNoticeEndD(W("Office"), static_cast<DWORD>(i + 1));
        });
    start.open();
    for (auto& thread : threads)
        thread.join();
    for (int result : results)
        EXPECT_EQ(result, 0);
    EXPECT_EQ(standin::journalLines(journalOf(folder), "PrStatusNoticeEndD").size(), 16u);
    // Loaded once: one reference, which one FreeLibrary gives back.
    HMODULE module = GetModuleHandleA("HBPHSTD64");
    ASSERT_NE(module, nullptr);
    FreeLibrary(module);
    EXPECT_EQ(GetModuleHandleA("HBPHSTD64"), nullptr);
}

TEST(PrintMgrBinding, AnsiStringsTakeTwiceTheirLength)
{
    DWORD error = 99;
    LPSTR text = AllocAnsiString(GetProcessHeap(), W("プリンタ"), &error);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(error, 0u);
    EXPECT_STREQ(text, "\x83\x76\x83\x8a\x83\x93\x83\x5e");
    HeapFree(GetProcessHeap(), 0, text);

    palFailAllocations(0, 1);
    EXPECT_EQ(AllocAnsiString(GetProcessHeap(), W("x"), &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    palFailAllocations(0, 0);
}

} // namespace
