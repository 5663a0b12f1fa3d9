// The protocol engine's records and the functions its parts share. Everything but the two locks
// and the posting functions belongs to the worker thread.
#pragma once

#include <windows.h>

#include "jtrkplatform.h"

#include <atomic>

#include "DmlpCoder.h"
#include "VxDmlpApi.h"
#include "VxSrvc.h"
#include "VxRouting.h"
#include "VxTrans.h"

static_assert(sizeof(VxTransAddressPair) == sizeof(DmlpTransportAddressPair), "one pair layout");

// ---- Messages ------------------------------------------------------------------------------------

enum DmlpMessageId : uint32_t {
    DMLP_MSG_START = 0x81F5,
    DMLP_MSG_STOP = 0x81F6,
    DMLP_MSG_BIND = 0x81F7,
    DMLP_MSG_UNBIND = 0x81F8,
    DMLP_MSG_SUBSCRIBE = 0x81F9,
    DMLP_MSG_UNSUBSCRIBE = 0x81FA,
    DMLP_MSG_GET_EP_ADDRESS = 0x81FB,
    DMLP_MSG_GET_EP_PROPERTY = 0x81FC,
    DMLP_MSG_SET_EP_PROPERTY = 0x81FD,
    DMLP_MSG_REQUEST = 0x81FF,
    DMLP_MSG_RAW_SEND = 0x8200,
    DMLP_MSG_TIMER = 0x8201,
    DMLP_MSG_COMPLETION = 0x8203,
    DMLP_MSG_EVENT = 0x8204,
    DMLP_MSG_RECEIVED = 0x8205,
    DMLP_MSG_STATE = 0x8206,
    DMLP_MSG_DEFERRED = 0x8208,
    DMLP_MSG_RESIZE = 0x8209,
    DMLP_MSG_RESUME = 0x820A,
    DMLP_MSG_DISCOVER = 0x820C,
};

// One block of received bytes; the data follows the record.
typedef struct DmlpReceiveBlock {
    struct DmlpReceiveBlock* next;
    uint16_t length;
    uint16_t consumed;
} DmlpReceiveBlock;

static inline uint8_t* DmlpBlockData(DmlpReceiveBlock* block) { return (uint8_t*)(block + 1); }

struct DmlpBindingRecord;
struct DmlpSubscription;

// The list element registered with a device (value type 76 of attribute 2), followed by the
// event ids and a 0 entry: 66 + 2n bytes for n ids.
typedef struct DmlpSubscriptionBlock {
    uint16_t count;
    uint16_t* ids;        // behind the element
    uint32_t selector;    // always 7
    DmlpAddress address;  // where the device reports, filled in just before sending
    uint32_t extra;       // the caller's value, sent as it stands
} DmlpSubscriptionBlock;
static_assert(sizeof(DmlpSubscriptionBlock) == 64 && offsetof(DmlpSubscriptionBlock, selector) == 16 &&
                  offsetof(DmlpSubscriptionBlock, address) == 24 && offsetof(DmlpSubscriptionBlock, extra) == 56,
              "the element layout of value type 76");

