// The scriptable transport of the unit tests (see VxTransFake.h).
#include "VxTransFake.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace vxfake {
namespace {

struct FakeEndpoint {
    Endpoint record;
    VxTransReceiveProc receive = nullptr;
    VxTransStateDataProc stateWithData = nullptr;
    VxTransStateProc state = nullptr;
    VxTransEndpointAddress local{};
    std::atomic<bool> closed{false};
    std::recursive_mutex callbackLock; // held while a callback runs; close waits for it
};

using FakeRef = std::shared_ptr<FakeEndpoint>;

struct AutoNotice {
    FakeRef endpoint;
    int32_t value;
};

struct Fake {
    std::mutex lock;
    std::condition_variable changed;
    std::map<uint32_t, FakeRef> endpoints; // in opening order (handles grow)
    std::vector<Sent> sends;
    std::vector<uint32_t> closes;
    std::vector<uint16_t> released;
    std::map<Call, std::deque<int32_t>> scripts;
    std::set<uint16_t> available{VXTRANS_FAMILY_INET};
    uint32_t lastHandle = 0;
    uint32_t latest = 0;
    uint32_t localIp = htonl(0x7F000001);
    uint16_t nextPort = 40000;
    bool autoNotices = false;
    std::deque<AutoNotice> autoQueue;
    std::thread autoThread;
    // Held sends: each takes the next ticket and waits until that many are released.
    bool holdNextSend = false;
    uint64_t heldSends = 0;
    uint64_t releasedSends = 0;
    uint64_t heldBeforeReset = 0;
};

Fake& fake()
{
    static Fake* state = new Fake; // the auto-notice thread may outlive static destruction
    return *state;
}

// The scripted result of this call, if one is queued.
bool scriptedLocked(Fake& state, Call call, int32_t& result)
{
    auto& queue = state.scripts[call];
    if (queue.empty())
        return false;
    result = queue.front();
    queue.pop_front();
    return true;
}

FakeRef findLocked(Fake& state, uint32_t handle)
{
    auto found = state.endpoints.find(handle);
    return found == state.endpoints.end() || found->second->closed ? nullptr : found->second;
}

FakeRef find(uint32_t handle)
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    return findLocked(state, handle);
}

VxTransAddress inetAddress(uint32_t ipv4, uint16_t port)
{
    VxTransAddress address{};
    address.family = VXTRANS_FAMILY_INET;
    const uint16_t netPort = htons(port);
    std::memcpy(address.bytes, &netPort, 2);
    std::memcpy(address.bytes + 2, &ipv4, 4);
    return address;
}

bool isUnset(const VxTransAddress& address)
{
    static const VxTransAddress none{};
    return std::memcmp(&address, &none, sizeof none) == 0;
}

// Family-specific bytes (VxTransAddress::bytes): family 2 port at 0; family 6 network at 0, node
// at 4, socket at 10; family 0x9707 selector at 0, address at 2; family 0x9A21 address at 6.
const size_t kInetPortAt = 0, kIpxNetworkAt = 0, kIpxNodeAt = 4, kIpxSocketAt = 10, k9707AddressAt = 2,
             k9A21AddressAt = 6;

// A local address of the peer's family, made up by the fake.
VxTransAddress madeUpLocal(Fake& state, uint16_t family)
{
    VxTransAddress address{};
    address.family = family;
    switch (family) {
    case VXTRANS_FAMILY_IPX: {
        std::memcpy(address.bytes + kIpxNetworkAt, kIpxNetwork, sizeof kIpxNetwork);
        std::memcpy(address.bytes + kIpxNodeAt, kIpxNode, sizeof kIpxNode);
        const uint16_t socket = htons(state.nextPort++);
        std::memcpy(address.bytes + kIpxSocketAt, &socket, 2);
        return address;
    }
    case VXTRANS_FAMILY_9707:
        address.bytes[0] = static_cast<uint8_t>(state.nextPort++);
        std::memcpy(address.bytes + k9707AddressAt, kLocal9707, sizeof kLocal9707);
        return address;
    case VXTRANS_FAMILY_9A21:
        std::memcpy(address.bytes + k9A21AddressAt, kLocal9A21, sizeof kLocal9A21);
        return address;
    default: return inetAddress(state.localIp, state.nextPort++);
    }
}

// Fills a zero port (family 2) or socket (family 6) with one of the fake's.
void fillPort(Fake& state, VxTransAddress& local)
{
    const size_t at = local.family == VXTRANS_FAMILY_INET ? kInetPortAt
                      : local.family == VXTRANS_FAMILY_IPX ? kIpxSocketAt
                                                           : sizeof local.bytes;
    if (at == sizeof local.bytes || local.bytes[at] != 0 || local.bytes[at + 1] != 0)
        return;
    const uint16_t port = htons(state.nextPort++);
    std::memcpy(local.bytes + at, &port, 2);
}

