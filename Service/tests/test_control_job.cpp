// The job-control thread: trace passes, device events and the endings of jobs towards the spooler
// and the print manager.
#include <gtest/gtest.h>

#include "ClibDouble.h"
#include "ControlJob.h"
#include "FakeMessages.h"
#include "FakeNotices.h"
#include "JobUtilities.h"
#include "SpoolerFixture.h"
#include "ThreadMessages.h"

using namespace svctest;

namespace {

const DmlpInstance kAplh = 0x5A5A;

std::vector<std::string> noticesOf(DWORD job)
{
    std::vector<std::string> kinds;
    for (const NoticeCall& call : FakeNotices::instance().calls()) {
        if (call.jobId == job)
            kinds.push_back(call.kind == "status" ? "status " + std::to_string(call.value) : call.kind);
    }
    return kinds;
}

class ControlJobTest : public SpoolerFixture {
protected:
    void SetUp() override
    {
        SpoolerFixture::SetUp();
        context = std::make_unique<Context>();
        context->get()->hAplh = kAplh;
        context->get()->GetPageCount = TRUE;
        ASSERT_TRUE(context->printers().SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
    }
    void TearDown() override
    {
        stopThread();
        context.reset();
        SpoolerFixture::TearDown();
    }

    void startThread()
    {
        unsigned id = 0;
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ControlJobThread, context->get(), 0, &id));
        ASSERT_NE(thread, nullptr);
        context->get()->dwControlJobThreadId = id;
        // The thread's queue exists once a post succeeds.
        ASSERT_TRUE(waitFor([&] { return PostThreadMessageW(id, WM_NULL, 0, 0); }));
    }
    void stopThread()
    {
        if (!thread)
            return;
        PostThreadMessageW(context->get()->dwControlJobThreadId, WM_QUIT, 0, 0);
        EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
        CloseHandle(thread);
        thread = nullptr;
    }
    // A trace pass over the printer's jobs, waited for.
    void tracePass(LPCWSTR printer)
    {
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_TRACEJOB,
                                       reinterpret_cast<WPARAM>(printer), reinterpret_cast<LPARAM>(done)));
        EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
        CloseHandle(done);
    }
    // Everything posted before has been handled.
    void settle() { tracePass(nullptr); }
    void postEvent(const ClJobID& id, BYTE reason)
    {
        auto* info = new JobEventInfo();
        info->ClJobID = id;
        info->Reason = reason;
        ASSERT_TRUE(PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_JOBEVENT,
                                       reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(info)));
    }

    std::unique_ptr<Context> context;
    HANDLE thread = nullptr;
};

TEST_F(ControlJobTest, APassStopsAtAJobStillRunningAndEndsTheCompletedOne)
{
    DWORD first = printedJob(), second = printedJob(), third = printedJob();
    ClJobID a = track(*context, first, "01000001");
    ClJobID b = track(*context, second, "01000002");
    ClJobID c = track(*context, third, "01000003");
    ClibDouble::instance().answerTrace(a, {DMLLIB_TRACE_COMPLETED, 0x00080001u, 4});
    ClibDouble::instance().answerTrace(b, {DMLLIB_TRACE_PROCESSING, 0x00080001u, 0});
    ClibDouble::instance().answerTrace(c, {DMLLIB_TRACE_COMPLETED, 0x00080001u, 0});
    ASSERT_TRUE(context->printers().ChangeDeviceThreadStatus(kPort.c_str(), 3, kPrinter.c_str()));
    startThread();
    tracePass(kPrinter.c_str());

    EXPECT_EQ(ClibDouble::instance().count("TraceJob"), 2u);
    EXPECT_EQ(noticesOf(first), (std::vector<std::string>{"status 1024", "status 1024", "status 268435456", "end"}));
    DWORD status = 0;
    EXPECT_FALSE(jobStatus(first, &status)); // sent to the printer: the spooler lets it go
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 2u);
    EXPECT_TRUE(noticesOf(third).empty());
    EXPECT_EQ(context->printers().GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_PRINTING));
}

TEST_F(ControlJobTest, AJobThePrintManagerHoldsIsRestartedNotSent)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "02000001");
    ClibDouble::instance().answerTrace(id, {DMLLIB_TRACE_COMPLETED, 0x00080001u, 0});
    FakeNotices::instance().pausedAnswer = 1;
    startThread();
    tracePass(kPrinter.c_str());
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 1024", "end"}));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(job, &status)); // restarted, not sent: still in the spooler
}

