// Library start and stop, the worker and notification threads, posting and completing.
#include <string.h>

#include "DmlpEngine.h"

DmlpGlobals g_dmlp;

namespace {

// The locks live as long as the module.
struct ModuleLocks {
    ModuleLocks()
    {
        InitializeCriticalSection(&g_dmlp.startLock);
        InitializeCriticalSection(&g_dmlp.workerLock);
    }
    ~ModuleLocks()
    {
        DeleteCriticalSection(&g_dmlp.workerLock);
        DeleteCriticalSection(&g_dmlp.startLock);
    }
} g_moduleLocks;

// Handles are never reused within the process, across starts included.
std::atomic<uint64_t> g_lastHandle{0};
thread_local bool t_onNotifier = false;

const DWORD kStartAnswerMs = 6000;

// Message ids whose record is a DmlpMessage.
const uint32_t kRecordIds[] = {DMLP_MSG_START,           DMLP_MSG_STOP,           DMLP_MSG_BIND,
                               DMLP_MSG_UNBIND,          DMLP_MSG_SUBSCRIBE,      DMLP_MSG_UNSUBSCRIBE,
                               DMLP_MSG_GET_EP_ADDRESS,  DMLP_MSG_GET_EP_PROPERTY, DMLP_MSG_SET_EP_PROPERTY,
                               DMLP_MSG_REQUEST,         DMLP_MSG_RAW_SEND,       DMLP_MSG_COMPLETION,
                               DMLP_MSG_EVENT,           DMLP_MSG_RECEIVED,       DMLP_MSG_STATE,
                               DMLP_MSG_RESIZE,          DMLP_MSG_DISCOVER};

struct FamilyRow {
    uint16_t family;
    uint32_t bit;
    bool eventPort;
};
const FamilyRow kFamilies[] = {{VXTRANS_FAMILY_INET, DMLP_FAMILY_BIT_INET, true},
                               {VXTRANS_FAMILY_IPX, DMLP_FAMILY_BIT_IPX, true},
                               {VXTRANS_FAMILY_9707, DMLP_FAMILY_BIT_9707, true},
                               {VXTRANS_FAMILY_9A21, DMLP_FAMILY_BIT_9A21, false}};

void Answer(DmlpMessage* message, DmlpStatus status)
{
    message->status = status;
    if (message->event != nullptr)
        SetEvent(message->event);
    else
        DmlpFreeMessage(message);
}

void QueryTransports()
{
    uint32_t available = 0, capable = 0;
    for (const FamilyRow& row : kFamilies) {
        VxTransInfo info = {row.family, 0, 0};
        if (VxTransQueryTransport(1, &info) >= 0 && info.availability == 1) {
            available |= row.bit;
            if (row.eventPort)
                capable |= row.bit;
        }
    }
    g_dmlp.available = available;
    g_dmlp.eventCapable = capable;
}

// Transports, plug-in and availability go back to their state before the start.
void ReleaseRuntime()
{
    for (const FamilyRow& row : kFamilies) {
        if (g_dmlp.available & row.bit) {
            VxTransInfo info = {row.family, 0, 0};
            VxTransReleaseTransport(1, &info);
        }
    }
    DmlpUnloadRouting();
    g_dmlp.available = 0;
    g_dmlp.eventCapable = 0;
}

void SetWorkerState(uint32_t state)
{
    EnterCriticalSection(&g_dmlp.workerLock);
    g_dmlp.workerState = state;
    LeaveCriticalSection(&g_dmlp.workerLock);
}

void StopWorker(DmlpMessage* message)
{
    SetWorkerState(DMLP_WORKER_STOPPING);
    // Callers still waiting are released first; their notices run before the barrier below.
    while (DmlpBindingRecord* binding = g_dmlp.bindings) {
        DmlpRemoveBinding(binding);
        binding->state = DMLP_STATE_CLOSED;
        if (binding->connecting != nullptr) {
            DmlpComplete(binding->connecting, DMLP_BINDING_CLOSED, 0, nullptr);
            binding->connecting = nullptr;
        }
        DmlpFailPending(binding, DMLP_BINDING_CLOSED);
        VxTransCloseEndpoint(binding->endpoint);
        DmlpFreeBinding(binding);
    }
    DmlpStatus dummy;
    if (DmlpMessage* barrier = DmlpNewMessage(DMLP_MSG_STOP, &dummy))
        DmlpPostToNotifier(barrier, true);
    DmlpCancelTimer();
    ReleaseRuntime();
    SetWorkerState(DMLP_WORKER_NONE);
    Answer(message, DMLP_SUCCESS);
}

// A record the worker did not handle still owns its encoded request.
void FreeUnposted(DmlpMessage* message)
{
    if (message->id == DMLP_MSG_REQUEST || message->id == DMLP_MSG_RAW_SEND)
        DmlpFree(message->u.request.frame);
    DmlpFreeMessageParts(message);
    DmlpFreeMessage(message);
}

// After the stop, what is still queued (transport notices, deferred steps) is freed unhandled.
void Discard(uint32_t id, void* record)
{
    if (id == DMLP_MSG_DEFERRED) {
        DmlpFree(record);
        return;
    }
    if (record == nullptr || id == DMLP_MSG_TIMER || id == DMLP_MSG_RESUME)
        return;
    DmlpMessage* message = (DmlpMessage*)record;
    if (id == DMLP_MSG_STOP) {  // the flush of DMLP_Terminate
        Answer(message, DMLP_SUCCESS);
        return;
    }
    if (id == DMLP_MSG_RECEIVED)
        DmlpFree(message->u.received.block);
    if (message->event != nullptr) {
        DmlpFreeMessageParts(message);
        Answer(message, DMLP_NOT_AVAILABLE);
    } else {
        FreeUnposted(message);
    }
}

intptr_t WorkerProc(VxSrvcThread thread, uint32_t id, uintptr_t wparam, void* record)
{
    if (VxTransPreDispatch(thread, id, wparam, record) != 0)
        return 0;
    DmlpMessage* message = (DmlpMessage*)record;
    if (id == DMLP_MSG_START) {
        uint64_t instance;
        VxSrvcGetInstanceId(&instance);
        EnterCriticalSection(&g_dmlp.workerLock);
        // A start abandoned by a time-out stays abandoned.
        const bool started = g_dmlp.workerState == DMLP_WORKER_STARTING;
        if (started)
            g_dmlp.workerState = DMLP_WORKER_RUNNING;
        LeaveCriticalSection(&g_dmlp.workerLock);
        Answer(message, started ? DMLP_SUCCESS : DMLP_INTERNAL_FAILURE);
        return 0;
    }
    if (g_dmlp.workerState == DMLP_WORKER_NONE) {
        Discard(id, record);
        return 0;
    }
    switch (id) {
    case DMLP_MSG_STOP: StopWorker(message); break;
    case DMLP_MSG_BIND: DmlpHandleBind(message); break;
    case DMLP_MSG_UNBIND: DmlpHandleUnbind(message); break;
    case DMLP_MSG_SUBSCRIBE: DmlpHandleSubscribe(message); break;
    case DMLP_MSG_UNSUBSCRIBE: DmlpHandleUnsubscribe(message); break;
    case DMLP_MSG_DISCOVER: DmlpHandleDiscover(message); break;
    case DMLP_MSG_GET_EP_ADDRESS: DmlpHandleGetEPAddress(message); break;
    case DMLP_MSG_GET_EP_PROPERTY: DmlpHandleGetEPProperty(message); break;
    case DMLP_MSG_SET_EP_PROPERTY: DmlpHandleSetEPProperty(message); break;
    case DMLP_MSG_REQUEST: DmlpHandleRequest(message); break;
    case DMLP_MSG_RAW_SEND: DmlpHandleRawSend(message); break;
    case DMLP_MSG_TIMER: DmlpHandleTimer((uint32_t)wparam, (uint32_t)(uintptr_t)record); break;
    case DMLP_MSG_RECEIVED: DmlpHandleReceived(message); break;
    case DMLP_MSG_STATE: DmlpHandleState(message); break;
    case DMLP_MSG_RESIZE: DmlpHandleResize(message); break;
    case DMLP_MSG_RESUME: DmlpHandleResume(wparam); break;
    case DMLP_MSG_DEFERRED: {
        const DmlpDeferredCall* call = (const DmlpDeferredCall*)record;
        call->function(call);
        DmlpFree(record);
        break;
    }
    default: Discard(id, record); break;
    }
    return 0;
}

void DeliverCompletion(DmlpMessage* notice)
{
    if (notice->function != nullptr)
        notice->function(DmlpBinding(notice->binding), notice->u.completion.method, notice->context, notice->status,
                         notice->u.completion.result);
    else if (notice->u.completion.result != nullptr)
        DMLP_ReleaseParam(notice->u.completion.result);
}

// A block that no callback takes is released here.
void DeliverEvent(DmlpMessage* notice)
{
    if (notice->u.event.function != nullptr)
        notice->u.event.function(&notice->u.event.sender, notice->u.event.context, notice->u.event.event);
    else
        DMLP_ReleaseParam(notice->u.event.event);
}

intptr_t NotifierProc(VxSrvcThread, uint32_t id, uintptr_t, void* record)
{
    DmlpMessage* message = (DmlpMessage*)record;
    switch (id) {
    case DMLP_MSG_START: {
        uint64_t instance;
        VxSrvcGetInstanceId(&instance);
        t_onNotifier = true;
        Answer(message, DMLP_SUCCESS);
        break;
    }
    case DMLP_MSG_STOP:
    case DMLP_MSG_UNBIND: Answer(message, DMLP_SUCCESS); break;
    case DMLP_MSG_COMPLETION:
        DeliverCompletion(message);
        DmlpFreeMessage(message);
        break;
    case DMLP_MSG_EVENT:
        DeliverEvent(message);
        DmlpFreeMessage(message);
        break;
    default: DmlpFree(record); break;
    }
    return 0;
}

bool WaitForStart(VxSrvcThread thread, DmlpMessage* start)
{
    if (VxSrvcPostMessage(thread, DMLP_MSG_START, 0, start) < 0)
        return false;
    return WaitForSingleObject(start->event, kStartAnswerMs) == WAIT_OBJECT_0 && start->status == DMLP_SUCCESS;
}

void DestroyThreads()
{
    if (g_dmlp.worker != nullptr)
        VxSrvcDestroyMsgThread(g_dmlp.worker);
    if (g_dmlp.notifier != nullptr)
        VxSrvcDestroyMsgThread(g_dmlp.notifier);
    g_dmlp.worker = nullptr;
    g_dmlp.notifier = nullptr;
}

void ClearState()
{
    g_dmlp.worker = nullptr;
    g_dmlp.notifier = nullptr;
    g_dmlp.workerId = 0;
    g_dmlp.notifierId = 0;
    g_dmlp.bindingCounter = 0;
    g_dmlp.bindings = nullptr;
    g_dmlp.deadlines = nullptr;
    g_dmlp.deadlinesTail = nullptr;
    g_dmlp.timer = 0;
    g_dmlp.armedDeadline = 0;
    g_dmlp.timerArmed = false;
    memset(g_dmlp.eventPorts, 0, sizeof g_dmlp.eventPorts);
    g_dmlp.workerState = DMLP_WORKER_NONE;
    g_dmlp.available = 0;
    g_dmlp.eventCapable = 0;
}

// Starts runtime, transports, plug-in and both threads; on failure undoes all of it (the
// threads are joined, so the start record is freed here, whoever handled it late).
DmlpStatus StartLibrary()
{
    memcpy(g_dmlp.application, "APPI", 4);
    if (VxSrvcStartup(g_dmlp.application) < 0)
        return DMLP_INTERNAL_FAILURE;
    uint64_t instance = 0;
    VxSrvcGetInstanceId(&instance);
    g_dmlp.instance = instance;
    ClearState();
    DmlpCoderInitialize();
    QueryTransports();
    DmlpLoadRouting();

    DmlpStatus status;
    DmlpMessage* start = DmlpNewMessage(DMLP_MSG_START, &status);
    HANDLE event = start != nullptr ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
    bool started = false;
    if (event != nullptr) {
        start->event = event;
        SetWorkerState(DMLP_WORKER_STARTING);
        started = VxSrvcCreateMsgThread(&g_dmlp.worker, &g_dmlp.workerId, WorkerProc) >= 0 &&
                  WaitForStart(g_dmlp.worker, start);
        if (started) {
            ResetEvent(event);
            start->status = 0;
            started = VxSrvcCreateMsgThread(&g_dmlp.notifier, &g_dmlp.notifierId, NotifierProc) >= 0 &&
                      WaitForStart(g_dmlp.notifier, start);
        }
    }
    if (!started) {
        SetWorkerState(DMLP_WORKER_NONE);
        DestroyThreads();
        ReleaseRuntime();
        VxSrvcCleanup();
        g_dmlp.instance = 0;
    }
    if (event != nullptr)
        CloseHandle(event);
    if (start != nullptr) {
        start->event = nullptr;
        DmlpFreeMessage(start);
    }
    return started ? DMLP_SUCCESS : DMLP_INTERNAL_FAILURE;
}

// Stops the worker (which releases every binding), flushes what was queued behind the stop, and
// ends both threads and the runtime.
DmlpStatus StopLibrary()
{
    DmlpStatus status;
    DmlpMessage* stop = DmlpNewMessage(DMLP_MSG_STOP, &status);
    if (stop == nullptr)
        return status;
    stop->mode = DMLP_MODE_SYNC;
    status = DmlpPostToWorker(stop);
    DmlpStatus flushStatus;
    if (DmlpMessage* flush = DmlpNewMessage(DMLP_MSG_STOP, &flushStatus)) {
        flush->event = DmlpCallerEvent();
        if (flush->event != nullptr && VxSrvcPostMessage(g_dmlp.worker, DMLP_MSG_STOP, 0, flush) >= 0)
            WaitForSingleObject(flush->event, INFINITE);
        DmlpFreeMessage(flush);
    }
    DestroyThreads();
    VxSrvcCleanup();
    return status;
}

} // namespace