// The local address an open reports: the one asked for (a zero port or socket filled in), else
// one of the peer's family (a listener has no peer: family 2).
VxTransAddress localFor(Fake& state, const VxTransAddress& asked, uint16_t peerFamily)
{
    if (isUnset(asked))
        return madeUpLocal(state, peerFamily);
    VxTransAddress local = asked;
    fillPort(state, local);
    return local;
}

uint16_t maxChunkOf(uint32_t protocol)
{
    switch (protocol) {
    case VXTRANS_PROTOCOL_TCP: return VXTRANS_MAX_CHUNK_TCP;
    case 1000: return kMaxChunkIpx;
    case 1256: return kMaxChunkSpx;
    case 270: return kMaxChunk9707;
    default: return VXTRANS_MAX_CHUNK_UDP;
    }
}

bool deliverNotice(const FakeRef& endpoint, int32_t value)
{
    std::lock_guard<std::recursive_mutex> lock(endpoint->callbackLock);
    if (endpoint->closed)
        return false;
    if (endpoint->state != nullptr)
        endpoint->state(endpoint->record.handle, value, endpoint->record.context);
    else if (endpoint->stateWithData != nullptr)
        endpoint->stateWithData(endpoint->record.handle, nullptr, value, endpoint->record.context);
    return true;
}

bool deliverReceive(const FakeRef& endpoint, const VxTransAddressPair* sender, const std::vector<uint8_t>* bytes,
                    int32_t result)
{
    std::vector<uint8_t> buffer;
    if (bytes != nullptr) {
        buffer.resize(4 + bytes->size());
        const VxTransBuffer header{0, static_cast<uint16_t>(bytes->size())};
        std::memcpy(buffer.data(), &header, 4);
        if (!bytes->empty())
            std::memcpy(buffer.data() + 4, bytes->data(), bytes->size());
    }
    std::lock_guard<std::recursive_mutex> lock(endpoint->callbackLock);
    if (endpoint->closed || endpoint->receive == nullptr)
        return false;
    endpoint->receive(endpoint->record.handle, sender,
                      bytes != nullptr ? reinterpret_cast<const VxTransBuffer*>(buffer.data()) : nullptr, result);
    return true;
}

void autoNoticeLoop()
{
    Fake& state = fake();
    std::unique_lock<std::mutex> lock(state.lock);
    for (;;) {
        state.changed.wait(lock, [&] { return !state.autoQueue.empty(); });
        AutoNotice next = state.autoQueue.front();
        state.autoQueue.pop_front();
        lock.unlock();
        deliverNotice(next.endpoint, next.value);
        lock.lock();
    }
}

void queueAutoNoticeLocked(Fake& state, const FakeRef& endpoint, int32_t value)
{
    if (!state.autoNotices)
        return;
    if (!state.autoThread.joinable())
        state.autoThread = std::thread(autoNoticeLoop);
    state.autoQueue.push_back({endpoint, value});
    state.changed.notify_all();
}

int32_t open(Endpoint record, const VxTransAddress& askedLocal, VxTransReceiveProc receive,
             VxTransStateDataProc stateWithData, VxTransStateProc stateProc, uint32_t* handle,
             VxTransEndpointAddress* local)
{
    if (handle == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    int32_t result;
    if (scriptedLocked(state, record.listener ? Call::Listen : Call::Open, result) && result < 0)
        return result;
    auto endpoint = std::make_shared<FakeEndpoint>();
    record.handle = ++state.lastHandle;
    record.pair.local = localFor(state, askedLocal, record.pair.peer.family);
    endpoint->record = record;
    endpoint->receive = receive;
    endpoint->stateWithData = stateWithData;
    endpoint->state = stateProc;
    endpoint->local = VxTransEndpointAddress{record.pair.local, record.pair.protocol};
    state.endpoints[record.handle] = endpoint;
    state.latest = record.handle;
    *handle = record.handle;
    if (local != nullptr)
        *local = endpoint->local;
    queueAutoNoticeLocked(state, endpoint, VXTRANS_NOTICE_CONNECTED);
    state.changed.notify_all();
    return VXTRANS_OK;
}

template <typename Count>
bool waitUntil(Count count, size_t wanted, uint32_t milliseconds)
{
    Fake& state = fake();
    std::unique_lock<std::mutex> lock(state.lock);
    return state.changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [&] { return count(state) >= wanted; });
}

} // namespace

