#include "JobPipeStub.h"

#include <windows.h>

namespace jobmsg {

namespace {

constexpr DWORD kRequestBytes = 1028;
// The service's pipe lets a client wait this long for its one instance.
constexpr DWORD kDefaultTimeoutMs = 1000;

} // namespace

JobPipeStub::JobPipeStub(std::u16string pipeName) : pipeName_(std::move(pipeName)) {}

JobPipeStub::~JobPipeStub()
{
    stop();
}

bool JobPipeStub::start(DWORD& error)
{
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    pipe_ = CreateNamedPipeW(pipeName_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kRequestBytes, kRequestBytes,
                             kDefaultTimeoutMs, &attributes);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        pipe_ = nullptr;
        return false;
    }
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread(&JobPipeStub::serve, this);
    return true;
}

void JobPipeStub::stop()
{
    if (!pipe_)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    SetEvent(stopEvent_);
    thread_.join();
    CloseHandle(pipe_);
    CloseHandle(stopEvent_);
    pipe_ = nullptr;
    stopEvent_ = nullptr;
}

void JobPipeStub::holdReplies(bool hold)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holdReplies_ = hold;
    }
    changed_.notify_all();
}

std::vector<std::vector<uint8_t>> JobPipeStub::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool JobPipeStub::waitForRequests(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count && listening_; });
}

void JobPipeStub::setListening(bool listening)
{
    std::lock_guard<std::mutex> lock(mutex_);
    listening_ = listening;
    changed_.notify_all();
}

// Waits for an overlapped operation; false when the stub is stopping.
bool JobPipeStub::waitIo(HANDLE event)
{
    HANDLE handles[2] = {stopEvent_, event};
    return WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

void JobPipeStub::serveOneClient(HANDLE ioEvent)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ioEvent;
    std::vector<uint8_t> request(kRequestBytes);
    DWORD read = 0;
    if (!ReadFile(pipe_, request.data(), kRequestBytes, &read, &overlapped)) {
        DWORD error = GetLastError();
        if (error == ERROR_IO_PENDING && !waitIo(ioEvent)) {
            CancelIo(pipe_);
            return;
        }
        if (error == ERROR_IO_PENDING ? !GetOverlappedResult(pipe_, &overlapped, &read, FALSE) &&
                                            GetLastError() != ERROR_MORE_DATA
                                      : error != ERROR_MORE_DATA)
            return;
    }
    request.resize(read);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        requests_.push_back(request);
        changed_.notify_all();
        changed_.wait(lock, [&] { return !holdReplies_ || stopping_; });
    }
    overlapped = {};
    overlapped.hEvent = ioEvent;
    DWORD written = 0;
    if (!WriteFile(pipe_, nullptr, 0, &written, &overlapped) && GetLastError() == ERROR_IO_PENDING &&
        !waitIo(ioEvent))
        CancelIo(pipe_);
}

void JobPipeStub::serve()
{
    HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (WaitForSingleObject(stopEvent_, 0) != WAIT_OBJECT_0) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = ioEvent;
        BOOL connected = ConnectNamedPipe(pipe_, &overlapped);
        DWORD error = connected ? ERROR_PIPE_CONNECTED : GetLastError();
        setListening(true);
        if (error == ERROR_IO_PENDING && !waitIo(ioEvent)) {
            DisconnectNamedPipe(pipe_);
            break;
        }
        setListening(false);
        if (error == ERROR_IO_PENDING || error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA)
            serveOneClient(ioEvent);
        DisconnectNamedPipe(pipe_);
    }
    CloseHandle(ioEvent);
}

} // namespace jobmsg