// ---- Exports ---------------------------------------------------------------------------------------

DmlpStatus DMLP_Initialize(uint8_t version, void*, DmlpInstance* instance)
{
    if (version != DMLP_INTERFACE_VERSION)
        return DMLP_NOT_AVAILABLE;
    if (instance == nullptr)
        return DMLP_BAD_PARAMETER;
    EnterCriticalSection(&g_dmlp.startLock);
    DmlpStatus status = DMLP_SUCCESS;
    if (g_dmlp.userCount == 0)
        status = StartLibrary();
    if (status == DMLP_SUCCESS) {
        ++g_dmlp.userCount;
        *instance = g_dmlp.instance;
    }
    LeaveCriticalSection(&g_dmlp.startLock);
    return status;
}

DmlpStatus DMLP_Terminate(DmlpInstance instance)
{
    if (instance != g_dmlp.instance)
        return DMLP_WRONG_INSTANCE;
    EnterCriticalSection(&g_dmlp.startLock);
    DmlpStatus status = DMLP_SUCCESS;
    if (g_dmlp.userCount > 1) {
        --g_dmlp.userCount;
    } else if (g_dmlp.userCount == 1) {
        // The stop waits for the notification thread, which therefore cannot stop the library.
        if (DmlpOnNotifier()) {
            status = DMLP_INTERNAL_FAILURE;
        } else {
            g_dmlp.userCount = 0;
            status = StopLibrary();
        }
    }
    LeaveCriticalSection(&g_dmlp.startLock);
    return status;
}

