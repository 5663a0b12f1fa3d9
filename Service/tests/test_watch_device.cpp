// The device-watch thread: settings, polls of the device status, dialogs and their answers, and
// the thread's queue and stop handling, on the client-library double and the spooler host.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <thread>

#include "ClibDouble.h"
#include "ControlJob.h"
#include "DevMsgTable.h"
#include "FakeMessages.h"
#include "FakeNotices.h"
#include "JobUtilities.h"
#include "MsgMgr.h"
#include "Road.h"
#include "ServiceEvents.h"
#include "SpoolerFixture.h"
#include "ThreadMessages.h"
#include "TraceLog.h"
#include "WatchDevice.h"
#include "pal/testhooks.h"
#include "resource.h"

using namespace svctest;

namespace {

const DmlpInstance kAplh = 0x5A5A;
const DWORD kJam = 0x00000301;
const DWORD kAddress = 0x0500007F;
const DmlpBinding kBinding = reinterpret_cast<DmlpBinding>(0xB0);

std::pair<DMLLIB_RESULTCODE, StatusInfo> answered(DWORD code, BYTE online = 1)
{
    return {0x00040001u, StatusInfo{online, code, 0}};
}

std::pair<DMLLIB_RESULTCODE, StatusInfo> failed(DMLLIB_RESULTCODE code)
{
    return {code, StatusInfo{}};
}

std::vector<std::string> noticesOf(DWORD job)
{
    std::vector<std::string> kinds;
    for (const NoticeCall& call : FakeNotices::instance().calls()) {
        if (call.jobId == job) {
            char text[32];
            snprintf(text, sizeof text, "%s %lx", call.kind.c_str(), static_cast<unsigned long>(call.value));
            kinds.push_back(call.kind == "status" ? text : call.kind);
        }
    }
    return kinds;
}

std::vector<DWORD> textsSent()
{
    std::vector<DWORD> ids;
    for (const MessageCall& call : FakeMessages::instance().messages())
        ids.push_back(call.textId);
    return ids;
}

class WatchDeviceTest : public SpoolerFixture {
protected:
    void SetUp() override
    {
        SpoolerFixture::SetUp();
        palSetTimeScale(0.01);
        context = std::make_unique<Context>();
        context->get()->hAplh = kAplh;
        context->get()->Sleep = 2000;
        context->get()->StraightDelete = TRUE;
        ASSERT_TRUE(context->printers().SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
        msgmEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        param = NewDeviceThreadParam(kPrinter.c_str(), kPort.c_str(), context->get());
        param->ullMsgmEvent = reinterpret_cast<ULONGLONG>(msgmEvent);
        SetDevMsgTextId(GetDevMsgRecordCLIB(DEVSTATUS_NO_ANSWER), 0);
    }
    void TearDown() override
    {
        FreeDeviceThreadParam(param);
        CloseHandle(msgmEvent);
        context.reset();
        FreeRetiredSubscribeContexts();
        palSetTimeScale(1.0);
        SpoolerFixture::TearDown();
    }

    void poll() { UpdateDevice(param, nullptr, msgmEvent, &subscriber); }
    DWORD errSent() { return context->printers().GetPrinterErrSent(kPort.c_str(), kPrinter.c_str()); }
    LONG dialog() { return context->printers().GetPrinterlRetParley(kPort.c_str(), kPrinter.c_str()); }
    void bindDevice()
    {
        context->printers().SetIPAddress2(kPort.c_str(), kAddress);
        context->printers().SetClibEpHandle2(kAddress, kBinding);
        context->printers().SetPort(47616);
    }
    DmlpBinding storedBinding()
    {
        DmlpBinding handle = nullptr;
        context->printers().GetClibEpHandle2(kAddress, &handle);
        return handle;
    }

    std::unique_ptr<Context> context;
    HANDLE msgmEvent = nullptr;
    DeviceThreadParam* param = nullptr;
    SubscribeContext subscriber{};
};

TEST(WatchSettings, IntervalAndPollingTimeAreClamped)
{
    testsupport::TempRoot root;
    std::string path = root.path() + "/watch.ini";
    auto write = [&](const char* text) { std::ofstream(path) << text; };
    std::u16string ini(path.begin(), path.end());
    write("");
    EXPECT_EQ(GetEventInterval(ini.c_str()), 300u);
    EXPECT_EQ(GetPollingTime(ini.c_str()), 20u);
    write("[Event]\r\nInterval=10\r\n[Device]\r\nPollingTime=1\r\n");
    EXPECT_EQ(GetEventInterval(ini.c_str()), 60u);
    EXPECT_EQ(GetPollingTime(ini.c_str()), 3u);
    write("[Event]\r\nInterval=100000\r\n[Device]\r\nPollingTime=100000\r\n");
    EXPECT_EQ(GetEventInterval(ini.c_str()), 3600u);
    EXPECT_EQ(GetPollingTime(ini.c_str()), 86400u);
    write("[Event]\r\nInterval=-5\r\n[Device]\r\nPollingTime=-1\r\n");
    EXPECT_EQ(GetEventInterval(ini.c_str()), 60u);
    EXPECT_EQ(GetPollingTime(ini.c_str()), 3u);
}

TEST_F(WatchDeviceTest, AJamIsNoticedOnceAndContinueAfterClearingResetsTheDialog)
{
    DWORD job = printedJob(u"jam.doc");
    ClJobID id = track(*context, job, "00000001");
    ClibDouble::instance().answerStatus({answered(kJam)});
    poll();
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 8"}));
    EXPECT_EQ(textsSent(), (std::vector<DWORD>{202}));
    EXPECT_EQ(errSent(), kJam);
    EXPECT_EQ(dialog(), 7);
    // The same status again: neither a new message nor a trace of the job.
    poll();
    EXPECT_EQ(textsSent().size(), 1u);
    EXPECT_EQ(ClibDouble::instance().count("TraceJob"), 0u);

    // Continue while the jam persists: the dialog stays, the status is sent again.
    FakeMessages::instance().answer(7, PARLEY_CONTINUE);
    DoParleyMessage(param, nullptr, msgmEvent);
    EXPECT_EQ(dialog(), 0);
    EXPECT_EQ(errSent(), kJam);
    // Continue after clearing: status 0x400, dialog and reported error reset.
    FakeMessages::instance().reset();
    ClibDouble::instance().answerStatus({answered(0)});
    NoticeParleyMessage(param, job, GetDevMsgRecordCLIB(kJam), msgmEvent);
    ASSERT_EQ(dialog(), 7);
    FakeMessages::instance().answer(7, PARLEY_CONTINUE);
    EXPECT_EQ(WaitForSingleObject(msgmEvent, 0), WAIT_OBJECT_0);
    DoParleyMessage(param, nullptr, msgmEvent);
    EXPECT_EQ(dialog(), 0);
    EXPECT_EQ(errSent(), DWORD(ERRSENT_NONE));
    EXPECT_EQ(noticesOf(job).back(), "status 400");
    EXPECT_EQ(FakeMessages::instance().cancelled(), (std::vector<DWORD>{7}));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 1u);
    (void)id;
}

TEST_F(WatchDeviceTest, ADialogTheMessageManagerNoLongerKnowsIsOfferedAgainAtTheNextPoll)
{
    DWORD job = printedJob(u"jam.doc");
    track(*context, job, "00000001");
    ClibDouble::instance().answerStatus({answered(kJam)});
    poll();
    ASSERT_EQ(dialog(), 7);
    FakeMessages::instance().receiveResult = -1; // not answered yet: the dialog stays
    poll();
    EXPECT_EQ(textsSent().size(), 1u);

    // The manager was started again: message 7 is unknown to it.
    FakeMessages::instance().receiveResult = MSGM_UNKNOWN_MESSAGE;
    FakeMessages::instance().sendResult = 9;
    poll();
    EXPECT_EQ(textsSent(), (std::vector<DWORD>{202, 202}));
    EXPECT_EQ(dialog(), 9);
    EXPECT_EQ(errSent(), kJam);
}

TEST_F(WatchDeviceTest, ASilentDeviceIsReboundWithTheNextPortAndItsJobHeld)
{
    bindDevice();
    DWORD job = printedJob(u"off.doc");
    track(*context, job, "00000002");
    ClibDouble::instance().answerStatus({failed(0x00040014u)});
    poll();
    // Two time-outs, a rebind with the stored port, the subscription renewed, the port one higher.
    EXPECT_EQ(ClibDouble::instance().resetBindPorts, (std::vector<WORD>{47616}));
    EXPECT_EQ(context->printers().GetPort(), 47617);
    EXPECT_EQ(storedBinding(), ClibDouble::instance().reboundHandle);
    EXPECT_EQ(ClibDouble::instance().count("GetStatusInfo"), 4u);
    std::vector<Event> events = serviceEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].id, JTRK_EVENT_REBOUND);
    EXPECT_EQ(events[0].strings, (std::vector<std::u16string>{kPrinter, u"47616"}));
    EXPECT_EQ(errSent(), DWORD(DEVSTATUS_NO_ANSWER));
    EXPECT_EQ(textsSent(), (std::vector<DWORD>{IDS_WIM_DEVICEPOWEROFF}));
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 80000000"}));

    // Hold while the device is off: the job leaves the table held, with its end notice.
    FakeMessages::instance().answer(7, PARLEY_HOLD);
    DoParleyMessage(param, nullptr, msgmEvent);
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    EXPECT_EQ(noticesOf(job).back(), "end");
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(job, &status));
    EXPECT_TRUE(status & JOB_STATUS_PAUSED);
    EXPECT_EQ(ClibDouble::instance().count("CancelJob"), 0u);
}

