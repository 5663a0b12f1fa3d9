// pal-sc: installs, starts, stops, queries and deletes services of a platform root, as sc does.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "common/ToolSupport.h"

namespace {

using tool::kExitFailure;
using tool::narrow;
using tool::widen;

const char kUsage[] =
    "Usage: pal-sc [--root DIR] create NAME binPath= PATH [start= boot|system|auto|demand|disabled]\n"
    "                                 [DisplayName= TEXT]\n"
    "       pal-sc [--root DIR] start NAME [ARG]... [--wait SEC]\n"
    "       pal-sc [--root DIR] stop NAME [--wait SEC]\n"
    "       pal-sc [--root DIR] query NAME\n"
    "       pal-sc [--root DIR] delete NAME\n"
    "\n"
    "Services are registered under HKLM\\SYSTEM\\CurrentControlSet\\Services\\NAME. PATH is the\n"
    "program with its arguments: a Windows path (C:\\...) or an absolute Linux path, quoted when it\n"
    "holds blanks. A started service writes its output to <root>/run/services/NAME.log; ARGs go to\n"
    "its service main after its name. start and stop print the status as query does:\n"
    "\n"
    "  SERVICE_NAME: NAME\n"
    "          TYPE : 10 WIN32_OWN_PROCESS\n"
    "          STATE : 4 RUNNING\n"
    "                  (STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n"
    "          WIN32_EXIT_CODE : 0 (0x0)\n"
    "          SERVICE_EXIT_CODE : 0 (0x0)\n"
    "          CHECKPOINT : 0x0\n"
    "          WAIT_HINT : 0x0\n"
    "\n"
    "  --wait SEC  after start, wait up to SEC seconds for RUNNING (STOPPED fails); after stop, for\n"
    "              STOPPED; each state change is shown on the way\n"
    "  --root DIR  the platform root (default: $PAL_ROOT)\n"
    "  --help      show this help\n"
    "\n"
    "Exit status: 0 success, 1 the service manager refused or the wait ran out, 2 wrong usage.\n";

struct Options {
    std::string root;
    std::string command;
    std::string name;
    std::vector<std::string> arguments;
    std::string binPath;
    std::string displayName;
    DWORD startType = SERVICE_DEMAND_START;
    int waitSeconds = -1;
};

struct Usage {
    std::string message; // empty: the command line is good
};

bool parseStartType(const std::string& word, DWORD& type)
{
    const char* names[] = {"boot", "system", "auto", "demand", "disabled"};
    for (DWORD i = 0; i < 5; ++i)
        if (word == names[i]) {
            type = i;
            return true;
        }
    return false;
}

// "key= value" (sc's form) or "key=value".
bool takeSetting(const std::vector<std::string>& words, size_t& i, const std::string& key, std::string& value)
{
    const std::string& word = words[i];
    if (word.size() < key.size() || _strnicmp(word.c_str(), key.c_str(), key.size()) != 0)
        return false;
    if (word.size() > key.size()) {
        value = word.substr(key.size());
    } else if (i + 1 < words.size()) {
        value = words[++i];
    } else {
        value.clear();
    }
    return true;
}

Usage parseCreate(const std::vector<std::string>& words, size_t i, Options& options)
{
    for (; i < words.size(); ++i) {
        std::string value;
        if (takeSetting(words, i, "binPath=", value)) {
            options.binPath = value;
        } else if (takeSetting(words, i, "DisplayName=", value)) {
            options.displayName = value;
        } else if (takeSetting(words, i, "start=", value)) {
            if (!parseStartType(value, options.startType))
                return {"unknown start type '" + value + "'"};
        } else {
            return {"unexpected '" + words[i] + "'"};
        }
    }
    if (options.binPath.empty())
        return {"create needs binPath= PATH"};
    return {};
}

Usage parse(int argc, char** argv, Options& options)
{
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--root" || word == "--wait") {
            if (i + 1 >= argc)
                return {word + " needs a value"};
            std::string value = argv[++i];
            if (word == "--root") {
                options.root = value;
            } else {
                char* end = nullptr;
                long seconds = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || seconds < 0 || seconds > 86400)
                    return {"--wait needs a number of seconds"};
                options.waitSeconds = static_cast<int>(seconds);
            }
        } else {
            words.push_back(word);
        }
    }
    if (words.size() < 2)
        return {"a command and a service name are needed"};
    options.command = words[0];
    options.name = words[1];
    if (options.command == "create")
        return parseCreate(words, 2, options);
    if (options.command == "start") {
        options.arguments.assign(words.begin() + 2, words.end());
        return {};
    }
    if (options.command != "stop" && options.command != "query" && options.command != "delete")
        return {"unknown command '" + options.command + "'"};
    if (words.size() > 2)
        return {"unexpected '" + words[2] + "'"};
    if (options.waitSeconds >= 0 && options.command != "stop")
        return {"--wait goes with start or stop"};
    return {};
}

