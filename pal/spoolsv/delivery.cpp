// The delivery thread of a printer (see queues.h for the job lifetime it carries out).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pal/handles.h"
#include "pal/system.h"
#include "pal/threads.h"
#include "queues.h"
#include "text.h"

namespace spoolsv {

thread_local const Job* Queues::delivering_ = nullptr;

namespace {

constexpr size_t kChunkSize = 64 * 1024;
// A WritePort that succeeded without taking a byte is tried again after this long.
constexpr DWORD kStalledWriteRetryMs = 1000;

// Around the port calls of a job: the job is the one this thread delivers, and the thread runs for
// the job's owner (GetUserNameW gives the owner until RevertToPrinterSelf).
class DeliveryScope {
public:
    DeliveryScope(const Job*& slot, const Job& job) : slot_(slot)
    {
        slot_ = &job;
        palSetThreadUserName(job.user.c_str());
    }
    ~DeliveryScope()
    {
        palSetThreadUserName(nullptr);
        slot_ = nullptr;
    }
    DeliveryScope(const DeliveryScope&) = delete;
    DeliveryScope& operator=(const DeliveryScope&) = delete;

private:
    const Job*& slot_;
};

DWORD millisecondsUntil(ULONGLONG deadline, ULONGLONG now)
{
    return deadline <= now ? 0 : DWORD(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
}

bool readChunk(int fd, uint8_t* buffer, size_t size, uint64_t offset)
{
    while (size > 0) {
        ssize_t got = ::pread(fd, buffer, size, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buffer += got;
        size -= size_t(got);
        offset += uint64_t(got);
    }
    return true;
}

} // namespace

void Queues::deliveryLoop(Printer& printer)
{
    Lock lock(mutex_);
    while (!stopping_) {
        ULONGLONG now = GetTickCount64();
        expireRetained(printer, now);
        std::shared_ptr<Job> job = nextJob(printer, now);
        if (!job) {
            DWORD wait = nextWait(printer, now);
            lock.unlock();
            WaitForSingleObject(printer.wake, wait);
            lock.lock();
            continue;
        }
        PrinterSettings settings = printer.settings;
        lock.unlock();
        std::unique_ptr<PortLinks::Lease> lease;
        DWORD error = links_.acquire(settings.port, lease);
        lock.lock();
        if (error != ERROR_SUCCESS) {
            std::fprintf(stderr, "spoolsv: port \"%s\" of printer \"%s\" cannot be opened: error %u\n",
                         printable(settings.port).c_str(), printable(settings.name).c_str(), unsigned(error));
            failAttempt(*job, settings.retryTimeout);
            continue;
        }
        // The queue may have changed while another printer had the port.
        job = nextJob(printer, GetTickCount64());
        if (job && !stopping_) {
            job->phase = Job::Phase::Printing;
            job->restartPending = false;
            job->error = false;
            job->sentToPrinter = false;
            job->endRequested = false;
            job->printingSince = GetTickCount64();
            settings = printer.settings;
            // What was signalled so far is seen: a retry wait of this delivery ends only for a
            // change made while it runs, not for a submission that set the event earlier.
            ResetEvent(printer.wake);
            lock.unlock();
            lock = deliver(printer, job, std::move(lease), settings);
        } else {
            lock.unlock();
            lock = releasePort(std::move(lease));
        }
    }
    SetEvent(printer.deliveryEnded);
}

std::shared_ptr<Job> Queues::nextJob(const Printer& printer, ULONGLONG now) const
{
    if (printer.settings.paused)
        return nullptr;
    for (const auto& [id, job] : printer.jobs)
        if (job->phase == Job::Phase::Queued && !job->paused)
            return job->retryAt <= now ? job : nullptr; // a failing job holds up the ones behind it
    return nullptr;
}

DWORD Queues::nextWait(const Printer& printer, ULONGLONG now) const
{
    DWORD wait = INFINITE;
    for (const auto& [id, job] : printer.jobs) {
        if (job->phase == Job::Phase::Printed)
            wait = std::min(wait, millisecondsUntil(job->retainUntil, now));
        else if (job->phase == Job::Phase::Queued && job->retryAt > now)
            wait = std::min(wait, millisecondsUntil(job->retryAt, now));
    }
    return wait;
}

void Queues::expireRetained(Printer& printer, ULONGLONG now)
{
    std::vector<DWORD> expired;
    for (const auto& [id, job] : printer.jobs)
        if (job->phase == Job::Phase::Printed && job->retainUntil <= now)
            expired.push_back(id);
    for (DWORD id : expired)
        removeJob(printer, id, Leaving::Retention);
}

bool Queues::interrupted(const Job& job) const
{
    return stopping_ || job.deleting || job.paused || job.restartPending;
}

void Queues::failAttempt(Job& job, DWORD retryTimeout)
{
    job.error = true;
    job.retryAt = GetTickCount64() + retryTimeout;
}

Queues::Lock Queues::releasePort(std::unique_ptr<PortLinks::Lease> lease)
{
    std::u16string port = lease->name();
    lease.reset(); // may close a port its monitor gave up: no lock held
    Lock lock(mutex_);
    closeUnusedPort(lock, port); // the printer may have left the port during the delivery
    return lock;
}

Queues::Lock Queues::deliver(Printer& printer, const std::shared_ptr<Job>& job,
                             std::unique_ptr<PortLinks::Lease> lease, const PrinterSettings& settings)
{
    // What a delivery reads of the job without the lock was fixed when its spooling ended.
    int fd = ::open(store_->dataPath(job->id).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "spoolsv: the data of job %u cannot be opened: %s\n", unsigned(job->id),
                     std::strerror(errno));
        Lock lock = releasePort(std::move(lease));
        failAttempt(*job, settings.retryTimeout);
        finishDelivery(printer, *job, false);
        return lock;
    }
    std::u16string datatype = job->datatype;
    OptString documentName = job->document;
    DOC_INFO_1W document = {documentName ? documentName->data() : nullptr, nullptr, datatype.data()};
    bool started = false;
    uint64_t delivered = 0;
    {
        DeliveryScope scope(delivering_, *job);
        started = lease->monitor().startDocPort(lease->port(), settings.name, job->id, document);
        if (started) {
            delivered = writeAll(printer, *job, *lease, fd, settings.retryTimeout);
            lease->monitor().endDocPort(lease->port());
        }
    }
    ::close(fd);
    // The port is let go before the job shows its end: once it shows, a port no printer uses is closed.
    Lock lock = releasePort(std::move(lease));
    if (!started)
        failAttempt(*job, settings.retryTimeout);
    finishDelivery(printer, *job, started && delivered == job->size);
    return lock;
}

uint64_t Queues::writeAll(Printer& printer, Job& job, const PortLinks::Lease& lease, int fd, DWORD retryTimeout)
{
    // The monitor may change the bytes it is given (it stamps job headers), so a rest is sent from
    // the same buffer, never read again from the file.
    std::vector<uint8_t> buffer(kChunkSize);
    uint64_t delivered = 0;
    while (delivered < job.size) {
        size_t length = size_t(std::min<uint64_t>(kChunkSize, job.size - delivered));
        {
            Lock lock(mutex_);
            if (interrupted(job))
                return delivered;
        }
        if (!readChunk(fd, buffer.data(), length, delivered)) {
            Lock lock(mutex_);
            failAttempt(job, retryTimeout);
            return delivered;
        }
        size_t done = 0;
        while (done < length) {
            DWORD written = 0;
            BOOL ok = lease.monitor().writePort(lease.port(), buffer.data() + done, DWORD(length - done), written);
            written = DWORD(std::min<size_t>(written, length - done));
            done += written;
            delivered += written;
            DWORD retry = 0;
            {
                Lock lock(mutex_);
                job.error = !ok;
                if (interrupted(job))
                    return delivered;
                if (!ok || written == 0)
                    retry = ok ? kStalledWriteRetryMs : retryTimeout;
            }
            if (retry)
                WaitForSingleObject(printer.wake, retry);
        }
    }
    return delivered;
}

void Queues::finishDelivery(Printer& printer, Job& job, bool complete)
{
    job.phase = Job::Phase::Queued;
    job.printingSince = 0;
    SetEvent(printer.wake);
    if (job.deleting || (job.endRequested && !job.restartPending)) {
        removeJob(printer, job.id, job.deleting ? Leaving::Deleted : Leaving::Sent);
        return;
    }
    if (complete && !job.restartPending) {
        job.error = false;
        job.phase = Job::Phase::Printed;
        job.retainUntil = GetTickCount64() + retentionMilliseconds(printer.settings.name);
    }
    save(job);
}

} // namespace spoolsv