TEST_F(WatchDeviceTest, AFailedRebindChangesNothingAndAReleasedBindingLeavesTheList)
{
    bindDevice();
    DWORD job = printedJob();
    track(*context, job, "00000003");
    ClibDouble::instance().answerStatus({failed(0x00040014u)});
    ClibDouble::instance().resetBindResult = 0x00070005u;
    poll();
    EXPECT_EQ(context->printers().GetPort(), 47616);
    EXPECT_EQ(storedBinding(), kBinding);
    for (const Event& event : serviceEvents())
        EXPECT_NE(event.id, JTRK_EVENT_REBOUND);
    EXPECT_EQ(errSent(), DWORD(DEVSTATUS_NO_ANSWER));

    // A failed rebind that released the binding takes it off the list: no poll uses it again.
    ClibDouble::instance().failedRebindReleases = true;
    poll();
    EXPECT_EQ(storedBinding(), nullptr);
    size_t rebinds = ClibDouble::instance().count("ResetBind");
    poll();
    EXPECT_EQ(ClibDouble::instance().count("ResetBind"), rebinds);
    for (const ClibCall& call : ClibDouble::instance().calls()) {
        if (call.name == "GetStatusInfo" && call.binding) {
            EXPECT_EQ(call.binding, kBinding);
        }
    }
}

