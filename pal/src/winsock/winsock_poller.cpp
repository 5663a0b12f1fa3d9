// The poller thread: epoll readiness and connect deadlines go to the sockets.
#include "winsock/winsock_poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <thread>

namespace pal::ws::poller {
namespace {

constexpr uint64_t kWakeTag = 0; // never a SOCKET: handles start above 0

struct Poller {
    int epoll = -1;
    int wake = -1;
    std::mutex mutex;
    bool stopping = false;
    bool running = false; // the thread (started and stopped under the start-up lock) goes on
    std::condition_variable ended;
    std::multimap<Clock::time_point, SOCKET> deadlines;
    std::map<SOCKET, std::shared_ptr<Socket>> draining; // closed sockets with a backlog
};

// Created once and kept until the process ends.
Poller& instance()
{
    static Poller* poller = [] {
        auto* created = new Poller;
        created->epoll = epoll_create1(EPOLL_CLOEXEC);
        created->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        epoll_event entry{};
        entry.events = EPOLLIN;
        entry.data.u64 = kWakeTag;
        epoll_ctl(created->epoll, EPOLL_CTL_ADD, created->wake, &entry);
        return created;
    }();
    return *poller;
}

void wakeUp(Poller& poller)
{
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(poller.wake, &one, sizeof(one));
}

// Milliseconds to the next deadline, -1 without one; false when the thread is to end: stopped,
// and no closed socket left to drain.
bool nextTimeout(Poller& poller, int& timeout)
{
    std::lock_guard<std::mutex> lock(poller.mutex);
    if (poller.stopping && poller.draining.empty()) {
        poller.running = false;
        poller.ended.notify_all();
        return false;
    }
    timeout = -1;
    if (!poller.deadlines.empty()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(poller.deadlines.begin()->first - Clock::now());
        timeout = static_cast<int>(std::clamp<decltype(left.count())>(left.count(), 0, 1 << 30));
    }
    return true;
}

std::shared_ptr<Socket> findSocket(Poller& poller, SOCKET id)
{
    if (auto socket = lookup<Socket>(reinterpret_cast<HANDLE>(id)))
        return socket;
    std::lock_guard<std::mutex> lock(poller.mutex);
    auto closed = poller.draining.find(id);
    return closed == poller.draining.end() ? nullptr : closed->second;
}

void fireDeadlines(Poller& poller)
{
    std::vector<SOCKET> due;
    {
        std::lock_guard<std::mutex> lock(poller.mutex);
        auto end = poller.deadlines.upper_bound(Clock::now());
        for (auto it = poller.deadlines.begin(); it != end; ++it)
            due.push_back(it->second);
        poller.deadlines.erase(poller.deadlines.begin(), end);
    }
    for (SOCKET id : due)
        if (auto socket = findSocket(poller, id))
            socket->onDeadline();
}

void run(Poller& poller)
{
    epoll_event ready[64];
    int timeout;
    while (nextTimeout(poller, timeout)) {
        int count = epoll_wait(poller.epoll, ready, 64, timeout);
        for (int i = 0; i < count; ++i) {
            uint64_t tag = ready[i].data.u64;
            if (tag == kWakeTag) {
                uint64_t drained;
                [[maybe_unused]] ssize_t consumed = ::read(poller.wake, &drained, sizeof(drained));
            } else if (auto socket = findSocket(poller, static_cast<SOCKET>(tag))) {
                socket->onReady();
            }
        }
        fireDeadlines(poller);
    }
}

} // namespace

void start()
{
    Poller& poller = instance();
    {
        std::lock_guard<std::mutex> lock(poller.mutex);
        poller.stopping = false;
        if (poller.running)
            return; // still draining closed sockets since the last clean-up
        poller.running = true;
    }
    std::thread(run, std::ref(poller)).detach();
}

// Waits for the thread to end unless closed sockets still drain: it then ends by itself after
// them, and a start-up meanwhile keeps it.
void stop()
{
    Poller& poller = instance();
    std::unique_lock<std::mutex> lock(poller.mutex);
    poller.stopping = true;
    std::erase_if(poller.deadlines, [&](const auto& entry) { return !poller.draining.contains(entry.second); });
    wakeUp(poller);
    if (poller.draining.empty())
        poller.ended.wait(lock, [&] { return !poller.running; });
}

void watch(SOCKET id, int fd, uint32_t from, uint32_t to)
{
    epoll_event entry{};
    entry.events = to;
    entry.data.u64 = id;
    int operation = from == 0 ? EPOLL_CTL_ADD : to == 0 ? EPOLL_CTL_DEL : EPOLL_CTL_MOD;
    epoll_ctl(instance().epoll, operation, fd, &entry);
}

void keepDraining(SOCKET id, std::shared_ptr<Socket> socket)
{
    Poller& poller = instance();
    std::lock_guard<std::mutex> lock(poller.mutex);
    poller.draining.emplace(id, std::move(socket));
}

void stopDraining(SOCKET id)
{
    Poller& poller = instance();
    std::lock_guard<std::mutex> lock(poller.mutex);
    poller.draining.erase(id); // never the last reference: the caller holds the socket
}

void wakeAt(SOCKET id, Clock::time_point when)
{
    Poller& poller = instance();
    {
        std::lock_guard<std::mutex> lock(poller.mutex);
        poller.deadlines.emplace(when, id);
    }
    wakeUp(poller);
}

} // namespace pal::ws::poller
