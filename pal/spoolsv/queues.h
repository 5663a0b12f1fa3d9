// Printers and their job queues: submission, job control, the delivery thread of each printer and
// the retention of delivered jobs.
//
// Job lifetime. StartDocPrinter creates a job (spooling); EndDocPrinter queues it. The printer's
// delivery thread takes the first queued job that is not paused, calls StartDocPort, WritePort with
// the data (again with the rest when the monitor took fewer bytes) and EndDocPort. It stops writing
// when the job is paused, deleted or restarted, or the host stops. Afterwards the job is
//   - removed when it was deleted;
//   - queued again, to be delivered from its first byte, when it was restarted or not all of its
//     bytes went out (paused, host stopping); a restart shows as JOB_STATUS_RESTART until the next
//     StartDocPort;
//   - printed otherwise: it stays listed until a party other than the delivering monitor sends
//     SENT_TO_PRINTER or LAST_PAGE_EJECTED, it is deleted, or the printer's retention time passes.
// SENT_TO_PRINTER and LAST_PAGE_EJECTED from the delivering monitor (in-process, on the delivery
// thread, during the job's delivery) mark the job complete without ending it; from anyone they do
// nothing while a restart is pending (the restart wins). From another party during the delivery
// they end the job when the delivery ends; before the job was ever delivered they do nothing.
// A failed StartDocPort or WritePort sets JOB_STATUS_ERROR and is retried after the printer's
// TransmissionRetryTimeout (a WritePort that took nothing is retried after a second); the error
// clears when a port call succeeds. A job that failed to start holds up the jobs behind it; paused
// jobs are passed over.
//
// Status bits: SPOOLING, PRINTING (from StartDocPort to EndDocPort) and PRINTED follow the phase;
// PAUSED, DELETING, RESTART and ERROR the flags above; COMPLETE a job reported sent to the printer;
// OFFLINE, PAPEROUT and USER_INTERVENTION (and the job's pStatus text) come from the port status
// SetPortW stored, while the job prints. DELETED, BLOCKED_DEVQ, RETAINED and RENDERING_LOCALLY are
// never set: a deleted job is gone as soon as no port call uses it. Inside StartDocPort the monitor
// reads a job that is PRINTING (nothing else), with its whole Size and TotalPages 0 (the data is not
// counted in pages).
//
// Locking: one mutex guards printers and jobs; it is never held while a monitor slot runs. Each
// printer's delivery thread waits on an auto-reset event that every change of its queue sets.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "caller.h"
#include "jobs.h"
#include "portlinks.h"
#include "printers.h"

namespace spoolsv {

using pal::spool::JobRecord;
using pal::spool::PrinterRecord;

// An open printer handle: its printer, the access granted and the document it is spooling.
class PrinterHandle {
public:
    PrinterHandle(std::u16string printer, ACCESS_MASK granted, pal::spool::OptBlob devMode)
        : printer(std::move(printer)), granted(granted), devMode(std::move(devMode))
    {
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    const std::u16string printer; // upper-cased name
    const ACCESS_MASK granted;
    const pal::spool::OptBlob devMode; // the defaults' device mode, kept by the jobs it submits

private:
    friend class Queues;
    std::mutex mutex_; // the document below; taken before the queues' mutex
    DWORD job_ = 0;
    int fd_ = -1;
};

// SetPrinterW: level 0 (command only), 2 (fields) or 5 (attributes and time-outs).
struct PrinterUpdate {
    DWORD level = 0;
    DWORD command = 0;
    pal::spool::PrinterFields fields;
    DWORD attributes = 0;
    DWORD notSelectedTimeout = 0;
    DWORD retryTimeout = 0;
};

struct DocumentInfo {
    OptString document;
    OptString datatype;
    std::u16string user;
    std::u16string machine;
};

class Queues {
public:
    explicit Queues(const PortDirectory& ports) : ports_(ports), links_(ports) {}
    ~Queues();
    Queues(const Queues&) = delete;
    Queues& operator=(const Queues&) = delete;

    // Loads the printers from the registry and the jobs from spoolFolder, then starts delivering.
    void start(const std::string& spoolFolder);
    // Ends every delivery (the jobs stay for the next start) and closes the ports. False when a
    // delivery is still in its port monitor after limitMs (a device that refuses or never reads,
    // with endless retries): the host must then leave without ending anything else.
    bool stop(DWORD limitMs = INFINITE);