TEST_F(WatchDeviceTest, ASecondReadFailingOtherwiseCountsAsUnreadable)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "00000004");
    ClibDouble::instance().answerStatus({failed(0x00040014u), failed(0x00040005u)});
    StatusInfo status{};
    GetStatusInfo(context->get(), kPrinter.c_str(), &status, &id, kPort.c_str());
    EXPECT_EQ(status.byOnline, 1);
    EXPECT_EQ(status.lStatusCode, DEVSTATUS_UNREADABLE);
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, JTRK_EVENT_CLIB_ERROR);
}

TEST_F(WatchDeviceTest, NoStatusIsReadWithoutTheClientLibrary)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "00000005");
    context->get()->hAplh = 0;
    StatusInfo status{7, 9, 0};
    GetStatusInfo(context->get(), kPrinter.c_str(), &status, &id, kPort.c_str());
    EXPECT_EQ(status.lStatusCode, 9u);
    EXPECT_EQ(ClibDouble::instance().count("GetStatusInfo"), 0u);
}

TEST_F(WatchDeviceTest, AnOfflineDeviceIsReportedWithTheOfflineRow)
{
    StatusInfo status{3, 0x00000001, 0};
    EXPECT_EQ(GetStatusRecordCLIB(&status)->dwMsgNo, DWORD(WIM_OFFLINE));
    status.lStatusCode = kJam;
    EXPECT_EQ(GetStatusRecordCLIB(&status)->dwMsgNo, 1002u);
}

TEST_F(WatchDeviceTest, ResetJobsGetTheirNoticeOnceAndBlockFurtherPolls)
{
    DWORD job = printedJob();
    track(*context, job, "00000006");
    ASSERT_TRUE(context->jobs().SetResetFlg(kPrinter.c_str(), job, JOB_RESET_DATA, 0));
    poll();
    EXPECT_EQ(textsSent(), (std::vector<DWORD>{IDS_WIM_DATARESET}));
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 2"}));
    EXPECT_EQ(context->printers().GetPrinterResetFlgParley(kPort.c_str(), kPrinter.c_str()), 1u);
    poll();
    EXPECT_EQ(textsSent().size(), 1u);
    EXPECT_EQ(ClibDouble::instance().count("GetStatusInfo"), 0u);
    // Continue after a reset notice is taken as hold.
    FakeMessages::instance().answer(7, PARLEY_CONTINUE);
    DoParleyMessage(param, nullptr, msgmEvent);
    EXPECT_EQ(dialog(), 0);
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(job, &status));
    EXPECT_TRUE(status & JOB_STATUS_PAUSED);
}

TEST_F(WatchDeviceTest, DeleteWhileTheDeviceAnswersCancelsAtTheDevice)
{
    DWORD job = printedJob();
    track(*context, job, "00000007");
    ClibDouble::instance().answerStatus({answered(kJam)});
    poll();
    FakeMessages::instance().answer(7, PARLEY_DELETE);
    DoParleyMessage(param, nullptr, msgmEvent);
    EXPECT_EQ(ClibDouble::instance().count("CancelJob"), 1u);
    EXPECT_EQ(noticesOf(job)[1], "status 1000");
    EXPECT_EQ(dialog(), 0);
}

TEST_F(WatchDeviceTest, AJobGoneFromTheSpoolerFreesThePrinterAndAPollWithoutJobToo)
{
    context->printers().ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str());
    poll(); // no job at all
    EXPECT_EQ(context->printers().GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_AVAILABLE));
}

