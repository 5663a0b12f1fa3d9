#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "FakeNotices.h"
#include "PrnJobData4V2.h"

namespace {

ClJobID jobId(DWORD data1, const char* text)
{
    ClJobID id;
    memset(&id, 0, sizeof id);
    id.Data1 = data1;
    memcpy(id.JobText, text, strlen(text));
    return id;
}

JOB_INFO_1A jobInfo(LPSTR printer, LPSTR machine, LPSTR document, LPSTR user)
{
    JOB_INFO_1A info;
    memset(&info, 0, sizeof info);
    info.pPrinterName = printer;
    info.pMachineName = machine;
    info.pDocument = document;
    info.pUserName = user;
    return info;
}

class JobTable : public ::testing::Test {
protected:
    void SetUp() override { FakeNotices::instance().reset(); }
};

TEST_F(JobTable, RequiredArgumentsRefuseWithoutChange)
{
    clPrnJobData4V2 table;
    ClJobID id = jobId(1, "09101112");
    EXPECT_FALSE(table.AddJobData(W("P"), W("IP_1"), &id, 0, nullptr));
    EXPECT_FALSE(table.AddJobData(nullptr, W("IP_1"), &id, 5, nullptr));
    EXPECT_FALSE(table.AddJobData(W("P"), W("IP_1"), nullptr, 5, nullptr));
    EXPECT_EQ(table.GetJobCountForDevice(W("P")), 0u);
    DWORD* list = nullptr;
    EXPECT_EQ(table.GetJobListForDevice(W("P"), &list), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(table.GetJobListForDevice(nullptr, &list), 0u);
    EXPECT_TRUE(table.GetPortName(5).empty());
}

TEST_F(JobTable, DuplicatesReadEarlierButDelSuccessReadsTheLaterAndMarksBoth)
{
    clPrnJobData4V2 table;
    ClJobID first = jobId(1, "01000000");
    ClJobID second = jobId(2, "02000000");
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_A"), &first, 7, nullptr));
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_B"), &second, 7, nullptr));
    ClJobID out;
    ASSERT_TRUE(table.GetDeviceJobId(W("P"), 7, &out));
    EXPECT_EQ(out.Data1, 1u);
    EXPECT_EQ(table.GetPortName(7), W("IP_A"));
    EXPECT_EQ(table.GetDelSuccess(W("P"), 7), 0u);
    EXPECT_TRUE(table.SetDelSuccess(W("P"), 7));
    EXPECT_EQ(table.GetDelSuccess(W("P"), 7), 1u);
    ASSERT_TRUE(table.RemoveJobData(W("P"), &first));
    EXPECT_EQ(table.GetDelSuccess(W("P"), 7), 1u); // the second was marked as well
    EXPECT_EQ(table.GetPortName(7), W("IP_B"));
}

TEST_F(JobTable, ANewSendOfATrackedJobTakesOverItsRecordAndTheSameSendChangesNothing)
{
    clPrnJobData4V2 table;
    ClJobID first = jobId(1, "01000000");
    ClJobID resent = jobId(1, "01000009");
    ClJobID other = jobId(3, "03000000");
    EXPECT_EQ(table.ReplaceJobData(W("P"), W("IP_A"), &first, 7, nullptr), DWORD(JOBSEND_NOT_TRACKED));
    EXPECT_EQ(table.GetJobCountForDevice(W("P")), 0u);
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_A"), &first, 7, nullptr));
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_A"), &other, 8, nullptr));
    ASSERT_TRUE(table.SetJobHANDLE(W("P"), 0x51, &first));
    ASSERT_TRUE(table.UpdateImpressionCompletedCnt(W("P"), &first, 3));
    DWORD value = 0;
    // Of another printer, or the same send again: nothing changes.
    EXPECT_EQ(table.ReplaceJobData(W("Q"), W("IP_A"), &resent, 7, nullptr), DWORD(JOBSEND_NOT_TRACKED));
    EXPECT_EQ(table.ReplaceJobData(W("P"), W("IP_A"), &first, 7, nullptr), DWORD(JOBSEND_DUPLICATE));
    ASSERT_TRUE(table.GetImpressionCompletedCnt(W("P"), 7, &value));
    EXPECT_EQ(value, 3u);
    // Once that send is over (cancelled or failed), the same id is a new send of its own.
    ASSERT_TRUE(table.SetDelSuccess(W("P"), 7));
    EXPECT_EQ(table.ReplaceJobData(W("P"), W("IP_A"), &first, 7, nullptr), DWORD(JOBSEND_REPLACED));
    EXPECT_EQ(table.GetDelSuccess(W("P"), 7), 0u);
    ASSERT_TRUE(table.SetDevPowOffErrFlg(W("P"), 7, 1));
    EXPECT_EQ(table.ReplaceJobData(W("P"), W("IP_A"), &first, 7, nullptr), DWORD(JOBSEND_REPLACED));
    // A send with an id of its own takes over a record in any state.
    ASSERT_TRUE(table.SetJobHANDLE(W("P"), 0x51, &first));
    ASSERT_TRUE(table.UpdateImpressionCompletedCnt(W("P"), &first, 3));
    ASSERT_TRUE(table.SetDelSuccess(W("P"), 7));
    ASSERT_TRUE(table.SetResetFlg(W("P"), 7, JOB_RESET_DATA, 0));
    ASSERT_TRUE(table.SetDevPowOffErrFlg(W("P"), 7, 1));

    char printer[] = "Office", machine[] = "\\\\host", document[] = "Resent", user[] = "carol";
    JOB_INFO_1A info = jobInfo(printer, machine, document, user);
    EXPECT_EQ(table.ReplaceJobData(W("P"), W("IP_B"), &resent, 7, &info), DWORD(JOBSEND_REPLACED));
    EXPECT_EQ(table.GetJobCountForDevice(W("P")), 2u);
    DWORD* list = nullptr;
    ASSERT_EQ(table.GetJobListForDevice(W("P"), &list), 2u);
    EXPECT_EQ(list[0], 7u);
    EXPECT_EQ(list[1], 8u);
    delete[] list;
    // The record is the resent job's, as new: the earlier send's device job, count and marks are gone.
    ClJobID out;
    ASSERT_TRUE(table.GetDeviceJobId(W("P"), 7, &out));
    EXPECT_EQ(memcmp(&out, &resent, sizeof out), 0);
    EXPECT_EQ(table.GetSystemJobId(W("P"), &first), 0u);
    EXPECT_EQ(table.GetSystemJobId(W("P"), &resent), 7u);
    EXPECT_FALSE(table.GetDeviceJobId2(W("P"), 0x51, &out));
    ASSERT_TRUE(table.GetImpressionCompletedCnt(W("P"), 7, &value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(table.GetDelSuccess(W("P"), 7), 0u);
    ASSERT_TRUE(table.GetResetFlg(W("P"), 7, &value));
    EXPECT_EQ(value, DWORD(JOB_RESET_NONE));
    ASSERT_TRUE(table.GetDevPowOffErrFlg(W("P"), 7, &value));
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(table.GetPortName(7), W("IP_B"));
    MsgJobInfo texts = {};
    ASSERT_TRUE(table.GetMessageJobInfo(W("P"), 7, &texts));
    EXPECT_STREQ(texts.Document, "Resent");
    EXPECT_STREQ(texts.MachineName, "host");
    table.DelMessageJobInfo(&texts);
    EXPECT_TRUE(table.RemoveJobData(W("P"), &resent));
    EXPECT_FALSE(table.GetDeviceJobId(W("P"), 7, &out));
}

// One thread ends a job; once its ending has begun no notice about the job runs for anyone else.
// An ending given back (the job still spools) leaves the job tracked and its notices go out again.
TEST_F(JobTable, OneThreadEndsAJobAndOtherNoticesStopOnceItBegins)
{
    clPrnJobData4V2 table;
    ClJobID id = jobId(41, "00000041"), other = jobId(42, "00000042");
    ASSERT_TRUE(table.AddJobData(W("P1"), W("TP1"), &id, 41, nullptr));
    int sent = 0;
    auto notice = [&] { ++sent; };
    EXPECT_TRUE(table.WhileTracked(W("P1"), 41, notice));
    EXPECT_FALSE(table.BeginJobEnd(W("P1"), &other)); // not tracked
    EXPECT_FALSE(table.BeginJobEnd(W("P2"), &id));
    EXPECT_TRUE(table.BeginJobEnd(W("P1"), &id));
    EXPECT_FALSE(table.BeginJobEnd(W("P1"), &id)); // another thread ends it already
    EXPECT_FALSE(table.WhileTracked(W("P1"), 41, notice));
    EXPECT_TRUE(table.CancelJobEnd(W("P1"), &id));
    EXPECT_TRUE(table.WhileTracked(W("P1"), 41, notice));
    // A new send of the job takes its record over: its own ending is still to come.
    ASSERT_TRUE(table.BeginJobEnd(W("P1"), &id));
    ASSERT_EQ(table.ReplaceJobData(W("P1"), W("TP1"), &other, 41, nullptr), DWORD(JOBSEND_REPLACED));
    EXPECT_TRUE(table.WhileTracked(W("P1"), 41, notice));
    EXPECT_TRUE(table.BeginJobEnd(W("P1"), &other));
    ASSERT_TRUE(table.RemoveJobData(W("P1"), &other));
    EXPECT_FALSE(table.WhileTracked(W("P1"), 41, notice));
    EXPECT_FALSE(table.WhileTracked(W("P1"), 0, notice));
    EXPECT_EQ(sent, 3);
}

TEST_F(JobTable, TextsFromJobInformationOrUnknown)
{
    clPrnJobData4V2 table;
    ClJobID id = jobId(1, "01000000");
    JOB_INFO_1A info = jobInfo(const_cast<LPSTR>("Office"), const_cast<LPSTR>("\\\\HOST"), const_cast<LPSTR>("doc.txt"),
                               nullptr);
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &id, 3, &info));
    JOB_INFO_1A other = jobInfo(nullptr, const_cast<LPSTR>("\\HOST"), nullptr, nullptr);
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &id, 4, &other));
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_2"), &id, 5, nullptr));
    ASSERT_TRUE(table.AddJobData(W("P"), nullptr, &id, 6, nullptr));

