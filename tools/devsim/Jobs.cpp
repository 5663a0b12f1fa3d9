// The course of a job object: printing with its impressions rising, done, then into the job log;
// cancelled, aborted or lost on the way.
#include <time.h>

#include <cstdio>

#include "SimulatorImpl.h"

namespace devsim {

namespace {

std::string monotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char text[32];
    std::snprintf(text, sizeof(text), "%lld.%03ld", static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000,
                  now.tv_nsec / 1000 % 1000);
    return text;
}

} // namespace

void Simulator::Impl::startPrinting(Device& device, Job& job)
{
    const uint32_t handle = job.handle;
    const uint64_t generation = job.generation;
    const auto start = Clock::now();
    const uint32_t impressions = device.settings.impressions;
    const auto printTime = device.settings.printTime;
    // Impressions 1 .. N-1 on the way; the last comes with the end of printing.
    for (uint32_t count = 1; count < impressions; ++count)
        at(start + printTime * count / impressions, [this, &device, handle, generation, count] {
            Job* job = findJob(device, handle);
            if (job && job->generation == generation)
                setImpressions(device, *job, count);
        });
    at(start + printTime, [this, &device, handle, generation] { finishPrinting(device, handle, generation); });
}

void Simulator::Impl::finishPrinting(Device& device, uint32_t handle, uint64_t generation)
{
    Job* job = findJob(device, handle);
    if (!job || job->generation != generation)
        return;
    auto slot = Clock::now();
    if (settings.completionsPerSecond > 0) {
        // Completions of all devices keep their pace: one per interval.
        const auto interval = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / settings.completionsPerSecond));
        slot = std::max(slot, nextCompletionSlot);
        nextCompletionSlot = slot + interval;
    }
    if (slot <= Clock::now()) {
        job->impressions = device.settings.impressions;
        complete(device, *job, true);
        return;
    }
    setImpressions(device, *job, device.settings.impressions);
    at(slot, [this, &device, handle, generation] {
        Job* job = findJob(device, handle);
        if (job && job->generation == generation)
            complete(device, *job, false);
    });
}

void Simulator::Impl::complete(Device& device, Job& job, bool impressionsChanged)
{
    job.state = kJobDone;
    notifyJob(device, job, true, impressionsChanged);
    say("devsim: " + device.settings.address + " job " + std::to_string(job.handle) + " done at " +
        monotonicMilliseconds() + " ms (monotonic)");
    const uint32_t handle = job.handle;
    const uint64_t generation = job.generation;
    after(device.settings.keepDone,
          [this, &device, handle, generation] { retire(device, handle, generation, kCompletedNormally); });
}

void Simulator::Impl::endJob(Device& device, Job& job, uint8_t state, uint8_t completion)
{
    const uint64_t generation = ++job.generation;
    job.state = state;
    notifyJob(device, job, true, false);
    const uint32_t handle = job.handle;
    after(device.settings.keepDone,
          [this, &device, handle, generation, completion] { retire(device, handle, generation, completion); });
}

void Simulator::Impl::loseJob(Device& device, uint32_t handle)
{
    Job* job = findJob(device, handle);
    if (!job)
        return;
    job->state = kJobAborted;
    notifyJob(device, *job, true, false);
    std::erase_if(device.jobs, [handle](const Job& kept) { return kept.handle == handle; });
}

void Simulator::Impl::setImpressions(Device& device, Job& job, uint32_t impressions)
{
    if (job.impressions == impressions)
        return;
    job.impressions = impressions;
    notifyJob(device, job, false, true);
}

} // namespace devsim
