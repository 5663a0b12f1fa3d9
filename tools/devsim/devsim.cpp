// devsim: simulated network printers on loopback addresses, for tests and the demo.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "JobLog.h"

namespace {

// The printers' ports, started in order; each prints its ready line.
class Printers {
public:
    explicit Printers(devsim::JobLog& log) : log_(log) {}

    bool start(const devsim::PrinterSettings& printer)
    {
        if (printer.raw && !startRaw(printer.rawOptions))
            return false;
        return !printer.lpr || startLpr(printer.lprOptions, printer.lprOnce);
    }

    void stop()
    {
        for (auto& sink : rawSinks_)
            sink->stop();
        for (auto& receiver : lprReceivers_)
            receiver->stop();
    }

private:
    bool startRaw(const devsim::RawSinkOptions& options)
    {
        // The callbacks name the port once it is bound; the thread that runs them starts later.
        auto& sink = rawSinks_.emplace_back();
        sink = std::make_unique<devsim::RawSink>(options, [this, &sink](size_t, const devsim::RawJob& job) {
            log_.rawEnded(portName(*sink), job);
        });
        std::string error;
        if (!sink->start(error))
            return failed(error);
        ready("RAW", portName(*sink), options.listen ? "" : " (not listening)");
        return true;
    }

    bool startLpr(const devsim::LprReceiverOptions& options, const std::vector<devsim::LprScript>& once)
    {
        auto& receiver = lprReceivers_.emplace_back();
        receiver = std::make_unique<devsim::LprReceiver>(options, [this, &receiver](size_t, const devsim::LprJob& job) {
            log_.lprEnded(portName(*receiver), job);
        });
        for (const devsim::LprScript& script : once)
            receiver->queueScript(script);
        std::string error;
        if (!receiver->start(error))
            return failed(error);
        ready("LPR", portName(*receiver), "");
        return true;
    }

    template <typename Port>
    static std::string portName(const Port& port)
    {
        return port.address() + ":" + std::to_string(port.port());
    }

    static bool failed(const std::string& error)
    {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return false;
    }

    static void ready(const char* kind, const std::string& name, const char* note)
    {
        std::printf("devsim: %s on %s%s\n", kind, name.c_str(), note);
        std::fflush(stdout);
    }

    devsim::JobLog& log_;
    std::list<std::unique_ptr<devsim::RawSink>> rawSinks_; // lists: the callbacks refer to their entries
    std::list<std::unique_ptr<devsim::LprReceiver>> lprReceivers_;
};

} // namespace

int main(int argc, char** argv)
{
    devsim::Settings settings;
    const std::string complaint =
        devsim::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc), settings);
    if (settings.help) {
        std::fputs(devsim::kUsage, stdout);
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

    devsim::JobLog log(settings.outFolder, settings.jobLimit, [] { kill(getpid(), SIGUSR1); });
    Printers printers(log);
    for (const devsim::PrinterSettings& printer : settings.printers)
        if (!printers.start(printer))
            return 1;

    int received = 0;
    sigwait(&signals, &received);
    printers.stop();
    return 0;
}
