// Bindings: bind and unbind, the small queries, the window size and the transport's notices.
#include <string.h>

#include "DmlpEngine.h"

// ---- Addresses ---------------------------------------------------------------------------------------------

uint32_t DmlpFamilyBit(uint16_t kind)
{
    switch (kind) {
    case DMLP_ADDRESS_TCP:
    case DMLP_ADDRESS_UDP: return DMLP_FAMILY_BIT_INET;
    case DMLP_ADDRESS_IPX:
    case DMLP_ADDRESS_SPX: return DMLP_FAMILY_BIT_IPX;
    case DMLP_ADDRESS_9707:
    case DMLP_ADDRESS_9707_SELECTOR: return DMLP_FAMILY_BIT_9707;
    case DMLP_ADDRESS_9A21: return DMLP_FAMILY_BIT_9A21;
    default: return 0;
    }
}

bool DmlpIsConnectionKind(uint16_t kind)
{
    return kind == DMLP_ADDRESS_TCP || kind == DMLP_ADDRESS_SPX || kind == DMLP_ADDRESS_9707 ||
           kind == DMLP_ADDRESS_9A21 || kind == DMLP_ADDRESS_9707_SELECTOR;
}

bool DmlpToTransport(const DmlpAddress* address, VxTransAddress* transport, uint32_t* protocol)
{
    memset(transport, 0, sizeof *transport);
    DmlpTransportAddress* out = (DmlpTransportAddress*)transport;
    switch (address->kind) {
    case DMLP_ADDRESS_TCP:
    case DMLP_ADDRESS_UDP:
        out->family = VXTRANS_FAMILY_INET;
        out->u.inet.port = DmlpHostToWire16(address->u.inet.port);
        memcpy(out->u.inet.address, address->u.inet.address, 4);
        *protocol = address->kind == DMLP_ADDRESS_TCP ? VXTRANS_PROTOCOL_TCP : VXTRANS_PROTOCOL_UDP;
        return true;
    case DMLP_ADDRESS_IPX:
    case DMLP_ADDRESS_SPX:
        out->family = VXTRANS_FAMILY_IPX;
        memcpy(out->u.ipx.network, address->u.ipx.network, 4);
        memcpy(out->u.ipx.node, address->u.ipx.node, 6);
        out->u.ipx.socket = DmlpHostToWire16(address->u.ipx.socket);
        *protocol = address->kind == DMLP_ADDRESS_IPX ? 1000 : 1256;
        return true;
    case DMLP_ADDRESS_9707:
        out->family = VXTRANS_FAMILY_9707;
        out->u.family9707.selector = address->u.family9707.selector;
        memcpy(out->u.family9707.address, address->u.family9707.address, 16);
        *protocol = 270;
        return true;
    case DMLP_ADDRESS_9707_SELECTOR:
        out->family = VXTRANS_FAMILY_9707;
        out->u.family9707.selector = address->u.kind15.selector;
        memcpy(out->u.family9707.address, address->u.kind15.address, 16);
        *protocol = 270;
        return true;
    case DMLP_ADDRESS_9A21:
        out->family = VXTRANS_FAMILY_9A21;
        memcpy(out->u.family9A21.address, &address->u.family9A21.address, 8);
        *protocol = 0xC601;
        return true;
    default: return false;
    }
}

bool DmlpFromTransport(const VxTransAddress* transport, uint32_t protocol, uint16_t bindingKind,
                       DmlpAddress* address)
{
    memset(address, 0, sizeof *address);
    const DmlpTransportAddress* in = (const DmlpTransportAddress*)transport;
    switch (protocol) {
    case VXTRANS_PROTOCOL_TCP:
    case VXTRANS_PROTOCOL_UDP:
        address->kind = protocol == VXTRANS_PROTOCOL_TCP ? DMLP_ADDRESS_TCP : DMLP_ADDRESS_UDP;
        memcpy(address->u.inet.address, in->u.inet.address, 4);
        address->u.inet.port = DmlpWireToHost16(in->u.inet.port);
        return true;
    case 1000:
    case 1256:
        address->kind = protocol == 1000 ? DMLP_ADDRESS_IPX : DMLP_ADDRESS_SPX;
        memcpy(address->u.ipx.network, in->u.ipx.network, 4);
        memcpy(address->u.ipx.node, in->u.ipx.node, 6);
        address->u.ipx.socket = DmlpWireToHost16(in->u.ipx.socket);
        return true;
    case 270:
        if (bindingKind == DMLP_ADDRESS_9707_SELECTOR) {
            address->kind = DMLP_ADDRESS_9707_SELECTOR;
            address->u.kind15.lead = 1;
            memcpy(address->u.kind15.address, in->u.family9707.address, 16);
            address->u.kind15.selector = in->u.family9707.selector;
        } else {
            address->kind = DMLP_ADDRESS_9707;
            address->u.family9707.selector = in->u.family9707.selector;
            memcpy(address->u.family9707.address, in->u.family9707.address, 16);
        }
        return true;
    case 0xC601:
        address->kind = DMLP_ADDRESS_9A21;
        memcpy(&address->u.family9A21.address, in->u.family9A21.address, 8);
        return true;
    default: return false;
    }
}

