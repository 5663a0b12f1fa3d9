// Receiving: the transport's callbacks, cutting frames out of the received bytes, and matching
// replies to their pending requests.
#include <string.h>

#include "DmlpEngine.h"

// ---- Transport callbacks (any thread: they only post) ----------------------------------------------------

namespace {

void PostState(uint32_t endpoint, int32_t value)
{
    DmlpStatus status;
    DmlpMessage* message = DmlpNewMessage(DMLP_MSG_STATE, &status);
    if (message == nullptr)
        return;
    message->u.state.endpoint = endpoint;
    message->u.state.value = value;
    if (!DmlpPostInternal(DMLP_MSG_STATE, 0, message))
        DmlpFreeMessage(message);
}

} // namespace

void DmlpOnReceive(uint32_t endpoint, const VxTransAddressPair* sender, const VxTransBuffer* buffer, int32_t result)
{
    // An empty block says nothing, except that a listener accepted a connection.
    const bool empty = buffer == nullptr || buffer->length == 0;
    const bool accepted = sender != nullptr && sender->connection != 0;
    if (result >= 0 && empty && !accepted)
        return;
    DmlpStatus status;
    DmlpMessage* message = DmlpNewMessage(DMLP_MSG_RECEIVED, &status);
    if (message == nullptr)
        return;
    message->u.received.endpoint = endpoint;
    message->u.received.status = result < 0 ? DMLP_TRANSPORT_FAILURE : DMLP_SUCCESS;
    if (sender != nullptr)
        message->u.received.sender = *sender;
    if (result >= 0 && !empty) {
        DmlpReceiveBlock* block = (DmlpReceiveBlock*)DmlpAlloc(sizeof(DmlpReceiveBlock) + buffer->length);
        if (block == nullptr) {
            DmlpFreeMessage(message);
            return;
        }
        block->next = nullptr;
        block->length = buffer->length;
        block->consumed = 0;
        memcpy(DmlpBlockData(block), VxTransBufferDataConst(buffer), buffer->length);
        message->u.received.block = block;
    }
    if (!DmlpPostInternal(DMLP_MSG_RECEIVED, 0, message)) {
        DmlpFree(message->u.received.block);
        DmlpFreeMessage(message);
    }
}

void DmlpOnState(uint32_t endpoint, int32_t value, void*) { PostState(endpoint, value); }

void DmlpOnStateData(uint32_t endpoint, void*, int32_t value, void*) { PostState(endpoint, value); }

// ---- The receive buffer ------------------------------------------------------------------------------------

void DmlpEmptyReceiveBuffer(DmlpReceiveBuffer* buffer)
{
    while (DmlpReceiveBlock* block = buffer->first) {
        buffer->first = block->next;
        DmlpFree(block);
    }
    buffer->last = nullptr;
    buffer->buffered = 0;
    buffer->frameLength = 0;
}

