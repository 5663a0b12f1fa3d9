// VxDmlp: the records of the DMLP protocol library's interface. Their byte offsets are part of
// the interface between the library and its callers, so every size and offset is asserted.
#pragma once

#include <stddef.h>
#include <stdint.h>

// ---- Wire header ----------------------------------------------------------------------------

#define DMLP_HEADER_MAGIC 0xCDCA
#define DMLP_HEADER_VERSION 0x10
#define DMLP_HEADER_LENGTH 20

// Header flags.
#define DMLP_FLAG_STATUS 0x01        // the message answers a request; bytes 18-19 hold the status
#define DMLP_FLAG_MORE 0x02          // more parts follow
#define DMLP_FLAG_REPLY_WANTED 0x04  // a reply is wanted
#define DMLP_FLAG_AUX 0x08           // byte 18 carries the auxiliary byte

// Header field indexes for get, set, peek and patch.
enum DmlpHeaderField {
    DMLP_FIELD_MAGIC = 0,
    DMLP_FIELD_VERSION = 1,
    DMLP_FIELD_FLAGS = 2,
    DMLP_FIELD_METHOD = 3,
    DMLP_FIELD_REQUEST_ID = 4,
    DMLP_FIELD_BODY_LENGTH = 5,
    DMLP_FIELD_OBJECT_REF0 = 6,
    DMLP_FIELD_OBJECT_REF1 = 7,
    DMLP_FIELD_STATUS = 8,
    DMLP_FIELD_AUX = 9,
};

// The header in memory. Without DMLP_FLAG_STATUS the status slot holds the auxiliary byte in
// its low byte and the second wire byte in its high byte.
typedef struct DmlpHeader {
    uint16_t magic;
    uint8_t version;
    uint8_t flags;
    uint16_t method;
    uint16_t requestId;
    uint16_t bodyLength;
    uint32_t objectRef0;
    uint32_t objectRef1;
    uint16_t status;
} DmlpHeader;
static_assert(sizeof(DmlpHeader) == 24, "DmlpHeader size");
static_assert(offsetof(DmlpHeader, version) == 2 && offsetof(DmlpHeader, flags) == 3, "DmlpHeader");
static_assert(offsetof(DmlpHeader, method) == 4 && offsetof(DmlpHeader, requestId) == 6, "DmlpHeader");
static_assert(offsetof(DmlpHeader, bodyLength) == 8 && offsetof(DmlpHeader, objectRef0) == 12, "DmlpHeader");
static_assert(offsetof(DmlpHeader, objectRef1) == 16 && offsetof(DmlpHeader, status) == 20, "DmlpHeader");

// ---- Statuses ----------------------------------------------------------------------------------

// The result of every DMLP_* export and of every completion. Other values in a completion are
// the device's own status, taken from the reply header (for example 8 or 33).
typedef uint16_t DmlpStatus;

#define DMLP_SUCCESS 1
#define DMLP_NOT_AVAILABLE 2
#define DMLP_PARTIAL_REPLY 4
#define DMLP_INTERNAL_FAILURE 6
#define DMLP_NOT_SUPPORTED 7
#define DMLP_EMPTY_EVENT_LIST 8
#define DMLP_WRONG_INSTANCE 10
#define DMLP_BAD_PARAMETER 11
#define DMLP_UNKNOWN_BINDING 19
#define DMLP_TIMEOUT 20
#define DMLP_BINDING_CLOSED 21
#define DMLP_PARTIAL_REPLY_ASYNC 29
#define DMLP_INCOMPLETE_REPLY 33
#define DMLP_TRANSPORT_FAILURE 0x8001
#define DMLP_SEND_ABORTED 0x8003
#define DMLP_BOUND_2001 0x8004
#define DMLP_CONNECTING 0x8005
#define DMLP_BAD_REPLY 0x8006
#define DMLP_SEND_AGAIN 0x8007
#define DMLP_OUT_OF_MEMORY 0x8009
#define DMLP_BUSY 0x800B
#define DMLP_CONNECTION_REFUSED 0x800C

// ---- Addresses ---------------------------------------------------------------------------------

// Address kinds.
#define DMLP_ADDRESS_TCP 1
#define DMLP_ADDRESS_UDP 2
#define DMLP_ADDRESS_IPX 3
#define DMLP_ADDRESS_SPX 4
#define DMLP_ADDRESS_9707 6
#define DMLP_ADDRESS_9A21 11
#define DMLP_ADDRESS_9707_SELECTOR 15

