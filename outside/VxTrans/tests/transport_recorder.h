// Records what the transport calls back, for tests on real loopback sockets, and the addresses
// of those tests.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "VxTrans.h"

namespace vxtest {

struct Event {
    uint32_t endpoint = 0;
    bool isReceive = false;
    int32_t value = 0; // notice value or receive result
    VxTransAddressPair sender{};
    bool hasSender = false;
    std::string data;
};

class Recorder {
public:
    static Recorder& instance()
    {
        static Recorder recorder;
        return recorder;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
    }
    void add(Event event)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    std::vector<Event> of(uint32_t endpoint)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Event> found;
        for (const Event& event : events_)
            if (event.endpoint == endpoint)
                found.push_back(event);
        return found;
    }
    // Waits (bounded) until the endpoint's events satisfy the condition.
    bool waitFor(uint32_t endpoint, const std::function<bool(const std::vector<Event>&)>& condition,
                 int milliseconds = 10000)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            std::vector<Event> found;
            for (const Event& event : events_)
                if (event.endpoint == endpoint)
                    found.push_back(event);
            return condition(found);
        });
    }
    bool waitNotice(uint32_t endpoint, int32_t value, int milliseconds = 10000)
    {
        return waitFor(endpoint, [value](const std::vector<Event>& events) {
            for (const Event& event : events)
                if (!event.isReceive && event.value == value)
                    return true;
            return false;
        }, milliseconds);
    }
    static size_t notices(const std::vector<Event>& events)
    {
        size_t count = 0;
        for (const Event& event : events)
            count += !event.isReceive;
        return count;
    }
    static std::string received(const std::vector<Event>& events)
    {
        std::string data;
        for (const Event& event : events)
            if (event.isReceive && event.value == 0)
                data += event.data;
        return data;
    }

    static void onReceive(uint32_t endpoint, const VxTransAddressPair* sender, const VxTransBuffer* buffer, int32_t result)
    {
        Event event;
        event.endpoint = endpoint;
        event.isReceive = true;
        event.value = result;
        if (sender != nullptr) {
            event.sender = *sender;
            event.hasSender = true;
        }
        if (buffer != nullptr)
            event.data.assign(reinterpret_cast<const char*>(VxTransBufferDataConst(buffer)), buffer->length);
        instance().add(event);
    }
    static void onState(uint32_t endpoint, int32_t value, void*)
    {
        Event event;
        event.endpoint = endpoint;
        event.value = value;
        instance().add(event);
    }
    static void onStateWithData(uint32_t endpoint, void*, int32_t value, void* context)
    {
        onState(endpoint, value, context);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

inline sockaddr_in inet(const char* address, uint16_t port)
{
    sockaddr_in out{};
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    inet_pton(AF_INET, address, &out.sin_addr);
    return out;
}

inline VxTransAddress transAddress(const char* address, uint16_t port)
{
    VxTransAddress out{};
    out.family = VXTRANS_FAMILY_INET;
    const uint16_t netPort = htons(port);
    std::memcpy(out.bytes, &netPort, 2);
    inet_pton(AF_INET, address, out.bytes + 2);
    return out;
}

inline uint16_t portOf(const VxTransAddress& address)
{
    uint16_t port;
    std::memcpy(&port, address.bytes, 2);
    return ntohs(port);
}

inline std::string hostOf(const VxTransAddress& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, address.bytes + 2, text, sizeof text);
    return text;
}

// A buffer record with data.
inline std::vector<uint8_t> bufferOf(const std::string& data)
{
    std::vector<uint8_t> record(4 + data.size());
    const VxTransBuffer header{0, static_cast<uint16_t>(data.size())};
    std::memcpy(record.data(), &header, 4);
    std::memcpy(record.data() + 4, data.data(), data.size());
    return record;
}

inline int32_t sendText(uint32_t endpoint, const std::string& data)
{
    std::vector<uint8_t> record = bufferOf(data);
    return VxTransSend(endpoint, reinterpret_cast<const VxTransBuffer*>(record.data()), 0);
}

inline int32_t openConnection(const char* peer, uint16_t peerPort, uint32_t protocol, uint32_t mode, uint32_t* endpoint,
                              VxTransEndpointAddress* local = nullptr, const char* localAddress = nullptr,
                              uint16_t localPort = 0)
{
    VxTransAddressPair pair{};
    pair.peer = transAddress(peer, peerPort);
    pair.protocol = protocol;
    if (localAddress != nullptr)
        pair.local = transAddress(localAddress, localPort);
    VxTransEndpointAddress ignored;
    return VxTransOpenConnection(1, &pair, mode, Recorder::onReceive, Recorder::onStateWithData, Recorder::onState,
                                 endpoint, local != nullptr ? local : &ignored, nullptr);
}

inline int32_t openListener(const char* address, uint16_t port, uint32_t protocol, uint32_t* endpoint)
{
    VxTransEndpointAddress local{transAddress(address, port), protocol};
    return VxTransOpenListener(1, &local, Recorder::onReceive, Recorder::onStateWithData, nullptr, endpoint, nullptr);
}

} // namespace vxtest
