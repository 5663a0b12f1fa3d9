// jtrk-query: reads a printer's device through the client library JTRKCLIB as the tracking
// service does: device status, the device's jobs, a job traced to its end, a job cancelled, job
// events watched, the binding rebuilt.
#include <arpa/inet.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <winspool.h>

#include "JTRKCLIB.h"
#include "JobMessages.h"
#include "VxDmlpApi.h"

namespace {

const char kProgram[] = "jtrk-query";
const uint32_t kNoObject[2] = {0, 0};

void usage(FILE* out)
{
    fprintf(out,
            "usage: jtrk-query [options] TARGET COMMAND\n"
            "Reads the DMLP device behind TARGET through the client library JTRKCLIB.\n"
            "TARGET: a printer (its port is used), a port of the monitor, or an IPv4 address.\n"
            "Commands:\n"
            "  status [JOB]           device status seen from JOB (or from no job)\n"
            "  jobs                   the device's jobs: handle, client job id and trace result\n"
            "  trace JOB              what became of JOB at the device\n"
            "  cancel JOB             cancels JOB at the device\n"
            "  watch [--for S]        one line per job event, for S seconds (default: until Ctrl+C)\n"
            "  rebind [--local-port N] checks the device with an echo and binds again from port N\n"
            "JOB: #HANDLE (a device job object), or the client job id as 128 hexadecimal digits\n"
            "(its 64 bytes as they go on the wire, as dmlp-query and 'jobs' print it).\n"
            "Options:\n"
            "  --count                also ask for impression counts\n"
            "  --timeout MS, --retry N  binding properties for an address TARGET (a printer or port\n"
            "                         takes them from [JTRKCLIB] of jtrk-query.ini beside the program)\n"
            "  --root PATH            the platform root (default: PAL_ROOT)\n"
            "Result codes print as 0x%%08X with their phase and status. Exit 0 when the status is 1,\n"
            "1 otherwise, 2 on a wrong command line.\n");
}

const char* phaseName(DWORD phase)
{
    switch (phase) {
    case DMLLIB_PHASE_START: return "start";
    case DMLLIB_PHASE_BIND: return "bind";
    case DMLLIB_PHASE_UNBIND: return "unbind";
    case DMLLIB_PHASE_RELEASEPARAM: return "release event block";
    case DMLLIB_PHASE_FREEMEMORY: return "free result";
    case DMLLIB_PHASE_ECHO: return "echo";
    case DMLLIB_PHASE_TRACEJOB: return "job log";
    case DMLLIB_PHASE_CANCELJOB: return "cancel job";
    case DMLLIB_PHASE_GET2: return "get attributes";
    case DMLLIB_PHASE_LISTOBJECTS2: return "list objects";
    case DMLLIB_PHASE_SUBSCRIBE: return "subscribe";
    case DMLLIB_PHASE_SUBSCRIBE2: return "subscribe (2)";
    case DMLLIB_PHASE_UNSUBSCRIBE: return "unsubscribe";
    case DMLLIB_PHASE_UNSUBSCRIBE2: return "unsubscribe (2)";
    default: return "-";
    }
}

const char* traceMeaning(BYTE trace)
{
    switch (trace) {
    case DMLLIB_TRACE_FAILED: return "failed";
    case DMLLIB_TRACE_COMPLETED: return "completed";
    case DMLLIB_TRACE_CANCELLED: return "cancelled";
    case DMLLIB_TRACE_PROCESSING: return "in progress";
    case DMLLIB_TRACE_UNKNOWN: return "unknown";
    default: return "-";
    }
}

// "result 0x00060001 (phase 6 free result, status 1)"; the exit code of the result.
int printResult(const char* what, DWORD code)
{
    printf("%s 0x%08X (phase %u %s, status %u)\n", what, code, DMLLIB_RESULT_PHASE(code),
           phaseName(DMLLIB_RESULT_PHASE(code)), DMLLIB_RESULT_STATUS(code));
    return DMLLIB_RESULT_STATUS(code) == DMLP_SUCCESS ? 0 : 1;
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    value = strtoul(text.c_str(), &end, 0);
    return !text.empty() && *end == '\0' && errno == 0 && value <= max;
}

std::u16string wide(const std::string& text)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::u16string out(chars > 0 ? static_cast<size_t>(chars) : 1, u'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), chars);
    out.resize(out.size() - 1);
    return out;
}

// The port of a printer; the name itself when it names no printer.
std::u16string portOf(const std::u16string& target)
{
    std::u16string name = target;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr))
        return target;
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> room(needed ? needed : 1);
    std::u16string port = target;
    if (needed && GetPrinterW(printer, 2, room.data(), needed, &needed)) {
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(room.data());
        if (info->pPortName)
            port = info->pPortName;
    }
    ClosePrinter(printer);
    return port;
}

