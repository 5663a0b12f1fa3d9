// pal-spool: drives the spooler host by hand (monitors, ports, Xcv calls, printers, jobs).
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/ToolSupport.h"
#include "pal/dialogs.h"
#include "pal/registry.h"
#include "pal/winspool.h"

namespace {

const char kUsage[] =
    "usage: pal-spool [--root DIR] COMMAND ...\n"
    "\n"
    "Commands (the spooler host spoolsv must run on the platform root):\n"
    "  monitors                       list the loaded monitors (name, DLL)\n"
    "  add-monitor NAME DLL           register and load a monitor (e.g. JTRKMON2.DLL)\n"
    "  delete-monitor NAME            unload and unregister a monitor\n"
    "  ports                          list the ports (name, monitor, description)\n"
    "  add-port MONITOR [--script FILE]\n"
    "                                 add a port of a monitor through its port dialogs\n"
    "  configure-port PORT [--script FILE]\n"
    "                                 change a port's settings through its dialogs\n"
    "  delete-port PORT [--script FILE]\n"
    "                                 delete a port (through its monitor's UI when it\n"
    "                                 has one); the dialogs read their input from FILE\n"
    "                                 (one command a line: type ID TEXT, select ID N,\n"
    "                                 check ID, uncheck ID, click ID, ok, cancel,\n"
    "                                 answer ok|yes|no|cancel), else from the terminal\n"
    "  xcv PORT|--monitor M METHOD [HEX | --text TEXT] [--out-size N]\n"
    "                                 call an Xcv method of a port or a monitor with\n"
    "                                 administer access; HEX is the input in hex, TEXT\n"
    "                                 an input string (UTF-16 with its terminator);\n"
    "                                 prints the status, the size needed and the\n"
    "                                 output in hex (output buffer N bytes, default 256)\n"
    "  add-printer NAME PORT [--driver D] [--comment TEXT] [--retention MS]\n"
    "              [--print-processor NAME]\n"
    "                                 add a printer on a port (driver default \"Generic\",\n"
    "                                 print processor default \"winprint\");\n"
    "                                 --retention: how long a delivered job stays listed\n"
    "                                 (default 600000 ms)\n"
    "  printers                       list the printers (name, port, driver, status, jobs)\n"
    "  jobs PRINTER                   list a printer's jobs (id, document, status, size)\n"
    "  job PRINTER ID pause|resume|restart|delete\n"
    "                                 control a job\n"
    "  history                        the jobs that left the host, oldest first:\n"
    "                                 ID sent|deleted|retention MS (monotonic clock, ms)\n"
    "Status words: a job's status bits (paused, error, deleting, spooling, printing,\n"
    "offline, paperout, printed, deleted, blocked-devq, user-intervention, restart,\n"
    "complete, retained, rendering-locally; \"queued\" for none), a printer's \"paused\",\n"
    "the port's state (offline, paper-out, ...) or \"ready\".\n"
    "\n"
    "  --root DIR   platform root (default: PAL_ROOT)\n"
    "  --help       show this text\n"
    "Exit status 0 on success; 1 when the call fails or an Xcv status is not 0; 2 for\n"
    "a wrong command line.\n";

using tool::kExitFailure;
using tool::widen;

// UTF-8 of a string of a record, "" for NULL.
std::string narrow(LPCWSTR text)
{
    return text ? tool::narrow(text) : std::string();
}

int failure(const char* what)
{
    std::fprintf(stderr, "pal-spool: %s failed: error %u\n", what, unsigned(GetLastError()));
    return kExitFailure;
}

int usageError(const std::string& message)
{
    return tool::usageError("pal-spool", message);
}

// Runs one of the Enum functions with a size query first; false with the last error set.
template <class Enum>
bool enumerate(Enum enumFunction, DWORD level, std::vector<BYTE>& buffer, DWORD& count)
{
    DWORD needed = 0;
    for (;;) {
        if (enumFunction(nullptr, level, buffer.data(), DWORD(buffer.size()), &needed, &count))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        buffer.resize(needed);
    }
}

int listMonitors()
{
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate(EnumMonitorsW, 2, buffer, count))
        return failure("EnumMonitorsW");
    const MONITOR_INFO_2W* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%s\t%s\n", narrow(monitors[i].pName).c_str(), narrow(monitors[i].pDLLName).c_str());
    return 0;
}

