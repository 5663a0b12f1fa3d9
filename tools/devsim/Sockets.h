// Socket helpers for the simulator's ports. The simulator plays the outside device, so it uses
// the C library's sockets, not the platform layer.
#pragma once

#include <netinet/in.h>

#include <string>

namespace devsim {

// "address:port"
std::string describe(const sockaddr_in& address);
void closeDescriptor(int& fd);
// Sends all of bytes (a device's short answers); a broken connection shows at the next read.
void sendQuietly(int fd, const std::string& bytes);
// Takes one pending connection of a non-blocking listener; -1 when none is waiting.
int acceptConnection(int listener, sockaddr_in& peer);

} // namespace devsim
