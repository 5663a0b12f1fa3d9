#include "queues.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "pal/handles.h"
#include "pal/threads.h"
#include "text.h"

namespace spoolsv {

namespace {

using pal::spool::foldName;
using pal::spool::sameName;

// How a port status that SetPortW stored shows in the printer's and the printing job's status.
struct PortStatusBits {
    DWORD port;
    DWORD printer;
    DWORD job;
};

const PortStatusBits kPortStatusBits[] = {
    {PORT_STATUS_OFFLINE, PRINTER_STATUS_OFFLINE, JOB_STATUS_OFFLINE},
    {PORT_STATUS_PAPER_JAM, PRINTER_STATUS_PAPER_JAM, JOB_STATUS_USER_INTERVENTION},
    {PORT_STATUS_PAPER_OUT, PRINTER_STATUS_PAPER_OUT, JOB_STATUS_PAPEROUT},
    {PORT_STATUS_OUTPUT_BIN_FULL, PRINTER_STATUS_OUTPUT_BIN_FULL, JOB_STATUS_USER_INTERVENTION},
    {PORT_STATUS_PAPER_PROBLEM, PRINTER_STATUS_PAPER_PROBLEM, JOB_STATUS_USER_INTERVENTION},
    {PORT_STATUS_NO_TONER, PRINTER_STATUS_NO_TONER, JOB_STATUS_USER_INTERVENTION},
    {PORT_STATUS_DOOR_OPEN, PRINTER_STATUS_DOOR_OPEN, JOB_STATUS_USER_INTERVENTION},
    {PORT_STATUS_USER_INTERVENTION, PRINTER_STATUS_USER_INTERVENTION, JOB_STATUS_USER_INTERVENTION},
    {PORT_STATUS_OUT_OF_MEMORY, PRINTER_STATUS_OUT_OF_MEMORY, 0},
    {PORT_STATUS_TONER_LOW, PRINTER_STATUS_TONER_LOW, 0},
    {PORT_STATUS_WARMING_UP, PRINTER_STATUS_WARMING_UP, 0},
    {PORT_STATUS_POWER_SAVE, PRINTER_STATUS_POWER_SAVE, 0},
};

const PortStatusBits* portStatusBits(DWORD status)
{
    for (const PortStatusBits& entry : kPortStatusBits)
        if (entry.port == status)
            return &entry;
    return nullptr;
}

constexpr DWORD kJobPriority = 1;

// "\\server\name" names the printer "name" of this host.
std::u16string_view localPrinterName(std::u16string_view name)
{
    if (name.starts_with(u"\\\\")) {
        size_t end = name.find(u'\\', 2);
        if (end != std::u16string_view::npos)
            name.remove_prefix(end + 1);
    }
    return name;
}

bool administers(const Caller& caller, const PrinterHandle& handle)
{
    return caller.admin || (handle.granted & PRINTER_ACCESS_ADMINISTER);
}

} // namespace

void Queues::start(const std::string& spoolFolder)
{
    std::error_code ignored;
    std::filesystem::create_directories(spoolFolder, ignored);
    store_ = std::make_unique<JobStore>(spoolFolder);
    std::vector<Job> jobs = store_->load();
    Lock lock(mutex_);
    for (PrinterSettings& settings : loadPrinters())
        addPrinterLocked(std::move(settings));
    for (Job& job : jobs) {
        Printer* printer = findPrinter(job.printer);
        if (!printer) {
            std::fprintf(stderr, "spoolsv: job %u waits for its printer \"%s\", which does not exist\n",
                         unsigned(job.id), printable(job.printer).c_str());
            continue;
        }
        DWORD id = job.id;
        printer->jobs[id] = std::make_shared<Job>(std::move(job));
    }
    for (auto& [name, printer] : printers_) {
        // A delivered job's retention starts again with the host.
        for (auto& [id, job] : printer->jobs)
            if (job->phase == Job::Phase::Printed)
                job->retainUntil = GetTickCount64() + retentionMilliseconds(printer->settings.name);
        SetEvent(printer->wake);
    }
}

bool Queues::stop(DWORD limitMs)
{
    {
        Lock lock(mutex_);
        stopping_ = true;
        for (auto& [name, printer] : printers_)
            SetEvent(printer->wake);
    }
    ULONGLONG deadline = limitMs == INFINITE ? 0 : GetTickCount64() + limitMs;
    for (auto& [name, printer] : printers_) {
        ULONGLONG now = GetTickCount64();
        DWORD wait = limitMs == INFINITE ? INFINITE : deadline > now ? DWORD(deadline - now) : 0;
        if (printer->delivery.joinable() && WaitForSingleObject(printer->deliveryEnded, wait) != WAIT_OBJECT_0)
            return false;
    }
    for (auto& [name, printer] : printers_)
        if (printer->delivery.joinable())
            printer->delivery.join();
    links_.closeAll();
    return true;
}

Queues::~Queues()
{
    stop();
    for (auto& [name, printer] : printers_) {
        CloseHandle(printer->wake);
        CloseHandle(printer->deliveryEnded);
    }
}

Queues::Printer* Queues::findPrinter(std::u16string_view name) const
{
    auto it = printers_.find(foldName(name));
    return it == printers_.end() ? nullptr : it->second.get();
}

Queues::Printer* Queues::addPrinterLocked(PrinterSettings settings)
{
    auto printer = std::make_unique<Printer>();
    printer->settings = std::move(settings);
    printer->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    printer->deliveryEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Printer* added = printer.get();
    printers_[foldName(added->settings.name)] = std::move(printer);
    added->delivery = std::thread(&Queues::deliveryLoop, this, std::ref(*added));
    return added;
}

std::shared_ptr<Job> Queues::findJob(const Printer& printer, DWORD id) const
{
    auto it = printer.jobs.find(id);
    return it == printer.jobs.end() ? nullptr : it->second;
}

void Queues::save(const Job& job) const
{
    DWORD error = store_->save(job);
    if (error != ERROR_SUCCESS)
        std::fprintf(stderr, "spoolsv: the record of job %u cannot be written: error %u\n", unsigned(job.id),
                     unsigned(error));
}

void Queues::removeJob(Printer& printer, DWORD id, Leaving how)
{
    printer.jobs.erase(id);
    store_->remove(id);
    store_->recordLeaving(id, how);
    SetEvent(printer.wake);
}

DWORD Queues::openPrinter(const Caller& caller, std::u16string_view name, bool hasDefaults, ACCESS_MASK access,
                          const pal::spool::OptBlob& devMode, std::shared_ptr<PrinterHandle>& handle)
{
    ACCESS_MASK granted = hasDefaults && access ? access : PRINTER_ACCESS_USE;
    Lock lock(mutex_);
    Printer* printer = findPrinter(localPrinterName(name));
    if (!printer)
        return ERROR_INVALID_PRINTER_NAME;
    if ((granted & PRINTER_ACCESS_ADMINISTER) && !caller.admin)
        return ERROR_ACCESS_DENIED;
    handle = std::make_shared<PrinterHandle>(foldName(printer->settings.name), granted,
                                             hasDefaults ? devMode : pal::spool::OptBlob());
    return ERROR_SUCCESS;
}

DWORD Queues::addPrinter(const Caller& caller, const pal::spool::PrinterFields& fields,
                         std::shared_ptr<PrinterHandle>& handle)
{
    if (!caller.admin)
        return ERROR_ACCESS_DENIED;
    PrinterSettings settings;
    if (DWORD error = settingsFromFields(fields, settings))
        return error;
    if (!ports_.portOwner(settings.port))
        return ERROR_UNKNOWN_PORT;
    Lock lock(mutex_);
    if (stopping_)
        return ERROR_INVALID_PRINTER_STATE;
    if (findPrinter(settings.name))
        return ERROR_PRINTER_ALREADY_EXISTS;
    if (DWORD error = savePrinter(settings))
        return error;
    Printer* printer = addPrinterLocked(std::move(settings));
    handle = std::make_shared<PrinterHandle>(foldName(printer->settings.name), PRINTER_ALL_ACCESS, std::nullopt);
    return ERROR_SUCCESS;
}

DWORD Queues::portPrinterBits(const Printer& printer) const
{
    DWORD status = 0;
    std::u16string text;
    const PortStatusBits* bits = ports_.portStatus(printer.settings.port, status, text) ? portStatusBits(status)
                                                                                         : nullptr;
    return bits ? bits->printer : 0;
}

PrinterRecord Queues::printerRecord(const Printer& printer) const
{
    PrinterRecord record;
    record.fields = fieldsOf(printer.settings);
    record.status = (printer.settings.paused ? PRINTER_STATUS_PAUSED : 0) | portPrinterBits(printer);
    record.jobs = DWORD(printer.jobs.size());
    record.notSelectedTimeout = printer.settings.notSelectedTimeout;
    record.retryTimeout = printer.settings.retryTimeout;
    return record;
}

DWORD Queues::getPrinter(const PrinterHandle& handle, PrinterRecord& record) const
{
    Lock lock(mutex_);
    const Printer* printer = findPrinter(handle.printer);
    if (!printer)
        return ERROR_INVALID_HANDLE;
    record = printerRecord(*printer);
    return ERROR_SUCCESS;
}

DWORD Queues::setPrinter(const Caller& caller, const PrinterHandle& handle, const PrinterUpdate& update)
{
    if (!administers(caller, handle))
        return ERROR_ACCESS_DENIED;
    PrinterSettings settings;
    {
        Lock lock(mutex_);
        const Printer* printer = findPrinter(handle.printer);
        if (!printer)
            return ERROR_INVALID_HANDLE;
        settings = printer->settings;
    }
    if (update.level == 2) {
        if (DWORD error = applyFields(update.fields, settings))
            return error;
        if (!ports_.portOwner(settings.port))
            return ERROR_UNKNOWN_PORT;
    } else if (update.level == 5) {
        settings.attributes = update.attributes | PRINTER_ATTRIBUTE_LOCAL;
        settings.notSelectedTimeout = update.notSelectedTimeout;
        settings.retryTimeout = update.retryTimeout;
    } else if (update.level != 0) {
        return ERROR_INVALID_LEVEL;
    }
    Lock lock(mutex_);
    Printer* printer = findPrinter(handle.printer);
    std::u16string previousPort = printer->settings.port;
    if (update.level != 0) {
        settings.paused = printer->settings.paused;
        if (DWORD error = savePrinter(settings))
            return error;
        printer->settings = std::move(settings);
        SetEvent(printer->wake); // a write waiting to be retried tries again now
    }
    DWORD result = controlPrinter(*printer, update.command);
    if (!sameName(previousPort, printer->settings.port))
        closeUnusedPort(lock, previousPort);
    return result;
}

void Queues::closeUnusedPort(Lock& lock, const std::u16string& port)
{
    for (const auto& [name, printer] : printers_)
        if (sameName(printer->settings.port, port))
            return;
    lock.unlock();
    links_.closeUnused(port); // runs the monitor's ClosePort: no lock held
    lock.lock();
}

DWORD Queues::controlPrinter(Printer& printer, DWORD command)
{
    switch (command) {
    case 0:
        return ERROR_SUCCESS;
    case PRINTER_CONTROL_PAUSE:
    case PRINTER_CONTROL_RESUME:
        printer.settings.paused = command == PRINTER_CONTROL_PAUSE;
        SetEvent(printer.wake);
        return savePrinter(printer.settings);
    case PRINTER_CONTROL_PURGE: {
        std::vector<std::shared_ptr<Job>> jobs;
        for (auto& [id, job] : printer.jobs)
            jobs.push_back(job);
        for (const std::shared_ptr<Job>& job : jobs)
            deleteJob(printer, *job);
        return ERROR_SUCCESS;
    }
    default:
        return ERROR_INVALID_PRINTER_COMMAND;
    }
}

DWORD Queues::enumPrinters(DWORD flags, std::vector<PrinterRecord>& records) const
{
    records.clear();
    if (!(flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)))
        return ERROR_SUCCESS; // this host has no connections to other servers
    Lock lock(mutex_);
    for (const auto& [name, printer] : printers_)
        if (!(flags & PRINTER_ENUM_SHARED) || (printer->settings.attributes & PRINTER_ATTRIBUTE_SHARED))
            records.push_back(printerRecord(*printer));
    return ERROR_SUCCESS;
}