    // ERROR_INVALID_PRINTER_NAME when there is no such printer.
    DWORD openPrinter(const Caller& caller, std::u16string_view name, bool hasDefaults, ACCESS_MASK access,
                      const pal::spool::OptBlob& devMode,
                      std::shared_ptr<PrinterHandle>& handle);
    DWORD addPrinter(const Caller& caller, const pal::spool::PrinterFields& fields,
                     std::shared_ptr<PrinterHandle>& handle);
    DWORD getPrinter(const PrinterHandle& handle, PrinterRecord& record) const;
    DWORD setPrinter(const Caller& caller, const PrinterHandle& handle, const PrinterUpdate& update);
    DWORD enumPrinters(DWORD flags, std::vector<PrinterRecord>& records) const;

    DWORD getJob(const PrinterHandle& handle, DWORD id, JobRecord& record) const;
    DWORD setJob(const Caller& caller, const PrinterHandle& handle, DWORD id, DWORD level, DWORD command);
    DWORD enumJobs(const PrinterHandle& handle, DWORD first, DWORD count, std::vector<JobRecord>& records) const;

    DWORD startDoc(PrinterHandle& handle, const DocumentInfo& info, DWORD& id);
    DWORD writePrinter(PrinterHandle& handle, const uint8_t* data, size_t size, DWORD& written);
    DWORD endDoc(PrinterHandle& handle);
    // The handle is closed: a document it did not end is deleted.
    void closeHandle(PrinterHandle& handle);

private:
    struct Printer {
        PrinterSettings settings;
        std::map<DWORD, std::shared_ptr<Job>> jobs; // queue order
        HANDLE wake = nullptr;
        HANDLE deliveryEnded = nullptr;  // manual reset: the delivery thread has returned
        std::thread delivery;
    };
    using Lock = std::unique_lock<std::mutex>;

    Printer* findPrinter(std::u16string_view name) const;
    Printer* addPrinterLocked(PrinterSettings settings);
    std::shared_ptr<Job> findJob(const Printer& printer, DWORD id) const;
    PrinterRecord printerRecord(const Printer& printer) const;
    JobRecord jobRecord(const Printer& printer, const Job& job, DWORD position) const;
    DWORD portPrinterBits(const Printer& printer) const;
    void save(const Job& job) const;
    void removeJob(Printer& printer, DWORD id, Leaving how);
    void deleteJob(Printer& printer, Job& job);
    void restartJob(Job& job);
    void endJob(Printer& printer, Job& job);
    DWORD controlPrinter(Printer& printer, DWORD command);
    // Closes the port when no printer is on it any more; the lock is let go meanwhile.
    void closeUnusedPort(Lock& lock, const std::u16string& port);

    // Delivery (delivery.cpp).
    void deliveryLoop(Printer& printer);
    std::shared_ptr<Job> nextJob(const Printer& printer, ULONGLONG now) const;
    DWORD nextWait(const Printer& printer, ULONGLONG now) const;
    void expireRetained(Printer& printer, ULONGLONG now);
    // Both return with the lock held, the port let go.
    Lock deliver(Printer& printer, const std::shared_ptr<Job>& job, std::unique_ptr<PortLinks::Lease> lease,
                 const PrinterSettings& settings);
    Lock releasePort(std::unique_ptr<PortLinks::Lease> lease);
    // The bytes the monitor took before the delivery ended or was interrupted.
    uint64_t writeAll(Printer& printer, Job& job, const PortLinks::Lease& lease, int fd, DWORD retryTimeout);
    bool interrupted(const Job& job) const;
    void failAttempt(Job& job, DWORD retryTimeout);
    void finishDelivery(Printer& printer, Job& job, bool complete);

    // The job whose port calls run on this thread: its monitor's job control is its own.
    static thread_local const Job* delivering_;

    const PortDirectory& ports_;
    PortLinks links_;
    mutable std::mutex mutex_;
    std::unique_ptr<JobStore> store_;
    std::map<std::u16string, std::unique_ptr<Printer>> printers_; // by upper-cased name
    bool stopping_ = false;
};

} // namespace spoolsv
