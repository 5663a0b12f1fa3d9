// devsim-ctl: sends one control command to a running devsim and prints its answer.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kUsage[] =
    "Usage: devsim-ctl --control PATH COMMAND [ARGUMENT...]\n"
    "Sends COMMAND to the devsim whose control socket is PATH (devsim --control PATH) and prints\n"
    "its answer. Exit status 0 when devsim answered ok, 1 when it answered an error or could not be\n"
    "reached, 2 for a wrong command line. `devsim-ctl --control PATH help` lists the commands:\n"
    "  fault [DEVICE] [RULE|clear], jobs [DEVICE], log [DEVICE],\n"
    "  job H state S [reason R]|impressions N|codes LIST|cancel|lose|drop,\n"
    "  device [DEVICE] [status N] [online N] [hint CODE] [codes LIST|none],\n"
    "  support [DEVICE] 282|106 on|off, subs [DEVICE],\n"
    "  event DEVICE|all [ref=N] [unfiltered] [count=N] [rate=N] ID...,\n"
    "  power [DEVICE] off|on,\n"
    "  requests [DEVICE] [clear].\n";

int connectTo(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
        return -1;
    std::strcpy(address.sun_path, path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& text)
{
    for (size_t sent = 0; sent < text.size();) {
        ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Reads the answer up to its last line ("ok" or "error: ..."); prints it; its exit status.
int readAnswer(int fd)
{
    std::string answer;
    char buffer[4096];
    for (;;) {
        const size_t lineStart = answer.rfind('\n', answer.empty() ? 0 : answer.size() - 2);
        const std::string last = answer.empty() ? "" : answer.substr(lineStart == std::string::npos ? 0 : lineStart + 1);
        if (last == "ok\n" || (last.rfind("error: ", 0) == 0 && last.back() == '\n')) {
            const bool ok = last == "ok\n";
            std::fwrite(answer.data(), 1, answer.size() - (ok ? last.size() : 0), ok ? stdout : stdout);
            if (!ok)
                std::fprintf(stderr, "devsim-ctl: %s", last.c_str() + 7);
            return ok ? 0 : 1;
        }
        ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
        if (got <= 0) {
            std::fprintf(stderr, "devsim-ctl: devsim closed the connection without an answer\n");
            return 1;
        }
        answer.append(buffer, static_cast<size_t>(got));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 4 || std::strcmp(argv[1], "--control") != 0) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string line;
    for (int i = 3; i < argc; ++i) {
        if (std::strchr(argv[i], '\n')) {
            std::fprintf(stderr, "devsim-ctl: a command is one line\n");
            return 2;
        }
        line += (i > 3 ? " " : "") + std::string(argv[i]);
    }
    const int fd = connectTo(argv[2]);
    if (fd < 0) {
        std::fprintf(stderr, "devsim-ctl: cannot reach devsim at %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    const int status = sendAll(fd, line + "\n") ? readAnswer(fd) : 1;
    ::close(fd);
    return status;
}
