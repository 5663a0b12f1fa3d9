// The job slots of a RAW port end to end: StartDocPort, WritePort and EndDocPort against the
// simulated device, with the job reports read from the service's pipe and the event log.
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "RawSink.h"
#include "job_harness.h"
#include "silent_listener.h"

#include "pal/memory.h"
#include "pal/testhooks.h"

using namespace montest;
using jobmsg::Bytes;

namespace {

constexpr DWORD kJob = 42;
const std::u16string kPort = u"JT_RAW1";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x0000002A, 0x1234, 0xABCD, "D4D4D4D4",
                                                          "JOBINFO1-text-of-the-job-0123456789-ABCDEFGHIJK");
const std::string kStamp = "07090503";

Bytes textBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// The header with its client job id stamped as the device must receive it.
Bytes stampedHeader(const Bytes& header)
{
    Bytes stamped = header;
    size_t value = jobmsg::jobStart().size() + 20 + 2 + 4;
    std::memcpy(stamped.data() + value + 16, kStamp.data(), 8);
    return stamped;
}

void putDword(std::vector<BYTE>& bytes, size_t offset, DWORD value)
{
    for (int i = 0; i < 4; i++)
        bytes[offset + i] = BYTE(value >> (8 * i));
}

void putWide(std::vector<BYTE>& bytes, size_t offset, const char* text)
{
    for (size_t i = 0; text[i]; i++)
        bytes[offset + 2 * i] = BYTE(text[i]);
}

void putBytes(std::vector<BYTE>& bytes, size_t offset, const std::string& text)
{
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

class MonJobFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        SYSTEMTIME now = {2026, 3, 0, 7, 9, 5, 3, 0};
        ASSERT_TRUE(palSetTestClock(&now));
    }

    void TearDown() override
    {
        palResetTestClock();
        palSetTimeScale(1.0);
    }

    void startSink(devsim::RawSinkOptions options = {})
    {
        sink = loopbackSink(options);
        ASSERT_NE(sink, nullptr);
    }

    void openRawPort(const std::function<void(PortConfigData&)>& change = {})
    {
        PortConfigData config = rawPortConfig(kPort, sink ? sink->port() : 9);
        if (change)
            change(config);
        ASSERT_TRUE(h.openPort(config));
    }

    // The device's jobs once the given number have ended.
    std::vector<devsim::RawJob> deviceJobs(size_t count)
    {
        EXPECT_TRUE(sink->waitUntil(
            [count](const std::vector<devsim::RawJob>& jobs) {
                return jobs.size() >= count && jobs[count - 1].end != devsim::JobEnd::Open;
            },
            std::chrono::seconds(30)));
        return sink->jobs();
    }

    std::vector<std::pair<DWORD, DWORD>> commandsOf(DWORD job) const
    {
        std::vector<std::pair<DWORD, DWORD>> commands;
        for (auto command : h.spooler.commands())
            if (command.first == job)
                commands.push_back(command);
        return commands;
    }

    DWORD setPausedFlag(const std::vector<BYTE>& input)
    {
        return h.monitor.xcv(kPort, W("SetPausedFlag"), input.empty() ? nullptr : input.data(), DWORD(input.size()),
                             nullptr, 0);
    }

    JobHarness h;
    std::unique_ptr<devsim::RawSink> sink;
};

