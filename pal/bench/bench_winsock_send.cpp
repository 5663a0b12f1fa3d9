// bench_winsock_send: the throughput of the port monitor's way of sending (non-blocking Winsock
// sends of 64 KiB with a 16 KiB send buffer, FD_WRITE waits and a 30 ms pause after every
// would-block or partial send) against the same bytes through a plain blocking POSIX socket.
#include <windows.h>
#include <winsock2.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "posix_loopback.h"

namespace {

const char kUsage[] =
    "usage: bench_winsock_send [--mib N] [--event-timeout MS] [--posix-sndbuf BYTES]\n"
    "\n"
    "Sends N MiB (default 256) over loopback to a plain POSIX reader twice: through the platform's\n"
    "Winsock as the port monitor sends (SO_SNDBUF 16384, non-blocking 64 KiB sends, an FD_WRITE\n"
    "wait of MS milliseconds before each send (default 0: a poll, whose time-out counts as\n"
    "writable), a 30 ms pause after each would-block or partial send), then through a plain\n"
    "blocking POSIX socket; prints both throughputs and their ratio.\n"
    "\n"
    "  --mib N                amount to send, in MiB\n"
    "  --event-timeout MS     the monitor's WSAEventTimeout\n"
    "  --posix-sndbuf BYTES   SO_SNDBUF of the POSIX socket (default: the system's)\n"
    "  --help                 show this text\n"
    "Exit status 0 when both transfers arrived whole and in order; 1 when one failed; 2 for a\n"
    "wrong command line.\n";

constexpr INT kMonitorSendBuffer = 16384;
constexpr DWORD kRetryPause = 30;
using Clock = std::chrono::steady_clock;

struct Options {
    uint64_t mib = 256;
    DWORD eventTimeout = 0;
    int posixSendBuffer = 0;
};

bool number(const char* text, uint64_t& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return *text && !*end && errno == 0;
}

bool parse(int argc, char** argv, Options& options, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        uint64_t value = 0;
        if (option == "--help") {
            help = true;
        } else if (i + 1 < argc && number(argv[i + 1], value)) {
            ++i;
            if (option == "--mib" && value > 0 && value <= (1u << 20))
                options.mib = value;
            else if (option == "--event-timeout" && value < INFINITE)
                options.eventTimeout = static_cast<DWORD>(value);
            else if (option == "--posix-sndbuf" && value <= (1u << 30))
                options.posixSendBuffer = static_cast<int>(value);
            else
                return false;
        } else {
            return false;
        }
    }
    return true;
}

struct Transfer {
    double seconds = 0;
    int wouldBlocks = 0;
    int partialSends = 0;
};

// The monitor's side of a connection: a non-blocking socket whose FD_CONNECT, FD_WRITE and
// FD_CLOSE are recorded on one event.
class MonitorSender {
public:
    MonitorSender() : socket_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)), event_(WSACreateEvent()) {}
    ~MonitorSender()
    {
        if (socket_ != INVALID_SOCKET)
            closesocket(socket_);
        WSACloseEvent(event_);
    }
    MonitorSender(const MonitorSender&) = delete;
    MonitorSender& operator=(const MonitorSender&) = delete;

    // Connects and sets the send buffer as the monitor does; 0 or the WSA error.
    INT connectTo(USHORT port)
    {
        if (socket_ == INVALID_SOCKET || WSAEventSelect(socket_, event_, FD_CONNECT | FD_WRITE | FD_CLOSE) != 0)
            return WSAGetLastError();
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(port);
        remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK)
            return WSAGetLastError();
        for (;;) {
            LONG events = 0;
            if (INT error = waitEvents(20000, events))
                return error;
            if (events & FD_CONNECT)
                break;
        }
        if (errors_[FD_CONNECT_BIT])
            return errors_[FD_CONNECT_BIT];
        INT size = kMonitorSendBuffer;
        setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof(size));
        connectReady_ = true;
        return 0;
    }

    // One spooler write: every byte of the chunk, pausing after each incomplete round; 0 or the
    // WSA error.
    INT sendChunk(const char* data, INT length, Transfer& transfer, DWORD eventTimeout)
    {
        while (length > 0) {
            if (INT error = awaitWritable(eventTimeout))
                return error;
            INT sent = send(socket_, data, length, 0);
            if (sent == SOCKET_ERROR) {
                if (WSAGetLastError() != WSAEWOULDBLOCK)
                    return WSAGetLastError();
                ++transfer.wouldBlocks;
                Sleep(kRetryPause);
                continue;
            }
            data += sent;
            length -= sent;
            if (length > 0) {
                ++transfer.partialSends;
                Sleep(kRetryPause);
            }
        }
        return 0;
    }

    // The monitor's graceful close: shutdown, then the reader's close.
    INT finish()
    {
        if (shutdown(socket_, SD_SEND) != 0)
            return WSAGetLastError();
        for (;;) {
            LONG events = 0;
            if (INT error = waitEvents(20000, events))
                return error;
            if (events & FD_CLOSE)
                return errors_[FD_CLOSE_BIT];
        }
    }

