// Subscriptions to the device's events (list attribute 2) and the notifications it sends: from its
// own DMLP address by UDP, or over a kept TCP connection from its address. No send blocks: a
// subscriber that does not take its notifications loses them, and delays nobody else.
#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/socket.h>

#include <cerrno>

#include "SimulatorImpl.h"
#include "Sockets.h"

namespace devsim {

namespace {

constexpr uint16_t kAddressTcp = 1;
// A device's modest buffers: a subscriber that stops reading soon loses notifications.
constexpr size_t kMostQueuedEventBytes = 256 * 1024;
constexpr int kEventSendBuffer = 65536;
constexpr Milliseconds kUnreachableWait{2000};

std::string idList(const std::vector<uint16_t>& ids)
{
    std::string text = "[";
    for (size_t i = 0; i < ids.size(); ++i)
        text += (i ? "," : "") + std::to_string(ids[i]);
    return text + "]";
}

sockaddr_in socketAddress(uint32_t address, uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
}

// A non-blocking socket of the device's address (port chosen by the system), connecting to `to`.
int connectFrom(const std::string& local, int type, const sockaddr_in& to)
{
    int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kEventSendBuffer, sizeof(kEventSendBuffer));
    sockaddr_in self{};
    self.sin_family = AF_INET;
    inet_pton(AF_INET, local.c_str(), &self.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof(self)) != 0 ||
        (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) != 0 && errno != EINPROGRESS)) {
        closeDescriptor(fd);
        return -1;
    }
    return fd;
}

} // namespace

uint16_t Simulator::Impl::subscribe(Device& device, uint32_t value, const Registration& element)
{
    if (element.to.kind == 0)
        return kStatusBadRequest;
    auto found = std::find_if(device.subscriptions.begin(), device.subscriptions.end(),
                              [&](const Subscription& kept) { return kept.value == value && kept.to == element.to; });
    if (found == device.subscriptions.end()) {
        device.subscriptions.emplace_back();
        found = device.subscriptions.end() - 1;
        found->value = value;
        found->to = element.to;
    }
    found->ids = element.ids;
    found->unsubscribed = false;
    const uint64_t renewals = ++found->renewals;
    say("devsim: " + device.settings.address + " subscribe " + std::to_string(value) + " " + idList(element.ids) +
        " " + element.to.describe());
    if (settings.subscriptionLifetime.count() > 0) {
        const EventAddress to = element.to;
        after(settings.subscriptionLifetime,
              [this, &device, value, to, renewals] { expire(device, value, to, renewals); });
    }
    return kStatusOk;
}

uint16_t Simulator::Impl::unsubscribe(Device& device, uint32_t value, const std::optional<Registration>& element)
{
    const bool keep = device.faults.keepsUnsubscribed();
    for (auto subscription = device.subscriptions.begin(); subscription != device.subscriptions.end();) {
        if (subscription->value != value || (element && !(subscription->to == element->to)) ||
            subscription->unsubscribed) {
            ++subscription;
            continue;
        }
        say("devsim: " + device.settings.address + " unsubscribe " + std::to_string(value) + " " +
            idList(subscription->ids) + " " + subscription->to.describe() + (keep ? " (still sent to)" : ""));
        if (keep) {
            subscription->unsubscribed = true;
            ++subscription;
        } else {
            subscription = device.subscriptions.erase(subscription);
        }
    }
    return kStatusOk;
}

void Simulator::Impl::expire(Device& device, uint32_t value, EventAddress to, uint64_t renewals)
{
    for (auto subscription = device.subscriptions.begin(); subscription != device.subscriptions.end(); ++subscription)
        if (subscription->value == value && subscription->to == to && subscription->renewals == renewals) {
            say("devsim: " + device.settings.address + " expire " + std::to_string(value) + " " +
                idList(subscription->ids) + " " + to.describe());
            device.subscriptions.erase(subscription);
            return;
        }
}

void Simulator::Impl::notifyJob(Device& device, const Job& job, bool state, bool impressions)
{
    std::vector<EventEntry> events;
    if (state)
        events.push_back({kEventJobState, jobStateEvent(job.handle, job.state, job.reason, 0, job.clientJobId)});
    if (impressions)
        events.push_back({kEventImpressions, impressionsEvent(job.handle, job.impressions)});
    notify(device, events, std::nullopt, false);
}

