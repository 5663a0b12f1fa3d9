// SendMsg through the message-manager stand-in (hbmsgm in another process, its library here).
#include <gtest/gtest.h>

#include <string>

#include "DevMsgTable.h"
#include "MsgMgr.h"
#include "SendMsg.h"
#include "StandinTesting.h"
#include "TempRoot.h"
#include "resource.h"

namespace {

using standin::jsonText;
using standin::jsonValue;

MsgJobInfo sampleJob(LPSTR document = const_cast<LPSTR>("report.txt"))
{
    return {const_cast<LPSTR>("Office"), const_cast<LPSTR>("PC01"), document, const_cast<LPSTR>("carol")};
}

// The journal line of the only message sent.
std::string onlyMessage()
{
    auto lines = standin::journalLines(standin::messageJournal());
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? "" : lines[0];
}

class SendMsgTest : public ::testing::Test {
protected:
    testsupport::TempRoot root;
    testsupport::ChildProcess manager = standin::startMessageManager();
};

TEST_F(SendMsgTest, ANoPaperMessageWithThreeChoices)
{
    MsgJobInfo job = sampleJob();
    LONG id = SendMsg(W("Office"), 42, 1003, 0, IDS_WIM_NOPAPER_SIZE + 1, &job);
    EXPECT_GT(id, 0);
    std::string line = onlyMessage();
    EXPECT_EQ(jsonValue(line, "kind"), "2336");
    EXPECT_EQ(jsonValue(line, "msgNo"), "1003");
    EXPECT_EQ(jsonText(line, "sender"), "TALLY-DESK Output Beacon Service2");
    EXPECT_EQ(jsonText(line, "text"), "プリンタには印刷実行時に指定された用紙がありません。\nプリンタに用紙をセットしてください。"
                                      "\n\n用紙サイズ：A4\n\nプリンタ名：Office\n文書名：report.txt\nユーザ名：carol");
    EXPECT_EQ(jsonValue(line, "choices"),
              "[{\"id\":279297,\"label\":\"続行\"},{\"id\":279552,\"label\":\"削除\"},{\"id\":280576,\"label\":\"保留\"}]");
    EXPECT_EQ(jsonValue(line, "job"), "{\"printer\":\"Office\",\"job\":42,\"machine\":\"PC01\"}");
}

TEST_F(SendMsgTest, BlocksAsTheMessageManagerReadsThem)
{
    MsgJobInfo job = sampleJob();
    EXPECT_GT(SendMsg(W("Office"), 0x0102, 1002, 3, IDS_WIM_PAPERJAM, &job), 0);
    std::string blocks = jsonValue(onlyMessage(), "blocks");
    const std::string pointer = "????????????????", zero8 = "0000000000000000";
    // 0 kind, 8 text, 16 not set, 24 class and type, 32 sender, 40 zero, 48 choices, 56 zero, 64 message.
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "send"), "20090000 00000000" + pointer + zero8 +
                                                                  "ea03 0300 00000000" + pointer + zero8 + pointer +
                                                                  zero8 + pointer))
        << blocks;
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "choiceHeader"), "01000000 00000000" + pointer));
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "choiceList"), "02000000 00000000" + pointer));
    // Entries: id, 0, label, 8 zero bytes.
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "choices"), "01430400 00000000" + pointer + zero8 +
                                                                     "00440400 00000000" + pointer + zero8));
    // Message record: 0x100, 1, "xxx" at 28, the job record at 48.
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "message"), "0001 01 00" + std::string(48, '0') + "78787800" +
                                                                     std::string(32, '0') + pointer +
                                                                     std::string(64, '0')));
    // Job record: 3, 40, printer, job id, 5, 1, 0, machine.
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "job"),
                                    "03000000 28000000" + pointer + "02010000 05000000 01000000 00000000" + pointer));
}

