// bench-dmlp-events: event notifications from many simulated printers through VxDmlp's event
// port to the subscribers' callbacks: the rate at full sender speed, and the latency at a paced
// rate.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "DmlpCoder.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"

namespace {

const char kUsage[] =
    "usage: bench-dmlp-events [--devices N] [--burst ROUNDS] [--rate R] [--seconds S]\n"
    "\n"
    "Starts devsim (beside this program) with N printers (default 500) on 127.0.1.1 and on, binds\n"
    "each over UDP and subscribes to events 154 and 18. Phase 1: every printer sends ROUNDS\n"
    "notifications (default 20) at full speed; prints the events per second at the callbacks and\n"
    "the losses. Phase 2: R notifications a second (default 5000) for S seconds (default 10);\n"
    "prints the median and 99th percentile from the send (the CLOCK_MONOTONIC time in bytes 8-15 of\n"
    "the client job id) to the callback, and the losses. Baseline: phase 1's notifications sent to a\n"
    "bare one-thread UDP receive loop that the printers were told by hand.\n"
    "Exit status 0 when every step ran, 1 when one failed, 2 for a wrong command line.\n";

const uint32_t kObject[2] = {0, 0};
const uint16_t kIds[] = {154, 18};

uint64_t NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000000000ull + (uint64_t)now.tv_nsec;
}

struct Tally {
    std::atomic<uint64_t> events{0};
    std::atomic<uint64_t> first{0};
    std::atomic<uint64_t> last{0};
    std::mutex lock;
    std::vector<double> latencies;  // microseconds
    bool measure = false;
};
Tally g_tally;

void OnEvent(const DmlpAddress*, void*, void* event)
{
    const uint64_t now = NowNs();
    const DmlpEventRecord* record = (const DmlpEventRecord*)event;
    for (uint8_t i = 0; i < record->count; ++i) {
        if (record->entries[i].id != 154)
            continue;
        uint64_t sent = 0;
        const JobState3* state = (const JobState3*)record->entries[i].body;
        for (int b = 0; b < 8; ++b)
            sent = sent << 8 | state->clJobId.Data4[b];
        uint64_t expected = 0;
        g_tally.first.compare_exchange_strong(expected, now);
        g_tally.last = now;
        ++g_tally.events;
        std::lock_guard<std::mutex> guard(g_tally.lock);
        if (g_tally.measure && sent != 0 && now > sent)
            g_tally.latencies.push_back((double)(now - sent) / 1000.0);
    }
    DMLP_ReleaseParam(event);
}

int Fail(const std::string& message)
{
    fprintf(stderr, "bench-dmlp-events: %s\n", message.c_str());
    return 1;
}

std::string DeviceAddress(int index) { return "127.0." + std::to_string(1 + index / 250) + "." + std::to_string(1 + index % 250); }

bool Control(const std::string& socket, std::vector<std::string> words)
{
    words.insert(words.begin(), {"--control", socket});
    return testsupport::runProgram(testsupport::besideSelf("devsim-ctl"), words).status == 0;
}

// Waits until no event has arrived for quietMs or expected have arrived.
void Settle(uint64_t expected, int quietMs)
{
    uint64_t seen = g_tally.events;
    for (int quiet = 0; quiet < quietMs && g_tally.events < expected; quiet += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (g_tally.events != seen) {
            seen = g_tally.events;
            quiet = 0;
        }
    }
}

// The subscription element of value type 76: ids, selector 7, the address to report to, extra.
struct Element {
    uint16_t count;
    const uint16_t* ids;
    uint32_t selector;
    DmlpAddress address;
    uint32_t extra;
};

