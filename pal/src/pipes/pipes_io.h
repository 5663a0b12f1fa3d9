// The process's one pipe I/O thread: it waits on the pipe sockets (epoll) and tells their owners
// when one is readable.
#pragma once

#include <cstdint>
#include <memory>

namespace pal::pipes {

class IoClient {
public:
    virtual ~IoClient() = default;
    // On the I/O thread, while the client is registered.
    virtual void onReadable() = 0;
    // On the I/O thread about once a second (scaled by the time knob), while registered.
    virtual void onTick() {}
};

using IoId = uint64_t;

// An id for watch(), known before the first onReadable() can come.
IoId newIoId();
// Watches fd for input (level-triggered) until unwatch; the I/O thread holds the client meanwhile.
void watch(IoId id, int fd, std::shared_ptr<IoClient> client);
// After it returns the client gets no further calls, except one already running on the I/O thread.
void unwatch(IoId id, int fd);

} // namespace pal::pipes