void Reset()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    for (auto& [handle, endpoint] : state.endpoints)
        endpoint->closed = true;
    state.endpoints.clear();
    state.sends.clear();
    state.closes.clear();
    state.released.clear();
    state.scripts.clear();
    state.available = {VXTRANS_FAMILY_INET};
    state.latest = 0;
    state.localIp = htonl(0x7F000001);
    state.nextPort = 40000;
    state.autoNotices = false;
    state.autoQueue.clear();
    state.holdNextSend = false;
    state.releasedSends = state.heldSends;
    state.heldBeforeReset = state.heldSends;
    state.changed.notify_all();
}

void ScriptResult(Call call, int32_t result)
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    state.scripts[call].push_back(result);
}

void SetAvailable(uint16_t family, bool available)
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    if (available)
        state.available.insert(family);
    else
        state.available.erase(family);
}

void SetLocalAddress(uint32_t ipv4NetworkOrder, uint16_t firstPort)
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    state.localIp = ipv4NetworkOrder;
    state.nextPort = firstPort;
}

void SetAutoNotices(bool on)
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    state.autoNotices = on;
}

std::vector<Endpoint> Endpoints()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    std::vector<Endpoint> records;
    for (const auto& [handle, endpoint] : state.endpoints) {
        records.push_back(endpoint->record);
        records.back().closed = endpoint->closed.load();
    }
    return records;
}

Endpoint EndpointOf(uint32_t handle)
{
    for (const Endpoint& record : Endpoints())
        if (record.handle == handle)
            return record;
    return Endpoint{};
}

std::vector<Sent> Sends()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.sends;
}

std::vector<uint32_t> Closes()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.closes;
}

std::vector<uint16_t> Released()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.released;
}

uint32_t LastEndpoint()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.latest;
}

bool WaitForEndpoints(size_t count, uint32_t milliseconds)
{
    return waitUntil([](Fake& state) { return state.endpoints.size(); }, count, milliseconds);
}

bool WaitForSends(size_t count, uint32_t milliseconds)
{
    return waitUntil([](Fake& state) { return state.sends.size(); }, count, milliseconds);
}

bool WaitForCloses(size_t count, uint32_t milliseconds)
{
    return waitUntil([](Fake& state) { return state.closes.size(); }, count, milliseconds);
}

void HoldNextSend()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    state.holdNextSend = true;
}

bool WaitForHeldSends(size_t count, uint32_t milliseconds)
{
    return waitUntil([](Fake& state) { return state.heldSends - state.heldBeforeReset; }, count, milliseconds);
}

void ReleaseHeldSend()
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    if (state.releasedSends < state.heldSends)
        ++state.releasedSends;
    state.changed.notify_all();
}

bool Notify(uint32_t endpoint, int32_t value)
{
    const FakeRef found = find(endpoint);
    return found != nullptr && deliverNotice(found, value);
}

bool NotifySent(uint32_t endpoint)
{
    return Notify(endpoint, VXTRANS_NOTICE_SENT);
}

bool Receive(uint32_t endpoint, const VxTransAddressPair& sender, const std::vector<uint8_t>& bytes)
{
    const FakeRef found = find(endpoint);
    return found != nullptr && deliverReceive(found, &sender, &bytes, VXTRANS_OK);
}

bool Receive(uint32_t endpoint, const std::vector<uint8_t>& bytes)
{
    const FakeRef found = find(endpoint);
    if (found == nullptr)
        return false;
    VxTransAddressPair sender = found->record.pair;
    return deliverReceive(found, &sender, &bytes, VXTRANS_OK);
}

bool ReceiveError(uint32_t endpoint, int32_t result)
{
    const FakeRef found = find(endpoint);
    return found != nullptr && deliverReceive(found, nullptr, nullptr, result);
}

bool ReceiveError(uint32_t endpoint, const VxTransAddressPair& sender, int32_t result)
{
    const FakeRef found = find(endpoint);
    return found != nullptr && deliverReceive(found, &sender, nullptr, result);
}

VxTransAddressPair Pair(const char* peer, uint16_t peerPort, const char* local, uint16_t localPort, uint32_t protocol)
{
    VxTransAddressPair pair{};
    uint32_t peerIp = 0, localIp = 0;
    inet_pton(AF_INET, peer, &peerIp);
    inet_pton(AF_INET, local, &localIp);
    pair.peer = inetAddress(peerIp, peerPort);
    pair.protocol = protocol;
    pair.local = inetAddress(localIp, localPort);
    return pair;
}

} // namespace vxfake

using namespace vxfake;