TEST_F(MonJobFlow, JobIsReportedWithTheIdTheDeviceReceives)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    Bytes header = jobmsg::typicalHeader(kId, 2);
    Bytes job = jobmsg::concat({header, textBytes("%!PS-Adobe-3.0 the job itself")});
    h.addJob(kJob, DWORD(job.size()), u"report.txt");
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    ASSERT_TRUE(h.write(job, &written));
    EXPECT_EQ(written, job.size());
    ASSERT_TRUE(h.waitForReports(1));
    ASSERT_TRUE(h.endDoc());

    std::vector<BYTE> expected(1028, 0);
    putDword(expected, 0, 1028);
    putDword(expected, 4, JOBEVENT_JOBSTART);
    putDword(expected, 8, 1);
    putWide(expected, 12, "PRN");
    putDword(expected, 456, kJob);
    putBytes(expected, 460, kStamp + "789-ABCDEFGHIJK");  // 23 bytes and NUL
    putBytes(expected, 484, std::string("\x2A\0\0\0\x34\x12\xCD\xAB", 8) + "D4D4D4D4" + kStamp +
                                "-text-of-the-job-0123456789-ABCDEFGHIJK");
    putWide(expected, 548, "JT_RAW1");
    putDword(expected, 676, 2);
    std::vector<JobReport> reports = h.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].bytes, expected);

    std::vector<devsim::RawJob> jobs = deviceJobs(1);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].end, devsim::JobEnd::SenderClosed);
    Bytes sent = jobmsg::concat({stampedHeader(header), textBytes("%!PS-Adobe-3.0 the job itself")});
    EXPECT_EQ(Bytes(jobs[0].data.begin(), jobs[0].data.end()), sent);
    EXPECT_EQ(commandsOf(kJob), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_TRUE(h.events().empty());
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_IDLE));
    EXPECT_EQ(h.entry()->dwJobId, 0u);
    EXPECT_EQ(h.entry()->wszPrinterName[0], 0);
    EXPECT_EQ(h.spooler.openHandles(), 0);
}

TEST_F(MonJobFlow, EverySplitOverTwoWritesGivesTheSameReportAndDeviceBytes)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    Bytes header = jobmsg::typicalHeader(kId, 3);
    Bytes job = jobmsg::concat({header, textBytes("%!PS job data after the header")});
    Bytes sent = jobmsg::concat({stampedHeader(header), textBytes("%!PS job data after the header")});
    std::vector<BYTE> firstReport;
    for (size_t cut = 1; cut < job.size(); cut++) {
        SCOPED_TRACE(cut);
        DWORD jobId = 100 + DWORD(cut);
        h.addJob(jobId, DWORD(job.size()));
        ASSERT_TRUE(h.startDoc(jobId));
        ASSERT_TRUE(h.writeAll(job, {cut, job.size()}));
        ASSERT_TRUE(h.endDoc());
        ASSERT_TRUE(h.waitForReports(cut));
        JobReport report = h.reports().back();
        EXPECT_EQ(report.jobId, jobId);
        putDword(report.bytes, 456, 0);
        if (firstReport.empty())
            firstReport = report.bytes;
        EXPECT_EQ(report.bytes, firstReport);
        std::vector<devsim::RawJob> jobs = deviceJobs(cut);
        EXPECT_EQ(Bytes(jobs[cut - 1].data.begin(), jobs[cut - 1].data.end()), sent);
    }
    // The reported id is the one in the bytes the device got.
    JobReport report = decodeReport(firstReport);
    Bytes deviceId(sent.begin() + jobmsg::jobStart().size() + 26, sent.begin() + jobmsg::jobStart().size() + 90);
    EXPECT_EQ(Bytes(report.clientJobId.begin() + 8, report.clientJobId.end()), Bytes(deviceId.begin() + 8, deviceId.end()));
}

