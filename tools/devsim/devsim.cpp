// devsim: simulated network printers on loopback addresses, for tests and the demo.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "JobLog.h"
#include "Printer.h"
#include "Simulator.h"

namespace {

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool failed(const std::string& error)
{
    std::fprintf(stderr, "devsim: %s\n", error.c_str());
    return false;
}

// The printers' job ports, each with its device's DMLP side.
class Printers {
public:
    Printers(devsim::JobLog& log, devsim::Simulator& simulator) : log_(log), simulator_(simulator) {}

    bool start(const std::vector<devsim::PrinterSettings>& all)
    {
        devsim::PrinterReports reports;
        reports.ready = [](const std::string& kind, const std::string& port, const std::string& note) {
            say("devsim: " + kind + " on " + port + note);
        };
        reports.rawEnded = [this](const std::string& port, const devsim::RawJob& job) { log_.rawEnded(port, job); };
        reports.lprEnded = [this](const std::string& port, const devsim::LprJob& job) { log_.lprEnded(port, job); };
        for (const devsim::PrinterSettings& settings : all) {
            if (settings.device.dmlp)
                simulator_.addDevice(settings.device);
            printers_.push_back(std::make_unique<devsim::Printer>(settings, &simulator_, reports));
        }
        simulator_.setPowerSwitch([this](const std::string& address, bool on, std::string& error) {
            for (auto& printer : printers_)
                if (printer->address() == address)
                    return printer->power(on, error);
            return true;
        });
        std::string error;
        if (!simulator_.start(error))
            return failed(error);
        for (auto& printer : printers_)
            if (!printer->start(error))
                return failed(error);
        return true;
    }

    void stop()
    {
        for (auto& printer : printers_)
            printer->stop();
        simulator_.stop();
    }

private:
    devsim::JobLog& log_;
    devsim::Simulator& simulator_;
    std::vector<std::unique_ptr<devsim::Printer>> printers_;
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
    devsim::Simulator simulator(settings.simulator, say);
    Printers printers(log, simulator);
    if (!printers.start(settings.printers))
        return 1;

    int received = 0;
    sigwait(&signals, &received);
    printers.stop();
    return 0;
}
