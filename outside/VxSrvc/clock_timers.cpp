// The tick and one-shot timers. Timers fire on one timer thread, started at the first timer and
// stopped by VxSrvcCleanup; with the manual clock of the tests they fire inside the advance.
// Callbacks run without the lock held, so a callback may start or cancel timers.
#include <windows.h>

#include <map>
#include <mutex>
#include <thread>

#include "VxSrvc.h"
#include "runtime_internal.h"

namespace {

enum class TimerState { Pending, Running };

struct Timer {
    uint32_t due; // raw tick (without the test offset)
    VxSrvcTimerProc function;
    uintptr_t parameter;
    TimerState state;
};

struct Timers {
    std::mutex mutex;
    std::map<VxSrvcTimer, Timer> timers;
    VxSrvcTimer lastHandle = 0;
    bool manual = false;
    uint32_t manualTick = 0;
    uint32_t offset = 0;
    HANDLE wake = nullptr;   // auto-reset: the timer thread looks again
    std::thread thread;
    bool stopping = false;
};

Timers& state()
{
    static Timers* timers = new Timers; // the timer thread may outlive static destruction
    return *timers;
}

// Ticks compare by signed difference, so that due times across the 2^32 wrap order correctly.
bool isDue(uint32_t due, uint32_t now)
{
    return static_cast<int32_t>(now - due) >= 0;
}

uint32_t rawTickLocked(const Timers& timers)
{
    return timers.manual ? timers.manualTick : GetTickCount();
}

// The pending timer due earliest; timers.end() when none.
std::map<VxSrvcTimer, Timer>::iterator earliestPendingLocked(Timers& timers)
{
    auto earliest = timers.timers.end();
    for (auto it = timers.timers.begin(); it != timers.timers.end(); ++it)
        if (it->second.state == TimerState::Pending &&
            (earliest == timers.timers.end() ||
             static_cast<int32_t>(it->second.due - earliest->second.due) < 0))
            earliest = it;
    return earliest;
}

// Runs one timer's callback outside the lock; the lock is held again on return.
void fireLocked(std::unique_lock<std::mutex>& lock, Timers& timers, std::map<VxSrvcTimer, Timer>::iterator timer)
{
    timer->second.state = TimerState::Running;
    const VxSrvcTimer handle = timer->first;
    const VxSrvcTimerProc function = timer->second.function;
    const uintptr_t parameter = timer->second.parameter;
    lock.unlock();
    function(handle, parameter);
    lock.lock();
    timers.timers.erase(handle);
}

void timerThread()
{
    Timers& timers = state();
    std::unique_lock<std::mutex> lock(timers.mutex);
    while (!timers.stopping) {
        DWORD wait = INFINITE;
        auto earliest = earliestPendingLocked(timers);
        if (!timers.manual && earliest != timers.timers.end()) {
            const uint32_t now = rawTickLocked(timers);
            if (isDue(earliest->second.due, now)) {
                fireLocked(lock, timers, earliest);
                continue;
            }
            wait = earliest->second.due - now;
        }
        HANDLE wake = timers.wake;
        lock.unlock();
        WaitForSingleObject(wake, wait); // scaled like every platform wait, as the tick is
        lock.lock();
    }
}

void startThreadLocked(Timers& timers)
{
    if (timers.wake == nullptr)
        timers.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!timers.thread.joinable()) {
        timers.stopping = false;
        timers.thread = std::thread(timerThread);
    }
}

// Moves every pending due time so that each keeps its remaining delay across a change of clock.
void rebaseLocked(Timers& timers, uint32_t oldNow, uint32_t newNow)
{
    for (auto& [handle, timer] : timers.timers)
        timer.due = newNow + (timer.due - oldNow);
}

} // namespace

namespace vxsrvc {

// Called by VxSrvcCleanup: drops the timers not yet fired and stops the timer thread.
void stopTimers()
{
    Timers& timers = state();
    std::unique_lock<std::mutex> lock(timers.mutex);
    for (auto it = timers.timers.begin(); it != timers.timers.end();)
        it = it->second.state == TimerState::Pending ? timers.timers.erase(it) : std::next(it);
    if (!timers.thread.joinable())
        return;
    timers.stopping = true;
    SetEvent(timers.wake);
    std::thread thread = std::move(timers.thread);
    lock.unlock();
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach(); // Cleanup from a timer callback: the thread ends after it
    else
        thread.join();
}

} // namespace vxsrvc

uint32_t VxSrvcGetTick(void)
{
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    return rawTickLocked(timers) + timers.offset;
}

int32_t VxSrvcStartTimer(VxSrvcTimer* timer, uint32_t delay, VxSrvcTimerProc function, uintptr_t parameter)
{
    if (timer == nullptr || function == nullptr)
        return VXSRVC_E_BAD_PARAMETER;
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    startThreadLocked(timers);
    if (timers.wake == nullptr || !timers.thread.joinable())
        return VXSRVC_E_NO_THREAD;
    VxSrvcTimer handle = ++timers.lastHandle;
    if (handle == 0)
        handle = ++timers.lastHandle;
    timers.timers[handle] = Timer{rawTickLocked(timers) + delay, function, parameter, TimerState::Pending};
    *timer = handle;
    SetEvent(timers.wake);
    return VXSRVC_OK;
}

int32_t VxSrvcCancelTimer(VxSrvcTimer timer)
{
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    auto found = timers.timers.find(timer);
    if (found == timers.timers.end())
        return VXSRVC_E_NOT_FOUND;
    if (found->second.state == TimerState::Running)
        return VXSRVC_E_TOO_LATE;
    timers.timers.erase(found);
    return VXSRVC_OK;
}

void VxSrvcTestSetManualClock(uint32_t tick)
{
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    rebaseLocked(timers, rawTickLocked(timers), tick);
    timers.manual = true;
    timers.manualTick = tick;
    if (timers.wake != nullptr)
        SetEvent(timers.wake);
}

void VxSrvcTestAdvanceClock(uint32_t ticks)
{
    Timers& timers = state();
    std::unique_lock<std::mutex> lock(timers.mutex);
    if (!timers.manual)
        return;
    const uint32_t target = timers.manualTick + ticks;
    // The clock steps to each due time in turn, so a timer started by a callback and due before
    // the target fires in this advance as well.
    for (;;) {
        auto earliest = earliestPendingLocked(timers);
        if (earliest == timers.timers.end() || static_cast<int32_t>(target - earliest->second.due) < 0)
            break;
        if (static_cast<int32_t>(earliest->second.due - timers.manualTick) > 0)
            timers.manualTick = earliest->second.due;
        fireLocked(lock, timers, earliest);
    }
    timers.manualTick = target;
}

void VxSrvcTestUseRealClock(void)
{
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    if (!timers.manual)
        return;
    rebaseLocked(timers, timers.manualTick, GetTickCount());
    timers.manual = false;
    if (timers.wake != nullptr)
        SetEvent(timers.wake);
}

void VxSrvcTestSetTickOffset(uint32_t offset)
{
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    timers.offset = offset;
}

uint32_t VxSrvcTestPendingTimers(void)
{
    Timers& timers = state();
    std::lock_guard<std::mutex> lock(timers.mutex);
    uint32_t pending = 0;
    for (const auto& [handle, timer] : timers.timers)
        pending += timer.state == TimerState::Pending;
    return pending;
}
