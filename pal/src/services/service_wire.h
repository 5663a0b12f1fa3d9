// The control request on a service's control socket: the client sends the control and its event
// type (two little-endian DWORDs); the dispatcher answers with the handler's result (one DWORD).
#pragma once

#include <chrono>
#include <cstddef>

#include "pal/types.h"

namespace pal::services {

constexpr size_t kRequestBytes = 8;
constexpr size_t kReplyBytes = 4;

void putWord(unsigned char* at, DWORD value);
DWORD getWord(const unsigned char* at);

// Whole transfers on a non-blocking socket within the deadline; false on the peer's end, an error
// or the time-out.
bool sendAll(int fd, const unsigned char* bytes, size_t size, std::chrono::steady_clock::time_point deadline);
bool receiveAll(int fd, unsigned char* bytes, size_t size, std::chrono::steady_clock::time_point deadline);

} // namespace pal::services
