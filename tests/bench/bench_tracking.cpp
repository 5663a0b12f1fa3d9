// bench_tracking: how fast the tracking service ends jobs in the spooler once their devices report
// them complete, on many simulated printers at a paced completion rate or as a burst, against a
// bare tracker in this program that does only the necessary (subscription, trace, SetJob); and the
// service's memory.
#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "JTRKCLIB.h"
#include "JobMessages.h"
#include "Road.h"
#include "StandinTesting.h"
#include "VxDmlpResults.h"
#include "test_spooler_host.h"
#include "TestServices.h"

namespace {

const char kUsage[] =
    "usage: bench_tracking [--printers N] [--jobs N] [--rate N | --burst] [--root DIR]\n"
    "\n"
    "Starts the spooler host with the port monitor, one devsim with N printers (default 500) on\n"
    "127.42.1.1 and on, the print-manager and message-manager stand-ins and the service JTRKSVC2,\n"
    "prints N jobs (default 10) to every printer and lets the devices complete them at N a second\n"
    "over all printers (default 100). For each job it takes the time from the device's completion\n"
    "(devsim's monotonic log) to the spooler ending the job (the host's spool/history) and prints\n"
    "p50, p99 and the maximum, with the service's resident memory before the first job and at its\n"
    "peak. Then the same jobs again with the service stopped and a bare tracker in this program\n"
    "(the client library's event subscription; per completion a trace and SetJob SENT_TO_PRINTER)\n"
    "as the baseline. Targets: p99 below 50 ms, memory below 200 MB, p50 at most 3 times the\n"
    "baseline's.\n"
    "With --burst every job is submitted at once and the devices complete them at their own pace\n"
    "(devsim's default print time, completed jobs kept for devsim's default time); besides the\n"
    "figures above it prints the jobs not ended 60 s after the devices' last completion and the\n"
    "jobs ended more than once. Targets: every job ended once, p99 below 5 s, maximum below 30 s,\n"
    "memory below 200 MB.\n"
    "\n"
    "  --printers N  simulated printers, one device each (1..2000)\n"
    "  --jobs N      jobs per printer and run\n"
    "  --rate N      device completions a second over all printers\n"
    "  --burst       all jobs at once, completed at the devices' own pace\n"
    "  --root DIR    platform root (default: PAL_ROOT, else a new folder in /dev/shm, or in /tmp\n"
    "                without it, removed afterwards)\n"
    "  --help        show this text\n"
    "Exit status 0 when every job ended and the targets are met; 1 when a step failed or a target\n"
    "was missed; 2 for a wrong command line.\n";

using Clock = std::chrono::steady_clock;

struct Options {
    std::string root;
    int printers = 500;
    int jobs = 10;
    int rate = 100;
    bool burst = false;
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "bench_tracking: %s\n", message.c_str());
    return 1;
}

bool parse(int argc, char** argv, Options& options, bool& help)
{
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        if (option == "--help" || option == "--burst") {
            (option == "--help" ? help : options.burst) = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        std::string value = argv[++i];
        if (option == "--root") {
            options.root = value;
            continue;
        }
        char* end = nullptr;
        long number = std::strtol(value.c_str(), &end, 10);
        if (*end || number < 1)
            return false;
        if (option == "--printers" && number <= 2000)
            options.printers = int(number);
        else if (option == "--jobs" && number <= 1000)
            options.jobs = int(number);
        else if (option == "--rate" && number <= 100000)
            options.rate = int(number);
        else
            return false;
    }
    return true;
}

std::string deviceAddress(int printer)
{
    return "127.42." + std::to_string(1 + printer / 250) + "." + std::to_string(1 + printer % 250);
}

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::u16string portName(int printer)
{
    return u"JT_" + wide(deviceAddress(printer));
}

std::u16string printerName(int printer)
{
    return u"Bench" + wide(std::to_string(printer));
}

std::string rootPath()
{
    return std::getenv("PAL_ROOT");
}

