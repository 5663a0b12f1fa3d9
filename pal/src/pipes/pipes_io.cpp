// The pipe I/O thread.
#include "pipes/pipes_io.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "pal/threads.h"
#include "threads/object.h"

namespace pal::pipes {
namespace {

struct IoThread {
    int epoll = -1;
    std::mutex mutex;
    std::unordered_map<IoId, std::shared_ptr<IoClient>> clients;
};

std::shared_ptr<IoClient> clientOf(IoThread& io, IoId id)
{
    std::lock_guard<std::mutex> lock(io.mutex);
    auto it = io.clients.find(id);
    return it == io.clients.end() ? nullptr : it->second;
}

constexpr DWORD kTickMs = 1000;

void tickAll(IoThread& io)
{
    std::vector<std::shared_ptr<IoClient>> clients;
    {
        std::lock_guard<std::mutex> lock(io.mutex);
        for (auto& [id, client] : io.clients)
            clients.push_back(client);
    }
    for (auto& client : clients)
        client->onTick();
}

[[noreturn]] void run(IoThread& io)
{
    epoll_event ready[64];
    ULONGLONG lastTick = GetTickCount64();
    for (;;) {
        int count = epoll_wait(io.epoll, ready, 64, static_cast<int>(scaleTimeout(kTickMs)));
        for (int i = 0; i < count; ++i)
            if (auto client = clientOf(io, ready[i].data.u64))
                client->onReadable();
        if (GetTickCount64() - lastTick >= kTickMs) {
            lastTick = GetTickCount64();
            tickAll(io);
        }
    }
}

// Started at the first use and kept until the process ends.
IoThread& ioThread()
{
    static IoThread* io = [] {
        auto* created = new IoThread;
        created->epoll = epoll_create1(EPOLL_CLOEXEC);
        std::thread(run, std::ref(*created)).detach();
        return created;
    }();
    return *io;
}

} // namespace

IoId newIoId()
{
    static std::atomic<IoId> next{1};
    return next++;
}

void watch(IoId id, int fd, std::shared_ptr<IoClient> client)
{
    IoThread& io = ioThread();
    {
        std::lock_guard<std::mutex> lock(io.mutex);
        io.clients.emplace(id, std::move(client));
    }
    epoll_event entry{};
    entry.events = EPOLLIN | EPOLLRDHUP;
    entry.data.u64 = id;
    epoll_ctl(io.epoll, EPOLL_CTL_ADD, fd, &entry);
}

void unwatch(IoId id, int fd)
{
    IoThread& io = ioThread();
    epoll_ctl(io.epoll, EPOLL_CTL_DEL, fd, nullptr);
    std::shared_ptr<IoClient> released; // may be the last reference: dropped outside the lock
    std::lock_guard<std::mutex> lock(io.mutex);
    auto it = io.clients.find(id);
    if (it != io.clients.end()) {
        released = std::move(it->second);
        io.clients.erase(it);
    }
}

} // namespace pal::pipes
