// Reads the client job id from the DMLP job messages at the front of a job's data, as the bytes
// arrive: the 64 bytes of attribute 280 in a JobStart2 (107) record, up to the JobEnd (19 or 20).
#pragma once

#include <cstddef>
#include <cstdint>

#include "DmlpMessages.h"

namespace devsim {

class JobHeaderReader {
public:
    // Takes the next bytes of the job; true once the header is read (or the data proves untagged).
    bool take(const uint8_t* data, size_t size);
    // The data ended: what was read so far stands.
    void finish() { done_ = true; }
    bool done() const { return done_; }
    const ClientId& clientJobId() const { return id_; } // zeros for an untagged job
    bool tagged() const { return tagged_; }

private:
    void scan();
    void readAttributes(const uint8_t* body, size_t size);

    Bytes gathered_;
    size_t next_ = 0; // start of the next record in gathered_
    ClientId id_{};
    bool tagged_ = false;
    bool done_ = false;
};

} // namespace devsim
