// libFuzzer target: the receive framing of a TCP event port. The input is a script: each step
// accepts a connection, ends one (closed or reset), or hands one the next bytes of the input, so a
// byte stream is cut at any points and spread over up to 16 connections, some ended mid-frame. The
// steps run the worker's receive handler on this thread, on a port of the target's own with a
// subscription of the sender, so whole notifications are decoded and delivered (the notification
// thread is absent: the delivery is refused and its block released). After the script the port is
// freed; every block must be back.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "DmlpEngine.h"
#include "VxTransFake.h"

namespace {

const uint32_t kPortEndpoint = 7;
const uint32_t kConnections = 16;

DmlpBindingRecord* NewRecord(uint64_t handle, uint32_t flags, uint32_t endpoint)
{
    DmlpBindingRecord* record = (DmlpBindingRecord*)DmlpAlloc(sizeof(DmlpBindingRecord));
    memset(record, 0, sizeof *record);
    memcpy(record->tag, "ENDP", 4);
    record->handle = handle;
    record->endpoint = endpoint;
    record->state = DMLP_STATE_BOUND;
    record->flags = flags;
    record->connection = 1;
    record->peer.kind = DMLP_ADDRESS_TCP;
    record->local.kind = DMLP_ADDRESS_TCP;
    return record;
}

VxTransAddressPair Sender(uint32_t connection)
{
    VxTransAddressPair pair = vxfake::Pair("127.0.0.9", (uint16_t)(5000 + connection % kConnections), "127.0.0.1",
                                           4670, VXTRANS_PROTOCOL_TCP);
    pair.connection = connection;
    return pair;
}

// The subscriber's device is the sender of every connection; it wants every event id.
void Subscribe(DmlpBindingRecord* port, DmlpBindingRecord* subscriber)
{
    DmlpSubscription* subscription = (DmlpSubscription*)DmlpAlloc(sizeof(DmlpSubscription));
    memset(subscription, 0, sizeof *subscription);
    memcpy(subscription->tag, "EVTG", 4);
    for (uint16_t id = 0; id < 256; ++id)
        DmlpEventIdSetAdd(&subscription->wanted, id);
    subscription->subscriber = subscriber->handle;
    subscription->device = Sender(0);
    subscription->value = 501;
    subscription->block = (DmlpSubscriptionBlock*)DmlpAlloc(sizeof(DmlpSubscriptionBlock));
    port->subscriptions = subscription;
}

void Post(uint32_t connection, DmlpStatus status, const uint8_t* data, uint32_t length)
{
    DmlpStatus allocated;
    DmlpMessage* message = DmlpNewMessage(DMLP_MSG_RECEIVED, &allocated);
    message->u.received.endpoint = kPortEndpoint;
    message->u.received.status = status;
    message->u.received.sender = Sender(connection);
    if (length > 0) {
        DmlpReceiveBlock* block = (DmlpReceiveBlock*)DmlpAlloc(sizeof(DmlpReceiveBlock) + length);
        block->next = nullptr;
        block->length = (uint16_t)length;
        block->consumed = 0;
        memcpy(DmlpBlockData(block), data, length);
        message->u.received.block = block;
    }
    DmlpHandleReceived(message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = DmlpCoderInitialize();
    (void)ready;
    vxfake::Reset();
    const int64_t live = VxSrvcTestLiveBlocks();
    DmlpBindingRecord* port = NewRecord(1, DMLP_BINDING_EVENT_PORT, kPortEndpoint);
    DmlpBindingRecord* subscriber = NewRecord(2, DMLP_BINDING_CLASS1, kPortEndpoint + 1);
    port->next = subscriber;
    g_dmlp.bindings = port;
    Subscribe(port, subscriber);

    // Each connection slot's current handle; handles are never reused, as the transport's.
    uint32_t handles[kConnections] = {};
    uint32_t nextHandle = 100;
    for (size_t at = 0; at < size;) {
        const uint8_t step = data[at++];
        uint32_t& handle = handles[(step >> 2) % kConnections];
        switch (step & 3) {
        case 0:
            handle = nextHandle++;
            Post(handle, DMLP_SUCCESS, nullptr, 0);
            break;
        case 1: {
            // The next 1 to 256 bytes of the input, or a large piece when the length byte says so.
            uint32_t length = at < size ? (uint32_t)data[at++] + 1 : 1;
            length = length == 256 && at + 2 <= size ? ((uint32_t)data[at] << 8 | data[at + 1]) + 1 : length;
            length = length > size - at ? (uint32_t)(size - at) : length;
            if (length > 0)
                Post(handle, DMLP_SUCCESS, data + at, length);
            at += length;
            break;
        }
        default: Post(handle, DMLP_TRANSPORT_FAILURE, nullptr, 0); break;
        }
    }

    g_dmlp.bindings = nullptr;
    DmlpFreeBinding(subscriber);
    DmlpFreeBinding(port);
    if (VxSrvcTestLiveBlocks() != live)
        abort();  // a receive buffer or frame was not freed
    return 0;
}