// A thread message record (tag "RQTG"): the common part, then the part of its message id.
typedef struct DmlpMessage {
    char tag[4];
    uint32_t id;
    uint64_t binding;  // binding handle
    uint8_t mode;      // DMLP_MODE_SYNC or DMLP_MODE_ASYNC
    HANDLE event;      // set when a synchronous poster waits
    DmlpStatus status;
    DmlpResultCallback function;
    void* context;
    union {
        struct {
            struct DmlpBindingRecord* record;
            DmlpAddress peer;
            DmlpAddress local;
            DmlpEPProperty property;
        } bind;
        struct {
            uint16_t method;
            uint8_t requestClass;
            void* result;
            uint8_t* frame;
            uint32_t frameLength;
            const uint8_t* data;  // raw Send: the caller's data
            uint32_t dataLength;
        } request;
        // The binding queries: the worker writes the answer through the caller's pointer while
        // the caller waits.
        struct {
            uint8_t which;
            DmlpAddress* address;
            DmlpEPProperty* propertyOut;
            DmlpEPProperty property;
            uint16_t window;
        } query;
        struct {
            uint32_t endpoint;
            DmlpStatus status;
            VxTransAddressPair sender;
            DmlpReceiveBlock* block;
        } received;
        struct {
            uint32_t endpoint;
            int32_t value;
        } state;
        struct {
            uint16_t method;
            void* result;
        } completion;
        // Subscribe and unsubscribe.
        struct {
            uint32_t objectRef[2];
            uint32_t value;
            bool setList;                      // the "2" exports: SetListElement
            DmlpSubscriptionBlock* block;      // owned until the subscription takes it
            DmlpEventCallback eventFunction;
            void* eventContext;
            uint64_t port;                     // the event port's handle
            struct DmlpSubscription* subscription;  // made at registration, added at the answer
            struct DmlpMessage* nextWaiting;   // on a port that is not yet listening
        } subscribe;
        // An event for the notification thread.
        struct {
            DmlpEventCallback function;
            void* context;
            void* event;
            DmlpAddress sender;
        } event;
        struct {
            DmlpAddress target;
            DmlpAddress local;
            uint32_t timeout;
        } discover;
    } u;
} DmlpMessage;

// Allocates a zeroed record for a message id that carries one; null when out of memory or the id
// carries none (*status then says which).
DmlpMessage* DmlpNewMessage(uint32_t id, DmlpStatus* status);
// The record of an export's call: mode, binding handle and, when a callback is given, its result
// function and context.
DmlpMessage* DmlpNewCallerMessage(uint32_t id, uint8_t mode, uint64_t binding, const DmlpCallback* callback,
                                  DmlpStatus* status);
void DmlpFreeMessage(DmlpMessage* message);

// A step the worker runs after the current handler (tag "SGNL"); the function frees nothing of
// the record, which the worker frees after the call.
typedef struct DmlpDeferredCall DmlpDeferredCall;
typedef void (*DmlpDeferredFn)(const DmlpDeferredCall* call);
struct DmlpDeferredCall {
    char tag[4];
    DmlpDeferredFn function;
    uint64_t args[5];
};
// False when out of memory or the worker is gone.
bool DmlpDefer(DmlpDeferredFn function, uint64_t a0, uint64_t a1 = 0, uint64_t a2 = 0, uint64_t a3 = 0,
               uint64_t a4 = 0);

// ---- Bindings, requests, send items ---------------------------------------------------------------

enum DmlpBindingState : uint32_t {
    DMLP_STATE_CONNECTING = 1,
    DMLP_STATE_BOUND = 2,
    DMLP_STATE_CLOSED = 3,
    DMLP_STATE_BUSY = 4,
};

#define DMLP_BINDING_CLASS1 0x01
#define DMLP_BINDING_CLASS2 0x02
#define DMLP_BINDING_EVENT_PORT 0x04
#define DMLP_BINDING_DISCOVERY 0x08

#define DMLP_WINDOW_DEFAULT 8
#define DMLP_WINDOW_MAX 32

// Completion of a send item: (status, tick, context, request id).
typedef void (*DmlpSendDone)(DmlpStatus status, uint32_t tick, uint64_t context, uint16_t requestId);

typedef struct DmlpSendItem {
    char tag[4];
    struct DmlpSendItem* next;
    uint64_t binding;
    struct DmlpPendingRequest* request;  // null once the request is dropped
    uint16_t requestId;
    DmlpSendDone done;
    uint64_t context;
    const uint8_t* data;
    uint32_t total;
    uint32_t remaining;
    uint32_t inFlight;  // bytes of the chunk in flight
    bool flying;
    bool orphaned;      // its request was dropped while a chunk was in flight: nothing more is sent
} DmlpSendItem;

// The engine's own requests (registrations) are answered on the worker: (context, status, the
// decoded block or null). Called once, after the request left every list.
typedef void (*DmlpRequestAnswered)(void* context, DmlpStatus status, void* result);

