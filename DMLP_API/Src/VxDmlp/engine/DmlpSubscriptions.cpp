// Event ports and subscriptions: the subscribe and unsubscribe exports, the shared listening
// ports, registration with the device, and the dispatch of event notifications to the
// subscribers' callbacks.
#include <string.h>

#include "DmlpEngine.h"

namespace {

const char kEventService[] = "vxdmlp-event";
const char kPortRangeFile[] = "vxipport.dat";
const int32_t kDefaultPortRange = 10;
const uint16_t kSubscriptionAttribute = 2;
const uint32_t kListSelector = 3;       // AppendToList / DeleteFromList: the element follows
const uint8_t kSetListAdd = 2;          // SetListElement: set the element
const uint8_t kSetListRemove = 4;       // SetListElement: remove it
const uint32_t kElementSelector = 7;
// 66 + 2n bytes of block and a registration frame stay within 16-bit sizes.
const uint16_t kMaxEventIds = 32734;

// ---- Event id sets -----------------------------------------------------------------------------------

int BitOf(uint16_t id)
{
    if (id >= 2 && id <= 168)
        return id - 2;
    if (id >= 217 && id <= 225)
        return 167 + (id - 217);
    return -1;
}

// ---- Exports ---------------------------------------------------------------------------------------

DmlpStatus CheckEventList(const DmlpEventList* events)
{
    if (events->count > kMaxEventIds || (events->count > 0 && events->eventIds == nullptr))
        return DMLP_BAD_PARAMETER;
    return DMLP_SUCCESS;
}

// The list element with the caller's ids copied behind it and a 0 entry after them.
DmlpSubscriptionBlock* NewBlock(const DmlpEventList* events, uint32_t extra)
{
    const uint32_t size = sizeof(DmlpSubscriptionBlock) + 2u * (events->count + 1u);
    DmlpSubscriptionBlock* block = (DmlpSubscriptionBlock*)DmlpAlloc(size);
    if (block == nullptr)
        return nullptr;
    memset(block, 0, size);
    block->count = events->count;
    block->ids = (uint16_t*)(block + 1);
    if (events->count > 0)
        memcpy(block->ids, events->eventIds, 2u * events->count);
    block->selector = kElementSelector;
    block->extra = extra;
    return block;
}

// The record of a subscribe or unsubscribe call (its caller, the object and the list value), after
// the checks both end with: the list value, and the result callback of an asynchronous call.
DmlpMessage* NewListMessage(uint32_t id, bool setList, const DmlpCallback* resultCallback, uint8_t mode,
                            DmlpBinding binding, const uint32_t objectRef[2], uint32_t value, DmlpStatus* status)
{
    *status = DMLP_SUCCESS;
    if (value == 0)
        *status = DMLP_EMPTY_EVENT_LIST;
    else if (mode == DMLP_MODE_ASYNC && (resultCallback == nullptr || resultCallback->function.result == nullptr))
        *status = DMLP_BAD_PARAMETER;
    if (*status != DMLP_SUCCESS)
        return nullptr;
    DmlpMessage* message = DmlpNewCallerMessage(id, mode, DmlpHandleOf(binding), resultCallback, status);
    if (message == nullptr)
        return nullptr;
    message->u.subscribe.objectRef[0] = objectRef[0];
    message->u.subscribe.objectRef[1] = objectRef[1];
    message->u.subscribe.value = value;
    message->u.subscribe.setList = setList;
    return message;
}

DmlpStatus Subscribe(bool setList, const DmlpCallback* resultCallback, uint8_t mode, DmlpBinding binding,
                     const uint32_t objectRef[2], uint32_t value, const DmlpEventList* events, uint32_t extra,
                     const DmlpCallback* eventCallback)
{
    if (binding == nullptr)
        return DMLP_UNKNOWN_BINDING;
    if (objectRef == nullptr || events == nullptr || eventCallback == nullptr ||
        eventCallback->kind != DMLP_CALLBACK_KIND || CheckEventList(events) != DMLP_SUCCESS)
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message =
        NewListMessage(DMLP_MSG_SUBSCRIBE, setList, resultCallback, mode, binding, objectRef, value, &status);
    if (message == nullptr)
        return status;
    message->u.subscribe.block = NewBlock(events, extra);
    if (message->u.subscribe.block == nullptr) {
        DmlpFreeMessage(message);
        return DMLP_OUT_OF_MEMORY;
    }
    message->u.subscribe.eventFunction = eventCallback->function.event;
    message->u.subscribe.eventContext = eventCallback->context;
    return DmlpPostToWorker(message);
}

DmlpStatus Unsubscribe(bool setList, const DmlpCallback* resultCallback, uint8_t mode, DmlpBinding binding,
                       const uint32_t objectRef[2], uint32_t value)
{
    if (binding == nullptr)
        return DMLP_UNKNOWN_BINDING;
    if (objectRef == nullptr)
        return DMLP_BAD_PARAMETER;
    DmlpStatus status;
    DmlpMessage* message =
        NewListMessage(DMLP_MSG_UNSUBSCRIBE, setList, resultCallback, mode, binding, objectRef, value, &status);
    return message != nullptr ? DmlpPostToWorker(message) : status;
}

// ---- Event ports -------------------------------------------------------------------------------------

// The slot of kinds 1 to 4; null for the kinds that carry events on the connection.
DmlpBindingRecord** SlotOf(uint16_t kind)
{
    return kind >= DMLP_ADDRESS_TCP && kind <= DMLP_ADDRESS_SPX ? &g_dmlp.eventPorts[kind - 1] : nullptr;
}

bool CarriesOwnEvents(uint16_t kind) { return kind == DMLP_ADDRESS_9707 || kind == DMLP_ADDRESS_9707_SELECTOR; }

// Subscribe step 1: who may subscribe, and in which state.
DmlpStatus SubscriberStatus(const DmlpBindingRecord* binding)
{
    const uint32_t flags = binding->flags;
    const bool allowed = flags == 0 || (flags & (DMLP_BINDING_CLASS1 | DMLP_BINDING_CLASS2)) != 0 ||
                         ((flags & DMLP_BINDING_EVENT_PORT) != 0 && CarriesOwnEvents(binding->peer.kind));
    if (!allowed)
        return DMLP_UNKNOWN_BINDING;
    return DmlpBindingStateStatus(binding);
}

void AnswerSubscribe(DmlpMessage* message, DmlpStatus status)
{
    DmlpFreeMessageParts(message);
    DmlpComplete(message, status, 0, nullptr);
}

// The port number range of the service: base and last, or false for "port 0".
bool PortRange(uint16_t kind, uint16_t* base, uint16_t* last)
{
    uint16_t wire = 0;
    if (VxSrvcGetServicePort(kEventService, kind == DMLP_ADDRESS_TCP ? "tcp" : "udp", &wire) < 0)
        return false;
    int32_t count = kDefaultPortRange;
    char path[MAX_PATH];
    if (VxSrvcFindDataFile(kPortRangeFile, path, sizeof path) != 0)
        count = VxSrvcReadIniInt("PortNumber", "range", kDefaultPortRange, path);
    *base = VxSrvcNetToHost16(wire);
    if (count <= 0 || *base == 0)
        return false;
    const uint32_t end = (uint32_t)*base + (uint32_t)count - 1;
    *last = end > 0xFFFF ? 0xFFFF : (uint16_t)end;
    return true;
}

int32_t Listen(DmlpBindingRecord* port, const DmlpAddress* local)
{
    VxTransEndpointAddress address = {};
    DmlpToTransport(local, &address.address, &address.protocol);
    return VxTransOpenListener(g_dmlp.workerId, &address, DmlpOnReceive, DmlpOnStateData, DmlpOnState,
                               &port->endpoint, nullptr);
}

// Opens the listener: the service's ports in turn for IPv4, else (and after them) any port.
int32_t OpenPort(DmlpBindingRecord* port, DmlpAddress local)
{
    const bool inet = local.kind == DMLP_ADDRESS_TCP || local.kind == DMLP_ADDRESS_UDP;
    uint16_t base = 0, last = 0;
    if (inet) {
        local.u.inet.port = 0;
        if (!PortRange(local.kind, &base, &last))
            memset(local.u.inet.address, 0, 4);  // unknown service: any address, any port
        else {
            for (uint32_t number = base; number <= last; ++number) {
                local.u.inet.port = (uint16_t)number;
                const int32_t result = Listen(port, &local);
                if (result != VXTRANS_E_IN_USE)
                    return result;
            }
            local.u.inet.port = 0;
        }
    } else {
        local.u.ipx.socket = 0;
    }
    return Listen(port, &local);
}

DmlpBindingRecord* CreatePort(const DmlpBindingRecord* subscriber)
{
    DmlpBindingRecord* port = (DmlpBindingRecord*)DmlpAlloc(sizeof(DmlpBindingRecord));
    if (port == nullptr)
        return nullptr;
    memset(port, 0, sizeof *port);
    memcpy(port->tag, "ENDP", 4);
    port->handle = DmlpNextHandle();
    port->local = subscriber->local;
    port->window = DMLP_WINDOW_DEFAULT;
    port->connection = subscriber->local.kind == DMLP_ADDRESS_TCP || subscriber->local.kind == DMLP_ADDRESS_SPX;
    if (OpenPort(port, subscriber->local) < 0) {
        DmlpFree(port);
        return nullptr;
    }
    VxTransEndpointAddress own = {};
    if (VxTransGetLocalAddress(port->endpoint, 1, &own) >= 0)
        DmlpFromTransport(&own.address, own.protocol, port->local.kind, &port->local);
    port->peer.kind = port->local.kind;
    if (++g_dmlp.bindingCounter == 0)
        ++g_dmlp.bindingCounter;
    port->id = g_dmlp.bindingCounter;
    port->flags = DMLP_BINDING_EVENT_PORT;
    port->state = DMLP_STATE_CONNECTING;
    port->next = g_dmlp.bindings;
    g_dmlp.bindings = port;
    return port;
}

// ---- Registration ---------------------------------------------------------------------------------------

DmlpSubscription* NewSubscription(DmlpMessage* message)
{
    DmlpSubscription* subscription = (DmlpSubscription*)DmlpAlloc(sizeof(DmlpSubscription));
    if (subscription == nullptr)
        return nullptr;
    memset(subscription, 0, sizeof *subscription);
    memcpy(subscription->tag, "EVTG", 4);
    DmlpSubscriptionBlock* block = message->u.subscribe.block;
    for (uint16_t i = 0; i < block->count; ++i)
        DmlpEventIdSetAdd(&subscription->wanted, block->ids[i]);
    subscription->subscriber = message->binding;
    subscription->device = DmlpFindBinding(message->binding)->pair;
    subscription->value = message->u.subscribe.value;
    subscription->function = message->u.subscribe.eventFunction;
    subscription->context = message->u.subscribe.eventContext;
    subscription->block = block;
    message->u.subscribe.block = nullptr;
    return subscription;
}

void FreeSubscription(DmlpSubscription* subscription)
{
    DmlpFree(subscription->block);
    memset(subscription->tag, 0, 4);
    DmlpFree(subscription);
}

bool IsInet(uint16_t kind) { return kind == DMLP_ADDRESS_TCP || kind == DMLP_ADDRESS_UDP; }

// Where the device is to report: the port's address, as the routing plug-in would reach the
// device from; a port listening on any address gives the subscriber's own IPv4 address.
DmlpAddress ReportAddress(const DmlpBindingRecord* port, const DmlpBindingRecord* subscriber)
{
    DmlpAddress address = port->local;
    if (!IsInet(address.kind))
        return address;
    if (g_dmlp.routingSelect != nullptr) {
        VxTransAddressPair pair = {};
        pair.peer = subscriber->pair.peer;
        pair.protocol = subscriber->pair.protocol;
        uint32_t protocol;
        DmlpToTransport(&port->local, &pair.local, &protocol);
        g_dmlp.routingSelect(&pair);
        DmlpAddress chosen;
        if (DmlpFromTransport(&pair.local, port->local.kind == DMLP_ADDRESS_TCP ? 6 : 17, address.kind, &chosen))
            memcpy(address.u.inet.address, chosen.u.inet.address, 4);
    }
    static const uint8_t kAny[4] = {0, 0, 0, 0};
    if (memcmp(address.u.inet.address, kAny, 4) == 0)
        memcpy(address.u.inet.address, subscriber->local.u.inet.address, 4);
    return address;
}

DmlpStatus EncodeRegistration(uint16_t method, const uint32_t objectRef[2], const void* params, DmlpCursor* frame)
{
    DmlpHeader header = {};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.flags = DMLP_FLAG_REPLY_WANTED;
    header.method = method;
    header.objectRef0 = objectRef[0];
    header.objectRef1 = objectRef[1];
    frame->ptr = nullptr;
    frame->count = 0;
    if (DmlpEncodeMessage(&header, params, frame) != DMLP_CODER_OK) {
        DmlpFree(frame->ptr);
        return DMLP_INTERNAL_FAILURE;
    }
    return DMLP_SUCCESS;
}

// Encodes the list request that adds (add) or removes the element on the device.
DmlpStatus EncodeListRequest(const DmlpMessage* message, bool add, const DmlpSubscriptionBlock* element,
                             uint16_t* method, DmlpCursor* frame)
{
    if (message->u.subscribe.setList) {
        DmlpSetListElementParams params = {};
        params.value1 = add ? kSetListAdd : kSetListRemove;
        params.value2 = message->u.subscribe.value;
        params.attributeId = kSubscriptionAttribute;
        params.element = element;
        *method = 106;
        return EncodeRegistration(*method, message->u.subscribe.objectRef, &params, frame);
    }
    DmlpAppendToListParams params = {};
    params.value1 = (uint8_t)kListSelector;
    params.value2 = message->u.subscribe.value;
    params.attributeId = kSubscriptionAttribute;
    params.element = element;
    *method = add ? 8 : 9;
    return EncodeRegistration(*method, message->u.subscribe.objectRef, &params, frame);
}

DmlpSubscription** FindSubscription(DmlpBindingRecord* port, uint64_t subscriber, uint32_t value)
{
    for (DmlpSubscription** link = &port->subscriptions; *link != nullptr; link = &(*link)->next) {
        if ((*link)->subscriber == subscriber && (*link)->value == value)
            return link;
    }
    return nullptr;
}

// The device answered the registration (any status): the subscription replaces one with the
// same value and subscriber, when port and subscriber still live.
void Registered(void* context, DmlpStatus status, void* result)
{
    DmlpMessage* message = (DmlpMessage*)context;
    if (result != nullptr)
        DMLP_ReleaseParam(result);
    DmlpSubscription* subscription = message->u.subscribe.subscription;
    message->u.subscribe.subscription = nullptr;
    DmlpBindingRecord* port = DmlpFindBinding(message->u.subscribe.port);
    DmlpBindingRecord* subscriber = DmlpFindBinding(message->binding);
    if (!DmlpBindingLive(port) || !DmlpBindingLive(subscriber)) {
        FreeSubscription(subscription);
        AnswerSubscribe(message, DMLP_BINDING_CLOSED);
        return;
    }
    if (DmlpSubscription** old = FindSubscription(port, subscription->subscriber, subscription->value)) {
        DmlpSubscription* replaced = *old;
        *old = replaced->next;
        FreeSubscription(replaced);
    }
    DmlpSubscription** tail = &port->subscriptions;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = subscription;
    AnswerSubscribe(message, status);
}

// Subscribe step 5: the registration request on the subscriber binding.
void Register(DmlpMessage* message)
{
    DmlpBindingRecord* port = DmlpFindBinding(message->u.subscribe.port);
    DmlpBindingRecord* subscriber = DmlpFindBinding(message->binding);
    if (!DmlpBindingLive(port) || !DmlpBindingLive(subscriber)) {
        AnswerSubscribe(message, DMLP_BINDING_CLOSED);
        return;
    }
    message->u.subscribe.block->address = ReportAddress(port, subscriber);
    uint16_t method;
    DmlpCursor frame;
    DmlpStatus status = EncodeListRequest(message, true, message->u.subscribe.block, &method, &frame);
    if (status != DMLP_SUCCESS) {
        AnswerSubscribe(message, status);
        return;
    }
    DmlpSubscription* subscription = NewSubscription(message);
    if (subscription == nullptr) {
        DmlpFree(frame.ptr);
        AnswerSubscribe(message, DMLP_OUT_OF_MEMORY);
        return;
    }
    message->u.subscribe.subscription = subscription;
    subscriber->flags |= DMLP_BINDING_CLASS1;
    status = DmlpStartEngineRequest(subscriber, frame.ptr, (uint32_t)frame.count, method, Registered, message);
    if (status != DMLP_SUCCESS)
        AnswerSubscribe(message, status);
}

void Unregistered(void* context, DmlpStatus status, void* result)
{
    if (result != nullptr)
        DMLP_ReleaseParam(result);
    DmlpComplete((DmlpMessage*)context, status, 0, nullptr);
}

// The event port of the binding's kind: its slot's, or the binding itself.
DmlpBindingRecord* PortOf(DmlpBindingRecord* binding)
{
    if (CarriesOwnEvents(binding->peer.kind))
        return (binding->flags & DMLP_BINDING_EVENT_PORT) ? binding : nullptr;
    DmlpBindingRecord** slot = SlotOf(binding->peer.kind);
    return slot != nullptr ? *slot : nullptr;
}

// ---- Dispatch ------------------------------------------------------------------------------------------

bool SameSender(const VxTransAddressPair* device, const VxTransAddressPair* sender)
{
    if (device->protocol != sender->protocol)
        return false;
    const DmlpTransportAddress* peer = (const DmlpTransportAddress*)&device->peer;
    const DmlpTransportAddress* from = (const DmlpTransportAddress*)&sender->peer;
    switch (sender->protocol) {
    case VXTRANS_PROTOCOL_TCP:
    case VXTRANS_PROTOCOL_UDP: return memcmp(peer->u.inet.address, from->u.inet.address, 4) == 0;
    case 270: return memcmp(&peer->u.family9707.selector, &from->u.family9707.selector, 21) == 0;
    case 1000:
    case 1256: return memcmp(peer->u.ipx.network, from->u.ipx.network, 10) == 0;
    default: return false;
    }
}

// Keeps the entries the subscription wants; false when none is left.
bool Filter(DmlpEventRecord* record, const DmlpEventIdSet* wanted)
{
    uint8_t kept = 0;
    for (uint8_t i = 0; i < record->count; ++i) {
        if (DmlpEventIdWanted(wanted, record->entries[i].id))
            record->entries[kept++] = record->entries[i];
    }
    record->count = kept;
    return kept > 0;
}

DmlpParamBlock* Decode(const uint8_t* frame, uint32_t length)
{
    DmlpParamBlock* block = DmlpNewParamBlock();
    if (block == nullptr)
        return nullptr;
    DmlpDecodeContext context = {block->handedOut.bytes, nullptr, 0};
    DmlpHeader header;
    DmlpCursor whole = {(uint8_t*)frame, (int32_t)length};
    if (DmlpDecodeMessage(&header, &context, &whole, nullptr) != DMLP_CODER_OK) {
        DmlpFreeParamBlock(block);
        return nullptr;
    }
    if (context.held != nullptr)
        block->data = context.held->data;
    return block;
}

// Filters the block for the subscription and posts it to the notification thread; a block that
// is not posted is freed.
void Deliver(const DmlpSubscription* subscription, DmlpParamBlock* block, const DmlpAddress* sender)
{
    DmlpEventRecord* record = (DmlpEventRecord*)block->handedOut.bytes;
    DmlpStatus status;
    DmlpMessage* notice = Filter(record, &subscription->wanted) ? DmlpNewMessage(DMLP_MSG_EVENT, &status) : nullptr;
    if (notice == nullptr) {
        DmlpFreeParamBlock(block);
        return;
    }
    notice->u.event.function = subscription->function;
    notice->u.event.context = subscription->context;
    notice->u.event.event = block->handedOut.bytes;
    notice->u.event.sender = *sender;
    DmlpPostToNotifier(notice, false);
}

// The sender is the subscriber's device, and the subscriber still lives.
bool Matches(const DmlpSubscription* subscription, const VxTransAddressPair* sender)
{
    return SameSender(&subscription->device, sender) && DmlpBindingLive(DmlpFindBinding(subscription->subscriber));
}

} // namespace