// ---- The binding list ---------------------------------------------------------------------------------------

DmlpBindingRecord* DmlpFindBinding(uint64_t handle)
{
    for (DmlpBindingRecord* binding = g_dmlp.bindings; binding != nullptr; binding = binding->next) {
        if (binding->handle == handle)
            return binding;
    }
    return nullptr;
}

DmlpBindingRecord* DmlpFindBindingByEndpoint(uint32_t endpoint)
{
    for (DmlpBindingRecord* binding = g_dmlp.bindings; binding != nullptr; binding = binding->next) {
        if (binding->endpoint == endpoint)
            return binding;
    }
    return nullptr;
}

void DmlpRemoveBinding(DmlpBindingRecord* binding)
{
    for (DmlpBindingRecord** link = &g_dmlp.bindings; *link != nullptr; link = &(*link)->next) {
        if (*link == binding) {
            *link = binding->next;
            binding->next = nullptr;
            return;
        }
    }
}

DmlpStatus DmlpBindingStateStatus(const DmlpBindingRecord* binding)
{
    switch (binding->state) {
    case DMLP_STATE_BOUND: return DMLP_SUCCESS;
    case DMLP_STATE_CONNECTING: return DMLP_CONNECTING;
    case DMLP_STATE_CLOSED: return DMLP_BINDING_CLOSED;
    case DMLP_STATE_BUSY: return DMLP_BUSY;
    default: return DMLP_UNKNOWN_BINDING;
    }
}

uint16_t DmlpNextRequestId(DmlpBindingRecord* binding)
{
    if (++binding->requestCounter == 0)
        ++binding->requestCounter;
    return binding->requestCounter;
}

bool DmlpBindingLive(const DmlpBindingRecord* binding)
{
    return binding != nullptr && binding->state != DMLP_STATE_CLOSED && DmlpFindBinding(binding->handle) == binding;
}

void DmlpFreeBinding(DmlpBindingRecord* binding)
{
    DmlpReleaseEventState(binding);
    DmlpDropSendQueue(binding);
    DmlpFree(binding->chunkBuffer);
    DmlpEmptyReceiveBuffer(&binding->receive);
    memset(binding->tag, 0, 4);
    DmlpFree(binding);
}

void DmlpFailPending(DmlpBindingRecord* binding, DmlpStatus status)
{
    DmlpDropSendQueue(binding);
    while (DmlpPendingRequest* request = binding->pending)
        DmlpFinishRequest(binding, request, status, nullptr);
}

// ---- Bind --------------------------------------------------------------------------------------------------

DmlpStatus DmlpOpenFailureStatus(int32_t result)
{
    switch (VXTRANS_LOW_WORD(result)) {
    case 6: return DMLP_BAD_PARAMETER;
    case 12: return DMLP_CONNECTION_REFUSED;
    default: return DMLP_TRANSPORT_FAILURE;
    }
}

