// Who calls the spooler: the session (connection) a call came on and whether it administers the
// server.
#pragma once

#include <cstdint>

namespace spoolsv {

struct Caller {
    uint64_t session = 0;
    bool admin = false;
};

// The in-process session: the host's own threads and its monitors.
inline constexpr uint64_t kHostSession = 0;

} // namespace spoolsv