// ---- Exports ------------------------------------------------------------------------------------------------

DmlpStatus DMLP_SubscribeEvent(DmlpBinding binding, const uint32_t objectRef[2], uint32_t, uint32_t value,
                               const DmlpEventList* events, uint32_t extra, const DmlpCallback* eventCallback)
{
    return Subscribe(false, nullptr, DMLP_MODE_SYNC, binding, objectRef, value, events, extra, eventCallback);
}

DmlpStatus DMLP_SubscribeEvent2(DmlpBinding binding, const uint32_t objectRef[2], uint32_t, uint32_t value,
                                const DmlpEventList* events, uint32_t extra, const DmlpCallback* eventCallback)
{
    return Subscribe(true, nullptr, DMLP_MODE_SYNC, binding, objectRef, value, events, extra, eventCallback);
}

DmlpStatus DMLP_SubscribeEventAsync(const DmlpCallback* resultCallback, DmlpBinding binding,
                                    const uint32_t objectRef[2], uint32_t, uint32_t value,
                                    const DmlpEventList* events, uint32_t extra, const DmlpCallback* eventCallback)
{
    return Subscribe(false, resultCallback, DMLP_MODE_ASYNC, binding, objectRef, value, events, extra, eventCallback);
}

DmlpStatus DMLP_SubscribeEventAsync2(const DmlpCallback* resultCallback, DmlpBinding binding,
                                     const uint32_t objectRef[2], uint32_t, uint32_t value,
                                     const DmlpEventList* events, uint32_t extra, const DmlpCallback* eventCallback)
{
    return Subscribe(true, resultCallback, DMLP_MODE_ASYNC, binding, objectRef, value, events, extra, eventCallback);
}