    MsgJobInfo texts = {};
    ASSERT_TRUE(table.GetMessageJobInfo(W("P"), 3, &texts));
    EXPECT_STREQ(texts.PrtName, "Office");
    EXPECT_STREQ(texts.MachineName, "HOST");
    EXPECT_STREQ(texts.Document, "doc.txt");
    EXPECT_STREQ(texts.UserName, "");
    EXPECT_TRUE(table.DelMessageJobInfo(&texts));
    EXPECT_EQ(texts.PrtName, nullptr);
    EXPECT_EQ(texts.UserName, nullptr);

    ASSERT_TRUE(table.GetMessageJobInfo(W("P"), 4, &texts));
    EXPECT_STREQ(texts.MachineName, "\\HOST"); // one backslash is not a UNC prefix
    table.DelMessageJobInfo(&texts);

    ASSERT_TRUE(table.GetMessageJobInfo(W("P"), 5, &texts));
    EXPECT_STREQ(texts.PrtName, "Unknown Printer");
    EXPECT_STREQ(texts.MachineName, "Unknown MachineName");
    EXPECT_STREQ(texts.Document, "Unknown Document");
    EXPECT_STREQ(texts.UserName, "Unknown UserName");
    table.DelMessageJobInfo(&texts);
    // The port given is kept without job information; only a missing port is unknown.
    EXPECT_EQ(table.GetPortName(5), W("IP_2"));
    EXPECT_EQ(table.GetPortName(6), W("Unknown Port"));
    EXPECT_FALSE(table.DelMessageJobInfo(nullptr));
}