JobRecord Queues::jobRecord(const Printer& printer, const Job& job, DWORD position) const
{
    JobRecord record;
    DWORD portStatus = 0;
    std::u16string portText;
    DWORD portJobBits = 0;
    if (job.phase == Job::Phase::Printing && ports_.portStatus(printer.settings.port, portStatus, portText)) {
        const PortStatusBits* bits = portStatusBits(portStatus);
        portJobBits = bits ? bits->job : 0;
        if (!portText.empty())
            record.statusText = portText;
    }
    record.id = job.id;
    record.printer = printer.settings.name;
    record.machine = job.machine;
    record.user = job.user;
    record.document = job.document;
    record.datatype = job.datatype;
    record.printProcessor = printer.settings.printProcessor;
    record.parameters = printer.settings.parameters;
    record.driver = printer.settings.driver;
    record.status = jobStatusBits(job, portJobBits);
    record.priority = kJobPriority;
    record.position = position;
    record.size = job.size > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(job.size);
    record.time = job.phase == Job::Phase::Printing ? DWORD(GetTickCount64() - job.printingSince) : 0;
    record.submitted = job.submitted;
    record.devMode = job.devMode;
    return record;
}

DWORD Queues::getJob(const PrinterHandle& handle, DWORD id, JobRecord& record) const
{
    Lock lock(mutex_);
    const Printer* printer = findPrinter(handle.printer);
    if (!printer)
        return ERROR_INVALID_HANDLE;
    DWORD position = 1;
    for (const auto& [jobId, job] : printer->jobs) {
        if (jobId == id) {
            record = jobRecord(*printer, *job, position);
            return ERROR_SUCCESS;
        }
        ++position;
    }
    return ERROR_INVALID_PARAMETER;
}

