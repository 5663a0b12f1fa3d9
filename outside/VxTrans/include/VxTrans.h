// VxTrans: the transport library under the protocol library. Endpoints are connections, datagram
// associations and listeners, named by uint32 handles that are never 0 and never reused in a
// process. Results are 0 (or another non-negative value) on success and negative on failure; the
// caller looks at the low 16 bits of a failure (VXTRANS_E_*).
// The protocol library imports these calls by ordinal on Windows; here they are exported by name
// and linked directly. Ordinals, for reference:
//   110 VxTransQueryTransport   120 VxTransReleaseTransport  130 VxTransOpenConnection
//   140 VxTransCloseEndpoint    150 VxTransOpenListener      160 VxTransSend
//   170 VxTransGetLocalAddress  220 VxTransSetProperty       230 VxTransPreDispatch
//   240 VxTransGetMaxChunk
//
// Callbacks come from the transport's own thread, one at a time per endpoint, never from inside a
// call made by the caller. Once VxTransCloseEndpoint has returned, no callback of that endpoint
// runs any more (close waits for one that is running, unless it is called from that callback).
// A UDP endpoint opened on a VxSrvc message thread that offers its messages to VxTransPreDispatch,
// with that thread's own id, belongs to that thread: the thread watches its socket beside its
// messages, and every callback of the endpoint runs there, inside VxTransPreDispatch. No other
// thread then wakes for its datagrams or notices. Such endpoints are closed before their thread
// is destroyed.
#pragma once

#include <stdint.h>

#if !defined(_WIN32)
#define VXTRANS_API extern "C" __attribute__((visibility("default")))
#elif defined(VXTRANS_BUILD)
#define VXTRANS_API extern "C" __declspec(dllexport)
#else
#define VXTRANS_API extern "C"
#endif

// ---- Results (negative) and their low words

#define VXTRANS_OK 0
#define VXTRANS_E_BAD_ADDRESS ((int32_t)0xC0200006u)   // 6: the address cannot be used
#define VXTRANS_E_WOULD_BLOCK ((int32_t)0xC020000Bu)   // 11: try again after notice WRITABLE
#define VXTRANS_E_REFUSED ((int32_t)0xC020000Cu)       // 12: the peer refused the connection
#define VXTRANS_E_ABORTED ((int32_t)0xC020000Du)       // 13: queued sends were dropped
#define VXTRANS_E_RESET ((int32_t)0xC020000Eu)         // the peer reset the connection
#define VXTRANS_E_CLOSED ((int32_t)0xC020000Fu)        // the peer closed the connection
#define VXTRANS_E_TIMED_OUT ((int32_t)0xC0200010u)     // a connection attempt gave up
#define VXTRANS_E_UNREACHABLE ((int32_t)0xC0200011u)   // an ICMP error met a datagram
#define VXTRANS_E_NOT_AVAILABLE ((int32_t)0xC0200012u) // the address family has no transport
#define VXTRANS_E_BAD_HANDLE ((int32_t)0xC0200013u)    // unknown or closed endpoint
#define VXTRANS_E_BAD_PARAMETER ((int32_t)0xC0200014u)
#define VXTRANS_E_FAILED ((int32_t)0xC0208001u)        // any other system failure
#define VXTRANS_E_IN_USE ((int32_t)0xC0208002u)        // the local address is in use

// Low word of a result, as the caller compares it.
#define VXTRANS_LOW_WORD(result) ((uint16_t)((uint32_t)(result) & 0xFFFFu))

// ---- Notice values (state callbacks); a negative value is one of the results above

#define VXTRANS_NOTICE_CONNECTED 0       // a connection is up, or a listener is listening
#define VXTRANS_NOTICE_NOTHING 1         // nothing for the caller to do
#define VXTRANS_NOTICE_SENT 2            // the buffer of the last accepted send went out
#define VXTRANS_NOTICE_WRITABLE 3        // a send that would have blocked may be tried again
#define VXTRANS_NOTICE_CONNECTED_2 0x2001 // connected, second form (not produced here)

// ---- Address families, protocols, modes

