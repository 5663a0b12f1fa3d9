// The transport's shared state: endpoints by handle, sockets by epoll token, the I/O thread and
// the notices waiting for it. One lock guards it all; callbacks run on the I/O thread (or, for an
// owned UDP endpoint, on its owner thread) without that lock, each under its endpoint's callback
// lock, which VxTransCloseEndpoint takes once to wait for a callback in progress.
#pragma once

#include "transport_sockets.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "VxTrans.h"

namespace vxtrans {

enum class Kind { TcpConnection, UdpConnection, UdpDatagram, TcpListener, UdpListener };

struct Callbacks {
    VxTransReceiveProc receive = nullptr;
    VxTransStateDataProc stateWithData = nullptr;
    VxTransStateProc state = nullptr;
    void* context = nullptr;
};

// A connection accepted by a TCP listener; its data reaches the listener's receive callback.
struct Child {
    uint32_t handle = 0; // from the endpoints' handles: the pair's connection word
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false); // by the caller
    int fd = -1;
    sockaddr_in peer{};
    sockaddr_in local{};
};

struct Endpoint {
    uint32_t handle = 0;
    Kind kind = Kind::UdpConnection;
    uint32_t protocol = 0;
    Callbacks callbacks;
    int fd = -1;
    uint64_t token = 0;
    sockaddr_in peer{};
    void* owner = nullptr;        // UDP: the message thread that watches the socket and runs every callback
    uint32_t ownerWatch = 0;      // the owner's watch of the socket
    bool localKnown = false;      // UDP: the local address, read once (it never changes)
    sockaddr_in local{};
    std::atomic<bool> closed{false};
    std::mutex callbackLock;

    bool connecting = false;     // TCP: connect in progress
    uint32_t connectDeadline = 0; // tick at which a TCP connect gives up
    bool ended = false;           // TCP: the stream ended with a negative notice; nothing more comes
    bool wantWritable = false;    // a send was refused as would-block: notice WRITABLE follows
    std::vector<uint8_t> outgoing; // TCP: the rest of an accepted send the kernel has not taken
    size_t outgoingSent = 0;

    std::map<uint64_t, Child> children; // TCP listener: accepted connections by token
};

using EndpointRef = std::shared_ptr<Endpoint>;

// One callback to run on the I/O thread.
struct Delivery {
    EndpointRef endpoint;
    bool isReceive = false;
    int32_t value = 0;              // notice value or receive result
    bool hasSender = false;
    VxTransAddressPair sender{};
    std::vector<uint8_t> buffer;    // receive: 4-byte buffer header, then the data
    std::shared_ptr<std::atomic<bool>> childClosed; // an accepted connection's: set when the caller closed it
};

struct Watch {
    EndpointRef endpoint;
    bool child = false; // an accepted connection of a TCP listener
};

struct Transport {
    std::mutex lock;
    std::map<uint32_t, EndpointRef> endpoints;
    std::map<uint64_t, Watch> watches;
    std::set<uint32_t> connecting; // TCP connections whose connect is in progress
    std::map<uint32_t, std::pair<EndpointRef, uint64_t>> accepted; // a child's handle: listener and token
    uint32_t lastHandle = 0;
    uint64_t lastToken = 0;
    int epoll = -1;
    int wake = -1; // eventfd
    std::thread ioThread;
    std::vector<Delivery> queued; // notices from calls, delivered by the I/O thread in order
};

Transport& transport();
// Starts the I/O thread and its epoll set at first use; false when that fails. Lock held.
bool startLocked(Transport& state);
// Queues a notice for the I/O thread and wakes it. Lock held.
void queueNoticeLocked(Transport& state, const EndpointRef& endpoint, int32_t value);
// Makes the I/O thread look again (at its connect deadlines too). Lock held.
void wakeLocked(Transport& state);
// Adds, changes or removes a socket's epoll registration. Lock held.
// Returns the socket's token, 0 when epoll refused it.
uint64_t watchLocked(Transport& state, int fd, const EndpointRef& endpoint, bool child, uint32_t events);
void rewatchLocked(Transport& state, int fd, uint64_t token, uint32_t events);
void unwatchLocked(Transport& state, int fd, uint64_t token);
// True while the calling thread runs a callback of the endpoint.
bool inCallbackOf(const Endpoint& endpoint);
// Remembers the message thread that the calling thread dispatches for (VxTransPreDispatch).
void noteDispatcher(void* thread);
// The message thread that would own an endpoint opened now for threadId: the calling thread's,
// when threadId is the caller's and the caller dispatches through VxTransPreDispatch; else null.
void* ownerFor(uint32_t threadId);
// A notice for the endpoint: a message of its owner, or else queued for the I/O thread. Lock held.
void noticeLocked(Transport& state, const EndpointRef& endpoint, int32_t value);
// On the owner thread (VxTransPreDispatch): a notice posted to it, and its socket's datagrams;
// nothing for an endpoint that is gone or closed.
void deliverPostedNotice(uint32_t handle, int32_t value);
void receiveOwned(uint32_t handle);

// Addresses and results.
bool toSockaddr(const VxTransAddress& address, sockaddr_in& out);
VxTransAddress fromSockaddr(const sockaddr_in& address);
bool isUnset(const VxTransAddress& address);
VxTransAddressPair pairOf(const sockaddr_in& peer, uint32_t protocol, const sockaddr_in& local);
// The pair of an accepted connection: its handle in the connection word.
VxTransAddressPair pairOf(const Child& child);
// Closes an accepted connection and forgets it. Lock held.
void closeChildLocked(Transport& state, const EndpointRef& listener, uint64_t token);
int32_t resultOfErrno(int error, uint32_t protocol);

} // namespace vxtrans
