// Stands in for the tracking service's pipe server in tests: it serves the named pipe
// "\\.\pipe\vexil_jtrksvc2" (one instance, message mode, open to every local user) on a thread of
// its own, keeps every request as it arrived and answers each with an empty message.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pal/types.h"

namespace jobmsg {

class JobPipeStub {
public:
    explicit JobPipeStub(std::u16string pipeName = u"\\\\.\\pipe\\vexil_jtrksvc2");
    ~JobPipeStub();
    JobPipeStub(const JobPipeStub&) = delete;
    JobPipeStub& operator=(const JobPipeStub&) = delete;

    // Creates the pipe and starts serving; false with the Windows error when the pipe cannot be made.
    bool start(DWORD& error);
    void stop();

    // Requests read but not answered until released (a slow service); the next ones wait in the pipe.
    void holdReplies(bool hold);

    std::vector<std::vector<uint8_t>> requests() const;
    // Waits until at least count requests arrived and the pipe takes the next client again (a pipe
    // of one instance refuses clients while it serves one); false when the time ran out first.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

private:
    void serve();
    bool waitIo(HANDLE event);
    void setListening(bool listening);
    void serveOneClient(HANDLE ioEvent);

    const std::u16string pipeName_;
    HANDLE pipe_ = nullptr;
    HANDLE stopEvent_ = nullptr;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::vector<uint8_t>> requests_;
    bool holdReplies_ = false;
    bool listening_ = false;
    bool stopping_ = false;
};

} // namespace jobmsg