// ---- Messages and posting ------------------------------------------------------------------------------

DmlpMessage* DmlpNewMessage(uint32_t id, DmlpStatus* status)
{
    bool known = false;
    for (uint32_t recordId : kRecordIds)
        known = known || recordId == id;
    if (!known) {
        *status = DMLP_BAD_PARAMETER;
        return nullptr;
    }
    DmlpMessage* message = (DmlpMessage*)DmlpAlloc(sizeof(DmlpMessage));
    if (message == nullptr) {
        *status = DMLP_OUT_OF_MEMORY;
        return nullptr;
    }
    memset(message, 0, sizeof *message);
    memcpy(message->tag, "RQTG", 4);
    message->id = id;
    *status = DMLP_SUCCESS;
    return message;
}

DmlpMessage* DmlpNewCallerMessage(uint32_t id, uint8_t mode, uint64_t binding, const DmlpCallback* callback,
                                  DmlpStatus* status)
{
    DmlpMessage* message = DmlpNewMessage(id, status);
    if (message == nullptr)
        return nullptr;
    message->mode = mode;
    message->binding = binding;
    if (callback != nullptr) {
        message->function = callback->function.result;
        message->context = callback->context;
    }
    return message;
}

void DmlpFreeMessage(DmlpMessage* message) { DmlpFree(message); }

