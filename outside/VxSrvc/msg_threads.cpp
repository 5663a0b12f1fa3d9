// Message threads: each has its own unbounded first-in first-out queue, so posting never fails
// for want of room (unlike a Windows thread queue) and messages of one poster arrive in order.
// A thread that watches sockets waits for them and its queue together (socket_wait.h), where a
// wake-up stands for the queue; without watches it waits on a condition.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "VxSrvc.h"
#include "socket_wait.h"

struct VxSrvcMsgThread {
    struct Message {
        uint32_t id;
        uintptr_t wparam;
        void* record;
        uint32_t watch; // a socket's message: its watch, armed again once handled
    };
    struct Watch {
        int socket;
        uint32_t message;
        uintptr_t wparam;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Message> queue;
    VxSrvcMsgProc procedure = nullptr;
    uint32_t threadId = 0;
    bool started = false;
    bool stopping = false;
    bool held = false;       // test hook: the first message waits until released
    bool selfDestroy = false; // destroyed from its own procedure: the thread frees itself
    std::thread thread;
    // Sockets: the set made at the first watch, whose wake-up posts use.
    std::unique_ptr<vxsrvc::SocketWait> sockets;
    bool polling = false;    // the thread waits in the socket set, not on the condition
    uint32_t handledSincePoll = 0;
    std::map<uint32_t, Watch> watches;
    uint32_t lastWatch = 0;
};

namespace {

const uint32_t kMessagesBetweenPolls = 32;

struct Registry {
    std::mutex mutex;
    std::set<VxSrvcMsgThread*> threads;
    bool holdNew = false;
};

Registry& registry()
{
    static Registry* threads = new Registry;
    return *threads;
}

void forget(VxSrvcMsgThread* thread)
{
    Registry& threads = registry();
    std::lock_guard<std::mutex> lock(threads.mutex);
    threads.threads.erase(thread);
}

// Arms a socket's watch again for its next readiness (one message each time). Lock held.
void rearmLocked(VxSrvcMsgThread* self, uint32_t watch)
{
    auto found = self->watches.find(watch);
    if (found != self->watches.end())
        self->sockets->rearm(found->second.socket, watch);
}

// Looks at the socket set without the lock, waiting for it unless wait is false; ready sockets
// become messages. Lock held on return.
void pollLocked(VxSrvcMsgThread* self, std::unique_lock<std::mutex>& lock, bool wait)
{
    self->polling = wait;
    self->handledSincePoll = 0;
    lock.unlock();
    uint32_t ready[16];
    const int count = self->sockets->wait(wait, ready, 16);
    lock.lock();
    self->polling = false;
    for (int i = 0; i < count; ++i) {
        const uint32_t watch = ready[i];
        auto found = self->watches.find(watch);
        if (found != self->watches.end())
            self->queue.push_back({found->second.message, found->second.wparam, nullptr, watch});
    }
}

void run(VxSrvcMsgThread* self)
{
    std::unique_lock<std::mutex> lock(self->mutex);
    self->threadId = GetCurrentThreadId();
    self->started = true;
    self->changed.notify_all();
    while (!self->stopping) {
        if (self->held || self->queue.empty()) {
            if (self->held || !self->sockets)
                self->changed.wait(lock);
            else
                pollLocked(self, lock, true);
            continue;
        }
        // A queue that never runs empty does not keep the sockets waiting.
        if (self->sockets && self->handledSincePoll >= kMessagesBetweenPolls) {
            pollLocked(self, lock, false);
            continue;
        }
        ++self->handledSincePoll;
        VxSrvcMsgThread::Message message = self->queue.front();
        self->queue.pop_front();
        lock.unlock();
        self->procedure(self, message.id, message.wparam, message.record);
        lock.lock();
        if (message.watch != 0)
            rearmLocked(self, message.watch);
    }
    const bool selfDestroy = self->selfDestroy;
    lock.unlock();
    if (selfDestroy)
        delete self;
}

// Wakes the thread for a change it must look at. Lock held.
void wakeUp(VxSrvcMsgThread* thread, bool polling)
{
    if (polling) {
        thread->sockets->wake();
    } else {
        thread->changed.notify_one();
    }
}

// Makes the socket set at the first watch. Lock held.
bool startPollingLocked(VxSrvcMsgThread* thread)
{
    if (thread->sockets)
        return true;
    std::unique_ptr<vxsrvc::SocketWait> sockets(new (std::nothrow) vxsrvc::SocketWait);
    if (!sockets || !sockets->open())
        return false;
    thread->sockets = std::move(sockets);
    return true;
}

} // namespace

int32_t VxSrvcCreateMsgThread(VxSrvcThread* thread, uint32_t* threadId, VxSrvcMsgProc procedure)
{
    if (thread == nullptr || threadId == nullptr || procedure == nullptr)
        return VXSRVC_E_BAD_PARAMETER;
    auto* created = new (std::nothrow) VxSrvcMsgThread;
    if (created == nullptr)
        return VXSRVC_E_NO_MEMORY;
    created->procedure = procedure;
    Registry& threads = registry();
    {
        std::lock_guard<std::mutex> lock(threads.mutex);
        created->held = threads.holdNew;
        threads.threads.insert(created);
    }
    try {
        created->thread = std::thread(run, created);
    } catch (const std::system_error&) {
        forget(created);
        delete created;
        return VXSRVC_E_NO_THREAD;
    }
    std::unique_lock<std::mutex> lock(created->mutex);
    created->changed.wait(lock, [created] { return created->started; });
    *thread = created;
    *threadId = created->threadId;
    return VXSRVC_OK;
}

int32_t VxSrvcDestroyMsgThread(VxSrvcThread thread)
{
    if (thread == nullptr)
        return VXSRVC_E_BAD_PARAMETER;
    forget(thread);
    std::unique_lock<std::mutex> lock(thread->mutex);
    thread->stopping = true;
    thread->changed.notify_all();
    if (thread->polling)
        wakeUp(thread, true);
    if (thread->thread.get_id() == std::this_thread::get_id()) {
        thread->selfDestroy = true;
        thread->thread.detach();
        return VXSRVC_OK;
    }
    lock.unlock();
    thread->thread.join();
    delete thread;
    return VXSRVC_OK;
}

int32_t VxSrvcPostMessage(VxSrvcThread thread, uint32_t message, uintptr_t wparam, void* record)
{
    if (thread == nullptr)
        return VXSRVC_E_BAD_PARAMETER;
    std::lock_guard<std::mutex> lock(thread->mutex);
    try {
        thread->queue.push_back({message, wparam, record, 0});
    } catch (const std::bad_alloc&) {
        return VXSRVC_E_NO_MEMORY;
    }
    // Under the lock: a thread that destroys itself for this message frees itself only after it.
    wakeUp(thread, thread->polling);
    return VXSRVC_OK;
}

uint32_t VxSrvcWatchSocket(VxSrvcThread thread, int socket, uint32_t message, uintptr_t wparam)
{
    if (thread == nullptr || socket < 0)
        return 0;
    uint32_t watch;
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        if (!startPollingLocked(thread))
            return 0;
        watch = ++thread->lastWatch;
        if (watch == 0)
            watch = ++thread->lastWatch;
        try {
            thread->watches[watch] = {socket, message, wparam};
        } catch (const std::bad_alloc&) {
            return 0;
        }
        if (!thread->sockets->add(socket, watch)) {
            thread->watches.erase(watch);
            return 0;
        }
        // A thread waiting on its condition starts polling.
        if (!thread->polling)
            thread->changed.notify_one();
    }
    return watch;
}