int listPorts()
{
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate(EnumPortsW, 2, buffer, count))
        return failure("EnumPortsW");
    const PORT_INFO_2W* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%s\t%s\t%s\n", narrow(ports[i].pPortName).c_str(), narrow(ports[i].pMonitorName).c_str(),
                    narrow(ports[i].pDescription).c_str());
    return 0;
}

int addMonitor(const std::string& name, const std::string& dll)
{
    std::u16string wideName = widen(name);
    std::u16string wideDll = widen(dll);
    std::u16string environment = u"Windows x64";
    MONITOR_INFO_2W info = {wideName.data(), environment.data(), wideDll.data()};
    return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) ? 0 : failure("AddMonitorW");
}

int deleteMonitor(const std::string& name)
{
    std::u16string wideName = widen(name);
    return DeleteMonitorW(nullptr, nullptr, wideName.data()) ? 0 : failure("DeleteMonitorW");
}

// add-port, configure-port and delete-port: the monitor's UI runs here, with the desktop as the
// parent of its dialogs, its input from --script FILE or the terminal.
int portCall(const std::string& command, const std::vector<std::string>& args)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--script") {
            names.push_back(args[i]);
            continue;
        }
        if (++i == args.size())
            return usageError(command + ": --script needs a file");
        if (!palSetDialogScriptFile(args[i].c_str())) {
            std::fprintf(stderr, "pal-spool: cannot read the script %s\n", args[i].c_str());
            return kExitFailure;
        }
    }
    if (names.size() != 1)
        return usageError(command + ": give one " + (command == "add-port" ? "monitor" : "port"));
    std::u16string name = widen(names[0]);
    HWND desktop = GetDesktopWindow();
    BOOL done = command == "add-port"         ? AddPortW(nullptr, desktop, name.data())
                : command == "configure-port" ? ConfigurePortW(nullptr, desktop, name.data())
                                              : DeletePortW(nullptr, desktop, name.data());
    if (done)
        return 0;
    if (GetLastError() == ERROR_CANCELLED) {
        std::fprintf(stderr, "pal-spool: cancelled\n");
        return kExitFailure;
    }
    return failure(command == "add-port" ? "AddPortW" : command == "configure-port" ? "ConfigurePortW" : "DeletePortW");
}

bool parseHex(const std::string& text, std::vector<BYTE>& bytes)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        unsigned long value = std::strtoul(pair, &end, 16);
        if (*end || !std::isxdigit(static_cast<unsigned char>(pair[0])))
            return false;
        bytes.push_back(BYTE(value));
    }
    return true;
}

struct XcvRequest {
    std::u16string object;
    std::u16string method;
    std::vector<BYTE> input;
    bool hasInput = false;
    DWORD outSize = 256;
};

// xcv PORT|--monitor M METHOD [HEX | --text TEXT] [--out-size N]
bool parseXcv(const std::vector<std::string>& args, XcvRequest& request)
{
    size_t i = 0;
    if (i < args.size() && args[i] == "--monitor") {
        if (++i >= args.size())
            return false;
        request.object = u",XcvMonitor " + widen(args[i++]);
    } else if (i < args.size()) {
        request.object = u",XcvPort " + widen(args[i++]);
    }
    if (i >= args.size())
        return false;
    request.method = widen(args[i++]);
    for (; i < args.size(); ++i) {
        if (args[i] == "--out-size" && i + 1 < args.size()) {
            char* end = nullptr;
            request.outSize = DWORD(std::strtoul(args[++i].c_str(), &end, 10));
            if (*end)
                return false;
        } else if (args[i] == "--text" && i + 1 < args.size() && !request.hasInput) {
            std::u16string text = widen(args[++i]);
            const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
            request.input.assign(bytes, bytes + (text.size() + 1) * sizeof(WCHAR));
            request.hasInput = true;
        } else if (!request.hasInput && parseHex(args[i], request.input)) {
            request.hasInput = true;
        } else {
            return false;
        }
    }
    return true;
}

