// The jobs a serving thread records as its connections come and go, shared with the callers that
// watch them, and the callers' requests to that thread: resume what is stalled, drop a job's
// connection. The owner wakes its serving thread after a request.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace devsim {

template <class Job>
class JobBook {
public:
    struct Requests {
        bool resume = false;
        std::vector<size_t> drops; // job indexes

        bool dropsJob(size_t index) const { return std::find(drops.begin(), drops.end(), index) != drops.end(); }
    };

    std::vector<Job> jobs() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return jobs_;
    }
    // Waits until `condition` holds for the jobs; false when the time ran out first.
    bool waitUntil(const std::function<bool(const std::vector<Job>&)>& condition,
                   std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return condition(jobs_); });
    }

    void requestResume()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.resume = true;
    }
    void requestDrop(size_t index)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.drops.push_back(index);
    }
    // On the serving thread: the requests made since the last call.
    Requests takeRequests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(requests_, Requests{});
    }

    // Runs change on the jobs under the lock, then wakes the waiters; returns what change returns.
    template <class Change>
    auto update(Change change)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if constexpr (std::is_void_v<std::invoke_result_t<Change&, std::vector<Job>&>>) {
            change(jobs_);
            lock.unlock();
            changed_.notify_all();
        } else {
            auto result = change(jobs_);
            lock.unlock();
            changed_.notify_all();
            return result;
        }
    }

    // Records how job index ended, once (a stalled job is no longer stalled): the job as it ended, or
    // nothing when it had ended before.
    template <class End>
    std::optional<Job> recordEnd(size_t index, End end)
    {
        return update([&](std::vector<Job>& jobs) -> std::optional<Job> {
            Job& job = jobs[index];
            if (job.end != End::Open)
                return std::nullopt;
            job.end = end;
            job.stalled = false;
            return job;
        });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Job> jobs_;
    Requests requests_;
};

} // namespace devsim
