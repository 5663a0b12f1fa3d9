// The print-manager entries the service does not call, against the stand-in HBPHSTD64: the blocks
// as the library sees them, results, out values and last errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PrintMgr.h"
#include "StandinTesting.h"
#include "TempRoot.h"

namespace {

using standin::jsonText;
using standin::jsonValue;

const char kLevel2[] = "[PrintManager]\nLevel=2\n";

std::string lastLine(const std::string& folder, const std::string& entry)
{
    auto lines = standin::journalLines(folder + "/journal.log", entry);
    return lines.empty() ? "" : lines.back();
}

// Hex of a pointer-sized value as it lies in a block.
std::string pointerHex(const void* pointer)
{
    static const char digits[] = "0123456789abcdef";
    unsigned char bytes[sizeof pointer];
    memcpy(bytes, &pointer, sizeof pointer);
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

TEST(PrintMgrEntries, NotInstalledEveryEntryGivesMinusTwo)
{
    testsupport::TempRoot root;
    char document[16] = "doc";
    char buffer[16];
    DWORD key = 1, value = 5, ids[2] = {};
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD("Office", 1, 1, document, 7, &notice), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrStatusNoticeStartD("Office", 1, 2, document, 7), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrStatusNoticeStartD(W("Office"), 1, W("doc"), 7), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrStatusSendExD("Office", 1, 0x400, 0, nullptr, 0, nullptr, nullptr), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrStatusSendD("Office", 1, 0x400, nullptr, nullptr), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrStatusSendD(W("Office"), 1, 0x400, nullptr, nullptr), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrStatusNoticeEndD("Office", 1), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrNeedSendNoticeMessageD(1, nullptr, nullptr, nullptr, buffer, sizeof buffer), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrGetNoticeHostD(1, nullptr, nullptr, buffer, sizeof buffer), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrSetExtInfoD(1, &key, 0, 0, nullptr, 0), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrGetExtInfoD("GETE", 1, &key, 0, 0, nullptr, 0, &value), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrGetExtInfoD(1, &key, ids), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrAttributeGetDA("Color", &value), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(PrAttributeGetDW(W("Color"), &value), PRINTMGR_NOT_AVAILABLE);
}

TEST(PrintMgrEntries, AnEntryTheLibraryLacksGivesMinusTwo)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=1\n", true);
    char document[PRINTMGR_DOCUMENT_BYTES] = "Report";
    HANDLE notice = nullptr;
    EXPECT_EQ(PrStatusNoticeStartExD("Office", 3, 1, document, 7, &notice), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(notice, nullptr);
    // The ANSI status falls back to the plain entry as the wide one does.
    EXPECT_EQ(PrStatusSendExD("Office", 3, 0x4400, 0, nullptr, 0, nullptr, "ok"), 0);
    std::string line = lastLine(folder, "PrStatusSendD");
    EXPECT_EQ(jsonValue(line, "status"), "512");
    EXPECT_EQ(jsonText(line, "text"), "ok");
}

TEST(PrintMgrEntries, MissingArgumentsAndWrongLevels)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(kLevel2);
    char document[PRINTMGR_DOCUMENT_BYTES] = "Report";
    HANDLE notice = nullptr;
    DWORD value = 0, ids[2] = {};
    EXPECT_EQ(PrStatusNoticeStartExD("Office", 3, 3, document, 7, &notice), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(PrStatusNoticeStartD("Office", 3, 0, document, 7), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    EXPECT_EQ(PrStatusNoticeStartExD(static_cast<LPCSTR>(nullptr), 3, 1, document, 7, &notice), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PrStatusNoticeEndD(static_cast<LPCSTR>(nullptr), 3), -1);
    EXPECT_EQ(PrNeedSendNoticeMessageD(1, nullptr, nullptr, nullptr, nullptr, 8), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(PrGetExtInfoD("GETX", 1, &value, 0, 0, nullptr, 0, &value), -1);
    EXPECT_EQ(PrAttributeGetDA("Color", nullptr), -1);
    // The key of the extended information is required.
    EXPECT_EQ(PrSetExtInfoD(1, nullptr, 0, 0, nullptr, 0), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrGetExtInfoD("GETE", 1, nullptr, 0, 0, nullptr, 0, &value), PRINTMGR_NOT_AVAILABLE);
    EXPECT_EQ(PrGetExtInfoD(1, nullptr, ids), PRINTMGR_NOT_AVAILABLE);
    EXPECT_TRUE(standin::journalLines(folder + "/journal.log").empty()) << "nothing reached the library";
}

TEST(PrintMgrEntries, AnsiFormsPassTheirBlocksAsGiven)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager("[PrintManager]\nLevel=2\nRename=New\n");
    char document[PRINTMGR_DOCUMENT_BYTES] = "Report";
    HANDLE notice = nullptr;
    ASSERT_EQ(PrStatusNoticeStartExD("Office", 3, 2, document, 7, &notice), 0);
    EXPECT_NE(notice, nullptr);
    LocalFree(notice);
    EXPECT_STREQ(document, "New");
    std::string line = lastLine(folder, "PrStatusNoticeStartExD");
    EXPECT_EQ(jsonText(line, "printer"), "Office");
    EXPECT_EQ(jsonValue(line, "job"), "3");
    EXPECT_EQ(jsonValue(line, "fields"), "7");

    char plainDocument[PRINTMGR_DOCUMENT_BYTES] = "Plain";
    ASSERT_EQ(PrStatusNoticeStartD("Office", 4, 1, plainDocument, 9), 0);
    line = lastLine(folder, "PrStatusNoticeStartD");
    EXPECT_TRUE(standin::hexMatches(jsonText(line, "block"), "0000000000000000 ???????????????? " +
                                                                 pointerHex(plainDocument) + "04000000 09000000"));

    // The plain status goes out as given, 0x4000 and all.
    PrNoticeInfo info = {12, 3, 0, const_cast<LPSTR>("Sender")};
    ASSERT_EQ(PrStatusSendD("Office", 5, 0x4400, &info, "Jam"), 0);
    line = lastLine(folder, "PrStatusSendD");
    EXPECT_TRUE(standin::hexMatches(jsonText(line, "block"), "0000000000000000 ???????????????? 05000000 00440000 " +
                                                                 pointerHex(&info) + " ???????????????? " +
                                                                 "0000000000000000"));
    EXPECT_EQ(jsonText(line, "text"), "Jam");
    ASSERT_EQ(PrStatusSendD(W("Office"), 6, 0x4400, nullptr, nullptr), 0);
    EXPECT_EQ(jsonValue(lastLine(folder, "PrStatusSendD"), "status"), "17408");
    ASSERT_EQ(PrStatusNoticeEndD("Office", 5), 0);
    EXPECT_EQ(jsonValue(lastLine(folder, "PrStatusNoticeEndD"), "job"), "5");
}

TEST(PrintMgrEntries, TheWideStartNoticeGoesAtLevelOne)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(kLevel2);
    ASSERT_EQ(PrStatusNoticeStartD(W("Office"), 8, nullptr, 2), 0);
    std::string line = lastLine(folder, "PrStatusNoticeStartD");
    EXPECT_EQ(jsonText(line, "printer"), "Office");
    EXPECT_EQ(jsonText(line, "document"), "");
    EXPECT_EQ(jsonValue(line, "job"), "8");
}

TEST(PrintMgrEntries, OutputBufferEntriesClearTheirBufferAndTakeTheText)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(
        "[PrintManager]\nLevel=2\n[PrNeedSendNoticeMessageD]\nText=Send it\n[PrGetNoticeHostD]\nText=host.example\n");
    int a = 0, b = 0, c = 0;
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(PrNeedSendNoticeMessageD(0x11223344, &a, &b, &c, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "Send it");
    std::string line = lastLine(folder, "PrNeedSendNoticeMessageD");
    EXPECT_EQ(jsonValue(line, "cleared"), "1");
    EXPECT_EQ(jsonText(line, "block"), "0000000000000000" "4433221100000000" + pointerHex(&a) + pointerHex(&b) +
                                           pointerHex(&c) + pointerHex(buffer) + "0800000000000000" +
                                           "0000000000000000");

    memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(PrGetNoticeHostD(9, &a, nullptr, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "host.ex") << "cut to the buffer";
    line = lastLine(folder, "PrGetNoticeHostD");
    EXPECT_EQ(jsonValue(line, "cleared"), "1");
    EXPECT_EQ(jsonText(line, "block"), "0000000000000000" "0900000000000000" + pointerHex(&a) +
                                           "0000000000000000" + pointerHex(buffer) + "0800000000000000" +
                                           "0000000000000000");
}

TEST(PrintMgrEntries, ExtendedInformationBlocksAndAnswers)
{
    testsupport::TempRoot root;
    std::string folder =
        standin::installPrintManager("[PrintManager]\nLevel=2\n[PrGetExtInfoD]\nValue=4660\nValue2=22136\n");
    BYTE key[4] = {1, 2, 3, 4};
    BYTE data[3] = {0xAA, 0xBB, 0xCC};
    ASSERT_EQ(PrSetExtInfoD(0x10, key, 0x20, 0x30, data, sizeof data), 0);
    std::string line = lastLine(folder, "PrSetExtInfoD");
    EXPECT_EQ(jsonText(line, "block"), "0000000000000000" "53455445" "10000000" + pointerHex(key) + "20000000" +
                                           "30000000" + pointerHex(data) + "03000000" + "00000000" +
                                           "0000000000000000");
    EXPECT_EQ(jsonText(line, "data"), "aabbcc");

    DWORD returned = 0;
    BYTE buffer[4] = {};
    ASSERT_EQ(PrGetExtInfoD("GETE", 1, key, 2, 3, buffer, sizeof buffer, &returned), 0);
    EXPECT_EQ(returned, 4660u);
    line = lastLine(folder, "PrGetExtInfoD");
    EXPECT_TRUE(standin::hexMatches(jsonText(line, "block"), "0000000000000000" "47455445" "01000000" +
                                                                 pointerHex(key) + "02000000" "03000000" +
                                                                 pointerHex(buffer) + "04000000" "00000000" +
                                                                 "0000000000000000"));
    returned = 0;
    ASSERT_EQ(PrGetExtInfoD("GETJ", 1, key, 2, 3, buffer, sizeof buffer, &returned), 0);
    EXPECT_EQ(returned, 4660u);
    EXPECT_EQ(jsonText(lastLine(folder, "PrGetExtInfoD"), "block").substr(16, 48),
              "4745544a01000000" + pointerHex(key) + "0000000000000000")
        << "no values with GETJ";

    DWORD ids[2] = {};
    ASSERT_EQ(PrGetExtInfoD(7, key, ids), 0);
    EXPECT_EQ(ids[0], 4660u);
    EXPECT_EQ(ids[1], 22136u);
    line = lastLine(folder, "PrGetExtInfoD");
    EXPECT_EQ(jsonText(line, "tag"), "GEID");
    EXPECT_EQ(jsonValue(line, "size"), "8");

    // -7 still hands back the DWORD; other failures do not, and leave the library's last error.
    standin::configurePrintManager("[PrintManager]\nLevel=2\n[PrGetExtInfoD]\nValue=99\nResult=-7\nLastError=234\n");
    returned = 0;
    EXPECT_EQ(PrGetExtInfoD("GETE", 1, key, 0, 0, buffer, sizeof buffer, &returned), PRINTMGR_EXT_MORE_DATA);
    EXPECT_EQ(returned, 99u);
    EXPECT_EQ(GetLastError(), 234u);
    standin::configurePrintManager("[PrintManager]\nLevel=2\n[PrGetExtInfoD]\nValue=99\nResult=-3\nLastError=5\n");
    returned = 0;
    ids[0] = ids[1] = 0;
    EXPECT_EQ(PrGetExtInfoD("GETE", 1, key, 0, 0, buffer, sizeof buffer, &returned), -3);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(PrGetExtInfoD(7, key, ids), -3);
    EXPECT_EQ(ids[0], 0u);
    EXPECT_EQ(GetLastError(), 5u);
}

TEST(PrintMgrEntries, AttributesComeBackFromBothForms)
{
    testsupport::TempRoot root;
    std::string folder = standin::installPrintManager(
        "[PrintManager]\nLevel=2\n[PrAttributeGetDA]\nValue=17\n[PrAttributeGetDW]\nValue=23\n");
    DWORD value = 99;
    ASSERT_EQ(PrAttributeGetDA("Farbe", &value), 0);
    EXPECT_EQ(value, 17u);
    std::string line = lastLine(folder, "PrAttributeGetDA");
    EXPECT_EQ(jsonText(line, "name"), "Farbe");
    EXPECT_TRUE(standin::hexMatches(jsonText(line, "block"), "???????????????? 0000000000000000"))
        << "the out value is preset 0";
    ASSERT_EQ(PrAttributeGetDW(W("Duplex"), &value), 0);
    EXPECT_EQ(value, 23u);
    EXPECT_EQ(jsonText(lastLine(folder, "PrAttributeGetDW"), "name"), "Duplex");

    standin::configurePrintManager("[PrintManager]\nLevel=2\n[PrAttributeGetDW]\nValue=23\nResult=-4\nLastError=1726\n");
    value = 99;
    EXPECT_EQ(PrAttributeGetDW(W("Duplex"), &value), -4);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(GetLastError(), 1726u);
    standin::configurePrintManager(kLevel2);
    EXPECT_EQ(PrAttributeGetDA("Farbe", &value), 0);
    EXPECT_EQ(GetLastError(), 0u);
}

} // namespace