TEST_F(WatchDeviceTest, HoldOfANoAnswerDialogHoldsAfterTheFirstJobLeftTheSpooler)
{
    DWORD first = printedJob(u"first.doc");
    DWORD second = printedJob(u"second.doc");
    ClJobID firstId = track(*context, first, "00000008");
    // The silent device does not answer the cancel either: the job ends here.
    ClibDouble::instance().answerCancel(firstId, 0x00090014u);
    track(*context, second, "00000009");
    context->jobs().SetDevPowOffErrFlg(kPrinter.c_str(), second, 1);
    context->printers().ChangeDeviceThreadErrSent(kPort.c_str(), kPrinter.c_str(), DEVSTATUS_NO_ANSWER);
    ASSERT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), first, JOB_CONTROL_DELETE, kPort.c_str()), 0);
    ASSERT_TRUE(waitFor([&] { DWORD s; return !jobStatus(first, &s); }));
    UpdateSpool(param, nullptr, msgmEvent, &subscriber);
    ASSERT_EQ(dialog(), 7);
    EXPECT_EQ(errSent(), DWORD(DEVSTATUS_NO_ANSWER));
    FakeMessages::instance().answer(7, PARLEY_HOLD);
    DoParleyMessage(param, nullptr, msgmEvent);
    // Held as for a device that is off: only the first job's cancel reached the device.
    EXPECT_EQ(ClibDouble::instance().count("CancelJob"), 1u);
    EXPECT_EQ(noticesOf(second).back(), "end");
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(second, &status));
    EXPECT_TRUE(status & JOB_STATUS_PAUSED);
}

TEST_F(WatchDeviceTest, ADeviceThatGoesSilentHoldsThePrintersOtherJobs)
{
    DWORD jobs[3];
    const char* texts[3] = {"0000000C", "0000000D", "0000000E"};
    for (int i = 0; i < 3; ++i) {
        jobs[i] = printedJob();
        track(*context, jobs[i], texts[i]);
    }
    ClibDouble::instance().answerStatus({failed(0x00040014u)});
    poll();
    EXPECT_EQ(errSent(), DWORD(DEVSTATUS_NO_ANSWER));
    EXPECT_EQ(textsSent(), (std::vector<DWORD>{IDS_WIM_DEVICEPOWEROFF}));
    EXPECT_EQ(noticesOf(jobs[0]), (std::vector<std::string>{"status 80000000"}));
    for (int i = 1; i < 3; ++i) {
        DWORD status = 0, flag = 0;
        ASSERT_TRUE(jobStatus(jobs[i], &status));
        EXPECT_TRUE(status & JOB_STATUS_PAUSED) << i;
        context->jobs().GetDevPowOffErrFlg(kPrinter.c_str(), jobs[i], &flag);
        EXPECT_EQ(flag, 1u);
        EXPECT_EQ(noticesOf(jobs[i]), (std::vector<std::string>{"status 80000000"}));
    }
    // The next poll of the silent device sends nothing new.
    poll();
    EXPECT_EQ(textsSent().size(), 1u);
}

// A status that needs no dialog is sent as the device's only when its code is neither
// initialising (top byte 1) nor warming up (top byte 2); those read as answered.
TEST_F(WatchDeviceTest, InitialisingAndWarmingUpCodesAreSentAsAnswered)
{
    DWORD job = printedJob();
    track(*context, job, "00000020");
    DevMsgRecord record = {0, 0x01040301, 0, ERRACT_STATUS, PRINTER_STATUS_OUTPUT_BIN_FULL, 0, 0};
    JOB_INFO_1W info = {};
    info.Status = JOB_STATUS_PRINTING;
    for (DWORD raw : {0x01040301u, 0x02040301u, 0x03040301u})
        SendDeviceStatus(context->get(), kPrinter.c_str(), job, &record, &info, raw);
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 400", "status 400", "status 800"}));
}

TEST_F(WatchDeviceTest, APausedJobIsRestartedOnlyOnceItIsSpooled)
{
    SpoolingJob spooling;
    ASSERT_NE(spooling.id, 0u);
    DWORD spooled = printedJob();
    track(*context, spooling.id, "00000021");
    track(*context, spooled, "00000022");
    for (DWORD job : {spooling.id, spooled})
        ASSERT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), job, JOB_CONTROL_PAUSE, kPort.c_str()), 0);
    UpdateSpool(param, nullptr, msgmEvent, &subscriber);
    DWORD status = 0;
    ASSERT_TRUE(jobStatus(spooling.id, &status));
    EXPECT_FALSE(status & JOB_STATUS_RESTART) << std::hex << status;
    ASSERT_TRUE(jobStatus(spooled, &status));
    EXPECT_TRUE(status & JOB_STATUS_RESTART) << std::hex << status;
}