TEST_F(MonJobFlow, ReportFieldsBelongToTheirJob)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    h.addJob(1, 500);
    ASSERT_TRUE(h.startDoc(1));
    ASSERT_TRUE(h.writeAll(jobmsg::concat({jobmsg::typicalHeader(kId, 4), textBytes("data")}), {4096}));
    ASSERT_TRUE(h.endDoc());
    // The next job's header carries no client job id and no N-up: nothing of the first job remains.
    h.addJob(2, 500);
    ASSERT_TRUE(h.startDoc(2));
    EXPECT_EQ(h.entry()->dwNup, 0u);
    EXPECT_EQ(h.entry()->szPauName[0], 0);
    ASSERT_TRUE(h.writeAll(jobmsg::concat({jobmsg::jobStart(), jobmsg::jobEnd(), textBytes("data")}), {4096}));
    ASSERT_TRUE(h.endDoc());
    ASSERT_TRUE(h.waitForReports(2));
    JobReport second = h.reports()[1];
    EXPECT_EQ(second.jobId, 2u);
    EXPECT_EQ(second.clientJobId, Bytes(64, 0));
    EXPECT_EQ(second.nup, 0u);
    EXPECT_EQ(second.label, "");
    // Untagged data is sent and not reported.
    h.addJob(3, 500);
    ASSERT_TRUE(h.startDoc(3));
    ASSERT_TRUE(h.writeAll(textBytes("%!PS-Adobe-3.0 untagged job data"), {7}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(deviceJobs(3)[2].data.size(), 32u);
    EXPECT_EQ(h.reports().size(), 2u);
}

TEST_F(MonJobFlow, AJobShorterThanItsHeaderIsStillSent)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    Bytes partial = jobmsg::jobStart();
    h.addJob(kJob, DWORD(partial.size()));
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    ASSERT_TRUE(h.write(partial, &written));
    EXPECT_EQ(written, partial.size());
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_HEADER_INCOMPLETE));
    EXPECT_TRUE(sink->jobs().empty() || sink->jobs()[0].data.empty());
    ASSERT_TRUE(h.endDoc());
    std::vector<devsim::RawJob> jobs = deviceJobs(1);
    EXPECT_EQ(Bytes(jobs[0].data.begin(), jobs[0].data.end()), partial);
    EXPECT_EQ(h.entry()->pHeaderBuf, nullptr);
    EXPECT_TRUE(h.reports().empty());
}

TEST_F(MonJobFlow, UnreachableDeviceReQueuesTheJobOnceAtTheFirstWrite)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    static int echoes;
    echoes = 0;
    g_MonSys.pfnIcmpSendEcho = [](HANDLE, IPAddr address, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD,
                                  DWORD timeout) -> DWORD {
        EXPECT_EQ(address, htonl(INADDR_LOOPBACK));
        EXPECT_EQ(timeout, 5000u);
        echoes++;
        SetLastError(IP_REQ_TIMED_OUT);
        return 0;
    };
    Bytes job = jobmsg::concat({jobmsg::typicalHeader(kId, 1), textBytes("data")});
    h.addJob(kJob, DWORD(job.size()), u"lost.doc");
    ASSERT_TRUE(h.startDoc(kJob));
    g_MonSys.pfnIcmpSendEcho = IcmpSendEcho;
    EXPECT_EQ(echoes, 6);
    EXPECT_TRUE(h.entry()->bStartDocFailed);
    std::vector<pal::EventLogEntry> events = h.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventId, 0xC0000011u);
    EXPECT_EQ(events[0].eventType, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].strings, (std::vector<std::u16string>{kPort, u"StartDoc"}));

    DWORD written = 0;
    ASSERT_TRUE(h.write(Bytes(job.begin(), job.begin() + 10), &written));
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(commandsOf(kJob),
              (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_PAUSE}, {kJob, JOB_CONTROL_RESTART}}));
    ASSERT_TRUE(h.waitForReports(1));
    ASSERT_TRUE(h.write(Bytes(job.begin() + 10, job.end()), &written));
    EXPECT_EQ(written, job.size() - 10);
    EXPECT_EQ(commandsOf(kJob).size(), 2u);  // once, not at every write
    ASSERT_TRUE(h.waitForReports(2));
    std::vector<JobReport> reports = h.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].messageId, DWORD(JOBEVENT_REQUEUED));
    EXPECT_EQ(reports[0].printer, u"PRN");
    EXPECT_EQ(reports[0].jobId, kJob);
    EXPECT_EQ(reports[0].clientJobId, Bytes(64, 0));
    EXPECT_EQ(reports[0].port, u"");
    EXPECT_EQ(reports[0].label, "");
    // The header came complete with the second write: a failed start reports it at once.
    EXPECT_EQ(reports[1].messageId, DWORD(JOBEVENT_JOBSTART));
    ASSERT_TRUE(h.endDoc());
    EXPECT_TRUE(sink->jobs().empty());
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_IDLE));
    EXPECT_EQ(h.events().size(), 1u);
}