int32_t VxTransQueryTransport(uint32_t /*version*/, VxTransInfo* info)
{
    if (info == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    int32_t result;
    if (scriptedLocked(state, Call::Query, result) && result < 0)
        return result;
    info->availability = state.available.count(info->family) != 0 ? 1 : 0;
    return VXTRANS_OK;
}

int32_t VxTransReleaseTransport(uint32_t /*version*/, VxTransInfo* info)
{
    if (info == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    state.released.push_back(info->family);
    return VXTRANS_OK;
}

int32_t VxTransOpenConnection(uint32_t threadId, const VxTransAddressPair* pair, uint32_t mode,
                              VxTransReceiveProc receive, VxTransStateDataProc stateWithData, VxTransStateProc state,
                              uint32_t* endpoint, VxTransEndpointAddress* local, void* context)
{
    if (pair == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Endpoint record;
    record.threadId = threadId;
    record.mode = mode;
    record.pair = *pair;
    record.context = context;
    return open(record, pair->local, receive, stateWithData, state, endpoint, local);
}

int32_t VxTransOpenListener(uint32_t threadId, const VxTransEndpointAddress* local, VxTransReceiveProc receive,
                            VxTransStateDataProc stateWithData, VxTransStateProc state, uint32_t* endpoint,
                            void* context)
{
    if (local == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Endpoint record;
    record.listener = true;
    record.threadId = threadId;
    record.pair.protocol = local->protocol;
    record.context = context;
    return open(record, local->address, receive, stateWithData, state, endpoint, nullptr);
}

int32_t VxTransCloseEndpoint(uint32_t handle)
{
    Fake& state = fake();
    FakeRef endpoint;
    {
        std::lock_guard<std::mutex> lock(state.lock);
        state.closes.push_back(handle);
        state.changed.notify_all();
        int32_t result;
        if (scriptedLocked(state, Call::Close, result) && result < 0)
            return result;
        endpoint = findLocked(state, handle);
        if (endpoint == nullptr)
            return VXTRANS_E_BAD_HANDLE;
        endpoint->closed = true;
    }
    std::lock_guard<std::recursive_mutex> wait(endpoint->callbackLock); // a running callback ends first
    return VXTRANS_OK;
}

int32_t VxTransSend(uint32_t handle, const VxTransBuffer* buffer, uint32_t /*flags*/)
{
    if (buffer == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Fake& state = fake();
    std::unique_lock<std::mutex> lock(state.lock);
    if (state.holdNextSend) {
        state.holdNextSend = false;
        const uint64_t ticket = ++state.heldSends;
        state.changed.notify_all();
        state.changed.wait(lock, [&] { return state.releasedSends >= ticket; });
    }
    const FakeRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    int32_t result;
    if (scriptedLocked(state, Call::Send, result) && result < 0)
        return result;
    const uint8_t* data = VxTransBufferDataConst(buffer);
    state.sends.push_back(Sent{handle, std::vector<uint8_t>(data, data + buffer->length)});
    queueAutoNoticeLocked(state, endpoint, VXTRANS_NOTICE_SENT);
    state.changed.notify_all();
    return VXTRANS_OK;
}

int32_t VxTransGetLocalAddress(uint32_t handle, uint32_t /*which*/, VxTransEndpointAddress* local)
{
    if (local == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    int32_t result;
    if (scriptedLocked(state, Call::LocalAddress, result) && result < 0)
        return result;
    const FakeRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    *local = endpoint->local;
    return VXTRANS_OK;
}

int32_t VxTransSetProperty(uint32_t handle, uint32_t option)
{
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    int32_t result;
    if (scriptedLocked(state, Call::SetProperty, result) && result < 0)
        return result;
    const FakeRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    endpoint->record.lastOption = option;
    return VXTRANS_OK;
}

int32_t VxTransPreDispatch(void* /*thread*/, uint32_t /*message*/, uintptr_t /*wparam*/, void* /*record*/)
{
    return 0;
}

int32_t VxTransGetMaxChunk(uint32_t handle, uint16_t* largest, uint32_t /*reserved*/)
{
    if (largest == nullptr)
        return VXTRANS_E_BAD_PARAMETER;
    Fake& state = fake();
    std::lock_guard<std::mutex> lock(state.lock);
    int32_t result;
    if (scriptedLocked(state, Call::MaxChunk, result) && result < 0)
        return result;
    const FakeRef endpoint = findLocked(state, handle);
    if (endpoint == nullptr)
        return VXTRANS_E_BAD_HANDLE;
    *largest = maxChunkOf(endpoint->record.pair.protocol);
    return VXTRANS_OK;
}

int VxTransTestSocketOf(uint32_t /*endpoint*/)
{
    return -1;
}