// A dialog that could not be shown leaves no status behind: the next poll shows it.
TEST_F(WatchDeviceTest, ADialogThatFailedIsShownAtTheNextPoll)
{
    DWORD job = printedJob();
    track(*context, job, "00000023");
    ClibDouble::instance().answerStatus({answered(kJam)});
    FakeMessages::instance().sendResult = -1;
    poll();
    EXPECT_EQ(errSent(), DWORD(ERRSENT_NONE));
    EXPECT_EQ(dialog(), 0);
    FakeMessages::instance().sendResult = 7;
    poll();
    EXPECT_EQ(errSent(), kJam);
    EXPECT_EQ(dialog(), 7);
}

TEST_F(WatchDeviceTest, AResetClosesOnlyADialogAboutItsOwnJob)
{
    DWORD mine = printedJob(), other = printedJob();
    track(*context, mine, "00000024");
    track(*context, other, "00000025");
    context->printers().ChangeDeviceThreadlRetParley(kPort.c_str(), kPrinter.c_str(), 7);
    context->printers().ChangeDeviceThreadSysJobIdParley(kPort.c_str(), kPrinter.c_str(), other);
    context->printers().ChangeDeviceThreadErrSent(kPort.c_str(), kPrinter.c_str(), kJam);
    ResetPrinterStatusAndParley(param, 7, mine);
    EXPECT_TRUE(FakeMessages::instance().cancelled().empty());
    EXPECT_EQ(dialog(), 7);
    EXPECT_EQ(errSent(), kJam);
    ResetPrinterStatusAndParley(param, 7, other);
    EXPECT_EQ(FakeMessages::instance().cancelled(), (std::vector<DWORD>{7}));
    EXPECT_EQ(dialog(), 0);
    EXPECT_EQ(errSent(), DWORD(ERRSENT_NONE));
}

class WatchThreadTest : public WatchDeviceTest {};

TEST_F(WatchThreadTest, AStartedJobIsPolledAndTheStopEndsTheThreadInAnyWait)
{
    DWORD job = printedJob();
    track(*context, job, "0000000A");
    ClibDouble::instance().answerStatus({failed(0x00040014u)});
    ASSERT_TRUE(context->printers().ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str()));
    // The first poll comes without a trace; the device does not answer, so the poll sits in its retry.
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("GetStatusInfo") >= 1; }));
    context->stop();
    EXPECT_TRUE(context->printers().TerminatePrinterInstance());
    EXPECT_FALSE(context->printers().WatchThreadsRunning());
}

// A job-control thread that takes trace requests and never answers them.
struct SilentControlThread {
    static unsigned __stdcall run(void* self)
    {
        auto* silent = static_cast<SilentControlThread*>(self);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == JTRK_MSG_TRACEJOB)
                ++silent->traces;
        }
        return 0;
    }
    std::atomic<int> traces{0};
};

TEST_F(WatchThreadTest, TheStopEndsAPollWaitingForItsTrace)
{
    SilentControlThread silent;
    unsigned id = 0;
    HANDLE control = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, SilentControlThread::run, &silent, 0, &id));
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(waitFor([&] { return PostThreadMessageW(id, WM_NULL, 0, 0); }));
    context->get()->dwControlJobThreadId = id;
    DWORD job = printedJob();
    track(*context, job, "0000000B");
    ASSERT_TRUE(context->printers().ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str()));
    // The second poll asks for a trace first and waits for it.
    ASSERT_TRUE(waitFor([&] { return silent.traces.load() >= 1; }));
    context->stop();
    EXPECT_TRUE(context->printers().TerminatePrinterInstance());
    EXPECT_FALSE(context->printers().WatchThreadsRunning());
    PostThreadMessageW(id, WM_QUIT, 0, 0);
    EXPECT_EQ(WaitForSingleObject(control, 20000), WAIT_OBJECT_0);
    CloseHandle(control);
}

TEST_F(WatchThreadTest, WithoutAMessageManagerEventTheThreadEnds)
{
    FakeMessages::instance().createEvent = false;
    Context other;
    other.get()->hAplh = kAplh;
    ASSERT_TRUE(other.printers().SetPrinterActive(kPrinter.c_str(), kPort.c_str(), FALSE));
    // The thread ended by itself: a start of a job finds no thread to tell.
    EXPECT_TRUE(waitFor([&] {
        return !other.printers().ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str());
    }));
}

