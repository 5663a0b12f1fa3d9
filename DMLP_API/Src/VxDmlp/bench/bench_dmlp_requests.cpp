// bench-dmlp-requests: the request rate of VxDmlp against a simulated device, synchronous and with
// 8 requests in flight, beside a bare UDP loop that sends the same request bytes.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "DmlpCoder.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"

namespace {

const char kUsage[] =
    "usage: bench-dmlp-requests [--requests N] [--backlog]\n"
    "\n"
    "Starts the device simulator devsim (beside this program) with DMLP on a free UDP port of\n"
    "127.0.0.1 and asks it for its device state (Get2 512/601/282) N times (default 20000):\n"
    "synchronously on one binding (rate, median and 99th percentile of the round trip), with 8\n"
    "asynchronous requests in flight, and through a bare UDP socket that sends the same request\n"
    "bytes and waits for each answer, once before the library runs and once after. Prints the\n"
    "rates and the ratio of the synchronous rate to the faster bare loop's (the target is at least\n"
    "0.4), and for each the context switches per request of this process (all its threads, the\n"
    "simulator not counted): blocked + preempted.\n"
    "--backlog instead queues 4000, 16000 and 64000 asynchronous requests at once on one binding\n"
    "and prints the time until all are answered, then queues 64000 and stops the library at once:\n"
    "the time DMLP_Terminate takes and whether every request was called back exactly once.\n"
    "Exit status 0 when every request was answered, 1 when a step failed, 2 for a wrong command line.\n";

using Clock = std::chrono::steady_clock;
const uint32_t kObject[2] = {0, 0};
const uint32_t kDeviceObject = 601;
const uint16_t kDeviceState = 282;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Context switches of every thread of this process so far: voluntary ones (a thread blocked,
// waiting for another) and involuntary ones (a thread was preempted).
struct Switches {
    long voluntary = 0, involuntary = 0;
    static Switches Now()
    {
        rusage usage = {};
        getrusage(RUSAGE_SELF, &usage);
        return Switches{usage.ru_nvcsw, usage.ru_nivcsw};
    }
};

// Context switches per request over one phase.
struct SwitchCount {
    Switches before;
    double voluntary = 0, involuntary = 0;
    void Start() { before = Switches::Now(); }
    void Stop(size_t requests)
    {
        const Switches after = Switches::Now();
        voluntary = double(after.voluntary - before.voluntary) / double(requests);
        involuntary = double(after.involuntary - before.involuntary) / double(requests);
    }
};

DmlpGet2Params DeviceStateRequest()
{
    DmlpGet2Params params = {};
    params.value1 = 512;
    params.objectCount = 1;
    params.objects = &kDeviceObject;
    params.attributeIdCount = 1;
    params.attributeIds = &kDeviceState;
    return params;
}

int Fail(const std::string& message)
{
    fprintf(stderr, "bench-dmlp-requests: %s\n", message.c_str());
    return 1;
}

// Synchronous requests: the rate and the round-trip percentiles.
bool RunSynchronous(DmlpBinding binding, size_t requests, double& rate, double& p50, double& p99, SwitchCount& switches)
{
    const DmlpGet2Params params = DeviceStateRequest();
    std::vector<double> times;
    times.reserve(requests);
    switches.Start();
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < requests; ++i) {
        DmlpGet2Result result = {};
        const Clock::time_point sent = Clock::now();
        const DmlpStatus status = DMLP_Get2(DMLP_MODE_SYNC, nullptr, binding, kObject, &params, &result);
        times.push_back(Seconds(Clock::now() - sent) * 1e6);
        DMLP_FreeMemory(&result.buffer);
        if (status != DMLP_SUCCESS)
            return false;
        if (i % (requests / 10 + 1) == 0)
            fprintf(stderr, ".");
    }
    rate = requests / Seconds(Clock::now() - start);
    switches.Stop(requests);
    std::sort(times.begin(), times.end());
    p50 = times[times.size() / 2];
    p99 = times[times.size() * 99 / 100];
    fprintf(stderr, "\n");
    return true;
}

// Keeps up to window asynchronous requests in flight until total are answered; each answer
// issues the next.
struct InFlight {
    std::mutex mutex;
    std::condition_variable done;
    size_t issued = 0, answered = 0, failed = 0, total = 0;
    DmlpBinding binding = nullptr;
    DmlpGet2Params params = DeviceStateRequest();
    DmlpCallback callback = {};

