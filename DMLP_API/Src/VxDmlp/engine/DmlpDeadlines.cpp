// Deadlines: one list ordered by deadline over all bindings, one shared one-shot timer, resends
// and time-outs. Ticks compare by their signed 32-bit difference, so the wrap at 2^32 is harmless.
#include "DmlpEngine.h"

namespace {

// Deadlines this close to the armed one keep the armed timer.
const int32_t kTolerance = 5;
const uint32_t kOverdueDelay = 2;
const uint32_t kBusyDelay = 50;

int32_t Difference(uint32_t a, uint32_t b) { return (int32_t)(a - b); }

void OnTimer(VxSrvcTimer timer, uintptr_t deadline)
{
    DmlpPostInternal(DMLP_MSG_TIMER, timer, (void*)deadline);
}

void Arm(uint32_t deadline)
{
    const uint32_t now = VxSrvcGetTick();
    if (g_dmlp.timerArmed) {
        const bool close = Difference(deadline, g_dmlp.armedDeadline) <= kTolerance &&
                           Difference(g_dmlp.armedDeadline, deadline) <= kTolerance;
        const bool overdueButArmedSoon =
            Difference(deadline, now) < 0 && Difference(g_dmlp.armedDeadline, now) <= kTolerance;
        if (close || overdueButArmedSoon)
            return;
        const bool cancelled = VxSrvcCancelTimer(g_dmlp.timer) >= 0;
        g_dmlp.timerArmed = false;
        g_dmlp.armedDeadline = 0;
        // The timer that could not be cancelled has fired: its scan arms the next one.
        if (!cancelled)
            return;
    }
    const uint32_t delay = Difference(deadline, now) > 0 ? deadline - now : kOverdueDelay;
    VxSrvcTimer timer = 0;
    if (VxSrvcStartTimer(&timer, delay, OnTimer, deadline) < 0)
        return;
    g_dmlp.timer = timer;
    g_dmlp.armedDeadline = deadline;
    g_dmlp.timerArmed = true;
}

void ExpiryScan(const DmlpDeferredCall* call);

void ScheduleScan(uint32_t reference)
{
    // Without memory for the step the next insertion or timer scan picks the list up again.
    if (!DmlpDefer(ExpiryScan, reference) && !g_dmlp.timerArmed && g_dmlp.deadlines != nullptr)
        Arm(g_dmlp.deadlines->deadline);
}

void RetrySent(DmlpStatus status, uint32_t tick, uint64_t context, uint16_t requestId)
{
    DmlpBindingRecord* binding = DmlpFindBinding(context);
    DmlpPendingRequest* request = binding != nullptr ? DmlpFindPending(binding, requestId) : nullptr;
    if (request == nullptr)
        return;
    if (status != DMLP_SUCCESS) {
        DmlpFinishRequest(binding, request, status, nullptr);
        return;
    }
    ++request->transmissions;
    request->sendTime = tick;
    request->deadline = tick + binding->property.timeout;
    DmlpDeadlineInsert(request);
}

// One expired request: closed binding 21, a resend while transmissions remain, else the end.
void Expire(DmlpPendingRequest* request)
{
    DmlpBindingRecord* binding = DmlpFindBinding(request->binding);
    if (binding == nullptr || binding->state == DMLP_STATE_CLOSED) {
        if (binding != nullptr)
            DmlpFinishRequest(binding, request, DMLP_BINDING_CLOSED, nullptr);
        return;
    }
    DmlpReleaseSlot(binding, request->requestId);
    if (request->transmissions < binding->property.transmissions) {
        const DmlpStatus status = DmlpQueueSend(binding, request, request->frame, request->frameLength,
                                                RetrySent, binding->handle, false);
        if (status == DMLP_SUCCESS)
            return;
        const uint32_t now = VxSrvcGetTick();
        // A busy binding postpones the resend, but not beyond the time all transmissions had.
        const uint64_t allowed = (uint64_t)binding->property.transmissions * binding->property.timeout;
        if (status == DMLP_BUSY && (uint64_t)(uint32_t)(now - request->firstSendTime) < allowed) {
            request->deadline = now + kBusyDelay;
            DmlpDeadlineInsert(request);
            return;
        }
        DmlpFinishRequest(binding, request, status == DMLP_BUSY ? DMLP_TIMEOUT : status, nullptr);
        return;
    }
    if (binding->flags & DMLP_BINDING_DISCOVERY) {
        DmlpEndDiscovery(binding, request);
        return;
    }
    const DmlpStatus status = binding->peer.kind == DMLP_ADDRESS_9A21 ? DMLP_SUCCESS : DMLP_TIMEOUT;
    DmlpFinishRequest(binding, request, status, nullptr);
}

void ExpiryScan(const DmlpDeferredCall* call)
{
    const uint32_t reference = (uint32_t)call->args[0];
    DmlpPendingRequest* first = g_dmlp.deadlines;
    if (first == nullptr || Difference(first->deadline, reference) > 0) {
        if (!g_dmlp.timerArmed && first != nullptr)
            Arm(first->deadline);
        return;
    }
    DmlpDeadlineRemove(first);
    Expire(first);
    ScheduleScan(reference);
}

} // namespace