// A job of the bench: its client job id's Data1 is its index plus one (0 would be no id at all).
struct BenchJob {
    int printer = 0;
    DWORD spoolerId = 0;
    double completedMs = -1; // devsim's completion
    double endedMs = -1;     // the spooler host's "sent"
    int ends = 0;            // the tracker's end notices (print manager) or SetJob calls (bare tracker)
};

// ---- devsim -------------------------------------------------------------------------------------

// devsim with all the printers; its output read on a thread of its own, so that it never blocks.
class Devices {
public:
    bool start(const Options& options, std::string& error)
    {
        std::string config = rootPath() + "/devsim.conf";
        std::ofstream out(config);
        // Done jobs stay listed for devsim's default 5 s: a trace that comes later than that finds
        // the job in the device's log only. A burst's devices print at devsim's default pace.
        if (!options.burst)
            out << "--completions-per-second " << options.rate << "\n";
        for (int i = 0; i < options.printers; i++)
            out << "--device " << deviceAddress(i) << " --raw " << deviceAddress(i) << ":0"
                << (options.burst ? "" : " --print-time 200") << "\n";
        out.close();
        control_ = rootPath() + "/devsim.ctl";
        process_ = std::make_unique<testsupport::ChildProcess>(
            testsupport::besideSelf("devsim"),
            std::vector<std::string>{"--root", rootPath(), "--control", control_, "--config", config});
        ports_.assign(size_t(options.printers), 0);
        std::map<std::string, int> index;
        for (int i = 0; i < options.printers; i++)
            index[deviceAddress(i)] = i;
        int missing = options.printers;
        int dmlpMissing = options.printers;
        while (missing > 0 || dmlpMissing > 0) {
            std::string line = process_->readLine(60000);
            if (line.empty()) {
                error = "devsim did not start all its printers";
                return false;
            }
            const std::string raw = "devsim: RAW on ";
            if (line.rfind(raw, 0) == 0) {
                size_t colon = line.rfind(':');
                auto found = index.find(line.substr(raw.size(), colon - raw.size()));
                if (found != index.end() && ports_[size_t(found->second)] == 0) {
                    ports_[size_t(found->second)] = uint16_t(std::strtoul(line.c_str() + colon + 1, nullptr, 10));
                    missing--;
                }
            } else if (line.rfind("devsim: DMLP on ", 0) == 0) {
                dmlpMissing--;
            }
        }
        reader_ = std::thread([this] { read(); });
        return true;
    }
    ~Devices()
    {
        stop_ = true;
        if (process_)
            process_->kill();
        if (reader_.joinable())
            reader_.join();
    }
    uint16_t rawPort(int printer) const { return ports_[size_t(printer)]; }
    size_t completions()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return done_.size();
    }
    // Completion times by device job handle.
    std::map<uint32_t, double> completionTimes()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return done_;
    }
    // The device job handles of every retired job with its client job's index.
    std::map<uint32_t, int> jobIndexes()
    {
        testsupport::ChildResult result =
            testsupport::runProgram(testsupport::besideSelf("devsim-ctl"), {"--control", control_, "log"}, {}, 60000);
        std::map<uint32_t, int> indexes;
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string device, hex;
            uint32_t handle = 0, completion = 0, impressions = 0;
            if (!(words >> device >> handle >> completion >> impressions >> hex) || hex.size() != 128)
                continue;
            // Data1, big-endian at the front of the client job id.
            indexes[handle] = int(std::strtoul(hex.substr(0, 8).c_str(), nullptr, 16)) - 1;
        }
        return indexes;
    }

private:
    void read()
    {
        const std::string marker = " done at ";
        while (!stop_) {
            std::string line = process_->readLine(200);
            size_t at = line.find(marker);
            size_t job = line.find(" job ");
            if (at == std::string::npos || job == std::string::npos)
                continue;
            uint32_t handle = uint32_t(std::strtoul(line.c_str() + job + 5, nullptr, 10));
            double ms = std::strtod(line.c_str() + at + marker.size(), nullptr);
            std::lock_guard<std::mutex> guard(lock_);
            done_[handle] = ms;
        }
    }

    std::unique_ptr<testsupport::ChildProcess> process_;
    std::string control_;
    std::vector<uint16_t> ports_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::map<uint32_t, double> done_;
};