TEST_F(SendMsgTest, ChoiceSetsByText)
{
    MsgJobInfo job = sampleJob();
    struct Case {
        DWORD textId;
        const char* choices;
    };
    const Case cases[] = {
        {IDS_WIM_DEVICEPOWEROFF_HOLD, "[]"},
        {IDS_WIM_DEVICEPOWEROFF, "[{\"id\":280577,\"label\":\"保留\"},{\"id\":279552,\"label\":\"削除\"}]"},
        {IDS_WIM_DATARESET, "[{\"id\":280577,\"label\":\"保留\"},{\"id\":279552,\"label\":\"削除\"}]"},
        {IDS_WIM_POWERRESET, "[{\"id\":280577,\"label\":\"保留\"},{\"id\":279552,\"label\":\"削除\"}]"},
        {IDS_WIM_OFFLINE, "[{\"id\":279297,\"label\":\"続行\"}]"},
        {IDS_WIM_COVEROPEN, "[{\"id\":279297,\"label\":\"続行\"},{\"id\":279552,\"label\":\"削除\"}]"},
        {IDS_WIM_DELETEFAILED, "[]"},
        {IDS_WIM_ATTRIBUTEFAILED, "[]"},
    };
    for (const Case& c : cases)
        EXPECT_GT(SendMsg(W("Office"), 5, 1001, 2, c.textId, &job), 0) << c.textId;
    auto lines = standin::journalLines(standin::messageJournal());
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(jsonValue(lines[i], "choices"), cases[i].choices) << cases[i].textId;
        std::string header = jsonText(jsonValue(lines[i], "blocks"), "choiceHeader");
        EXPECT_EQ(header.substr(0, 8), std::string(cases[i].choices) == "[]" ? "00000000" : "01000000");
    }
}

TEST_F(SendMsgTest, WhatCannotBePreparedIsNotShown)
{
    MsgJobInfo job = sampleJob();
    EXPECT_EQ(SendMsg(W("Office"), 5, 1003, 0, 101, &job), SENDMSG_NOT_PREPARED) << "no choice count";
    EXPECT_EQ(SendMsg(W("Office"), 5, 1003, 4, IDS_WIM_NOPAPER, &job), SENDMSG_NOT_PREPARED) << "type 4";
    EXPECT_EQ(SendMsg(W("Office"), 0, 1003, 0, IDS_WIM_NOPAPER, &job), SENDMSG_NOT_PREPARED) << "job 0";
    EXPECT_EQ(SendMsg(nullptr, 5, 1003, 0, IDS_WIM_NOPAPER, &job), SENDMSG_NOT_PREPARED);
    EXPECT_EQ(SendMsg(W("Office"), 5, 0, 0, IDS_WIM_NOPAPER, &job), SENDMSG_NOT_PREPARED);
    EXPECT_EQ(SendMsg(W("Office"), 5, 1003, 0, 0, &job), SENDMSG_NOT_PREPARED);
    EXPECT_TRUE(standin::journalLines(standin::messageJournal()).empty());
}

TEST_F(SendMsgTest, MissingJobTextsInsertNothing)
{
    MsgJobInfo empty = sampleJob(const_cast<LPSTR>(""));
    EXPECT_GT(SendMsg(W("Office"), 5, 1002, 0, IDS_WIM_PAPERJAM, &empty), 0);
    MsgJobInfo partial = {nullptr, nullptr, nullptr, const_cast<LPSTR>("carol")};
    EXPECT_GT(SendMsg(W("Office"), 6, 1002, 0, IDS_WIM_PAPERJAM, &partial), 0);
    EXPECT_GT(SendMsg(W("Office"), 7, 1002, 0, IDS_WIM_PAPERJAM, nullptr), 0);
    auto lines = standin::journalLines(standin::messageJournal());
    ASSERT_EQ(lines.size(), 3u);
    const std::string body = "プリンタに用紙が詰まりました。\n用紙を取り除くと印刷を続行します。\n\n";
    EXPECT_EQ(jsonText(lines[0], "text"), body + "プリンタ名：Office\n文書名：\nユーザ名：carol");
    EXPECT_EQ(jsonText(lines[1], "text"), body + "プリンタ名：\n文書名：\nユーザ名：carol");
    EXPECT_EQ(jsonValue(lines[1], "job"), "{\"printer\":\"\",\"job\":6,\"machine\":\"\"}");
    EXPECT_EQ(jsonText(lines[2], "text"), body + "プリンタ名：\n文書名：\nユーザ名：");
}

TEST(SendMsgWithoutManager, ReturnsTheBindingsResult)
{
    testsupport::TempRoot root;
    MsgJobInfo job = sampleJob();
    EXPECT_EQ(SendMsg(W("Office"), 5, 1002, 0, IDS_WIM_PAPERJAM, &job), MSGM_NOT_AVAILABLE);
}

} // namespace
