// The service's string table against the status table and the message choices.
#include <gtest/gtest.h>

#include <string>

#include "DevMsgTable.h"
#include "SendMsg.h"
#include "resource.h"

namespace {

const WCHAR kTail[] = W("\n\nプリンタ名：%1\n文書名：%2\nユーザ名：%3");

WString text(UINT id)
{
    WCHAR buffer[1024];
    int length = LoadStringW(GetModuleHandleW(nullptr), id, buffer, 1024);
    return WString(buffer, static_cast<size_t>(length > 0 ? length : 0));
}

bool endsWith(const WString& value, const WString& tail)
{
    return value.size() >= tail.size() && value.compare(value.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(ServiceStrings, EveryTextOfTheTableAndTheChoicesExists)
{
    for (int row = 0; row < DEVMSG_TABLE_ROWS; ++row) {
        DWORD id = GetDevMsgTextId(&DevMsgTable[row]);
        if (id == 0)
            continue;
        EXPECT_TRUE(endsWith(text(id), kTail)) << "row " << row + 1 << " text " << id;
        EXPECT_GT(GetMsgChoiceCount(id), 0) << "text " << id;
    }
    int texts = 0;
    for (UINT id = 200; id < 400; ++id) {
        if (GetMsgChoiceCount(id) < 0)
            continue;
        ++texts;
        EXPECT_TRUE(endsWith(text(id), kTail)) << id;
    }
    EXPECT_EQ(texts, 63);
}

TEST(ServiceStrings, PaperTextsCarryTheirSize)
{
    const WCHAR* sizes[IDS_PAPER_SIZES] = {W("A3"),    W("A4"),         W("A5"),         W("B4"),          W("B5"),
                                             W("エグゼクティブ"), W("レジャー"),       W("リーガル"),       W("レター"),        W("はがき"),
                                             W("往復はがき"), W("ユーザ定義"),      W("封筒 洋形4号"),    W("封筒 角形2号"),     W("封筒 洋形2号"),
                                             W("4面はがき"), W("SRA3"),       W("12x18"),      W("13x19"),       W("封筒 長形3号")};
    const WString missing = W("プリンタには印刷実行時に指定された用紙がありません。\nプリンタに用紙をセットしてください。");
    const WString other =
        W("プリンタには印刷実行時に指定された用紙と異なる用紙がセットされています。\nプリンタに指定の用紙をセットしてください。");
    EXPECT_EQ(text(IDS_WIM_NOPAPER), missing + kTail);
    EXPECT_EQ(text(IDS_WIM_PAPERMISMATCH), other + kTail);
    for (UINT k = 0; k < IDS_PAPER_SIZES; ++k) {
        EXPECT_EQ(text(IDS_WIM_NOPAPER_SIZE + k), missing + W("\n\n用紙サイズ：") + sizes[k] + kTail) << k;
        EXPECT_EQ(text(IDS_WIM_PAPERMISMATCH_SIZE + k), other + W("\n\n用紙サイズ：") + sizes[k] + kTail) << k;
    }
}

TEST(ServiceStrings, RefusalReasonsOfThePrintManager)
{
    EXPECT_EQ(text(IDS_PRINTMGR_NOT_RUNNING), W("Print Managerサービスが動作していません。"));
    EXPECT_EQ(text(IDS_PRINTMGR_NO_PRINTER), W("指定したプリンタが定義されていません。"));
    EXPECT_EQ(text(IDS_PRINTMGR_NO_JOB), W("指定した番号の印刷ドキュメントが存在しません。"));
    EXPECT_EQ(text(IDS_PRINTMGR_NO_DOCUMENT), W("指定したドキュメント名の印刷がありません。"));
}

TEST(ServiceStrings, AnsiTextsAreCodePage932)
{
    char buffer[512];
    int length = LoadStringA(GetModuleHandleW(nullptr), IDS_WIM_NOPAPER_SIZE + 1, buffer, sizeof buffer);
    ASSERT_GT(length, 0);
    std::string ansi(buffer, static_cast<size_t>(length));
    EXPECT_NE(ansi.find("\x97\x70\x8e\x86\x83\x54\x83\x43\x83\x59\x81\x46" "A4"), std::string::npos)
        << "用紙サイズ：A4 in Shift_JIS";
    EXPECT_EQ(text(IDS_WIM_POWERRESET).substr(0, 10), W("プリンタ装置の電源断"));
}

} // namespace
