// The client side of named pipes: opening an instance, waiting for one, and CallNamedPipe.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "threads/object.h"
#include "pipes/pipes_end.h"
#include "pipes/pipes_handle.h"
#include "pipes/pipes_place.h"

namespace pal::pipes {
namespace {

constexpr DWORD kAnswerWaitMs = 5000;
constexpr DWORD kExchangeMs = 5000;
constexpr auto kLongestPause = std::chrono::milliseconds(20);

// What the serving processes said: the connection that was taken (fd), or the error.
struct Answer {
    int fd = -1;
    DWORD error = ERROR_FILE_NOT_FOUND;
    DWORD word = 0;
};

// Says hello to one serving process; false when it gave no answer.
bool greet(int fd, const char (&tag)[4], DWORD value, Answer& answer)
{
    unsigned char hello[kHelloSize];
    std::memcpy(hello, tag, 4);
    putWord(hello + 4, value);
    unsigned char reply[kAnswerSize];
    auto deadline = deadlineAfter(scaleTimeout(kAnswerWaitMs));
    if (sendAll(fd, hello, sizeof hello, deadline) != ERROR_SUCCESS ||
        !receiveExactly(fd, reply, sizeof reply, deadline))
        return false;
    answer.error = wordAt(reply);
    answer.word = wordAt(reply + 4);
    return true;
}

// Asks each process serving the pipe in turn until one says yes; keep leaves that connection open.
Answer ask(const std::string& folder, const char (&tag)[4], DWORD value, bool keep)
{
    bool busy = false;
    bool denied = false;
    DWORD word = 0;
    for (const std::string& path : serverSockets(folder)) {
        int fd = connectTo(path);
        busy |= fd == -EAGAIN;
        denied |= fd == -EACCES;
        if (fd < 0)
            continue;
        Answer answer;
        bool answered = greet(fd, tag, value, answer);
        if (answered && answer.error == ERROR_SUCCESS && keep) {
            answer.fd = fd;
            return answer;
        }
        ::close(fd);
        if (answered && answer.error == ERROR_SUCCESS)
            return answer;
        if (!answered)
            continue;
        word = answer.word;
        busy |= answer.error == ERROR_PIPE_BUSY;
        denied |= answer.error == ERROR_ACCESS_DENIED;
    }
    Answer none;
    none.error = busy ? ERROR_PIPE_BUSY : denied ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    none.word = word;
    return none;
}

struct Opened {
    std::shared_ptr<PipeEnd> end;
    DWORD error = ERROR_SUCCESS;
};

Opened openClient(const std::string& folder, DWORD access, bool overlapped)
{
    Answer answer = ask(folder, kOpenTag, access, true);
    if (answer.error)
        return {nullptr, answer.error};
    PipeSettings settings;
    settings.messageType = (answer.word & PIPE_TYPE_MESSAGE) != 0;
    settings.mayRead = asksRead(access);
    settings.mayWrite = asksWrite(access);
    settings.overlapped = overlapped;
    auto end = std::make_shared<PipeEnd>(settings, -1, nullptr);
    auto link = std::make_shared<Link>(answer.fd, end);
    end->attach(link);
    link->start();
    return {end, ERROR_SUCCESS};
}

// Waits until an instance would take a client. The first call sets deadline from timeout
// (NMPWAIT_USE_DEFAULT_WAIT: the pipe's default time-out); later calls keep it.
DWORD waitForFreeInstance(const std::string& folder, DWORD timeout, Clock::time_point& deadline, bool& started)
{
    Clock::duration pause = std::chrono::milliseconds(1);
    for (;;) {
        Answer answer = ask(folder, kProbeTag, 0, false);
        if (answer.error != ERROR_PIPE_BUSY)
            return answer.error;
        if (!started) {
            DWORD wait = timeout == NMPWAIT_USE_DEFAULT_WAIT ? answer.word : timeout;
            deadline = deadlineAfter(scaleTimeout(wait));
            started = true;
        }
        auto now = Clock::now();
        if (now >= deadline)
            return ERROR_SEM_TIMEOUT;
        std::this_thread::sleep_for(std::min(pause, deadline - now));
        pause = std::min<Clock::duration>(pause * 2, kLongestPause);
    }
}

std::string folderOf(LPCWSTR name, DWORD& error)
{
    std::string key = name ? pipeKey(name) : std::string();
    error = name ? (key.empty() ? ERROR_INVALID_NAME : ERROR_SUCCESS) : ERROR_INVALID_PARAMETER;
    return key.empty() ? std::string() : pipeFolder(key, false);
}

HANDLE openPipeHandle(LPCWSTR name, DWORD access, DWORD, DWORD, DWORD flags)
{
    DWORD error;
    std::string folder = folderOf(name, error);
    Opened opened = error ? Opened{nullptr, error} : openClient(folder, access, (flags & FILE_FLAG_OVERLAPPED) != 0);
    if (!opened.end) {
        finishCall(opened.error);
        return INVALID_HANDLE_VALUE;
    }
    finishCall(ERROR_SUCCESS);
    return insertHandle(std::make_shared<PipeHandle>(opened.end));
}

[[maybe_unused]] const bool registered = (registerDeviceOpener(u"\\\\.\\pipe\\", openPipeHandle), true);

DWORD callPipe(LPCWSTR name, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize, DWORD& done,
               DWORD timeout)
{
    DWORD error;
    std::string folder = folderOf(name, error);
    if (error)
        return error;
    Clock::time_point deadline;
    bool started = false;
    Opened opened;
    for (;;) {
        opened = openClient(folder, GENERIC_READ | GENERIC_WRITE, false);
        if (opened.end)
            break;
        if (opened.error != ERROR_PIPE_BUSY || timeout == NMPWAIT_NOWAIT)
            return opened.error;
        if ((error = waitForFreeInstance(folder, timeout, deadline, started)))
            return error;
    }
    error = opened.end->setMode(PIPE_READMODE_MESSAGE);
    if (!error)
        error = opened.end->transact(input, inputSize, output, outputSize, done, nullptr,
                                     deadlineAfter(scaleTimeout(kExchangeMs)));
    opened.end->close();
    return error;
}

} // namespace
} // namespace pal::pipes

