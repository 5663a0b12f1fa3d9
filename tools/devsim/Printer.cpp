#include "Printer.h"

namespace devsim {

namespace {

template <typename Port>
std::string portName(const Port& port)
{
    return port.address() + ":" + std::to_string(port.port());
}

} // namespace

Printer::Printer(PrinterSettings settings, Simulator* simulator, PrinterReports reports)
    : settings_(std::move(settings)), simulator_(simulator), reports_(std::move(reports))
{
    settings_.rawOptions.address = settings_.lprOptions.address = settings_.device.address = settings_.address;
}

Printer::~Printer()
{
    stop();
}

bool Printer::start(std::string& error)
{
    std::lock_guard<std::mutex> lock(powerMutex_);
    return (!settings_.raw || startRaw(error)) && (!settings_.lpr || startLpr(error));
}

void Printer::stop()
{
    std::lock_guard<std::mutex> lock(powerMutex_);
    // Stopped first: their threads use the pointers until they end.
    if (rawSink_)
        rawSink_->stop();
    if (lprReceiver_)
        lprReceiver_->stop();
    rawSink_.reset();
    lprReceiver_.reset();
}

bool Printer::power(bool on, std::string& error)
{
    if (!on) {
        stop();
        return true;
    }
    std::lock_guard<std::mutex> lock(powerMutex_);
    if (rawSink_ || lprReceiver_)
        return true;
    return (!settings_.raw || startRaw(error)) && (!settings_.lpr || startLpr(error));
}

bool Printer::startRaw(std::string& error)
{
    rawJobs_.clear();
    rawSink_ = std::make_unique<RawSink>(
        settings_.rawOptions, [this](size_t index, const RawJob& job) { rawEnded(index, job); },
        [this](size_t index, const uint8_t* data, size_t size) { rawData(index, data, size); });
    if (!rawSink_->start(error)) {
        rawSink_.reset();
        return false;
    }
    settings_.rawOptions.port = rawPort_ = rawSink_->port(); // the same port again after a power cycle
    if (reports_.ready)
        reports_.ready("RAW", portName(*rawSink_), settings_.rawOptions.listen ? "" : " (not listening)");
    return true;
}

bool Printer::startLpr(std::string& error)
{
    lprJobs_.clear();
    lprReceiver_ = std::make_unique<LprReceiver>(
        settings_.lprOptions, [this](size_t index, const LprJob& job) { lprEnded(index, job); },
        [this](size_t index, std::string_view data) { return lprData(index, data); });
    for (const LprScript& script : settings_.lprOnce)
        lprReceiver_->queueScript(script);
    settings_.lprOnce.clear(); // once: not again after a power cycle
    if (!lprReceiver_->start(error)) {
        lprReceiver_.reset();
        return false;
    }
    settings_.lprOptions.port = lprPort_ = lprReceiver_->port();
    if (reports_.ready)
        reports_.ready("LPR", portName(*lprReceiver_), "");
    return true;
}

uint32_t Printer::arrived(const ClientId& id, std::function<void()> drop)
{
    return simulator_ ? simulator_->jobArrived(settings_.address, id, std::move(drop)) : 0;
}

void Printer::rawData(size_t index, const uint8_t* data, size_t size)
{
    Progress& progress = rawJobs_[index];
    progress.taken += size;
    if (progress.handle || !progress.header.take(data, size))
        return;
    RawSink* sink = rawSink_.get();
    progress.handle = arrived(progress.header.clientJobId(), [sink, index] { sink->drop(index); });
}

bool Printer::lprData(size_t index, std::string_view firstDataFile)
{
    Progress& progress = lprJobs_[index];
    const auto* bytes = reinterpret_cast<const uint8_t*>(firstDataFile.data());
    if (!progress.handle && progress.header.take(bytes + progress.taken, firstDataFile.size() - progress.taken)) {
        LprReceiver* receiver = lprReceiver_.get();
        progress.handle = arrived(progress.header.clientJobId(), [receiver, index] { receiver->drop(index); });
    }
    progress.taken = firstDataFile.size();
    return progress.handle != 0 || progress.header.done();
}

// The job's data ended, complete or not. A job whose header never came to an end (a short job)
// becomes a job object now, if it brought any data.
void Printer::ended(std::map<size_t, Progress>& jobs, size_t index, bool complete)
{
    auto progress = jobs.find(index);
    if (progress == jobs.end())
        return;
    Progress& job = progress->second;
    if (!job.handle && job.taken > 0) {
        job.header.finish();
        job.handle = arrived(job.header.clientJobId(), nullptr);
    }
    if (simulator_ && job.handle)
        simulator_->jobDataEnded(job.handle, complete);
    jobs.erase(progress);
}

void Printer::rawEnded(size_t index, const RawJob& job)
{
    ended(rawJobs_, index, job.end == JobEnd::SenderClosed);
    if (reports_.rawEnded)
        reports_.rawEnded(settings_.address + ":" + std::to_string(rawPort_), job);
}

void Printer::lprEnded(size_t index, const LprJob& job)
{
    ended(lprJobs_, index, job.complete());
    if (reports_.lprEnded)
        reports_.lprEnded(settings_.address + ":" + std::to_string(lprPort_), job);
}

} // namespace devsim
