#include "JobLog.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace devsim {

namespace {

const char* endName(JobEnd end)
{
    switch (end) {
    case JobEnd::Open:
        return "open";
    case JobEnd::SenderClosed:
        return "sender closed";
    case JobEnd::ClosedBySink:
        return "closed by the printer";
    case JobEnd::ResetBySink:
        return "reset by the printer";
    case JobEnd::SenderReset:
        return "connection broken";
    case JobEnd::Stopped:
        return "stopped";
    }
    return "?";
}

const char* endName(LprEnd end)
{
    switch (end) {
    case LprEnd::Open:
        return "open";
    case LprEnd::SenderClosed:
        return "sender closed";
    case LprEnd::SenderReset:
        return "connection broken";
    case LprEnd::ClosedByDevice:
        return "closed by the printer";
    case LprEnd::ResetByDevice:
        return "reset by the printer";
    case LprEnd::Stopped:
        return "stopped";
    }
    return "?";
}

std::string summary(const LprJob& job)
{
    std::string text = job.queue ? "queue '" + *job.queue + "'" : "no queue";
    uint64_t dataBytes = 0;
    bool endedByClose = false;
    for (const LprFile& file : job.dataFiles) {
        dataBytes += file.bytes.size();
        endedByClose = endedByClose || file.endedByClose;
    }
    if (job.dataFiles.empty())
        text += ", no data file";
    else
        text += ", " + std::to_string(dataBytes) + " data bytes " + (endedByClose ? "ended by close" : "by count");
    if (job.complete())
        return text + ", complete";
    text += std::string(", incomplete: ") + endName(job.end);
    if (!job.malformed.empty())
        text += ", malformed: " + job.malformed;
    for (LprStep step : job.refused)
        text += std::string(", refused at ") + lprStepName(step);
    return text;
}

bool writeFile(const std::string& path, std::string_view bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file)
        return true;
    std::fprintf(stderr, "devsim: cannot write %s\n", path.c_str());
    return false;
}

} // namespace

JobLog::JobLog(std::string outFolder, uint64_t limit, std::function<void()> limitReached)
    : outFolder_(std::move(outFolder)), limit_(limit), limitReached_(std::move(limitReached))
{
}

void JobLog::rawEnded(const std::string& port, const RawJob& job)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t number = ++rawJobs_;
    std::string saved;
    if (!outFolder_.empty()) {
        const std::string file = path("raw", number, ".bin");
        if (writeFile(file, std::string_view(reinterpret_cast<const char*>(job.data.data()), job.data.size())))
            saved = " -> " + file;
    }
    ended("devsim: RAW job " + std::to_string(number) + " on " + port + " from " + job.peer + ": " +
          std::to_string(job.data.size()) + " bytes, " + endName(job.end) + saved);
}

void JobLog::lprEnded(const std::string& port, const LprJob& job)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t number = ++lprJobs_;
    std::string saved;
    if (!outFolder_.empty()) {
        bool written = writeFile(path("lpr", number, ".stream"), job.stream);
        if (job.controlFile)
            written &= writeFile(path("lpr", number, ".cf"), job.controlFile->bytes);
        for (size_t i = 0; i < job.dataFiles.size(); ++i) {
            const std::string extension = i == 0 ? ".df" : ".df" + std::to_string(i + 1);
            written &= writeFile(path("lpr", number, extension), job.dataFiles[i].bytes);
        }
        if (written)
            saved = " -> " + path("lpr", number, ".*");
    }
    ended("devsim: LPR job " + std::to_string(number) + " on " + port + " from " + job.peer + ": " + summary(job) +
          saved);
}

std::string JobLog::path(const char* kind, size_t number, const std::string& extension) const
{
    char name[32];
    std::snprintf(name, sizeof(name), "%s-%05zu", kind, number);
    return (std::filesystem::path(outFolder_) / (name + extension)).string();
}

void JobLog::ended(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    if (++ended_ == limit_ && limitReached_)
        limitReached_();
}

} // namespace devsim
