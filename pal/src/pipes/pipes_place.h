// Where pipes live in the platform root: names, folders, sockets and the instance count.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pal/types.h"

namespace pal::pipes {

// The folder key of "\\.\pipe\NAME" (see pal/pipes.h); empty when the name is no local pipe name.
std::string pipeKey(std::u16string_view name);
// The pipe's folder, created when create is set (then empty on failure).
std::string pipeFolder(const std::string& key, bool create);

// The sockets of the processes that serve the pipe.
std::vector<std::string> serverSockets(const std::string& folder);
// Removes the sockets that processes which ended left behind.
void removeStaleSockets(const std::string& folder);
// A socket path of this process that no earlier listener of it used.
std::string newSocketPath(const std::string& folder);

// Non-blocking, close-on-exec Unix stream sockets; -errno on failure.
int listenAt(const std::string& path);
int connectTo(const std::string& path);

// Claims one instance of the pipe for as long as the returned descriptor stays open. The first
// instance sets the count; ERROR_PIPE_BUSY when it is reached, ERROR_ACCESS_DENIED for firstOnly
// while an instance exists.
struct InstanceClaim {
    int fd = -1;
    DWORD error = 0;
};
InstanceClaim claimInstance(const std::string& folder, DWORD maxInstances, bool firstOnly);

} // namespace pal::pipes