// ---- Events --------------------------------------------------------------------------------------

struct WatchContext {
    DmlpInstance instance;
    const WCHAR* port;
    std::mutex lock;
    unsigned events = 0;
};

void printEvent(const DmlpEventEntry& entry)
{
    if (entry.id == 154 || entry.id == 155) {
        const auto* state = static_cast<const JobState3*>(entry.body);
        ClJobID id;
        memcpy(&id, &state->clJobId, sizeof id);
        printf("event %u job #%u state %u reason %u hint 0x%08X id %s\n", entry.id, state->Job, state->State,
               state->Reason, state->HintPriorityCode, jobmsg::wireHex(id).c_str());
    } else if (entry.id == 18) {
        const auto* count = static_cast<const DmlpImpressionEvent*>(entry.body);
        printf("event 18 job #%u impressions %u\n", count->Job, count->ImprCompCnt);
    } else {
        printf("event %u\n", entry.id);
    }
}

void onEvent(const DmlpAddress*, void* context, void* event)
{
    auto* watch = static_cast<WatchContext*>(context);
    {
        std::lock_guard<std::mutex> hold(watch->lock);
        const auto* record = static_cast<const DmlpEventRecord*>(event);
        for (uint8_t i = 0; record->entries && i < record->count; ++i) {
            printEvent(record->entries[i]);
            ++watch->events;
        }
        fflush(stdout);
    }
    DMLLIB_ReleaseBuff(watch->instance, watch->port, event);
}

// Waits for seconds (0: until SIGINT or SIGTERM); the signals are blocked before any thread starts.
void waitForEnd(unsigned long seconds)
{
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    if (seconds == 0) {
        int signal = 0;
        sigwait(&stop, &signal);
        return;
    }
    timespec limit = {static_cast<time_t>(seconds), 0};
    while (sigtimedwait(&stop, nullptr, &limit) < 0 && errno == EINTR) {
    }
}

// ---- Commands ------------------------------------------------------------------------------------

struct Query {
    DmlpInstance instance = 0;
    std::u16string port;
    DmlpBinding binding = nullptr;
    int countOption = 0;
};

// The client job id of a JOB argument: "#HANDLE" asks the device for it.
bool resolveJob(Query& query, const std::string& job, ClJobID& id)
{
    if (job.empty() || job[0] != '#')
        return jobmsg::parseWireHex(job, id);
    unsigned long handle = 0;
    if (!parseNumber(job.substr(1), 0xFFFFFFFFul, handle) || handle == 0)
        return false;
    DWORD code = DMLLIB_GetClientJobID(query.instance, query.port.c_str(), static_cast<DWORD>(handle), &id,
                                       query.binding);
    if (DMLLIB_RESULT_STATUS(code) != DMLP_SUCCESS) {
        printResult("client job id", code);
        return false;
    }
    return true;
}

int status(Query& query, const ClJobID& id)
{
    StatusInfo info = {};
    DWORD code = DMLLIB_GetStatusInfo(query.instance, query.port.c_str(), &id, &info, query.binding, query.countOption);
    int exitCode = printResult("result", code);
    printf("online %u status-code 0x%08X impressions %u\n", info.byOnline, info.lStatusCode, info.ImprCompCnt);
    return exitCode;
}

int trace(Query& query, const ClJobID& id)
{
    BYTE byte = 0;
    DWORD impressions = 0;
    DWORD code = DMLLIB_TraceJob(query.instance, query.port.c_str(), &id, &byte, query.binding, &impressions,
                                 query.countOption);
    int exitCode = printResult("result", code);
    printf("trace %u %s impressions %u\n", byte, traceMeaning(byte), impressions);
    return exitCode;
}

