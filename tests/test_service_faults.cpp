// Faults on the road of a tracked job, across processes: the device switched off, a job's
// connection dropped, the service or the spooler host restarted while a job is on the device.
// Whatever happens, every job ends sent, deleted, or held and then, resumed, sent; the print
// manager hears its end after its last start; and a job the service stopped tracking leaves the
// spooler at its retention.
#include <map>
#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "ServiceRoad.h"
#include "jtrkjobevent.h"

using namespace serviceroad;

namespace {

const auto kLimit = std::chrono::seconds(30);
// A job prints this long, unless the test ends it on the device: a slow test (a sanitizer build on
// a loaded machine) still finds it printing.
const std::string kPrintsUntilTold = "600000";

size_t count(const std::string& text, const std::string& word)
{
    size_t found = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size()))
        ++found;
    return found;
}

class ServiceFaults : public ServiceRoad {
protected:
    // Starts the device at an address of its own (DMLP has a fixed port) with its control socket,
    // and the message manager (none without a policy), which answers every message by policy; adds
    // the printer Office on the device.
    void startDevice(const std::string& address, const std::optional<std::string>& policy,
                     const std::string& printTime, const std::vector<std::string>& options = {})
    {
        device = address;
        ASSERT_TRUE(road::writeRootFile("config/icmp", device + " reply\n"));
        std::vector<std::string> args = {"--root", root.path(), "--device", device, "--raw", device + ":0",
                                         "--print-time", printTime, "--keep-done", "1000", "--control", controlSocket()};
        args.insert(args.end(), options.begin(), options.end());
        const uint16_t rawPort = startDmlpDevice(devsim, args, device);
        ASSERT_NE(rawPort, 0) << "devsim did not start";
        if (policy)
            messageManager.emplace(standin::startMessageManager({"--policy", *policy}));
        ASSERT_EQ(road::addPort(road::rawPort(wide("JT_" + device), wide(device), rawPort)), 0u);
        ASSERT_EQ(road::addPrinter(u"Office", wide("JT_" + device)), 0u);
    }
    std::string controlSocket() const { return root.file("devsim.ctl"); }
    std::string control(const std::vector<std::string>& words)
    {
        std::vector<std::string> args = {"--control", controlSocket()};
        args.insert(args.end(), words.begin(), words.end());
        testsupport::ChildProcess child(testsupport::besideSelf("devsim-ctl"), args);
        std::string out, err;
        EXPECT_EQ(child.finish(out, err), 0) << out << err;
        return out;
    }
    DWORD printJob(uint32_t number, size_t bytes = 4096)
    {
        auto id = jobmsg::ClientJobId::make(0x55000000 + number, 1, 2, "ABCDEFGH", "JOBINFO1 faults road");
        std::vector<BYTE> data = jobmsg::typicalHeader(id, 1);
        data.resize(data.size() + bytes, 'x');
        return print(data);
    }

    // The handle of a job the device has not been seen with before, once it lists one in the
    // state given ("" after the time limit).
    std::string newDeviceJob(const std::string& state = "7", const std::string& flag = "")
    {
        std::string found;
        spoolertest::eventually(
            [&] {
                std::istringstream lines(control({"jobs"}));
                for (std::string line; std::getline(lines, line);) {
                    std::istringstream words(line);
                    std::string address, handle, listedState, impressions, id, more;
                    words >> address >> handle >> listedState >> impressions >> id >> more;
                    if (address == device && listedState == state && more == flag && !seen.count(handle)) {
                        seen.insert(handle);
                        found = handle;
                        return true;
                    }
                }
                return false;
            },
            kLimit);
        return found;
    }
    // One job printed and tracked, printing on the device as the device job handle.
    void printTracked(DWORD& job, std::string& handle)
    {
        job = printJob(1);
        handle = newDeviceJob();
        ASSERT_FALSE(handle.empty()) << diagnostics();
        ASSERT_TRUE(tracked(job)) << diagnostics();
    }
    // A tracked job that the user holds at the device's paper-out error (no A4 paper).
    void printHeldAtPaperOut(const std::string& address, DWORD& job, std::string& handle)
    {
        ASSERT_NO_FATAL_FAILURE(startDevice(address, "hold", kPrintsUntilTold));
        ASSERT_TRUE(startService());
        ASSERT_NO_FATAL_FAILURE(printTracked(job, handle));
        control({"device", device, "hint", "0x03060002"});
        ASSERT_TRUE(spoolerSays(job, "paused")) << diagnostics();
    }
    void finishOnDevice(const std::string& handle)
    {
        control({"job", handle, "impressions", "1"});
        control({"job", handle, "state", "9", "reason", "21"});
    }
    // The device prints a new job to its end.
    void finishNextOnDevice()
    {
        const std::string handle = newDeviceJob();
        EXPECT_FALSE(handle.empty()) << diagnostics();
        if (!handle.empty())
            finishOnDevice(handle);
    }

