// spoolsv: the spooler host. Loads the registered print monitors and serves the spooler API to
// other processes over <root>/run/spoolsv.sock until SIGTERM or SIGINT.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "dispatch.h"
#include "listener.h"
#include "pal/files.h"

namespace {

const char kUsage[] =
    "usage: spoolsv [--root DIR] [--non-admin]\n"
    "\n"
    "The spooler host: loads every print monitor registered under\n"
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors, the printers kept under\n"
    "...\\Control\\Print\\Printers and the jobs kept in <root>/spool, delivers the jobs\n"
    "through their ports and serves the spooler API on <root>/run/spoolsv.sock. Runs in\n"
    "the foreground until SIGTERM or SIGINT and prints \"spoolsv: ready\" once it accepts\n"
    "calls. A stop waits at most 10 s for the deliveries under way; a job whose device\n"
    "does not let its delivery end stays queued and goes out after the next start.\n"
    "\n"
    "  --root DIR    platform root (default: PAL_ROOT)\n"
    "  --non-admin   treat every calling process as a non-administrator\n"
    "                (SERVER_ACCESS_ADMINISTER is never granted)\n"
    "  --help        show this text\n";

// How long a stop waits for the deliveries (scaled by the time knob, as every wait).
constexpr DWORD kStopLimitMs = 10000;

struct Options {
    std::string root;
    bool nonAdmin = false;
};

// The exit code when the host is not to run (help, errors), else nothing.
std::optional<int> parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--non-admin") {
            options.nonAdmin = true;
        } else if (argument == "--root" && i + 1 < argc) {
            options.root = argv[++i];
        } else {
            std::fprintf(stderr, "spoolsv: unknown argument \"%s\"\n%s", argument.c_str(), kUsage);
            return 2;
        }
    }
    if (options.root.empty()) {
        const char* root = std::getenv("PAL_ROOT");
        options.root = root ? root : "";
    }
    if (options.root.empty()) {
        std::fputs("spoolsv: no platform root (set PAL_ROOT or use --root)\n", stderr);
        return 2;
    }
    std::error_code ignored;
    options.root = std::filesystem::absolute(options.root, ignored).string();
    return std::nullopt;
}

template <class Function>
FARPROC exported(Function* function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// spoolss exports that a monitor reaches with LoadLibrary("SPOOLSS.DLL") + GetProcAddress.
FARPROC spoolssExport(LPCSTR name, void*)
{
    static const struct {
        const char* name;
        FARPROC function;
    } exports[] = {
        {"OpenPrinterW", exported(&OpenPrinterW)},
        {"ClosePrinter", exported(&ClosePrinter)},
        {"XcvDataW", exported(&XcvDataW)},
        {"EnumPortsW", exported(&EnumPortsW)},
        {"SetPortW", exported(&SetPortW)},
        {"DeletePortW", exported(&DeletePortW)},
        {"EnumMonitorsW", exported(&EnumMonitorsW)},
        {"AddMonitorW", exported(&AddMonitorW)},
        {"DeleteMonitorW", exported(&DeleteMonitorW)},
        {"GetPrinterW", exported(&GetPrinterW)},
        {"SetPrinterW", exported(&SetPrinterW)},
        {"EnumPrintersW", exported(&EnumPrintersW)},
        {"AddPrinterW", exported(&AddPrinterW)},
        {"GetJobW", exported(&GetJobW)},
        {"GetJobA", exported(&GetJobA)},
        {"SetJobW", exported(&SetJobW)},
        {"EnumJobsW", exported(&EnumJobsW)},
        {"StartDocPrinterW", exported(&StartDocPrinterW)},
        {"WritePrinter", exported(&WritePrinter)},
        {"EndDocPrinter", exported(&EndDocPrinter)},
        {"ImpersonatePrinterClient", exported(&ImpersonatePrinterClient)},
        {"RevertToPrinterSelf", exported(&RevertToPrinterSelf)},
    };
    if (IS_INTRESOURCE(name))
        return nullptr;
    for (const auto& entry : exports)
        if (std::strcmp(entry.name, name) == 0)
            return entry.function;
    return nullptr;
}

// Held for the host's lifetime: one host per platform root.
bool lockRoot(const std::string& runFolder)
{
    int fd = ::open((runFolder + "/spoolsv.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

int waitForStopSignal(const sigset_t& signals)
{
    int signal = 0;
    while (sigwait(&signals, &signal) != 0) {
    }
    return signal;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (std::optional<int> exitCode = parseOptions(argc, argv, options))
        return *exitCode;
    setenv("PAL_ROOT", options.root.c_str(), 1);

    std::string runFolder = options.root + "/run";
    std::error_code ignored;
    std::filesystem::create_directories(runFolder, ignored);
    if (!lockRoot(runFolder)) {
        std::fprintf(stderr, "spoolsv: another spooler host runs on %s (or %s/spoolsv.lock cannot be locked)\n",
                     options.root.c_str(), runFolder.c_str());
        return 1;
    }
    struct stat rootInfo {};
    if (::stat(options.root.c_str(), &rootInfo) < 0) {
        std::fprintf(stderr, "spoolsv: cannot read %s: %s\n", options.root.c_str(), std::strerror(errno));
        return 1;
    }

    // Every thread inherits the blocked stop signals; the main thread takes them with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    spoolsv::Spooler spooler;
    spoolsv::Dispatcher dispatcher(spooler);
    pal::spool::setLocalServer(&dispatcher);
    palRegisterBuiltinModule(W("SPOOLSS.DLL"), spoolssExport, nullptr);
    spooler.loadRegisteredMonitors();
    spooler.startQueues(options.root + "/spool");

    spoolsv::Listener listener(dispatcher, rootInfo.st_uid, options.nonAdmin);
    std::string error;
    int exitCode = 0;
    if (listener.start(runFolder + "/" + pal::spool::kSocketName, error)) {
        std::printf("spoolsv: ready\n");
        std::fflush(stdout);
        waitForStopSignal(stopSignals);
    } else {
        std::fprintf(stderr, "spoolsv: %s\n", error.c_str());
        exitCode = 1;
    }
    listener.stop();
    if (!spooler.shutdown(kStopLimitMs)) {
        // A monitor keeps retrying a device that refuses or never reads. The job is in the spool
        // and goes out after the next start; nothing of it is lost by leaving now.
        std::fprintf(stderr, "spoolsv: a delivery did not end within %u ms; its job stays queued\n",
                     unsigned(kStopLimitMs));
        std::fflush(stderr);
        _exit(exitCode);
    }
    palRegisterBuiltinModule(W("SPOOLSS.DLL"), nullptr, nullptr);
    pal::spool::setLocalServer(nullptr);
    return exitCode;
}