TEST_F(ControlJobTest, CancelledJobsEndOnlyWhenDeletedByTheServiceOrComplete)
{
    DWORD deleted = printedJob(), lost = printedJob();
    ClJobID a = track(*context, deleted, "03000001");
    ClJobID b = track(*context, lost, "03000002");
    ASSERT_TRUE(context->jobs().SetDelSuccess(kPrinter.c_str(), deleted));
    ClibDouble::instance().answerTrace(a, {DMLLIB_TRACE_CANCELLED, 0x00080001u, 0});
    ClibDouble::instance().answerTrace(b, {DMLLIB_TRACE_CANCELLED, 0x00080001u, 0});
    startThread();
    tracePass(kPrinter.c_str());
    EXPECT_EQ(noticesOf(deleted), (std::vector<std::string>{"status 1024", "status 4096", "end"}));
    DWORD status = 0;
    EXPECT_FALSE(jobStatus(deleted, &status));
    // The other is left to the watch thread's dialog and skipped from now on.
    DWORD flag = 0;
    ASSERT_TRUE(context->jobs().GetResetFlg(kPrinter.c_str(), lost, &flag));
    EXPECT_EQ(flag, DWORD(JOB_RESET_DATA));
    tracePass(kPrinter.c_str());
    EXPECT_EQ(ClibDouble::instance().count("TraceJob"), 2u);
}

TEST_F(ControlJobTest, AnUnknownJobTheDeviceHadRunIsMarkedAndATraceErrorEndsTheJob)
{
    DWORD ran = printedJob(), never = printedJob(), failed = printedJob(u"broken.txt");
    ClJobID a = track(*context, ran, "04000001");
    ClJobID b = track(*context, never, "04000002");
    ClJobID c = track(*context, failed, "04000003");
    ASSERT_TRUE(context->jobs().SetJobHANDLE(kPrinter.c_str(), 0x77, &a));
    ClibDouble::instance().answerTrace(a, {DMLLIB_TRACE_UNKNOWN, 0x00080001u, 0});
    ClibDouble::instance().answerTrace(b, {DMLLIB_TRACE_UNKNOWN, 0x00080001u, 0});
    ClibDouble::instance().answerTrace(c, {DMLLIB_TRACE_FAILED, 0x00080005u, 0});
    startThread();
    tracePass(kPrinter.c_str());
    DWORD flag = 0;
    context->jobs().GetResetFlg(kPrinter.c_str(), ran, &flag);
    EXPECT_EQ(flag, DWORD(JOB_RESET_POWER));
    context->jobs().GetResetFlg(kPrinter.c_str(), never, &flag);
    EXPECT_EQ(flag, DWORD(JOB_RESET_NONE));
    EXPECT_EQ(noticesOf(failed), (std::vector<std::string>{"status 2", "end"}));
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0xC0000017u);
    ASSERT_EQ(events[0].strings.size(), 4u);
    EXPECT_EQ(events[0].strings[0], u"Office");
    std::string number = std::to_string(failed);
    EXPECT_EQ(events[0].strings[1], std::u16string(number.begin(), number.end()));
    EXPECT_EQ(events[0].strings[2], u"broken.txt");
    EXPECT_EQ(events[0].strings[3], u"0x00080005");
}

TEST_F(ControlJobTest, ReasonTwentyOneWithSkipTraceEndsTheJobWithoutAskingTheDevice)
{
    context->get()->SkipTrace = TRUE;
    DWORD job = printedJob(), other = printedJob();
    ClJobID id = track(*context, job, "05000001");
    track(*context, other, "05000002");
    startThread();
    postEvent(id, TRACE_REASON_COMPLETED);
    settle();
    EXPECT_EQ(ClibDouble::instance().count("TraceJob"), 0u);
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 1024", "status 1024", "status 268435456", "end"}));
    EXPECT_TRUE(noticesOf(other).empty()); // an event handles its own job only
}

TEST_F(ControlJobTest, AnEventForNoJobStillFreesThePrinterAndImpressionsNeedPageCounting)
{
    ASSERT_TRUE(context->printers().ChangeDeviceThreadStatus(kPort.c_str(), 3, kPrinter.c_str()));
    startThread();
    postEvent(clJobId(9, "09000009"), 1);
    settle();
    EXPECT_EQ(context->printers().GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_AVAILABLE));

    DWORD job = printedJob();
    ClJobID id = track(*context, job, "06000001");
    context->jobs().SetJobHANDLE(kPrinter.c_str(), 0x31, &id);
    context->get()->GetPageCount = FALSE;
    auto* off = new JobImpressCntInfo{0x31, 12};
    ASSERT_TRUE(PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_JOBIMPRESSCNT,
                                   reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(off)));
    settle();
    DWORD count = 0;
    context->jobs().GetImpressionCompletedCnt(kPrinter.c_str(), job, &count);
    EXPECT_EQ(count, 0u);
    context->get()->GetPageCount = TRUE;
    auto* on = new JobImpressCntInfo{0x31, 12};
    ASSERT_TRUE(PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_JOBIMPRESSCNT,
                                   reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(on)));
    auto* executing = new JobExecutingInfo{0x44, clJobId(1, "unknown")};
    ASSERT_TRUE(PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_JOBEXECUTING,
                                   reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(executing)));
    settle();
    context->jobs().GetImpressionCompletedCnt(kPrinter.c_str(), job, &count);
    EXPECT_EQ(count, 12u);
}

TEST_F(ControlJobTest, ADeviceHandleIsLearnedFromTheExecutingEvent)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "07000001");
    startThread();
    auto* executing = new JobExecutingInfo{0x99, id};
    ASSERT_TRUE(PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_JOBEXECUTING,
                                   reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(executing)));
    settle();
    DWORD handle = 0;
    ASSERT_TRUE(context->jobs().GetJobHANDLE(kPrinter.c_str(), job, &handle));
    EXPECT_EQ(handle, 0x99u);
}

