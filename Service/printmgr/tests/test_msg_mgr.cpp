// The message-manager binding against the stand-in: hbmsgm runs as another process, its library is
// loaded here. The binding keeps its module for the life of the process, as each case of this
// program runs in a process of its own under CTest.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ChildProcess.h"
#include "MsgMgr.h"
#include "StandinTesting.h"
#include "TempRoot.h"

namespace {

using standin::jsonText;
using standin::jsonValue;
using testsupport::ChildProcess;

constexpr DWORD kWaitMs = 10000;

bool libraryLoaded()
{
    return GetModuleHandleA("HBMSGM64") != nullptr;
}

// A section of our own, as a message manager would publish it.
HANDLE publish(const void* bytes, size_t size)
{
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 512, "Global\\HBMSGMMF");
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
    memcpy(view, bytes, size);
    UnmapViewOfFile(view);
    return section;
}

// The records of one message with three choices, as a caller fills them.
struct SampleMessage {
    MsgmChoiceEntry entries[3] = {{MSGM_CHOICE_CONTINUE, 0, "\x91\xb1\x8d\x73", 0},
                                  {MSGM_CHOICE_DELETE, 0, "\x8d\xed\x8f\x9c", 0},
                                  {MSGM_CHOICE_HOLD, 0, "\x95\xdb\x97\xaf", 0}};
    MsgmChoiceList list = {3, 0, entries};
    MsgmChoiceHeader header = {1, 0, &list};
    MsgmJobRecord job = {3, 40, const_cast<LPSTR>("Office"), 42, 5, 1, 0, const_cast<LPSTR>("PC01")};
    MsgmMessageRecord message = {};
    MsgmSenderRecord sender = {1003, 0, 0, const_cast<LPSTR>("Sender"), 0};
    SampleMessage()
    {
        message.wVersion = 0x100;
        message.byFlag = 1;
        memcpy(message.szTag, "xxx", 4);
        message.lpJob = &job;
    }
    int send() { return MsgmiSendMessageEx_d(MSGM_KIND_MESSAGE, &message, &sender, &header, const_cast<LPSTR>("No paper")); }
};

