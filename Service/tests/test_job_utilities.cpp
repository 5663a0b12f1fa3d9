// Spooler job readers and commands, the classification of client-library results into event-log
// entries, and job removal at the device.
#include <gtest/gtest.h>

#include "ClibDouble.h"
#include "FakeMessages.h"
#include "FakeNotices.h"
#include "JobUtilities.h"
#include "SpoolerFixture.h"

using namespace svctest;

namespace {

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

class JobUtilitiesTest : public SpoolerFixture {
protected:
    void SetUp() override
    {
        SpoolerFixture::SetUp();
        context = std::make_unique<Context>();
        context->get()->hAplh = 0x5A5A;
        context->get()->GetPageCount = TRUE;
        ASSERT_TRUE(context->printers().SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
    }
    void TearDown() override
    {
        context.reset();
        SpoolerFixture::TearDown();
    }
    std::vector<std::string> notices()
    {
        std::vector<std::string> kinds;
        for (const NoticeCall& call : FakeNotices::instance().calls())
            kinds.push_back(call.kind + (call.kind == "status" ? " " + std::to_string(call.value) : ""));
        return kinds;
    }

    std::unique_ptr<Context> context;
};

TEST_F(JobUtilitiesTest, ReadersTellAnUnknownJobFromAFailure)
{
    DWORD job = printedJob(u"letter.txt");
    JOB_INFO_1W* info = nullptr;
    ASSERT_EQ(GetPrintJobInfo(kPrinter.c_str(), job, &info), JOBREAD_FOUND);
    EXPECT_EQ(std::u16string(info->pDocument), u"letter.txt");
    LocalFree(info);
    JOB_INFO_2W* info2 = nullptr;
    ASSERT_EQ(GetPrintJobInfo2(kPrinter.c_str(), job, &info2), JOBREAD_FOUND);
    LocalFree(info2);
    JOB_INFO_1A* infoA = nullptr;
    ASSERT_EQ(GetPrintJobInfoA(kPrinter.c_str(), job, &infoA), JOBREAD_FOUND);
    EXPECT_STREQ(infoA->pDocument, "letter.txt");
    LocalFree(infoA);
    EXPECT_EQ(GetPrintJobInfo(kPrinter.c_str(), 4242, &info), JOBREAD_UNKNOWN);
    EXPECT_EQ(GetPrintJobInfo(u"Nowhere", job, &info), JOBREAD_FAILED);

    EXPECT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), job, JOB_CONTROL_PAUSE, nullptr), 0);
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(job, &status));
    EXPECT_TRUE(status & JOB_STATUS_PAUSED);
    EXPECT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), 4242, JOB_CONTROL_PAUSE, kPort.c_str()), -1);
    EXPECT_EQ(SetPrintJobInfoOnCommand(u"Nowhere", job, JOB_CONTROL_PAUSE, kPort.c_str()), -1);
}

TEST(JobStatusBits, ClassifyTheSpoolersStatus)
{
    EXPECT_EQ(IsCompletePrintJob(JOB_STATUS_COMPLETE | JOB_STATUS_PRINTING), 1);
    EXPECT_EQ(IsCompletePrintJob(JOB_STATUS_PRINTED), 0);
    EXPECT_TRUE(IsPrintingPrintJob(JOB_STATUS_COMPLETE));
    EXPECT_TRUE(IsPrintingPrintJob(JOB_STATUS_PRINTED));
    EXPECT_FALSE(IsPrintingPrintJob(JOB_STATUS_SPOOLING | JOB_STATUS_PAUSED));
    EXPECT_TRUE(IsRemovePrintJob(JOB_STATUS_RESTART));
    EXPECT_TRUE(IsRemovePrintJob(JOB_STATUS_DELETING));
    EXPECT_FALSE(IsRemovePrintJob(JOB_STATUS_DELETED));
}

