#include "jobs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "pal/winspool.h"
#include "text.h"

namespace spoolsv {

namespace {

using pal::spool::Bytes;
using pal::spool::Reader;
using pal::spool::Writer;

constexpr uint32_t kRecordMagic = 0x424F4A53; // "SJOB" in file order
constexpr uint32_t kRecordVersion = 2;
constexpr uint32_t kRecordVersionWithoutDevMode = 1;
constexpr uint32_t kRecordSpooling = 1;
constexpr uint32_t kRecordPaused = 2;
constexpr uint32_t kRecordPrinted = 4;
constexpr uint32_t kRecordRestart = 8;
constexpr uint32_t kRecordSentToPrinter = 16;
constexpr const char* kNextIdFile = "nextid";

bool readWholeFile(const std::string& path, Bytes& bytes)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    uint8_t buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            bytes.insert(bytes.end(), buffer, buffer + got);
    ::close(fd);
    return got == 0;
}

// The file is replaced whole or not at all, whenever the host stops.
DWORD writeAtomically(const std::string& path, const uint8_t* data, size_t size)
{
    std::string temporary = path + ".new";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return fileWriteError(errno);
    bool written = writeFully(fd, data, size);
    int error = errno;
    if (::close(fd) < 0 || !written) {
        ::unlink(temporary.c_str());
        return fileWriteError(error);
    }
    if (::rename(temporary.c_str(), path.c_str()) < 0) {
        error = errno;
        ::unlink(temporary.c_str());
        return fileWriteError(error);
    }
    return ERROR_SUCCESS;
}

Bytes encode(const Job& job)
{
    uint32_t flags = (job.phase == Job::Phase::Spooling ? kRecordSpooling : 0) | (job.paused ? kRecordPaused : 0) |
                     (job.phase == Job::Phase::Printed ? kRecordPrinted : 0) |
                     (job.restartPending ? kRecordRestart : 0) | (job.sentToPrinter ? kRecordSentToPrinter : 0);
    Writer writer;
    writer.u32(kRecordMagic)
        .u32(kRecordVersion)
        .u32(job.id)
        .string(job.printer)
        .string(job.document)
        .string(job.user)
        .string(job.machine)
        .string(job.datatype);
    pal::spool::writeSystemTime(writer, job.submitted);
    writer.u32(flags);
    writer.blob(job.devMode ? job.devMode->data() : nullptr, job.devMode ? uint32_t(job.devMode->size()) : 0);
    return writer.take();
}

bool decode(const Bytes& bytes, Job& job)
{
    Reader reader(bytes);
    if (reader.u32() != kRecordMagic)
        return false;
    uint32_t version = reader.u32();
    if (version != kRecordVersion && version != kRecordVersionWithoutDevMode)
        return false;
    job.id = reader.u32();
    job.printer = reader.requiredString();
    job.document = reader.string();
    job.user = reader.requiredString();
    job.machine = reader.requiredString();
    job.datatype = reader.requiredString();
    job.submitted = pal::spool::readSystemTime(reader);
    uint32_t flags = reader.u32();
    if (version == kRecordVersion)
        job.devMode = reader.blob();
    if (reader.failed())
        return false;
    job.phase = flags & kRecordSpooling  ? Job::Phase::Spooling
                : flags & kRecordPrinted ? Job::Phase::Printed
                                         : Job::Phase::Queued;
    job.paused = flags & kRecordPaused;
    job.restartPending = flags & kRecordRestart;
    job.sentToPrinter = flags & kRecordSentToPrinter;
    return true;
}

// "<digits>.job" -> the id, else 0.
DWORD recordId(const char* name)
{
    const char* dot = std::strchr(name, '.');
    if (!dot || dot == name || std::strcmp(dot, ".job") != 0)
        return 0;
    DWORD id = 0;
    for (const char* p = name; p < dot; ++p) {
        if (*p < '0' || *p > '9' || id > 0xFFFFFFFFu / 10 - 1)
            return 0;
        id = id * 10 + DWORD(*p - '0');
    }
    return id;
}

std::vector<DWORD> recordIds(const std::string& folder)
{
    std::vector<DWORD> ids;
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return ids;
    while (dirent* entry = ::readdir(directory))
        if (DWORD id = recordId(entry->d_name))
            ids.push_back(id);
    ::closedir(directory);
    std::sort(ids.begin(), ids.end());
    return ids;
}

} // namespace

