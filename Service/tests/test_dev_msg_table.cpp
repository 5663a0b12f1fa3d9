#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include <windows.h>
#include <winspool.h>

#include "DevMsgTable.h"

namespace {

// 1-based row number of a record.
long rowOf(const DevMsgRecord* record)
{
    return static_cast<long>(record - DevMsgTable) + 1;
}

long rowFor(DWORD code)
{
    return rowOf(GetDevMsgRecordCLIB(static_cast<LONG>(code)));
}

// Paper codes in the order of the paper sizes k = 0..19 of texts 251 + k and 301 + k.
const BYTE kPaperCodes[20] = {0x01, 0x02, 0x03, 0x06, 0x07, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
                              0x0F, 0x13, 0x1A, 0x1B, 0x1C, 0x37, 0x4A, 0x66, 0x6F, 0xC1};

TEST(DevMsgTable, HasItsRowsAndAnEndRowOfZeros)
{
    for (int row = 0; row < DEVMSG_TABLE_ROWS; ++row)
        EXPECT_NE(DevMsgTable[row].dwStatusCode, 0u) << "row " << row + 1;
    const DevMsgRecord zeros = {};
    EXPECT_EQ(memcmp(&DevMsgTable[DEVMSG_TABLE_ROWS], &zeros, sizeof zeros), 0);
    int notices = 0, statuses = 0;
    for (int row = 0; row < DEVMSG_TABLE_ROWS; ++row) {
        const DevMsgRecord& r = DevMsgTable[row];
        EXPECT_EQ(r.dwMsgType, 0u);
        if (r.uErrAction == ERRACT_NOTICE) {
            ++notices;
            EXPECT_GE(r.dwMsgNo, 1001u);
            EXPECT_LE(r.dwMsgNo, 1017u);
        } else {
            ++statuses;
            EXPECT_EQ(r.uErrAction, static_cast<DWORD>(ERRACT_STATUS)) << "row " << row + 1;
            EXPECT_EQ(r.dwMsgNo, 0u);
            EXPECT_EQ(r.uMsgId, 0u);
        }
    }
    EXPECT_EQ(notices, 94);
    EXPECT_EQ(statuses, 28);
}

// Rows 38-57, 59-78 and 80-99: one row per paper code with the mask 0xFFFFF0FF, then the general row.
void expectPaperBlock(int firstRow, DWORD base, DWORD msgNo, DWORD firstText, DWORD generalText)
{
    for (int k = 0; k < 20; ++k) {
        const DevMsgRecord& r = DevMsgTable[firstRow - 1 + k];
        EXPECT_EQ(r.dwStatusCode, base | kPaperCodes[k]) << "row " << firstRow + k;
        EXPECT_EQ(r.lFlag, 0xFFFFF0FFu);
        EXPECT_EQ(r.dwMsgNo, msgNo);
        EXPECT_EQ(r.uMsgId, firstText + static_cast<DWORD>(k));
        EXPECT_EQ(r.dwPrtStatus, static_cast<DWORD>(PRINTER_STATUS_PAPER_OUT));
    }
    const DevMsgRecord& general = DevMsgTable[firstRow - 1 + 20];
    EXPECT_EQ(general.dwStatusCode, base);
    EXPECT_EQ(general.lFlag, 0xFFFFF000u);
    EXPECT_EQ(general.uMsgId, generalText);
}

TEST(DevMsgTable, PaperRowsFollowOneRulePerBlock)
{
    expectPaperBlock(38, 0x03060000, 1003, 251, 203);
    expectPaperBlock(59, 0x03062000, 1003, 251, 203);
    expectPaperBlock(80, 0x03063000, 1015, 301, 215);
}

TEST(DevMsgTable, SpotRowsAsTranscribed)
{
    struct Row {
        int row;
        DWORD msgNo, code, flag, action, prtStatus, text;
    };
    const Row rows[] = {
        {1, 0, 0x00000001, 0, 1, 0x00008000, 0},        {3, 0, 0x00060311, 0, 1, 0x00000080, 0},
        {11, 0, 0x01042002, 0xFFFFF0FF, 1, 0x800, 0},    {13, 0, 0x01045000, 0xFFFFF0F0, 1, 0x10, 0},
        {26, 0, 0x00000001, 0, 1, 0x40000000, 0},       {28, 1002, 0x00000301, 0, 2, 0x00000008, 202},
        {36, 1009, 0x03047033, 0xFFFFF0FF, 2, 0x800, 209}, {101, 1003, 0x00000306, 0, 2, 0x10, 203},
        {104, 1016, 0x00000316, 0, 2, 0x00040000, 216}, {110, 1014, 0x0332006E, 0, 2, 0x20000000, 214},
        {115, 1012, 0x00000400, 0, 2, 0x40000000, 212}, {116, 1007, 0x00000007, 0, 2, 0x00000080, 207},
        {117, 1001, 0x00000008, 0, 2, 0x80000000, 0},   {120, 0, 0x00000903, 0, 1, 0x00000400, 0},
        {121, 1017, 0x00000009, 0, 2, 0x00010000, 217}, {122, 1013, 0xFFFFFFFF, 0, 2, 0x00000002, 213},
    };
    for (const Row& expected : rows) {
        const DevMsgRecord& r = DevMsgTable[expected.row - 1];
        EXPECT_EQ(r.dwMsgNo, expected.msgNo) << "row " << expected.row;
        EXPECT_EQ(r.dwStatusCode, expected.code) << "row " << expected.row;
        EXPECT_EQ(r.lFlag, expected.flag) << "row " << expected.row;
        EXPECT_EQ(r.uErrAction, expected.action) << "row " << expected.row;
        EXPECT_EQ(r.dwPrtStatus, expected.prtStatus) << "row " << expected.row;
        EXPECT_EQ(GetDevMsgTextId(&r), expected.text) << "row " << expected.row;
    }
}

TEST(DevMsgTable, FirstMatchingRowWins)
{
    EXPECT_EQ(rowFor(0x00000001), 1) << "never row 26";
    EXPECT_EQ(rowFor(0x00000002), 2) << "never row 27";
    EXPECT_EQ(rowFor(0x01020304), 1) << "top byte 1, shift 24";
    EXPECT_EQ(rowFor(0x01045A0C), 1) << "rows 1 and 2 come before the masks";
    EXPECT_EQ(rowFor(0x10000000), 5) << "0x100 by shift 20";
    EXPECT_EQ(rowFor(0x00000008), 117);
    EXPECT_EQ(rowFor(0x00000007), 116);
}

TEST(DevMsgTable, MasksIgnoreTheirClearedBits)
{
    EXPECT_EQ(rowFor(0x03060A02), 39) << "A4 missing, any digit in bits 8-11";
    EXPECT_EQ(rowFor(0x03060055), 58) << "unknown paper code: the general no-paper row";
    EXPECT_EQ(rowFor(0x03063000), 100);
    EXPECT_EQ(rowFor(0x03060AC1), 57);
    EXPECT_EQ(rowFor(0x0306F0C1), 101) << "bits 12-15 are kept: no paper row, then 0x306 by shift 16";
}

TEST(DevMsgTable, SignedCodesShiftInOnes)
{
    EXPECT_EQ(rowFor(0xFFFFFFFF), 122);
    EXPECT_EQ(rowFor(0xFFFFFF01), 122) << "shifted right by 8 it is -1";
    EXPECT_EQ(rowFor(0x80000000), DEVMSG_TABLE_ROWS + 1) << "no row: the end row";
}

TEST(DevMsgTable, CodeZeroGivesTheEndRow)
{
    const DevMsgRecord* end = GetDevMsgRecordCLIB(0);
    EXPECT_EQ(rowOf(end), DEVMSG_TABLE_ROWS + 1);
    EXPECT_EQ(end->uErrAction, 0u);
    EXPECT_EQ(end->dwPrtStatus, 0u);
}

TEST(DevMsgTable, OfflineRowIsTheFirstOfItsClass)
{
    const DevMsgRecord* offline = GetOfflineRecordCLIB();
    EXPECT_EQ(rowOf(offline), 116);
    EXPECT_EQ(offline->dwMsgNo, static_cast<DWORD>(WIM_OFFLINE));
    EXPECT_EQ(offline->dwStatusCode, 7u);
}

TEST(DevMsgTable, PowerOffTextIsSharedBetweenThreads)
{
    DevMsgRecord* powerOff = GetDevMsgRecordCLIB(8);
    std::thread writer([&] {
        for (int i = 0; i < 10000; ++i)
            SetDevMsgTextId(powerOff, i % 2 ? 321 : 201);
    });
    for (int i = 0; i < 10000; ++i) {
        DWORD id = GetDevMsgTextId(powerOff);
        ASSERT_TRUE(id == 0 || id == 201 || id == 321);
    }
    writer.join();
    SetDevMsgTextId(powerOff, 0);
}

} // namespace