typedef struct DmlpPendingRequest {
    char tag[4];
    struct DmlpPendingRequest* next;          // the binding's pending list, oldest first
    struct DmlpPendingRequest* prev;
    struct DmlpPendingRequest* bucketNext;    // the binding's lookup by request id
    struct DmlpPendingRequest* deadlineNext;  // the deadline list
    struct DmlpPendingRequest* deadlinePrev;
    uint32_t queuedItems;                     // its send items in the binding's queue
    bool inDeadlines;
    bool replyWanted;
    uint16_t requestId;
    uint64_t binding;
    uint16_t method;
    uint8_t mode;
    uint32_t sendTime;
    uint32_t firstSendTime;
    uint32_t deadline;
    uint16_t transmissions;  // sends done
    void* resultTarget;      // the synchronous caller's result record
    uint8_t* frame;          // the encoded request (owned)
    uint32_t frameLength;
    DmlpMessage* caller;     // the caller's record: owned for asynchronous calls
    DmlpRequestAnswered answered;  // an engine request: answered here instead of a caller
    void* answeredContext;
    // Raw data Send.
    const uint8_t* data;
    uint32_t remaining;
    uint32_t chunk;
    uint8_t* chunkMessage;
} DmlpPendingRequest;

typedef struct DmlpReceiveBuffer {
    DmlpReceiveBlock* first;
    DmlpReceiveBlock* last;
    uint32_t buffered;
    uint32_t frameLength;  // of the frame being cut; 0 while not known
} DmlpReceiveBuffer;

// Buckets of the pending requests of a binding by request id, each oldest first: requests are
// sent and answered mostly in order, so even in a backlog of thousands the one sought is found
// at or near the front of its bucket.
#define DMLP_PENDING_BUCKETS 256
typedef struct DmlpPendingBucket {
    struct DmlpPendingRequest* first;
    struct DmlpPendingRequest* last;
} DmlpPendingBucket;

struct DmlpBindingRecord {
    char tag[4];
    struct DmlpBindingRecord* next;  // the binding list
    uint64_t handle;
    uint32_t id;
    uint32_t endpoint;
    uint32_t state;
    uint32_t flags;
    uint8_t connection;
    uint16_t requestCounter;
    uint16_t largestChunk;
    uint8_t* chunkBuffer;
    DmlpEPProperty property;
    uint16_t window;
    uint16_t slotsInUse;
    uint16_t slots[DMLP_WINDOW_MAX];
    DmlpSendDone heldDone;
    uint64_t heldContext;
    uint16_t heldRequestId;
    DmlpAddress peer;
    DmlpAddress local;
    VxTransAddressPair pair;
    DmlpPendingRequest* pending;
    DmlpPendingRequest* pendingTail;
    DmlpPendingBucket pendingById[DMLP_PENDING_BUCKETS];
    DmlpSendItem* queue;
    DmlpSendItem* queueTail;
    DmlpReceiveBuffer receive;
    DmlpMessage* connecting;  // the bind caller's record until the transport answers
    // Event ports.
    struct DmlpSubscription* subscriptions;
    DmlpMessage* waiting;                  // subscribes waiting for the listener's confirmation
    struct DmlpConnectionTable* connections;  // a TCP port's accepted connections
    // Discovery.
    struct DmlpDiscoveryChunk* discovered;
    DmlpMessage* discovering;              // the caller until the result is delivered
};

// An accepted connection of a TCP event port: frames are cut from its own bytes only.
typedef struct DmlpEventConnection {
    struct DmlpEventConnection* bucketNext;  // the table's lookup by handle
    struct DmlpEventConnection* newer;       // the table's activity order
    struct DmlpEventConnection* older;
    uint32_t handle;                         // the transport's handle of the connection
    DmlpReceiveBuffer receive;
} DmlpEventConnection;

// Any host may connect to a TCP event port: the open connections and the bytes their partial
// frames hold are bounded; beyond either bound the connection idle longest is closed.
#define DMLP_EVENT_CONNECTIONS_MAX 256
#define DMLP_EVENT_HELD_BYTES_MAX (4u * 1024u * 1024u)
#define DMLP_CONNECTION_BUCKETS 64