DmlpStatus DMLP_UnsubscribeEvent(DmlpBinding binding, const uint32_t objectRef[2], uint32_t value)
{
    return Unsubscribe(false, nullptr, DMLP_MODE_SYNC, binding, objectRef, value);
}

DmlpStatus DMLP_UnsubscribeEvent2(DmlpBinding binding, const uint32_t objectRef[2], uint32_t value)
{
    return Unsubscribe(true, nullptr, DMLP_MODE_SYNC, binding, objectRef, value);
}

DmlpStatus DMLP_UnsubscribeEventAsync(const DmlpCallback* resultCallback, DmlpBinding binding,
                                      const uint32_t objectRef[2], uint32_t value)
{
    return Unsubscribe(false, resultCallback, DMLP_MODE_ASYNC, binding, objectRef, value);
}

DmlpStatus DMLP_UnsubscribeEventAsync2(const DmlpCallback* resultCallback, DmlpBinding binding,
                                       const uint32_t objectRef[2], uint32_t value)
{
    return Unsubscribe(true, resultCallback, DMLP_MODE_ASYNC, binding, objectRef, value);
}

// ---- Worker handlers --------------------------------------------------------------------------------------------

void DmlpEventIdSetAdd(DmlpEventIdSet* set, uint16_t id)
{
    const int bit = BitOf(id);
    if (bit >= 0)
        set->bits[bit / 32] |= 1u << (bit % 32);
}

