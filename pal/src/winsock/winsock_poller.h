// The process's one poller thread: it watches the sockets that record network events (epoll) and
// the deadlines of connects in progress, and hands both to the socket.
#pragma once

#include <cstdint>
#include <memory>

#include "winsock/winsock_socket.h"

namespace pal::ws::poller {

// From the first start-up to the last clean-up, and after it while closed sockets still have a
// backlog to write.
void start();
void stop();
// Changes the epoll events watched on the socket's descriptor from `from` to `to` (0: unwatched).
void watch(SOCKET id, int fd, uint32_t from, uint32_t to);
// Calls the socket's onDeadline() once `when` has passed.
void wakeAt(SOCKET id, Clock::time_point when);
// Holds a closed socket, still reached by its id, until stopDraining(): its backlog goes out.
void keepDraining(SOCKET id, std::shared_ptr<Socket> socket);
void stopDraining(SOCKET id);

} // namespace pal::ws::poller
