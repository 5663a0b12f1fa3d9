// Kernel objects behind handles, and the one wait mechanism every waitable object shares.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "pal/handles.h"

namespace pal {

class Object {
public:
    virtual ~Object() = default;
};

// State that waits look at is read and changed only under waitMutex(); whoever changes it calls
// notifyWaiters with the object's wait key afterwards.
class Waitable : public Object {
public:
    virtual bool signaled() const = 0;
    // A satisfied wait takes the signal (auto-reset events); the default keeps it.
    virtual void acquire() {}
    // What a change of the signalled state is announced under: the object itself, or what the state
    // lives in.
    virtual const void* waitKey() const { return this; }
};

std::mutex& waitMutex();
// Wakes only the threads whose wait includes key (a waitable's wait key, or a thread's message
// queue), so that a signal costs the same with one waiting thread as with hundreds.
void notifyWaiters(const void* key);

HANDLE insertHandle(std::shared_ptr<Object> object);
std::shared_ptr<Object> lookupHandle(HANDLE handle);
bool removeHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> lookup(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(lookupHandle(handle));
}

// The waitable objects behind handles, or an empty vector when one of them is not waitable.
std::vector<std::shared_ptr<Waitable>> waitablesOf(DWORD count, const HANDLE* handles);

// Waits for one (any) or all of the objects. extraReady, checked under waitMutex(), is one more
// condition (the thread's message queue), whose changes are announced under extraKey: it ends an
// any-wait with index objects.size(), and a wait-all needs it together with every object.
// The time-out is in real milliseconds, already scaled. Returns the index or WAIT_TIMEOUT.
DWORD waitObjects(const std::vector<std::shared_ptr<Waitable>>& objects, bool waitAll, DWORD timeoutMs,
                  const std::function<bool()>& extraReady = {}, const void* extraKey = nullptr);

// Sleep and wait times pass through the platform's time scale (PAL_TIME_SCALE, default 1).
DWORD scaleTimeout(DWORD milliseconds);

class Event : public Waitable {
public:
    Event(bool manualReset, bool initialState) : manualReset_(manualReset), state_(initialState) {}
    bool signaled() const override { return state_; }
    void acquire() override
    {
        if (!manualReset_)
            state_ = false;
    }
    void set(bool state)
    {
        {
            std::lock_guard<std::mutex> lock(waitMutex());
            state_ = state;
        }
        if (state)
            notifyWaiters(waitKey());
    }

private:
    const bool manualReset_;
    bool state_;
};

} // namespace pal