// The 32-byte endpoint address: a kind, then the kind's fields from +8; unused bytes are zero.
// Kinds without a record of their own keep their wire fields from +8 in wire order.
typedef struct DmlpAddress {
    uint16_t kind;
    uint8_t reserved[6];
    union {
        struct { uint8_t address[4]; uint16_t port; } inet;                    // 1, 2, 14
        struct { uint8_t node[6]; uint8_t network[4]; uint16_t socket; } ipx;  // 3, 4, 5
        struct { uint8_t selector; uint8_t address[16]; } family9707;          // 6
        struct { uint16_t first; uint8_t second; uint8_t third; } kind7;       // 7
        struct { uint8_t address[16]; uint16_t tail; } kind89;                 // 8, 9
        struct { uint64_t first; uint64_t second; } pair64;                    // 10, 12
        struct { uint32_t first; uint32_t unused; uint64_t address; } family9A21;  // 11
        struct { uint8_t lead; uint8_t address[16]; uint8_t selector; } kind15;    // 15
        uint8_t bytes[24];
    } u;
} DmlpAddress;
static_assert(sizeof(DmlpAddress) == 32, "DmlpAddress size");
static_assert(offsetof(DmlpAddress, u) == 8, "DmlpAddress body at +8");
static_assert(offsetof(DmlpAddress, u.inet.port) == 12, "DmlpAddress IPv4 port");
static_assert(offsetof(DmlpAddress, u.ipx.network) == 14 && offsetof(DmlpAddress, u.ipx.socket) == 18, "IPX");
static_assert(offsetof(DmlpAddress, u.family9707.address) == 9, "DmlpAddress kind 6");
static_assert(offsetof(DmlpAddress, u.kind7.second) == 10 && offsetof(DmlpAddress, u.kind7.third) == 11, "kind 7");
static_assert(offsetof(DmlpAddress, u.kind89.tail) == 24, "DmlpAddress kind 9");
static_assert(offsetof(DmlpAddress, u.pair64.second) == 16, "DmlpAddress kinds 10, 12");
static_assert(offsetof(DmlpAddress, u.family9A21.address) == 16, "DmlpAddress kind 11");
static_assert(offsetof(DmlpAddress, u.kind15.address) == 9 && offsetof(DmlpAddress, u.kind15.selector) == 25, "kind 15");

// The address form handed to the transport library: a family and its bytes (32 bytes).
typedef struct DmlpTransportAddress {
    uint16_t family;
    union {
        struct { uint16_t port; uint8_t address[4]; } inet;                    // family 2
        struct { uint8_t network[4]; uint8_t node[6]; uint16_t socket; } ipx;  // family 6
        struct { uint8_t selector; uint8_t unused; uint8_t address[16]; } family9707;
        struct { uint8_t unused[6]; uint8_t address[8]; } family9A21;
        uint8_t bytes[30];
    } u;
} DmlpTransportAddress;
static_assert(sizeof(DmlpTransportAddress) == 32, "DmlpTransportAddress size");
static_assert(offsetof(DmlpTransportAddress, u.inet.address) == 4, "family 2 address at +4");
static_assert(offsetof(DmlpTransportAddress, u.ipx.node) == 6 && offsetof(DmlpTransportAddress, u.ipx.socket) == 12, "6");
static_assert(offsetof(DmlpTransportAddress, u.family9707.address) == 4, "family 0x9707 address at +4");
static_assert(offsetof(DmlpTransportAddress, u.family9A21.address) == 8, "family 0x9A21 address at +8");

// One transport address with its protocol number.
typedef struct DmlpTransportEndpoint {
    DmlpTransportAddress address;
    uint32_t protocol;
} DmlpTransportEndpoint;
static_assert(sizeof(DmlpTransportEndpoint) == 36 && offsetof(DmlpTransportEndpoint, protocol) == 32, "endpoint");

// A peer and local address pair; the protocol word belongs to the pair (72 bytes).
typedef struct DmlpTransportAddressPair {
    DmlpTransportAddress peer;
    uint32_t protocol;
    uint32_t reserved;
    DmlpTransportAddress local;
} DmlpTransportAddressPair;
static_assert(sizeof(DmlpTransportAddressPair) == 72, "DmlpTransportAddressPair size");
static_assert(offsetof(DmlpTransportAddressPair, protocol) == 32 && offsetof(DmlpTransportAddressPair, local) == 40, "pair");

// ---- Bindings, properties, callbacks -----------------------------------------------------------

typedef uint64_t DmlpInstance;
typedef struct DmlpBindingRecord* DmlpBinding;
static_assert(sizeof(DmlpInstance) == 8 && sizeof(DmlpBinding) == 8, "8-byte handles");