int cancel(Query& query, const ClJobID& id)
{
    return printResult("result", DMLLIB_CancelJob(query.instance, query.port.c_str(), &id, query.binding));
}

int jobs(Query& query)
{
    DmlpListObjects2Params request = {};
    request.value4 = 201;
    request.value5 = 22;
    request.value6 = 501;
    DmlpListObjects2Result list = {};
    DmlpStatus listed = DMLP_ListObjects2(DMLP_MODE_SYNC, nullptr, query.binding, kNoObject, &request, &list);
    if (listed != DMLP_SUCCESS) {
        printf("list objects: status %u\n", listed);
        DMLP_FreeMemory(&list.buffer);
        return 1;
    }
    std::vector<uint32_t> handles(list.objects, list.objects + list.count);
    if (list.buffer.flags & DMLP_BUFFER_LIBRARY)
        DMLP_FreeMemory(&list.buffer);
    printf("%zu job(s)\n", handles.size());
    int exitCode = 0;
    for (uint32_t handle : handles) {
        ClJobID id = {};
        DWORD code = DMLLIB_GetClientJobID(query.instance, query.port.c_str(), handle, &id, query.binding);
        if (DMLLIB_RESULT_STATUS(code) != DMLP_SUCCESS) {
            printf("#%u ", handle);
            exitCode = printResult("client job id", code);
            continue;
        }
        BYTE byte = 0;
        DWORD impressions = 0;
        code = DMLLIB_TraceJob(query.instance, query.port.c_str(), &id, &byte, query.binding, &impressions,
                               query.countOption);
        printf("#%u %s trace %u %s (0x%08X)\n", handle, jobmsg::wireHex(id).c_str(), byte, traceMeaning(byte), code);
    }
    return exitCode;
}

int watch(WatchContext& context, unsigned long seconds)
{
    printf("watching %s\n", seconds ? (std::to_string(seconds) + " s").c_str() : "until Ctrl+C");
    fflush(stdout);
    waitForEnd(seconds);
    std::lock_guard<std::mutex> hold(context.lock);
    printf("%u event(s)\n", context.events);
    return 0;
}

int rebind(Query& query, unsigned long localPort)
{
    DWORD rebound = DMLLIB_ResetBind(query.instance, query.port.c_str(), &query.binding, static_cast<WORD>(localPort));
    printf("rebind status %u (%s)\n", rebound,
           rebound == 1 ? "bound again" : rebound == 0 ? "binding untouched" : "bind failed, no binding");
    return rebound == 1 ? 0 : 1;
}

struct CommandLine {
    std::vector<std::string> words;
    bool count = false;
    unsigned long timeout = 5000, retry = 2, seconds = 0, localPort = 0;
};