int callXcv(const std::vector<std::string>& args)
{
    XcvRequest request;
    if (!parseXcv(args, request))
        return usageError("xcv: bad arguments");
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(request.object.data(), &xcv, &defaults))
        return failure("OpenPrinterW");
    std::vector<BYTE> output(request.outSize);
    DWORD needed = 0;
    DWORD status = 0;
    BOOL called = XcvDataW(xcv, request.method.c_str(), request.hasInput ? request.input.data() : nullptr,
                           DWORD(request.input.size()), request.outSize ? output.data() : nullptr, request.outSize,
                           &needed, &status);
    if (!called) {
        int result = failure("XcvDataW");
        ClosePrinter(xcv);
        return result;
    }
    ClosePrinter(xcv);
    std::printf("status: %u\nneeded: %u\noutput: ", unsigned(status), unsigned(needed));
    if (status == ERROR_SUCCESS)
        for (DWORD i = 0; i < needed && i < request.outSize; ++i)
            std::printf("%02x", output[i]);
    std::printf("\n");
    return status == ERROR_SUCCESS ? 0 : kExitFailure;
}

struct StatusWord {
    DWORD bit;
    const char* word;
};

const StatusWord kJobStatusWords[] = {
    {JOB_STATUS_PAUSED, "paused"},
    {JOB_STATUS_ERROR, "error"},
    {JOB_STATUS_DELETING, "deleting"},
    {JOB_STATUS_SPOOLING, "spooling"},
    {JOB_STATUS_PRINTING, "printing"},
    {JOB_STATUS_OFFLINE, "offline"},
    {JOB_STATUS_PAPEROUT, "paperout"},
    {JOB_STATUS_PRINTED, "printed"},
    {JOB_STATUS_DELETED, "deleted"},
    {JOB_STATUS_BLOCKED_DEVQ, "blocked-devq"},
    {JOB_STATUS_USER_INTERVENTION, "user-intervention"},
    {JOB_STATUS_RESTART, "restart"},
    {JOB_STATUS_COMPLETE, "complete"},
    {JOB_STATUS_RETAINED, "retained"},
    {JOB_STATUS_RENDERING_LOCALLY, "rendering-locally"},
};

const StatusWord kPrinterStatusWords[] = {
    {PRINTER_STATUS_PAUSED, "paused"},
    {PRINTER_STATUS_ERROR, "error"},
    {PRINTER_STATUS_PENDING_DELETION, "pending-deletion"},
    {PRINTER_STATUS_PAPER_JAM, "paper-jam"},
    {PRINTER_STATUS_PAPER_OUT, "paper-out"},
    {PRINTER_STATUS_MANUAL_FEED, "manual-feed"},
    {PRINTER_STATUS_PAPER_PROBLEM, "paper-problem"},
    {PRINTER_STATUS_OFFLINE, "offline"},
    {PRINTER_STATUS_IO_ACTIVE, "io-active"},
    {PRINTER_STATUS_BUSY, "busy"},
    {PRINTER_STATUS_PRINTING, "printing"},
    {PRINTER_STATUS_OUTPUT_BIN_FULL, "output-bin-full"},
    {PRINTER_STATUS_NOT_AVAILABLE, "not-available"},
    {PRINTER_STATUS_WAITING, "waiting"},
    {PRINTER_STATUS_PROCESSING, "processing"},
    {PRINTER_STATUS_INITIALIZING, "initializing"},
    {PRINTER_STATUS_WARMING_UP, "warming-up"},
    {PRINTER_STATUS_TONER_LOW, "toner-low"},
    {PRINTER_STATUS_NO_TONER, "no-toner"},
    {PRINTER_STATUS_PAGE_PUNT, "page-punt"},
    {PRINTER_STATUS_USER_INTERVENTION, "user-intervention"},
    {PRINTER_STATUS_OUT_OF_MEMORY, "out-of-memory"},
    {PRINTER_STATUS_DOOR_OPEN, "door-open"},
    {PRINTER_STATUS_SERVER_UNKNOWN, "server-unknown"},
    {PRINTER_STATUS_POWER_SAVE, "power-save"},
};

