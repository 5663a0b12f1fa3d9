// Helpers of the spooler tests: the spooler host as a child process in the test's platform root,
// programs run to their end, and the test monitor's registry entries.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "pal/registry.h"
#include "pal/winspool.h"

namespace spoolertest {

constexpr int kReadyTimeoutMs = 30000;

// The folder of the test executable, where the build puts spoolsv, pal-spool and TESTMON.so.
inline std::string binaryDir()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Starts binaryDir()/args[0] with its stdout (and stderr when merged) on a pipe; the child runs as
// uid when one is given, and reads stdinFd when one is given.
inline pid_t spawn(const std::vector<std::string>& args, int& stdoutFd, bool mergeStderr,
                   std::optional<uid_t> uid = std::nullopt, int stdinFd = -1)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0)
        return -1;
    std::string path = binaryDir() + "/" + args[0];
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        if (stdinFd >= 0)
            dup2(stdinFd, STDIN_FILENO);
        if (mergeStderr)
            dup2(fds[1], STDERR_FILENO);
        if (uid && (setgid(*uid) < 0 || setuid(*uid) < 0))
            _exit(126);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    stdoutFd = fds[0];
    return pid;
}

inline int exitCodeOf(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct ProgramResult {
    int exitCode = -1;
    std::string output;
};

// Runs a program of the build to its end and collects what it prints (stdout and stderr); the
// program reads input (a few KiB at most) on its stdin.
inline ProgramResult runProgram(const std::vector<std::string>& args, std::optional<uid_t> uid = std::nullopt,
                                const std::string& input = {})
{
    ProgramResult result;
    int inputFds[2];
    if (pipe2(inputFds, O_CLOEXEC) < 0)
        return result;
    if (write(inputFds[1], input.data(), input.size()) != ssize_t(input.size()))
        return result;
    close(inputFds[1]);
    int fd = -1;
    pid_t pid = spawn(args, fd, true, uid, inputFds[0]);
    close(inputFds[0]);
    if (pid < 0)
        return result;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            result.output.append(buffer, size_t(got));
    close(fd);
    result.exitCode = exitCodeOf(pid);
    return result;
}

// The spooler host, started in the current platform root (PAL_ROOT).
class SpoolerHost {
public:
    SpoolerHost() = default;
    ~SpoolerHost()
    {
        if (pid_ > 0)
            stop();
    }
    SpoolerHost(const SpoolerHost&) = delete;
    SpoolerHost& operator=(const SpoolerHost&) = delete;

    // Starts spoolsv and waits (bounded) for its "spoolsv: ready" line; false when it ends or
    // stays silent instead.
    bool start(const std::vector<std::string>& options = {})
    {
        std::vector<std::string> args = {"spoolsv"};
        args.insert(args.end(), options.begin(), options.end());
        pid_ = spawn(args, stdoutFd_, false);
        return pid_ > 0 && readLine() == "spoolsv: ready";
    }

    // SIGTERM, then the host's exit code (0 for a clean stop with no sanitizer report); -1 when
    // it was not started (kill(-1) would signal every process).
    int stop()
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        int code = exitCodeOf(pid_);
        pid_ = -1;
        close(stdoutFd_);
        return code;
    }

    // Ends the host at once, as a crash would; its exit code (128 + SIGKILL).
    int kill()
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGKILL);
        return wait();
    }

    // Waits for the host to end by itself.
    int wait()
    {
        int code = exitCodeOf(pid_);
        pid_ = -1;
        close(stdoutFd_);
        return code;
    }

private:
    std::string readLine()
    {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd = {stdoutFd_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0)
                return line;
            char c;
            if (read(stdoutFd_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }

    pid_t pid_ = -1;
    int stdoutFd_ = -1;
};

inline std::u16string monitorKey(const std::u16string& monitor)
{
    return u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" + monitor;
}

inline void setStringValue(const std::u16string& path, const WCHAR* name, const std::u16string& text)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             DWORD((text.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

inline void setDwordValue(const std::u16string& path, const WCHAR* name, DWORD value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// The value, or nullopt when it is missing.
inline std::optional<DWORD> readDword(const std::u16string& path, const WCHAR* name)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

inline bool keyExists(const std::u16string& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// Registers a test monitor (TESTMON.DLL) with its ports, as an installation would.
inline void registerTestMonitor(const std::u16string& name, const std::vector<std::u16string>& ports,
                                const std::u16string& description = u"Test Port")
{
    setStringValue(monitorKey(name), W("Driver"), u"TESTMON.DLL");
    setStringValue(monitorKey(name), W("Description"), description);
    for (const std::u16string& port : ports)
        setDwordValue(monitorKey(name) + u"\\Ports\\" + port, W("Unused"), 0);
}

// Waits (bounded) until condition holds; for state another process changes without telling us.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::milliseconds(20000))
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// An Xcv handle opened with desired access, closed at the end of the scope.
class XcvHandle {
public:
    XcvHandle(const std::u16string& object, std::optional<ACCESS_MASK> access = SERVER_ACCESS_ADMINISTER)
    {
        std::u16string name = object;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access.value_or(0)};
        opened_ = OpenPrinterW(name.data(), &handle_, access ? &defaults : nullptr);
        error_ = opened_ ? 0 : GetLastError();
    }
    ~XcvHandle()
    {
        if (opened_)
            ClosePrinter(handle_);
    }
    XcvHandle(const XcvHandle&) = delete;
    XcvHandle& operator=(const XcvHandle&) = delete;

    bool opened() const { return opened_; }
    DWORD error() const { return error_; }
    HANDLE get() const { return handle_; }

    // Calls a method; the status, or ~0u when XcvDataW itself failed.
    DWORD call(const WCHAR* method, std::vector<BYTE> input, std::vector<BYTE>& output, DWORD* needed = nullptr)
    {
        DWORD status = 0;
        DWORD neededValue = 0;
        if (!XcvDataW(handle_, method, input.empty() ? nullptr : input.data(), DWORD(input.size()),
                      output.empty() ? nullptr : output.data(), DWORD(output.size()), &neededValue, &status))
            return ~0u;
        if (needed)
            *needed = neededValue;
        return status;
    }

private:
    HANDLE handle_ = nullptr;
    BOOL opened_ = FALSE;
    DWORD error_ = 0;
};

inline std::vector<BYTE> bytesOf(const std::u16string& text)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(WCHAR));
}

} // namespace spoolertest
