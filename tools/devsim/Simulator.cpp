#include "Simulator.h"

#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "SimulatorImpl.h"
#include "Sockets.h"

namespace devsim {

namespace {

constexpr size_t kMostDatagram = 65536;
constexpr size_t kMostControlLine = 4096;
// The request log kept for the control command; the file keeps every line.
constexpr size_t kMostLoggedRequests = 20000;

sockaddr_in endpoint(const std::string& address, uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &result.sin_addr);
    return result;
}

int openSocket(int type, const sockaddr_in& local, bool reuse, std::string& error)
{
    int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int on = 1;
    if (reuse)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 64) != 0)) {
        error = std::string("cannot open ") + (type == SOCK_STREAM ? "TCP " : "UDP ") + describe(local) + ": " +
                std::strerror(errno);
        closeDescriptor(fd);
        return -1;
    }
    return fd;
}

uint16_t boundPort(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
}

// A loopback port where nothing listens: bound once, then let go.
uint16_t findDeadPort()
{
    std::string ignored;
    int fd = openSocket(SOCK_DGRAM, endpoint("127.0.0.1", 0), false, ignored);
    uint16_t port = fd < 0 ? 9 : boundPort(fd);
    closeDescriptor(fd);
    return port;
}

} // namespace

Simulator::Simulator(SimulatorSettings settings, Say say)
    : impl_(std::make_unique<Impl>(std::move(settings), std::move(say)))
{
    impl_->owner = this;
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::addDevice(const DeviceSettings& settings)
{
    auto device = std::make_unique<Device>();
    device->settings = settings;
    for (const FaultRule& rule : settings.faults)
        device->faults.add(rule);
    impl_->devices.push_back(std::move(device));
}

bool Simulator::start(std::string& error)
{
    if (!impl_->open(error)) {
        stop();
        return false;
    }
    impl_->thread = std::thread([this] { impl_->run(); });
    return true;
}

void Simulator::stop()
{
    Impl& impl = *impl_;
    if (impl.thread.joinable()) {
        impl.stopping = true;
        impl.wake();
        impl.thread.join();
    }
    std::lock_guard<std::mutex> lock(impl.mutex);
    for (auto& device : impl.devices) {
        for (auto& [id, client] : device->clients)
            closeDescriptor(client.fd);
        device->clients.clear();
        impl.closeEventConnections(*device);
        closeDescriptor(device->udp);
        closeDescriptor(device->tcpListener);
    }
    for (auto& [fd, text] : impl.controlInput) {
        int open = fd;
        closeDescriptor(open);
    }
    impl.controlInput.clear();
    if (impl.controlFd >= 0)
        ::unlink(impl.settings.control.c_str());
    for (int* fd : {&impl.broadcastFd, &impl.controlFd, &impl.wakeFd, &impl.epoll})
        closeDescriptor(*fd);
    impl.handlers.clear();
    impl.timers.clear();
    if (impl.requestFile)
        std::fclose(impl.requestFile);
    impl.requestFile = nullptr;
}

uint16_t Simulator::dmlpPort(const std::string& address) const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Device* device = impl_->findDevice(address);
    return device ? device->port : 0;
}

uint16_t Simulator::broadcastPort() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->broadcastFd < 0 ? 0 : boundPort(impl_->broadcastFd);
}

uint32_t Simulator::jobArrived(const std::string& address, const ClientId& clientJobId, std::function<void()> drop)
{
    Impl& impl = *impl_;
    uint32_t handle = 0;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        Device* device = impl.findDevice(address);
        if (!device || !device->powered)
            return 0;
        Job job;
        job.handle = handle = impl.nextHandle++;
        job.clientJobId = clientJobId;
        job.drop = std::move(drop);
        device->jobs.push_back(std::move(job));
        impl.notifyJob(*device, device->jobs.back(), true, false);
    }
    impl.jobsChanged();
    return handle;
}

void Simulator::jobDataEnded(uint32_t handle, bool complete)
{
    Impl& impl = *impl_;
    {
        std::lock_guard<std::mutex> lock(impl.mutex);
        Job* job = nullptr;
        Device* device = impl.deviceOfJob(handle, &job);
        if (!device || !job->receiving)
            return;
        job->receiving = false;
        job->drop = nullptr;
        // A job cancelled or told a state while it came keeps its course.
        if (job->state == kJobPrinting && complete)
            impl.startPrinting(*device, *job);
        else if (job->state == kJobPrinting)
            impl.endJob(*device, *job, kJobAborted, kCompletedAborted);
    }
    impl.jobsChanged();
    impl.wake();
}

std::string Simulator::command(const std::vector<std::string>& words)
{
    bool power = false;
    bool powerOn = false;
    std::string powerDevice;
    std::string reply;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        reply = impl_->runCommand(words, power, powerDevice, powerOn);
    }
    impl_->jobsChanged();
    impl_->wake();
    if (!power)
        return reply;
    // The RAW and LPR ports stop and start outside the lock: their threads report to it.
    std::string error;
    if (powerSwitch_ && !powerSwitch_(powerDevice, powerOn, error))
        return "error: " + error + "\n";
    return reply;
}

