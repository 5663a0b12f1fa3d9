// The service process's side: the dispatcher serves controls on the calling thread while the
// service's main runs on a thread of its own; SetServiceStatus writes the status file, and
// SERVICE_STOPPED lets go of it and ends the dispatcher.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "pal/services.h"
#include "pal/threads.h"
#include "pipes/pipes_place.h"
#include "services/service_config.h"
#include "services/service_files.h"
#include "services/service_launch.h"
#include "services/service_wire.h"
#include "text/text_utf8.h"
#include "threads/object.h"

namespace pal::services {
namespace {

constexpr DWORD kRequestTimeoutMs = 30000;

struct Dispatcher {
    std::mutex mutex;
    bool started = false;
    bool stopped = false;
    std::string name;
    int statusFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    LPHANDLER_FUNCTION_EX handler = nullptr;
    void* context = nullptr;
    LPSERVICE_MAIN_FUNCTIONW main = nullptr;
    std::vector<std::u16string> arguments; // the service's name first
    std::vector<LPWSTR> argumentPointers;
};

Dispatcher& dispatcher()
{
    static Dispatcher* state = new Dispatcher; // the service's main may outlive static destruction
    return *state;
}

SERVICE_STATUS_HANDLE statusHandle()
{
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(&dispatcher());
}

template <class Result>
Result fail(DWORD error, Result result)
{
    SetLastError(error);
    return result;
}

struct Launch {
    std::string name;
    int statusFd = -1;
    int connectFd = -1;
};

bool sameFile(int fd, const std::string& path)
{
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

bool isPipe(int fd)
{
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode);
}

// What StartServiceW handed this process; false when it was not launched so (a process that only
// inherited the variables has not the descriptors they name).
bool launchOf(Launch& launch)
{
    const char* name = std::getenv(kNameVariable);
    const char* fds = std::getenv(kLaunchVariable);
    if (!name || !*name || !fds || std::sscanf(fds, "%d,%d", &launch.statusFd, &launch.connectFd) != 2)
        return false;
    launch.name = name;
    return launch.statusFd >= 0 && launch.connectFd >= 0 && sameFile(launch.statusFd, statusPath(launch.name)) &&
           isPipe(launch.connectFd);
}

std::vector<std::u16string> serviceArguments(const std::string& name)
{
    std::vector<std::u16string> arguments{fromUtf8(name)};
    const char* count = std::getenv(kArgumentCountVariable);
    long total = count ? std::strtol(count, nullptr, 10) : 0;
    for (long i = 1; i <= total; ++i) {
        const char* value = std::getenv((std::string(kArgumentVariable) + std::to_string(i)).c_str());
        arguments.push_back(fromUtf8(value ? value : ""));
    }
    return arguments;
}

DWORD WINAPI runServiceMain(LPVOID)
{
    Dispatcher& state = dispatcher();
    state.main(static_cast<DWORD>(state.argumentPointers.size()), state.argumentPointers.data());
    return 0;
}

// One control: the handler runs here, on the dispatcher's thread, without the dispatcher's lock.
void serveControl(int connection)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaleTimeout(kRequestTimeoutMs));
    unsigned char request[kRequestBytes];
    if (!receiveAll(connection, request, sizeof request, deadline))
        return;
    LPHANDLER_FUNCTION_EX handler;
    void* context;
    {
        Dispatcher& state = dispatcher();
        std::lock_guard<std::mutex> lock(state.mutex);
        handler = state.handler;
        context = state.context;
    }
    DWORD result = handler ? handler(getWord(request), getWord(request + 4), nullptr, context)
                           : static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    unsigned char reply[kReplyBytes];
    putWord(reply, result);
    sendAll(connection, reply, sizeof reply, deadline);
}

bool stopReported()
{
    Dispatcher& state = dispatcher();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.stopped;
}

void serveUntilStopped(int listener, int wake)
{
    while (!stopReported()) {
        pollfd entries[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(entries, 2, -1) < 0)
            continue;
        if (entries[0].revents & POLLIN) {
            int connection = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (connection >= 0) {
                serveControl(connection);
                close(connection);
            }
        }
    }
}