typedef struct DmlpConnectionTable {
    DmlpEventConnection* byHandle[DMLP_CONNECTION_BUCKETS];
    DmlpEventConnection* newest;
    DmlpEventConnection* oldest;
    uint32_t count;
    uint32_t heldBytes;
} DmlpConnectionTable;

// Ids 2..168 and 217..225, one bit each.
#define DMLP_EVENT_ID_BITS 176
typedef struct DmlpEventIdSet {
    uint32_t bits[(DMLP_EVENT_ID_BITS + 31) / 32];
} DmlpEventIdSet;
void DmlpEventIdSetAdd(DmlpEventIdSet* set, uint16_t id);
bool DmlpEventIdWanted(const DmlpEventIdSet* set, uint16_t id);

// A subscription on an event port (tag "EVTG").
typedef struct DmlpSubscription {
    char tag[4];
    struct DmlpSubscription* next;
    DmlpEventIdSet wanted;
    uint64_t subscriber;  // the subscriber binding's handle
    VxTransAddressPair device;  // the subscriber's peer, to match senders without a lookup
    uint32_t value;       // the list value; notifications carry it as their reference
    DmlpEventCallback function;
    void* context;
    DmlpSubscriptionBlock* block;
} DmlpSubscription;

// ---- Globals ------------------------------------------------------------------------------------

enum DmlpWorkerState : uint32_t {
    DMLP_WORKER_NONE = 0,
    DMLP_WORKER_STARTING = 1,
    DMLP_WORKER_RUNNING = 2,
    DMLP_WORKER_STOPPING = 3,
};

#define DMLP_FAMILY_BIT_INET 0x01
#define DMLP_FAMILY_BIT_IPX 0x02
#define DMLP_FAMILY_BIT_9707 0x04
#define DMLP_FAMILY_BIT_9A21 0x08

typedef struct DmlpGlobals {
    CRITICAL_SECTION startLock;   // serialises start and stop; guards userCount
    CRITICAL_SECTION workerLock;  // guards workerState across its test and a post
    uint32_t userCount;
    std::atomic<uint32_t> workerState;
    char application[16];         // handed to the runtime, tagged "APPI"
    std::atomic<DmlpInstance> instance;
    VxSrvcThread worker;
    uint32_t workerId;
    VxSrvcThread notifier;
    uint32_t notifierId;
    uint32_t bindingCounter;
    DmlpBindingRecord* bindings;
    DmlpPendingRequest* deadlines;
    DmlpPendingRequest* deadlinesTail;
    VxSrvcTimer timer;
    uint32_t armedDeadline;
    bool timerArmed;
    std::atomic<uint32_t> available;     // DMLP_FAMILY_BIT_*
    std::atomic<uint32_t> eventCapable;  // the same bits but the last
    DmlpBindingRecord* eventPorts[4];    // address kinds 1 to 4
    HMODULE routing;
    VxRoutingInitializeProc routingInitialize;
    VxRoutingSelectProc routingSelect;
    VxRoutingShutdownProc routingShutdown;
} DmlpGlobals;

extern DmlpGlobals g_dmlp;

// ---- Posting and completing -------------------------------------------------------------------------

// Posts a caller's record to the worker: 2 when it is not running (the record is freed); mode
// async returns 1 at once, sync waits and returns the record's status (then freed).
DmlpStatus DmlpPostToWorker(DmlpMessage* message);
// Posts a message of the library's own (transport, timer, worker) while the worker exists; false
// when it is gone (the caller keeps its record).
bool DmlpPostInternal(uint32_t id, uintptr_t wparam, void* record);
// Synchronous barrier or asynchronous notice to the notification thread.
DmlpStatus DmlpPostToNotifier(DmlpMessage* message, bool wait);
// The auto-reset event on which the calling thread waits for its synchronous posts; null when it
// cannot be created.
HANDLE DmlpCallerEvent(void);
// Answers the caller of an operation: sync: status and event; async: a completion notice with
// method and result, then the record is freed.
void DmlpComplete(DmlpMessage* caller, DmlpStatus status, uint16_t method, void* result);
// True while the calling thread is the notification thread.
bool DmlpOnNotifier(void);
bool DmlpRunning(void);