TEST_F(MonJobFlow, WithoutAnEchoTheConnectDecides)
{
    startSink();
    openRawPort();
    struct Case {
        const char* what;
        HANDLE(WINAPI* create)(void);
        DWORD(WINAPI* send)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD);
    } cases[] = {
        {"no ICMP handle", []() -> HANDLE { return INVALID_HANDLE_VALUE; }, IcmpSendEcho},
        {"echoes that cannot be sent", IcmpCreateFile,
         [](HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID, DWORD, DWORD) -> DWORD {
             SetLastError(ERROR_ACCESS_DENIED);
             return 0;
         }},
    };
    DWORD job = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_MonSys.pfnIcmpCreateFile = c.create;
        g_MonSys.pfnIcmpSendEcho = c.send;
        h.addJob(job, 10);
        ASSERT_TRUE(h.startDoc(job));
        EXPECT_FALSE(h.entry()->bStartDocFailed);
        ASSERT_TRUE(h.writeAll(patternData(10), {10}));
        ASSERT_TRUE(h.endDoc());
        EXPECT_EQ(deviceJobs(job).size(), job);
        job++;
    }
    g_MonSys.pfnIcmpCreateFile = IcmpCreateFile;
    g_MonSys.pfnIcmpSendEcho = IcmpSendEcho;
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonJobFlow, SilentDeviceThroughThePlatformsEcho)
{
    startSink();
    openRawPort();
    h.setEcho("127.0.0.1", "silent");
    palSetTimeScale(0.002);
    h.addJob(kJob, 10);
    ASSERT_TRUE(h.startDoc(kJob));
    EXPECT_TRUE(h.entry()->bStartDocFailed);
    h.setEcho("127.0.0.1", "reply");
    h.addJob(kJob + 1, 10);
    ASSERT_TRUE(h.endDoc());
    ASSERT_TRUE(h.startDoc(kJob + 1));
    EXPECT_FALSE(h.entry()->bStartDocFailed);
    ASSERT_TRUE(h.endDoc());
}

TEST_F(MonJobFlow, DeviceClosingMidJobReQueuesIt)
{
    ASSERT_TRUE(h.startService());
    devsim::RawSinkOptions options;
    options.closeAfter = 64 * 1024;
    startSink(options);
    openRawPort([](PortConfigData& c) { c.dwRetryInfinity = 0; });
    Bytes data = patternData(64 * 1024, 1);
    h.addJob(kJob, 100 * DWORD(data.size()), u"big.doc");
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    BOOL result = TRUE;
    int writes = 0;
    while (commandsOf(kJob).empty() && writes++ < 1000) {
        result = h.write(data, &written);
        ASSERT_TRUE(result);
        EXPECT_EQ(written, data.size());
        sink->waitUntil([](const std::vector<devsim::RawJob>& jobs) {
            return !jobs.empty() && jobs[0].end != devsim::JobEnd::Open;
        }, std::chrono::milliseconds(20));
    }
    EXPECT_EQ(commandsOf(kJob),
              (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_PAUSE}, {kJob, JOB_CONTROL_RESTART}}));
    ASSERT_TRUE(h.waitForReports(1));
    EXPECT_EQ(h.reports()[0].messageId, DWORD(JOBEVENT_REQUEUED));
    std::vector<pal::EventLogEntry> events = h.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings, (std::vector<std::u16string>{kPort, u"WritePort"}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_IDLE));
}

TEST_F(MonJobFlow, DeviceTimingOutReQueuesTheJob)
{
    ASSERT_TRUE(h.startService());
    SilentListener device;
    ASSERT_TRUE(device.ok());
    openRawPort([&](PortConfigData& c) {
        c.dwPortNumber = device.port();
        c.dwRetryCount = 0;
        c.dwRetryInfinity = 0;
    });
    palSetTimeScale(0.05);
    h.addJob(kJob, 100);
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    ASSERT_TRUE(h.write(patternData(100), &written));
    EXPECT_EQ(written, 100u);
    EXPECT_EQ(commandsOf(kJob),
              (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_PAUSE}, {kJob, JOB_CONTROL_RESTART}}));
    ASSERT_TRUE(h.waitForReports(1));
    EXPECT_EQ(h.reports()[0].messageId, DWORD(JOBEVENT_REQUEUED));
    ASSERT_EQ(h.events().size(), 1u);
    EXPECT_EQ(h.events()[0].strings[1], u"WritePort");
    ASSERT_TRUE(h.endDoc());
}

