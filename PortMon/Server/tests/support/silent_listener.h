// A loopback endpoint whose connects time out: a listener with a full accept queue, so that the
// kernel drops further connection requests. It uses the C library's sockets.
#pragma once

#include <cstdint>

namespace montest {

class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    bool ok() const { return filler_ >= 0; }
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    int filler_ = -1;
    uint16_t port_ = 0;
};

} // namespace montest
