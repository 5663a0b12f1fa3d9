// The request path: pending requests, the send queue with its pump and window, and the raw data
// path of DMLP_Send.
#include <string.h>

#include "DmlpEngine.h"

namespace {

#define DMLP_RAW_CHUNK 65514u
#define DMLP_RAW_HEAD 21u  // the header and the kind byte of an encoded Send

DmlpStatus Patch(uint8_t* frame, uint32_t length, uint32_t index, uint32_t value)
{
    DmlpCursor cursor = {frame, (int32_t)length};
    return DmlpPatchHeaderField(index, &cursor, &value) == DMLP_CODER_OK ? DMLP_SUCCESS : DMLP_INTERNAL_FAILURE;
}

// ---- Window slots ----

bool AcquireSlot(DmlpBindingRecord* binding, uint16_t requestId)
{
    if (binding->connection)
        return true;
    for (uint16_t slot = 0; slot < binding->window; ++slot) {
        if (binding->slots[slot] == requestId)
            return true;
    }
    if (binding->slotsInUse >= binding->window)
        return false;
    for (uint16_t slot = 0; slot < binding->window; ++slot) {
        if (binding->slots[slot] == 0) {
            binding->slots[slot] = requestId;
            ++binding->slotsInUse;
            return true;
        }
    }
    return false;
}

// ---- Send items ----

void DeliverSendDone(const DmlpDeferredCall* call)
{
    ((DmlpSendDone)call->args[0])((DmlpStatus)call->args[1], (uint32_t)call->args[2], call->args[3],
                                  (uint16_t)call->args[4]);
}

// Send completions always run as deferred calls, never inside the pump.
void DeferSendDone(DmlpSendDone done, DmlpStatus status, uint32_t tick, uint64_t context, uint16_t requestId)
{
    DmlpDefer(DeliverSendDone, (uint64_t)(uintptr_t)done, status, tick, context, requestId);
}

// An item leaves the queue: its request, when still pending, has one item less.
void ItemLeft(DmlpSendItem* item)
{
    if (item->request != nullptr)
        --item->request->queuedItems;
    DmlpFree(item);
}

// Removes the head item, completing it with status unless its request is gone.
void FinishHead(DmlpBindingRecord* binding, DmlpStatus status)
{
    DmlpSendItem* item = binding->queue;
    binding->queue = item->next;
    if (binding->queue == nullptr)
        binding->queueTail = nullptr;
    if (status != DMLP_SUCCESS)
        DmlpReleaseSlot(binding, item->requestId);
    if (!item->orphaned)
        DeferSendDone(item->done, status, VxSrvcGetTick(), item->context, item->requestId);
    ItemLeft(item);
}

// Removes the request's items not in flight; the one in flight sends nothing more. The queue is
// walked only for a request that has items in it.
void RemoveItemsOf(DmlpBindingRecord* binding, DmlpPendingRequest* request)
{
    DmlpSendItem* last = nullptr;
    for (DmlpSendItem** link = &binding->queue; *link != nullptr && request->queuedItems > 0;) {
        DmlpSendItem* item = *link;
        if (item->request != request) {
            last = item;
            link = &item->next;
        } else if (item->flying) {
            item->orphaned = true;
            item->request = nullptr;
            --request->queuedItems;
            last = item;
            link = &item->next;
        } else {
            *link = item->next;
            --request->queuedItems;
            DmlpFree(item);
        }
    }
    if (binding->queue == nullptr)
        binding->queueTail = nullptr;
    else if (last != nullptr && last->next == nullptr)
        binding->queueTail = last;
}

// Sends the head's next chunk: true when the pump must stop and wait.
bool SendNextChunk(DmlpBindingRecord* binding, DmlpSendItem* item)
{
    const uint32_t chunk = item->remaining < binding->largestChunk ? item->remaining : binding->largestChunk;
    VxTransBuffer* buffer = (VxTransBuffer*)binding->chunkBuffer;
    buffer->offset = 0;
    buffer->length = (uint16_t)chunk;
    memcpy(binding->chunkBuffer + sizeof(VxTransBuffer), item->data + (item->total - item->remaining), chunk);
    item->inFlight = chunk;
    item->flying = true;
    const int32_t result = VxTransSend(binding->endpoint, buffer, 0);
    if (result >= 0)
        return true;
    item->flying = false;
    if (VXTRANS_LOW_WORD(result) == 11) {
        binding->state = DMLP_STATE_BUSY;
        return true;
    }
    FinishHead(binding, DMLP_TRANSPORT_FAILURE);
    return false;
}

void CallHeldCompletion(DmlpBindingRecord* binding)
{
    if (binding->heldDone == nullptr)
        return;
    DeferSendDone(binding->heldDone, DMLP_SEND_AGAIN, VxSrvcGetTick(), binding->heldContext, binding->heldRequestId);
    binding->heldDone = nullptr;
    binding->heldContext = 0;
    binding->heldRequestId = 0;
}

} // namespace