// 0 to go on, else the exit code (help 0 is returned as -1).
int parse(int argc, char** argv, CommandLine& line)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return -1;
        } else if (arg == "--count") {
            line.count = true;
        } else if (arg == "--timeout" && hasValue) {
            if (!parseNumber(argv[++i], 0x7FFFFFFF, line.timeout) || line.timeout == 0) {
                fprintf(stderr, "%s: %s is not a time-out in milliseconds\n", kProgram, argv[i]);
                return 2;
            }
        } else if (arg == "--retry" && hasValue) {
            if (!parseNumber(argv[++i], 255, line.retry) || line.retry == 0) {
                fprintf(stderr, "%s: %s is not a number of transmissions (1 to 255)\n", kProgram, argv[i]);
                return 2;
            }
        } else if (arg == "--for" && hasValue) {
            if (!parseNumber(argv[++i], 86400, line.seconds) || line.seconds == 0) {
                fprintf(stderr, "%s: %s is not a number of seconds\n", kProgram, argv[i]);
                return 2;
            }
        } else if (arg == "--local-port" && hasValue) {
            if (!parseNumber(argv[++i], 65535, line.localPort)) {
                fprintf(stderr, "%s: %s is not a port number\n", kProgram, argv[i]);
                return 2;
            }
        } else if (arg == "--root" && hasValue) {
            setenv("PAL_ROOT", argv[++i], 1);
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "%s: unknown option %s\n", kProgram, arg.c_str());
            usage(stderr);
            return 2;
        } else {
            line.words.push_back(arg);
        }
    }
    const std::string command = line.words.size() >= 2 ? line.words[1] : "";
    size_t arguments = line.words.size() >= 2 ? line.words.size() - 2 : 0;
    bool known = (command == "status" && arguments <= 1) ||
                 ((command == "trace" || command == "cancel") && arguments == 1) ||
                 ((command == "jobs" || command == "watch" || command == "rebind") && arguments == 0);
    if (!known) {
        usage(stderr);
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CommandLine line;
    if (int done = parse(argc, argv, line))
        return done < 0 ? 0 : done;
    const std::string& target = line.words[0];
    const std::string& command = line.words[1];

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    Query query;
    query.countOption = line.count ? 1 : 0;
    DmlpAddress peer = {};
    bool byAddress = inet_pton(AF_INET, target.c_str(), peer.u.inet.address) == 1;
    query.port = byAddress ? wide(target) : portOf(wide(target));
    if (!DMLLIB_Initialize(&query.instance)) {
        fprintf(stderr, "%s: the protocol library did not start\n", kProgram);
        return 1;
    }
    WatchContext context;
    context.instance = query.instance;
    context.port = query.port.c_str();
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = onEvent;
    callback.context = &context;

    int exitCode = 1;
    if (byAddress) {
        peer.kind = DMLP_ADDRESS_UDP;
        peer.u.inet.port = 47545;
        DmlpEPProperty property = {};
        property.timeout = static_cast<uint32_t>(line.timeout);
        property.transmissions = static_cast<uint8_t>(line.retry);
        DmlpStatus bound =
            DMLP_Bind(static_cast<DmlpInstance>(query.instance), &peer, nullptr, &property, &query.binding);
        if (bound != DMLP_SUCCESS) {
            fprintf(stderr, "%s: cannot bind to %s (status %u)\n", kProgram, target.c_str(), bound);
            DMLLIB_Terminate(query.instance);
            return 1;
        }
        if (command == "watch")
            printResult("subscribe",
                        DMLLIB_SubscribeEvent(query.instance, query.port.c_str(), DMLLIB_EVENT_SUBSCRIBE, &callback,
                                              &query.binding, nullptr, query.countOption));
    } else {
        DWORD code = DMLLIB_SubscribeEvent(query.instance, query.port.c_str(), DMLLIB_EVENT_SUBSCRIBE, &callback,
                                           &query.binding, nullptr, query.countOption);
        if (!query.binding) {
            printResult("bind", code);
            fprintf(stderr, "%s: no binding to the device of port %s\n", kProgram,
                    std::string(query.port.begin(), query.port.end()).c_str());
            DMLLIB_Terminate(query.instance);
            return 1;
        }
        if (command == "watch")
            printResult("subscribe", code);
    }

    ClJobID id = {};
    bool needsJob = command == "trace" || command == "cancel" || (command == "status" && line.words.size() == 3);
    if (needsJob && !resolveJob(query, line.words[2], id)) {
        fprintf(stderr, "%s: JOB is #HANDLE or 128 hexadecimal digits, and the device must know the handle\n",
                kProgram);
        exitCode = 2;
    } else if (command == "status") {
        exitCode = status(query, id);
    } else if (command == "trace") {
        exitCode = trace(query, id);
    } else if (command == "cancel") {
        exitCode = cancel(query, id);
    } else if (command == "jobs") {
        exitCode = jobs(query);
    } else if (command == "watch") {
        exitCode = watch(context, line.seconds);
    } else {
        exitCode = rebind(query, line.localPort);
    }

    if (byAddress && command != "watch") {
        DMLP_Unbind(query.binding);
    } else {
        DWORD code = DMLLIB_SubscribeEvent(query.instance, query.port.c_str(), DMLLIB_EVENT_UNSUBSCRIBE, &callback,
                                           &query.binding, nullptr, query.countOption);
        if (command == "watch")
            printResult("unsubscribe", code);
    }
    DMLLIB_Terminate(query.instance);
    return exitCode;
}
