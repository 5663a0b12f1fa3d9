// The devsim program's account of finished jobs: one line each on the standard output and, when
// asked, the job's files in a folder. Printers call it from their own threads.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "LprReceiver.h"
#include "RawSink.h"

namespace devsim {

class JobLog {
public:
    // limitReached runs once, when `limit` jobs (0: no limit) have ended.
    JobLog(std::string outFolder, uint64_t limit, std::function<void()> limitReached);

    void rawEnded(const std::string& port, const RawJob& job);
    void lprEnded(const std::string& port, const LprJob& job);

private:
    std::string path(const char* kind, size_t number, const std::string& extension) const;
    void ended(const std::string& line);

    const std::string outFolder_;
    const uint64_t limit_;
    const std::function<void()> limitReached_;
    std::mutex mutex_;
    size_t rawJobs_ = 0;
    size_t lprJobs_ = 0;
    uint64_t ended_ = 0;
};

} // namespace devsim
