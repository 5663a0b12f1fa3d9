// The bytes a pipe socket carries (pal/pipes.h describes them) and blocking socket helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "pal/types.h"

namespace pal::pipes {

using Clock = std::chrono::steady_clock;
// A deadline that never comes.
constexpr Clock::time_point kNever = Clock::time_point::max();

constexpr size_t kHelloSize = 8;
constexpr size_t kAnswerSize = 8;
constexpr size_t kLengthSize = 4;
constexpr char kOpenTag[4] = {'P', 'I', 'P', 'E'};
constexpr char kProbeTag[4] = {'W', 'A', 'I', 'T'};
constexpr uint32_t kDisconnectMark = 0xFFFFFFFFu;
// Longer frames are taken for garbage and end the connection.
constexpr uint32_t kMaxMessage = 64u << 20;

inline void putWord(unsigned char* at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint32_t wordAt(const unsigned char* at)
{
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 | static_cast<uint32_t>(at[2]) << 16 |
           static_cast<uint32_t>(at[3]) << 24;
}

// One step through the bytes a pipe socket carried, from offset at: a message (its bytes lie at
// [messageAt, messageAt + messageSize)), the disconnect mark, too few bytes yet, or garbage (a
// length over kMaxMessage, which ends the connection). next is where the following step begins.
enum class FrameKind { NeedMore, Message, Disconnect, Invalid };
struct FrameStep {
    FrameKind kind = FrameKind::NeedMore;
    size_t messageAt = 0;
    uint32_t messageSize = 0;
    size_t next = 0;
};
FrameStep nextFrame(const unsigned char* input, size_t size, size_t at);

Clock::time_point deadlineAfter(DWORD scaledMilliseconds);

// Sends everything on a (non-blocking) socket, waiting while it is full; a Windows error:
// ERROR_NO_DATA once the peer is gone, ERROR_SEM_TIMEOUT at the deadline.
DWORD sendAll(int fd, const void* data, size_t size, Clock::time_point deadline);
// Receives exactly size bytes; false on end of data, error or deadline.
bool receiveExactly(int fd, void* data, size_t size, Clock::time_point deadline);

} // namespace pal::pipes
