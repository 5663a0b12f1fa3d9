// Thread message queues: posting, taking, and waits that wake for new input.
#include <deque>
#include <unordered_map>

#include "threads/object.h"
#include "pal/threads.h"
#include "threads/thread_internal.h"

namespace pal {
namespace {

// Read and changed only under waitMutex(), so that waits can test it.
struct MessageQueue {
    std::deque<MSG> messages;
    bool quitPending = false; // PostQuitMessage: WM_QUIT once nothing else waits
    int quitCode = 0;
    ULONGLONG inputs = 0;     // posts and quit requests so far
    ULONGLONG inputsSeen = 0; // inputs when the thread last called PeekMessage or GetMessage
};

std::unordered_map<DWORD, MessageQueue>& queuesLocked()
{
    static auto* queues = new std::unordered_map<DWORD, MessageQueue>; // threads may end after static destruction
    return *queues;
}

// The queue of the calling thread, made by its first message call.
MessageQueue& ownQueueLocked(DWORD threadId)
{
    return queuesLocked()[threadId];
}

// Only thread messages exist, and those have no window.
bool threadMessageFilter(HWND hWnd)
{
    return hWnd == nullptr || hWnd == reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
}

struct Filter {
    UINT min;
    UINT max;
    bool passes(UINT message) const
    {
        return message == WM_QUIT || (min == 0 && max == 0) || (min <= message && message <= max);
    }
};

bool hasMessageLocked(const MessageQueue& queue, const Filter& filter)
{
    for (const MSG& message : queue.messages)
        if (filter.passes(message.message))
            return true;
    return queue.quitPending;
}

// The first message that passes the filter, in posting order; the quit request only when no posted
// message passes.
bool findMessageLocked(MessageQueue& queue, const Filter& filter, bool remove, MSG& found)
{
    for (auto it = queue.messages.begin(); it != queue.messages.end(); ++it) {
        if (filter.passes(it->message)) {
            found = *it;
            if (remove)
                queue.messages.erase(it);
            return true;
        }
    }
    if (!queue.quitPending)
        return false;
    found = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, GetTickCount(), POINT{0, 0}};
    if (remove)
        queue.quitPending = false;
    return true;
}

// Looks at the caller's queue (which counts as having seen its input) and finds a message.
bool lookForMessage(DWORD threadId, const Filter& filter, bool remove, MSG& found)
{
    std::lock_guard<std::mutex> lock(waitMutex());
    MessageQueue& queue = ownQueueLocked(threadId);
    queue.inputsSeen = queue.inputs;
    return findMessageLocked(queue, filter, remove, found);
}

bool validMessageCall(LPMSG lpMsg, HWND hWnd)
{
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return false;
    }
    if (!threadMessageFilter(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    return true;
}

} // namespace

void discardMessageQueueLocked(DWORD threadId)
{
    queuesLocked().erase(threadId);
}

} // namespace pal

using namespace pal;

extern "C" {

BOOL PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    const MSG message{nullptr, Msg, wParam, lParam, GetTickCount(), POINT{0, 0}};
    const MessageQueue* target;
    {
        std::lock_guard<std::mutex> lock(waitMutex());
        auto it = queuesLocked().find(idThread);
        if (it == queuesLocked().end()) {
            SetLastError(ERROR_INVALID_THREAD_ID);
            return FALSE;
        }
        MessageQueue& queue = it->second;
        if (queue.messages.size() >= PAL_MESSAGE_QUEUE_LIMIT) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        queue.messages.push_back(message);
        ++queue.inputs;
        target = &queue;
    }
    notifyWaiters(target);
    return TRUE;
}

BOOL PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return PostThreadMessageW(idThread, Msg, wParam, lParam);
}

BOOL PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    if (!validMessageCall(lpMsg, hWnd))
        return FALSE;
    return lookForMessage(GetCurrentThreadId(), Filter{wMsgFilterMin, wMsgFilterMax}, (wRemoveMsg & PM_REMOVE) != 0,
                          *lpMsg);
}

BOOL PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    return PeekMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
}

BOOL GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    if (!validMessageCall(lpMsg, hWnd))
        return -1;
    const DWORD threadId = GetCurrentThreadId();
    const Filter filter{wMsgFilterMin, wMsgFilterMax};
    // Only this thread takes from its queue, so a message seen by the wait is still there after it.
    while (!lookForMessage(threadId, filter, true, *lpMsg)) {
        MessageQueue* queue;
        {
            std::lock_guard<std::mutex> lock(waitMutex());
            queue = &ownQueueLocked(threadId);
        }
        waitObjects({}, false, INFINITE, [queue, &filter] { return hasMessageLocked(*queue, filter); }, queue);
    }
    return lpMsg->message == WM_QUIT ? 0 : TRUE;
}

BOOL GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    return GetMessageW(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
}

void PostQuitMessage(int nExitCode)
{
    const DWORD threadId = GetCurrentThreadId();
    const MessageQueue* target;
    {
        std::lock_guard<std::mutex> lock(waitMutex());
        MessageQueue& queue = ownQueueLocked(threadId);
        queue.quitPending = true;
        queue.quitCode = nExitCode;
        ++queue.inputs;
        target = &queue;
    }
    notifyWaiters(target);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask,
                                  DWORD dwFlags)
{
    if (nCount > MAXIMUM_WAIT_OBJECTS - 1 || (nCount > 0 && !pHandles)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    auto objects = waitablesOf(nCount, pHandles);
    if (objects.size() != nCount) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    const DWORD threadId = GetCurrentThreadId();
    MessageQueue* queue;
    {
        std::lock_guard<std::mutex> lock(waitMutex());
        queue = &ownQueueLocked(threadId);
    }
    const bool wantsPosts = (dwWakeMask & (QS_POSTMESSAGE | QS_ALLPOSTMESSAGE)) != 0;
    const bool anyWaitingInput = (dwFlags & MWMO_INPUTAVAILABLE) != 0;
    auto inputReady = [queue, wantsPosts, anyWaitingInput] {
        if (!wantsPosts)
            return false;
        if (anyWaitingInput)
            return !queue->messages.empty() || queue->quitPending;
        return queue->inputs > queue->inputsSeen;
    };
    return waitObjects(objects, (dwFlags & MWMO_WAITALL) != 0, scaleTimeout(dwMilliseconds), inputReady, queue);
}

DWORD MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                DWORD dwWakeMask)
{
    return MsgWaitForMultipleObjectsEx(nCount, pHandles, dwMilliseconds, dwWakeMask,
                                       fWaitAll ? MWMO_WAITALL : 0);
}

} // extern "C"