namespace {

void Append(DmlpReceiveBuffer* buffer, DmlpReceiveBlock* block)
{
    if (buffer->last != nullptr)
        buffer->last->next = block;
    else
        buffer->first = block;
    buffer->last = block;
    buffer->buffered += block->length;
}

// Copies count bytes from the front without consuming them.
void Peek(const DmlpReceiveBuffer* buffer, uint8_t* out, uint32_t count)
{
    for (const DmlpReceiveBlock* block = buffer->first; block != nullptr && count > 0; block = block->next) {
        const uint32_t available = block->length - block->consumed;
        const uint32_t take = available < count ? available : count;
        memcpy(out, DmlpBlockData((DmlpReceiveBlock*)block) + block->consumed, take);
        out += take;
        count -= take;
    }
}

void Consume(DmlpReceiveBuffer* buffer, uint32_t count, uint8_t* out)
{
    buffer->frameLength = 0;
    while (count > 0 && buffer->first != nullptr) {
        DmlpReceiveBlock* block = buffer->first;
        const uint32_t available = block->length - block->consumed;
        const uint32_t take = available < count ? available : count;
        if (out != nullptr) {
            memcpy(out, DmlpBlockData(block) + block->consumed, take);
            out += take;
        }
        block->consumed = (uint16_t)(block->consumed + take);
        buffer->buffered -= take;
        count -= take;
        if (block->consumed == block->length) {
            buffer->first = block->next;
            if (buffer->first == nullptr)
                buffer->last = nullptr;
            DmlpFree(block);
        }
    }
}

// After a bad header: one byte goes, then everything before the next 0xCD.
void Resynchronise(DmlpReceiveBuffer* buffer)
{
    Consume(buffer, 1, nullptr);
    while (DmlpReceiveBlock* block = buffer->first) {
        uint8_t* data = DmlpBlockData(block);
        const void* found = memchr(data + block->consumed, 0xCD, block->length - block->consumed);
        if (found != nullptr) {
            Consume(buffer, (uint32_t)((const uint8_t*)found - (data + block->consumed)), nullptr);
            return;
        }
        Consume(buffer, block->length - block->consumed, nullptr);
    }
}

bool ReadHeader(const uint8_t* bytes, uint32_t count, DmlpHeader* header)
{
    DmlpCursor cursor = {(uint8_t*)bytes, (int32_t)count};
    return DmlpDecodeHeader(header, &cursor) == DMLP_CODER_OK && header->magic == DMLP_HEADER_MAGIC;
}

// ---- Reply matching ----

const uint16_t kAcquireResource = 49;

// The AcquireResource data the decoder left in the received frame gets a block of its own, which
// the result's buffer describes; false without memory (the record then holds no data).
bool CopyResourceData(DmlpAcquireResourceResult* result)
{
    if (result->length == 0)
        return true;
    uint8_t* copy = (uint8_t*)DmlpAlloc(result->length);
    if (copy == nullptr) {
        result->data = nullptr;
        result->length = 0;
        return false;
    }
    memcpy(copy, result->data, result->length);
    result->data = copy;
    result->buffer.data = copy;
    result->buffer.size = (uint16_t)result->length;
    result->buffer.flags = DMLP_BUFFER_VALID | DMLP_BUFFER_LIBRARY;
    return true;
}

void AnswerRequest(DmlpBindingRecord* binding, const DmlpHeader* header, uint8_t* frame, uint32_t length)
{
    DmlpPendingRequest* request = DmlpFindPending(binding, header->requestId);
    if (request == nullptr || request->method != header->method)
        return;
    DmlpReleaseSlot(binding, request->requestId);
    if ((header->flags & DMLP_FLAG_STATUS) == 0) {
        DmlpFinishRequest(binding, request, DMLP_BAD_REPLY, nullptr);
        return;
    }
    const bool partial = (header->flags & DMLP_FLAG_MORE) != 0;
    DmlpParamBlock* block = nullptr;
    void* target = request->resultTarget;
    if (request->mode == DMLP_MODE_ASYNC) {
        block = DmlpNewParamBlock();
        if (block == nullptr) {
            DmlpDropRequest(binding, request);
            return;
        }
        target = block->handedOut.bytes;
    }
    DmlpDecodeContext context = {target, nullptr, 0};
    DmlpHeader decoded;
    DmlpCursor whole = {frame, (int32_t)length};
    DmlpCursor sent = {request->frame, (int32_t)request->frameLength};
    const bool decodedWell = target != nullptr && DmlpDecodeMessage(&decoded, &context, &whole, &sent) == DMLP_CODER_OK;
    if (!decodedWell) {
        if (block != nullptr)
            DmlpFreeParamBlock(block);
        DmlpFinishRequest(binding, request, DMLP_BAD_REPLY, nullptr);
        return;
    }
    if (request->method == kAcquireResource && !CopyResourceData((DmlpAcquireResourceResult*)target)) {
        if (block != nullptr)
            DmlpFreeParamBlock(block);
        DmlpFinishRequest(binding, request, DMLP_OUT_OF_MEMORY, nullptr);
        return;
    }
    // The decoder's own block travels with the parameter block and is released with it.
    if (block != nullptr && context.held != nullptr)
        block->data = context.held->data;
    if (block != nullptr && request->method == kAcquireResource)
        block->data = ((DmlpAcquireResourceResult*)target)->buffer.data;
    if (request->mode == DMLP_MODE_SYNC) {
        const DmlpStatus status = partial && header->status == DMLP_SUCCESS ? DMLP_PARTIAL_REPLY : header->status;
        DmlpFinishRequest(binding, request, status, nullptr);
        return;
    }
    const DmlpStatus status = partial && header->status == DMLP_SUCCESS ? DMLP_PARTIAL_REPLY_ASYNC : header->status;
    void* result = block->handedOut.bytes;
    // The engine's own requests take the first part as the answer.
    if (!partial || request->answered != nullptr) {
        DmlpFinishRequest(binding, request, status, result);
        return;
    }
    // A partial reply keeps the request waiting for the next part.
    if (request->inDeadlines)
        DmlpDeadlineRemove(request);
    request->deadline = VxSrvcGetTick() + binding->property.timeout;
    DmlpDeadlineInsert(request);
    DmlpMessage* caller = request->caller;
    DmlpStatus allocated;
    DmlpMessage* notice = DmlpNewMessage(DMLP_MSG_COMPLETION, &allocated);
    if (notice == nullptr) {
        DmlpFreeParamBlock(block);
        DmlpDropRequest(binding, request);
        return;
    }
    notice->binding = caller->binding;
    notice->status = status;
    notice->function = caller->function;
    notice->context = caller->context;
    notice->u.completion.method = request->method;
    notice->u.completion.result = result;
    DmlpPostToNotifier(notice, false);
}

void Route(DmlpBindingRecord* binding, const VxTransAddressPair* sender, uint8_t* frame, uint32_t length)
{
    DmlpHeader header;
    if (!ReadHeader(frame, length, &header))
        return;
    if (header.method == 10) {
        if (binding->flags & DMLP_BINDING_EVENT_PORT)
            DmlpDispatchEvent(binding, sender, frame, length);
        return;
    }
    if (binding->flags & DMLP_BINDING_DISCOVERY) {
        DmlpCollectDevice(binding, sender);
        return;
    }
    AnswerRequest(binding, &header, frame, length);
}

// Cuts and routes every whole frame buffered. Routing may free the binding (a discovery that
// ends): the loop then stops.
void CutFrames(DmlpBindingRecord* binding, DmlpReceiveBuffer* buffer, const VxTransAddressPair* sender)
{
    const uint64_t handle = binding->handle;
    for (;;) {
        if (buffer->frameLength == 0) {
            if (buffer->buffered < DMLP_HEADER_LENGTH)
                return;
            uint8_t bytes[DMLP_HEADER_LENGTH];
            Peek(buffer, bytes, sizeof bytes);
            DmlpHeader header;
            if (!ReadHeader(bytes, sizeof bytes, &header)) {
                Resynchronise(buffer);
                continue;
            }
            buffer->frameLength = DMLP_HEADER_LENGTH + header.bodyLength;
        }
        if (buffer->buffered < buffer->frameLength)
            return;
        const uint32_t length = buffer->frameLength;
        uint8_t* frame = (uint8_t*)DmlpAlloc(length);
        if (frame == nullptr)
            return;
        Consume(buffer, length, frame);
        Route(binding, sender, frame, length);
        DmlpFree(frame);
        if (DmlpFindBinding(handle) != binding)
            return;
    }
}

} // namespace

