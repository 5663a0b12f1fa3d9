// The simulator's state, shared by its source files (the serving loop, the requests, the events,
// the control commands). Everything below `mutex` is guarded by it; the serving thread holds it
// while it handles what its poll reported and runs due timers.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <map>
#include <set>

#include "Simulator.h"

namespace devsim {

using Clock = std::chrono::steady_clock;

struct Job {
    uint32_t handle = 0;
    ClientId clientJobId{};
    uint8_t state = kJobPrinting;
    uint8_t reason = 0; // the device's reason code in its job-state events
    uint32_t impressions = 0;
    std::vector<uint32_t> codes;
    bool receiving = true;
    uint64_t generation = 0; // timers of an older generation do nothing
    std::function<void()> drop;
};

struct LogEntry {
    uint32_t handle = 0;
    ClientId clientJobId{};
    uint8_t completion = 0;
    uint32_t impressions = 0;
};

struct Subscription {
    uint32_t value = 0;
    EventAddress to;
    std::vector<uint16_t> ids;
    bool unsubscribed = false; // kept only while an after-unsubscribe fault is in force
    uint64_t renewals = 0;
    uint64_t sent = 0;
    uint64_t failures = 0;
};

// Where a reply goes: a UDP sender, or a TCP connection by its id.
struct Peer {
    sockaddr_in address{};
    uint64_t connection = 0; // 0: UDP
};

struct TcpClient {
    int fd = -1;
    Bytes input;
};

// A kept TCP connection to a subscriber's event address.
struct EventConnection {
    int fd = -1;
    bool connected = false;
    Bytes output; // waits while the connection is being made or the subscriber does not read
};

struct Device {
    DeviceSettings settings;
    int udp = -1;
    int tcpListener = -1;
    uint16_t port = 0;
    std::map<uint64_t, TcpClient> clients;
    bool powered = true;
    std::vector<Job> jobs; // in the order they arrived
    std::deque<LogEntry> log;
    uint8_t status = 2;
    uint8_t online = 1;
    uint32_t hint = 0;
    std::vector<uint32_t> codes;
    FaultSet faults;
    std::vector<Subscription> subscriptions;
    std::map<std::pair<uint32_t, uint16_t>, EventConnection> eventConnections;
    uint16_t nextNotificationId = 1;
    uint64_t unreachableSends = 0;
    uint64_t unreachableFailures = 0;
};

struct Simulator::Impl {
    Impl(SimulatorSettings settings, Say say) : settings(std::move(settings)), say(std::move(say)) {}

    // Serving loop (Simulator.cpp).
    bool open(std::string& error);
    void run();
    void watch(int fd, uint32_t events, std::function<void(uint32_t)> handler);
    void unwatch(int& fd);
    void wake();
    void at(Clock::time_point when, std::function<void()> action);
    void after(Milliseconds delay, std::function<void()> action) { at(Clock::now() + delay, std::move(action)); }
    void runDueTimers();
    void readDatagrams(Device& device, int fd);
    void acceptClients(Device& device);
    void readClient(Device& device, uint64_t id);
    void closeClient(Device& device, uint64_t id);
    void acceptControl();
    void readControl(int fd);
    void logRequest(const Device& device, const Peer& peer, const std::string& text);
    Device* findDevice(const std::string& address);
    std::vector<JobInfo> jobInfos() const;
    Device* deviceOfJob(uint32_t handle, Job** job);

    // Requests and replies (Requests.cpp).
    void handleFrame(Device& device, const Peer& peer, const uint8_t* data, size_t size);
    void answer(Device& device, const Peer& peer, const Request& request);
    void sendReply(Device& device, const Peer& peer, const Request& request, uint16_t status, const Bytes& body);
    void sendFrames(Device& device, const Peer& peer, const std::vector<Bytes>& frames);
    void answerGet2(Device& device, const Peer& peer, const Request& request);
    void answerTraceJob(Device& device, const Peer& peer, const Request& request);
    void answerCancel(Device& device, const Peer& peer, const Request& request);
    void answerListOperation(Device& device, const Peer& peer, const Request& request);
    void broadcastEcho(const uint8_t* data, size_t size, const sockaddr_in& sender);

    // Job objects (Jobs.cpp).
    void startPrinting(Device& device, Job& job);
    void finishPrinting(Device& device, uint32_t handle, uint64_t generation);
    void complete(Device& device, Job& job, bool impressionsChanged);
    void endJob(Device& device, Job& job, uint8_t state, uint8_t completion);
    void retire(Device& device, uint32_t handle, uint64_t generation, uint8_t completion);
    void loseJob(Device& device, uint32_t handle);
    void setImpressions(Device& device, Job& job, uint32_t impressions);
    Job* findJob(Device& device, uint32_t handle);
    void jobsChanged() { changed.notify_all(); }

    // Subscriptions and notifications (Events.cpp).
    uint16_t subscribe(Device& device, uint32_t value, const Registration& element);
    uint16_t unsubscribe(Device& device, uint32_t value, const std::optional<Registration>& element);
    void expire(Device& device, uint32_t value, EventAddress to, uint64_t renewals);
    void notifyJob(Device& device, const Job& job, bool state, bool impressions);
    void notify(Device& device, const std::vector<EventEntry>& events, std::optional<uint32_t> reference,
                bool unfiltered);
    void deliver(Device& device, Subscription& subscription, const Bytes& frame);
    void sendTcpEvent(Device& device, Subscription& subscription, const Bytes& frame);
    void flushEventConnection(Device& device, std::pair<uint32_t, uint16_t> key);
    void sendUnreachable(Device& device, Subscription& subscription, const Bytes& frame);
    void closeEventConnections(Device& device);

    // Control commands (Control.cpp).
    std::string runCommand(const std::vector<std::string>& words, bool& power, std::string& powerDevice,
                           bool& powerOn);

    Simulator* owner = nullptr;
    const SimulatorSettings settings;
    const Say say;
    std::vector<std::unique_ptr<Device>> devices;
    std::thread thread;
    std::atomic<bool> stopping{false};
    int epoll = -1;
    int wakeFd = -1;
    int broadcastFd = -1;
    int controlFd = -1;
    std::FILE* requestFile = nullptr;
    uint16_t deadPort = 0; // a port where nothing listens, for the unreachable fault

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::map<int, std::function<void(uint32_t)>> handlers;
    std::multimap<Clock::time_point, std::function<void()>> timers;
    std::map<int, std::string> controlInput;
    std::vector<std::pair<int, std::string>> controlLines; // read under the lock, run after it
    std::vector<std::string> requests;
    uint32_t nextHandle = 1;
    uint64_t nextClient = 1;
    Clock::time_point nextCompletionSlot{};
};

} // namespace devsim