// ---- the spooler's history and the service's memory --------------------------------------------

// The jobs that left the host as sent: id -> monotonic ms.
std::map<DWORD, double> sentJobs()
{
    std::map<DWORD, double> sent;
    std::ifstream in(rootPath() + "/spool/history");
    DWORD id;
    std::string how;
    double ms;
    while (in >> id >> how >> ms) {
        if (how == "sent")
            sent[id] = ms;
    }
    return sent;
}

// The process of JTRKSVC2 in this platform root; 0 when there is none.
pid_t servicePid()
{
    const std::string mark = "PAL_ROOT=" + rootPath();
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    pid_t found = 0;
    while (dirent* entry = readdir(proc)) {
        pid_t pid = pid_t(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::string base = "/proc/" + std::string(entry->d_name);
        std::ifstream comm(base + "/comm");
        std::string name;
        if (!std::getline(comm, name) || name != "JTRKSVC2")
            continue;
        std::ifstream environ(base + "/environ", std::ios::binary);
        std::string variable;
        while (std::getline(environ, variable, '\0')) {
            if (variable == mark)
                found = pid;
        }
    }
    closedir(proc);
    return found;
}

// A value of /proc/PID/status in MB ("VmRSS", "VmHWM"); -1 when unreadable.
double memoryMb(pid_t pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key + ":", 0) == 0)
            return std::strtod(line.c_str() + key.size() + 1, nullptr) / 1024.0;
    }
    return -1;
}

// ---- the service under the service control -------------------------------------------------------

class Service {
public:
    bool start()
    {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        service_ = testsupport::createServiceBesideSelf(manager_, "JTRKSVC2");
        return service_ && StartServiceW(service_, 0, nullptr) && reaches(SERVICE_RUNNING);
    }
    bool stop()
    {
        SERVICE_STATUS status{};
        return ControlService(service_, SERVICE_CONTROL_STOP, &status) && reaches(SERVICE_STOPPED);
    }
    ~Service()
    {
        SERVICE_STATUS status{};
        if (service_ && QueryServiceStatus(service_, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            ControlService(service_, SERVICE_CONTROL_STOP, &status);
            reaches(SERVICE_STOPPED);
        }
        if (service_) {
            DeleteService(service_);
            CloseServiceHandle(service_);
        }
        if (manager_)
            CloseServiceHandle(manager_);
    }

private:
    bool reaches(DWORD state)
    {
        SERVICE_STATUS status{};
        return spoolertest::eventually(
            [&] { return QueryServiceStatus(service_, &status) && status.dwCurrentState == state; },
            std::chrono::seconds(60));
    }

    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

// ---- the bare tracker -----------------------------------------------------------------------------

// Subscribes to every printer's device; per completion event traces the job and ends it in the
// spooler, on one thread as the service's job-control thread does.
class BareTracker {
public:
    BareTracker(const Options& options, std::vector<BenchJob>& jobs) : options_(options), jobs_(jobs) {}

    bool start()
    {
        if (!DMLLIB_Initialize(&instance_))
            return false;
        ports_.resize(size_t(options_.printers));
        for (int i = 0; i < options_.printers; i++) {
            Port& port = ports_[size_t(i)];
            port.owner = this;
            port.name = portName(i);
            port.printer = printerName(i);
            DmlpCallback callback = {};
            callback.kind = DMLP_CALLBACK_KIND;
            callback.function.event = onEvent;
            callback.context = &port;
            DMLLIB_RESULTCODE code = DMLLIB_SubscribeEvent(instance_, port.name.c_str(), DMLLIB_EVENT_SUBSCRIBE,
                                                           &callback, &port.binding, nullptr, 0);
            if (!port.binding || DMLLIB_RESULT_STATUS(code) != 1) {
                std::fprintf(stderr, "bench_tracking: the subscription to %s failed: 0x%08lx\n",
                             deviceAddress(i).c_str(), static_cast<unsigned long>(code));
                return false;
            }
        }
        worker_ = std::thread([this] { work(); });
        return true;
    }
    ~BareTracker()
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
        for (Port& port : ports_) {
            if (port.binding)
                DMLLIB_SubscribeEvent(instance_, port.name.c_str(), DMLLIB_EVENT_UNSUBSCRIBE, nullptr, &port.binding,
                                      nullptr, 0);
        }
        if (instance_)
            DMLLIB_Terminate(instance_);
    }

private:
    struct Port {
        BareTracker* owner = nullptr;
        std::u16string name;
        std::u16string printer;
        DmlpBinding binding = nullptr;
    };
    struct Completion {
        Port* port;
        ClJobID id;
    };

    static void onEvent(const DmlpAddress*, void* context, void* event)
    {
        auto* port = static_cast<Port*>(context);
        auto* record = static_cast<const DmlpEventRecord*>(event);
        for (uint8_t i = 0; record && record->entries && i < record->count; ++i) {
            const DmlpEventEntry& entry = record->entries[i];
            const auto* state = static_cast<const JobState3*>(entry.body);
            if (entry.id != 154 || !state || state->State != 9)
                continue;
            Completion completion{port, {}};
            memcpy(&completion.id, &state->clJobId, sizeof completion.id);
            {
                std::lock_guard<std::mutex> guard(port->owner->lock_);
                port->owner->queue_.push_back(completion);
            }
            port->owner->wake_.notify_one();
        }
        DMLLIB_ReleaseBuff(port->owner->instance_, port->name.c_str(), event);
    }

    // As the service does: a printer handle for the call (the spooler host serves a few dozen
    // connections, one a handle, so no tracker keeps one open per printer).
    static void endJob(const std::u16string& printer, DWORD jobId)
    {
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE handle = nullptr;
        if (!OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), &handle, &defaults))
            return;
        SetJobW(handle, jobId, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
        ClosePrinter(handle);
    }