// The words of the set bits joined by ','; bits without a word in hex; none gives noneWord.
template <size_t N>
std::string statusWords(DWORD status, const StatusWord (&words)[N], const char* noneWord)
{
    std::string text;
    for (const StatusWord& word : words) {
        if (!(status & word.bit))
            continue;
        text += (text.empty() ? "" : ",") + std::string(word.word);
        status &= ~word.bit;
    }
    if (status) {
        char rest[16];
        std::snprintf(rest, sizeof rest, "0x%x", unsigned(status));
        text += (text.empty() ? "" : ",") + std::string(rest);
    }
    return text.empty() ? noneWord : text;
}

// A printer handle, closed at the end of the scope.
class PrinterHandle {
public:
    PrinterHandle(const std::string& name, ACCESS_MASK access)
    {
        std::u16string wideName = widen(name);
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
        if (!OpenPrinterW(wideName.data(), &handle_, &defaults))
            handle_ = nullptr;
    }
    ~PrinterHandle()
    {
        if (handle_)
            ClosePrinter(handle_);
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

struct NewPrinter {
    std::string name;
    std::string port;
    std::string driver = "Generic";
    std::string comment;
    std::string printProcessor;
    std::optional<DWORD> retentionMs;
};

bool parseNumber(const std::string& text, DWORD& value)
{
    char* end = nullptr;
    errno = 0;
    unsigned long number = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || errno || number > 0xFFFFFFFFul)
        return false;
    value = DWORD(number);
    return true;
}

// add-printer NAME PORT [--driver D] [--comment TEXT] [--retention MS] [--print-processor NAME]
bool parseNewPrinter(const std::vector<std::string>& args, NewPrinter& printer)
{
    if (args.size() < 2)
        return false;
    printer.name = args[0];
    printer.port = args[1];
    for (size_t i = 2; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return false;
        DWORD retention = 0;
        if (args[i] == "--driver")
            printer.driver = args[i + 1];
        else if (args[i] == "--comment")
            printer.comment = args[i + 1];
        else if (args[i] == "--print-processor")
            printer.printProcessor = args[i + 1];
        else if (args[i] == "--retention" && parseNumber(args[i + 1], retention))
            printer.retentionMs = retention;
        else
            return false;
    }
    return true;
}

// The retention lives beside the printer's settings in the registry; the host reads it whenever
// a job has been delivered.
bool setRetention(const std::u16string& printer, DWORD milliseconds)
{
    std::u16string key = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\" + printer;
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &handle);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(handle, W("RetentionMs"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&milliseconds),
                                sizeof milliseconds);
        RegCloseKey(handle);
    }
    SetLastError(DWORD(status));
    return status == ERROR_SUCCESS;
}

int addPrinter(const std::vector<std::string>& args)
{
    NewPrinter printer;
    if (!parseNewPrinter(args, printer))
        return usageError("add-printer: bad arguments");
    std::u16string name = widen(printer.name);
    std::u16string port = widen(printer.port);
    std::u16string driver = widen(printer.driver);
    std::u16string comment = widen(printer.comment);
    std::u16string printProcessor = widen(printer.printProcessor);
    PRINTER_INFO_2W info{};
    info.pPrintProcessor = printProcessor.empty() ? nullptr : printProcessor.data();
    info.pPrinterName = name.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pComment = comment.data();
    HANDLE handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!handle)
        return failure("AddPrinterW");
    ClosePrinter(handle);
    if (printer.retentionMs && !setRetention(name, *printer.retentionMs))
        return failure("setting the retention");
    return 0;
}

int listPrinters()
{
    std::vector<BYTE> buffer;
    DWORD count = 0;
    auto enumLocal = [](LPWSTR name, DWORD level, LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, name, level, data, size, needed, returned);
    };
    if (!enumerate(enumLocal, 2, buffer, count))
        return failure("EnumPrintersW");
    const PRINTER_INFO_2W* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%s\t%s\t%s\t%s\t%u\n", narrow(printers[i].pPrinterName).c_str(),
                    narrow(printers[i].pPortName).c_str(), narrow(printers[i].pDriverName).c_str(),
                    statusWords(printers[i].Status, kPrinterStatusWords, "ready").c_str(), unsigned(printers[i].cJobs));
    return 0;
}