private:
    // 0 when the socket may take data (an FD_WRITE, or a wait that ran out), else the error.
    INT awaitWritable(DWORD timeout)
    {
        if (connectReady_) {
            connectReady_ = false;
            return 0;
        }
        LONG events = 0;
        INT error = waitEvents(timeout, events);
        if (error == WSA_WAIT_TIMEOUT)
            return 0;
        if (error)
            return error;
        if (events & FD_CLOSE)
            return errors_[FD_CLOSE_BIT] ? errors_[FD_CLOSE_BIT] : WSAECONNABORTED;
        return 0;
    }

    INT waitEvents(DWORD timeout, LONG& events)
    {
        DWORD waited = WSAWaitForMultipleEvents(1, &event_, FALSE, timeout, FALSE);
        if (waited == WSA_WAIT_FAILED)
            return WSAGetLastError();
        WSANETWORKEVENTS found{};
        if (WSAEnumNetworkEvents(socket_, event_, &found) != 0)
            return WSAGetLastError();
        for (int bit = 0; bit < FD_MAX_EVENTS; ++bit)
            if (found.lNetworkEvents & (1 << bit))
                errors_[bit] = found.iErrorCode[bit];
        events = found.lNetworkEvents;
        return waited == WSA_WAIT_TIMEOUT && events == 0 ? static_cast<INT>(WSA_WAIT_TIMEOUT) : 0;
    }

    SOCKET socket_;
    WSAEVENT event_;
    INT errors_[FD_MAX_EVENTS] = {};
    bool connectReady_ = false;
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool readerDone(bench::Reader& reader, uint64_t total, std::string& error)
{
    uint64_t received = 0;
    if (!reader.finish(received, error))
        return false;
    if (received != total)
        error = "the reader got " + std::to_string(received) + " of " + std::to_string(total) + " bytes";
    return received == total;
}

bool sendThroughWinsock(uint64_t total, DWORD eventTimeout, Transfer& transfer, std::string& error)
{
    bench::Reader reader;
    if (!reader.start(error))
        return false;
    MonitorSender sender;
    if (INT failed = sender.connectTo(reader.port())) {
        error = "connect failed with " + std::to_string(failed);
        return false;
    }
    const auto start = Clock::now();
    for (uint64_t sent = 0; sent < total; sent += bench::kChunk) {
        INT length = static_cast<INT>(std::min<uint64_t>(bench::kChunk, total - sent));
        if (INT failed = sender.sendChunk(bench::pattern() + sent % bench::kPatternPeriod, length, transfer,
                                          eventTimeout)) {
            error = "send failed with " + std::to_string(failed);
            return false;
        }
    }
    if (INT failed = sender.finish()) {
        error = "the close failed with " + std::to_string(failed);
        return false;
    }
    bool whole = readerDone(reader, total, error);
    transfer.seconds = secondsSince(start);
    return whole;
}

bool sendThroughPosix(uint64_t total, int sendBuffer, Transfer& transfer, std::string& error)
{
    bench::Reader reader;
    if (!reader.start(error))
        return false;
    const auto start = Clock::now();
    bool sent = bench::sendBlocking(reader.port(), total, sendBuffer, error);
    bool whole = readerDone(reader, total, error) && sent;
    transfer.seconds = secondsSince(start);
    return whole;
}

double mibPerSecond(uint64_t total, const Transfer& transfer)
{
    return static_cast<double>(total) / (1 << 20) / transfer.seconds;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        std::fputs("bench_winsock_send: WSAStartup failed\n", stderr);
        return 1;
    }
    const uint64_t total = options.mib << 20;
    Transfer winsock, posix;
    std::string error;
    bool done = sendThroughWinsock(total, options.eventTimeout, winsock, error) &&
                sendThroughPosix(total, options.posixSendBuffer, posix, error);
    WSACleanup();
    if (!done) {
        std::fprintf(stderr, "bench_winsock_send: %s\n", error.c_str());
        return 1;
    }
    std::printf("Winsock, monitor pattern: %llu MiB in %.3f s = %.1f MiB/s (%d would-blocks, %d partial sends)\n",
                static_cast<unsigned long long>(options.mib), winsock.seconds, mibPerSecond(total, winsock),
                winsock.wouldBlocks, winsock.partialSends);
    std::printf("POSIX, blocking:          %llu MiB in %.3f s = %.1f MiB/s\n",
                static_cast<unsigned long long>(options.mib), posix.seconds, mibPerSecond(total, posix));
    std::printf("ratio Winsock/POSIX:      %.3f\n", mibPerSecond(total, winsock) / mibPerSecond(total, posix));
    return 0;
}
