// Records what the transport calls back, for tests on real loopback sockets.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A plain socket of the test, bound to address:port (0: any free port).
struct PlainSocket {
    int fd = -1;
    PlainSocket(int type, const char* address, uint16_t port, bool reuse = false)
    {
        fd = socket(AF_INET, type, 0);
        const int on = 1;
        if (reuse)
            setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local = inet(address, port);
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            close(fd);
            fd = -1;
        }
    }
    ~PlainSocket()
    {
        if (fd >= 0)
            close(fd);
    }
    PlainSocket(const PlainSocket&) = delete;
    PlainSocket& operator=(const PlainSocket&) = delete;
    uint16_t port() const
    {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
        return ntohs(local.sin_port);
    }
    void sendTo(const std::string& data, const char* address, uint16_t port) const
    {
        sockaddr_in peer = inet(address, port);
        sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    }
    // One datagram, waiting at most 10 s; empty on time-out. The sender's port in *from.
    std::string receive(uint16_t* fromPort = nullptr) const
    {
        timeval limit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char data[65536];
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t got = recvfrom(fd, data, sizeof data, 0, reinterpret_cast<sockaddr*>(&sender), &length);
        if (fromPort != nullptr)
            *fromPort = ntohs(sender.sin_port);
        return got > 0 ? std::string(data, static_cast<size_t>(got)) : std::string();
    }
};

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
