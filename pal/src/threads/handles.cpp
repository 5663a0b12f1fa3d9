// The process's handle table, events and the shared wait.
#include <chrono>
#include <list>
#include <unordered_map>

#include "threads/object.h"

namespace pal {
namespace {

thread_local DWORD t_lastError = 0;

// A thread's place in waitObjects, listed under waitMutex() by what it waits for while the thread
// waits. Each thread has its own condition, so that a signal wakes only the threads that wait for
// it, not every thread of the process that waits for anything. It is shared so that a notifier can
// wake it after leaving the lock (the woken thread then does not block on the lock at once), even
// when the thread has stopped waiting by then: a late wake-up is one more look at its objects.
struct Waiter : std::enable_shared_from_this<Waiter> {
    std::condition_variable wake;
};

// The waiters of each key, in the order they came; a key's list goes when its last waiter leaves.
// Many threads may wait for one key (a stop event), so a waiter leaves its list without a search.
using WaiterList = std::list<Waiter*>;
using WaiterMap = std::unordered_map<const void*, WaiterList>;

// Guarded by waitMutex(); never destroyed: a process may end while threads still wait (e.g. in
// GetMessage).
WaiterMap& waitersLocked()
{
    static auto* waiters = new WaiterMap;
    return *waiters;
}

thread_local std::shared_ptr<Waiter> t_waiter;

// Lists the calling thread's waiter under each key of its wait. Lock held at construction and
// destruction.
class ListedWaiter {
public:
    ListedWaiter(const std::vector<std::shared_ptr<Waitable>>& objects, const void* extraKey)
        : waiter(t_waiter ? *t_waiter : *(t_waiter = std::make_shared<Waiter>()))
    {
        for (const auto& object : objects)
            list(object->waitKey());
        if (extraKey)
            list(extraKey);
    }
    ~ListedWaiter()
    {
        for (const auto& [key, place] : entries_) {
            auto listed = waitersLocked().find(key);
            listed->second.erase(place);
            if (listed->second.empty())
                waitersLocked().erase(listed);
        }
    }
    ListedWaiter(const ListedWaiter&) = delete;
    ListedWaiter& operator=(const ListedWaiter&) = delete;

    Waiter& waiter;

private:
    void list(const void* key)
    {
        WaiterList& waiters = waitersLocked()[key];
        entries_.emplace_back(key, waiters.insert(waiters.end(), &waiter));
    }

    std::vector<std::pair<const void*, WaiterList::iterator>> entries_;
};

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
    uintptr_t next = 0x100;
};

HandleTable& handleTable()
{
    static HandleTable* table = new HandleTable; // outlives every static destructor that may close a handle
    return *table;
}

bool allSignaled(const std::vector<std::shared_ptr<Waitable>>& objects)
{
    for (const auto& object : objects)
        if (!object->signaled())
            return false;
    return true;
}

// Index of the first signaled object, objects.size() for extraReady, or -1.
long firstReady(const std::vector<std::shared_ptr<Waitable>>& objects, const std::function<bool()>& extraReady)
{
    for (size_t i = 0; i < objects.size(); ++i)
        if (objects[i]->signaled())
            return static_cast<long>(i);
    if (extraReady && extraReady())
        return static_cast<long>(objects.size());
    return -1;
}

} // namespace

std::mutex& waitMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

void notifyWaiters(const void* key)
{
    std::shared_ptr<Waiter> first; // usually the only one: no allocation for it
    std::vector<std::shared_ptr<Waiter>> others;
    {
        std::lock_guard<std::mutex> lock(waitMutex());
        auto listed = waitersLocked().find(key);
        if (listed != waitersLocked().end()) {
            for (Waiter* waiter : listed->second) {
                if (first == nullptr)
                    first = waiter->shared_from_this();
                else
                    others.push_back(waiter->shared_from_this());
            }
        }
    }
    if (first != nullptr)
        first->wake.notify_one();
    for (const auto& waiter : others)
        waiter->wake.notify_one();
}

HANDLE insertHandle(std::shared_ptr<Object> object)
{
    HandleTable& table = handleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<Object> lookupHandle(HANDLE handle)
{
    HandleTable& table = handleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.objects.end() ? nullptr : it->second;
}

bool removeHandle(HANDLE handle)
{
    std::shared_ptr<Object> object; // released outside the table lock: a destructor may close handles
    HandleTable& table = handleTable();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == table.objects.end())
            return false;
        object = std::move(it->second);
        table.objects.erase(it);
    }
    return true;
}

std::vector<std::shared_ptr<Waitable>> waitablesOf(DWORD count, const HANDLE* handles)
{
    std::vector<std::shared_ptr<Waitable>> objects;
    for (DWORD i = 0; i < count; ++i) {
        auto object = lookup<Waitable>(handles[i]);
        if (!object)
            return {};
        objects.push_back(std::move(object));
    }
    return objects;
}

DWORD waitObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD timeoutMs,
                  const std::function<bool()>& extraReady, const void* extraKey)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(waitMutex());
    ListedWaiter listed(objects, extraKey);
    for (;;) {
        if (waitAll && !objects.empty()) {
            if (allSignaled(objects) && (!extraReady || extraReady())) {
                for (const auto& object : objects)
                    object->acquire();
                return WAIT_OBJECT_0;
            }
        } else {
            long index = firstReady(objects, extraReady);
            if (index >= 0) {
                if (static_cast<size_t>(index) < objects.size())
                    objects[index]->acquire();
                return WAIT_OBJECT_0 + static_cast<DWORD>(index);
            }
        }
        if (timeoutMs == 0)
            return WAIT_TIMEOUT;
        if (timeoutMs == INFINITE)
            listed.waiter.wake.wait(lock);
        else if (listed.waiter.wake.wait_until(lock, deadline) == std::cv_status::timeout &&
                 Clock::now() >= deadline) {
            // one last look: a signal may have come with the time-out
            timeoutMs = 0;
        }
    }
}

} // namespace pal

using namespace pal;

extern "C" {

DWORD GetLastError(void)
{
    return pal::t_lastError;
}

void SetLastError(DWORD dwErrCode)
{
    pal::t_lastError = dwErrCode;
}

BOOL CloseHandle(HANDLE hObject)
{
    if (!removeHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR)
{
    return insertHandle(std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE));
}

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL bManualReset, BOOL bInitialState, LPCSTR)
{
    return CreateEventW(attributes, bManualReset, bInitialState, nullptr);
}

static BOOL setEventState(HANDLE hEvent, bool state)
{
    auto event = lookup<Event>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->set(state);
    return TRUE;
}

BOOL SetEvent(HANDLE hEvent)
{
    return setEventState(hEvent, true);
}

BOOL ResetEvent(HANDLE hEvent)
{
    return setEventState(hEvent, false);
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    auto objects = waitablesOf(nCount, lpHandles);
    if (objects.empty()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return waitObjects(objects, bWaitAll != FALSE, scaleTimeout(dwMilliseconds));
}

} // extern "C"