bool DmlpOnNotifier(void) { return t_onNotifier; }

namespace {

// One event per thread serves all its synchronous posts: each is set exactly once, by the
// answer the thread waits for.
struct CallerEvent {
    HANDLE event = nullptr;
    ~CallerEvent()
    {
        if (event != nullptr)
            CloseHandle(event);
    }
};
thread_local CallerEvent t_callerEvent;

} // namespace

HANDLE DmlpCallerEvent(void)
{
    if (t_callerEvent.event == nullptr)
        t_callerEvent.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return t_callerEvent.event;
}

bool DmlpRunning(void) { return g_dmlp.workerState == DMLP_WORKER_RUNNING; }

DmlpStatus DmlpPostToWorker(DmlpMessage* message)
{
    const bool wait = message->mode == DMLP_MODE_SYNC;
    if (wait && DmlpOnNotifier()) {
        FreeUnposted(message);
        return DMLP_INTERNAL_FAILURE;
    }
    EnterCriticalSection(&g_dmlp.workerLock);
    if (g_dmlp.workerState != DMLP_WORKER_RUNNING) {
        LeaveCriticalSection(&g_dmlp.workerLock);
        FreeUnposted(message);
        return DMLP_NOT_AVAILABLE;
    }
    if (wait) {
        message->event = DmlpCallerEvent();
        if (message->event == nullptr) {
            LeaveCriticalSection(&g_dmlp.workerLock);
            FreeUnposted(message);
            return DMLP_INTERNAL_FAILURE;
        }
    }
    // Once posted, an asynchronous record belongs to the worker: it is not touched again.
    const HANDLE event = message->event;
    const uint32_t id = message->id;
    const bool posted = VxSrvcPostMessage(g_dmlp.worker, id, 0, message) >= 0;
    // Nothing is accepted behind the stop: what was posted before it is answered by it, what
    // comes after is refused here.
    if (posted && id == DMLP_MSG_STOP)
        g_dmlp.workerState = DMLP_WORKER_STOPPING;
    LeaveCriticalSection(&g_dmlp.workerLock);
    DmlpStatus status = posted ? DMLP_SUCCESS : DMLP_OUT_OF_MEMORY;
    if (posted && wait) {
        WaitForSingleObject(event, INFINITE);
        status = message->status;
    }
    if (!posted)
        FreeUnposted(message);
    else if (wait)
        DmlpFreeMessage(message);
    return status;
}