bool DmlpEventIdWanted(const DmlpEventIdSet* set, uint16_t id)
{
    const int bit = BitOf(id);
    return bit >= 0 && (set->bits[bit / 32] & (1u << (bit % 32))) != 0;
}

void DmlpHandleSubscribe(DmlpMessage* message)
{
    DmlpBindingRecord* subscriber = DmlpFindBinding(message->binding);
    DmlpStatus status = subscriber == nullptr ? DMLP_UNKNOWN_BINDING : SubscriberStatus(subscriber);
    if (status != DMLP_SUCCESS) {
        AnswerSubscribe(message, status);
        return;
    }
    const uint16_t kind = subscriber->peer.kind;
    DmlpBindingRecord** slot = SlotOf(kind);
    if (slot == nullptr && !CarriesOwnEvents(kind)) {
        AnswerSubscribe(message, DMLP_WRONG_INSTANCE);
        return;
    }
    if ((g_dmlp.eventCapable & DmlpFamilyBit(kind)) == 0) {
        AnswerSubscribe(message, DMLP_NOT_AVAILABLE);
        return;
    }
    if (slot == nullptr) {
        subscriber->flags |= DMLP_BINDING_EVENT_PORT;
        message->u.subscribe.port = subscriber->handle;
        Register(message);
        return;
    }
    if (*slot == nullptr) {
        *slot = CreatePort(subscriber);
        if (*slot == nullptr) {
            AnswerSubscribe(message, DMLP_TRANSPORT_FAILURE);
            return;
        }
    }
    DmlpBindingRecord* port = *slot;
    message->u.subscribe.port = port->handle;
    if (port->state == DMLP_STATE_CONNECTING) {
        DmlpMessage** tail = &port->waiting;
        while (*tail != nullptr)
            tail = &(*tail)->u.subscribe.nextWaiting;
        *tail = message;
        return;
    }
    Register(message);
}