// Prepares the dispatcher's state; the error of StartServiceCtrlDispatcherW, or 0.
DWORD takeLaunch(const Launch& launch, LPSERVICE_MAIN_FUNCTIONW main, int wake[2])
{
    Dispatcher& state = dispatcher();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.started)
        return ERROR_SERVICE_ALREADY_RUNNING;
    state.started = true;
    state.name = launch.name;
    state.statusFd = launch.statusFd;
    state.wakeRead = wake[0];
    state.wakeWrite = wake[1];
    state.main = main;
    state.arguments = serviceArguments(launch.name);
    for (auto& argument : state.arguments)
        state.argumentPointers.push_back(argument.data());
    return 0;
}

} // namespace
} // namespace pal::services

using namespace pal;
using namespace pal::services;

extern "C" {

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable)
{
    if (!lpServiceStartTable || !lpServiceStartTable[0].lpServiceProc)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    Launch launch;
    if (!launchOf(launch))
        return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, FALSE);
    fcntl(launch.statusFd, F_SETFD, FD_CLOEXEC); // neither the lock nor the pipe goes to our children
    fcntl(launch.connectFd, F_SETFD, FD_CLOEXEC);
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0)
        return fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    if (DWORD error = takeLaunch(launch, lpServiceStartTable[0].lpServiceProc, wake)) {
        close(wake[0]);
        close(wake[1]);
        return fail(error, FALSE);
    }
    std::string control = controlPath(launch.name);
    unlink(control.c_str()); // left by an earlier run
    int listener = pipes::listenAt(control);
    char connected = kConnected;
    if (listener < 0 || write(launch.connectFd, &connected, 1) != 1) {
        SERVICE_STATUS failed = stoppedStatus(ERROR_SERVICE_NO_THREAD);
        SetServiceStatus(statusHandle(), &failed);
        return fail(ERROR_SERVICE_NO_THREAD, FALSE);
    }
    close(launch.connectFd);
    HANDLE main = CreateThread(nullptr, 0, runServiceMain, nullptr, 0, nullptr);
    if (!main) {
        SERVICE_STATUS failed = stoppedStatus(ERROR_SERVICE_NO_THREAD);
        SetServiceStatus(statusHandle(), &failed);
        close(listener);
        return fail(ERROR_SERVICE_NO_THREAD, FALSE);
    }
    CloseHandle(main);
    serveUntilStopped(listener, wake[0]);
    close(listener);
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerExW(LPCWSTR, LPHANDLER_FUNCTION_EX lpHandlerProc, LPVOID lpContext)
{
    if (!lpHandlerProc)
        return fail(ERROR_INVALID_PARAMETER, SERVICE_STATUS_HANDLE(nullptr));
    Dispatcher& state = dispatcher();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.started)
        return fail(ERROR_SERVICE_NOT_IN_EXE, SERVICE_STATUS_HANDLE(nullptr));
    state.handler = lpHandlerProc;
    state.context = lpContext;
    return statusHandle();
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus, LPSERVICE_STATUS lpServiceStatus)
{
    if (hServiceStatus != statusHandle())
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!lpServiceStatus || lpServiceStatus->dwCurrentState < SERVICE_STOPPED ||
        lpServiceStatus->dwCurrentState > SERVICE_PAUSED)
        return fail(ERROR_INVALID_DATA, FALSE);
    Dispatcher& state = dispatcher();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.started || state.stopped)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!writeStatus(state.statusFd, *lpServiceStatus))
        return fail(ERROR_WRITE_FAULT, FALSE);
    if (lpServiceStatus->dwCurrentState == SERVICE_STOPPED) {
        state.stopped = true;
        removeIfMarked(fromUtf8(state.name));
        close(state.statusFd); // the live lock goes: the service may be started again
        state.statusFd = -1;
        char stop = 1;
        if (write(state.wakeWrite, &stop, 1) != 1)
            return fail(ERROR_WRITE_FAULT, FALSE);
    }
    return TRUE;
}

} // extern "C"