namespace {

// Checks of both bind exports after the instance and the callback.
DmlpStatus CheckBindArguments(const DmlpAddress* peer, const DmlpAddress* local, const DmlpEPProperty* property,
                              DmlpBinding* binding)
{
    if (peer == nullptr || property == nullptr || binding == nullptr)
        return DMLP_BAD_PARAMETER;
    if (local != nullptr && local->kind != peer->kind)
        return DMLP_BAD_PARAMETER;
    VxTransAddress transport;
    uint32_t protocol;
    if (!DmlpToTransport(peer, &transport, &protocol))
        return DMLP_BAD_PARAMETER;
    if ((g_dmlp.available & DmlpFamilyBit(peer->kind)) == 0)
        return DMLP_NOT_AVAILABLE;
    if ((property->timeout == 0) != (peer->kind == DMLP_ADDRESS_9A21))
        return DMLP_BAD_PARAMETER;
    return DMLP_SUCCESS;
}

DmlpStatus PostBind(DmlpMessage* message, const DmlpAddress* peer, const DmlpAddress* local,
                    const DmlpEPProperty* property, DmlpBinding* binding)
{
    message->binding = DmlpNextHandle();
    message->u.bind.peer = *peer;
    if (local != nullptr)
        message->u.bind.local = *local;
    message->u.bind.property = *property;
    if (DmlpIsConnectionKind(peer->kind) && message->u.bind.property.transmissions > 1)
        message->u.bind.property.transmissions = 1;
    *binding = DmlpBinding(message->binding);
    const uint8_t mode = message->mode;
    const DmlpStatus status = DmlpPostToWorker(message);
    const bool bound = mode == DMLP_MODE_SYNC ? (status == DMLP_SUCCESS || status == DMLP_BOUND_2001)
                                              : status == DMLP_SUCCESS;
    if (!bound)
        *binding = nullptr;
    return status;
}

// Both bind exports once their own checks have passed.
DmlpStatus Bind(uint8_t mode, const DmlpCallback* callback, const DmlpAddress* peer, const DmlpAddress* local,
                const DmlpEPProperty* property, DmlpBinding* binding)
{
    DmlpStatus status = CheckBindArguments(peer, local, property, binding);
    if (status != DMLP_SUCCESS)
        return status;
    DmlpMessage* message = DmlpNewCallerMessage(DMLP_MSG_BIND, mode, 0, callback, &status);
    if (message == nullptr)
        return status;
    return PostBind(message, peer, local, property, binding);
}

// Completes the bind caller kept while connecting.
void AnswerConnect(DmlpBindingRecord* binding, DmlpStatus status)
{
    DmlpMessage* caller = binding->connecting;
    binding->connecting = nullptr;
    if (caller != nullptr)
        DmlpComplete(caller, status, 0, nullptr);
}

void OnConnectNotice(DmlpBindingRecord* binding, int32_t value)
{
    if (value < 0) {
        DmlpStatus status = VXTRANS_LOW_WORD(value) == 12 ? DMLP_CONNECTION_REFUSED : DMLP_TRANSPORT_FAILURE;
        binding->state = DMLP_STATE_CLOSED;
        DmlpRemoveBinding(binding);
        VxTransCloseEndpoint(binding->endpoint);
        AnswerConnect(binding, status);
        DmlpFreeBinding(binding);
        return;
    }
    binding->state = DMLP_STATE_BOUND;
    uint16_t largest = 0;
    VxTransGetMaxChunk(binding->endpoint, &largest, 0);
    binding->largestChunk = largest;
    AnswerConnect(binding, value == VXTRANS_NOTICE_CONNECTED_2 ? DMLP_BOUND_2001 : DMLP_SUCCESS);
}

} // namespace

DmlpStatus DMLP_Bind(DmlpInstance instance, const DmlpAddress* peer, const DmlpAddress* local,
                     const DmlpEPProperty* property, DmlpBinding* binding)
{
    if (!DmlpRunning())
        return DMLP_NOT_AVAILABLE;
    if (instance != g_dmlp.instance)
        return DMLP_BAD_PARAMETER;
    if (property != nullptr && property->transmissions == 0)
        return DMLP_BAD_PARAMETER;
    return Bind(DMLP_MODE_SYNC, nullptr, peer, local, property, binding);
}

DmlpStatus DMLP_BindAsync(const DmlpCallback* callback, DmlpInstance instance, const DmlpAddress* peer,
                          const DmlpAddress* local, const DmlpEPProperty* property, DmlpBinding* binding)
{
    if (!DmlpRunning())
        return DMLP_NOT_AVAILABLE;
    if (instance != g_dmlp.instance)
        return DMLP_WRONG_INSTANCE;
    if (callback == nullptr || callback->kind != DMLP_CALLBACK_KIND || callback->function.result == nullptr)
        return DMLP_BAD_PARAMETER;
    return Bind(DMLP_MODE_ASYNC, callback, peer, local, property, binding);
}