void DmlpEventPortNotice(DmlpBindingRecord* port, int32_t value)
{
    DmlpMessage* waiting = port->waiting;
    port->waiting = nullptr;
    if (value >= 0) {
        port->state = DMLP_STATE_BOUND;
        while (DmlpMessage* message = waiting) {
            waiting = message->u.subscribe.nextWaiting;
            message->u.subscribe.nextWaiting = nullptr;
            Register(message);
        }
        return;
    }
    port->waiting = waiting;
    DmlpRemoveBinding(port);
    VxTransCloseEndpoint(port->endpoint);
    DmlpFreeBinding(port);  // answers the waiting subscribes
}

void DmlpHandleUnsubscribe(DmlpMessage* message)
{
    DmlpBindingRecord* binding = DmlpFindBinding(message->binding);
    if (binding == nullptr || (binding->flags != 0 && (binding->flags & DMLP_BINDING_CLASS1) == 0)) {
        DmlpComplete(message, DMLP_UNKNOWN_BINDING, 0, nullptr);
        return;
    }
    DmlpBindingRecord* port = PortOf(binding);
    DmlpSubscription** link = port != nullptr ? FindSubscription(port, binding->handle, message->u.subscribe.value)
                                              : nullptr;
    if (link == nullptr) {
        DmlpComplete(message, DMLP_BAD_PARAMETER, 0, nullptr);
        return;
    }
    DmlpSubscription* subscription = *link;
    *link = subscription->next;
    DmlpSubscriptionBlock removal = *subscription->block;
    removal.count = 0;
    removal.ids = nullptr;
    uint16_t method;
    DmlpCursor frame;
    DmlpStatus status = EncodeListRequest(message, false,
                                          message->u.subscribe.setList ? &removal : subscription->block, &method,
                                          &frame);
    FreeSubscription(subscription);
    if (status == DMLP_SUCCESS)
        status = DmlpStartEngineRequest(binding, frame.ptr, (uint32_t)frame.count, method, Unregistered, message);
    if (status != DMLP_SUCCESS)
        DmlpComplete(message, status, 0, nullptr);
}