// Registers a bare UDP socket with every printer by hand-sent AppendToList requests; the
// socket then counts the phase-1 notifications in one receive loop.
bool RunBare(unsigned long devices, const std::string& control, unsigned long burst, double& rate, uint64_t& seen)
{
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 4 * 1024 * 1024;  // as the transport gives its UDP listeners
    setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (bind(receiver, (sockaddr*)&local, sizeof local) != 0 || getsockname(receiver, (sockaddr*)&local, &length) != 0)
        return false;
    Element element = {2, kIds, 7, {}, 0};
    element.address.kind = DMLP_ADDRESS_UDP;
    memcpy(element.address.u.inet.address, &local.sin_addr, 4);
    element.address.u.inet.port = ntohs(local.sin_port);
    DmlpAppendToListParams params = {3, 502, 2, 0, &element};
    DmlpHeader header = {DMLP_HEADER_MAGIC, DMLP_HEADER_VERSION, DMLP_FLAG_REPLY_WANTED, 8, 1, 0, 0, 0, 0};
    DmlpCoderInitialize();
    DmlpCursor frame = {nullptr, 0};
    if (DmlpEncodeMessage(&header, &params, &frame) != DMLP_CODER_OK)
        return false;
    for (unsigned long i = 0; i < devices; ++i) {
        sockaddr_in device = {};
        device.sin_family = AF_INET;
        device.sin_port = htons(47545);
        inet_pton(AF_INET, DeviceAddress((int)i).c_str(), &device.sin_addr);
        sendto(receiver, frame.ptr, frame.count, 0, (sockaddr*)&device, sizeof device);
    }
    DmlpFree(frame.ptr);
    uint8_t datagram[65536];
    // The registrations' answers first.
    for (pollfd ready = {receiver, POLLIN, 0}; poll(&ready, 1, 500) == 1;)
        recv(receiver, datagram, sizeof datagram, 0);
    std::thread trigger([&] { Control(control, {"event", "all", "count=" + std::to_string(burst), "154", "18"}); });
    uint64_t first = 0, last = 0;
    seen = 0;
    for (pollfd ready = {receiver, POLLIN, 0}; poll(&ready, 1, seen == 0 ? 10000 : 1000) == 1;) {
        if (recv(receiver, datagram, sizeof datagram, 0) >= 25 && datagram[4] == 0 && datagram[5] == 10) {
            last = NowNs();
            first = first != 0 ? first : last;
            ++seen;
        }
    }
    trigger.join();
    close(receiver);
    rate = last > first ? seen / ((double)(last - first) / 1e9) : 0.0;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long devices = 500, burst = 20, rate = 5000, seconds = 10;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help")) {
            fputs(kUsage, stdout);
            return 0;
        }
        unsigned long* target = !strcmp(argv[i], "--devices") ? &devices
                                : !strcmp(argv[i], "--burst") ? &burst
                                : !strcmp(argv[i], "--rate")  ? &rate
                                : !strcmp(argv[i], "--seconds") ? &seconds
                                                                 : nullptr;
        char* end = nullptr;
        if (target != nullptr && i + 1 < argc && (*target = strtoul(argv[++i], &end, 10)) > 0 && *end == '\0' &&
            devices <= 5000)
            continue;
        fputs(kUsage, stderr);
        return 2;
    }
    testsupport::TempRoot root;
    const std::string control = root.file("devsim.ctl");
    std::vector<std::string> args = {"--root", root.path(), "--control", control};
    for (unsigned long i = 0; i < devices; ++i)
        args.insert(args.end(), {"--device", DeviceAddress((int)i), "--no-raw"});
    testsupport::ChildProcess simulator(testsupport::besideSelf("devsim"), args);
    unsigned long ready = 0;
    for (std::string line; ready < devices && !(line = simulator.readLine()).empty();)
        ready += line.find("DMLP on") != std::string::npos;
    if (ready < devices)
        return Fail("the device simulator did not open its DMLP ports");
    // devsim writes a line per subscription: read them all the run long, or a full pipe stops it
    // in the middle of a phase.
    std::atomic<bool> finished{false};
    std::thread drain([&] {
        while (!finished)
            simulator.readLine(100);
    });
    struct Join {
        std::atomic<bool>& finished;
        std::thread& drain;
        ~Join()
        {
            finished = true;
            drain.join();
        }
    } join{finished, drain};

    DmlpInstance instance = 0;
    if (DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance) != DMLP_SUCCESS)
        return Fail("the protocol library did not start");
    DmlpEPProperty property = {};
    property.timeout = 5000;
    property.transmissions = 2;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = OnEvent;
    const DmlpEventList list = {2, kIds};
    std::vector<DmlpBinding> bindings;
    fprintf(stderr, "subscribing %lu printers\n", devices);
    for (unsigned long i = 0; i < devices; ++i) {
        DmlpAddress peer = {};
        peer.kind = DMLP_ADDRESS_UDP;
        peer.u.inet.address[0] = 127;
        peer.u.inet.address[2] = (uint8_t)(1 + i / 250);
        peer.u.inet.address[3] = (uint8_t)(1 + i % 250);
        peer.u.inet.port = 47545;
        DmlpBinding binding = nullptr;
        if (DMLP_Bind(instance, &peer, nullptr, &property, &binding) != DMLP_SUCCESS ||
            DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0, &callback) != DMLP_SUCCESS)
            return Fail("cannot subscribe to " + DeviceAddress((int)i));
        bindings.push_back(binding);
    }

    fprintf(stderr, "phase 1: %lu rounds at full speed\n", burst);
    const uint64_t burstExpected = devices * burst;
    const uint64_t sendStart = NowNs();
    if (!Control(control, {"event", "all", "count=" + std::to_string(burst), "154", "18"}))
        return Fail("devsim-ctl event failed");
    const double sendSeconds = (double)(NowNs() - sendStart) / 1e9;
    Settle(burstExpected, 1000);
    const uint64_t burstSeen = g_tally.events;
    const double burstSeconds = (double)(g_tally.last - g_tally.first) / 1e9;

    fprintf(stderr, "phase 2: %lu a second for %lu s\n", rate, seconds);
    g_tally.events = 0;
    {
        std::lock_guard<std::mutex> guard(g_tally.lock);
        g_tally.measure = true;
    }
    const unsigned long rounds = std::max(1ul, rate * seconds / devices);
    const uint64_t pacedExpected = rounds * devices;
    if (!Control(control, {"event", "all", "count=" + std::to_string(rounds), "rate=" + std::to_string(rate), "154",
                           "18"}))
        return Fail("devsim-ctl event failed");
    Settle(pacedExpected, 2000);
    const uint64_t pacedSeen = g_tally.events;
    std::vector<double> latencies;
    {
        std::lock_guard<std::mutex> guard(g_tally.lock);
        latencies = g_tally.latencies;
    }
    // Unsubscribed, so that the printers send the baseline's notifications to the bare loop only.
    for (DmlpBinding binding : bindings) {
        DMLP_UnsubscribeEvent(binding, kObject, 501);
        DMLP_Unbind(binding);
    }
    DMLP_Terminate(instance);
    fprintf(stderr, "baseline: a bare UDP receive loop\n");
    double bareRate = 0;
    uint64_t bareSeen = 0;
    if (!RunBare(devices, control, burst, bareRate, bareSeen))
        return Fail("the bare receive loop could not be set up");
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) { return latencies.empty() ? 0.0 : latencies[(size_t)(q * (latencies.size() - 1))]; };
    printf("printers              %lu\n", devices);
    printf("phase 1 callbacks     %.0f events/s (%llu of %llu, %llu lost)\n",
           burstSeconds > 0 ? burstSeen / burstSeconds : 0.0, (unsigned long long)burstSeen,
           (unsigned long long)burstExpected, (unsigned long long)(burstExpected - std::min(burstSeen, burstExpected)));
    printf("phase 1 senders       %.0f notifications/s (the control command's own time)\n",
           sendSeconds > 0 ? burstExpected / sendSeconds : 0.0);
    printf("bare UDP loop         %.0f notifications/s (%llu of %llu)\n", bareRate, (unsigned long long)bareSeen,
           (unsigned long long)burstExpected);
    printf("callbacks/bare        %.2f (target 0.30)\n",
           bareRate > 0 && burstSeconds > 0 ? (burstSeen / burstSeconds) / bareRate : 0.0);
    printf("phase 2 latency       p50 %.0f us  p99 %.0f us (%llu of %llu, %llu lost)\n", at(0.5), at(0.99),
           (unsigned long long)pacedSeen, (unsigned long long)pacedExpected,
           (unsigned long long)(pacedExpected - std::min(pacedSeen, pacedExpected)));
    return 0;
}