// ---- Bindings ---------------------------------------------------------------------------------------

DmlpBindingRecord* DmlpFindBinding(uint64_t handle);
DmlpBindingRecord* DmlpFindBindingByEndpoint(uint32_t endpoint);
uint64_t DmlpHandleOf(DmlpBinding binding);
uint64_t DmlpNextHandle(void);
// The first status that stops a request on this binding, or 1 when it is bound.
DmlpStatus DmlpBindingStateStatus(const DmlpBindingRecord* binding);
uint16_t DmlpNextRequestId(DmlpBindingRecord* binding);
// Frees send items, chunk buffer and receive buffer of a binding taken off the list, then it.
void DmlpFreeBinding(DmlpBindingRecord* binding);
void DmlpRemoveBinding(DmlpBindingRecord* binding);
// Completes every pending request of the binding with status and frees them (unbind, stop).
void DmlpFailPending(DmlpBindingRecord* binding, DmlpStatus status);

// Addresses: DmlpAddress <-> transport form.
bool DmlpToTransport(const DmlpAddress* address, VxTransAddress* transport, uint32_t* protocol);
bool DmlpFromTransport(const VxTransAddress* transport, uint32_t protocol, uint16_t bindingKind,
                       DmlpAddress* address);
uint32_t DmlpFamilyBit(uint16_t kind);
bool DmlpIsConnectionKind(uint16_t kind);
// The status of a refused open: 11 (bad address), 0x800C (refused) or 0x8001.
DmlpStatus DmlpOpenFailureStatus(int32_t result);

void DmlpHandleBind(DmlpMessage* message);
void DmlpHandleUnbind(DmlpMessage* message);
void DmlpHandleGetEPAddress(DmlpMessage* message);
void DmlpHandleGetEPProperty(DmlpMessage* message);
void DmlpHandleSetEPProperty(DmlpMessage* message);
void DmlpHandleResize(DmlpMessage* message);
void DmlpHandleState(DmlpMessage* message);
// True when the binding is listed and not closed.
bool DmlpBindingLive(const DmlpBindingRecord* binding);

// ---- Requests and the send queue ----------------------------------------------------------------------

void DmlpHandleRequest(DmlpMessage* message);
void DmlpHandleRawSend(DmlpMessage* message);
void DmlpHandleResume(uint64_t handle);
// Queues data of the request for sending; its completion goes to done with the request's id.
DmlpStatus DmlpQueueSend(DmlpBindingRecord* binding, DmlpPendingRequest* request, const uint8_t* data, uint32_t length,
                         DmlpSendDone done, uint64_t context, bool hold);
void DmlpSendPump(DmlpBindingRecord* binding, int32_t event);
void DmlpReleaseSlot(DmlpBindingRecord* binding, uint16_t requestId);
DmlpPendingRequest* DmlpFindPending(const DmlpBindingRecord* binding, uint16_t requestId);
// Enters a new request at the end of the binding's pending list and in its lookup.
void DmlpAddPending(DmlpBindingRecord* binding, DmlpPendingRequest* request);
// A closing binding sends nothing more: its queued items go, without completions.
void DmlpDropSendQueue(DmlpBindingRecord* binding);
// Takes the request off every list (pending, deadlines, queue, window) and frees it with its frame;
// an asynchronous caller's record goes with it.
void DmlpDropRequest(DmlpBindingRecord* binding, DmlpPendingRequest* request);
// Completes the request's caller with status (result: the async block or null), then drops it.
void DmlpFinishRequest(DmlpBindingRecord* binding, DmlpPendingRequest* request, DmlpStatus status, void* result);
// Sends an encoded request of the engine's own on a bound binding, reply wanted; answered is
// called once with the outcome. Not queued: the frame is freed and the queue's status returned
// (answered is not called).
DmlpStatus DmlpStartEngineRequest(DmlpBindingRecord* binding, uint8_t* frame, uint32_t length, uint16_t method,
                                  DmlpRequestAnswered answered, void* context);

