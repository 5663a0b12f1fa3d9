// A socket of the process behind its SOCKET handle, and its Windows network-event recording.
// Used by the socket machinery only (it sees the C library's socket headers).
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "threads/object.h"
#include "winsock/winsock_core.h"

namespace pal::ws {

using Clock = std::chrono::steady_clock;

// WSA error for an errno value of a socket call.
DWORD wsaErrorOf(int errnoValue);
// Sets the WSA error as last error; returns kSocketError.
int fail(DWORD wsaError);

socklen_t toSockaddr(const Endpoint& endpoint, sockaddr_storage& address);
Endpoint fromSockaddr(const sockaddr_storage& address);

// The descriptor is always non-blocking; a Windows blocking socket waits with poll(). The state
// below is guarded by mutex_, and the poller thread reports readiness through onReady() and
// deadlines through onDeadline(). The descriptor closes with the last reference, so that a call
// in progress never sees it reused.
//
// A non-blocking send takes the whole buffer when the connection can take data: what the
// descriptor does not take waits in the backlog, which the poller thread writes out as the
// connection drains (also after closesocket, when the poller holds the last reference).
class Socket : public Object, public std::enable_shared_from_this<Socket> {
public:
    Socket(int fd, bool v6);
    ~Socket() override;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Set once, before the socket is published.
    void setId(SOCKET id) { id_ = id; }

    int bind(const Endpoint& local);
    int listen(int backlog);
    // The accepted socket, not yet published (see startRecording), or nullptr with the error set.
    std::shared_ptr<Socket> accept(Endpoint* peer);
    int connect(const Endpoint& remote);
    int send(const char* data, int length, bool outOfBand);
    int receive(char* buffer, int length, ReceiveFlags flags);
    int shutdown(bool receive, bool send);
    int setOption(Option option, int value);
    int getOption(Option option, int& value);
    int setLinger(Linger linger);
    int getLinger(Linger& linger);
    int setNonBlocking(bool nonBlocking);
    int bytesReadable(ULONG& count);
    int endpoint(bool peer, Endpoint& result);
    int eventSelect(std::shared_ptr<Event> event, LONG events);
    int enumNetworkEvents(Event* eventToReset, LONG& events, INT errors[kFdMaxEvents]);
    // After setId() of an accepted socket: watches it for the selection it inherited.
    void startRecording();
    // closesocket: no more recording; a backlog still goes out unless the linger is abortive.
    void close();

    void onReady();
    void onDeadline();

private:
    enum class State { Idle, Connecting, Connected, Listening };

    void inheritSelection(const Socket& listener);
    void record(LONG event, DWORD error);
    void recordIfArmed(LONG event, DWORD error);
    void rearm(LONG events);
    void peerClosed();
    void broken(int errnoValue);
    int receiveFailure(int errnoValue);
    int sendFailure(int errnoValue);
    int sendBlocking(std::unique_lock<std::mutex>& lock, const char* data, int length, int flags);
    bool flushBacklog();
    void endBacklog(bool written);
    void checkClosedDrain();
    void scheduleRoomCheck();
    void checkRoom();
    bool hasRoom() const;
    int setSystemLinger(Linger linger);
    void completeConnect(int errnoValue);
    void refreshConnecting();
    int waitForConnect(std::unique_lock<std::mutex>& lock);
    void abortConnect();
    int pendingError() const;
    DWORD connectionError();
    uint32_t currentReadiness() const;
    void process(uint32_t readiness);
    void processConnected(uint32_t readiness);
    void checkReadable(uint32_t readiness);
    bool closeWaitsForRead() const;
    uint32_t interest() const;
    void updateInterest();

    const int fd_;
    const bool v6_;
    SOCKET id_ = 0;

    std::mutex mutex_;
    State state_ = State::Idle;
    bool bound_ = false;
    bool nonBlocking_ = false;
    bool sendShut_ = false;
    bool finPending_ = false;   // shutdown(SD_SEND) waits for the backlog
    bool receiveShut_ = false;
    bool peerClosed_ = false;   // the peer's end (or a reset) has been seen in this selection
    DWORD brokenError_ = 0;     // reset or abort: every later call reports it
    int connectError_ = 0;      // errno of the last connect, for SO_ERROR
    bool closed_ = false;
    Clock::time_point deadline_{};
    int sendBuffer_ = -1;       // as set, which is what Windows reports back
    int receiveBuffer_ = -1;
    bool abortiveLinger_ = false;

    std::vector<char> backlog_; // accepted, not yet taken by the descriptor: from backlogHead_ on
    size_t backlogHead_ = 0;
    std::condition_variable backlogDone_;
    Clock::time_point lastProgress_{}; // of a closed socket's backlog
    std::optional<Clock::time_point> roomCheckAt_; // a would-block waits for room

    std::shared_ptr<Event> event_;
    LONG selected_ = 0;
    LONG armed_ = 0;            // selected events that may be recorded now
    LONG recorded_ = 0;
    std::array<INT, kFdMaxEvents> errors_{};
    bool parked_ = false;       // a hang-up that records nothing more: unwatched until re-enabled
    uint32_t watched_ = 0;
};

} // namespace pal::ws