void DmlpDispatchEvent(DmlpBindingRecord* port, const VxTransAddressPair* sender, const uint8_t* frame,
                       uint32_t length)
{
    DmlpParamBlock* first = Decode(frame, length);
    if (first == nullptr)
        return;
    const DmlpEventRecord* record = (const DmlpEventRecord*)first->handedOut.bytes;
    DmlpAddress from;
    if (!DmlpFromTransport(&sender->peer, sender->protocol, port->peer.kind, &from)) {
        DmlpFreeParamBlock(first);
        return;
    }
    // The subscription of the notification's own reference takes it alone.
    for (DmlpSubscription* subscription = port->subscriptions; subscription != nullptr;
         subscription = subscription->next) {
        if (subscription->value != record->reference || !Matches(subscription, sender))
            continue;
        Deliver(subscription, first, &from);
        return;
    }
    // Otherwise every subscription of the sender gets its own copy, the last found first; the
    // first delivery takes the block already decoded.
    size_t count = 0;
    for (DmlpSubscription* subscription = port->subscriptions; subscription != nullptr;
         subscription = subscription->next) {
        count += Matches(subscription, sender) ? 1 : 0;
    }
    DmlpParamBlock* block = first;
    for (size_t wanted = count; wanted-- > 0;) {
        DmlpSubscription* subscription = port->subscriptions;
        for (size_t seen = 0;; subscription = subscription->next) {
            if (Matches(subscription, sender) && seen++ == wanted)
                break;
        }
        if (block == nullptr && (block = Decode(frame, length)) == nullptr)
            return;
        Deliver(subscription, block, &from);
        block = nullptr;
    }
    if (block != nullptr)
        DmlpFreeParamBlock(block);
}

