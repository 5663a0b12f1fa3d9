// The pipe server: job reports as the port monitor sends them, validated, announced and tracked.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "ClibDouble.h"
#include "FakeMessages.h"
#include "FakeNotices.h"
#include "PipeServer.h"
#include "SpoolerFixture.h"
#include "jtrkjobevent.h"

using namespace svctest;

namespace {

JobEventRequest request(DWORD message, const std::u16string& printer, DWORD job, DWORD data1,
                        const std::u16string& port = kPort)
{
    JobEventRequest r;
    memset(&r, 0, sizeof r);
    r.dwSize = sizeof r;
    r.dwMessageID = message;
    r.dwFlags = JOBEVENT_FLAG_ALWAYS;
    memcpy(r.wszPrnName, printer.c_str(), printer.size() * sizeof(WCHAR));
    r.dwJobId = job;
    ClJobID id = clJobId(data1, "10203040");
    memcpy(r.ClientJobId, &id, sizeof id);
    memcpy(r.wszPortName, port.c_str(), port.size() * sizeof(WCHAR));
    r.dwNup = 4;
    return r;
}

// The strings of the event that rejects a report of kPrinter's job with its document.
std::vector<std::u16string> rejected(DWORD job, const std::u16string& document)
{
    std::string number = std::to_string(job);
    return {kPrinter, std::u16string(number.begin(), number.end()), document};
}

class PipeServerTest : public SpoolerFixture {
protected:
    void SetUp() override
    {
        SpoolerFixture::SetUp();
        context = std::make_unique<Context>();
        context->get()->hAplh = 0x5A5A;
        context->get()->hPipe = CreateJobPipe();
        ASSERT_NE(context->get()->hPipe, INVALID_HANDLE_VALUE);
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WaitJobThread, context->get(), 0, nullptr));
        ASSERT_NE(thread, nullptr);
    }
    void TearDown() override
    {
        stop();
        CloseHandle(context->get()->hPipe);
        context.reset();
        SpoolerFixture::TearDown();
    }
    void stop()
    {
        if (!thread)
            return;
        context->stop();
        EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
        DWORD code = 99;
        GetExitCodeThread(thread, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(thread);
        thread = nullptr;
    }
    // One report as the monitor sends it: the reply is an empty message.
    void send(JobEventRequest r, DWORD size = sizeof(JobEventRequest), DWORD wait = NMPWAIT_USE_DEFAULT_WAIT)
    {
        BYTE reply[16];
        DWORD read = 99;
        ASSERT_TRUE(CallNamedPipeW(JTRK_SERVICE_PIPE_NAME, &r, size, reply, sizeof reply, &read, wait))
            << GetLastError();
        EXPECT_EQ(read, 0u);
    }
    std::vector<std::string> notices()
    {
        std::vector<std::string> kinds;
        for (const NoticeCall& call : FakeNotices::instance().calls())
            kinds.push_back(call.kind + " " + std::to_string(call.value));
        return kinds;
    }

    std::unique_ptr<Context> context;
    HANDLE thread = nullptr;
};

TEST_F(PipeServerTest, AStartReportIsAnnouncedTrackedAndWakesTheWatchThread)
{
    DWORD job = printedJob(u"minutes.doc");
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    EXPECT_EQ(notices(), (std::vector<std::string>{"start 0", "print 4", "status 1024"}));
    EXPECT_EQ(context->printers().GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_PRINTING));
    ClJobID id;
    ASSERT_TRUE(context->jobs().GetDeviceJobId(kPrinter.c_str(), job, &id));
    EXPECT_EQ(id.Data1, 0x42u);
    MsgJobInfo texts = {};
    ASSERT_TRUE(context->jobs().GetMessageJobInfo(kPrinter.c_str(), job, &texts));
    EXPECT_STREQ(texts.Document, "minutes.doc");
    context->jobs().DelMessageJobInfo(&texts);
    EXPECT_EQ(context->jobs().GetPortName(job), kPort);

    // A second job of a printer already watched is added the same way.
    DWORD next = printedJob();
    send(request(JOBEVENT_JOBSTART, kPrinter, next, 0x43));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 2u);
    EXPECT_EQ(context->printers().GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_PRINTING));
    EXPECT_TRUE(serviceEvents().empty());
    EXPECT_TRUE(FakeMessages::instance().messages().empty());
}

TEST_F(PipeServerTest, RefusedNoticesLeaveTheJobUntrackedAndAFailedAttributeNoticeShowsTheDialog)
{
    DWORD job = printedJob();
    FakeNotices::instance().startResult = -2;
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    FakeNotices::instance().startResult = 0;
    FakeNotices::instance().pausedAnswer = -1;
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    FakeNotices::instance().pausedAnswer = 0;
    FakeNotices::instance().printResult = -1;
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 1u);
    std::vector<MessageCall> messages = FakeMessages::instance().messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].msgNo, 1022);
    EXPECT_EQ(messages[0].textId, 325u);
    EXPECT_EQ(messages[0].jobId, job);
}

TEST_F(PipeServerTest, MalformedReportsAreAnsweredAndIgnored)
{
    JobEventRequest shortOne = request(JOBEVENT_JOBSTART, kPrinter, 5, 0x42);
    shortOne.dwSize = 1024;
    send(shortOne);
    send(request(0, kPrinter, 5, 0x42));
    EXPECT_TRUE(FakeNotices::instance().calls().empty());
    EXPECT_TRUE(serviceEvents().empty());
}