    // The monitor stamps each send with the second it starts: a job sent again after this has a
    // client job id of its own.
    void awaitNextStamp()
    {
        SYSTEMTIME sent, now;
        GetLocalTime(&sent);
        ASSERT_TRUE(spoolertest::eventually([&] { return GetLocalTime(&now), now.wSecond != sent.wSecond; }, kLimit));
    }

    // The print manager's journal entries of one job, in order.
    std::vector<std::string> noticesOf(DWORD job)
    {
        std::vector<std::string> entries;
        for (const std::string& line : standin::journalLines(journal()))
            if (standin::jsonValue(line, "job") == std::to_string(job))
                entries.push_back(standin::jsonText(line, "entry"));
        return entries;
    }
    size_t startsOf(DWORD job)
    {
        std::vector<std::string> entries = noticesOf(job);
        return size_t(std::count(entries.begin(), entries.end(), "PrStatusNoticeStartExD"));
    }
    // The print manager's statuses of one job, in order.
    std::vector<std::string> statusesOf(DWORD job)
    {
        std::vector<std::string> statuses;
        for (const std::string& line : standin::journalLines(journal(), "PrStatusSendExD"))
            if (standin::jsonValue(line, "job") == std::to_string(job))
                statuses.push_back(standin::jsonValue(line, "status"));
        return statuses;
    }
    // Announced once, ended once, and said once to have printed, last; nothing said it was lost,
    // deleted or failed, and nothing came after the end notice.
    void expectEndedOnceAsPrinted(DWORD job)
    {
        std::vector<std::string> entries = noticesOf(job);
        EXPECT_EQ(std::count(entries.begin(), entries.end(), "PrStatusNoticeStartExD"), 1) << diagnostics();
        EXPECT_EQ(std::count(entries.begin(), entries.end(), "PrStatusNoticeEndD"), 1) << diagnostics();
        EXPECT_EQ(entries.empty() ? "" : entries.back(), "PrStatusNoticeEndD") << diagnostics();
        std::vector<std::string> statuses = statusesOf(job);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "268435456"), 1) << diagnostics();
        EXPECT_EQ(statuses.empty() ? "" : statuses.back(), "268435456") << diagnostics();
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "4096"), 0) << diagnostics();
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "2"), 0) << diagnostics();
    }
    bool tracked(DWORD job, size_t starts = 1)
    {
        return spoolertest::eventually([&] { return startsOf(job) >= starts; }, kLimit);
    }
    // The job's end notice came after its last start.
    bool endedAfterLastStart(DWORD job)
    {
        return spoolertest::eventually(
            [&] {
                std::vector<std::string> entries = noticesOf(job);
                auto start = std::find(entries.rbegin(), entries.rend(), "PrStatusNoticeStartExD");
                auto end = std::find(entries.rbegin(), entries.rend(), "PrStatusNoticeEndD");
                return start != entries.rend() && end != entries.rend() && end < start;
            },
            kLimit);
    }

    // How each job left the spooler host ("sent", "deleted", "retention").
    std::map<DWORD, std::string> history()
    {
        std::map<DWORD, std::string> left;
        std::istringstream lines(spoolertest::runProgram({"pal-spool", "history"}).output);
        DWORD id = 0;
        std::string how, when;
        while (lines >> id >> how >> when)
            left[id] = how;
        return left;
    }
    bool leaves(DWORD job, const std::string& how)
    {
        return spoolertest::eventually([&] { return history()[job] == how; }, kLimit);
    }
    bool spoolerSays(DWORD job, const std::string& word)
    {
        return spoolertest::eventually(
            [&] {
                std::istringstream lines(spoolertest::runProgram({"pal-spool", "jobs", "Office"}).output);
                for (std::string line; std::getline(lines, line);)
                    if (line.rfind(std::to_string(job) + "\t", 0) == 0 && line.find(word) != std::string::npos)
                        return true;
                return false;
            },
            kLimit);
    }
    void resume(DWORD job)
    {
        spoolertest::ProgramResult result =
            spoolertest::runProgram({"pal-spool", "job", "Office", std::to_string(job), "resume"});
        EXPECT_EQ(result.exitCode, 0) << result.output;
    }
    // How long the host keeps a job it delivered, read when it delivers one.
    void setRetention(DWORD ticks)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Office"), 0,
                                KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, W("RetentionMs"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ticks), sizeof ticks),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The numbers of the messages the message manager showed about a job.
    std::vector<std::string> messagesAbout(DWORD job)
    {
        std::vector<std::string> numbers;
        for (const std::string& line : standin::journalLines(standin::messageJournal()))
            if (standin::jsonValue(line, "event") == "\"message\"" &&
                line.find("\"job\":" + std::to_string(job) + ",") != std::string::npos)
                numbers.push_back(standin::jsonValue(line, "msgNo"));
        return numbers;
    }
    std::string diagnostics()
    {
        return fileText(journal()) + "\n--- messages\n" + fileText(standin::messageJournal()) + "\n--- spooler\n" +
               spoolertest::runProgram({"pal-spool", "jobs", "Office"}).output +
               spoolertest::runProgram({"pal-spool", "history"}).output + "\n--- device\n" + control({"jobs"}) +
               control({"log"}) + "\n--- service output\n" + fileText(root.file("run/services/JTRKSVC2.log")) +
               "\n--- pipe\n" + pipeTrace() + "--- monitor's failed reports: " + std::to_string(failedReports());
    }
    // The service's trace of the reports it took from its pipe.
    std::string pipeTrace()
    {
        std::istringstream lines(fileText(trace()));
        std::string taken;
        for (std::string line; std::getline(lines, line);)
            if (line.find("WaitJobThread") != std::string::npos)
                taken += line + "\n";
        return taken;
    }

    std::string device;
    std::optional<testsupport::ChildProcess> devsim;
    std::optional<testsupport::ChildProcess> messageManager;
    std::set<std::string> seen;
};