TEST_F(JobTable, ResetCountAbsorbsFlagThreeUntilTheLimit)
{
    clPrnJobData4V2 table;
    ClJobID id = jobId(1, "01000000");
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &id, 9, nullptr));
    DWORD flag = 0;
    ASSERT_TRUE(table.GetResetFlg(W("P"), 9, &flag));
    EXPECT_EQ(flag, 1u);
    EXPECT_TRUE(table.SetResetFlg(W("P"), 9, 3, 2));
    EXPECT_TRUE(table.SetResetFlg(W("P"), 9, 3, 2));
    table.GetResetFlg(W("P"), 9, &flag);
    EXPECT_EQ(flag, 1u);
    EXPECT_TRUE(table.SetResetFlg(W("P"), 9, 3, 2));
    table.GetResetFlg(W("P"), 9, &flag);
    EXPECT_EQ(flag, 3u);

    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &id, 10, nullptr));
    table.SetResetFlg(W("P"), 10, 3, 1);
    EXPECT_TRUE(table.InitResetCount(W("P"), 10));
    table.SetResetFlg(W("P"), 10, 3, 1); // absorbed again after the count restarted
    table.GetResetFlg(W("P"), 10, &flag);
    EXPECT_EQ(flag, 1u);
    table.SetResetFlg(W("P"), 10, 2, 1); // other flags are set at once
    table.GetResetFlg(W("P"), 10, &flag);
    EXPECT_EQ(flag, 2u);
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &id, 11, nullptr));
    table.SetResetFlg(W("P"), 11, 3, -1);
    table.GetResetFlg(W("P"), 11, &flag);
    EXPECT_EQ(flag, 3u);
    EXPECT_FALSE(table.SetResetFlg(W("P"), 99, 3, 0));
}