TEST(MsgMgrBinding, NotRunningGivesMinusTwoAndLoadsNothing)
{
    testsupport::TempRoot root;
    MsgmError error = {};
    char folder[MSGM_FOLDER_BYTES];
    EXPECT_EQ(GetMsgmSharedValue(folder, 5, &error), -1);
    EXPECT_EQ(error.dwStep, static_cast<DWORD>(MSGM_STEP_OPEN));
    EXPECT_EQ(error.dwError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(MsgmiCancelReplyV31_d(0, 1), MSGM_NOT_AVAILABLE);
    HANDLE event = nullptr;
    ULONGLONG value = 0;
    EXPECT_EQ(MsgmiCreateNamedEvent_d(&event, &value), MSGM_NOT_AVAILABLE);
    EXPECT_FALSE(libraryLoaded());
}

TEST(MsgMgrBinding, SectionValuesAtTheirOffsets)
{
    testsupport::TempRoot root;
    BYTE bytes[312] = {};
    memcpy(bytes, "C:\\Msgm\\", 9);
    const std::pair<DWORD, size_t> values[] = {{1, 272}, {2, 276}, {3, 280}, {4, 284},
                                               {6, 292}, {9, 296}, {8, 304}, {10, 308}};
    for (auto [number, offset] : values) {
        DWORD value = 1000 + number;
        memcpy(bytes + offset, &value, 4);
    }
    HANDLE section = publish(bytes, sizeof bytes);
    MsgmError error = {};
    for (auto [number, offset] : values) {
        DWORD value = 0;
        EXPECT_EQ(GetMsgmSharedValue(&value, number, &error), 0);
        EXPECT_EQ(value, 1000 + number) << "value " << number;
    }
    char folder[MSGM_FOLDER_BYTES];
    EXPECT_EQ(GetMsgmSharedValue(folder, 5, &error), 0);
    EXPECT_STREQ(folder, "C:\\Msgm\\");
    DWORD untouched = 77;
    EXPECT_EQ(GetMsgmSharedValue(&untouched, 7, &error), 0);
    EXPECT_EQ(untouched, 77u);
    CloseHandle(section);
}

TEST(MsgMgrBinding, AFolderWithoutTerminatorIsCutAndNotLoaded)
{
    testsupport::TempRoot root;
    std::string full(300, 'm');
    HANDLE section = publish(full.data(), full.size());
    char folder[MSGM_FOLDER_BYTES + 8];
    memset(folder, '#', sizeof folder);
    MsgmError error = {};
    EXPECT_EQ(GetMsgmSharedValue(folder, 5, &error), 0);
    EXPECT_EQ(strlen(folder), 259u);
    EXPECT_EQ(folder[MSGM_FOLDER_BYTES], '#') << "nothing written past the 260 bytes";
    EXPECT_EQ(MsgmiCancelReplyV31_d(0, 1), MSGM_NOT_AVAILABLE) << "the path does not fit";
    EXPECT_FALSE(libraryLoaded());
    CloseHandle(section);
}

TEST(MsgMgrBinding, AFolderWithoutSeparatorNamesAnotherFile)
{
    testsupport::TempRoot root;
    ChildProcess manager = standin::startMessageManager();
    HANDLE section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\HBMSGMMF");
    ASSERT_NE(section, nullptr);
    char* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    memcpy(view, "C:\\Msgm", 8);
    UnmapViewOfFile(view);
    EXPECT_EQ(MsgmiCancelReplyV31_d(0, 1), -1) << "C:\\MsgmHBMSGM64.dll is not there: load error 126, not 2";
    EXPECT_FALSE(libraryLoaded());
    CloseHandle(section);
}

TEST(MsgMgrBinding, OnlyAMissingFileMeansNotAvailable)
{
    clOutsideLibrary messageManager(nullptr, clOutsideLibrary::MISSING_FILE);
    EXPECT_EQ(messageManager.iLoadFailure(ERROR_FILE_NOT_FOUND), MSGM_NOT_AVAILABLE);
    EXPECT_EQ(messageManager.iLoadFailure(ERROR_MOD_NOT_FOUND), -1);
    EXPECT_EQ(messageManager.iLoadFailure(ERROR_BAD_EXE_FORMAT), -1);
    clOutsideLibrary printManager(nullptr, clOutsideLibrary::MISSING_FILE_OR_MODULE);
    EXPECT_EQ(printManager.iLoadFailure(ERROR_FILE_NOT_FOUND), OUTSIDE_NOT_AVAILABLE);
    EXPECT_EQ(printManager.iLoadFailure(ERROR_MOD_NOT_FOUND), OUTSIDE_NOT_AVAILABLE);
    EXPECT_EQ(printManager.iLoadFailure(ERROR_BAD_EXE_FORMAT), -1);
}

TEST(MsgMgrBinding, AMessageAnsweredByPolicySignalsItsEvent)
{
    testsupport::TempRoot root;
    ChildProcess manager = standin::startMessageManager({"--policy", "hold,continue"});
    HANDLE event = nullptr;
    ULONGLONG value = 0;
    ASSERT_EQ(MsgmiCreateNamedEvent_d(&event, &value), 0);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(value, reinterpret_cast<uintptr_t>(event));
    EXPECT_TRUE(libraryLoaded());

    SampleMessage sample;
    int id = sample.send();
    ASSERT_GT(id, 0);
    MsgmiEventSelect_d(static_cast<DWORD>(id), value);
    EXPECT_EQ(WaitForSingleObject(event, kWaitMs), WAIT_OBJECT_0);
    MsgmReply reply = {};
    EXPECT_GE(MsgmiReceiveMessage_d(static_cast<DWORD>(id), &reply), 0);
    EXPECT_EQ(reply.dwSelect, 3u) << "hold is the third choice";

    std::string journal = standin::messageJournal();
    auto lines = standin::journalLines(journal);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(jsonText(lines[0], "event"), "message");
    EXPECT_EQ(jsonText(lines[0], "text"), "No paper");
    EXPECT_EQ(jsonValue(lines[0], "msgNo"), "1003");
    EXPECT_EQ(jsonValue(lines[0], "choices"),
              "[{\"id\":279297,\"label\":\"続行\"},{\"id\":279552,\"label\":\"削除\"},{\"id\":280576,\"label\":\"保留\"}]");
    EXPECT_EQ(jsonValue(lines[0], "job"), "{\"printer\":\"Office\",\"job\":42,\"machine\":\"PC01\"}");
    EXPECT_EQ(jsonText(lines[1], "event"), "answer");
    EXPECT_EQ(jsonText(lines[1], "verb"), "hold");
    EXPECT_EQ(jsonText(lines[1], "by"), "policy");
    std::string blocks = jsonValue(lines[0], "blocks");
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "send"),
                                    "20090000 00000000 ???????????????? 0000000000000000"
                                    "eb03 0000 00000000 ???????????????? 0000000000000000"
                                    "???????????????? 0000000000000000 ????????????????"))
        << blocks;
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "choiceHeader"), "01000000 00000000 ????????????????"));
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "choiceList"), "03000000 00000000 ????????????????"));
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "job"),
                                    "03000000 28000000 ???????????????? 2a000000 05000000 01000000 00000000"
                                    "????????????????"));
    EXPECT_TRUE(standin::hexMatches(jsonText(blocks, "message"),
                                    "0001 01" + std::string(50, '0') + "78787800" + std::string(32, '0') +
                                        "????????????????" + std::string(64, '0')));
    CloseHandle(event);
}

