// bench_service_jobs: the tracking service's job work against bare references.
//   1. job reports through the pipe: WaitJobThread against a bare server that only reads each job
//      from the spooler (levels 1, 2 and ANSI) and replies; the reports come from another process;
//   2. jobs ended per second by ControlJobThread on 100 printers against 1 printer;
//   3. heap bytes per tracked job against the job's payload.
// The print manager, message manager and client library are the unit tests' doubles, so the
// figures are the service's own work and the spooler's.
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "ClibDouble.h"
#include "ControlJob.h"
#include "JobUtilities.h"
#include "PipeServer.h"
#include "Road.h"
#include "ServiceTesting.h"
#include "TempRoot.h"
#include "ThreadMessages.h"
#include "jtrkjobevent.h"
#include "test_spooler_host.h"

namespace {

const char kUsage[] =
    "usage: bench_service_jobs [--reports N] [--printers N] [--ended N] [--records N]\n"
    "\n"
    "Runs in a new temporary platform root with its own spooler host and prints three figures:\n"
    "  reports  N job reports (default 2000) for jobs the spooler holds on the printers (default\n"
    "           100), sent back to back with CallNamedPipeW from another process: the service's\n"
    "           pipe thread against a bare server that reads each job and replies (ratio, >= 0.5)\n"
    "  ended    N completed jobs (default 1000) ended by the job-control thread on the printers\n"
    "           against the same jobs on one printer (ratio of the rates, >= 0.8)\n"
    "  memory   heap bytes per tracked job for N records (default 100000) against each job's\n"
    "           payload (ratio, <= 2)\n"
    "  --help   show this text\n"
    "Exit status 0 when every report and job arrived; 1 when a step failed; 2 for a wrong command line.\n";

using Clock = std::chrono::steady_clock;

struct Options {
    int reports = 2000;
    int printers = 100;
    int ended = 1000;
    int records = 100000;
};

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::u16string printerName(int i)
{
    return wide("Queue " + std::to_string(i));
}

std::u16string portName(int i)
{
    return wide("BP" + std::to_string(i));
}

JobEventRequest report(int printer, DWORD job)
{
    JobEventRequest r;
    memset(&r, 0, sizeof r);
    r.dwSize = sizeof r;
    r.dwMessageID = JOBEVENT_JOBSTART;
    r.dwFlags = JOBEVENT_FLAG_ALWAYS;
    std::u16string name = printerName(printer), port = portName(printer);
    memcpy(r.wszPrnName, name.c_str(), name.size() * sizeof(WCHAR));
    memcpy(r.wszPortName, port.c_str(), port.size() * sizeof(WCHAR));
    r.dwJobId = job;
    ClJobID id = svctest::clJobId(job, "09101112");
    memcpy(r.ClientJobId, &id, sizeof id);
    return r;
}

// The sending process: "--send FILE" reads "printer job" lines and sends one report each.
int sendReports(const char* listPath)
{
    FILE* list = fopen(listPath, "r");
    if (!list)
        return 1;
    int printer = 0;
    unsigned job = 0;
    int failed = 0;
    while (fscanf(list, "%d %u", &printer, &job) == 2) {
        JobEventRequest r = report(printer, job);
        BYTE reply[8];
        DWORD read = 0;
        if (!CallNamedPipeW(JTRK_SERVICE_PIPE_NAME, &r, sizeof r, reply, sizeof reply, &read, NMPWAIT_USE_DEFAULT_WAIT))
            ++failed;
    }
    fclose(list);
    printf("%d\n", failed);
    return failed == 0 ? 0 : 1;
}

struct Job {
    int printer;
    DWORD id;
};

// Runs the sender over the jobs; its time, or a negative value when reports were lost.
double timeSender(const std::string& listPath)
{
    Clock::time_point start = Clock::now();
    testsupport::ChildResult sent = testsupport::runProgram(testsupport::selfPath(), {"--send", listPath}, {}, 600000);
    double elapsed = seconds(start);
    return sent.status == 0 ? elapsed : -1;
}

// The bare reference: read the job three ways and reply, one connection after another.
void bareServer(HANDLE pipe, int count)
{
    for (int i = 0; i < count; ++i) {
        ConnectNamedPipe(pipe, nullptr);
        JobEventRequest r;
        DWORD read = 0;
        if (ReadFile(pipe, &r, sizeof r, &read, nullptr)) {
            JOB_INFO_1W* one = nullptr;
            JOB_INFO_2W* two = nullptr;
            JOB_INFO_1A* ansi = nullptr;
            if (GetPrintJobInfo(r.wszPrnName, r.dwJobId, &one) == JOBREAD_FOUND)
                LocalFree(one);
            if (GetPrintJobInfo2(r.wszPrnName, r.dwJobId, &two) == JOBREAD_FOUND)
                LocalFree(two);
            if (GetPrintJobInfoA(r.wszPrnName, r.dwJobId, &ansi) == JOBREAD_FOUND)
                LocalFree(ansi);
        }
        DWORD written = 0;
        WriteFile(pipe, nullptr, 0, &written, nullptr);
        DisconnectNamedPipe(pipe);
    }
}

bool setUpPrinters(int printers)
{
    std::vector<std::u16string> ports;
    for (int i = 0; i < printers; ++i)
        ports.push_back(portName(i));
    spoolertest::registerTestMonitor(u"BenchMon", ports);
    return true;
}

bool addPrinters(int printers)
{
    for (int i = 0; i < printers; ++i) {
        if (road::addPrinter(printerName(i), portName(i)) != 0)
            return false;
    }
    return true;
}

std::vector<Job> submitJobs(int count, int printers)
{
    std::vector<Job> jobs;
    for (int i = 0; i < count; ++i) {
        int printer = i % printers;
        DWORD id = road::submit(printerName(printer), std::vector<BYTE>(32, 'j'), u"bench.txt");
        if (id == 0)
            return {};
        jobs.push_back({printer, id});
        if ((i + 1) % 500 == 0)
            fprintf(stderr, "  %d jobs submitted\n", i + 1);
    }
    return jobs;
}

bool waitPrinted(const std::vector<Job>& jobs)
{
    for (const Job& job : jobs) {
        DWORD status = 0;
        if (!svctest::waitFor([&] { return road::jobStatus(printerName(job.printer), job.id, status) &&
                                           (status & JOB_STATUS_PRINTED); },
                              std::chrono::seconds(120)))
            return false;
    }
    return true;
}

std::string writeList(const std::string& folder, const std::vector<Job>& jobs)
{
    std::string path = folder + "/reports.txt";
    FILE* list = fopen(path.c_str(), "w");
    for (const Job& job : jobs)
        fprintf(list, "%d %u\n", job.printer, job.id);
    fclose(list);
    return path;
}

int benchReports(const Options& options, const std::string& folder, const std::vector<Job>& jobs)
{
    std::string list = writeList(folder, jobs);
    double service = 0;
    {
        svctest::Context context;
        context.get()->hAplh = 0x5A5A;
        context.get()->hPipe = CreateJobPipe();
        HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WaitJobThread, context.get(), 0, nullptr));
        service = timeSender(list);
        DWORD tracked = 0;
        for (int i = 0; i < options.printers; ++i)
            tracked += context.jobs().GetJobCountForDevice(printerName(i).c_str());
        context.stop();
        WaitForSingleObject(thread, 20000);
        CloseHandle(thread);
        CloseHandle(context.get()->hPipe);
        if (service < 0 || tracked != jobs.size()) {
            fprintf(stderr, "bench_service_jobs: %u of %zu reports tracked\n", tracked, jobs.size());
            return 1;
        }
    }
    HANDLE pipeSync = CreateNamedPipeW(JTRK_SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0, 1000, nullptr);
    std::thread bare(bareServer, pipeSync, static_cast<int>(jobs.size()));
    double reference = timeSender(list);
    bare.join();
    CloseHandle(pipeSync);
    if (reference < 0)
        return 1;
    printf("reports: %zu in %.2f s through the service (%.0f/s), %.2f s bare (%.0f/s): ratio %.2f\n", jobs.size(),
           service, jobs.size() / service, reference, jobs.size() / reference, reference / service);
    return 0;
}