const char* stateName(DWORD state)
{
    const char* names[] = {"STOPPED", "START_PENDING", "STOP_PENDING", "RUNNING",
                           "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
    return state >= 1 && state <= 7 ? names[state - 1] : "UNKNOWN";
}

const char* errorText(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_INVALID_NAME:
        return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_INVALID_SERVICE_CONTROL:
        return "The requested control is not valid for this service.";
    case ERROR_SERVICE_REQUEST_TIMEOUT:
        return "The service did not respond to the start or control request in a timely fashion.";
    case ERROR_SERVICE_ALREADY_RUNNING:
        return "An instance of the service is already running.";
    case ERROR_SERVICE_DISABLED:
        return "The service cannot be started, because it is disabled.";
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return "The specified service does not exist as an installed service.";
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
        return "The service cannot accept control messages at this time.";
    case ERROR_SERVICE_NOT_ACTIVE:
        return "The service has not been started.";
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return "The specified service has been marked for deletion.";
    case ERROR_SERVICE_EXISTS:
        return "The specified service already exists.";
    case RPC_S_SERVER_UNAVAILABLE:
        return "The RPC server is unavailable.";
    default:
        return "";
    }
}

int failed(const char* call, DWORD error)
{
    std::printf("[SC] %s FAILED %lu:\n\n%s\n", call, static_cast<unsigned long>(error), errorText(error));
    return kExitFailure;
}