    void work()
    {
        for (;;) {
            Completion completion;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [this] { return stop_ || !queue_.empty(); });
                if (stop_)
                    return;
                completion = queue_.front();
                queue_.pop_front();
            }
            size_t index = size_t(completion.id.Data1) - 1;
            if (completion.id.Data1 == 0 || index >= jobs_.size())
                continue;
            BYTE trace = 0;
            DWORD impressions = 0;
            DMLLIB_TraceJob(instance_, completion.port->name.c_str(), &completion.id, &trace,
                            completion.port->binding, &impressions, 0);
            if (trace == DMLLIB_TRACE_COMPLETED) {
                endJob(completion.port->printer, jobs_[index].spoolerId);
                jobs_[index].ends++;
            }
        }
    }

    const Options& options_;
    std::vector<BenchJob>& jobs_;
    DmlpInstance instance_ = 0;
    std::vector<Port> ports_;
    std::thread worker_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Completion> queue_;
    bool stop_ = false;
};

// ---- one run ---------------------------------------------------------------------------------------

struct Figures {
    size_t ended = 0;
    double p50 = 0, p90 = 0, p99 = 0, max = 0;
    size_t overSecond = 0; // jobs that waited for a protocol time-out or a later trace pass
    size_t endedTwice = 0; // jobs ended more than once
};

double monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

// The job of a round on a printer, at index first + round x printers + printer; false when the
// spooler refused it.
bool submitJob(const Options& options, std::vector<BenchJob>& jobs, size_t first, int round, int printer)
{
    static const std::vector<BYTE> filler(1024, 'x');
    size_t index = first + size_t(round) * size_t(options.printers) + size_t(printer);
    jobmsg::ClientJobId id = jobmsg::ClientJobId::make(uint32_t(index + 1), 1, 1, "BENCHJOB", "bench");
    std::vector<BYTE> data = jobmsg::concat({jobmsg::typicalHeader(id, 1), filler});
    jobs[index].printer = printer;
    jobs[index].spoolerId = road::submit(printerName(printer), data, u"bench.txt");
    if (jobs[index].spoolerId != 0)
        return true;
    std::fprintf(stderr, "bench_tracking: a job to %s was refused\n", deviceAddress(printer).c_str());
    return false;
}