// Ends the jobs (already in the spooler) through ControlJobThread with the printers given; jobs/s.
double endJobs(const std::vector<Job>& jobs, int printers)
{
    svctest::Context context;
    context.get()->hAplh = 0x5A5A;
    for (int i = 0; i < printers; ++i)
        context.printers().SetPrinterActive(printerName(i).c_str(), portName(i).c_str(), FALSE);
    for (const Job& job : jobs) {
        ClJobID id = svctest::clJobId(job.id, "0A0B0C0D");
        ClibDouble::instance().answerTrace(id, {DMLLIB_TRACE_COMPLETED, 0x00080001u, 0});
        context.jobs().AddJobData(printerName(job.printer).c_str(), portName(job.printer).c_str(), &id, job.id, nullptr);
    }
    unsigned threadId = 0;
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ControlJobThread, context.get(), 0, &threadId));
    context.get()->dwControlJobThreadId = threadId;
    svctest::waitFor([&] { return PostThreadMessageW(threadId, WM_NULL, 0, 0); });
    std::vector<std::u16string> names;
    for (int i = 0; i < printers; ++i)
        names.push_back(printerName(i));
    std::vector<HANDLE> done;
    Clock::time_point start = Clock::now();
    for (const std::u16string& name : names) {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        PostThreadMessageW(threadId, JTRK_MSG_TRACEJOB, reinterpret_cast<WPARAM>(name.c_str()),
                           reinterpret_cast<LPARAM>(event));
        done.push_back(event);
    }
    for (HANDLE event : done) {
        WaitForSingleObject(event, 600000);
        CloseHandle(event);
    }
    double elapsed = seconds(start);
    DWORD left = 0;
    for (const std::u16string& name : names)
        left += context.jobs().GetJobCountForDevice(name.c_str());
    PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 20000);
    CloseHandle(thread);
    return left == 0 ? jobs.size() / elapsed : -1;
}