TEST_F(JobUtilitiesTest, ResultsAreClassifiedIntoTheirEvents)
{
    DWORD job = printedJob(u"plan.pdf");
    std::u16string jobText = wide(std::to_string(job));
    OutputClibErrEventLog(u"Office", 0x0008FFF1u, 117, job);   // no answer, whatever the call
    OutputClibErrEventLog(u"Office", 0x00080005u, 117, 0);     // a trace without job: nothing
    OutputClibErrEventLog(u"Office", 0x00080005u, 116, job);   // status query in another phase
    OutputClibErrEventLog(u"Office", 0x000A0005u, 120, job);   // get2 phase
    OutputClibErrEventLog(u"Office", 0x00080005u, 117, job);   // trace
    OutputClibErrEventLog(u"Office", 0x000B0005u, 118, job);   // cancel (list objects)
    OutputClibErrEventLog(u"Office", 0x000D0005u, 119, 0);     // subscription
    OutputClibErrEventLog(u"Office", 0x00050005u, 121, 0);     // release: never an event
    OutputClibErrEventLog(u"Office", 0x00050005u, 115, 0);     // check: never an event
    OutputClibErrEventLog(u"Office", 0x00050005u, 200, 0);     // an unknown call
    OutputClibErrEventLog(u"Office", 0, 117, job);             // no code
    OutputClibErrEventLog(u"Office", 0x0008FFF0u, 119, 0);     // no address
    OutputClibErrEventLog(u"Office", 0x0008FFF2u, 119, 0);     // not supported
    OutputClibSuccessEventLog(u"Office", 0x40000006);

    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 9u);
    EXPECT_EQ(events[0].id, 0x80000002u);
    EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(events[0].strings, (std::vector<std::u16string>{u"Office", u"プリンタからの応答がないこと",
                                                              u"以下の点についてご確認ください。\n・プリンタが本ソフトウェアによるジョブ追跡に対応していること\n・プリンタが利用可能であること"}));
    EXPECT_EQ(events[1].id, 0xC0000015u);
    EXPECT_EQ(events[1].strings, (std::vector<std::u16string>{u"Office", u"DMLLIB_GetStatusInfo", u"0x00080005"}));
    EXPECT_EQ(events[2].id, 0xC0000016u);
    EXPECT_EQ(events[2].strings, (std::vector<std::u16string>{u"Office", u"0x000a0005"}));
    EXPECT_EQ(events[3].id, 0xC0000017u);
    EXPECT_EQ(events[3].strings, (std::vector<std::u16string>{u"Office", jobText, u"plan.pdf", u"0x00080005"}));
    EXPECT_EQ(events[4].id, 0xC0000018u);
    EXPECT_EQ(events[5].id, 0x80000003u);
    EXPECT_EQ(events[5].type, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[5].strings, (std::vector<std::u16string>{u"Office", u"印刷実行時に再度イベント登録処理を行います。",
                                                              u"0x000d0005"}));
    EXPECT_EQ(events[6].strings[1], u"プリンタのIPアドレスが取得できないこと");
    EXPECT_EQ(events[6].strings[2], u"プリンタのポート設定が正しく行われているか確認してください。");
    EXPECT_EQ(events[7].strings[1], u"サポートされていないプリンタであること");
    EXPECT_EQ(events[8].id, 0x40000006u);
    EXPECT_EQ(events[8].type, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(events[8].strings, (std::vector<std::u16string>{u"Office"}));
    // A job the spooler no longer has: its document is an empty string.
    OutputCnclTrcEventLog(u"Office", 0x00090005u, 4242, 0xC0000018u);
    events = serviceEvents();
    EXPECT_EQ(events.back().strings, (std::vector<std::u16string>{u"Office", u"4242", u"", u"0x00090005"}));
}