TEST_F(ServiceFaults, TheDeviceSwitchedOffUnderTwoJobsHoldsBothAndResumedTheyAreSent)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.18", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    // Each job is printed once the service took the one before: the service's pipe takes one
    // report at a time, and a monitor that waits longer than the pipe says gives up.
    const DWORD first = printJob(1);
    ASSERT_FALSE(newDeviceJob().empty());
    ASSERT_TRUE(tracked(first)) << diagnostics();
    const DWORD second = printJob(2);
    ASSERT_FALSE(newDeviceJob().empty());
    ASSERT_TRUE(tracked(second)) << diagnostics();

    control({"power", "off"});
    // Each job's power-off message is answered "hold": the spooler holds it from its start.
    for (DWORD job : {first, second}) {
        EXPECT_TRUE(spoolerSays(job, "paused")) << job << "\n" << diagnostics();
        EXPECT_TRUE(endedAfterLastStart(job)) << job << "\n" << diagnostics();
        // Asked once: as a device that does not answer, or one that lost the job by a reset.
        std::vector<std::string> asked = messagesAbout(job);
        EXPECT_TRUE(asked == std::vector<std::string>{"1001"} || asked == std::vector<std::string>{"1021"})
            << job << ": " << ::testing::PrintToString(asked);
    }
    control({"power", "on"});
    for (DWORD job : {first, second}) {
        resume(job);
        EXPECT_TRUE(tracked(job, 2)) << job << "\n" << diagnostics();
        finishNextOnDevice();
        EXPECT_TRUE(leaves(job, "sent")) << job << "\n" << diagnostics();
        EXPECT_TRUE(endedAfterLastStart(job)) << job << "\n" << diagnostics();
    }
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobWhoseConnectionTheDeviceDropsIsAskedAboutAndAnsweredDeleteLeavesDeleted)
{
    // The device stops reading each job after 8 KiB for a while: long enough to drop the first.
    ASSERT_NO_FATAL_FAILURE(
        startDevice("127.0.3.19", "delete", "300", {"--stall-after", "8192", "--resume-after", "20000"}));
    ASSERT_TRUE(startService());
    const DWORD job = printJob(1, 64 * 1024);
    const std::string dropped = newDeviceJob("7", "receiving");
    ASSERT_FALSE(dropped.empty()) << diagnostics();
    ASSERT_TRUE(tracked(job)) << diagnostics();
    control({"job", dropped, "drop"});
    // The device aborted the job: the user is asked whether it printed, and deletes it.
    EXPECT_TRUE(leaves(job, "deleted")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
    EXPECT_EQ(messagesAbout(job), std::vector<std::string>{"1021"});
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobTrackedAtAServiceStopIsEndedThenAndLeavesAtRetentionAndTheRestartedServiceTracks)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.20", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    setRetention(100000); // 5 s at this time scale
    const DWORD orphan = printJob(1);
    const std::string handle = newDeviceJob();
    ASSERT_FALSE(handle.empty());
    ASSERT_TRUE(tracked(orphan)) << diagnostics();
    setRetention(10 * 60 * 1000);

    ASSERT_TRUE(stopService());
    EXPECT_TRUE(endedAfterLastStart(orphan)) << diagnostics();
    finishOnDevice(handle);
    ASSERT_TRUE(startService()) << diagnostics();
    const DWORD next = printJob(2);
    EXPECT_TRUE(tracked(next)) << diagnostics();
    finishNextOnDevice();
    EXPECT_TRUE(leaves(next, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(next)) << diagnostics();
    EXPECT_TRUE(leaves(orphan, "retention")) << diagnostics();
    EXPECT_EQ(startsOf(orphan), 1u);
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobTrackedWhileItsDeviceKeepsTheWatchWaitingGetsItsEndNoticeAtTheStop)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.22", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    const DWORD job = printJob(1);
    ASSERT_FALSE(newDeviceJob().empty());
    ASSERT_TRUE(tracked(job)) << diagnostics();
    // The device stops answering: the stop comes while the watch thread waits for a reply, and
    // the service leaves its objects to that thread.
    control({"fault", "any:drop"});
    control({"requests", "clear"});
    ASSERT_TRUE(spoolertest::eventually(
        [&] { return control({"requests"}).find("reply dropped") != std::string::npos; }, kLimit));
    ASSERT_TRUE(stopService());
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
}