void DmlpDropSubscriptionsOf(const DmlpBindingRecord* binding)
{
    for (DmlpBindingRecord* port : g_dmlp.eventPorts) {
        if (port == nullptr)
            continue;
        for (DmlpSubscription** link = &port->subscriptions; *link != nullptr;) {
            DmlpSubscription* subscription = *link;
            if (subscription->subscriber == binding->handle) {
                *link = subscription->next;
                FreeSubscription(subscription);
            } else {
                link = &subscription->next;
            }
        }
    }
}

void DmlpReleaseEventState(DmlpBindingRecord* binding)
{
    while (DmlpSubscription* subscription = binding->subscriptions) {
        binding->subscriptions = subscription->next;
        FreeSubscription(subscription);
    }
    while (DmlpMessage* message = binding->waiting) {
        binding->waiting = message->u.subscribe.nextWaiting;
        AnswerSubscribe(message, binding->state == DMLP_STATE_CONNECTING ? DMLP_TRANSPORT_FAILURE
                                                                          : DMLP_BINDING_CLOSED);
    }
    DmlpFreeConnections(binding);
    for (DmlpBindingRecord*& slot : g_dmlp.eventPorts) {
        if (slot == binding)
            slot = nullptr;
    }
    DmlpReleaseDiscovery(binding);
}

void DmlpFreeMessageParts(DmlpMessage* message)
{
    if (message->id != DMLP_MSG_SUBSCRIBE)
        return;
    DmlpFree(message->u.subscribe.block);
    message->u.subscribe.block = nullptr;
    if (message->u.subscribe.subscription != nullptr)
        FreeSubscription(message->u.subscribe.subscription);
    message->u.subscribe.subscription = nullptr;
}