    InFlight(DmlpBinding to, size_t requests) : total(requests), binding(to)
    {
        callback.kind = DMLP_CALLBACK_KIND;
        callback.function.result = &InFlight::Answered;
        callback.context = this;
    }
    bool Issue()
    {
        return DMLP_Get2(DMLP_MODE_ASYNC, &callback, binding, kObject, &params, nullptr) == DMLP_SUCCESS;
    }
    // Issues the first window requests; false when one is refused.
    bool Start(size_t window)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t i = 0; i < window && issued < total; ++i) {
            if (!Issue())
                return false;
            ++issued;
        }
        return true;
    }
    bool WaitAll()
    {
        std::unique_lock<std::mutex> lock(mutex);
        return done.wait_for(lock, std::chrono::seconds(300), [&] { return answered >= issued && issued == total; });
    }
    static uint16_t Answered(DmlpBinding, uint16_t, void* context, uint16_t status, void* result)
    {
        InFlight* self = (InFlight*)context;
        if (result != nullptr)
            DMLP_ReleaseParam(result);
        std::lock_guard<std::mutex> lock(self->mutex);
        ++self->answered;
        self->failed += status != DMLP_SUCCESS;
        if (self->issued < self->total && self->Issue())
            ++self->issued;
        self->done.notify_all();
        return 0;
    }
};

// The seconds until requests, window of them in flight at a time, are all answered; 0 on failure.
double RunInFlight(DmlpBinding binding, size_t requests, size_t window, SwitchCount& switches)
{
    InFlight flight(binding, requests);
    switches.Start();
    const Clock::time_point start = Clock::now();
    const bool finished = flight.Start(window) && flight.WaitAll() && flight.failed == 0;
    const double seconds = Seconds(Clock::now() - start);
    switches.Stop(requests);
    return finished ? seconds : 0;
}

bool BindDevice(DmlpInstance instance, uint16_t port, uint32_t timeout, DmlpBinding& binding)
{
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_UDP;
    peer.u.inet.address[0] = 127;
    peer.u.inet.address[3] = 1;
    peer.u.inet.port = port;
    DmlpEPProperty property = {};
    property.timeout = timeout;
    property.transmissions = 1;
    return DMLP_Bind(instance, &peer, nullptr, &property, &binding) == DMLP_SUCCESS;
}

// Backlogs: requests posted at once on one binding, each answered exactly once; then the stop
// behind a backlog.
int RunBacklogs(uint16_t port)
{
    const size_t stopped = 64000;
    for (size_t count : {4000u, 16000u, 64000u, 0u}) {
        DmlpInstance instance = 0;
        DmlpBinding binding = nullptr;
        if (DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance) != DMLP_SUCCESS ||
            !BindDevice(instance, port, 60000, binding))
            return Fail("cannot bind to the device");
        if (count != 0) {
            SwitchCount switches;
            const double seconds = RunInFlight(binding, count, count, switches);
            if (seconds == 0)
                return Fail("a queued request was refused, failed or went unanswered");
            printf("%6zu queued    all answered in %.3f s\n", count, seconds);
            DMLP_Unbind(binding);
            DMLP_Terminate(instance);
            continue;
        }
        InFlight flight(binding, stopped);
        if (!flight.Start(stopped))
            return Fail("a queued request was refused");
        const Clock::time_point start = Clock::now();
        DMLP_Terminate(instance);
        const double seconds = Seconds(Clock::now() - start);
        std::lock_guard<std::mutex> lock(flight.mutex);
        printf("%6zu queued    DMLP_Terminate returned in %.3f s; %zu callbacks (%zu answered by the stop)\n",
               stopped, seconds, flight.answered, flight.failed);
        if (flight.answered != stopped)
            return Fail("not every queued request was called back exactly once");
    }
    return 0;
}

// The same request bytes through a plain socket, one at a time.
bool RunBare(uint16_t port, size_t requests, double& rate, SwitchCount& switches)
{
    DmlpCoderInitialize();
    DmlpHeader header = {};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.method = 102;
    const DmlpGet2Params params = DeviceStateRequest();
    DmlpCursor frame = {nullptr, 0};
    if (DmlpEncodeMessage(&header, &params, &frame) != DMLP_CODER_OK)
        return false;
    std::vector<uint8_t> request(frame.ptr, frame.ptr + frame.count);
    DmlpFree(frame.ptr);
    request[3] = DMLP_FLAG_REPLY_WANTED;
    const int socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in device = {};
    device.sin_family = AF_INET;
    device.sin_port = htons(port);
    device.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket_, (sockaddr*)&device, sizeof device) != 0)
        return false;
    uint8_t reply[65536];
    bool whole = true;
    switches.Start();
    const Clock::time_point start = Clock::now();
    for (size_t i = 0; i < requests && whole; ++i) {
        const uint16_t id = (uint16_t)(i % 65535 + 1);
        request[6] = (uint8_t)(id >> 8);
        request[7] = (uint8_t)id;
        send(socket_, request.data(), request.size(), 0);
        pollfd ready = {socket_, POLLIN, 0};
        whole = poll(&ready, 1, 5000) == 1 && recv(socket_, reply, sizeof reply, 0) >= 20;
    }
    rate = requests / Seconds(Clock::now() - start);
    switches.Stop(requests);
    close(socket_);
    return whole;
}

} // namespace