// Watch threads whose [Event] Interval and [Device] PollingTime come from the program's INI file,
// written before the thread starts.
class WatchCadenceTest : public WatchDeviceTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GetModuleIniPath(iniPath, MAX_PATH));
        std::u16string folder(iniPath);
        folder.resize(folder.rfind(u'\\'));
        CreateDirectoryW(folder.c_str(), nullptr);
        setting(W("Event"), W("Interval"), W("60"));
        setting(W("Device"), W("PollingTime"), W("5"));
        WatchDeviceTest::SetUp();
    }
    void setting(LPCWSTR section, LPCWSTR key, LPCWSTR value)
    {
        ASSERT_TRUE(WritePrivateProfileStringW(section, key, value, iniPath));
    }
    // A job with its device handle, so that a poll does not trace it first.
    DWORD startedJob(const char* text)
    {
        DWORD job = printedJob();
        ClJobID id = track(*context, job, text);
        EXPECT_TRUE(context->jobs().SetJobHANDLE(kPrinter.c_str(), 0x100 + job, &id));
        EXPECT_TRUE(context->printers().ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str()));
        return job;
    }
    static std::vector<ULONGLONG> ticksOf(const std::string& name)
    {
        std::vector<ULONGLONG> ticks;
        for (const ClibCall& call : ClibDouble::instance().calls()) {
            if (call.name == name)
                ticks.push_back(call.tick);
        }
        return ticks;
    }
    static std::vector<ULONGLONG> gaps(const std::vector<ULONGLONG>& ticks)
    {
        std::vector<ULONGLONG> between;
        for (size_t i = 1; i < ticks.size(); ++i)
            between.push_back(ticks[i] - ticks[i - 1]);
        return between;
    }

    WCHAR iniPath[MAX_PATH] = {};
};

TEST_F(WatchCadenceTest, PollsComeEveryPollingTimeOfTheIni)
{
    startedJob("00000010");
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("GetStatusInfo") >= 4; }));
    context->stop();
    std::vector<ULONGLONG> between = gaps(ticksOf("GetStatusInfo"));
    // Never closer than the setting; the default 20 s would leave every gap longer.
    for (ULONGLONG gap : between)
        EXPECT_GE(gap, 5000u);
    EXPECT_LT(*std::min_element(between.begin(), between.end()), 20000u);
}

TEST_F(WatchCadenceTest, APollingTimeBelowThreeSecondsPollsEveryThree)
{
    setting(W("Device"), W("PollingTime"), W("1")); // read when the job starts
    startedJob("00000011");
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("GetStatusInfo") >= 4; }));
    context->stop();
    std::vector<ULONGLONG> between = gaps(ticksOf("GetStatusInfo"));
    for (ULONGLONG gap : between)
        EXPECT_GE(gap, 3000u);
    EXPECT_LT(*std::min_element(between.begin(), between.end()), 20000u);
}

TEST_F(WatchCadenceTest, TheSpoolerIsCheckedEverySecondBetweenPolls)
{
    setting(W("Device"), W("PollingTime"), W("3600"));
    DWORD job = startedJob("00000012");
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("GetStatusInfo") >= 1; }));
    // A job deleted in the spooler after the first poll is cancelled at the device long before the
    // next poll is due.
    ASSERT_EQ(SetPrintJobInfoOnCommand(kPrinter.c_str(), job, JOB_CONTROL_DELETE, kPort.c_str()), 0);
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("CancelJob") >= 1; }));
    EXPECT_EQ(ClibDouble::instance().count("GetStatusInfo"), 1u);
    EXPECT_LT(ticksOf("CancelJob")[0] - ticksOf("GetStatusInfo")[0], 60000u);
    context->stop();
}

TEST_F(WatchCadenceTest, AnIdleThreadRenewsItsSubscriptionEveryIntervalAndNeverPolls)
{
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("SubscribeEvent") >= 3; }));
    context->stop();
    EXPECT_TRUE(context->printers().TerminatePrinterInstance());
    // The subscription at the start, then one every 30 waits of 2 s.
    for (ULONGLONG gap : gaps(ticksOf("SubscribeEvent")))
        EXPECT_GE(gap, 60000u);
    EXPECT_EQ(ClibDouble::instance().count("GetStatusInfo"), 0u);
    EXPECT_EQ(ClibDouble::instance().count("TraceJob"), 0u);
}

TEST_F(WatchCadenceTest, EndJobsOfAnIdleThreadAreDroppedAndEachStartedJobRunsUntilItsEnd)
{
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("SubscribeEvent") >= 1; }));
    clPrnComData& printers = context->printers();
    // Ends with no job running change nothing: the start behind them runs the job.
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_AVAILABLE, kPrinter.c_str()));
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_AVAILABLE, kPrinter.c_str()));
    startedJob("00000013");
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("GetStatusInfo") >= 1; }));
    EXPECT_EQ(ClibDouble::instance().count("SubscribeEvent"), 2u); // the job steps subscribe
    // The end takes the thread back to idle, where the next start runs the job steps again.
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_AVAILABLE, kPrinter.c_str()));
    ASSERT_TRUE(printers.ChangeDeviceThreadStatus(kPort.c_str(), SDKSTATE_PRINTING, kPrinter.c_str()));
    ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("SubscribeEvent") >= 3; }));
    size_t polls = ClibDouble::instance().count("GetStatusInfo");
    ASSERT_TRUE(waitFor([&] { return ClibDouble::instance().count("GetStatusInfo") > polls; }));
    context->stop();
}

