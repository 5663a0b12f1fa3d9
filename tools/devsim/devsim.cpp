// devsim: a simulated network printer on a loopback address, for tests and the demo.
#include <arpa/inet.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RawSink.h"

namespace {

const char kUsage[] =
    "Usage: devsim [options]\n"
    "Plays a network printer on a loopback address. It takes jobs by RAW printing: every\n"
    "connection is one job, its bytes exactly as sent.\n"
    "\n"
    "  --raw ADDRESS:PORT   where the RAW port listens (default 127.0.0.1:9100; port 0 takes a\n"
    "                       free port, printed at start-up)\n"
    "  --out DIR            write each job to DIR/raw-NNNNN.bin (numbered from 1)\n"
    "  --close-after N      close the connection (FIN) after N bytes of a job\n"
    "  --reset-after N      reset the connection (RST) after N bytes of a job\n"
    "  --stall-after N      stop reading after N bytes of a job, so that the sender blocks\n"
    "  --resume-after MS    read on MS milliseconds after a stall (default: never)\n"
    "  --close-delay MS     close MS milliseconds after the sender's shutdown (default 0)\n"
    "  --no-listen          bind the address but do not listen: connections are refused\n"
    "  --jobs N             exit after N jobs have ended\n"
    "  --help               show this help\n"
    "\n"
    "Prints \"devsim: RAW on ADDRESS:PORT\" when ready and one line per finished job; runs until\n"
    "SIGINT or SIGTERM (or --jobs). Exit status 0, 1 when the port cannot be opened, 2 for a\n"
    "wrong command line.\n";

struct Settings {
    devsim::RawSinkOptions raw;
    std::string outFolder;
    uint64_t jobLimit = 0;
};

const char* endName(devsim::JobEnd end)
{
    switch (end) {
    case devsim::JobEnd::Open:
        return "open";
    case devsim::JobEnd::SenderClosed:
        return "sender closed";
    case devsim::JobEnd::ClosedBySink:
        return "closed by the printer";
    case devsim::JobEnd::ResetBySink:
        return "reset by the printer";
    case devsim::JobEnd::SenderReset:
        return "connection broken";
    case devsim::JobEnd::Stopped:
        return "stopped";
    }
    return "?";
}

bool parseNumber(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return true;
}

bool parseEndpoint(const std::string& text, devsim::RawSinkOptions& raw)
{
    size_t colon = text.rfind(':');
    uint64_t port;
    in_addr address;
    if (colon == std::string::npos || !parseNumber(text.substr(colon + 1), port) || port > 65535 ||
        inet_pton(AF_INET, text.substr(0, colon).c_str(), &address) != 1)
        return false;
    raw.address = text.substr(0, colon);
    raw.port = static_cast<uint16_t>(port);
    return true;
}

// Empty on success, else the complaint.
std::string parseArguments(const std::vector<std::string>& arguments, Settings& settings, bool& help)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        if (option == "--help") {
            help = true;
            continue;
        }
        if (option == "--no-listen") {
            settings.raw.listen = false;
            continue;
        }
        if (i + 1 == arguments.size())
            return option.rfind("--", 0) == 0 ? "option " + option + " needs a value" : "unexpected argument '" + option + "'";
        const std::string& value = arguments[++i];
        uint64_t number = 0;
        bool numeric = parseNumber(value, number);
        if (option == "--raw") {
            if (!parseEndpoint(value, settings.raw))
                return "--raw wants IPv4-ADDRESS:PORT, not '" + value + "'";
        } else if (option == "--out") {
            settings.outFolder = value;
        } else if (option == "--close-after" || option == "--reset-after" || option == "--stall-after" ||
                   option == "--resume-after" || option == "--close-delay" || option == "--jobs") {
            if (!numeric)
                return option + " wants a number, not '" + value + "'";
            if (option == "--close-after")
                settings.raw.closeAfter = number;
            else if (option == "--reset-after")
                settings.raw.resetAfter = number;
            else if (option == "--stall-after")
                settings.raw.stallAfter = number;
            else if (option == "--resume-after")
                settings.raw.resumeAfter = std::chrono::milliseconds(number);
            else if (option == "--close-delay")
                settings.raw.closeDelay = std::chrono::milliseconds(number);
            else
                settings.jobLimit = number;
        } else {
            return "unknown option '" + option + "'";
        }
    }
    return {};
}

std::string jobFile(const std::string& folder, size_t index)
{
    char name[32];
    std::snprintf(name, sizeof(name), "raw-%05zu.bin", index + 1);
    return (std::filesystem::path(folder) / name).string();
}

bool writeJob(const std::string& path, const devsim::RawJob& job)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(job.data.data()), static_cast<std::streamsize>(job.data.size()));
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    bool help = false;
    std::string complaint = parseArguments(std::vector<std::string>(argv + 1, argv + argc), settings, help);
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!complaint.empty()) {
        std::fprintf(stderr, "devsim: %s (see devsim --help)\n", complaint.c_str());
        return 2;
    }
    std::error_code failure;
    if (!settings.outFolder.empty() && !std::filesystem::create_directories(settings.outFolder, failure) && failure) {
        std::fprintf(stderr, "devsim: cannot create %s: %s\n", settings.outFolder.c_str(), failure.message().c_str());
        return 1;
    }

    // Signals are taken by sigwait below; every thread started from here on blocks them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGUSR1})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::atomic<uint64_t> ended{0};
    devsim::RawSink sink(settings.raw, [&](size_t index, const devsim::RawJob& job) {
        std::string saved;
        if (!settings.outFolder.empty()) {
            std::string path = jobFile(settings.outFolder, index);
            if (writeJob(path, job))
                saved = " -> " + path;
            else
                std::fprintf(stderr, "devsim: cannot write %s\n", path.c_str());
        }
        std::printf("devsim: job %zu from %s: %zu bytes, %s%s\n", index + 1, job.peer.c_str(), job.data.size(),
                    endName(job.end), saved.c_str());
        std::fflush(stdout);
        if (++ended == settings.jobLimit)
            kill(getpid(), SIGUSR1);
    });
    std::string error;
    if (!sink.start(error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("devsim: RAW on %s:%u%s\n", settings.raw.address.c_str(), sink.port(),
                settings.raw.listen ? "" : " (not listening)");
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    sink.stop();
    return 0;
}