std::vector<JobInfo> Simulator::jobs() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->jobInfos();
}

std::vector<std::string> Simulator::requestLog() const
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->requests;
}

bool Simulator::waitForJobs(const std::function<bool(const std::vector<JobInfo>&)>& condition,
                            Milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return condition(impl_->jobInfos()); });
}

std::vector<JobInfo> Simulator::Impl::jobInfos() const
{
    std::vector<JobInfo> result;
    for (const auto& device : devices)
        for (const Job& job : device->jobs)
            result.push_back({device->settings.address, job.handle, job.state, job.impressions, job.receiving,
                              job.clientJobId});
    return result;
}

bool Simulator::Impl::open(std::string& error)
{
    epoll = epoll_create1(EPOLL_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    watch(wakeFd, EPOLLIN, [this](uint32_t) {
        uint64_t count;
        [[maybe_unused]] ssize_t consumed = ::read(wakeFd, &count, sizeof(count));
    });
    deadPort = findDeadPort();
    for (auto& owned : devices) {
        Device& device = *owned;
        if (!device.settings.dmlp)
            continue;
        const sockaddr_in local = endpoint(device.settings.address, device.settings.dmlpPort);
        device.udp = openSocket(SOCK_DGRAM, local, false, error);
        if (device.udp < 0)
            return false;
        device.port = boundPort(device.udp);
        watch(device.udp, EPOLLIN, [this, &device](uint32_t) { readDatagrams(device, device.udp); });
        if (device.settings.dmlpTcp) {
            device.tcpListener = openSocket(SOCK_STREAM, endpoint(device.settings.address, device.port), true, error);
            if (device.tcpListener < 0)
                return false;
            watch(device.tcpListener, EPOLLIN, [this, &device](uint32_t) { acceptClients(device); });
        }
        say("devsim: DMLP on " + device.settings.address + ":" + std::to_string(device.port) +
            (device.settings.dmlpTcp ? " (udp, tcp)" : " (udp)"));
    }
    if (settings.broadcast) {
        broadcastFd = openSocket(SOCK_DGRAM, endpoint("127.255.255.255", settings.broadcastPort), true, error);
        if (broadcastFd < 0)
            return false;
        watch(broadcastFd, EPOLLIN, [this](uint32_t) {
            uint8_t buffer[kMostDatagram];
            for (;;) {
                sockaddr_in sender{};
                socklen_t length = sizeof(sender);
                ssize_t got = ::recvfrom(broadcastFd, buffer, sizeof(buffer), 0,
                                         reinterpret_cast<sockaddr*>(&sender), &length);
                if (got < 0)
                    return;
                broadcastEcho(buffer, static_cast<size_t>(got), sender);
            }
        });
        say("devsim: broadcast Echo on 127.255.255.255:" + std::to_string(boundPort(broadcastFd)));
    }
    if (!settings.control.empty()) {
        sockaddr_un local{};
        local.sun_family = AF_UNIX;
        if (settings.control.size() >= sizeof(local.sun_path)) {
            error = "control socket path too long: " + settings.control;
            return false;
        }
        std::strcpy(local.sun_path, settings.control.c_str());
        ::unlink(local.sun_path);
        controlFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::bind(controlFd, reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 || ::listen(controlFd, 16) != 0) {
            error = "cannot open the control socket " + settings.control + ": " + std::strerror(errno);
            return false;
        }
        watch(controlFd, EPOLLIN, [this](uint32_t) { acceptControl(); });
        say("devsim: control on " + settings.control);
    }
    if (!settings.requestLog.empty()) {
        requestFile = std::fopen(settings.requestLog.c_str(), "a");
        if (!requestFile) {
            error = "cannot write the request log " + settings.requestLog + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

void Simulator::Impl::run()
{
    epoll_event events[64];
    while (!stopping) {
        int timeout = -1;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!timers.empty())
                timeout = static_cast<int>(std::max<int64_t>(
                    0, std::chrono::ceil<Milliseconds>(timers.begin()->first - Clock::now()).count()));
        }
        const int count = epoll_wait(epoll, events, 64, timeout);
        std::vector<std::pair<int, std::string>> lines;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (int i = 0; i < count; ++i) {
                auto handler = handlers.find(events[i].data.fd);
                if (handler != handlers.end()) {
                    auto action = handler->second; // the handler may unwatch its own descriptor
                    action(events[i].events);
                }
            }
            runDueTimers();
            lines.swap(controlLines);
        }
        changed.notify_all();
        for (auto& [fd, line] : lines) {
            std::istringstream text(line);
            std::vector<std::string> words;
            for (std::string word; text >> word;)
                words.push_back(word);
            if (words.empty())
                continue;
            // The command takes the lock itself and switches power outside it.
            sendQuietly(fd, owner->command(words));
        }
    }
}

void Simulator::Impl::watch(int fd, uint32_t events, std::function<void(uint32_t)> handler)
{
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) != 0)
        epoll_ctl(epoll, EPOLL_CTL_MOD, fd, &event);
    handlers[fd] = std::move(handler);
}