bool DmlpPostInternal(uint32_t id, uintptr_t wparam, void* record)
{
    EnterCriticalSection(&g_dmlp.workerLock);
    const bool alive = g_dmlp.workerState != DMLP_WORKER_NONE && g_dmlp.worker != nullptr;
    const bool posted = alive && VxSrvcPostMessage(g_dmlp.worker, id, wparam, record) >= 0;
    LeaveCriticalSection(&g_dmlp.workerLock);
    return posted;
}

DmlpStatus DmlpPostToNotifier(DmlpMessage* message, bool wait)
{
    if (wait) {
        message->event = DmlpCallerEvent();
        if (message->event == nullptr) {
            DmlpFreeMessage(message);
            return DMLP_OUT_OF_MEMORY;
        }
    }
    if (VxSrvcPostMessage(g_dmlp.notifier, message->id, 0, message) < 0) {
        if (message->id == DMLP_MSG_COMPLETION && message->u.completion.result != nullptr)
            DMLP_ReleaseParam(message->u.completion.result);
        if (message->id == DMLP_MSG_EVENT)
            DMLP_ReleaseParam(message->u.event.event);
        DmlpFreeMessage(message);
        return DMLP_OUT_OF_MEMORY;
    }
    if (wait) {
        WaitForSingleObject(message->event, INFINITE);
        DmlpFreeMessage(message);
    }
    return DMLP_SUCCESS;
}