void DmlpReleaseSlot(DmlpBindingRecord* binding, uint16_t requestId)
{
    for (uint16_t slot = 0; slot < binding->window; ++slot) {
        if (binding->slots[slot] != requestId)
            continue;
        const bool wasFull = binding->slotsInUse >= binding->window;
        binding->slots[slot] = 0;
        --binding->slotsInUse;
        if (wasFull && !binding->connection)
            DmlpPostInternal(DMLP_MSG_RESUME, (uintptr_t)binding->handle, nullptr);
        return;
    }
}

void DmlpHandleResume(uint64_t handle)
{
    DmlpBindingRecord* binding = DmlpFindBinding(handle);
    if (binding != nullptr && binding->state == DMLP_STATE_BOUND)
        DmlpSendPump(binding, 0);
}

DmlpStatus DmlpQueueSend(DmlpBindingRecord* binding, DmlpPendingRequest* request, const uint8_t* data, uint32_t length,
                         DmlpSendDone done, uint64_t context, bool hold)
{
    const uint16_t requestId = request->requestId;
    if (data == nullptr || length == 0 || done == nullptr || requestId == 0)
        return DMLP_BAD_PARAMETER;
    switch (binding->state) {
    case DMLP_STATE_BOUND: break;
    case DMLP_STATE_CONNECTING: return DMLP_CONNECTING;
    case DMLP_STATE_CLOSED: return DMLP_BINDING_CLOSED;
    case DMLP_STATE_BUSY:
        // A send without the hold flag leaves a held completion in place.
        if (hold) {
            binding->heldDone = done;
            binding->heldContext = context;
            binding->heldRequestId = requestId;
        }
        return DMLP_BUSY;
    default: return DMLP_INTERNAL_FAILURE;
    }
    DmlpSendItem* item = (DmlpSendItem*)DmlpAlloc(sizeof(DmlpSendItem));
    if (item == nullptr)
        return DMLP_OUT_OF_MEMORY;
    memset(item, 0, sizeof *item);
    memcpy(item->tag, "WVTG", 4);
    item->binding = binding->handle;
    item->request = request;
    item->requestId = requestId;
    item->done = done;
    item->context = context;
    item->data = data;
    item->total = length;
    item->remaining = length;
    const bool first = binding->queue == nullptr;
    if (first && binding->chunkBuffer == nullptr) {
        binding->chunkBuffer = (uint8_t*)DmlpAlloc(sizeof(VxTransBuffer) + binding->largestChunk);
        if (binding->chunkBuffer == nullptr) {
            DmlpFree(item);
            return DMLP_OUT_OF_MEMORY;
        }
    }
    ++request->queuedItems;
    if (first)
        binding->queue = item;
    else
        binding->queueTail->next = item;
    binding->queueTail = item;
    if (first)
        DmlpSendPump(binding, 0);
    return DMLP_SUCCESS;
}

void DmlpDropSendQueue(DmlpBindingRecord* binding)
{
    while (DmlpSendItem* item = binding->queue) {
        binding->queue = item->next;
        DmlpFree(item);
    }
    binding->queueTail = nullptr;
    for (DmlpPendingRequest* request = binding->pending; request != nullptr; request = request->next)
        request->queuedItems = 0;
}