int benchEnded(const Options& options)
{
    std::vector<Job> spread = submitJobs(options.ended, options.printers);
    if (spread.empty() || !waitPrinted(spread))
        return 1;
    double many = endJobs(spread, options.printers);
    std::vector<Job> single = submitJobs(options.ended, 1);
    if (single.empty() || !waitPrinted(single))
        return 1;
    double one = endJobs(single, 1);
    if (many < 0 || one < 0) {
        fprintf(stderr, "bench_service_jobs: jobs were left in the table\n");
        return 1;
    }
    printf("ended: %d jobs on %d printers %.0f/s, on 1 printer %.0f/s: ratio %.2f\n", options.ended, options.printers,
           many, one, many / one);
    return 0;
}

// Bytes in use on the heap, large blocks (mapped on their own) included.
size_t heapBytes()
{
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

int benchMemory(const Options& options)
{
    char printer[] = "Queue 42";
    char machine[] = "\\\\WORKSTATION-17";
    char document[] = "Quarterly report 2026.xlsx";
    char user[] = "tanaka";
    JOB_INFO_1A info = {};
    info.pPrinterName = printer;
    info.pMachineName = machine;
    info.pDocument = document;
    info.pUserName = user;
    std::u16string name = printerName(42), port = portName(42);
    size_t payload = sizeof(ClJobID) + 7 * sizeof(DWORD) + (name.size() + 1 + port.size() + 1) * sizeof(WCHAR) +
                     strlen(printer) + 1 + strlen(machine) - 2 + 1 + strlen(document) + 1 + strlen(user) + 1;
    size_t before = heapBytes();
    auto* table = new clPrnJobData4V2;
    for (int i = 1; i <= options.records; ++i) {
        ClJobID id = svctest::clJobId(static_cast<DWORD>(i), "01020304");
        table->AddJobData(name.c_str(), port.c_str(), &id, static_cast<DWORD>(i), &info);
    }
    size_t used = heapBytes() - before;
    double perJob = static_cast<double>(used) / options.records;
    printf("memory: %d records, %.0f bytes per job for a payload of %zu: ratio %.2f\n", options.records, perJob, payload,
           perJob / payload);
    // Tear down without the end notices of 100,000 jobs in the measurement.
    delete table;
    return 0;
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        int* target = arg == "--reports" ? &options.reports
                      : arg == "--printers" ? &options.printers
                      : arg == "--ended" ? &options.ended
                      : arg == "--records" ? &options.records
                                           : nullptr;
        if (!target || !hasValue || (*target = atoi(argv[++i])) <= 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--send")
        return sendReports(argv[2]);
    if (argc == 2 && std::string(argv[1]) == "--help") {
        fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    if (!parse(argc, argv, options)) {
        fputs(kUsage, stderr);
        return 2;
    }
    testsupport::TempRoot root;
    setUpPrinters(options.printers);
    spoolertest::SpoolerHost host;
    if (!host.start() || !addPrinters(options.printers)) {
        fprintf(stderr, "bench_service_jobs: the spooler host did not start\n");
        return 1;
    }
    fprintf(stderr, "submitting %d jobs\n", options.reports);
    std::vector<Job> jobs = submitJobs(options.reports, options.printers);
    int result = jobs.empty() || !waitPrinted(jobs) ? 1 : benchReports(options, root.path(), jobs);
    if (result == 0)
        result = benchEnded(options);
    if (result == 0)
        result = benchMemory(options);
    host.stop();
    return result;
}