TEST_F(ServiceFaults, JobsWhoseCompletionsTheDeviceHoldsBackReportTheirPagesWhenTheyEnd)
{
    // One completion a second: a job's last impression and its end come apart, or together.
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.23", "hold", "300", {"--completions-per-second", "1"}));
    ASSERT_TRUE(startService());
    std::vector<DWORD> jobs;
    for (uint32_t number = 1; number <= 3; ++number) {
        jobs.push_back(printJob(number));
        ASSERT_TRUE(tracked(jobs.back())) << diagnostics();
    }
    for (DWORD job : jobs) {
        EXPECT_TRUE(leaves(job, "sent")) << job << "\n" << diagnostics();
        std::string completed;
        for (const std::string& line : standin::journalLines(journal(), "PrStatusSendExD"))
            if (standin::jsonValue(line, "job") == std::to_string(job) && standin::jsonValue(line, "status") == "268435456")
                completed = line;
        EXPECT_EQ(standin::jsonValue(completed, "ext"), "[1,0]") << job << ": " << completed;
    }
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobThatEndsOnTheDeviceWhileTheSpoolerHostRestartsIsEndedOnceTheHostIsBack)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.21", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    const DWORD job = printJob(1);
    const std::string handle = newDeviceJob();
    ASSERT_FALSE(handle.empty());
    ASSERT_TRUE(tracked(job)) << diagnostics();
    // The printer's watch thread has bound the device: it asks the spooler for its address.
    ASSERT_TRUE(spoolertest::eventually([&] { return !control({"subs"}).empty(); }, kLimit)) << diagnostics();

    ASSERT_EQ(host.stop(), 0);
    // The job ends on the device while the service cannot reach the spooler.
    finishOnDevice(handle);
    ASSERT_TRUE(spoolertest::eventually(
        [&] { return control({"log"}).find(device + " " + handle + " ") != std::string::npos; },
        kLimit));
    ASSERT_TRUE(host.start());
    EXPECT_TRUE(leaves(job, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
    const DWORD next = printJob(2);
    EXPECT_TRUE(tracked(next)) << diagnostics();
    finishNextOnDevice();
    EXPECT_TRUE(leaves(next, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(next)) << diagnostics();
    ASSERT_TRUE(stopService());
}

// The watch thread of a printer that prints already is not woken again by the next job's report.
TEST_F(ServiceFaults, ASecondJobOfAPrintingPrinterDoesNotStartItsWatchAgain)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.71", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    for (uint32_t number = 1; number <= 2; ++number) {
        const DWORD job = printJob(number);
        ASSERT_FALSE(newDeviceJob().empty()) << diagnostics();
        ASSERT_TRUE(tracked(job)) << diagnostics();
    }
    EXPECT_EQ(count(fileText(trace()), "PostThreadMessage: JTRK_MSG_STARTJOB Success"), 1u);
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobHeldAtADeviceErrorAndResumedPrintsOnceWholeAndEndsSent)
{
    DWORD job = 0;
    std::string handle;
    ASSERT_NO_FATAL_FAILURE(printHeldAtPaperOut("127.0.3.40", job, handle));
    // Paper is in again: the user resumes the job.
    control({"device", device, "hint", "0"});
    ASSERT_NO_FATAL_FAILURE(awaitNextStamp());
    resume(job);
    finishNextOnDevice();
    EXPECT_TRUE(leaves(job, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
    // The device got the job twice: the send the user held, and the resent one, which it printed.
    std::istringstream objects(control({"jobs"}) + control({"log"}));
    std::set<std::string> received;
    for (std::string address, handle, rest; objects >> address >> handle && std::getline(objects, rest);)
        received.insert(handle);
    EXPECT_EQ(received.size(), 2u) << diagnostics();
    EXPECT_EQ(messagesAbout(job), std::vector<std::string>{"1003"}) << diagnostics();
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AHeldJobIsCancelledOnceAtTheDeviceAndTheUserIsNotToldTheDeletionFailed)
{
    DWORD job = 0;
    std::string handle;
    ASSERT_NO_FATAL_FAILURE(printHeldAtPaperOut("127.0.3.41", job, handle));
    // The held send's tracking ends once the device reports the job cancelled.
    ASSERT_TRUE(endedAfterLastStart(job)) << diagnostics();
    ASSERT_TRUE(spoolerSays(job, "paused")) << diagnostics();
    std::istringstream requests(control({"requests"}));
    size_t cancels = 0;
    for (std::string line; std::getline(requests, line);)
        cancels += line.find("CancelJob") != std::string::npos && line.find("handles=" + handle) != std::string::npos;
    EXPECT_EQ(cancels, 1u) << diagnostics();
    EXPECT_EQ(messagesAbout(job), std::vector<std::string>{"1003"}) << diagnostics();
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobRestartedInTheSpoolerWhileItPrintsIsEndedOnceFromTheSendThatPrinted)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.42", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    DWORD job = 0;
    std::string first;
    ASSERT_NO_FATAL_FAILURE(printTracked(job, first));
    ASSERT_NO_FATAL_FAILURE(awaitNextStamp());
    spoolertest::ProgramResult restarted =
        spoolertest::runProgram({"pal-spool", "job", "Office", std::to_string(job), "restart"});
    ASSERT_EQ(restarted.exitCode, 0) << restarted.output;
    const std::string second = newDeviceJob();
    ASSERT_FALSE(second.empty()) << diagnostics();
    // The service took the resent job's report.
    ASSERT_TRUE(spoolertest::eventually([&] { return count(fileText(trace()), "MessageID:[1]") >= 2; }, kLimit))
        << diagnostics();
    // The first send ends on the device: the job goes on, as its second send prints.
    finishOnDevice(first);
    const size_t passes = count(fileText(trace()), "Return Value SetEvent");
    ASSERT_TRUE(spoolertest::eventually([&] { return count(fileText(trace()), "Return Value SetEvent") > passes + 1; },
                                        kLimit));
    EXPECT_TRUE(spoolerSays(job, "printed")) << diagnostics();
    finishOnDevice(second);
    EXPECT_TRUE(leaves(job, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
    expectEndedOnceAsPrinted(job);
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobReportSentTwiceIsTrackedOnceAndEndsOnce)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.43", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    DWORD job = 0;
    std::string handle;
    ASSERT_NO_FATAL_FAILURE(printTracked(job, handle));
    // The same report once more, with the client job id the device got from the monitor.
    jobmsg::ClientJobId id;
    std::istringstream objects(control({"jobs"}));
    for (std::string address, listed, state, pages, hex; objects >> address >> listed >> state >> pages >> hex;) {
        if (listed == handle) {
            ASSERT_TRUE(jobmsg::ClientJobId::fromWireHex(hex, id)) << hex;
        }
    }
    JobEventRequest report{};
    report.dwSize = sizeof report;
    report.dwMessageID = JOBEVENT_JOBSTART;
    report.dwFlags = JOBEVENT_FLAG_ALWAYS;
    std::u16string printer = u"Office", port = wide("JT_" + device);
    std::copy(printer.begin(), printer.end(), report.wszPrnName);
    std::copy(port.begin(), port.end(), report.wszPortName);
    report.dwJobId = job;
    jobmsg::Bytes host = id.host();
    std::copy(host.begin(), host.end(), report.ClientJobId);
    report.dwNup = 1;
    BYTE reply[8];
    DWORD read = 0;
    ASSERT_TRUE(CallNamedPipeW(JTRK_SERVICE_PIPE_NAME, &report, sizeof report, reply, sizeof reply, &read,
                               NMPWAIT_USE_DEFAULT_WAIT));
    finishOnDevice(handle);
    EXPECT_TRUE(leaves(job, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
    expectEndedOnceAsPrinted(job);
    std::vector<DWORD> events;
    palReadEventLog(
        [](const PAL_EVENTLOG_ENTRY* entry, void* context) -> BOOL {
            if (std::u16string(entry->source) == u"OutputBeaconService2")
                static_cast<std::vector<DWORD>*>(context)->push_back(entry->eventId);
            return TRUE;
        },
        &events);
    EXPECT_EQ(std::count(events.begin(), events.end(), 0xC0000015u), 0) << diagnostics();
    ASSERT_TRUE(stopService());
}

} // namespace

namespace {

bool serviceRuns(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    return QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
}

TEST_F(ServiceFaults, TheMessageManagerStartedAgainUnderAnOpenDialogOffersItAgainAndTheServiceTracksOn)
{
    // No policy: a dialog stays open until the user answers it.
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.25", "", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    const DWORD job = printJob(1);
    const std::string handle = newDeviceJob();
    ASSERT_FALSE(handle.empty()) << diagnostics();
    ASSERT_TRUE(tracked(job)) << diagnostics();
    control({"device", device, "hint", "769"}); // a paper jam that persists
    ASSERT_TRUE(spoolertest::eventually([&] { return messagesAbout(job).size() == 1; }, kLimit)) << diagnostics();

    // Started again, the manager places its library where the service has it loaded: the same file
    // is used in place, and the new manager does not know the open dialog's message.
    messageManager.reset();
    messageManager.emplace(standin::startMessageManager({"--policy", ""}));
    EXPECT_TRUE(spoolertest::eventually([&] { return messagesAbout(job).size() == 2; }, kLimit)) << diagnostics();
    EXPECT_EQ(messagesAbout(job), (std::vector<std::string>{"1002", "1002"}));
    EXPECT_TRUE(serviceRuns(service));

    control({"device", device, "hint", "0"});
    finishOnDevice(handle);
    EXPECT_TRUE(leaves(job, "sent")) << diagnostics();
    EXPECT_TRUE(endedAfterLastStart(job)) << diagnostics();
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, ThePrintManagerInstalledAgainWhileTheServiceHasItLoadedIsKeptOrRefusedAndTrackingGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.26", "", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    const DWORD first = printJob(1);
    const std::string firstHandle = newDeviceJob();
    ASSERT_FALSE(firstHandle.empty()) << diagnostics();
    ASSERT_TRUE(tracked(first)) << diagnostics(); // the service has HBPHSTD64 loaded

    testsupport::ChildOptions options;
    options.pipeErrors = true;
    auto same = testsupport::runProgram(testsupport::besideSelf("hbphstd"), {"install", "C:\\Harbor"}, options);
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find("the copy there is the same and stays"), std::string::npos) << same.out;
    auto other =
        testsupport::runProgram(testsupport::besideSelf("hbphstd"), {"install", "C:\\Harbor", "--legacy"}, options);
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("HBPHSTD64.so is in use"), std::string::npos) << other.err;

    EXPECT_TRUE(serviceRuns(service));
    finishOnDevice(firstHandle);
    EXPECT_TRUE(leaves(first, "sent")) << diagnostics();
    const DWORD second = printJob(2);
    EXPECT_TRUE(tracked(second)) << diagnostics();
    finishNextOnDevice();
    EXPECT_TRUE(leaves(second, "sent")) << diagnostics();
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, WithoutTheMessageManagerNoJobIsLeftAnnouncedAndTheNextIsNotAnnounced)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.44", std::nullopt, kPrintsUntilTold));
    // The device is slow to answer the watch thread's first requests: the first job is in the
    // table before the thread gives up.
    control({"fault", "any:delay:2000/2"});
    ASSERT_TRUE(startService());
    auto settled = [&](DWORD job) {
        return spoolertest::eventually(
            [&] {
                std::vector<std::string> entries = noticesOf(job);
                return std::count(entries.begin(), entries.end(), "PrStatusNoticeStartExD") ==
                       std::count(entries.begin(), entries.end(), "PrStatusNoticeEndD");
            },
            kLimit);
    };
    // The first job's report starts the printer's watch thread, which cannot watch without the
    // message manager's event, and ends; the second job's report is refused.
    const DWORD first = printJob(1);
    ASSERT_TRUE(spoolertest::eventually([&] { return count(fileText(trace()), "[Office] not watched") == 1; }, kLimit))
        << diagnostics();
    const DWORD second = printJob(2);
    ASSERT_TRUE(spoolertest::eventually([&] { return count(fileText(trace()), "[Office] not watched") == 2; }, kLimit))
        << diagnostics();
    EXPECT_TRUE(settled(first)) << diagnostics();
    EXPECT_TRUE(settled(second)) << diagnostics();
    EXPECT_EQ(startsOf(second), 0u) << diagnostics();
    ASSERT_TRUE(stopService());
}

TEST_F(ServiceFaults, AJobWhoseLastImpressionEventIsLostEndsWithTheDevicesCount)
{
    ASSERT_NO_FATAL_FAILURE(startDevice("127.0.3.45", "hold", kPrintsUntilTold));
    ASSERT_TRUE(startService());
    DWORD job = 0;
    std::string handle;
    ASSERT_NO_FATAL_FAILURE(printTracked(job, handle));
    // The device prints both sheets, but the event of the last one is lost.
    control({"fault", device, "event:drop"});
    control({"job", handle, "impressions", "2"});
    control({"fault", device, "clear"});
    control({"job", handle, "state", "9", "reason", "21"});
    EXPECT_TRUE(leaves(job, "sent")) << diagnostics();
    std::string completed;
    for (const std::string& line : standin::journalLines(journal(), "PrStatusSendExD"))
        if (standin::jsonValue(line, "job") == std::to_string(job) && standin::jsonValue(line, "status") == "268435456")
            completed = line;
    EXPECT_EQ(standin::jsonValue(completed, "ext"), "[2,0]") << diagnostics();
    ASSERT_TRUE(stopService());
}

} // namespace