void DmlpSendPump(DmlpBindingRecord* binding, int32_t event)
{
    if (event < 0) {
        if (VXTRANS_LOW_WORD(event) == 13) {
            while (binding->queue != nullptr)
                FinishHead(binding, DMLP_SEND_ABORTED);
            return;
        }
        if (binding->queue != nullptr)
            FinishHead(binding, DMLP_TRANSPORT_FAILURE);
    } else if (event == VXTRANS_NOTICE_SENT) {
        DmlpSendItem* head = binding->queue;
        if (head != nullptr && head->flying) {
            head->remaining = head->orphaned ? 0 : head->remaining - head->inFlight;
            head->flying = false;
        }
    } else if (event == VXTRANS_NOTICE_WRITABLE) {
        if (binding->state == DMLP_STATE_BUSY)
            binding->state = DMLP_STATE_BOUND;
        CallHeldCompletion(binding);
    }
    while (DmlpSendItem* head = binding->queue) {
        if (head->flying || binding->state != DMLP_STATE_BOUND)
            return;
        if (head->remaining == 0 || head->orphaned) {
            FinishHead(binding, DMLP_SUCCESS);
            continue;
        }
        if (head->remaining == head->total && !AcquireSlot(binding, head->requestId))
            return;
        if (SendNextChunk(binding, head))
            return;
    }
}

// ---- Pending requests ---------------------------------------------------------------------------------------

DmlpPendingRequest* DmlpFindPending(const DmlpBindingRecord* binding, uint16_t requestId)
{
    for (DmlpPendingRequest* request = binding->pendingById[requestId % DMLP_PENDING_BUCKETS].first; request != nullptr;
         request = request->bucketNext) {
        if (request->requestId == requestId)
            return request;
    }
    return nullptr;
}

void DmlpAddPending(DmlpBindingRecord* binding, DmlpPendingRequest* request)
{
    request->prev = binding->pendingTail;
    request->next = nullptr;
    if (binding->pendingTail != nullptr)
        binding->pendingTail->next = request;
    else
        binding->pending = request;
    binding->pendingTail = request;
    DmlpPendingBucket* bucket = &binding->pendingById[request->requestId % DMLP_PENDING_BUCKETS];
    request->bucketNext = nullptr;
    (bucket->last != nullptr ? bucket->last->bucketNext : bucket->first) = request;
    bucket->last = request;
}

namespace {

void UnlinkPending(DmlpBindingRecord* binding, DmlpPendingRequest* request)
{
    (request->prev != nullptr ? request->prev->next : binding->pending) = request->next;
    (request->next != nullptr ? request->next->prev : binding->pendingTail) = request->prev;
    DmlpPendingBucket* bucket = &binding->pendingById[request->requestId % DMLP_PENDING_BUCKETS];
    DmlpPendingRequest* before = nullptr;
    for (DmlpPendingRequest* at = bucket->first; at != nullptr; before = at, at = at->bucketNext) {
        if (at != request)
            continue;
        (before != nullptr ? before->bucketNext : bucket->first) = request->bucketNext;
        if (bucket->last == request)
            bucket->last = before;
        return;
    }
}

} // namespace

void DmlpDropRequest(DmlpBindingRecord* binding, DmlpPendingRequest* request)
{
    if (request->inDeadlines)
        DmlpDeadlineRemove(request);
    RemoveItemsOf(binding, request);
    UnlinkPending(binding, request);
    DmlpReleaseSlot(binding, request->requestId);
    if (request->caller != nullptr && request->mode == DMLP_MODE_ASYNC)
        DmlpFreeMessage(request->caller);
    DmlpFree(request->frame);
    DmlpFree(request->chunkMessage);
    const DmlpRequestAnswered answered = request->answered;
    void* context = request->answeredContext;
    memset(request->tag, 0, 4);
    DmlpFree(request);
    // An engine request dropped without an answer (no memory for it) still ends its operation.
    if (answered != nullptr)
        answered(context, DMLP_OUT_OF_MEMORY, nullptr);
}

void DmlpFinishRequest(DmlpBindingRecord* binding, DmlpPendingRequest* request, DmlpStatus status, void* result)
{
    DmlpMessage* caller = request->caller;
    const DmlpRequestAnswered answered = request->answered;
    void* context = request->answeredContext;
    request->caller = nullptr;
    request->answered = nullptr;
    DmlpDropRequest(binding, request);
    if (answered != nullptr)
        answered(context, status, result);
    else if (caller != nullptr)
        DmlpComplete(caller, status, caller->u.request.method, result);
}