// A burst: every job at once, from a few threads that each take a share of the printers.
bool submitBurst(const Options& options, std::vector<BenchJob>& jobs, size_t first)
{
    const int submitters = std::min(options.printers, 4);
    std::atomic<bool> refused{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < submitters; t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < options.jobs && !refused; round++)
                for (int printer = t; printer < options.printers && !refused; printer += submitters)
                    if (!submitJob(options, jobs, first, round, printer))
                        refused = true;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    return !refused;
}

// The end notices of the print manager's journal, by spooler job id.
std::map<DWORD, int> endNotices()
{
    std::map<DWORD, int> notices;
    for (const std::string& line : standin::journalLines(rootPath() + "/drive_c/Harbor/journal.log", "PrStatusNoticeEndD"))
        notices[DWORD(std::strtoul(standin::jsonValue(line, "job").c_str(), nullptr, 10))]++;
    return notices;
}

// Prints options.jobs jobs to every printer (indexes from first on), and waits until they have
// ended in the spooler; progress every 2 s. pid: the service, whose memory the progress shows;
// submittedMs: when the last job was in the spooler (monotonic). A burst waits at most 60 s after
// the devices' last completion and leaves the jobs not ended by then in unended.
bool printAndAwait(const Options& options, std::vector<BenchJob>& jobs, size_t first, Devices& devices, pid_t pid,
                   const char* run, double& submittedMs, size_t& unended)
{
    const size_t end = first + size_t(options.printers) * size_t(options.jobs);
    auto endedJobs = [&] {
        std::map<DWORD, double> sent = sentJobs();
        size_t ended = 0;
        for (size_t i = first; i < end; i++)
            ended += sent.count(jobs[i].spoolerId);
        return ended;
    };
    auto progress = [&, last = Clock::now()](size_t submitted, bool force) mutable {
        if (!force && Clock::now() - last < std::chrono::seconds(2))
            return;
        last = Clock::now();
        size_t ended = endedJobs();
        std::printf("  %s: %zu submitted, %zu completed at the devices, %zu ended in the spooler", run, submitted,
                    devices.completions(), ended);
        if (pid)
            std::printf(", service RSS %.1f MB", memoryMb(pid, "VmRSS"));
        std::printf("\n");
        std::fflush(stdout);
    };
    if (options.burst) {
        if (!submitBurst(options, jobs, first))
            return false;
    } else {
        for (int round = 0; round < options.jobs; round++) {
            for (int printer = 0; printer < options.printers; printer++) {
                if (!submitJob(options, jobs, first, round, printer))
                    return false;
                progress(size_t(round) * size_t(options.printers) + size_t(printer) + 1, false);
            }
        }
    }
    submittedMs = monotonicMs();
    const auto limit = std::chrono::seconds(120) +
                       std::chrono::seconds(3 * (end - first) / size_t(options.burst ? 100 : options.rate));
    const auto deadline = Clock::now() + limit;
    double lastCompletionMs = -1;
    for (;;) {
        size_t ended = endedJobs();
        progress(end - first, false);
        if (ended == end - first)
            break;
        if (options.burst && lastCompletionMs < 0 && devices.completions() >= end) {
            for (auto [handle, ms] : devices.completionTimes())
                lastCompletionMs = std::max(lastCompletionMs, ms);
        }
        bool burstOver = lastCompletionMs >= 0 && monotonicMs() > lastCompletionMs + 60000;
        if (burstOver || Clock::now() > deadline) {
            progress(end - first, true);
            unended = end - first - ended;
            std::fprintf(stderr, "bench_tracking: %zu jobs of the %s run did not end %s:", unended, run,
                         burstOver ? "within 60 s of the last completion" : "in time");
            std::map<DWORD, double> sent = sentJobs();
            for (size_t i = first; i < end; i++) {
                if (!sent.count(jobs[i].spoolerId))
                    std::fprintf(stderr, " %lu", static_cast<unsigned long>(jobs[i].spoolerId));
            }
            std::fprintf(stderr, "\n");
            return options.burst && burstOver;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    progress(end - first, true);
    return true;
}

double percentile(const std::vector<double>& sorted, double share)
{
    size_t at = size_t(share * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}

// The latencies of the jobs first..end that the devices completed after the time given.
Figures latencies(const std::vector<BenchJob>& jobs, size_t first, size_t end, double completedAfterMs = 0)
{
    std::vector<double> values;
    for (size_t i = first; i < end; i++) {
        if (jobs[i].completedMs >= completedAfterMs && jobs[i].endedMs >= 0)
            values.push_back(jobs[i].endedMs - jobs[i].completedMs);
    }
    Figures figures;
    figures.ended = values.size();
    for (size_t i = first; i < end; i++)
        figures.endedTwice += jobs[i].ends > 1;
    if (values.empty())
        return figures;
    std::sort(values.begin(), values.end());
    figures.p50 = percentile(values, 0.50);
    figures.p90 = percentile(values, 0.90);
    figures.p99 = percentile(values, 0.99);
    figures.max = values.back();
    figures.overSecond = size_t(values.end() - std::upper_bound(values.begin(), values.end(), 1000.0));
    return figures;
}

// Joins devsim's completions and the spooler's history to the bench's jobs.
void collectTimes(std::vector<BenchJob>& jobs, Devices& devices)
{
    std::map<uint32_t, double> completed = devices.completionTimes();
    std::map<DWORD, double> sent = sentJobs();
    for (auto [handle, index] : devices.jobIndexes()) {
        auto time = completed.find(handle);
        if (index >= 0 && size_t(index) < jobs.size() && time != completed.end())
            jobs[size_t(index)].completedMs = time->second;
    }
    for (BenchJob& job : jobs) {
        auto time = sent.find(job.spoolerId);
        if (time != sent.end())
            job.endedMs = time->second;
    }
    std::map<DWORD, int> notices = endNotices();
    for (size_t i = 0; i < jobs.size() / 2; i++) {
        auto found = notices.find(jobs[i].spoolerId);
        jobs[i].ends = found == notices.end() ? 0 : found->second;
    }
}

int run(const Options& options)
{
    const size_t perRun = size_t(options.printers) * size_t(options.jobs);
    std::vector<BenchJob> jobs(2 * perRun);
    if (options.burst)
        std::printf("%d printers, %d jobs each, as a burst\n", options.printers, options.jobs);
    else
        std::printf("%d printers, %d jobs each, %d completions a second\n", options.printers, options.jobs,
                    options.rate);
    std::string icmp;
    for (int i = 0; i < options.printers; i++)
        icmp += deviceAddress(i) + " reply\n";
    if (!road::writeRootFile("config/icmp", icmp))
        return fail("cannot write the platform root's configuration");
    // The service tracks the jobs the print manager takes, and watches devices only while the
    // message manager runs.
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    testsupport::ChildProcess messageManager = standin::startMessageManager();
    Devices devices;
    std::string error;
    if (!devices.start(options, error))
        return fail(error);
    spoolertest::SpoolerHost host;
    if (!host.start() || !road::addMonitor())
        return fail("the spooler host or the monitor did not start");
    for (int i = 0; i < options.printers; i++) {
        if (road::addPort(road::rawPort(portName(i), wide(deviceAddress(i)), devices.rawPort(i))) != 0 ||
            road::addPrinter(printerName(i), portName(i)) != 0)
            return fail("cannot add the printer of " + deviceAddress(i));
        if ((i + 1) % 100 == 0 || i + 1 == options.printers) {
            std::printf("  %d printers set up\n", i + 1);
            std::fflush(stdout);
        }
    }

    double idleMb = -1, peakMb = -1;
    double serviceSubmitted = 0, baselineSubmitted = 0;
    size_t serviceUnended = 0, baselineUnended = 0;
    {
        Service tracking;
        if (!tracking.start())
            return fail("JTRKSVC2 did not start");
        pid_t pid = servicePid();
        if (pid == 0)
            return fail("the process of JTRKSVC2 was not found");
        idleMb = memoryMb(pid, "VmRSS");
        std::printf("service: running, RSS %.1f MB\n", idleMb);
        if (!printAndAwait(options, jobs, 0, devices, pid, "service", serviceSubmitted, serviceUnended))
            return 1;
        peakMb = memoryMb(pid, "VmHWM");
        if (!tracking.stop())
            return fail("JTRKSVC2 did not stop");
    }
    {
        BareTracker tracker(options, jobs);
        if (!tracker.start())
            return fail("the bare tracker could not subscribe to every device");
        if (!printAndAwait(options, jobs, perRun, devices, 0, "baseline", baselineSubmitted, baselineUnended))
            return 1;
    }
    // The device's job log holds a job once its done state has been kept.
    if (!spoolertest::eventually([&] { return devices.jobIndexes().size() >= 2 * perRun; }, std::chrono::seconds(60)))
        return fail("the devices' job logs lack jobs");
    collectTimes(jobs, devices);
    Figures baseline = latencies(jobs, perRun, 2 * perRun);
    Figures service = latencies(jobs, 0, perRun);
    host.stop();

    auto line = [](const char* name, const Figures& figures) {
        std::printf("%s %zu jobs  p50 %7.2f ms  p90 %7.2f ms  p99 %7.2f ms  max %8.2f ms  over 1 s: %zu\n", name,
                    figures.ended, figures.p50, figures.p90, figures.p99, figures.max, figures.overSecond);
    };
    std::printf("completion at the device to the job's end in the spooler:\n");
    line("  service: ", service);
    line("  baseline:", baseline);
    if (options.burst) {
        std::printf("not ended 60 s after the last completion: service %zu, baseline %zu\n", serviceUnended,
                    baselineUnended);
        std::printf("ended more than once: service %zu, baseline %zu\n", service.endedTwice, baseline.endedTwice);
    } else {
        // While jobs still arrive the spooler host and the service's pipe thread are busiest.
        std::printf("of the jobs completed after the last job was submitted:\n");
        line("  service: ", latencies(jobs, 0, perRun, serviceSubmitted));
        line("  baseline:", latencies(jobs, perRun, 2 * perRun, baselineSubmitted));
    }
    std::printf("service memory: RSS %.1f MB before the first job, peak %.1f MB\n", idleMb, peakMb);
    bool allOnce = service.ended == perRun && service.endedTwice == 0 && baseline.ended == perRun;
    if (options.burst) {
        bool met = allOnce && serviceUnended == 0 && service.p99 < 5000.0 && service.max < 30000.0 && peakMb < 200.0;
        std::printf("targets (every job ended once, p99 < 5 s, max < 30 s, RSS < 200 MB): %s\n",
                    met ? "met" : "MISSED");
        return met ? 0 : 1;
    }
    bool met = allOnce && service.p99 < 50.0 && peakMb < 200.0 && service.p50 <= 3.0 * baseline.p50;
    std::printf("targets (p99 < 50 ms, RSS < 200 MB, p50 <= 3 x baseline): %s\n", met ? "met" : "MISSED");
    return met ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    if (help) {
        std::printf("%s", kUsage);
        return 0;
    }
    // In memory where there is one: the spooler host and the file layer create and remove a few
    // files a job, and a disk file system busy with other work makes that take milliseconds.
    road::BenchRoot root(options.root,
                         std::string(std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") + "/bench-tracking");
    if (!root.ready())
        return fail("cannot make a temporary platform root");
    return run(options);
}
