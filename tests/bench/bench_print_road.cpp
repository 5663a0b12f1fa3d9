// bench-print-road: the throughput of a print job through the spooler host and the port monitor
// to the simulated device's RAW sink, against the same bytes sent straight through a plain socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "RawSink.h"
#include "Road.h"
#include "test_spooler_host.h"

namespace {

const char kUsage[] =
    "usage: bench-print-road [--root DIR] [--mib N]\n"
    "\n"
    "Sends one job of N MiB (default 1024) through the spooler host spoolsv and the port monitor\n"
    "JTRKMON2 to the device simulator's RAW sink, then the same bytes straight through a plain\n"
    "socket to the same sink, and prints both throughputs and their ratio. The simulator keeps\n"
    "every byte it takes; the same two runs against a receiver that only counts and checks the\n"
    "bytes show the road without that cost.\n"
    "\n"
    "  --root DIR  platform root to use (default: PAL_ROOT, else a new temporary folder that is\n"
    "              removed afterwards); the spooler host must not be running in it\n"
    "  --mib N     job size in MiB\n"
    "  --help      show this text\n"
    "Exit status 0 when both transfers arrived whole; 1 when a step failed; 2 for a wrong\n"
    "command line.\n";

constexpr size_t kChunk = 64 * 1024;
using Clock = std::chrono::steady_clock;

struct Options {
    std::string root;
    size_t mib = 1024;
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "bench-print-road: %s\n", message.c_str());
    return 1;
}

bool parse(int argc, char** argv, Options& options, bool& help)
{
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        if (option == "--help") {
            help = true;
        } else if ((option == "--root" || option == "--mib") && i + 1 < argc) {
            std::string value = argv[++i];
            if (option == "--root") {
                options.root = value;
            } else {
                char* end = nullptr;
                options.mib = std::strtoul(value.c_str(), &end, 10);
                if (*end || options.mib == 0)
                    return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

std::vector<BYTE> jobData(size_t size)
{
    std::vector<BYTE> data(size);
    for (size_t i = 0; i < size; i++)
        data[i] = BYTE(i * 131 + i / 4099);
    return data;
}

// Waits for the sink's job `index` to end; its data matches when true.
bool awaitJob(const devsim::RawSink& sink, size_t index, const std::vector<BYTE>& data)
{
    if (!sink.waitUntil([index](const std::vector<devsim::RawJob>& jobs) {
            return jobs.size() > index && jobs[index].end != devsim::JobEnd::Open;
        }, std::chrono::minutes(30)))
        return false;
    const devsim::RawJob job = sink.jobs()[index];
    return job.end == devsim::JobEnd::SenderClosed && job.data.size() == data.size() &&
           std::memcmp(job.data.data(), data.data(), data.size()) == 0;
}

bool sendPlain(uint16_t port, const std::vector<BYTE>& data)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || connect(fd, (sockaddr*)&address, sizeof(address)) < 0)
        return false;
    for (size_t offset = 0; offset < data.size();) {
        ssize_t sent = send(fd, data.data() + offset, std::min(kChunk, data.size() - offset), MSG_NOSIGNAL);
        if (sent <= 0) {
            close(fd);
            return false;
        }
        offset += size_t(sent);
    }
    shutdown(fd, SHUT_WR);
    char drain[256];
    while (recv(fd, drain, sizeof(drain), 0) > 0) {
    }
    close(fd);
    return true;
}

// A device that only counts what each connection brings and checks it against the job's bytes.
class CountingReceiver {
public:
    explicit CountingReceiver(const std::vector<BYTE>& expected) : expected_(expected) {}
    ~CountingReceiver()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
    }

    bool start()
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (listener_ < 0 || bind(listener_, (sockaddr*)&address, sizeof(address)) < 0 || listen(listener_, 4) < 0 ||
            getsockname(listener_, (sockaddr*)&address, &length) < 0)
            return false;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
        return true;
    }
    uint16_t port() const { return port_; }
    // Waits until `count` connections have ended; true when each brought exactly the job's bytes.
    bool await(size_t count) const
    {
        auto deadline = Clock::now() + std::chrono::minutes(30);
        while (ended_ < count && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return ended_ >= count && whole_ == count;
    }

private:
    void serve()
    {
        std::vector<BYTE> buffer(1 << 20);
        while (!stop_) {
            pollfd listening = {listener_, POLLIN, 0};
            if (poll(&listening, 1, 50) <= 0)
                continue;
            int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            size_t received = 0;
            bool same = true;
            ssize_t got;
            while ((got = recv(fd, buffer.data(), buffer.size(), 0)) > 0) {
                same = same && received + size_t(got) <= expected_.size() &&
                       std::memcmp(buffer.data(), expected_.data() + received, size_t(got)) == 0;
                received += size_t(got);
            }
            close(fd);
            if (same && received == expected_.size())
                whole_++;
            ended_++;
        }
    }

    const std::vector<BYTE>& expected_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> ended_{0};
    std::atomic<size_t> whole_{0};
};

