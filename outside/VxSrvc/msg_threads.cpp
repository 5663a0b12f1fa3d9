// Message threads: each has its own unbounded first-in first-out queue, so posting never fails
// for want of room (unlike a Windows thread queue) and messages of one poster arrive in order.
#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "VxSrvc.h"

struct VxSrvcMsgThread {
    struct Message {
        uint32_t id;
        uintptr_t wparam;
        void* record;
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
};

namespace {

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

void run(VxSrvcMsgThread* self)
{
    std::unique_lock<std::mutex> lock(self->mutex);
    self->threadId = GetCurrentThreadId();
    self->started = true;
    self->changed.notify_all();
    for (;;) {
        self->changed.wait(lock, [self] { return self->stopping || (!self->held && !self->queue.empty()); });
        if (self->stopping)
            break;
        VxSrvcMsgThread::Message message = self->queue.front();
        self->queue.pop_front();
        lock.unlock();
        self->procedure(self, message.id, message.wparam, message.record);
        lock.lock();
    }
    const bool selfDestroy = self->selfDestroy;
    lock.unlock();
    if (selfDestroy)
        delete self;
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
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        try {
            thread->queue.push_back({message, wparam, record});
        } catch (const std::bad_alloc&) {
            return VXSRVC_E_NO_MEMORY;
        }
    }
    // Woken after the lock is left, the thread does not block on it at once.
    thread->changed.notify_one();
    return VXSRVC_OK;
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
