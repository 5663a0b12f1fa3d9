// bench-clib-roundtrips: the client library's cost over the protocol engine. One simulated device
// with three live jobs and one binding; in one run the engine alone (a synchronous DMLP_Get2 of
// the wanted job) and the library (DMLLIB_GetStatusInfo and DMLLIB_TraceJob of that job, which
// finds it among the live jobs and so asks no job log). Prints pairs per second, the library's
// and the engine's requests per second (the simulator's count) and their ratio.
#include <arpa/inet.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <windows.h>

#include "JTRKCLIB.h"
#include "Simulator.h"
#include "SimulatorJobId.h"
#include "VxDmlpApi.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kDevice[] = "127.0.0.93";
const WCHAR kPort[] = W("JT_BENCH");
const uint32_t kNoObject[2] = {0, 0};

ClJobID jobId(uint32_t number)
{
    ClJobID id = {};
    id.Data1 = 0xB0000000 + number;
    id.Data2 = static_cast<WORD>(number);
    snprintf(reinterpret_cast<char*>(id.JobText), sizeof id.JobText, "%08X bench job", number);
    return id;
}

// Requests the simulator logged: lines appended to its request log file since the last count.
class RequestCounter {
public:
    explicit RequestCounter(const std::string& path) : path_(path) {}
    size_t count()
    {
        std::ifstream log(path_, std::ios::binary);
        log.seekg(static_cast<std::streamoff>(offset_));
        char buffer[65536];
        while (log.read(buffer, sizeof buffer) || log.gcount() > 0) {
            offset_ += static_cast<size_t>(log.gcount());
            lines_ += static_cast<size_t>(std::count(buffer, buffer + log.gcount(), '\n'));
        }
        return lines_;
    }

private:
    std::string path_;
    size_t offset_ = 0;
    size_t lines_ = 0;
};

struct Rate {
    double seconds = 0;
    size_t requests = 0;
    long rounds = 0;
};

} // namespace

int main(int argc, char** argv)
{
    double runSeconds = 3;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            printf("usage: bench-clib-roundtrips [--seconds S]\n"
                   "Engine alone (DMLP_Get2) against the client library (DMLLIB_GetStatusInfo +\n"
                   "DMLLIB_TraceJob) on one simulated device with three live jobs; target ratio >= 0.8.\n");
            return 0;
        }
        if (arg == "--seconds" && i + 1 < argc) {
            runSeconds = atof(argv[++i]);
            continue;
        }
        fprintf(stderr, "bench-clib-roundtrips: unknown argument %s\n", arg.c_str());
        return 2;
    }

    char logPath[] = "/tmp/bench-clib-requests.XXXXXX";
    int logFile = mkstemp(logPath);
    if (logFile < 0) {
        fprintf(stderr, "bench-clib-roundtrips: no temporary file for the request log\n");
        return 1;
    }
    close(logFile);
    RequestCounter counter(logPath);
    devsim::SimulatorSettings settings;
    settings.requestLog = logPath;
    devsim::Simulator simulator(settings, [](const std::string&) {});
    devsim::DeviceSettings device;
    device.address = kDevice;
    device.printTime = std::chrono::hours(1);  // the jobs stay live
    simulator.addDevice(device);
    std::string error;
    if (!simulator.start(error)) {
        fprintf(stderr, "bench-clib-roundtrips: %s\n", error.c_str());
        return 1;
    }
    uint32_t handles[3];
    for (uint32_t i = 0; i < 3; ++i)
        handles[i] = simulator.jobArrived(kDevice, wireId(jobId(i + 1)), nullptr);
    ClJobID wanted = jobId(2);

    DmlpInstance instance = 0;
    if (!DMLLIB_Initialize(&instance)) {
        fprintf(stderr, "bench-clib-roundtrips: the protocol library did not start\n");
        return 1;
    }
    DmlpAddress peer = {};
    peer.kind = DMLP_ADDRESS_UDP;
    inet_pton(AF_INET, kDevice, peer.u.inet.address);
    peer.u.inet.port = 47545;
    DmlpEPProperty property = {};
    property.timeout = 2000;
    property.transmissions = 2;
    DmlpBinding binding = nullptr;
    if (DMLP_Bind(instance, &peer, nullptr, &property, &binding) != DMLP_SUCCESS) {
        fprintf(stderr, "bench-clib-roundtrips: cannot bind to %s\n", kDevice);
        return 1;
    }

    // Runs round for one slice of time and adds to rate; the two sides take turns, slice by slice,
    // so that the load of the machine weighs on both alike.
    auto measure = [&](Rate& rate, double sliceSeconds, auto round) {
        size_t before = counter.count();
        auto start = Clock::now();
        while (std::chrono::duration<double>(Clock::now() - start).count() < sliceSeconds) {
            if (!round())
                return false;
            ++rate.rounds;
        }
        rate.seconds += std::chrono::duration<double>(Clock::now() - start).count();
        rate.requests += counter.count() - before;
        return true;
    };
    auto engineRound = [&] {
        uint16_t attributes[] = {280, 283};
        DmlpGet2Params params = {};
        params.objectCount = 1;
        params.objects = &handles[1];
        params.attributeIdCount = 2;
        params.attributeIds = attributes;
        DmlpGet2Result result;
        bool good = DMLP_Get2(DMLP_MODE_SYNC, nullptr, binding, kNoObject, &params, &result) == DMLP_SUCCESS;
        DMLP_FreeMemory(&result.buffer);
        return good;
    };
    auto libraryRound = [&] {
        StatusInfo info = {};
        BYTE trace = 0;
        DWORD impressions = 0;
        return DMLLIB_GetStatusInfo(instance, kPort, &wanted, &info, binding, 1) == 0x00060001u &&
               DMLLIB_TraceJob(instance, kPort, &wanted, &trace, binding, &impressions, 1) == 0x00060001u &&
               trace == DMLLIB_TRACE_PROCESSING;
    };
    const double slice = 0.2;
    Rate engine, library;
    bool good = true;
    for (double spent = 0; good && spent < runSeconds; spent += 2 * slice)
        good = measure(engine, slice, engineRound) && measure(library, slice, libraryRound);
    DMLP_Unbind(binding);
    DMLLIB_Terminate(instance);
    simulator.stop();
    unlink(logPath);
    if (!good || engine.rounds == 0 || library.rounds == 0) {
        fprintf(stderr, "bench-clib-roundtrips: a request failed\n");
        return 1;
    }
    double engineRate = engine.requests / engine.seconds;
    double libraryRate = library.requests / library.seconds;
    printf("library: %.0f pairs/s (status + trace), %.0f requests/s\n", library.rounds / library.seconds,
           libraryRate);
    printf("engine:  %.0f requests/s (Get2 alone)\n", engineRate);
    printf("ratio:   %.2f (target >= 0.80)\n", libraryRate / engineRate);
    return 0;
}