double mibPerSecond(size_t bytes, Clock::duration elapsed)
{
    return double(bytes) / (1024.0 * 1024.0) / std::chrono::duration<double>(elapsed).count();
}

void report(const char* device, size_t bytes, Clock::duration road, Clock::duration plain)
{
    double roadRate = mibPerSecond(bytes, road);
    double plainRate = mibPerSecond(bytes, plain);
    std::printf("%s\n", device);
    std::printf("  spooler host and monitor: %8.1f MiB/s (%.2f s)\n", roadRate, std::chrono::duration<double>(road).count());
    std::printf("  plain socket:             %8.1f MiB/s (%.2f s)\n", plainRate,
                std::chrono::duration<double>(plain).count());
    std::printf("  ratio:                    %8.2f\n", roadRate / plainRate);
    std::fflush(stdout);
}

// The job through the printer, then the same bytes through a plain socket to plainPort; false when
// either did not arrive whole. await(0) waits for the printed job, await(1) for the plain one.
template <class Await>
bool measure(const std::u16string& printer, uint16_t plainPort, const std::vector<BYTE>& data, Await await,
             Clock::duration& road, Clock::duration& plain)
{
    if (road::submit(printer, data, u"bench.bin", kChunk) == 0)
        return false;
    Clock::time_point start = Clock::now();
    if (!await(0))
        return false;
    road = Clock::now() - start;
    start = Clock::now();
    if (!sendPlain(plainPort, data) || !await(1))
        return false;
    plain = Clock::now() - start;
    return true;
}

int run(const Options& options)
{
    std::vector<BYTE> data = jobData(options.mib * 1024 * 1024);
    CountingReceiver counter(data);
    // A sink of its own for each run: the simulator keeps every byte, and a second gibibyte in the
    // same sink would cost more than the first.
    devsim::RawSinkOptions sinkOptions;
    sinkOptions.port = 0;
    devsim::RawSink sink(sinkOptions);
    devsim::RawSink plainSink(sinkOptions);
    std::string error;
    if (!sink.start(error) || !plainSink.start(error) || !counter.start())
        return fail("the devices did not start: " + error);
    if (!road::writeRootFile("config/icmp", "127.0.0.1 reply\n"))
        return fail("cannot write the platform root's configuration");
    spoolertest::SpoolerHost host;
    if (!host.start())
        return fail("the spooler host did not start");
    if (!road::addMonitor() || road::addPort(road::rawPort(u"JT_SINK", u"127.0.0.1", sink.port())) != 0 ||
        road::addPort(road::rawPort(u"JT_COUNT", u"127.0.0.1", counter.port())) != 0 ||
        road::addPrinter(u"Sink", u"JT_SINK") != 0 || road::addPrinter(u"Count", u"JT_COUNT") != 0)
        return fail("cannot set up the monitor, its ports and the printers");
    std::printf("job of %zu MiB\n", options.mib);
    Clock::duration road;
    Clock::duration plain;
    auto awaitSink = [&](size_t run) { return run == 0 ? awaitJob(sink, 0, data) : awaitJob(plainSink, 0, data); };
    if (!measure(u"Sink", plainSink.port(), data, awaitSink, road, plain))
        return fail("the job did not arrive whole at the simulator's RAW sink");
    report("to the simulator's RAW sink:", data.size(), road, plain);
    if (!measure(u"Count", counter.port(), data, [&](size_t index) { return counter.await(index + 1); }, road,
                 plain))
        return fail("the job did not arrive whole at the counting receiver");
    report("to a receiver that only counts:", data.size(), road, plain);
    host.stop();
    return 0;
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
    road::BenchRoot root(options.root, "/tmp/bench-print-road");
    if (!root.ready())
        return fail("cannot make a temporary platform root");
    return run(options);
}