TEST_F(ControlJobTest, QuitEndsTheThreadAndFreesWhatWasStillQueued)
{
    startThread();
    // The thread handles messages one after another: these may still be queued when it quits.
    for (int i = 0; i < 50; ++i) {
        auto* info = new JobImpressCntInfo{1, 1};
        PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_JOBIMPRESSCNT,
                           reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(info));
    }
    stopThread();
    EXPECT_EQ(thread, nullptr);
}

TEST_F(ControlJobTest, NewJobsDuringTheEndStepKeepThePrinterWatched)
{
    startThread();
    clPrnComData& printers = context->printers();
    for (int round = 0; round < 40; ++round) {
        DWORD job = 1000 + round;
        ClJobID id = clJobId(job, "08000000");
        ClibDouble::instance().answerTrace(id, {DMLLIB_TRACE_FAILED, 0x00080005u, 0});
        LPCRITICAL_SECTION lock = printers.GetCriticalObj(kPort.c_str(), kPrinter.c_str());
        EnterCriticalSection(lock);
        context->jobs().AddJobData(kPrinter.c_str(), kPort.c_str(), &id, job, nullptr);
        if (printers.GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()) != SDKSTATE_PRINTING)
            printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str());
        LeaveCriticalSection(lock);
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        PostThreadMessageW(context->get()->dwControlJobThreadId, JTRK_MSG_TRACEJOB,
                           reinterpret_cast<WPARAM>(kPrinter.c_str()), reinterpret_cast<LPARAM>(done));
        // A job reported while the pass runs must find the printer watched afterwards.
        DWORD extra = 5000 + round;
        ClJobID extraId = clJobId(extra, "08000001");
        EnterCriticalSection(lock);
        context->jobs().AddJobData(kPrinter.c_str(), kPort.c_str(), &extraId, extra, nullptr);
        if (printers.GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()) != SDKSTATE_PRINTING)
            printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str());
        LeaveCriticalSection(lock);
        ASSERT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
        CloseHandle(done);
        ASSERT_EQ(printers.GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_PRINTING));
        context->jobs().RemoveJobData(kPrinter.c_str(), &extraId);
    }
}

// Ending one job leaves the user's open dialog about another job alone.
TEST_F(ControlJobTest, EndingAJobClosesOnlyItsOwnDialog)
{
    DWORD ending = printedJob(), asked = printedJob();
    ClJobID id = track(*context, ending, "0A000001");
    track(*context, asked, "0A000002");
    clPrnComData& printers = context->printers();
    printers.ChangeDeviceThreadlRetParley(kPort.c_str(), kPrinter.c_str(), 7);
    printers.ChangeDeviceThreadSysJobIdParley(kPort.c_str(), kPrinter.c_str(), asked);
    JobCompSuccess(context->get(), kPrinter.c_str(), ending, &id);
    EXPECT_EQ(noticesOf(ending).back(), "end");
    EXPECT_TRUE(FakeMessages::instance().cancelled().empty());
    EXPECT_EQ(printers.GetPrinterlRetParley(kPort.c_str(), kPrinter.c_str()), 7);
}

// A job the device completed while the spooler still spools it is ended by a later pass.
TEST_F(ControlJobTest, ACompletedJobStillSpoolingIsNotEndedYet)
{
    SpoolingJob spooling;
    ASSERT_NE(spooling.id, 0u);
    ClJobID id = track(*context, spooling.id, "0B000001");
    JobCompSuccess(context->get(), kPrinter.c_str(), spooling.id, &id);
    EXPECT_EQ(noticesOf(spooling.id), (std::vector<std::string>{"status 1024"}));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 1u);
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(spooling.id, &status));
    EXPECT_FALSE(status & JOB_STATUS_COMPLETE) << "not marked sent to the printer";
}

// A job cancelled at the device that the spooler restarts is ended, not deleted.
TEST_F(ControlJobTest, ACancelledJobThatTheSpoolerRestartsIsNotDeleted)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "0C000001");
    ASSERT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), job, JOB_CONTROL_PAUSE, kPort.c_str()), 0);
    ASSERT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), job, JOB_CONTROL_RESTART, kPort.c_str()), 0);
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(job, &status));
    ASSERT_TRUE(status & JOB_STATUS_RESTART) << std::hex << status;
    JobCompCancel(context->get(), kPrinter.c_str(), job, &id);
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 1024", "end"}));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    EXPECT_TRUE(jobStatus(job, &status)) << "still in the spooler";
}

// A trace that could not be asked (result 0) is no trace error: the job stays tracked.
TEST_F(ControlJobTest, ATraceThatWasNotAskedEndsNothing)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "0D000001");
    TraceJobError(context->get(), kPrinter.c_str(), job, &id, 0);
    EXPECT_TRUE(noticesOf(job).empty());
    EXPECT_TRUE(serviceEvents().empty());
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 1u);
}

} // namespace