typedef struct DmlpEPProperty {
    uint32_t timeout;          // ticks of the runtime clock (milliseconds)
    uint8_t transmissions;     // sends of a request at most, the first included
    uint8_t kept[3];
    uint32_t transportOption;  // handed to the transport for kind-6 bindings
    uint32_t reserved;
} DmlpEPProperty;
static_assert(sizeof(DmlpEPProperty) == 16, "DmlpEPProperty size");
static_assert(offsetof(DmlpEPProperty, transmissions) == 4 && offsetof(DmlpEPProperty, transportOption) == 8, "EP");
static_assert(offsetof(DmlpEPProperty, reserved) == 12, "DmlpEPProperty reserved at +12");

#define DMLP_CALLBACK_KIND 10

typedef uint16_t (*DmlpResultCallback)(DmlpBinding binding, uint16_t method, void* context, uint16_t status,
                                       void* result);
typedef void (*DmlpEventCallback)(const DmlpAddress* sender, void* context, void* event);

typedef struct DmlpCallback {
    uint16_t kind;
    uint8_t unused[6];
    union {
        DmlpResultCallback result;
        DmlpEventCallback event;
    } function;
    void* context;
    uint64_t reserved;
} DmlpCallback;
static_assert(sizeof(DmlpCallback) == 32, "DmlpCallback size");
static_assert(offsetof(DmlpCallback, function) == 8 && offsetof(DmlpCallback, context) == 16, "DmlpCallback");
static_assert(offsetof(DmlpCallback, reserved) == 24, "DmlpCallback reserved at +24");

// count event ids at eventIds (at most 32734; eventIds may be null when count is 0). The library
// copies the count ids and puts a 0 entry after them.
typedef struct DmlpEventList {
    uint16_t count;
    const uint16_t* eventIds;
} DmlpEventList;
static_assert(sizeof(DmlpEventList) == 16 && offsetof(DmlpEventList, eventIds) == 8, "DmlpEventList");

// ---- Decoded results ---------------------------------------------------------------------------

// Buffer flags.
#define DMLP_BUFFER_VALID 0x01
#define DMLP_BUFFER_MAY_GROW 0x02
#define DMLP_BUFFER_GROWN 0x04
#define DMLP_BUFFER_LIBRARY 0x08  // the library allocated the block

// The descriptor of a decoded result's data block.
typedef struct DmlpBuffer {
    void* data;
    uint16_t size;
    uint16_t flags;
    uint32_t unused;
    uint64_t reserved;
} DmlpBuffer;
static_assert(sizeof(DmlpBuffer) == 24, "DmlpBuffer size");
static_assert(offsetof(DmlpBuffer, size) == 8 && offsetof(DmlpBuffer, flags) == 10, "DmlpBuffer");
static_assert(offsetof(DmlpBuffer, reserved) == 16, "DmlpBuffer reserved at +16");

#define DMLP_PARAM_TAG "OPGN"
#define DMLP_PARAM_HANDED_OUT 112

// The library-allocated block in which asynchronous results and events travel; callers get
// handedOut (block + 16).
typedef struct DmlpParamBlock {
    char tag[4];
    uint8_t zero[4];
    void* data;
    union {
        uint8_t bytes[DMLP_PARAM_HANDED_OUT];
        uint64_t align;
    } handedOut;
} DmlpParamBlock;
static_assert(sizeof(DmlpParamBlock) == 128, "DmlpParamBlock size");
static_assert(offsetof(DmlpParamBlock, data) == 8 && offsetof(DmlpParamBlock, handedOut) == 16, "DmlpParamBlock");

// One attribute of a decoded attribute list: length 0 when the value was decoded through its
// value type, else the wire length of the raw bytes that value points to.
typedef struct DmlpAttributeEntry {
    uint16_t id;
    uint16_t length;
    void* value;
} DmlpAttributeEntry;
static_assert(sizeof(DmlpAttributeEntry) == 16 && offsetof(DmlpAttributeEntry, value) == 8, "DmlpAttributeEntry");

// An attribute list in memory: a count and its entries (16 bytes, the count at +0).
typedef struct DmlpAttributeList {
    uint16_t count;
    DmlpAttributeEntry* entries;
} DmlpAttributeList;
static_assert(sizeof(DmlpAttributeList) == 16 && offsetof(DmlpAttributeList, entries) == 8, "DmlpAttributeList");

// The tagged eight-byte form in memory: tag 3 four uint16, tag 4 two uint32 (host order), other
// tags the eight wire bytes.
typedef struct DmlpTaggedOctets {
    uint8_t tag;
    uint8_t zero[3];
    union {
        uint16_t u16[4];
        uint32_t u32[2];
        uint8_t bytes[8];
    } value;
} DmlpTaggedOctets;
static_assert(sizeof(DmlpTaggedOctets) == 12 && offsetof(DmlpTaggedOctets, value) == 4, "DmlpTaggedOctets");