TEST_F(JobUtilitiesTest, CancelOutcomesPerDeviceStatus)
{
    DWORD done = printedJob(), deleted = printedJob(), gone = printedJob(u"gone.txt"), late = printedJob();
    ClJobID a = track(*context, done, "0A000001");
    ClJobID b = track(*context, deleted, "0A000002");
    ClJobID c = track(*context, gone, "0A000003");
    ClJobID d = track(*context, late, "0A000004");
    ClibDouble::instance().answerCancel(a, 0x00090001u);
    ClibDouble::instance().answerCancel(b, 0x00090002u);
    ClibDouble::instance().answerCancel(c, 0x000B0008u);
    ClibDouble::instance().answerCancel(d, 0x00090014u);
    BOOL flag = 7;

    CancelJob(context->get(), kPrinter.c_str(), done, &flag, kPort.c_str());
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(context->jobs().GetDelSuccess(kPrinter.c_str(), done), 1u); // stays for the trace pass
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 4u);

    CancelJob(context->get(), kPrinter.c_str(), deleted, &flag, kPort.c_str());
    EXPECT_EQ(context->jobs().GetDelSuccess(kPrinter.c_str(), deleted), 1u);
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 4u);
    EXPECT_TRUE(notices().empty());

    CancelJob(context->get(), kPrinter.c_str(), gone, &flag, kPort.c_str());
    std::vector<MessageCall> messages = FakeMessages::instance().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].msgNo, 1019);
    EXPECT_EQ(messages[0].textId, 322u);
    EXPECT_EQ(messages[0].document, "Unknown Document");
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 3u);
    EXPECT_EQ(notices(), (std::vector<std::string>{"status 1024", "end"}));

    FakeNotices::instance().reset();
    CancelJob(context->get(), kPrinter.c_str(), late, &flag, kPort.c_str());
    EXPECT_EQ(flag, 0); // the device timed out: ended here, reported as not done
    EXPECT_EQ(notices(), (std::vector<std::string>{"status 1024", "end"}));
    EXPECT_EQ(ClibDouble::instance().count("TraceJob"), 1u); // the last count only for the status-8 job

    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 2u); // statuses 2 and 8; a time-out writes none
    EXPECT_EQ(events[0].id, 0xC0000018u);
    EXPECT_EQ(events[1].strings[2], u"gone.txt");

    // A job the table does not know: nothing asked, nothing ended.
    FakeNotices::instance().reset();
    EXPECT_EQ(CancelJob(context->get(), kPrinter.c_str(), 4242, &flag, kPort.c_str()), 0);
    EXPECT_TRUE(notices().empty());
    EXPECT_EQ(ClibDouble::instance().count("CancelJob"), 4u);
}

TEST_F(JobUtilitiesTest, AJobAlreadyDeletedOrResetIsNotReportedAgain)
{
    DWORD marked = printedJob(), reset = printedJob();
    ClJobID a = track(*context, marked, "0B000001");
    ClJobID b = track(*context, reset, "0B000002");
    context->jobs().SetDelSuccess(kPrinter.c_str(), marked);
    context->jobs().SetResetFlg(kPrinter.c_str(), reset, JOB_RESET_POWER, 0);
    ClibDouble::instance().answerCancel(a, 0x000B0008u);
    ClibDouble::instance().answerCancel(b, 0x000B0008u);
    BOOL flag = 0;
    CancelJob(context->get(), kPrinter.c_str(), marked, &flag, kPort.c_str());
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 2u); // deleted by us before: stays
    CancelJob(context->get(), kPrinter.c_str(), reset, &flag, kPort.c_str());
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 1u);
    EXPECT_EQ(serviceEvents().size(), 1u); // only the one already deleted, whose reset flag is clear
    EXPECT_TRUE(FakeMessages::instance().messages().empty());
}

TEST_F(JobUtilitiesTest, RemovalWithoutCancelNeverAsksTheDevice)
{
    DWORD job = printedJob();
    track(*context, job, "0C000001");
    BOOL doCancel = FALSE;
    RemovePrintJob(context->get(), kPrinter.c_str(), kPort.c_str(), job, &doCancel);
    EXPECT_EQ(doCancel, FALSE);
    EXPECT_EQ(ClibDouble::instance().count("CancelJob"), 0u);
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    EXPECT_EQ(notices(), (std::vector<std::string>{"end"}));

    DWORD other = printedJob();
    ClJobID id = track(*context, other, "0C000002");
    ClibDouble::instance().answerCancel(id, 0x00090014u);
    doCancel = TRUE;
    RemovePrintJob(context->get(), kPrinter.c_str(), kPort.c_str(), other, &doCancel);
    EXPECT_EQ(doCancel, FALSE); // the device timed out
}

} // namespace
