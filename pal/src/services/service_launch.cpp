// StartServiceW's launch: the image runs detached (its own session, a child of init) with the
// status file's live lock, which it inherits, and the write end of a pipe. The intermediate child
// writes the service's process id into the pipe; the dispatcher writes kConnected once it serves
// controls. The pipe's end without kConnected means the process ended first.
#include "services/service_launch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "files/file_paths.h"
#include "files/root.h"
#include "services/service_files.h"
#include "text/text_case.h"
#include "text/text_utf8.h"
#include "threads/object.h"

extern char** environ;

namespace pal::services {
namespace {

constexpr DWORD kConnectTimeoutMs = 30000;
constexpr int kReleaseWaitMs = 5000;

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

bool endsWithExe(std::u16string_view path)
{
    return path.size() > 4 && sameName(path.substr(path.size() - 4), u".exe");
}

// The Linux program a path names: as given, or without ".exe" (programs here have none).
std::string programAt(std::u16string_view path)
{
    for (std::u16string_view candidate : {path, endsWithExe(path) ? path.substr(0, path.size() - 4) : path}) {
        MappedPath mapped = mapPath(candidate);
        if (!mapped.error && access(mapped.path.c_str(), X_OK) == 0)
            return mapped.path;
    }
    return {};
}

// Arguments as a Windows command line splits them: blanks separate, double quotes group, \" is a
// quote.
std::vector<std::string> splitArguments(std::u16string_view text)
{
    std::vector<std::string> arguments;
    std::u16string current;
    bool quoted = false;
    bool any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\\' && i + 1 < text.size() && text[i + 1] == u'"') {
            current += u'"';
            ++i;
            any = true;
        } else if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (isBlank(c) && !quoted) {
            if (any)
                arguments.push_back(toUtf8(current));
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        arguments.push_back(toUtf8(current));
    return arguments;
}

std::string absoluteRoot()
{
    char resolved[PATH_MAX];
    std::string root = rootPath();
    return realpath(root.c_str(), resolved) ? std::string(resolved) : root;
}

bool serviceVariable(const char* entry)
{
    return std::strncmp(entry, "PAL_SERVICE_", 12) == 0 || std::strncmp(entry, "PAL_ROOT=", 9) == 0;
}

std::vector<std::string> serviceEnvironment(const std::string& name, int statusFd, int connectFd,
                                            const std::vector<std::u16string>& arguments)
{
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (!serviceVariable(*entry))
            environment.emplace_back(*entry);
    environment.push_back("PAL_ROOT=" + absoluteRoot());
    environment.push_back(std::string(kNameVariable) + "=" + name);
    environment.push_back(std::string(kLaunchVariable) + "=" + std::to_string(statusFd) + "," +
                          std::to_string(connectFd));
    environment.push_back(std::string(kArgumentCountVariable) + "=" + std::to_string(arguments.size()));
    for (size_t i = 0; i < arguments.size(); ++i)
        environment.push_back(std::string(kArgumentVariable) + std::to_string(i + 1) + "=" + toUtf8(arguments[i]));
    return environment;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the forked children only async-signal-safe calls.
[[noreturn]] void runDetached(const char* program, char* const* argv, char* const* envp, int statusFd,
                              int connectFd, int logFd, const char* folder)
{
    setsid();
    pid_t service = fork();
    if (service != 0) {
        int id = static_cast<int>(service);
        if (service > 0 && write(connectFd, &id, sizeof id) != sizeof id)
            _exit(1);
        _exit(0);
    }
    int nothing = open("/dev/null", O_RDONLY);
    if (nothing >= 0)
        dup2(nothing, 0);
    dup2(logFd, 1);
    dup2(logFd, 2);
    fcntl(statusFd, F_SETFD, 0); // kept across exec: the live lock and the connect pipe
    fcntl(connectFd, F_SETFD, 0);
    if (folder[0] && chdir(folder) != 0)
        _exit(126);
    execve(program, argv, envp);
    _exit(127);
}

// Reads exactly size bytes within the deadline; false at the end of the pipe or the time-out.
bool readWithin(int fd, void* into, size_t size, std::chrono::steady_clock::time_point deadline, bool& timedOut)
{
    auto* bytes = static_cast<char*>(into);
    size_t got = 0;
    while (got < size) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            return false;
        }
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            continue;
        ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

DWORD awaitConnect(int fd)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaleTimeout(kConnectTimeoutMs));
    bool timedOut = false;
    int service = 0;
    if (!readWithin(fd, &service, sizeof service, deadline, timedOut))
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    char connected = 0;
    if (readWithin(fd, &connected, 1, deadline, timedOut) && connected == kConnected)
        return ERROR_SUCCESS;
    if (timedOut && service > 0)
        kill(service, SIGKILL); // never became a service: nothing may stay half started
    return ERROR_SERVICE_REQUEST_TIMEOUT;
}

// A process that ended closes its pipe and its status file in no fixed order: the failed start
// returns only once the live lock is gone too, so that the status reads stopped at once.
void awaitRelease(const std::string& name)
{
    int fd = open(statusPath(name).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReleaseWaitMs);
    while (!claimLive(fd) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    close(fd);
}

} // namespace

Image parseImagePath(std::u16string_view imagePath)
{
    Image image;
    size_t start = 0;
    while (start < imagePath.size() && isBlank(imagePath[start]))
        ++start;
    std::u16string_view text = imagePath.substr(start);
    if (!text.empty() && text[0] == u'"') {
        size_t close = text.find(u'"', 1);
        std::u16string_view path = text.substr(1, close == std::u16string_view::npos ? std::u16string_view::npos : close - 1);
        image.program = programAt(path);
        if (close != std::u16string_view::npos)
            image.arguments = splitArguments(text.substr(close + 1));
    } else {
        // Unquoted: the shortest prefix ending at a blank that names a program, as Windows tries.
        for (size_t end = 0; end <= text.size() && image.program.empty(); ++end) {
            if (end < text.size() && !isBlank(text[end]))
                continue;
            image.program = programAt(text.substr(0, end));
            if (!image.program.empty())
                image.arguments = splitArguments(text.substr(end));
        }
    }
    if (image.program.empty())
        image.error = ERROR_FILE_NOT_FOUND;
    return image;
}

DWORD launchService(const ServiceConfig& config, const std::vector<std::u16string>& arguments)
{
    Image image = parseImagePath(config.imagePath);
    if (image.error)
        return image.error;
    const std::string name = toUtf8(config.name);
    if (servicesFolder().empty())
        return ERROR_PATH_NOT_FOUND;
    int statusFd = open(statusPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (statusFd < 0)
        return ERROR_ACCESS_DENIED;
    if (!claimLive(statusFd)) {
        close(statusFd);
        return ERROR_SERVICE_ALREADY_RUNNING;
    }
    SERVICE_STATUS pending = stoppedStatus(0);
    pending.dwCurrentState = SERVICE_START_PENDING;
    writeStatus(statusFd, pending);

    int logFd = open(logPath(name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    int connect[2] = {-1, -1};
    if (logFd < 0 || pipe2(connect, O_CLOEXEC) != 0) {
        writeStatus(statusFd, stoppedStatus(ERROR_ACCESS_DENIED));
        close(statusFd);
        if (logFd >= 0)
            close(logFd);
        return ERROR_ACCESS_DENIED;
    }
    std::vector<std::string> argv{image.program};
    argv.insert(argv.end(), image.arguments.begin(), image.arguments.end());
    std::vector<std::string> envp = serviceEnvironment(name, statusFd, connect[1], arguments);
    std::vector<char*> argvPointers = pointersTo(argv);
    std::vector<char*> envpPointers = pointersTo(envp);
    MappedPath system = mapPath(systemDirectory());
    std::string folder = system.error ? std::string() : system.path;

    pid_t child = fork();
    if (child == 0)
        runDetached(argvPointers[0], argvPointers.data(), envpPointers.data(), statusFd, connect[1], logFd,
                    folder.c_str());
    DWORD result = ERROR_NOT_ENOUGH_MEMORY;
    if (child > 0) {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (child < 0)
        writeStatus(statusFd, stoppedStatus(ERROR_NOT_ENOUGH_MEMORY));
    close(statusFd); // the service's copy holds the live lock from here on
    close(logFd);
    close(connect[1]);
    if (child > 0)
        result = awaitConnect(connect[0]);
    close(connect[0]);
    if (result != ERROR_SUCCESS)
        awaitRelease(name);
    return result;
}

} // namespace pal::services