void Simulator::Impl::notify(Device& device, const std::vector<EventEntry>& events, std::optional<uint32_t> reference,
                             bool unfiltered)
{
    if (!device.powered || device.udp < 0)
        return;
    for (Subscription& subscription : device.subscriptions) {
        std::vector<EventEntry> wanted;
        for (const EventEntry& event : events)
            if (unfiltered || std::find(subscription.ids.begin(), subscription.ids.end(), event.id) !=
                                  subscription.ids.end())
                wanted.push_back(event);
        if (wanted.empty())
            continue;
        if (++device.nextNotificationId == 0)
            device.nextNotificationId = 1;
        const Bytes message = notificationFrame(device.nextNotificationId, reference.value_or(subscription.value), wanted);
        const FaultRule fault = device.faults.forEvent();
        if (fault.action == FaultAction::Drop)
            continue;
        if (fault.action == FaultAction::Unreachable) {
            sendUnreachable(device, subscription, message);
            continue;
        }
        deliver(device, subscription, message);
        if (fault.action == FaultAction::Duplicate)
            deliver(device, subscription, message);
    }
}

void Simulator::Impl::deliver(Device& device, Subscription& subscription, const Bytes& message)
{
    if (subscription.to.kind == kAddressTcp) {
        sendTcpEvent(device, subscription, message);
        return;
    }
    const sockaddr_in to = socketAddress(subscription.to.address, subscription.to.port);
    if (::sendto(device.udp, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&to), sizeof(to)) == static_cast<ssize_t>(message.size()))
        ++subscription.sent;
    else
        ++subscription.failures;
}

void Simulator::Impl::sendTcpEvent(Device& device, Subscription& subscription, const Bytes& message)
{
    const auto key = std::make_pair(subscription.to.address, subscription.to.port);
    EventConnection& connection = device.eventConnections[key];
    if (connection.fd < 0) {
        connection.fd = connectFrom(device.settings.address, SOCK_STREAM, socketAddress(key.first, key.second));
        if (connection.fd < 0) {
            device.eventConnections.erase(key);
            ++subscription.failures;
            return;
        }
        watch(connection.fd, EPOLLIN | EPOLLOUT, [this, &device, key](uint32_t) { flushEventConnection(device, key); });
    }
    if (connection.output.size() + message.size() > kMostQueuedEventBytes) {
        ++subscription.failures;
        return;
    }
    connection.output.insert(connection.output.end(), message.begin(), message.end());
    ++subscription.sent;
    if (connection.connected)
        flushEventConnection(device, key);
}

void Simulator::Impl::flushEventConnection(Device& device, std::pair<uint32_t, uint16_t> key)
{
    auto found = device.eventConnections.find(key);
    if (found == device.eventConnections.end())
        return;
    EventConnection& connection = found->second;
    int error = 0;
    socklen_t length = sizeof(error);
    getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length);
    char ignored[4096];
    ssize_t got = ::recv(connection.fd, ignored, sizeof(ignored), MSG_DONTWAIT);
    const bool closed = got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN);
    if (error != 0 || closed) {
        // Broken or refused: what waited is lost; the next notification connects again.
        for (Subscription& subscription : device.subscriptions)
            if (subscription.to.address == key.first && subscription.to.port == key.second)
                ++subscription.failures;
        unwatch(connection.fd);
        device.eventConnections.erase(found);
        return;
    }
    while (!connection.output.empty()) {
        ssize_t sent = ::send(connection.fd, connection.output.data(), connection.output.size(),
                              MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent <= 0)
            break;
        connection.connected = true;
        connection.output.erase(connection.output.begin(), connection.output.begin() + sent);
    }
    if (connection.output.empty())
        connection.connected = true;
    watch(connection.fd, connection.output.empty() ? EPOLLIN : EPOLLIN | EPOLLOUT,
          [this, &device, key](uint32_t) { flushEventConnection(device, key); });
}

void Simulator::Impl::sendUnreachable(Device& device, Subscription& subscription, const Bytes& message)
{
    const int type = subscription.to.kind == kAddressTcp ? SOCK_STREAM : SOCK_DGRAM;
    auto fd = std::make_shared<int>(connectFrom(device.settings.address, type,
                                                socketAddress(subscription.to.address, deadPort)));
    ++device.unreachableSends;
    if (*fd < 0) {
        ++device.unreachableFailures;
        return;
    }
    if (type == SOCK_DGRAM)
        ::send(*fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    // The refusal (an ICMP error, or a reset of the connection attempt) shows on the socket.
    watch(*fd, type == SOCK_DGRAM ? EPOLLIN : EPOLLOUT, [this, &device, fd](uint32_t) {
        int error = 0;
        socklen_t length = sizeof(error);
        getsockopt(*fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0)
            ++device.unreachableFailures;
        unwatch(*fd);
    });
    after(kUnreachableWait, [this, fd] { unwatch(*fd); });
}

void Simulator::Impl::closeEventConnections(Device& device)
{
    for (auto& [key, connection] : device.eventConnections)
        unwatch(connection.fd);
    device.eventConnections.clear();
}

} // namespace devsim
