// Print jobs: their state, their status bits and their files in the spool folder. A job has a data
// file (<id>.spl) and a record (<id>.job), rewritten whole (temporary file, then rename) at every
// change that must survive the host, so that a restart loses no job.
//
// Record layout (the fields of winspool_wire.h): u32 magic 0x424F4A53 ("SJOB"), u32 version 2,
// u32 id, string printer, string document (may be NULL), string user, string machine, string
// datatype, 8 x u32 submitted (SYSTEMTIME, UTC), u32 flags: 1 spooling, 2 paused, 4 printed,
// 8 restart pending, 16 sent to the printer, then blob devmode (NULL without one; version 1 records,
// read as well, end before it).
#pragma once

#include <string>
#include <vector>

#include "winspool/winspool_wire.h"

namespace spoolsv {

using pal::spool::OptString;

struct Job {
    enum class Phase {
        Spooling, // the submitting handle is still writing its data
        Queued,   // waiting for delivery (again, after a restart or an interrupted delivery)
        Printing, // being delivered through the port
        Printed,  // delivered, listed until someone other than the delivering monitor ends it
    };

    DWORD id = 0;
    std::u16string printer;
    OptString document;
    std::u16string user;
    std::u16string machine;
    std::u16string datatype;
    SYSTEMTIME submitted{};
    uint64_t size = 0;
    pal::spool::OptBlob devMode;

    Phase phase = Phase::Spooling;
    bool paused = false;
    bool deleting = false;       // removed once its spooling or delivery ends
    bool restartPending = false; // delivered again from the first byte; cleared at the next StartDocPort
    bool error = false;          // the last port call for it failed
    bool sentToPrinter = false;  // the delivering monitor reported it sent
    bool endRequested = false;   // ended by another party while printing: removed when delivery ends

    ULONGLONG printingSince = 0; // tick count of this delivery's StartDocPort
    ULONGLONG retryAt = 0;       // after a failed StartDocPort: no new attempt before this tick
    ULONGLONG retainUntil = 0;   // printed: removed at this tick
};

// Writes every byte to a file; false with errno set.
bool writeFully(int fd, const uint8_t* data, size_t size);
// The Windows error of a failed file write.
DWORD fileWriteError(int error);

// JOB_STATUS_* of the job; portJobBits are the bits the port's status adds while it prints.
DWORD jobStatusBits(const Job& job, DWORD portJobBits);

// Why a job left the host: ended by another party than the delivering monitor (SENT_TO_PRINTER or
// LAST_PAGE_EJECTED), deleted (or abandoned while spooling), or its printed retention passed.
enum class Leaving { Sent, Deleted, Retention };

class JobStore {
public:
    explicit JobStore(std::string folder) : folder_(std::move(folder)) {}

    // The jobs found in the folder, by id. Jobs that were still spooling and records without data
    // are removed; unreadable records are reported on stderr and left alone. Sets the next id.
    std::vector<Job> load();
    // A new id, never handed out before in this spool folder.
    DWORD allocateId(DWORD& id);
    std::string dataPath(DWORD id) const;
    DWORD save(const Job& job) const;
    void remove(DWORD id) const;
    // Appends "ID sent|deleted|retention MS" to the folder's "history", MS the monotonic clock in
    // milliseconds with three decimals (the clock devsim logs).
    void recordLeaving(DWORD id, Leaving how) const;

private:
    std::string recordPath(DWORD id) const;

    const std::string folder_;
    DWORD nextId_ = 1;
};

} // namespace spoolsv