void DmlpDeadlineInsert(DmlpPendingRequest* request)
{
    // From the end: requests of one time-out arrive in deadline order and are appended in a step.
    DmlpPendingRequest* before = g_dmlp.deadlinesTail;
    while (before != nullptr && Difference(before->deadline, request->deadline) > 0)
        before = before->deadlinePrev;
    DmlpPendingRequest*& next = before != nullptr ? before->deadlineNext : g_dmlp.deadlines;
    request->deadlinePrev = before;
    request->deadlineNext = next;
    (next != nullptr ? next->deadlinePrev : g_dmlp.deadlinesTail) = request;
    next = request;
    request->inDeadlines = true;
    if (g_dmlp.deadlines == request)
        Arm(request->deadline);
}

void DmlpDeadlineRemove(DmlpPendingRequest* request)
{
    const bool wasFirst = g_dmlp.deadlines == request;
    (request->deadlinePrev != nullptr ? request->deadlinePrev->deadlineNext : g_dmlp.deadlines) = request->deadlineNext;
    (request->deadlineNext != nullptr ? request->deadlineNext->deadlinePrev : g_dmlp.deadlinesTail) =
        request->deadlinePrev;
    request->deadlineNext = nullptr;
    request->deadlinePrev = nullptr;
    request->inDeadlines = false;
    // An emptied list keeps its timer: at a steady request rate the next deadline lands within
    // the tolerance of the armed one, and a timer that finds nothing due costs one empty scan,
    // where cancelling and restarting would wake the timer thread twice per request.
    if (wasFirst && g_dmlp.deadlines != nullptr)
        Arm(g_dmlp.deadlines->deadline);
}

void DmlpStartDeadline(DmlpBindingRecord* binding, DmlpPendingRequest* request, uint32_t tick)
{
    request->transmissions = 1;
    request->sendTime = tick;
    request->firstSendTime = tick;
    request->deadline = tick + binding->property.timeout;
    DmlpDeadlineInsert(request);
}

void DmlpCancelTimer(void)
{
    if (g_dmlp.timerArmed)
        VxSrvcCancelTimer(g_dmlp.timer);
    g_dmlp.timerArmed = false;
    g_dmlp.armedDeadline = 0;
}

void DmlpHandleTimer(uint32_t timer, uint32_t deadline)
{
    // A timer replaced by a later arming has nothing more to say.
    if (g_dmlp.timerArmed && timer != g_dmlp.timer)
        return;
    g_dmlp.timerArmed = false;
    g_dmlp.armedDeadline = 0;
    ScheduleScan(deadline);
}
