// Threads with Windows handles and ids, and critical sections.
#include <errno.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "threads/object.h"
#include "pal/threads.h"
#include "threads/thread_internal.h"

namespace pal {
namespace {

// The object behind a thread handle: signalled once the thread has ended.
class Thread : public Waitable {
public:
    explicit Thread(DWORD id) : id_(id) {}
    DWORD id() const { return id_; }
    bool signaled() const override { return ended_; }
    // Under waitMutex().
    DWORD exitCode() const { return ended_ ? exitCode_ : STILL_ACTIVE; }
    void end(DWORD exitCode)
    {
        exitCode_ = exitCode;
        ended_ = true;
    }

private:
    const DWORD id_;
    bool ended_ = false;
    DWORD exitCode_ = 0;
};

// Ids are multiples of 4 as on Windows, never 0 and never reused within the process.
DWORD newThreadId()
{
    static std::atomic<DWORD> last{0};
    return last.fetch_add(4) + 4;
}

thread_local DWORD t_threadId = 0; // trivially destructible: valid until the thread is gone

// Runs when the thread ends, by return or by ExitThread: frees the thread's message queue and
// signals its handle, both at once under the wait mutex.
struct ThreadEnd {
    std::shared_ptr<Thread> thread; // set for threads made by CreateThread
    DWORD exitCode = 0;

    ~ThreadEnd()
    {
        {
            std::lock_guard<std::mutex> lock(waitMutex());
            discardMessageQueueLocked(t_threadId);
            if (thread)
                thread->end(exitCode);
        }
        if (thread)
            notifyWaiters(thread->waitKey());
    }
};

ThreadEnd& threadEnd()
{
    thread_local ThreadEnd end;
    return end;
}

DWORD currentThreadId()
{
    if (t_threadId == 0) {
        t_threadId = newThreadId();
        threadEnd(); // registers the end of a thread the platform did not start
    }
    return t_threadId;
}

struct StartBlock {
    std::shared_ptr<Thread> thread;
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

void* threadMain(void* argument)
{
    std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(argument));
    t_threadId = block->thread->id();
    ThreadEnd& end = threadEnd();
    end.thread = std::move(block->thread);
    const LPTHREAD_START_ROUTINE start = block->start;
    const LPVOID parameter = block->parameter;
    block.reset(); // ExitThread unwinds past this frame
    end.exitCode = start(parameter);
    return nullptr;
}

// Windows reserves at least the default stack; only a larger request changes it.
void applyStackSize(pthread_attr_t& attributes, SIZE_T requested)
{
    size_t current = 0;
    pthread_attr_getstacksize(&attributes, &current);
    if (requested <= current)
        return;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    pthread_attr_setstacksize(&attributes, (requested + page - 1) / page * page);
}

const HANDLE kCurrentThreadPseudoHandle = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

pthread_mutex_t* mutexOf(LPCRITICAL_SECTION section)
{
    return std::launder(reinterpret_cast<pthread_mutex_t*>(section->Opaque));
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Opaque) &&
                  alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "a critical section holds its mutex");

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                    LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (!lpStartAddress || (dwCreationFlags & ~static_cast<DWORD>(STACK_SIZE_PARAM_IS_A_RESERVATION))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<Thread>(newThreadId());
    // The id is out before the thread runs, so the new thread may read it from shared data.
    if (lpThreadId)
        *lpThreadId = thread->id();
    auto* block = new StartBlock{thread, lpStartAddress, lpParameter};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    applyStackSize(attributes, dwStackSize);
    pthread_t native;
    const int result = pthread_create(&native, &attributes, threadMain, block);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete block;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return insertHandle(std::move(thread));
}

uintptr_t _beginthreadex(void* security, unsigned stack_size, unsigned(__stdcall* start_address)(void*),
                         void* arglist, unsigned initflag, unsigned* thrdaddr)
{
    HANDLE thread = CreateThread(static_cast<LPSECURITY_ATTRIBUTES>(security), stack_size, start_address, arglist,
                                 initflag, reinterpret_cast<LPDWORD>(thrdaddr));
    if (!thread)
        errno = GetLastError() == ERROR_INVALID_PARAMETER ? EINVAL : EAGAIN;
    return reinterpret_cast<uintptr_t>(thread);
}

void ExitThread(DWORD dwExitCode)
{
    currentThreadId();
    threadEnd().exitCode = dwExitCode;
    pthread_exit(nullptr);
}

void _endthreadex(unsigned retval)
{
    ExitThread(retval);
}

DWORD GetCurrentThreadId(void)
{
    return currentThreadId();
}

HANDLE GetCurrentThread(void)
{
    return kCurrentThreadPseudoHandle;
}

DWORD GetCurrentProcessId(void)
{
    return static_cast<DWORD>(getpid());
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    if (!lpExitCode) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (hThread == kCurrentThreadPseudoHandle) {
        *lpExitCode = STILL_ACTIVE;
        return TRUE;
    }
    auto thread = lookup<Thread>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(waitMutex());
    *lpExitCode = thread->exitCode();
    return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (lpCriticalSection->Opaque) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD)
{
    InitializeCriticalSection(lpCriticalSection);
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_lock(mutexOf(lpCriticalSection));
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    return pthread_mutex_trylock(mutexOf(lpCriticalSection)) == 0;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_unlock(mutexOf(lpCriticalSection));
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_destroy(mutexOf(lpCriticalSection));
}

} // extern "C"