void Simulator::Impl::unwatch(int& fd)
{
    if (fd < 0)
        return;
    epoll_ctl(epoll, EPOLL_CTL_DEL, fd, nullptr);
    handlers.erase(fd);
    closeDescriptor(fd);
}

void Simulator::Impl::wake()
{
    uint64_t one = 1;
    if (wakeFd >= 0) {
        [[maybe_unused]] ssize_t written = ::write(wakeFd, &one, sizeof(one));
    }
}

void Simulator::Impl::at(Clock::time_point when, std::function<void()> action)
{
    timers.emplace(when, std::move(action));
}

void Simulator::Impl::runDueTimers()
{
    while (!timers.empty() && timers.begin()->first <= Clock::now()) {
        auto action = std::move(timers.begin()->second);
        timers.erase(timers.begin());
        action();
    }
}

void Simulator::Impl::readDatagrams(Device& device, int fd)
{
    uint8_t buffer[kMostDatagram];
    for (;;) {
        Peer peer;
        socklen_t length = sizeof(peer.address);
        ssize_t got =
            ::recvfrom(fd, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&peer.address), &length);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            continue; // an ICMP error of an earlier send
        }
        handleFrame(device, peer, buffer, static_cast<size_t>(got));
    }
}

void Simulator::Impl::acceptClients(Device& device)
{
    for (;;) {
        sockaddr_in peer{};
        int fd = acceptConnection(device.tcpListener, peer);
        if (fd < 0)
            return;
        const uint64_t id = nextClient++;
        device.clients[id].fd = fd;
        watch(fd, EPOLLIN, [this, &device, id](uint32_t) { readClient(device, id); });
    }
}

void Simulator::Impl::readClient(Device& device, uint64_t id)
{
    auto found = device.clients.find(id);
    if (found == device.clients.end())
        return;
    TcpClient& client = found->second;
    uint8_t buffer[65536];
    ssize_t got = ::recv(client.fd, buffer, sizeof(buffer), 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        closeClient(device, id);
        return;
    }
    if (got < 0)
        return;
    client.input.insert(client.input.end(), buffer, buffer + got);
    Peer peer;
    socklen_t length = sizeof(peer.address);
    getpeername(client.fd, reinterpret_cast<sockaddr*>(&peer.address), &length);
    peer.connection = id;
    // Frames one after another: a header, then its body.
    while (client.input.size() >= kDmlpHeaderBytes) {
        DmlpHeader header;
        decodeHeader(client.input.data(), client.input.size(), header);
        if (header.magic != kDmlpMagic) {
            logRequest(device, peer, "garbage: connection closed");
            closeClient(device, id);
            return;
        }
        const size_t size = kDmlpHeaderBytes + header.bodyLength;
        if (client.input.size() < size)
            return;
        const Bytes message(client.input.begin(), client.input.begin() + static_cast<std::ptrdiff_t>(size));
        client.input.erase(client.input.begin(), client.input.begin() + static_cast<std::ptrdiff_t>(size));
        handleFrame(device, peer, message.data(), message.size());
        if (!device.clients.count(id))
            return;
    }
}

void Simulator::Impl::closeClient(Device& device, uint64_t id)
{
    auto found = device.clients.find(id);
    if (found == device.clients.end())
        return;
    unwatch(found->second.fd);
    device.clients.erase(found);
}

void Simulator::Impl::acceptControl()
{
    for (;;) {
        int fd = ::accept4(controlFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        controlInput[fd];
        watch(fd, EPOLLIN, [this, fd](uint32_t) { readControl(fd); });
    }
}

void Simulator::Impl::readControl(int fd)
{
    char buffer[4096];
    ssize_t got = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT);
    std::string& input = controlInput[fd];
    if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR))) {
        controlInput.erase(fd);
        int open = fd;
        unwatch(open);
        return;
    }
    if (got > 0)
        input.append(buffer, static_cast<size_t>(got));
    for (size_t end; (end = input.find('\n')) != std::string::npos;) {
        controlLines.emplace_back(fd, input.substr(0, end));
        input.erase(0, end + 1);
    }
    if (input.size() > kMostControlLine)
        input.clear();
}

void Simulator::Impl::logRequest(const Device& device, const Peer& peer, const std::string& text)
{
    std::string line = device.settings.address + (peer.connection ? " tcp " : " udp ") + describe(peer.address) +
                       " " + text;
    if (requestFile) {
        std::fprintf(requestFile, "%s\n", line.c_str());
        std::fflush(requestFile);
    }
    requests.push_back(std::move(line));
    if (requests.size() > kMostLoggedRequests)
        requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(requests.size() / 2));
}

Device* Simulator::Impl::findDevice(const std::string& address)
{
    for (auto& device : devices)
        if (device->settings.address == address)
            return device.get();
    return nullptr;
}

Device* Simulator::Impl::deviceOfJob(uint32_t handle, Job** job)
{
    for (auto& device : devices)
        if (Job* found = findJob(*device, handle)) {
            *job = found;
            return device.get();
        }
    return nullptr;
}

} // namespace devsim
