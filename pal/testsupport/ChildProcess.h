// Other processes in tests: a program built beside the test (a tool, a fixture), one case of the
// test program itself, or a forked body. Every wait is bounded; a child still running when its
// ChildProcess goes away is killed.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

constexpr int kChildTimeoutMs = 20000;

// The running test program, and a program built into the same folder.
std::string selfPath();
std::string besideSelf(const std::string& name);

struct ChildOptions {
    std::vector<std::string> setEnvironment;   // "NAME=value": replaces or adds to the inherited variables
    std::vector<std::string> unsetEnvironment; // names left out of the inherited variables
    bool pipeErrors = false;                   // standard error on a pipe (else inherited)
};

class ChildProcess {
public:
    // Starts program with args, its standard input and output on pipes.
    ChildProcess(const std::string& program, const std::vector<std::string>& args, const ChildOptions& options = {});
    // Runs body in a forked copy of this process, which exits with 0 when body returns true, else 1.
    static ChildProcess fork(const std::function<bool()>& body);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // One line of its output without the line feed; "" after timeoutMs or at the end of the output.
    std::string readLine(int timeoutMs = kChildTimeoutMs);
    // Closing its input tells a fixture to finish.
    void closeInput();
    void kill();
    // Exit status 0-255; -1 when it was not started, ended by a signal or did not end within
    // timeoutMs (it is killed then).
    int wait(int timeoutMs = kChildTimeoutMs);
    // Reads its output (and errors when piped) to their end, then waits; all within timeoutMs.
    int finish(std::string& out, std::string& err, int timeoutMs = kChildTimeoutMs);

private:
    ChildProcess() = default;
    void release();

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    int errors_ = -1;
    bool reaped_ = false;
};

struct ChildResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs program to its end, collecting its output and errors.
ChildResult runProgram(const std::string& program, const std::vector<std::string>& args,
                       const ChildOptions& options = {}, int timeoutMs = kChildTimeoutMs);

// Runs the cases of this test program that match filter (disabled ones included) in a child
// process; out holds what it printed to both streams.
ChildResult runTestCases(const std::string& filter, const std::vector<std::string>& setEnvironment = {},
                         int timeoutMs = kChildTimeoutMs);

} // namespace testsupport