// ---- Deadlines ---------------------------------------------------------------------------------------

void DmlpDeadlineInsert(DmlpPendingRequest* request);
void DmlpDeadlineRemove(DmlpPendingRequest* request);
// Sets send time and deadline from tick and enters the deadline list.
void DmlpStartDeadline(DmlpBindingRecord* binding, DmlpPendingRequest* request, uint32_t tick);
void DmlpHandleTimer(uint32_t timer, uint32_t deadline);
void DmlpCancelTimer(void);

// ---- Receiving ----------------------------------------------------------------------------------------

void DmlpHandleReceived(DmlpMessage* message);
// Appends a received block to buffer and routes every whole frame; false when routing freed the
// binding.
bool DmlpTakeBlock(DmlpBindingRecord* binding, DmlpReceiveBuffer* buffer, const VxTransAddressPair* sender,
                   DmlpReceiveBlock* block);
// True for a TCP event port: it hears many connections, each announced, fed and ended apart.
bool DmlpHearsConnections(const DmlpBindingRecord* binding);
// What the transport reports of one connection of such a port: accepted (a null block with
// status 1), its data, or its end (another status). Takes the block.
void DmlpConnectionReceived(DmlpBindingRecord* port, const VxTransAddressPair* sender, DmlpStatus status,
                            DmlpReceiveBlock* block);
// The port's connections are forgotten (their endpoints close with the port).
void DmlpFreeConnections(DmlpBindingRecord* port);
void DmlpEmptyReceiveBuffer(DmlpReceiveBuffer* buffer);
void DmlpOnReceive(uint32_t endpoint, const VxTransAddressPair* sender, const VxTransBuffer* buffer, int32_t result);
void DmlpOnState(uint32_t endpoint, int32_t value, void* context);
void DmlpOnStateData(uint32_t endpoint, void* data, int32_t value, void* context);

// ---- Event ports, subscriptions and discovery -----------------------------------------------------------

void DmlpHandleSubscribe(DmlpMessage* message);
void DmlpHandleUnsubscribe(DmlpMessage* message);
// A method-10 frame on an event port, from sender.
void DmlpDispatchEvent(DmlpBindingRecord* port, const VxTransAddressPair* sender, const uint8_t* frame,
                       uint32_t length);
// The listener's confirmation or failure while the port is connecting.
void DmlpEventPortNotice(DmlpBindingRecord* port, int32_t value);
// Unbind: the subscriptions of this binding leave every event port.
void DmlpDropSubscriptionsOf(const DmlpBindingRecord* binding);
// A binding being freed: its subscriptions, waiting subscribes (answered 21), connections and
// event-port slot; its discovery collection and caller.
void DmlpReleaseEventState(DmlpBindingRecord* binding);
// Frees what a subscribe or discover record owns besides itself.
void DmlpFreeMessageParts(DmlpMessage* message);

void DmlpHandleDiscover(DmlpMessage* message);
void DmlpReleaseDiscovery(DmlpBindingRecord* binding);
void DmlpDiscoveryNotice(DmlpBindingRecord* binding, int32_t value);
// Every frame on a discovery binding: its sender is collected.
void DmlpCollectDevice(DmlpBindingRecord* binding, const VxTransAddressPair* sender);
// The discovery's deadline passed: the result goes to the caller and the binding is freed.
void DmlpEndDiscovery(DmlpBindingRecord* binding, DmlpPendingRequest* request);

// ---- Parameter blocks --------------------------------------------------------------------------------

DmlpParamBlock* DmlpNewParamBlock(void);
void DmlpFreeParamBlock(DmlpParamBlock* block);

// ---- Routing plug-in ----------------------------------------------------------------------------------

void DmlpLoadRouting(void);
void DmlpUnloadRouting(void);
// The local half of pair for the binding: the plug-in's choice, else the transport's own.
void DmlpSelectLocal(uint32_t endpoint, VxTransAddressPair* pair);