TEST_F(JobTable, ImpressionCountOnlyGrows)
{
    clPrnJobData4V2 table;
    ClJobID id = jobId(1, "01000000");
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &id, 9, nullptr));
    DWORD count = 99;
    ASSERT_TRUE(table.GetImpressionCompletedCnt(W("P"), 9, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(table.UpdateImpressionCompletedCnt(W("P"), &id, 5));
    EXPECT_FALSE(table.UpdateImpressionCompletedCnt(W("P"), &id, 5));
    EXPECT_FALSE(table.UpdateImpressionCompletedCnt(W("P"), &id, 4));
    EXPECT_TRUE(table.UpdateImpressionCompletedCnt(W("P"), &id, 0x80000000u)); // unsigned comparison
    table.GetImpressionCompletedCnt(W("P"), 9, &count);
    EXPECT_EQ(count, 0x80000000u);
}

TEST_F(JobTable, HandlesAndIdsByEachKey)
{
    clPrnJobData4V2 table;
    ClJobID a = jobId(1, "01000000");
    ClJobID b = jobId(1, "01000000");
    b.JobText[20] = 'x'; // differs after the terminator: another job
    ClJobID empty = jobId(3, "");
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &a, 1, nullptr));
    ASSERT_TRUE(table.AddJobData(W("P"), W("IP_1"), &b, 2, nullptr));
    ASSERT_TRUE(table.AddJobData(W("Q"), W("IP_2"), &empty, 3, nullptr));
    EXPECT_EQ(table.GetSystemJobId(W("P")), 1u);
    EXPECT_EQ(table.GetSystemJobId(W("P"), &b), 2u);
    EXPECT_EQ(table.GetSystemJobId(W("p"), &b), 0u); // printer names are case-sensitive
    EXPECT_FALSE(table.SetJobHANDLE(W("P"), 0, &b));
    EXPECT_TRUE(table.SetJobHANDLE(W("P"), 0x55, &b));
    ClJobID out;
    ASSERT_TRUE(table.GetDeviceJobId2(W("P"), 0x55, &out));
    EXPECT_EQ(memcmp(&out, &b, sizeof out), 0);
    DWORD handle = 0;
    EXPECT_TRUE(table.GetJobHANDLE(W("P"), 2, &handle));
    EXPECT_EQ(handle, 0x55u);
    // An id whose job text is empty is copied out but reported as not usable.
    memset(&out, 0xEE, sizeof out);
    EXPECT_FALSE(table.GetDeviceJobId(W("Q"), 3, &out));
    EXPECT_EQ(out.Data1, 3u);
    // The port is looked up by job id alone.
    EXPECT_EQ(table.GetPortName(3), W("IP_2"));
    DWORD* list = nullptr;
    ASSERT_EQ(table.GetJobListForDevice(W("P"), &list), 2u);
    EXPECT_EQ(list[0], 1u);
    EXPECT_EQ(list[1], 2u);
    delete[] list;
    EXPECT_TRUE(table.SetDevPowOffErrFlg(W("P"), 2, 1));
    DWORD flag = 0;
    EXPECT_TRUE(table.GetDevPowOffErrFlg(W("P"), 2, &flag));
    EXPECT_EQ(flag, 1u);
    EXPECT_FALSE(table.GetDevPowOffErrFlg(W("P"), 0, &flag));
}