bool DmlpTakeBlock(DmlpBindingRecord* binding, DmlpReceiveBuffer* buffer, const VxTransAddressPair* sender,
                   DmlpReceiveBlock* block)
{
    const uint64_t handle = binding->handle;
    Append(buffer, block);
    CutFrames(binding, buffer, sender);
    return DmlpFindBinding(handle) == binding;
}

void DmlpHandleReceived(DmlpMessage* message)
{
    DmlpReceiveBlock* block = message->u.received.block;
    DmlpBindingRecord* binding = DmlpFindBindingByEndpoint(message->u.received.endpoint);
    const DmlpStatus status = message->u.received.status;
    const VxTransAddressPair sender = message->u.received.sender;
    DmlpFreeMessage(message);
    if (binding == nullptr || binding->state == DMLP_STATE_CLOSED) {
        DmlpFree(block);
        return;
    }
    if (DmlpHearsConnections(binding)) {
        DmlpConnectionReceived(binding, &sender, status, block);
        return;
    }
    if (status != DMLP_SUCCESS || block == nullptr) {
        DmlpFree(block);
        return;
    }
    // Each datagram is framed alone: a bad one cannot swallow the replies that follow it.
    if (DmlpTakeBlock(binding, &binding->receive, &sender, block) && !binding->connection)
        DmlpEmptyReceiveBuffer(&binding->receive);
}
