// Blocking sends and receives on the non-blocking pipe sockets.
#include "pipes/pipes_wire.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "pal/errors.h"

namespace pal::pipes {
namespace {

// Milliseconds for poll(): -1 without a deadline.
int millisecondsUntil(Clock::time_point deadline)
{
    if (deadline == kNever)
        return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Waits until fd is ready for events; false at the deadline.
bool awaitReady(int fd, short events, Clock::time_point deadline)
{
    int timeout = millisecondsUntil(deadline);
    if (timeout == 0)
        return false;
    pollfd ready{fd, events, 0};
    return poll(&ready, 1, timeout) != 0 || millisecondsUntil(deadline) != 0;
}

bool mustWait(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

FrameStep nextFrame(const unsigned char* input, size_t size, size_t at)
{
    FrameStep step;
    step.next = at;
    if (at > size || size - at < kLengthSize)
        return step;
    uint32_t length = wordAt(input + at);
    if (length == kDisconnectMark) {
        step.kind = FrameKind::Disconnect;
        step.next = at + kLengthSize;
    } else if (length > kMaxMessage) {
        step.kind = FrameKind::Invalid;
    } else if (size - at - kLengthSize >= length) {
        step.kind = FrameKind::Message;
        step.messageAt = at + kLengthSize;
        step.messageSize = length;
        step.next = step.messageAt + length;
    }
    return step;
}

Clock::time_point deadlineAfter(DWORD scaledMilliseconds)
{
    if (scaledMilliseconds == INFINITE)
        return kNever;
    return Clock::now() + std::chrono::milliseconds(scaledMilliseconds);
}

DWORD sendAll(int fd, const void* data, size_t size, Clock::time_point deadline)
{
    auto* next = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ssize_t sent = send(fd, next, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            next += sent;
            size -= static_cast<size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && mustWait(errno)) {
            if (!awaitReady(fd, POLLOUT, deadline))
                return ERROR_SEM_TIMEOUT;
        } else {
            return ERROR_NO_DATA;
        }
    }
    return ERROR_SUCCESS;
}

bool receiveExactly(int fd, void* data, size_t size, Clock::time_point deadline)
{
    auto* next = static_cast<unsigned char*>(data);
    while (size > 0) {
        ssize_t got = recv(fd, next, size, MSG_DONTWAIT);
        if (got > 0) {
            next += got;
            size -= static_cast<size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && mustWait(errno)) {
            if (!awaitReady(fd, POLLIN, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace pal::pipes
