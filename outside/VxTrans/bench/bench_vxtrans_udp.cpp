// bench-vxtrans-udp: datagrams into a VxTrans UDP listener (through its I/O thread to the receive
// callback) against the same datagrams into a bare one-thread recv loop, in the same run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "VxTrans.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<uint64_t> g_received{0};

void onReceive(uint32_t, const VxTransAddressPair*, const VxTransBuffer* buffer, int32_t result)
{
    if (result == 0 && buffer != nullptr)
        g_received.fetch_add(1, std::memory_order_relaxed);
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(0x7F000001);
    return address;
}

uint16_t portOf(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

struct Result {
    double seconds;
    uint64_t received;
};

// Sends count datagrams of size bytes, paced in bursts so that a receiver keeping up loses none;
// waits (at most 2 s after the last) for the receiver's count to stop growing.
Result run(uint16_t port, uint64_t count, size_t size, const std::atomic<uint64_t>& received)
{
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in target = loopback(port);
    std::string datagram(size, 'e');
    const uint64_t before = received.load();
    const auto start = Clock::now();
    for (uint64_t i = 0; i < count; ++i) {
        sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        // Bursts of 64, then let the receiver catch up (at most 1 ms): the measure is its speed.
        for (int wait = 0; i % 64 == 63 && received.load() - before + 256 < i && wait < 1000; ++wait)
            std::this_thread::sleep_for(std::chrono::microseconds(1));
    }
    auto last = Clock::now();
    uint64_t seen = received.load() - before;
    while (seen < count && Clock::now() - last < std::chrono::seconds(2)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const uint64_t now = received.load() - before;
        if (now != seen) {
            seen = now;
            last = Clock::now();
        }
    }
    const double seconds = std::chrono::duration<double>(last - start).count();
    close(sender);
    return {seconds, seen};
}

void print(const char* name, const Result& result, uint64_t count)
{
    std::printf("%-22s %10.0f datagrams/s  %llu of %llu received\n", name, result.received / result.seconds,
                static_cast<unsigned long long>(result.received), static_cast<unsigned long long>(count));
}

} // namespace

int main(int argc, char** argv)
{
    uint64_t count = 200000;
    size_t size = 120;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help") {
            std::printf("usage: bench-vxtrans-udp [--count N] [--size BYTES]\n"
                        "Datagrams into a VxTrans UDP listener against a bare recv loop, on 127.0.0.1.\n");
            return 0;
        }
        if ((option == "--count" || option == "--size") && i + 1 < argc) {
            const unsigned long long value = std::strtoull(argv[++i], nullptr, 10);
            (option == "--count" ? count : size) = value;
            continue;
        }
        std::fprintf(stderr, "bench-vxtrans-udp: unknown option %s (see --help)\n", option.c_str());
        return 1;
    }
    if (count == 0 || size == 0 || size > VXTRANS_MAX_CHUNK_UDP) {
        std::fprintf(stderr, "bench-vxtrans-udp: --count must be positive and --size 1 to %d\n", VXTRANS_MAX_CHUNK_UDP);
        return 1;
    }

    // Bare loop: one thread receiving from a plain socket.
    const int bare = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in any = loopback(0);
    bind(bare, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    std::atomic<uint64_t> bareReceived{0};
    std::atomic<bool> stop{false};
    std::thread loop([&] {
        char data[65536];
        timeval limit{0, 100000};
        setsockopt(bare, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        while (!stop)
            if (recv(bare, data, sizeof data, 0) > 0)
                bareReceived.fetch_add(1, std::memory_order_relaxed);
    });
    const Result bareResult = run(portOf(bare), count, size, bareReceived);
    stop = true;
    loop.join();
    close(bare);

    VxTransEndpointAddress local{};
    local.address.family = VXTRANS_FAMILY_INET;
    const uint32_t address = htonl(0x7F000001);
    std::memcpy(local.address.bytes + 2, &address, 4);
    local.protocol = VXTRANS_PROTOCOL_UDP;
    uint32_t listener = 0;
    if (VxTransOpenListener(1, &local, onReceive, nullptr, nullptr, &listener, nullptr) < 0) {
        std::fprintf(stderr, "bench-vxtrans-udp: cannot open the listener\n");
        return 1;
    }
    VxTransEndpointAddress bound{};
    VxTransGetLocalAddress(listener, 1, &bound);
    uint16_t port;
    std::memcpy(&port, bound.address.bytes, 2);
    const Result transResult = run(ntohs(port), count, size, g_received);
    VxTransCloseEndpoint(listener);

    print("bare recv loop", bareResult, count);
    print("VxTrans listener", transResult, count);
    std::printf("ratio %.2f\n", (transResult.received / transResult.seconds) / (bareResult.received / bareResult.seconds));
    return 0;
}