#define VXTRANS_FAMILY_INET 2      // IPv4: the only family available here
#define VXTRANS_FAMILY_IPX 6       // never available: Linux has no IPX sockets
#define VXTRANS_FAMILY_9707 0x9707
#define VXTRANS_FAMILY_9A21 0x9A21
#define VXTRANS_PROTOCOL_TCP 6
#define VXTRANS_PROTOCOL_UDP 17
#define VXTRANS_MODE_CONNECTION 0  // TCP connection, or UDP associated with one peer
#define VXTRANS_MODE_DATAGRAM 1    // UDP to the peer (broadcast allowed), hearing every sender

// Largest buffer payload per send: one UDP datagram, or one TCP send.
#define VXTRANS_MAX_CHUNK_UDP 65507
#define VXTRANS_MAX_CHUNK_TCP 65535

// ---- Records

// One address: a family and its family-specific bytes (32 bytes). Family 2: +2 uint16 port in
// network order, +4 IPv4 address in network order, the rest zero. All zero: none / any.
typedef struct VxTransAddress {
    uint16_t family;
    uint8_t bytes[30];
} VxTransAddress;

// An address with its protocol number (36 bytes): what a listener is opened on and what the local
// address queries give.
typedef struct VxTransEndpointAddress {
    VxTransAddress address;
    uint32_t protocol;
} VxTransEndpointAddress;

// Peer and local address with the protocol of the pair (72 bytes).
typedef struct VxTransAddressPair {
    VxTransAddress peer;
    uint32_t protocol;
    uint32_t connection;  // a TCP listener's receive: the accepted connection's handle; else 0
    VxTransAddress local;
} VxTransAddressPair;

// A buffer as sent and received: uint16 data offset, uint16 data length, then the data starting
// 4 + offset bytes from the start of the record.
typedef struct VxTransBuffer {
    uint16_t offset;
    uint16_t length;
} VxTransBuffer;

static inline uint8_t* VxTransBufferData(VxTransBuffer* buffer)
{
    return (uint8_t*)buffer + 4 + buffer->offset;
}

static inline const uint8_t* VxTransBufferDataConst(const VxTransBuffer* buffer)
{
    return (const uint8_t*)buffer + 4 + buffer->offset;
}

// Transport query and release: family in, availability out (1 when the family can be used).
typedef struct VxTransInfo {
    uint16_t family;
    uint16_t reserved;
    uint32_t availability;
} VxTransInfo;

static_assert(sizeof(VxTransAddress) == 32, "address: 32 bytes");
static_assert(sizeof(VxTransEndpointAddress) == 36, "endpoint address: 36 bytes");
static_assert(sizeof(VxTransAddressPair) == 72, "pair: 72 bytes");
static_assert(__builtin_offsetof(VxTransAddressPair, protocol) == 32, "pair protocol at 32");
static_assert(__builtin_offsetof(VxTransAddressPair, local) == 40, "pair local at 40");
static_assert(sizeof(VxTransBuffer) == 4, "buffer header: 4 bytes");
static_assert(sizeof(VxTransInfo) == 8, "info: 8 bytes");

// ---- Callbacks

// Data arrived (result 0), or receiving failed (negative result, sender and buffer may be null).
// sender: the pair {sender, protocol, our local address}. The buffer is valid during the call only.
typedef void (*VxTransReceiveProc)(uint32_t endpoint, const VxTransAddressPair* sender,
                                   const VxTransBuffer* buffer, int32_t result);
// A notice (VXTRANS_NOTICE_* or a negative result) with the context given at open.
typedef void (*VxTransStateProc)(uint32_t endpoint, int32_t value, void* context);
// The same with data (always null from this transport).
typedef void (*VxTransStateDataProc)(uint32_t endpoint, void* data, int32_t value, void* context);

// ---- Calls

// version 1. Sets info->availability to 1 for family 2, 0 for any other family.
VXTRANS_API int32_t VxTransQueryTransport(uint32_t version, VxTransInfo* info);
VXTRANS_API int32_t VxTransReleaseTransport(uint32_t version, VxTransInfo* info);