TEST_F(PipeServerTest, RejectedReportsWriteAnEventUntilAFirstVersionDeviceReported)
{
    DWORD job = printedJob(u"budget.xls");
    send(request(7, kPrinter, job, 0x42));
    send(request(JOBEVENT_JOBSTART, u"", 12345, 0x42));
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, 0xC000000Fu);
    EXPECT_EQ(events[0].strings, rejected(job, u"budget.xls"));
    EXPECT_EQ(events[1].strings, (std::vector<std::u16string>{u"", u"12345"}));

    // A first-version device: the printer is activated, nothing is announced or kept, and later
    // rejections stay silent.
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0));
    EXPECT_TRUE(FakeNotices::instance().calls().empty());
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    send(request(7, kPrinter, job, 0x42));
    EXPECT_EQ(serviceEvents().size(), 2u);
    // The port is known now: the next report of a current device activates the printer.
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    EXPECT_EQ(context->printers().GetPortPrinterStatus(kPort.c_str(), kPrinter.c_str()), DWORD(SDKSTATE_PRINTING));
}

TEST_F(PipeServerTest, ARequeuedReportMarksThePowerOffWhateverTheDeviceBefore)
{
    DWORD job = printedJob();
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    send(request(JOBEVENT_JOBSTART, kPrinter, 999, 0)); // a first-version report in between
    send(request(JOBEVENT_REQUEUED, kPrinter, job, 0));
    DWORD flag = 0;
    ASSERT_TRUE(context->jobs().GetDevPowOffErrFlg(kPrinter.c_str(), job, &flag));
    EXPECT_EQ(flag, 1u);
}

TEST_F(PipeServerTest, NamesFilledToTheEndAreCutAtTheirLastCharacter)
{
    JobEventRequest r = request(JOBEVENT_JOBSTART, kPrinter, 77, 0x42);
    for (WCHAR& c : r.wszPrnName)
        c = u'P';
    for (WCHAR& c : r.wszPortName)
        c = u'Q';
    send(r);
    // The printer (220 characters) is unknown to the spooler: one warning names it whole.
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0x80000003u);
    EXPECT_EQ(events[0].strings[0], std::u16string(220, u'P'));
    EXPECT_EQ(context->printers().GetPortPrinterStatus(std::u16string(63, u'Q').c_str(), std::u16string(220, u'P').c_str()),
              0u);
}

TEST_F(PipeServerTest, BackToBackReportsAreAllKept)
{
    const int jobs = 40;
    for (int i = 1; i <= jobs; ++i)
        send(request(JOBEVENT_JOBSTART, kPrinter, static_cast<DWORD>(i), 0x100 + i));
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), DWORD(jobs));
}

// A client that connects and sends nothing holds the one instance only for the pipe's time-out.
TEST_F(PipeServerTest, ASilentClientIsLetGoAndTheNextReportIsTracked)
{
    HANDLE silent = CreateFileW(JTRK_SERVICE_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(silent, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD job = printedJob();
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42), sizeof(JobEventRequest), 20 * JTRK_PIPE_TIMEOUT_MS);
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 1u);
    // The silent client was disconnected: its end is broken.
    BYTE byte = 0;
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(silent, &byte, 1, &read, nullptr));
    CloseHandle(silent);
    EXPECT_TRUE(serviceEvents().empty());
}

// A current device's job is traced by the job text of its client job id: a report without one
// is refused like a report without a job id.
TEST_F(PipeServerTest, AStartReportWithoutJobTextIsRejected)
{
    DWORD job = printedJob(u"blank.doc");
    JobEventRequest r = request(JOBEVENT_JOBSTART, kPrinter, job, 0x42);
    memset(r.ClientJobId + offsetof(ClJobID, JobText), 0, CLJOBID_JOBTEXT_BYTES);
    send(r);
    EXPECT_TRUE(FakeNotices::instance().calls().empty());
    EXPECT_EQ(context->jobs().GetJobCountForDevice(kPrinter.c_str()), 0u);
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0xC000000Fu);
    EXPECT_EQ(events[0].strings, rejected(job, u"blank.doc"));
}

// A spooler job without a document name.
DWORD jobWithoutDocument()
{
    HANDLE printer = nullptr;
    std::u16string name = kPrinter, datatype = u"RAW";
    if (!OpenPrinterW(name.data(), &printer, nullptr))
        return 0;
    DOC_INFO_1W info = {nullptr, nullptr, datatype.data()};
    DWORD job = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info));
    BYTE data[16] = {};
    DWORD written = 0;
    if (job && !(WritePrinter(printer, data, sizeof data, &written) && EndDocPrinter(printer)))
        job = 0;
    ClosePrinter(printer);
    return job;
}

TEST_F(PipeServerTest, AJobWithoutDocumentNameIsTrackedAndRejectedWithAnEmptyName)
{
    DWORD job = jobWithoutDocument();
    ASSERT_NE(job, 0u);
    send(request(JOBEVENT_JOBSTART, kPrinter, job, 0x42));
    MsgJobInfo texts = {};
    ASSERT_TRUE(context->jobs().GetMessageJobInfo(kPrinter.c_str(), job, &texts));
    EXPECT_STREQ(texts.Document, "");
    context->jobs().DelMessageJobInfo(&texts);
    send(request(7, kPrinter, job, 0x42));
    std::vector<Event> events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, 0xC000000Fu);
    EXPECT_EQ(events[0].strings, rejected(job, u""));
}

TEST_F(PipeServerTest, TheStopEventEndsAThreadThatWaitsForAClient)
{
    stop();
    // Nobody serves the pipe any more.
    JobEventRequest r = request(JOBEVENT_JOBSTART, kPrinter, 5, 0x42);
    BYTE reply[16];
    DWORD read = 0;
    EXPECT_FALSE(CallNamedPipeW(JTRK_SERVICE_PIPE_NAME, &r, sizeof r, reply, sizeof reply, &read, NMPWAIT_NOWAIT));
}

} // namespace