namespace {

// Checks the binding of a request record; on failure completes the caller and frees the frame.
DmlpBindingRecord* RequestBinding(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    const DmlpStatus status = binding == nullptr ? DMLP_UNKNOWN_BINDING : DmlpBindingStateStatus(binding);
    if (status == DMLP_SUCCESS)
        return binding;
    DmlpFree(message->u.request.frame);
    DmlpComplete(message, status, message->u.request.method, nullptr);
    return nullptr;
}

DmlpPendingRequest* NewPending(DmlpBindingRecord* binding, DmlpMessage* message, uint16_t requestId)
{
    DmlpPendingRequest* request = (DmlpPendingRequest*)DmlpAlloc(sizeof(DmlpPendingRequest));
    if (request == nullptr)
        return nullptr;
    memset(request, 0, sizeof *request);
    memcpy(request->tag, "SDTG", 4);
    request->requestId = requestId;
    request->binding = binding->handle;
    request->method = message->u.request.method;
    request->mode = message->mode;
    request->resultTarget = message->u.request.result;
    request->frame = message->u.request.frame;
    request->frameLength = message->u.request.frameLength;
    request->caller = message;
    DmlpAddPending(binding, request);
    return request;
}

// Binding and request are looked up again: either may be gone by now.
DmlpPendingRequest* FindAgain(uint64_t handle, uint16_t requestId, DmlpBindingRecord** binding)
{
    *binding = DmlpFindBinding(handle);
    return *binding != nullptr ? DmlpFindPending(*binding, requestId) : nullptr;
}

void RequestSent(DmlpStatus status, uint32_t tick, uint64_t context, uint16_t requestId)
{
    DmlpBindingRecord* binding;
    DmlpPendingRequest* request = FindAgain(context, requestId, &binding);
    if (request == nullptr)
        return;
    if (status != DMLP_SUCCESS)
        DmlpFinishRequest(binding, request, status, nullptr);
    else if (request->replyWanted)
        DmlpStartDeadline(binding, request, tick);
    else
        DmlpDropRequest(binding, request);
}

// ---- Raw data chunks ----

void SendChunk(const DmlpDeferredCall* call);

void FailRaw(DmlpBindingRecord* binding, DmlpPendingRequest* request, DmlpStatus status)
{
    DmlpFinishRequest(binding, request, status, nullptr);
}

void ChunkSent(DmlpStatus status, uint32_t tick, uint64_t context, uint16_t requestId)
{
    DmlpBindingRecord* binding;
    DmlpPendingRequest* request = FindAgain(context, requestId, &binding);
    if (request == nullptr)
        return;
    if (status == DMLP_SUCCESS) {
        request->remaining -= request->chunk;
    } else if (status != DMLP_SEND_AGAIN) {
        FailRaw(binding, request, status);
        return;
    }
    if (request->remaining == 0) {
        DmlpFree(request->chunkMessage);
        request->chunkMessage = nullptr;
        DmlpStartDeadline(binding, request, tick);
        return;
    }
    if (!DmlpDefer(SendChunk, binding->handle, requestId))
        FailRaw(binding, request, DMLP_OUT_OF_MEMORY);
}

void SendChunk(const DmlpDeferredCall* call)
{
    DmlpBindingRecord* binding;
    DmlpPendingRequest* request = FindAgain(call->args[0], (uint16_t)call->args[1], &binding);
    if (request == nullptr)
        return;
    if (request->remaining == 0) {
        FailRaw(binding, request, DMLP_INTERNAL_FAILURE);
        return;
    }
    const uint32_t total = request->caller != nullptr ? request->caller->u.request.dataLength : 0;
    const uint32_t chunk = request->remaining < DMLP_RAW_CHUNK ? request->remaining : DMLP_RAW_CHUNK;
    const bool last = request->remaining <= DMLP_RAW_CHUNK;
    request->chunk = chunk;
    uint8_t* message = request->chunkMessage;
    memcpy(message, request->frame, DMLP_RAW_HEAD);
    memcpy(message + DMLP_RAW_HEAD, request->data + (total - request->remaining), chunk);
    Patch(message, DMLP_RAW_HEAD + chunk, DMLP_FIELD_FLAGS, last ? DMLP_FLAG_REPLY_WANTED : DMLP_FLAG_MORE);
    Patch(message, DMLP_RAW_HEAD + chunk, DMLP_FIELD_BODY_LENGTH, chunk + 1);
    const DmlpStatus status =
        DmlpQueueSend(binding, request, message, DMLP_RAW_HEAD + chunk, ChunkSent, binding->handle, true);
    if (status != DMLP_SUCCESS && status != DMLP_BUSY)
        FailRaw(binding, request, status);
}

} // namespace