void DmlpComplete(DmlpMessage* caller, DmlpStatus status, uint16_t method, void* result)
{
    if (caller->mode == DMLP_MODE_SYNC) {
        caller->status = status;
        SetEvent(caller->event);
        return;
    }
    DmlpStatus allocated;
    DmlpMessage* notice = DmlpNewMessage(DMLP_MSG_COMPLETION, &allocated);
    if (notice == nullptr) {
        if (result != nullptr)
            DMLP_ReleaseParam(result);
    } else {
        notice->binding = caller->binding;
        notice->status = status;
        notice->function = caller->function;
        notice->context = caller->context;
        notice->u.completion.method = method;
        notice->u.completion.result = result;
        DmlpPostToNotifier(notice, false);
    }
    DmlpFreeMessage(caller);
}

bool DmlpDefer(DmlpDeferredFn function, uint64_t a0, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    DmlpDeferredCall* call = (DmlpDeferredCall*)DmlpAlloc(sizeof(DmlpDeferredCall));
    if (call == nullptr)
        return false;
    memcpy(call->tag, "SGNL", 4);
    call->function = function;
    call->args[0] = a0;
    call->args[1] = a1;
    call->args[2] = a2;
    call->args[3] = a3;
    call->args[4] = a4;
    if (!DmlpPostInternal(DMLP_MSG_DEFERRED, 0, call)) {
        DmlpFree(call);
        return false;
    }
    return true;
}

uint64_t DmlpNextHandle(void) { return ++g_lastHandle; }

uint64_t DmlpHandleOf(DmlpBinding binding) { return (uint64_t)(uintptr_t)binding; }

// ---- Parameter blocks ------------------------------------------------------------------------------------

DmlpParamBlock* DmlpNewParamBlock(void)
{
    DmlpParamBlock* block = (DmlpParamBlock*)DmlpAlloc(sizeof(DmlpParamBlock));
    if (block == nullptr)
        return nullptr;
    memset(block, 0, sizeof *block);
    memcpy(block->tag, DMLP_PARAM_TAG, 4);
    return block;
}

void DmlpFreeParamBlock(DmlpParamBlock* block)
{
    memset(block->tag, 0, 4);
    DmlpFree(block->data);
    DmlpFree(block);
}