bool writeFully(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        size -= size_t(put);
    }
    return true;
}

DWORD fileWriteError(int error)
{
    return error == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
}

DWORD jobStatusBits(const Job& job, DWORD portJobBits)
{
    DWORD bits = 0;
    if (job.paused)
        bits |= JOB_STATUS_PAUSED;
    if (job.error)
        bits |= JOB_STATUS_ERROR;
    if (job.deleting)
        bits |= JOB_STATUS_DELETING;
    if (job.phase == Job::Phase::Spooling)
        bits |= JOB_STATUS_SPOOLING;
    if (job.phase == Job::Phase::Printing)
        bits |= JOB_STATUS_PRINTING | portJobBits;
    if (job.phase == Job::Phase::Printed)
        bits |= JOB_STATUS_PRINTED;
    if (job.restartPending)
        bits |= JOB_STATUS_RESTART;
    if (job.sentToPrinter || job.endRequested)
        bits |= JOB_STATUS_COMPLETE;
    return bits;
}

void JobStore::recordLeaving(DWORD id, Leaving how) const
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const char* reason = how == Leaving::Sent ? "sent" : how == Leaving::Deleted ? "deleted" : "retention";
    char line[80];
    int length = std::snprintf(line, sizeof line, "%u %s %lld.%03ld\n", unsigned(id), reason,
                               static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000,
                               now.tv_nsec / 1000 % 1000);
    int fd = ::open((folder_ + "/history").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0 || !writeFully(fd, reinterpret_cast<const uint8_t*>(line), size_t(length)))
        std::fprintf(stderr, "spoolsv: the history line of job %u cannot be written\n", unsigned(id));
    if (fd >= 0)
        ::close(fd);
}

std::string JobStore::recordPath(DWORD id) const
{
    char name[32];
    std::snprintf(name, sizeof name, "/%08u.job", unsigned(id));
    return folder_ + name;
}

std::string JobStore::dataPath(DWORD id) const
{
    char name[32];
    std::snprintf(name, sizeof name, "/%08u.spl", unsigned(id));
    return folder_ + name;
}

std::vector<Job> JobStore::load()
{
    std::vector<Job> jobs;
    DWORD highest = 0;
    for (DWORD id : recordIds(folder_)) {
        highest = std::max(highest, id);
        Bytes bytes;
        Job job;
        if (!readWholeFile(recordPath(id), bytes) || !decode(bytes, job) || job.id != id) {
            std::fprintf(stderr, "spoolsv: job record %s cannot be read and is left alone\n", recordPath(id).c_str());
            continue;
        }
        struct stat data {};
        if (job.phase == Job::Phase::Spooling || ::stat(dataPath(id).c_str(), &data) < 0) {
            if (job.phase != Job::Phase::Spooling)
                std::fprintf(stderr, "spoolsv: job %u of \"%s\" lost its data and is removed\n", unsigned(id),
                             printable(job.printer).c_str());
            remove(id);
            continue;
        }
        job.size = uint64_t(data.st_size);
        jobs.push_back(std::move(job));
    }
    Bytes stored;
    DWORD next = 1;
    if (readWholeFile(folder_ + "/" + kNextIdFile, stored)) {
        std::string text(stored.begin(), stored.end());
        next = DWORD(std::strtoul(text.c_str(), nullptr, 10));
    }
    nextId_ = std::max<DWORD>({next, highest + 1, 1});
    return jobs;
}

DWORD JobStore::allocateId(DWORD& id)
{
    DWORD next = nextId_ + 1 == 0 ? 1 : nextId_ + 1;
    std::string text = std::to_string(next) + "\n";
    DWORD error =
        writeAtomically(folder_ + "/" + kNextIdFile, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (error != ERROR_SUCCESS)
        return error;
    id = nextId_;
    nextId_ = next;
    return ERROR_SUCCESS;
}

DWORD JobStore::save(const Job& job) const
{
    Bytes bytes = encode(job);
    return writeAtomically(recordPath(job.id), bytes.data(), bytes.size());
}

void JobStore::remove(DWORD id) const
{
    ::unlink(recordPath(id).c_str());
    ::unlink(dataPath(id).c_str());
}

} // namespace spoolsv
