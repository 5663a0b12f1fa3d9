#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool named(const std::string& entry, const std::string& name)
{
    return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=';
}

bool listedIn(const std::string& entry, const std::vector<std::string>& names)
{
    for (const auto& name : names)
        if (named(entry, name))
            return true;
    return false;
}

std::vector<std::string> childEnvironment(const ChildOptions& options)
{
    std::vector<std::string> replaced = options.unsetEnvironment;
    for (const auto& entry : options.setEnvironment)
        replaced.push_back(entry.substr(0, entry.find('=')));
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        if (!listedIn(*entry, replaced))
            environment.emplace_back(*entry);
    environment.insert(environment.end(), options.setEnvironment.begin(), options.setEnvironment.end());
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

void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Reads what is there; false at the end of the stream.
bool drain(int fd, std::string& into)
{
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0)
        into.append(buffer, static_cast<size_t>(got));
    return got > 0 || (got < 0 && errno == EINTR);
}

} // namespace

std::string selfPath()
{
    return std::filesystem::read_symlink("/proc/self/exe").string();
}

std::string besideSelf(const std::string& name)
{
    return (std::filesystem::path(selfPath()).parent_path() / name).string();
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const ChildOptions& options)
{
    int input[2] = {-1, -1}, output[2] = {-1, -1}, errors[2] = {-1, -1};
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
        (options.pipeErrors && pipe2(errors, O_CLOEXEC) != 0)) {
        for (int* fd : {&input[0], &input[1], &output[0], &output[1], &errors[0], &errors[1]})
            closeFd(*fd);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    if (options.pipeErrors)
        posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
    std::vector<std::string> argTexts{program};
    argTexts.insert(argTexts.end(), args.begin(), args.end());
    std::vector<std::string> environment = childEnvironment(options);
    std::vector<char*> argv = pointersTo(argTexts);
    std::vector<char*> envp = pointersTo(environment);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    closeFd(input[0]);
    closeFd(output[1]);
    closeFd(errors[1]);
    input_ = input[1];
    output_ = output[0];
    errors_ = errors[0];
}

ChildProcess ChildProcess::fork(const std::function<bool()>& body)
{
    ChildProcess child;
    child.pid_ = ::fork();
    if (child.pid_ == 0)
        _exit(body() ? 0 : 1);
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
{
    *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this != &other) {
        release();
        pid_ = std::exchange(other.pid_, -1);
        input_ = std::exchange(other.input_, -1);
        output_ = std::exchange(other.output_, -1);
        errors_ = std::exchange(other.errors_, -1);
        reaped_ = std::exchange(other.reaped_, false);
    }
    return *this;
}

ChildProcess::~ChildProcess()
{
    release();
}

void ChildProcess::release()
{
    closeFd(input_);
    closeFd(output_);
    closeFd(errors_);
    if (pid_ > 0 && !reaped_) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::string ChildProcess::readLine(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string line;
    char c;
    while (output_ >= 0) {
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, millisecondsLeft(deadline)) <= 0 || read(output_, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    return line;
}

void ChildProcess::closeInput()
{
    closeFd(input_);
}

void ChildProcess::kill()
{
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, SIGKILL);
}

int ChildProcess::wait(int timeoutMs)
{
    if (pid_ <= 0 || reaped_)
        return -1;
    int exited = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (exited >= 0) {
        pollfd ready{exited, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) <= 0)
            ::kill(pid_, SIGKILL);
        close(exited);
    }
    int status = 0;
    pid_t waited = waitpid(pid_, &status, 0);
    reaped_ = waited == pid_;
    if (!reaped_ || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

int ChildProcess::finish(std::string& out, std::string& err, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    closeInput();
    while (output_ >= 0 || errors_ >= 0) {
        pollfd streams[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
        if (poll(streams, 2, millisecondsLeft(deadline)) <= 0) {
            kill();
            break;
        }
        if (streams[0].revents && !drain(output_, out))
            closeFd(output_);
        if (streams[1].revents && !drain(errors_, err))
            closeFd(errors_);
    }
    return wait(millisecondsLeft(deadline));
}

ChildResult runProgram(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options,
                       int timeoutMs)
{
    ChildOptions piped = options;
    piped.pipeErrors = true;
    ChildProcess child(program, args, piped);
    ChildResult result;
    result.status = child.finish(result.out, result.err, timeoutMs);
    return result;
}

ChildResult runTestCases(const std::string& filter, const std::vector<std::string>& setEnvironment, int timeoutMs)
{
    ChildOptions options;
    options.setEnvironment = setEnvironment;
    ChildResult result =
        runProgram(selfPath(), {"--gtest_filter=" + filter, "--gtest_also_run_disabled_tests"}, options, timeoutMs);
    result.out += result.err;
    return result;
}

} // namespace testsupport