void printStatus(const std::string& name, const SERVICE_STATUS& status)
{
    std::printf("\nSERVICE_NAME: %s\n", name.c_str());
    std::printf("        TYPE : %lx WIN32_OWN_PROCESS\n", static_cast<unsigned long>(status.dwServiceType));
    std::printf("        STATE : %lu %s\n", static_cast<unsigned long>(status.dwCurrentState),
                stateName(status.dwCurrentState));
    DWORD accepted = status.dwControlsAccepted;
    std::printf("                (%s, %s, %s)\n", accepted & SERVICE_ACCEPT_STOP ? "STOPPABLE" : "NOT_STOPPABLE",
                accepted & SERVICE_ACCEPT_PAUSE_CONTINUE ? "PAUSABLE" : "NOT_PAUSABLE",
                accepted & SERVICE_ACCEPT_SHUTDOWN ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
    std::printf("        WIN32_EXIT_CODE : %lu (0x%lx)\n", static_cast<unsigned long>(status.dwWin32ExitCode),
                static_cast<unsigned long>(status.dwWin32ExitCode));
    std::printf("        SERVICE_EXIT_CODE : %lu (0x%lx)\n",
                static_cast<unsigned long>(status.dwServiceSpecificExitCode),
                static_cast<unsigned long>(status.dwServiceSpecificExitCode));
    std::printf("        CHECKPOINT : 0x%lx\n", static_cast<unsigned long>(status.dwCheckPoint));
    std::printf("        WAIT_HINT : 0x%lx\n", static_cast<unsigned long>(status.dwWaitHint));
}

// Waits for the target state, showing each state on the way; the last status read in status.
int waitFor(SC_HANDLE service, DWORD target, int seconds, SERVICE_STATUS& status)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    DWORD shown = 0;
    for (;;) {
        if (!QueryServiceStatus(service, &status))
            return failed("QueryServiceStatus", GetLastError());
        if (status.dwCurrentState != shown) {
            shown = status.dwCurrentState;
            std::fprintf(stderr, "pal-sc: %s\n", stateName(shown));
        }
        if (status.dwCurrentState == target)
            return 0;
        if (status.dwCurrentState == SERVICE_STOPPED) {
            std::fprintf(stderr, "pal-sc: the service stopped (exit code %lu)\n",
                         static_cast<unsigned long>(status.dwWin32ExitCode));
            return kExitFailure;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            std::fprintf(stderr, "pal-sc: still %s after %d s\n", stateName(shown), seconds);
            return kExitFailure;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// A manager and a service handle, closed with their scope.
struct Handles {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    ~Handles()
    {
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
    }
};

int create(const Options& options, Handles& handles)
{
    std::u16string name = widen(options.name);
    std::u16string display = widen(options.displayName);
    handles.service = CreateServiceW(handles.manager, name.c_str(), display.empty() ? nullptr : display.c_str(),
                                     SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, options.startType,
                                     SERVICE_ERROR_NORMAL, widen(options.binPath).c_str(), nullptr, nullptr, nullptr,
                                     nullptr, nullptr);
    if (!handles.service)
        return failed("CreateService", GetLastError());
    std::printf("[SC] CreateService SUCCESS\n");
    return 0;
}

int start(const Options& options, Handles& handles)
{
    std::vector<std::u16string> wide;
    for (const auto& argument : options.arguments)
        wide.push_back(widen(argument));
    std::vector<LPCWSTR> pointers;
    for (const auto& argument : wide)
        pointers.push_back(argument.c_str());
    if (!StartServiceW(handles.service, static_cast<DWORD>(pointers.size()), pointers.data()))
        return failed("StartService", GetLastError());
    SERVICE_STATUS status{};
    int result = options.waitSeconds >= 0 ? waitFor(handles.service, SERVICE_RUNNING, options.waitSeconds, status)
                                          : (QueryServiceStatus(handles.service, &status), 0);
    printStatus(options.name, status);
    return result;
}

int stop(const Options& options, Handles& handles)
{
    SERVICE_STATUS status{};
    if (!ControlService(handles.service, SERVICE_CONTROL_STOP, &status))
        return failed("ControlService", GetLastError());
    int result = options.waitSeconds >= 0 ? waitFor(handles.service, SERVICE_STOPPED, options.waitSeconds, status) : 0;
    printStatus(options.name, status);
    return result;
}

int run(const Options& options)
{
    Handles handles;
    DWORD managerAccess = options.command == "create" ? SC_MANAGER_CREATE_SERVICE : SC_MANAGER_CONNECT;
    handles.manager = OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, managerAccess);
    if (!handles.manager)
        return failed("OpenSCManager", GetLastError());
    if (options.command == "create")
        return create(options, handles);
    DWORD access = options.command == "start"    ? SERVICE_START | SERVICE_QUERY_STATUS
                   : options.command == "stop"   ? SERVICE_STOP | SERVICE_QUERY_STATUS
                   : options.command == "delete" ? DELETE
                                                 : SERVICE_QUERY_STATUS;
    handles.service = OpenServiceW(handles.manager, widen(options.name).c_str(), access);
    if (!handles.service)
        return failed("OpenService", GetLastError());
    if (options.command == "start")
        return start(options, handles);
    if (options.command == "stop")
        return stop(options, handles);
    if (options.command == "delete") {
        if (!DeleteService(handles.service))
            return failed("DeleteService", GetLastError());
        std::printf("[SC] DeleteService SUCCESS\n");
        return 0;
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(handles.service, &status))
        return failed("QueryServiceStatus", GetLastError());
    printStatus(options.name, status);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (tool::wantsHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    Usage usage = parse(argc, argv, options);
    if (!usage.message.empty())
        return tool::usageError("pal-sc", usage.message);
    if (!tool::usePlatformRoot(options.root))
        return tool::usageError("pal-sc", tool::kNoPlatformRoot);
    int result = run(options);
    std::fflush(stdout);
    return result;
}