TEST_F(MonJobFlow, RefusedDeviceIsNotReQueued)
{
    devsim::RawSinkOptions options;
    options.listen = false;
    startSink(options);
    openRawPort([](PortConfigData& c) {
        c.dwRetryCount = 0;
        c.dwRetryInfinity = 0;
    });
    h.addJob(kJob, 100);
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 7;
    ASSERT_TRUE(h.write(patternData(100), &written));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(commandsOf(kJob).empty());
    ASSERT_EQ(h.events().size(), 1u);
    EXPECT_EQ(h.events()[0].strings, (std::vector<std::u16string>{kPort, u"WritePort"}));
    ASSERT_TRUE(h.endDoc());
}

TEST_F(MonJobFlow, UserPauseDuringTheSendIsKeptAtTheEnd)
{
    devsim::RawSinkOptions options;
    options.closeDelay = std::chrono::milliseconds(200);
    startSink(options);
    openRawPort();
    h.addJob(kJob, 100);
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    ASSERT_TRUE(h.write(patternData(100), &written));
    // Paused while it was sent, resumed while the port closed the connection.
    h.spooler.setJobStatus(kJob, JOB_STATUS_PAUSED | JOB_STATUS_PRINTING);
    h.spooler.onSleep([&](DWORD) { h.spooler.setJobStatus(kJob, JOB_STATUS_PRINTING); });
    ASSERT_TRUE(h.endDoc());
    h.spooler.onSleep({});
    EXPECT_EQ(commandsOf(kJob), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER},
                                                                      {kJob, JOB_CONTROL_PAUSE}}));
}

TEST_F(MonJobFlow, SetPausedFlagPausesThatJobAtItsEnd)
{
    startSink();
    openRawPort();
    auto runJob = [&](DWORD jobId, const std::function<void()>& during) {
        h.addJob(jobId, 10);
        ASSERT_TRUE(h.startDoc(jobId));
        during();
        DWORD written = 0;
        ASSERT_TRUE(h.write(patternData(10), &written));
        ASSERT_TRUE(h.endDoc());
    };
    auto paused = [&](DWORD jobId) {
        for (auto command : commandsOf(jobId))
            if (command.second == JOB_CONTROL_PAUSE)
                return true;
        return false;
    };
    // Asked for the running job: paused at its end, and the request is used up.
    runJob(1, [&] { EXPECT_EQ(setPausedFlag({1, 0, 0, 0}), 0u); });
    EXPECT_TRUE(paused(1));
    EXPECT_FALSE(h.entry()->bPausedFlag);
    // Asked for a send that has ended (the job held and resumed later): the next start drops it,
    // and the resent job is not paused.
    EXPECT_EQ(setPausedFlag({3, 0, 0, 0}), 0u);
    runJob(3, [] {});
    EXPECT_FALSE(paused(3));
    EXPECT_FALSE(h.entry()->bPausedFlag);
    EXPECT_EQ(h.entry()->dwPausedJobId, 0u);
    // A request for another job is dropped when a different job starts.
    EXPECT_EQ(setPausedFlag({5, 0, 0, 0}), 0u);
    runJob(4, [] {});
    EXPECT_FALSE(paused(4));
    runJob(5, [] {});
    EXPECT_FALSE(paused(5));
    // No job id: no job is paused.
    runJob(6, [&] { EXPECT_EQ(setPausedFlag({}), 0u); });
    EXPECT_FALSE(paused(6));
    // A job already paused is not paused again.
    runJob(7, [&] {
        EXPECT_EQ(setPausedFlag({7, 0, 0, 0}), 0u);
        h.spooler.setJobStatus(7, JOB_STATUS_PAUSED);
    });
    EXPECT_FALSE(paused(7));
}

