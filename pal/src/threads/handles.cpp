// The process's handle table, events and the shared wait.
#include <chrono>
#include <unordered_map>

#include "threads/object.h"

namespace pal {
namespace {

thread_local DWORD t_lastError = 0;

std::condition_variable& waitCondition()
{
    // Never destroyed: destroying a condition variable waits for its blocked waiters, and a process
    // may end while threads still wait (e.g. in GetMessage).
    static auto* condition = new std::condition_variable;
    return *condition;
}

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

void notifyWaiters()
{
    std::lock_guard<std::mutex> lock(waitMutex());
    waitCondition().notify_all();
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
                  const std::function<bool()>& extraReady)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(waitMutex());
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
            waitCondition().wait(lock);
        else if (waitCondition().wait_until(lock, deadline) == std::cv_status::timeout && Clock::now() >= deadline) {
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
