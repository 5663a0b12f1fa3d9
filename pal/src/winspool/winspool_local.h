// In-process serving of the spooler API: inside the spooler host, winspool calls of the host's own
// threads and of the monitors it loads go straight to the host instead of through its socket.
#pragma once

#include "winspool/winspool_wire.h"

namespace pal::spool {

class LocalServer {
public:
    // Serves one request payload and returns the reply payload (see winspool_wire.h).
    virtual Bytes serve(const Bytes& request) = 0;

protected:
    ~LocalServer() = default;
};

// Installs the host's server for this process; NULL removes it. The host removes it only after
// every handle opened through it is closed.
PAL_EXPORT void setLocalServer(LocalServer* server);

} // namespace pal::spool