TEST(MsgMgrBinding, AnAnswerFromTheCommandLineAndACancel)
{
    testsupport::TempRoot root;
    ChildProcess manager = standin::startMessageManager();
    HANDLE event = nullptr;
    ULONGLONG value = 0;
    ASSERT_EQ(MsgmiCreateNamedEvent_d(&event, &value), 0);
    SampleMessage sample;
    int first = sample.send();
    int second = sample.send();
    ASSERT_GT(first, 0);
    ASSERT_EQ(second, first + 1);
    MsgmiEventSelect_d(static_cast<DWORD>(first), value);
    MsgmReply reply = {};
    EXPECT_LT(MsgmiReceiveMessage_d(static_cast<DWORD>(first), &reply), 0) << "not answered yet";

    auto listed = testsupport::runProgram(testsupport::besideSelf("hbmsgm"), {"list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find(std::to_string(first) + "  class 1003  Office job 42  [continue,delete,hold]"),
              std::string::npos)
        << listed.out;
    auto refused = testsupport::runProgram(testsupport::besideSelf("hbmsgm"), {"answer", "99", "hold"});
    EXPECT_EQ(refused.status, 1);
    auto answered = testsupport::runProgram(testsupport::besideSelf("hbmsgm"), {"answer", std::to_string(first), "delete"});
    EXPECT_EQ(answered.status, 0) << answered.out;
    EXPECT_EQ(WaitForSingleObject(event, kWaitMs), WAIT_OBJECT_0);
    EXPECT_GE(MsgmiReceiveMessage_d(static_cast<DWORD>(first), &reply), 0);
    EXPECT_EQ(reply.dwSelect, 2u);

    EXPECT_EQ(MsgmiCancelReplyV31_d(0, static_cast<DWORD>(second)), 0);
    listed = testsupport::runProgram(testsupport::besideSelf("hbmsgm"), {"list"});
    EXPECT_EQ(listed.out, "");
    auto lines = standin::journalLines(standin::messageJournal());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(jsonText(lines[2], "by"), "command");
    EXPECT_EQ(jsonText(lines[3], "event"), "close");
    EXPECT_EQ(jsonValue(lines[3], "id"), std::to_string(second));
    CloseHandle(event);
}

TEST(MsgMgrBinding, TheToolsSayWhenNoManagerRuns)
{
    testsupport::TempRoot root;
    testsupport::ChildOptions options;
    options.pipeErrors = true;
    auto listed = testsupport::runProgram(testsupport::besideSelf("hbmsgm"), {"list"}, options);
    EXPECT_EQ(listed.status, 1);
    EXPECT_NE(listed.err.find("not running"), std::string::npos);
    auto wrong = testsupport::runProgram(testsupport::besideSelf("hbmsgm"), {"answer", "1", "maybe"}, options);
    EXPECT_EQ(wrong.status, 2);
}

} // namespace