TEST_F(JobTable, DestructionSendsTheEndNoticeOfEveryJobLeftInOrder)
{
    {
        clPrnJobData4V2 table;
        ClJobID id = jobId(1, "01000000");
        table.AddJobData(W("P"), W("IP_1"), &id, 4, nullptr);
        table.AddJobData(W("Q"), W("IP_2"), &id, 2, nullptr);
        table.AddJobData(W("P"), W("IP_1"), &id, 8, nullptr);
        table.RemoveJobData(W("P"), &id); // removes job 4, the first with that id
    }
    std::vector<NoticeCall> calls = FakeNotices::instance().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].kind, "end");
    EXPECT_EQ(calls[0].printer, W("Q"));
    EXPECT_EQ(calls[0].jobId, 2u);
    EXPECT_EQ(calls[1].printer, W("P"));
    EXPECT_EQ(calls[1].jobId, 8u);
}

TEST_F(JobTable, EndedTrackingEmptiesTheTableSoThatEveryEndNoticeGoesOutOnce)
{
    {
        clPrnJobData4V2 table;
        ClJobID first = jobId(1, "01000000"), second = jobId(2, "02000000");
        table.AddJobData(W("P"), W("IP_1"), &first, 4, nullptr);
        table.AddJobData(W("P"), W("IP_1"), &second, 5, nullptr);
        table.EndTracking();
        EXPECT_EQ(table.GetJobCountForDevice(W("P")), 0u);
        EXPECT_FALSE(table.RemoveJobData(W("P"), &first)); // a late thread finds nothing to end
    }
    std::vector<NoticeCall> calls = FakeNotices::instance().calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].jobId, 4u);
    EXPECT_EQ(calls[1].jobId, 5u);
}

TEST_F(JobTable, ConcurrentAddersReadersAndRemovers)
{
    clPrnJobData4V2 table;
    const int perThread = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&table, t] {
            WString printer = t % 2 ? W("P") : W("Q");
            for (int i = 1; i <= perThread; ++i) {
                ClJobID id = jobId(static_cast<DWORD>(t * 1000 + i), "07000000");
                DWORD job = static_cast<DWORD>(t * 1000 + i);
                ASSERT_TRUE(table.AddJobData(printer.c_str(), W("IP_1"), &id, job, nullptr));
                table.UpdateImpressionCompletedCnt(printer.c_str(), &id, static_cast<DWORD>(i));
                DWORD* list = nullptr;
                if (table.GetJobListForDevice(printer.c_str(), &list))
                    delete[] list;
                EXPECT_FALSE(table.GetPortName(job).empty());
                if (i % 2 == 0) {
                    ASSERT_TRUE(table.RemoveJobData(printer.c_str(), &id));
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(table.GetJobCountForDevice(W("P")) + table.GetJobCountForDevice(W("Q")), 4u * perThread / 2);
}

} // namespace