using namespace pal::pipes;

extern "C" {

BOOL WaitNamedPipeW(LPCWSTR lpNamedPipeName, DWORD nTimeOut)
{
    DWORD error;
    std::string folder = folderOf(lpNamedPipeName, error);
    Clock::time_point deadline;
    bool started = false;
    return finishCall(error ? error : waitForFreeInstance(folder, nTimeOut, deadline, started));
}

BOOL WaitNamedPipeA(LPCSTR lpNamedPipeName, DWORD nTimeOut)
{
    if (!lpNamedPipeName)
        return finishCall(ERROR_INVALID_PARAMETER);
    return WaitNamedPipeW(wideName(lpNamedPipeName).c_str(), nTimeOut);
}

BOOL CallNamedPipeW(LPCWSTR lpNamedPipeName, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                    DWORD nOutBufferSize, LPDWORD lpBytesRead, DWORD nTimeOut)
{
    DWORD done = 0;
    DWORD error = callPipe(lpNamedPipeName, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, done, nTimeOut);
    if (lpBytesRead)
        *lpBytesRead = done;
    return finishCall(error);
}

BOOL CallNamedPipeA(LPCSTR lpNamedPipeName, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                    DWORD nOutBufferSize, LPDWORD lpBytesRead, DWORD nTimeOut)
{
    if (!lpNamedPipeName)
        return finishCall(ERROR_INVALID_PARAMETER);
    return CallNamedPipeW(wideName(lpNamedPipeName).c_str(), lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize,
                          lpBytesRead, nTimeOut);
}

} // extern "C"
