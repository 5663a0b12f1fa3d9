// A scriptable transport for unit tests: the static library VxTransFake defines every VxTrans call
// (link it instead of VxTrans.so). It opens no socket. It records opens, sends and closes; a test
// scripts the results of the next calls, and injects notices, received bytes and receive errors.
//
// Injections run the endpoint's callback on the calling thread and return false (calling nothing)
// for an unknown or closed endpoint, so no callback follows a close. With auto notices on, the
// fake itself confirms each open (VXTRANS_NOTICE_CONNECTED) and each accepted send
// (VXTRANS_NOTICE_SENT) from its own thread, in order, as the real transport would.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "VxTrans.h"

namespace vxfake {

enum class Call { Query, Open, Listen, Send, Close, LocalAddress, SetProperty, MaxChunk };

struct Endpoint {
    uint32_t handle = 0;
    bool listener = false;
    uint32_t threadId = 0;
    uint32_t mode = 0;             // connections: VXTRANS_MODE_*
    VxTransAddressPair pair{};     // listeners: the local address in pair.local, the protocol in pair.protocol
    void* context = nullptr;
    bool closed = false;
    uint32_t lastOption = 0;       // the last VxTransSetProperty value
};

struct Sent {
    uint32_t endpoint = 0;
    std::vector<uint8_t> data;     // the buffer's data (offset applied)
};

// Forgets endpoints, records and scripts; family 2 available, 6, 0x9707 and 0x9A21 not; auto
// notices off; local addresses 127.0.0.1 with ports from 40000 on. Handles keep growing; endpoints
// of before the reset get no more callbacks; held sends are released.
void Reset();

// Families other than 2, once made available, open like family 2 in the fake: an open without a
// local address gets one of the peer's family from the fake (IPX: network kIpxNetwork, node
// kIpxNode, the next port number as socket; 0x9707: selector = the next port number's low byte,
// address kLocal9707; 0x9A21: kLocal9A21), and a local IPX address with socket 0 gets a socket.
// Largest chunks: TCP 65535, UDP 65507, IPX (protocol 1000) 546, SPX (1256) 534, family 0x9707
// (270) 4096, others 65507.
inline constexpr uint8_t kIpxNetwork[4] = {0x00, 0x00, 0x0A, 0x01};
inline constexpr uint8_t kIpxNode[6] = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x01};
inline constexpr uint8_t kLocal9707[16] = {0x97, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
inline constexpr uint8_t kLocal9A21[8] = {0x9A, 0x21, 0, 0, 0, 0, 0, 0x01};
inline constexpr uint16_t kMaxChunkIpx = 546;
inline constexpr uint16_t kMaxChunkSpx = 534;
inline constexpr uint16_t kMaxChunk9707 = 4096;

// The next call of that kind returns result instead of its normal outcome (queued in order). A
// failing open or listen creates no endpoint; a failing send records nothing.
void ScriptResult(Call call, int32_t result);
void SetAvailable(uint16_t family, bool available);
// The local address the next opens report (and the listeners' one when they ask for port 0).
void SetLocalAddress(uint32_t ipv4NetworkOrder, uint16_t firstPort);
void SetAutoNotices(bool on);

std::vector<Endpoint> Endpoints();          // every endpoint opened, in order, closed ones too
Endpoint EndpointOf(uint32_t handle);       // handle 0 when unknown
std::vector<Sent> Sends();                  // every accepted send, in order
std::vector<uint32_t> Closes();             // every VxTransCloseEndpoint call's handle, in order
std::vector<uint16_t> Released();           // families released
uint32_t LastEndpoint();                    // the handle of the latest open, 0 when none

// Bounded waits (real milliseconds) for the records to reach a count.
bool WaitForEndpoints(size_t count, uint32_t milliseconds);
bool WaitForSends(size_t count, uint32_t milliseconds);
bool WaitForCloses(size_t count, uint32_t milliseconds);

// Injections. Notice: through the state callback when given, else the one with data (data null).
bool Notify(uint32_t endpoint, int32_t value);
// Notify(endpoint, VXTRANS_NOTICE_SENT).
bool NotifySent(uint32_t endpoint);
// Received bytes with a sender pair (peer = sender; local = the endpoint's local address).
bool Receive(uint32_t endpoint, const VxTransAddressPair& sender, const std::vector<uint8_t>& bytes);
// Received bytes from the endpoint's own peer.
bool Receive(uint32_t endpoint, const std::vector<uint8_t>& bytes);
bool ReceiveError(uint32_t endpoint, int32_t result);
// The end of a listener's accepted connection (sender.connection), as the real transport reports it.
bool ReceiveError(uint32_t endpoint, const VxTransAddressPair& sender, int32_t result);

// Holds the next VxTransSend inside the call, before it takes or records anything, until
// ReleaseHeldSend: a test thus stops the caller's thread at a known point and queues work behind
// it. Each held send waits for its own release, in the order they were held.
void HoldNextSend();
// Waits until count sends have been held in all (since the last Reset).
bool WaitForHeldSends(size_t count, uint32_t milliseconds);
void ReleaseHeldSend();

// An IPv4 pair for tests: "a.b.c.d" addresses, ports in host order.
VxTransAddressPair Pair(const char* peer, uint16_t peerPort, const char* local, uint16_t localPort,
                        uint32_t protocol);

} // namespace vxfake