int listJobs(const std::string& printerName)
{
    PrinterHandle printer(printerName, PRINTER_ACCESS_USE);
    if (!printer.get())
        return failure("OpenPrinterW");
    std::vector<BYTE> buffer;
    DWORD count = 0;
    auto enumAll = [&printer](LPWSTR, DWORD level, LPBYTE data, DWORD size, LPDWORD needed, LPDWORD returned) {
        return EnumJobsW(printer.get(), 0, 0xFFFFFFFF, level, data, size, needed, returned);
    };
    if (!enumerate(enumAll, 2, buffer, count))
        return failure("EnumJobsW");
    const JOB_INFO_2W* jobs = reinterpret_cast<const JOB_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%u\t%s\t%s\t%u\n", unsigned(jobs[i].JobId), narrow(jobs[i].pDocument).c_str(),
                    statusWords(jobs[i].Status, kJobStatusWords, "queued").c_str(), unsigned(jobs[i].Size));
    return 0;
}

int controlJob(const std::vector<std::string>& args)
{
    static const struct {
        const char* word;
        DWORD command;
    } commands[] = {{"pause", JOB_CONTROL_PAUSE},
                    {"resume", JOB_CONTROL_RESUME},
                    {"restart", JOB_CONTROL_RESTART},
                    {"delete", JOB_CONTROL_DELETE}};
    DWORD id = 0;
    if (args.size() != 3 || !parseNumber(args[1], id))
        return usageError("job: bad arguments");
    for (const auto& command : commands) {
        if (args[2] != command.word)
            continue;
        PrinterHandle printer(args[0], PRINTER_ALL_ACCESS);
        if (!printer.get())
            return failure("OpenPrinterW");
        return SetJobW(printer.get(), id, 0, nullptr, command.command) ? 0 : failure("SetJobW");
    }
    return usageError("job: unknown action " + args[2]);
}

// The history file the host keeps in its spool folder, as it stands.
int printHistory()
{
    std::string path = std::string(std::getenv("PAL_ROOT")) + "/spool/history";
    FILE* history = std::fopen(path.c_str(), "rb");
    if (!history) {
        if (errno == ENOENT)
            return 0; // no job has left yet
        std::fprintf(stderr, "pal-spool: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return kExitFailure;
    }
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, history)) > 0)
        std::fwrite(buffer, 1, got, stdout);
    std::fclose(history);
    return 0;
}

int run(const std::string& command, const std::vector<std::string>& args)
{
    if (command == "monitors" && args.empty())
        return listMonitors();
    if (command == "ports" && args.empty())
        return listPorts();
    if (command == "add-monitor" && args.size() == 2)
        return addMonitor(args[0], args[1]);
    if (command == "delete-monitor" && args.size() == 1)
        return deleteMonitor(args[0]);
    if (command == "add-port" || command == "configure-port" || command == "delete-port")
        return portCall(command, args);
    if (command == "xcv")
        return callXcv(args);
    if (command == "add-printer")
        return addPrinter(args);
    if (command == "printers" && args.empty())
        return listPrinters();
    if (command == "jobs" && args.size() == 1)
        return listJobs(args[0]);
    if (command == "job")
        return controlJob(args);
    if (command == "history" && args.empty())
        return printHistory();
    return usageError("unknown command or wrong arguments: " + command);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string root;
    while (!args.empty() && args[0].rfind("--", 0) == 0) {
        if (args[0] == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (args[0] != "--root" || args.size() < 2)
            return usageError("unknown option: " + args[0]);
        root = args[1];
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return usageError("no command");
    if (!tool::usePlatformRoot(root))
        return usageError(tool::kNoPlatformRoot);
    std::string command = args[0];
    args.erase(args.begin());
    return run(command, args);
}