int main(int argc, char** argv)
{
    size_t requests = 20000;
    bool backlogs = false;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help")) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (!strcmp(argv[i], "--backlog")) {
            backlogs = true;
            continue;
        }
        char* end = nullptr;
        if (!strcmp(argv[i], "--requests") && i + 1 < argc && (requests = strtoul(argv[++i], &end, 10)) > 0 &&
            *end == '\0')
            continue;
        fputs(kUsage, stderr);
        return 2;
    }
    testsupport::TempRoot root;
    testsupport::ChildProcess device(testsupport::besideSelf("devsim"),
                                     {"--no-raw", "--dmlp", "127.0.0.1:0", "--root", root.path()});
    uint16_t port = 0;
    // No line is read after the port's: the simulator prints nothing more until it ends.
    while (port == 0) {
        const std::string line = device.readLine();
        if (line.empty())
            break;
        const size_t at = line.find("DMLP on 127.0.0.1:");
        if (at != std::string::npos)
            port = (uint16_t)atoi(line.c_str() + at + strlen("DMLP on 127.0.0.1:"));
    }
    if (port == 0)
        return Fail("the device simulator did not open its DMLP port");
    if (backlogs)
        return RunBacklogs(port);

    // The bare loop runs before and after the library: on a shared machine its rate drifts, and the
    // faster of the two makes the harder comparison.
    double bareBefore = 0, bareAfter = 0;
    SwitchCount bareSwitches, bareAfterSwitches;
    fprintf(stderr, "bare UDP\n");
    if (!RunBare(port, requests, bareBefore, bareSwitches))
        return Fail("a bare request went unanswered");

    DmlpInstance instance = 0;
    if (DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance) != DMLP_SUCCESS)
        return Fail("the protocol library did not start");
    DmlpBinding binding = nullptr;
    if (!BindDevice(instance, port, 5000, binding))
        return Fail("cannot bind to the device");

    double warm, syncRate = 0, p50 = 0, p99 = 0, flightRate = 0;
    SwitchCount syncSwitches, flightSwitches;
    fprintf(stderr, "warming up");
    bool good = RunSynchronous(binding, std::min<size_t>(requests / 10 + 1, 2000), warm, p50, p99, syncSwitches);
    fprintf(stderr, "synchronous");
    good = good && RunSynchronous(binding, requests, syncRate, p50, p99, syncSwitches);
    fprintf(stderr, "8 in flight\n");
    const double flightSeconds = good ? RunInFlight(binding, requests, 8, flightSwitches) : 0;
    good = flightSeconds > 0;
    flightRate = good ? requests / flightSeconds : 0;
    DMLP_Unbind(binding);
    DMLP_Terminate(instance);
    fprintf(stderr, "bare UDP\n");
    good = good && RunBare(port, requests, bareAfter, bareAfterSwitches);
    const double bareRate = std::max(bareBefore, bareAfter);
    if (!good)
        return Fail("a request failed or went unanswered");
    printf("requests          %zu\n", requests);
    printf("synchronous       %.0f requests/s  p50 %.1f us  p99 %.1f us\n", syncRate, p50, p99);
    printf("8 in flight       %.0f requests/s\n", flightRate);
    printf("bare UDP loop     %.0f requests/s  (before %.0f, after %.0f)\n", bareRate, bareBefore, bareAfter);
    printf("synchronous/bare  %.2f (target 0.40)\n", syncRate / bareRate);
    printf("context switches per request (this process; blocked + preempted):\n");
    printf("  synchronous %.1f + %.1f, 8 in flight %.1f + %.1f, bare %.1f + %.1f\n", syncSwitches.voluntary,
           syncSwitches.involuntary, flightSwitches.voluntary, flightSwitches.involuntary, bareSwitches.voluntary,
           bareSwitches.involuntary);
    return 0;
}
