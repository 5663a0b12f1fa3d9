// One end of a pipe (a server instance or a client) and the socket that links it to the other end.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "pal/pipes.h"
#include "pipes/pipes_io.h"
#include "pipes/pipes_wire.h"

namespace pal::pipes {

class Group;
class PipeEnd;

// A connected pipe socket. The I/O thread reads it: a server's connection starts with the client's
// hello, then both sides carry length-prefixed messages.
class Link : public IoClient, public std::enable_shared_from_this<Link> {
public:
    // A connection a server process accepted from a client with user id peer.
    Link(int fd, std::weak_ptr<Group> group, uid_t peer);
    // A client's connection whose answer has been read; end receives its messages.
    Link(int fd, std::weak_ptr<PipeEnd> end);
    ~Link() override;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    void start();
    // Ends the connection for both sides; the end hears nothing more from it.
    void stop();
    void onReadable() override;
    // A peer that stops in the middle of its hello or of a frame for kStallLimitMs is cut off.
    void onTick() override;

    DWORD sendMessage(const void* data, DWORD size, Clock::time_point deadline);
    // Tells the client that the server disconnected, unless a write is under way.
    void sendDisconnect();
    bool answer(DWORD result, DWORD word);

private:
    // The hello; false when the connection ends with it.
    bool greet(const unsigned char* hello);
    // Consumes complete frames of input_; false when the input is garbage.
    bool deliverFrames();
    void ended();

    const int fd_;
    std::atomic<IoId> id_{0};
    std::mutex sendMutex_;
    // Touched by the I/O thread only (and before start()).
    std::vector<unsigned char> input_;
    ULONGLONG lastInput_ = 0;  // GetTickCount64 when bytes last came
    bool greeted_;
    std::weak_ptr<Group> group_;
    std::weak_ptr<PipeEnd> end_;
    uid_t peer_ = 0;
};

enum class Role { Server, Client };

struct PipeSettings {
    Role role = Role::Client;
    bool messageType = false;
    bool messageRead = false;
    bool noWait = false;
    bool mayRead = false;
    bool mayWrite = false;
    bool overlapped = false; // FILE_FLAG_OVERLAPPED: waits become pending operations
    // Server instances only.
    DWORD openMode = 0;
    DWORD defaultTimeout = 50;
    bool everyone = false; // NULL DACL
    uid_t owner = 0;
};

// A ConnectNamedPipe or a read that waits.
struct PipeOp {
    bool connect = false;
    unsigned char* buffer = nullptr;
    DWORD size = 0;
    LPOVERLAPPED overlapped = nullptr; // set while pending on an overlapped handle
    bool finished = false;
    DWORD error = ERROR_SUCCESS;
    DWORD done = 0;
};

class PipeEnd : public std::enable_shared_from_this<PipeEnd> {
public:
    // slot: the descriptor holding the instance's place (server), closed with the end.
    PipeEnd(const PipeSettings& settings, int slot, std::shared_ptr<Group> group);
    ~PipeEnd();
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;

    bool isServer() const { return settings_.role == Role::Server; }
    // No overlapped operation is pending (the handle is signalled).
    bool idle() const { return pendingCount_.load() == 0; }

    // Each returns a Windows error and sets done, also on failure; deadline bounds a wait.
    DWORD read(void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped, Clock::time_point deadline);
    DWORD write(const void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped, Clock::time_point deadline);
    DWORD peek(void* buffer, DWORD size, DWORD& done, DWORD& available, DWORD& leftInMessage);
    DWORD transact(const void* message, DWORD size, void* reply, DWORD replySize, DWORD& done,
                   LPOVERLAPPED overlapped, Clock::time_point deadline);
    DWORD setMode(DWORD mode);
    DWORD connect(LPOVERLAPPED overlapped);
    DWORD disconnect();
    // NULL: every pending operation. Returns how many were ended.
    size_t cancel(LPOVERLAPPED overlapped);
    void close();

    // Server side, on the I/O thread: takes the client of link when this instance is free.
    DWORD admit(const std::shared_ptr<Link>& link, DWORD access, uid_t peer);
    bool takesClients();
    DWORD defaultTimeout() const { return settings_.defaultTimeout; }
    // Client side: the connection, before it starts.
    void attach(std::shared_ptr<Link> link);

    // From the link, on the I/O thread.
    void deliver(const Link* from, std::vector<unsigned char> message);
    void peerClosed(const Link* from);
    void serverDisconnected(const Link* from);

private:
    enum class State { Listening, Connected, Disconnected, Closed };
    struct Message {
        std::vector<unsigned char> bytes;
        size_t taken = 0;
        size_t left() const { return bytes.size() - taken; }
    };

    DWORD readStateError() const;
    DWORD writeStateError() const;
    bool tryRead(PipeOp& op);
    DWORD takeMessage(unsigned char* buffer, DWORD size, DWORD& done);
    DWORD takeBytes(unsigned char* buffer, DWORD size, DWORD& done);
    static std::shared_ptr<PipeOp> readOp(void* buffer, DWORD size);
    // Waits for op (queued in pending_, or already finished), or leaves it pending on an overlapped
    // handle (ERROR_IO_PENDING).
    DWORD waitFor(const std::shared_ptr<PipeOp>& op, LPOVERLAPPED overlapped, Clock::time_point deadline,
                  std::unique_lock<std::mutex>& lock, DWORD& done);
    void finish(PipeOp& op, DWORD error, DWORD done);
    void serve();
    void failPending(DWORD error);
    bool readPending() const;

    PipeSettings settings_;
    const int slot_;
    std::shared_ptr<Group> group_;
    std::atomic<int> pendingCount_{0};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    State state_;
    std::shared_ptr<Link> link_;
    std::deque<Message> queue_;
    bool peerClosed_ = false;
    bool serverGone_ = false; // client: the server disconnected
    std::deque<std::shared_ptr<PipeOp>> pending_;
};

// Whether a desired access asks for reading or writing.
bool asksRead(DWORD access);
bool asksWrite(DWORD access);

// The event of an OVERLAPPED (NULL: none).
HANDLE eventOf(const OVERLAPPED* overlapped);
// Finishes an operation that carried an OVERLAPPED: Internal, InternalHigh and its event.
void publish(LPOVERLAPPED overlapped, DWORD error, DWORD done);

} // namespace pal::pipes