void DmlpHandleBind(DmlpMessage* message)
{
    DmlpBindingRecord* binding = (DmlpBindingRecord*)DmlpAlloc(sizeof(DmlpBindingRecord));
    if (binding == nullptr) {
        DmlpComplete(message, DMLP_OUT_OF_MEMORY, 0, nullptr);
        return;
    }
    memset(binding, 0, sizeof *binding);
    memcpy(binding->tag, "ENDP", 4);
    binding->handle = message->binding;
    binding->peer = message->u.bind.peer;
    binding->property = message->u.bind.property;
    binding->window = DMLP_WINDOW_DEFAULT;
    binding->connection = DmlpIsConnectionKind(binding->peer.kind) ? 1 : 0;
    DmlpToTransport(&binding->peer, &binding->pair.peer, &binding->pair.protocol);
    if (message->u.bind.local.kind != 0) {
        uint32_t protocol;
        DmlpToTransport(&message->u.bind.local, &binding->pair.local, &protocol);
    }
    VxTransEndpointAddress local = {};
    const int32_t result = VxTransOpenConnection(g_dmlp.workerId, &binding->pair, VXTRANS_MODE_CONNECTION,
                                                 DmlpOnReceive, DmlpOnStateData, DmlpOnState, &binding->endpoint,
                                                 &local, nullptr);
    if (result < 0) {
        DmlpFree(binding);
        DmlpComplete(message, DmlpOpenFailureStatus(result), 0, nullptr);
        return;
    }
    if (++g_dmlp.bindingCounter == 0)
        ++g_dmlp.bindingCounter;
    binding->id = g_dmlp.bindingCounter;
    binding->state = DMLP_STATE_CONNECTING;
    binding->pair.local = local.address;
    DmlpSelectLocal(binding->endpoint, &binding->pair);
    DmlpFromTransport(&binding->pair.local, binding->pair.protocol, binding->peer.kind, &binding->local);
    binding->connecting = message;
    binding->next = g_dmlp.bindings;
    g_dmlp.bindings = binding;
}

// ---- Unbind ------------------------------------------------------------------------------------------------

DmlpStatus DMLP_Unbind(DmlpBinding binding)
{
    if (binding == nullptr)
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message =
        DmlpNewCallerMessage(DMLP_MSG_UNBIND, DMLP_MODE_SYNC, DmlpHandleOf(binding), nullptr, &status);
    return message != nullptr ? DmlpPostToWorker(message) : status;
}

DmlpStatus DMLP_UnbindAsync(const DmlpCallback* callback, DmlpBinding binding)
{
    if (binding == nullptr || callback == nullptr || callback->kind != DMLP_CALLBACK_KIND ||
        callback->function.result == nullptr)
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message =
        DmlpNewCallerMessage(DMLP_MSG_UNBIND, DMLP_MODE_ASYNC, DmlpHandleOf(binding), callback, &status);
    return message != nullptr ? DmlpPostToWorker(message) : status;
}

void DmlpHandleUnbind(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    if (binding == nullptr) {
        DmlpComplete(message, DMLP_UNKNOWN_BINDING, 0, nullptr);
        return;
    }
    binding->state = DMLP_STATE_CLOSED;
    DmlpEmptyReceiveBuffer(&binding->receive);
    // Before the barrier below: no event of this binding is posted after it.
    DmlpDropSubscriptionsOf(binding);
    AnswerConnect(binding, DMLP_BINDING_CLOSED);
    DmlpFailPending(binding, DMLP_BINDING_CLOSED);
    DmlpStatus status;
    if (DmlpMessage* barrier = DmlpNewMessage(DMLP_MSG_UNBIND, &status))
        DmlpPostToNotifier(barrier, true);
    status = VxTransCloseEndpoint(binding->endpoint) < 0 ? DMLP_TRANSPORT_FAILURE : DMLP_SUCCESS;
    DmlpRemoveBinding(binding);
    DmlpFreeBinding(binding);
    DmlpComplete(message, status, 0, nullptr);
}

// ---- Queries ---------------------------------------------------------------------------------------------

namespace {

DmlpMessage* NewQuery(uint32_t id, DmlpBinding binding, DmlpStatus* status)
{
    return DmlpNewCallerMessage(id, DMLP_MODE_SYNC, DmlpHandleOf(binding), nullptr, status);
}

} // namespace

DmlpStatus DMLP_GetEPAddress(DmlpBinding binding, uint8_t which, DmlpAddress* address)
{
    if (binding == nullptr)
        return DMLP_UNKNOWN_BINDING;
    if (address == nullptr || (which != DMLP_EP_PEER && which != DMLP_EP_LOCAL))
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message = NewQuery(DMLP_MSG_GET_EP_ADDRESS, binding, &status);
    if (message == nullptr)
        return status;
    message->u.query.which = which;
    message->u.query.address = address;
    return DmlpPostToWorker(message);
}

DmlpStatus DMLP_GetEPProperty(DmlpBinding binding, DmlpEPProperty* property)
{
    if (binding == nullptr)
        return DMLP_UNKNOWN_BINDING;
    if (property == nullptr)
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message = NewQuery(DMLP_MSG_GET_EP_PROPERTY, binding, &status);
    if (message == nullptr)
        return status;
    message->u.query.propertyOut = property;
    return DmlpPostToWorker(message);
}