TEST_F(MonJobFlow, SlotsGuardTheirArgumentsAndThePortState)
{
    startSink();
    openRawPort();
    LPMONITOR2 table = h.monitor.table();
    DWORD written = 0;
    BYTE byte = 0;
    EXPECT_FALSE(table->pfnEndDocPort(h.port));
    EXPECT_FALSE(table->pfnWritePort(h.port, &byte, 1, &written));
    EXPECT_FALSE(table->pfnStartDocPort(nullptr, (LPWSTR)u"PRN", 1, 1, nullptr));
    EXPECT_FALSE(table->pfnStartDocPort(h.port, nullptr, 1, 1, nullptr));
    EXPECT_FALSE(table->pfnWritePort(nullptr, &byte, 1, &written));
    EXPECT_FALSE(table->pfnWritePort(h.port, &byte, 1, nullptr));
    EXPECT_FALSE(table->pfnEndDocPort(nullptr));
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_IDLE));
    EXPECT_TRUE(h.spooler.commands().empty());

    h.addJob(kJob, 10);
    ASSERT_TRUE(h.startDoc(kJob));
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_DOC_STARTED));
    h.addJob(kJob + 1, 10);
    EXPECT_FALSE(h.startDoc(kJob + 1));  // a port carries one job
    EXPECT_EQ(h.entry()->dwJobId, kJob);
    DELETE_PORT_DATA_1 remove = {};
    setField(remove.psztPortName, _countof(remove.psztPortName), kPort);
    remove.dwVersion = 1;
    EXPECT_EQ(h.monitor.xcv(JTRK_PORT_TYPE_NAME, W("DeletePort"), &remove, sizeof(remove), nullptr, 0), 170u);
    ASSERT_TRUE(h.write(patternData(10), &written));
    ASSERT_TRUE(h.endDoc());
    EXPECT_FALSE(h.endDoc());
    // A port whose Xcv object cannot be opened does not start the job.
    h.spooler.onXcv({});
    g_MonSys.pfnOpenPrinterW = [](LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW) -> BOOL { return FALSE; };
    EXPECT_FALSE(h.startDoc(kJob + 1));
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_IDLE));
}

TEST_F(MonJobFlow, PrintingGoesOnWithoutTheService)
{
    startSink();
    openRawPort();
    Bytes job = jobmsg::concat({jobmsg::typicalHeader(kId, 1), textBytes("the data")});
    h.addJob(kJob, DWORD(job.size()), u"\u5370\u5237.txt");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(job, {5}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(deviceJobs(1)[0].data.size(), job.size());
    std::vector<pal::EventLogEntry> events = h.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventId, 0xC0000012u);
    EXPECT_EQ(events[0].eventType, EVENTLOG_ERROR_TYPE);
    EXPECT_EQ(events[0].strings,
              (std::vector<std::u16string>{u"0x00000002", u"WritePort", u"PRN", u"42", u"\u5370\u5237.txt"}));
}

TEST_F(MonJobFlow, ASlowServiceDoesNotHoldTheJobLong)
{
    ASSERT_TRUE(h.startService());
    h.service.holdReplies(true);
    startSink();
    openRawPort();
    palSetTimeScale(0.05);
    Bytes job = jobmsg::concat({jobmsg::typicalHeader(kId, 1), textBytes("the data")});
    h.addJob(kJob, DWORD(job.size()));
    ASSERT_TRUE(h.startDoc(kJob));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(h.writeAll(job, {job.size()}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    ASSERT_TRUE(h.endDoc());
    h.service.holdReplies(false);
    EXPECT_EQ(deviceJobs(1)[0].data.size(), job.size());
    std::vector<pal::EventLogEntry> events = h.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventId, 0xC0000012u);
    EXPECT_EQ(events[0].strings[0], u"0x00000079");  // ERROR_SEM_TIMEOUT
}

TEST_F(MonJobFlow, AReportWaitsWhileTheServicesOneInstanceIsBusy)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    // Another client holds the pipe's one instance for a moment, as the report before this one does
    // until the service answers and listens again.
    HANDLE other = CreateFileW(W("\\\\.\\pipe\\vexil_jtrksvc2"), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        CloseHandle(other);
    });
    Bytes job = jobmsg::concat({jobmsg::typicalHeader(kId, 1), textBytes("the data")});
    h.addJob(kJob, DWORD(job.size()));
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(job, {job.size()}));
    release.join();
    ASSERT_TRUE(h.waitForReports(1));
    ASSERT_TRUE(h.endDoc());
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonJobFlow, ConfigAndPauseRequestsWhileAJobRuns)
{
    startSink();
    openRawPort();
    std::atomic<bool> done{false};
    std::thread xcv([&] {
        PortConfigData config = rawPortConfig(kPort, sink->port());
        for (int i = 0; !done; i++) {
            config.dwRetryCount = DWORD(i % 7);
            EXPECT_EQ(h.monitor.xcv(JTRK_PORT_TYPE_NAME, W("ConfigPort"), &config, sizeof(config), nullptr, 0), 0u);
            EXPECT_EQ(setPausedFlag({BYTE(i), 0, 0, 0}), 0u);
            DELETE_PORT_DATA_1 remove = {};
            setField(remove.psztPortName, _countof(remove.psztPortName), kPort);
            remove.dwVersion = 1;
            EXPECT_EQ(h.monitor.xcv(JTRK_PORT_TYPE_NAME, W("DeletePort"), &remove, sizeof(remove), nullptr, 0),
                      170u);
        }
    });
    for (DWORD job = 1; job <= 20; job++) {
        h.addJob(job, 1000);
        ASSERT_TRUE(h.startDoc(job));
        ASSERT_TRUE(h.writeAll(patternData(1000), {300}));
        ASSERT_TRUE(h.endDoc());
    }
    done = true;
    xcv.join();
    EXPECT_EQ(deviceJobs(20).size(), 20u);
}