TEST_F(WatchDeviceTest, AJobTheDeviceLostGetsThePowerResetNoticeOnceAndDeleteCancelsIt)
{
    DWORD job = printedJob(u"lost.doc");
    ClJobID id = track(*context, job, "00000014");
    ClibDouble::instance().answerStatus({answered(0)});
    ClibDouble::instance().answerTrace(id, {DMLLIB_TRACE_UNKNOWN, 0x00080001u, 0});
    // Neither the device's jobs nor its log know the job: it is marked as lost to a power cut.
    poll();
    DWORD reset = 0;
    ASSERT_TRUE(context->jobs().GetResetFlg(kPrinter.c_str(), job, &reset));
    EXPECT_EQ(reset, DWORD(JOB_RESET_POWER));
    EXPECT_TRUE(textsSent().empty());
    // The next poll gives the notice: status 2 and the hold-or-delete message 324.
    poll();
    std::vector<MessageCall> messages = FakeMessages::instance().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].textId, DWORD(IDS_WIM_POWERRESET));
    EXPECT_EQ(messages[0].msgNo, WORD(WIM_POWERRESET));
    EXPECT_EQ(messages[0].jobId, job);
    EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 2"}));
    EXPECT_EQ(context->printers().GetPrinterResetFlgParley(kPort.c_str(), kPrinter.c_str()), 1u);
    size_t reads = ClibDouble::instance().count("GetStatusInfo");
    poll();
    EXPECT_EQ(FakeMessages::instance().messages().size(), 1u);
    EXPECT_EQ(ClibDouble::instance().count("GetStatusInfo"), reads);

    FakeMessages::instance().answer(7, PARLEY_DELETE);
    DoParleyMessage(param, nullptr, msgmEvent);
    EXPECT_EQ(noticesOf(job)[1], "status 1000");
    EXPECT_EQ(ClibDouble::instance().count("CancelJob"), 1u);
    // The trace pass takes the cancelled job off the table.
    EXPECT_NE(context->jobs().GetDelSuccess(kPrinter.c_str(), job), 0u);
    EXPECT_EQ(dialog(), 0);
    DWORD status = 0;
    EXPECT_TRUE(waitFor([&] { return !jobStatus(job, &status); }));
}

// The job-control thread ends a job while this thread waits for the device's answer to the named
// call (once).
void endMeanwhile(const char* call, const std::function<void()>& ending)
{
    auto done = std::make_shared<bool>(false);
    ClibDouble::instance().onCall = [=](const std::string& name) {
        if (name != call || *done)
            return;
        *done = true;
        std::thread(ending).join();
    };
}

// The notices after the job's end notice; none when the end notice is the last.
std::vector<std::string> afterEnd(DWORD job)
{
    std::vector<std::string> notices = noticesOf(job);
    auto end = std::find(notices.begin(), notices.end(), "end");
    EXPECT_NE(end, notices.end());
    return end == notices.end() ? notices : std::vector<std::string>(end + 1, notices.end());
}

// A poll that read the device while the job-control thread ended the job sends the print manager
// nothing more about it: neither the printing status nor, for a device error, its status and dialog.
TEST_F(WatchDeviceTest, APollOfAJobEndedWhileItReadTheDeviceSendsNothingAfterTheEnd)
{
    for (DWORD code : {DWORD(0), kJam}) {
        SCOPED_TRACE(code);
        FakeNotices::instance().reset();
        FakeMessages::instance().reset();
        DWORD job = printedJob();
        ClJobID id = track(*context, job, code ? "00000031" : "00000030");
        ClibDouble::instance().answerStatus({answered(code)});
        // The trace failed: the job ends with an error and stays listed in the spooler.
        endMeanwhile("GetStatusInfo",
                     [&] { TraceJobError(context->get(), kPrinter.c_str(), job, &id, 0x000A0005u); });
        poll();
        EXPECT_EQ(noticesOf(job), (std::vector<std::string>{"status 2", "end"}));
        EXPECT_TRUE(textsSent().empty());
        EXPECT_EQ(dialog(), 0);
        EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    }
}

// The watch thread's own ending of a job (a delete at the device) that the job-control thread ends
// first adds nothing: no status after the end notice, no second end, no "deletion failed" message.
TEST_F(WatchDeviceTest, ADeleteOfAJobEndedWhileTheDeviceCancelsItEndsItOnce)
{
    DWORD job = printedJob();
    ClJobID id = track(*context, job, "00000032");
    ClibDouble::instance().answerCancel(id, 0x000B0008u); // the device no longer has the job
    endMeanwhile("CancelJob", [&] { JobCompCancel(context->get(), kPrinter.c_str(), job, &id); });
    BOOL doCancel = TRUE;
    CancelPrintJob(param, job, &doCancel);
    EXPECT_TRUE(afterEnd(job).empty());
    EXPECT_TRUE(textsSent().empty());
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
}

// A printer's watch thread started as clPrnComData does, on a context of the test's own.
HANDLE startWatchThread(Context& context, LPCWSTR printer, LPCWSTR port, unsigned* id)
{
    DeviceThreadParam* param = NewDeviceThreadParam(printer, port, context.get());
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WatchDeviceThreadEx, param, 0, id));
}