DWORD Queues::enumJobs(const PrinterHandle& handle, DWORD first, DWORD count, std::vector<JobRecord>& records) const
{
    records.clear();
    Lock lock(mutex_);
    const Printer* printer = findPrinter(handle.printer);
    if (!printer)
        return ERROR_INVALID_HANDLE;
    DWORD index = 0;
    for (const auto& [id, job] : printer->jobs) {
        if (index >= first && index - first < count)
            records.push_back(jobRecord(*printer, *job, index + 1));
        ++index;
    }
    return ERROR_SUCCESS;
}

DWORD Queues::setJob(const Caller& caller, const PrinterHandle& handle, DWORD id, DWORD level, DWORD command)
{
    Lock lock(mutex_);
    Printer* printer = findPrinter(handle.printer);
    if (!printer)
        return ERROR_INVALID_HANDLE;
    std::shared_ptr<Job> job = findJob(*printer, id);
    if (!job)
        return ERROR_INVALID_PARAMETER;
    if (level != 0)
        return ERROR_INVALID_LEVEL;
    if (!administers(caller, handle))
        return ERROR_ACCESS_DENIED;
    switch (command) {
    case JOB_CONTROL_PAUSE:
    case JOB_CONTROL_RESUME:
        job->paused = command == JOB_CONTROL_PAUSE;
        if (job->phase != Job::Phase::Spooling)
            save(*job);
        break;
    case JOB_CONTROL_CANCEL:
    case JOB_CONTROL_DELETE:
        deleteJob(*printer, *job);
        break;
    case JOB_CONTROL_RESTART:
        restartJob(*job);
        break;
    case JOB_CONTROL_SENT_TO_PRINTER:
    case JOB_CONTROL_LAST_PAGE_EJECTED:
        endJob(*printer, *job);
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    SetEvent(printer->wake);
    return ERROR_SUCCESS;
}

void Queues::deleteJob(Printer& printer, Job& job)
{
    if (job.phase == Job::Phase::Spooling || job.phase == Job::Phase::Printing)
        job.deleting = true; // removed when its writer or its delivery lets go
    else
        removeJob(printer, job.id, Leaving::Deleted);
}

void Queues::restartJob(Job& job)
{
    if (job.phase == Job::Phase::Spooling)
        return;
    if (job.phase == Job::Phase::Printed)
        job.phase = Job::Phase::Queued;
    job.restartPending = true;
    job.sentToPrinter = false;
    job.endRequested = false;
    job.retryAt = 0;
    save(job);
}

void Queues::endJob(Printer& printer, Job& job)
{
    if (job.restartPending)
        return;
    if (delivering_ == &job) {
        job.sentToPrinter = true;
        save(job);
    } else if (job.phase == Job::Phase::Printing) {
        job.endRequested = true;
    } else if (job.phase == Job::Phase::Printed) {
        removeJob(printer, job.id, Leaving::Sent);
    }
}

DWORD Queues::startDoc(PrinterHandle& handle, const DocumentInfo& info, DWORD& id)
{
    std::lock_guard<std::mutex> document(handle.mutex_);
    if (handle.job_)
        return ERROR_INVALID_PRINTER_STATE;
    Lock lock(mutex_);
    Printer* printer = findPrinter(handle.printer);
    if (!printer)
        return ERROR_INVALID_HANDLE;
    if (stopping_)
        return ERROR_INVALID_PRINTER_STATE;
    if (DWORD error = store_->allocateId(id))
        return error;
    auto job = std::make_shared<Job>();
    job->id = id;
    job->printer = printer->settings.name;
    job->document = info.document;
    job->user = info.user;
    job->machine = info.machine;
    job->datatype = info.datatype && !info.datatype->empty() ? *info.datatype : printer->settings.datatype;
    job->devMode = handle.devMode;
    GetSystemTime(&job->submitted);
    int fd = ::open(store_->dataPath(id).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return fileWriteError(errno);
    if (DWORD error = store_->save(*job)) {
        ::close(fd);
        store_->remove(id);
        return error;
    }
    printer->jobs[id] = std::move(job);
    handle.job_ = id;
    handle.fd_ = fd;
    return ERROR_SUCCESS;
}

DWORD Queues::writePrinter(PrinterHandle& handle, const uint8_t* data, size_t size, DWORD& written)
{
    written = 0;
    std::lock_guard<std::mutex> document(handle.mutex_);
    if (!handle.job_)
        return ERROR_SPL_NO_STARTDOC;
    {
        Lock lock(mutex_);
        Printer* printer = findPrinter(handle.printer);
        std::shared_ptr<Job> job = printer ? findJob(*printer, handle.job_) : nullptr;
        if (!job || job->deleting)
            return ERROR_PRINT_CANCELLED;
    }
    if (!writeFully(handle.fd_, data, size))
        return fileWriteError(errno);
    Lock lock(mutex_);
    Printer* printer = findPrinter(handle.printer);
    if (std::shared_ptr<Job> job = printer ? findJob(*printer, handle.job_) : nullptr)
        job->size += size;
    written = DWORD(size);
    return ERROR_SUCCESS;
}

DWORD Queues::endDoc(PrinterHandle& handle)
{
    std::lock_guard<std::mutex> document(handle.mutex_);
    if (!handle.job_)
        return ERROR_SPL_NO_STARTDOC;
    DWORD id = handle.job_;
    ::close(handle.fd_);
    handle.job_ = 0;
    handle.fd_ = -1;
    Lock lock(mutex_);
    Printer* printer = findPrinter(handle.printer);
    std::shared_ptr<Job> job = printer ? findJob(*printer, id) : nullptr;
    if (!job)
        return ERROR_SUCCESS;
    if (job->deleting) {
        removeJob(*printer, id, Leaving::Deleted);
        return ERROR_SUCCESS;
    }
    job->phase = Job::Phase::Queued;
    save(*job);
    SetEvent(printer->wake);
    return ERROR_SUCCESS;
}

void Queues::closeHandle(PrinterHandle& handle)
{
    std::lock_guard<std::mutex> document(handle.mutex_);
    if (!handle.job_)
        return;
    ::close(handle.fd_);
    Lock lock(mutex_);
    if (Printer* printer = findPrinter(handle.printer))
        removeJob(*printer, handle.job_, Leaving::Deleted);
    handle.job_ = 0;
    handle.fd_ = -1;
}

} // namespace spoolsv