TEST_F(MonJobFlow, SlotsAreTraced)
{
    startSink();
    openRawPort();
    h.addJob(kJob, 3);
    TraceCapture trace;
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    ASSERT_TRUE(h.write({1, 2, 3}, &written));
    ASSERT_TRUE(h.endDoc());
    std::vector<std::u16string> lines = trace.lines();
    for (const char16_t* line : {u"JTMXStartDocPort IN", u"JTMXStartDocPort OUT(TRUE)", u"JTMXWritePort IN",
                                 u"JTMXWritePort OUT(TRUE)", u"JTMXEndDocPort IN", u"JTMXEndDocPort OUT(TRUE)"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << std::string(line, line + 5);
}

} // namespace

namespace {

// Bytes a job left held (a spooler that never ended it) do not reach the next job.
TEST_F(MonJobFlow, BytesHeldFromAnEarlierJobAreDroppedAtTheNextStart)
{
    startSink();
    openRawPort();
    const char stale[] = "STALE BYTES OF ANOTHER JOB";
    h.entry()->pHeaderBuf = (LPBYTE)malloc(sizeof stale);
    std::memcpy(h.entry()->pHeaderBuf, stale, sizeof stale);
    h.entry()->cbHeaderBuf = sizeof stale;
    Bytes job = jobmsg::concat({jobmsg::typicalHeader(kId, 1), textBytes("data")});
    h.addJob(kJob, DWORD(job.size()), u"fresh.doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(job, {30, 1000}));
    ASSERT_TRUE(h.endDoc());
    std::vector<devsim::RawJob> jobs = deviceJobs(1);
    EXPECT_EQ(Bytes(jobs[0].data.begin(), jobs[0].data.end()), stampedHeader(job));
}

// Without memory for a report's buffers the report is skipped, and the job goes out whole.
TEST_F(MonJobFlow, JobReportWithoutMemoryIsSkippedAndTheJobGoesOn)
{
    ASSERT_TRUE(h.startService());
    startSink();
    openRawPort();
    Bytes job = jobmsg::concat({jobmsg::typicalHeader(kId, 1), textBytes("data")});
    h.addJob(kJob, DWORD(job.size()), u"tight.doc");
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 0;
    palFailAllocations(0, 1);
    BOOL wrote = h.write(job, &written);
    palFailAllocations(0, 0);
    ASSERT_TRUE(wrote);
    EXPECT_EQ(written, job.size());
    ASSERT_TRUE(h.endDoc());
    std::vector<devsim::RawJob> jobs = deviceJobs(1);
    EXPECT_EQ(Bytes(jobs[0].data.begin(), jobs[0].data.end()), stampedHeader(job));
    EXPECT_TRUE(h.reports().empty());
}

} // namespace