void VxSrvcUnwatchSocket(VxSrvcThread thread, uint32_t watch)
{
    Registry& threads = registry();
    std::lock_guard<std::mutex> registered(threads.mutex);
    if (threads.threads.count(thread) == 0)
        return;
    std::lock_guard<std::mutex> lock(thread->mutex);
    auto found = thread->watches.find(watch);
    if (found == thread->watches.end())
        return;
    thread->sockets->remove(found->second.socket);
    thread->watches.erase(found);
}

void VxSrvcTestHoldNewThreads(void)
{
    Registry& threads = registry();
    std::lock_guard<std::mutex> lock(threads.mutex);
    threads.holdNew = true;
}

void VxSrvcTestReleaseHeldThreads(void)
{
    Registry& threads = registry();
    std::lock_guard<std::mutex> lock(threads.mutex);
    threads.holdNew = false;
    for (VxSrvcMsgThread* thread : threads.threads) {
        std::lock_guard<std::mutex> threadLock(thread->mutex);
        thread->held = false;
        thread->changed.notify_all();
    }
}

uint32_t VxSrvcTestMsgThreads(void)
{
    Registry& threads = registry();
    std::lock_guard<std::mutex> lock(threads.mutex);
    return static_cast<uint32_t>(threads.threads.size());
}