void DmlpHandleRequest(DmlpMessage* message)
{
    DmlpBindingRecord* binding = RequestBinding(message);
    if (binding == nullptr)
        return;
    binding->flags |= message->u.request.requestClass;
    const uint16_t requestId = DmlpNextRequestId(binding);
    const bool replyWanted = !(binding->connection && message->mode == DMLP_MODE_ASYNC && message->function == nullptr);
    uint8_t* frame = message->u.request.frame;
    const uint32_t length = message->u.request.frameLength;
    Patch(frame, length, DMLP_FIELD_REQUEST_ID, requestId);
    Patch(frame, length, DMLP_FIELD_FLAGS, replyWanted ? DMLP_FLAG_REPLY_WANTED : 0);
    DmlpPendingRequest* request = NewPending(binding, message, requestId);
    if (request == nullptr) {
        DmlpFree(frame);
        DmlpComplete(message, DMLP_OUT_OF_MEMORY, message->u.request.method, nullptr);
        return;
    }
    request->replyWanted = replyWanted;
    const DmlpStatus status = DmlpQueueSend(binding, request, frame, length, RequestSent, binding->handle, false);
    if (status != DMLP_SUCCESS)
        DmlpFinishRequest(binding, request, status, nullptr);
}

DmlpStatus DmlpStartEngineRequest(DmlpBindingRecord* binding, uint8_t* frame, uint32_t length, uint16_t method,
                                  DmlpRequestAnswered answered, void* context)
{
    const uint16_t requestId = DmlpNextRequestId(binding);
    Patch(frame, length, DMLP_FIELD_REQUEST_ID, requestId);
    Patch(frame, length, DMLP_FIELD_FLAGS, DMLP_FLAG_REPLY_WANTED);
    DmlpPendingRequest* request = (DmlpPendingRequest*)DmlpAlloc(sizeof(DmlpPendingRequest));
    if (request == nullptr) {
        DmlpFree(frame);
        return DMLP_OUT_OF_MEMORY;
    }
    memset(request, 0, sizeof *request);
    memcpy(request->tag, "SDTG", 4);
    request->requestId = requestId;
    request->binding = binding->handle;
    request->method = method;
    request->mode = DMLP_MODE_ASYNC;
    request->replyWanted = true;
    request->frame = frame;
    request->frameLength = length;
    DmlpAddPending(binding, request);
    const DmlpStatus status = DmlpQueueSend(binding, request, frame, length, RequestSent, binding->handle, false);
    if (status != DMLP_SUCCESS) {
        DmlpDropRequest(binding, request);
        return status;
    }
    // Set only once queued: a refused request is the caller's to answer.
    request->answered = answered;
    request->answeredContext = context;
    return DMLP_SUCCESS;
}

void DmlpHandleRawSend(DmlpMessage* message)
{
    DmlpBindingRecord* binding = RequestBinding(message);
    if (binding == nullptr)
        return;
    binding->flags |= message->u.request.requestClass;
    const uint16_t requestId = DmlpNextRequestId(binding);
    Patch(message->u.request.frame, message->u.request.frameLength, DMLP_FIELD_REQUEST_ID, requestId);
    DmlpPendingRequest* request = NewPending(binding, message, requestId);
    if (request == nullptr) {
        DmlpFree(message->u.request.frame);
        DmlpComplete(message, DMLP_OUT_OF_MEMORY, message->u.request.method, nullptr);
        return;
    }
    request->replyWanted = true;
    request->data = message->u.request.data;
    request->remaining = message->u.request.dataLength;
    request->chunkMessage = (uint8_t*)DmlpAlloc(DMLP_SIZE_MAX);
    if (request->chunkMessage == nullptr || request->frameLength < DMLP_RAW_HEAD) {
        DmlpFinishRequest(binding, request,
                          request->chunkMessage == nullptr ? DMLP_OUT_OF_MEMORY : DMLP_INTERNAL_FAILURE, nullptr);
        return;
    }
    if (!DmlpDefer(SendChunk, binding->handle, requestId))
        DmlpFinishRequest(binding, request, DMLP_OUT_OF_MEMORY, nullptr);
}