// Opens a TCP connection (protocol 6, mode 0), a UDP association with the peer (protocol 17,
// mode 0) or an unconnected UDP endpoint sending to the peer and hearing every sender (protocol 17,
// mode 1). A local address other than all zero is bound first. threadId: the caller's thread (a
// UDP endpoint may belong to it, see above). Writes the endpoint handle and the local address. The outcome comes later as
// one notice: VXTRANS_NOTICE_CONNECTED or a negative result (VXTRANS_E_REFUSED, VXTRANS_E_TIMED_OUT
// after 20 s of TCP connecting, ...). Notices go to state when given, else to stateWithData. A TCP
// connection that the peer closes or resets gives one negative notice (VXTRANS_E_CLOSED or
// VXTRANS_E_RESET) and nothing more. A UDP association reports an ICMP error that met an earlier
// datagram as a receive error (VXTRANS_E_UNREACHABLE).
VXTRANS_API int32_t VxTransOpenConnection(uint32_t threadId, const VxTransAddressPair* pair, uint32_t mode,
                                          VxTransReceiveProc receive, VxTransStateDataProc stateWithData,
                                          VxTransStateProc state, uint32_t* endpoint,
                                          VxTransEndpointAddress* local, void* context);
// Closes any endpoint (a listener with the connections it accepted).
VXTRANS_API int32_t VxTransCloseEndpoint(uint32_t endpoint);
// Listens on a local address: TCP (protocol 6) or UDP (protocol 17); port 0 picks a free port.
// VXTRANS_E_IN_USE at once when the address is taken (UDP listeners never share a port). One
// notice VXTRANS_NOTICE_CONNECTED confirms it. Each datagram, and the data of each accepted TCP
// connection, reaches receive with the sender's pair. An accepted TCP connection has a handle of
// its own, in the pair's connection word, and reaches receive in this order: once with an empty
// buffer (length 0) when it is accepted, with each block of its data, and once with a negative
// result (VXTRANS_E_CLOSED, VXTRANS_E_RESET, ...) and its pair when it ends. VxTransCloseEndpoint
// of that handle closes it alone; nothing of it follows the close.
VXTRANS_API int32_t VxTransOpenListener(uint32_t threadId, const VxTransEndpointAddress* local,
                                        VxTransReceiveProc receive, VxTransStateDataProc stateWithData,
                                        VxTransStateProc state, uint32_t* endpoint, void* context);
// Sends the buffer's data (copied before the call returns). 0: accepted, VXTRANS_NOTICE_SENT
// follows. VXTRANS_E_WOULD_BLOCK: not taken, VXTRANS_NOTICE_WRITABLE follows. A data length above
// the endpoint's largest chunk, or zero, is VXTRANS_E_BAD_PARAMETER. On a UDP endpoint a send that
// meets an earlier ICMP error is repeated once. flags: 0.
VXTRANS_API int32_t VxTransSend(uint32_t endpoint, const VxTransBuffer* buffer, uint32_t flags);
// which: 1. The endpoint's local address and protocol.
VXTRANS_API int32_t VxTransGetLocalAddress(uint32_t endpoint, uint32_t which, VxTransEndpointAddress* local);
// Family-specific option; family 2 has none and accepts any value.
VXTRANS_API int32_t VxTransSetProperty(uint32_t endpoint, uint32_t option);
// Offered every message of a VxSrvc message thread (thread: its VxSrvcThread) first; non-zero when
// the transport consumed it. The transport's own messages, those of the endpoints the thread owns,
// are consumed: their callbacks run here, unless the endpoint has been closed meanwhile.
VXTRANS_API int32_t VxTransPreDispatch(void* thread, uint32_t message, uintptr_t wparam, void* record);

// The transport's messages to an owner thread (wparam: the endpoint handle): a notice (record: its
// value), and data waiting on the endpoint's socket.
#define VXTRANS_MSG_NOTICE 0x7E01
#define VXTRANS_MSG_READABLE 0x7E02
// The largest data length one send takes: 65507 for UDP, 65535 for TCP. reserved: 0.
VXTRANS_API int32_t VxTransGetMaxChunk(uint32_t endpoint, uint16_t* largest, uint32_t reserved);

// ---- Test hook (never called by the system's own code)

// The socket of an endpoint, so that a test can watch its state; -1 when unknown or closed.
VXTRANS_API int VxTransTestSocketOf(uint32_t endpoint);