// Ends a watch thread by JTRK_MSG_ENDTHREAD; true when it ended.
bool endWatchThread(HANDLE thread, unsigned id)
{
    bool ended = waitFor([&] { return PostThreadMessageW(id, JTRK_MSG_ENDTHREAD, 0, 0); }) &&
                 WaitForSingleObject(thread, 20000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// Stopping one of two printers on one device leaves the device's binding and subscription to the
// other; the ended thread's subscription context stays readable for the library's late callbacks.
TEST(SharedDevice, AWatchThreadEndingBeforeAnotherOfItsDeviceLeavesTheBindingToIt)
{
    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
    ClibDouble::instance().reset();
    FakeMessages::instance().reset();
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(road::addMonitor());
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", u"127.0.0.5", 9100)), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.5"), 0u);
    ASSERT_EQ(road::addPrinter(u"Annex", u"JT_127.0.0.5"), 0u);
    const DWORD address = ipv4(127, 0, 0, 5);
    {
        Context context;
        context.get()->hAplh = kAplh;
        unsigned officeId = 0, annexId = 0;
        HANDLE office = startWatchThread(context, W("Office"), W("JT_127.0.0.5"), &officeId);
        ASSERT_NE(office, nullptr);
        ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("SubscribeEvent") >= 1; }));
        HANDLE annex = startWatchThread(context, W("Annex"), W("JT_127.0.0.5"), &annexId);
        ASSERT_NE(annex, nullptr);
        ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("SubscribeEvent") >= 2; }));
        std::vector<ClibCall> calls = ClibDouble::instance().calls();
        auto* annexContext = static_cast<SubscribeContext*>(calls[1].callbackContext);
        ASSERT_NE(annexContext, nullptr);
        EXPECT_EQ(calls[1].printer, u"JT_127.0.0.5");
        // One binding for the device: the second subscription was given the first one's.
        EXPECT_EQ(calls[1].binding, ClibDouble::instance().subscribedHandle);

        ASSERT_TRUE(endWatchThread(annex, annexId));
        EXPECT_EQ(ClibDouble::instance().count("Unsubscribe"), 0u);
        DmlpBinding handle = nullptr;
        EXPECT_TRUE(context.printers().GetClibEpHandle2(address, &handle));
        EXPECT_EQ(handle, ClibDouble::instance().subscribedHandle);
        EXPECT_EQ(std::u16string(annexContext->wszPrinterName), u"Annex");
        EXPECT_EQ(annexContext->dwIPAddress, address);

        ASSERT_TRUE(endWatchThread(office, officeId));
        std::vector<ClibCall> after = ClibDouble::instance().calls();
        ASSERT_EQ(ClibDouble::instance().count("Unsubscribe"), 1u);
        EXPECT_EQ(after.back().name, "Unsubscribe");
        EXPECT_EQ(after.back().binding, ClibDouble::instance().subscribedHandle);
        EXPECT_FALSE(context.printers().GetClibEpHandle2(address, &handle));
    }
    FreeRetiredSubscribeContexts();
    EXPECT_EQ(host.stop(), 0);
}

// Two printers on one device share its binding: only the last watch thread to end releases it.
TEST(SharedDevice, TheLastWatchThreadOfADeviceUnsubscribesAndReleasesItsBinding)
{
    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
    ClibDouble::instance().reset();
    FakeMessages::instance().reset();
    ASSERT_TRUE(host.start());
    ASSERT_TRUE(road::addMonitor());
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", u"127.0.0.5", 9100)), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.5"), 0u);
    ASSERT_EQ(road::addPrinter(u"Annex", u"JT_127.0.0.5"), 0u);
    {
        Context context;
        context.get()->hAplh = kAplh;
        ASSERT_TRUE(context.printers().SetPrinterActive(u"Office", u"JT_127.0.0.5", FALSE));
        ASSERT_TRUE(context.printers().SetPrinterActive(u"Annex", u"JT_127.0.0.5", FALSE));
        ASSERT_TRUE(waitFor([] { return ClibDouble::instance().count("SubscribeEvent") >= 2; }));
        DmlpBinding handle = nullptr;
        ASSERT_TRUE(context.printers().GetClibEpHandle2(ipv4(127, 0, 0, 5), &handle));
        EXPECT_EQ(handle, ClibDouble::instance().subscribedHandle);
        context.stop();
        EXPECT_TRUE(context.printers().TerminatePrinterInstance());
        EXPECT_EQ(ClibDouble::instance().count("Unsubscribe"), 1u);
        EXPECT_FALSE(context.printers().GetClibEpHandle2(ipv4(127, 0, 0, 5), &handle));
    }
    FreeRetiredSubscribeContexts();
    EXPECT_EQ(host.stop(), 0);
}

} // namespace