DmlpStatus DMLP_SetEPProperty(DmlpBinding binding, const DmlpEPProperty* property)
{
    if (binding == nullptr)
        return DMLP_UNKNOWN_BINDING;
    if (property == nullptr)
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message = NewQuery(DMLP_MSG_SET_EP_PROPERTY, binding, &status);
    if (message == nullptr)
        return status;
    message->u.query.property = *property;
    return DmlpPostToWorker(message);
}

DmlpStatus DMLP_ResizeWindow(DmlpBinding binding, uint32_t size)
{
    if (binding == nullptr)
        return DMLP_BAD_PARAMETER;
    uint16_t window = (uint16_t)size;
    if (window == 0)
        window = 1;
    if (window > DMLP_WINDOW_MAX)
        window = DMLP_WINDOW_MAX;
    DmlpStatus status;
    DmlpMessage* message = NewQuery(DMLP_MSG_RESIZE, binding, &status);
    if (message == nullptr)
        return status;
    message->u.query.window = window;
    return DmlpPostToWorker(message);
}

void DmlpHandleGetEPAddress(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    DmlpStatus status = binding == nullptr ? DMLP_UNKNOWN_BINDING : DmlpBindingStateStatus(binding);
    if (status == DMLP_BUSY)
        status = DMLP_SUCCESS;
    if (status == DMLP_SUCCESS)
        *message->u.query.address = message->u.query.which == DMLP_EP_PEER ? binding->peer : binding->local;
    DmlpComplete(message, status, 0, nullptr);
}

void DmlpHandleGetEPProperty(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    if (binding != nullptr)
        *message->u.query.propertyOut = binding->property;
    DmlpComplete(message, binding != nullptr ? DMLP_SUCCESS : DMLP_UNKNOWN_BINDING, 0, nullptr);
}

void DmlpHandleSetEPProperty(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    if (binding != nullptr) {
        binding->property = message->u.query.property;
        if (binding->peer.kind == DMLP_ADDRESS_9707)
            VxTransSetProperty(binding->endpoint, binding->property.transportOption);
    }
    DmlpComplete(message, binding != nullptr ? DMLP_SUCCESS : DMLP_UNKNOWN_BINDING, 0, nullptr);
}

void DmlpHandleResize(DmlpMessage* message)
{
    const uint16_t window = message->u.query.window;
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    DmlpStatus status = DMLP_SUCCESS;
    if (window < 1 || window > DMLP_WINDOW_MAX) {
        status = DMLP_BAD_PARAMETER;
    } else if (binding == nullptr || binding->connection ||
               (binding->state != DMLP_STATE_BOUND && binding->state != DMLP_STATE_BUSY)) {
        status = DMLP_UNKNOWN_BINDING;
    } else if (window > binding->window) {
        const bool wasFull = binding->slotsInUse >= binding->window;
        binding->window = window;
        if (wasFull)
            DmlpPostInternal(DMLP_MSG_RESUME, (uintptr_t)binding->handle, nullptr);
    } else if (window < binding->window) {
        if (binding->slotsInUse > window) {
            status = DMLP_NOT_AVAILABLE;
        } else {
            // Ids held at or above the new size move into free slots below it.
            uint16_t free = 0;
            for (uint16_t slot = window; slot < binding->window; ++slot) {
                if (binding->slots[slot] == 0)
                    continue;
                while (binding->slots[free] != 0)
                    ++free;
                binding->slots[free] = binding->slots[slot];
                binding->slots[slot] = 0;
            }
            binding->window = window;
        }
    }
    DmlpComplete(message, status, 0, nullptr);
}

// ---- Transport notices ---------------------------------------------------------------------------------------

void DmlpHandleState(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBindingByEndpoint(message->u.state.endpoint);
    const int32_t value = message->u.state.value;
    DmlpFreeMessage(message);
    if (binding == nullptr)
        return;
    if (binding->state == DMLP_STATE_CONNECTING) {
        if (binding->flags & DMLP_BINDING_EVENT_PORT)
            DmlpEventPortNotice(binding, value);
        else if (binding->flags & DMLP_BINDING_DISCOVERY)
            DmlpDiscoveryNotice(binding, value);
        else
            OnConnectNotice(binding, value);
        return;
    }
    if (value != VXTRANS_NOTICE_NOTHING)
        DmlpSendPump(binding, value);
}
