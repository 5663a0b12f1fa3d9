// Discovery: one Echo from a temporary datagram binding to a (broadcast) address, every distinct
// device that answers until the time-out collected, the list handed to the caller.
#include <string.h>

#include "DmlpEngine.h"

#define DMLP_DISCOVERY_PORT 47545
#define DMLP_DISCOVERY_TIMEOUT_MAX 30000
#define DMLP_DISCOVERY_CHUNK 10
// With more answers only the first ones are listed: the list's 16-bit size holds 253 addresses.
#define DMLP_DISCOVERY_LISTED_MAX 253

typedef struct DmlpDiscoveryChunk {
    struct DmlpDiscoveryChunk* next;
    uint16_t count;
    DmlpAddress devices[DMLP_DISCOVERY_CHUNK];
} DmlpDiscoveryChunk;

namespace {

const uint8_t kAnyNode[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

DmlpAddress DiscoveryPeer(const DmlpAddress* target)
{
    DmlpAddress peer = {};
    peer.kind = target->kind;
    if (target->kind == DMLP_ADDRESS_UDP) {
        static const uint8_t kZero[4] = {0, 0, 0, 0};
        static const uint8_t kBroadcast[4] = {255, 255, 255, 255};
        const bool any = memcmp(target->u.inet.address, kZero, 4) == 0;
        memcpy(peer.u.inet.address, any ? kBroadcast : target->u.inet.address, 4);
        peer.u.inet.port = DMLP_DISCOVERY_PORT;
    } else {
        memcpy(peer.u.ipx.node, kAnyNode, 6);
        memcpy(peer.u.ipx.network, target->u.ipx.network, 4);
        peer.u.ipx.socket = DMLP_DISCOVERY_PORT;
    }
    return peer;
}

bool SameDevice(const DmlpAddress* a, const DmlpAddress* b)
{
    if (a->kind == DMLP_ADDRESS_UDP)
        return memcmp(a->u.inet.address, b->u.inet.address, 4) == 0;
    return memcmp(a->u.ipx.node, b->u.ipx.node, 6) == 0;
}

uint32_t CountDevices(const DmlpBindingRecord* binding)
{
    uint32_t count = 0;
    for (const DmlpDiscoveryChunk* chunk = binding->discovered; chunk != nullptr; chunk = chunk->next)
        count += chunk->count;
    return count;
}

// The result block: the device list (none when nothing answered).
DmlpParamBlock* NewResult(const DmlpBindingRecord* binding)
{
    DmlpParamBlock* block = DmlpNewParamBlock();
    if (block == nullptr)
        return nullptr;
    DmlpDiscoveryResult* result = (DmlpDiscoveryResult*)block->handedOut.bytes;
    result->kind = binding->peer.kind;
    uint32_t count = CountDevices(binding);
    if (count > DMLP_DISCOVERY_LISTED_MAX)
        count = DMLP_DISCOVERY_LISTED_MAX;
    if (count == 0)
        return block;
    const uint32_t size = 8 + 32 * count;
    DmlpDeviceList* list = (DmlpDeviceList*)DmlpAlloc(size);
    if (list == nullptr) {
        DmlpFreeParamBlock(block);
        return nullptr;
    }
    memset(list, 0, size);
    for (const DmlpDiscoveryChunk* chunk = binding->discovered; chunk != nullptr; chunk = chunk->next) {
        for (uint16_t i = 0; i < chunk->count && list->count < count; ++i)
            list->devices[list->count++] = chunk->devices[i];
    }
    block->data = list;
    result->list = list;
    result->size = (uint16_t)size;
    result->buffer.data = list;
    result->buffer.size = (uint16_t)size;
    result->buffer.flags = DMLP_BUFFER_VALID | DMLP_BUFFER_LIBRARY;
    return block;
}

// Closes and frees a discovery binding that is still listed.
void CloseDiscovery(DmlpBindingRecord* binding)
{
    binding->state = DMLP_STATE_CLOSED;
    DmlpRemoveBinding(binding);
    VxTransCloseEndpoint(binding->endpoint);
    DmlpFreeBinding(binding);
}

// The Echo's outcome: the caller gets it and a binding still listed is closed. Unbind and stop
// free the binding themselves.
void Finished(void* context, DmlpStatus status, void* result)
{
    DmlpBindingRecord* binding = DmlpFindBinding((uint64_t)(uintptr_t)context);
    DmlpMessage* caller = binding != nullptr ? binding->discovering : nullptr;
    if (caller == nullptr) {
        if (result != nullptr)
            DMLP_ReleaseParam(result);
        return;
    }
    binding->discovering = nullptr;
    DmlpComplete(caller, status, 1, result);
    if (binding->state != DMLP_STATE_CLOSED)
        CloseDiscovery(binding);
}

void SendEcho(DmlpBindingRecord* binding)
{
    DmlpHeader header = {};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.flags = DMLP_FLAG_REPLY_WANTED;
    header.method = 1;
    const DmlpEchoParams echo = {};
    DmlpCursor frame = {nullptr, 0};
    DmlpStatus status = DMLP_INTERNAL_FAILURE;
    if (DmlpEncodeMessage(&header, &echo, &frame) == DMLP_CODER_OK)
        status = DmlpStartEngineRequest(binding, frame.ptr, (uint32_t)frame.count, 1, Finished,
                                        (void*)(uintptr_t)binding->handle);
    else
        DmlpFree(frame.ptr);
    if (status != DMLP_SUCCESS)
        Finished((void*)(uintptr_t)binding->handle, status, nullptr);
}

} // namespace

DmlpStatus DMLP_DiscoverAsync(const DmlpCallback* callback, const DmlpAddress* target, uint32_t timeout,
                              const DmlpAddress* local)
{
    if (callback == nullptr || target == nullptr || callback->kind != DMLP_CALLBACK_KIND ||
        (target->kind != DMLP_ADDRESS_UDP && target->kind != DMLP_ADDRESS_IPX) ||
        (local != nullptr && local->kind != target->kind))
        return DMLP_BAD_PARAMETER;
    if (!DmlpRunning() || (g_dmlp.available & DmlpFamilyBit(target->kind)) == 0)
        return DMLP_NOT_AVAILABLE;
    DmlpStatus status;
    DmlpMessage* message = DmlpNewCallerMessage(DMLP_MSG_DISCOVER, DMLP_MODE_ASYNC, 0, callback, &status);
    if (message == nullptr)
        return status;
    message->u.discover.target = *target;
    if (local != nullptr)
        message->u.discover.local = *local;
    message->u.discover.timeout =
        timeout > DMLP_DISCOVERY_TIMEOUT_MAX - 1 ? DMLP_DISCOVERY_TIMEOUT_MAX : (timeout < 2 ? 1 : timeout);
    return DmlpPostToWorker(message);
}

void DmlpHandleDiscover(DmlpMessage* message)
{
    DmlpBindingRecord* binding = (DmlpBindingRecord*)DmlpAlloc(sizeof(DmlpBindingRecord));
    if (binding == nullptr) {
        DmlpComplete(message, DMLP_OUT_OF_MEMORY, 1, nullptr);
        return;
    }
    memset(binding, 0, sizeof *binding);
    memcpy(binding->tag, "ENDP", 4);
    binding->handle = DmlpNextHandle();
    binding->peer = DiscoveryPeer(&message->u.discover.target);
    binding->property.timeout = message->u.discover.timeout;
    binding->property.transmissions = 1;
    binding->window = DMLP_WINDOW_DEFAULT;
    DmlpToTransport(&binding->peer, &binding->pair.peer, &binding->pair.protocol);
    if (message->u.discover.local.kind != 0) {
        uint32_t protocol;
        DmlpToTransport(&message->u.discover.local, &binding->pair.local, &protocol);
    }
    VxTransEndpointAddress local = {};
    const int32_t result = VxTransOpenConnection(g_dmlp.workerId, &binding->pair, VXTRANS_MODE_DATAGRAM,
                                                 DmlpOnReceive, DmlpOnStateData, DmlpOnState, &binding->endpoint,
                                                 &local, nullptr);
    if (result < 0) {
        DmlpFree(binding);
        DmlpComplete(message, DmlpOpenFailureStatus(result), 1, nullptr);
        return;
    }
    if (++g_dmlp.bindingCounter == 0)
        ++g_dmlp.bindingCounter;
    binding->id = g_dmlp.bindingCounter;
    binding->flags = DMLP_BINDING_DISCOVERY;
    binding->state = DMLP_STATE_CONNECTING;
    binding->pair.local = local.address;
    DmlpSelectLocal(binding->endpoint, &binding->pair);
    DmlpFromTransport(&binding->pair.local, binding->pair.protocol, binding->peer.kind, &binding->local);
    binding->discovering = message;
    binding->next = g_dmlp.bindings;
    g_dmlp.bindings = binding;
}

void DmlpDiscoveryNotice(DmlpBindingRecord* binding, int32_t value)
{
    if (value < 0) {
        DmlpMessage* caller = binding->discovering;
        binding->discovering = nullptr;
        CloseDiscovery(binding);
        DmlpComplete(caller, VXTRANS_LOW_WORD(value) == 12 ? DMLP_CONNECTION_REFUSED : DMLP_TRANSPORT_FAILURE, 1,
                     nullptr);
        return;
    }
    binding->state = DMLP_STATE_BOUND;
    uint16_t largest = 0;
    VxTransGetMaxChunk(binding->endpoint, &largest, 0);
    binding->largestChunk = largest;
    SendEcho(binding);
}

void DmlpCollectDevice(DmlpBindingRecord* binding, const VxTransAddressPair* sender)
{
    DmlpAddress device;
    if (!DmlpFromTransport(&sender->peer, sender->protocol, binding->peer.kind, &device) ||
        device.kind != binding->peer.kind)
        return;
    DmlpDiscoveryChunk** link = &binding->discovered;
    for (; *link != nullptr; link = &(*link)->next) {
        for (uint16_t i = 0; i < (*link)->count; ++i) {
            if (SameDevice(&(*link)->devices[i], &device))
                return;
        }
        if ((*link)->next == nullptr && (*link)->count < DMLP_DISCOVERY_CHUNK) {
            (*link)->devices[(*link)->count++] = device;
            return;
        }
    }
    DmlpDiscoveryChunk* chunk = (DmlpDiscoveryChunk*)DmlpAlloc(sizeof(DmlpDiscoveryChunk));
    if (chunk == nullptr)
        return;
    memset(chunk, 0, sizeof *chunk);
    chunk->devices[chunk->count++] = device;
    *link = chunk;
}

void DmlpEndDiscovery(DmlpBindingRecord* binding, DmlpPendingRequest* request)
{
    DmlpParamBlock* block = NewResult(binding);
    DmlpEmptyReceiveBuffer(&binding->receive);
    DmlpFinishRequest(binding, request, block != nullptr ? DMLP_SUCCESS : DMLP_OUT_OF_MEMORY,
                      block != nullptr ? block->handedOut.bytes : nullptr);
}

void DmlpReleaseDiscovery(DmlpBindingRecord* binding)
{
    while (DmlpDiscoveryChunk* chunk = binding->discovered) {
        binding->discovered = chunk->next;
        DmlpFree(chunk);
    }
    if (binding->discovering != nullptr)
        DmlpComplete(binding->discovering, DMLP_BINDING_CLOSED, 1, nullptr);
    binding->discovering = nullptr;
}
