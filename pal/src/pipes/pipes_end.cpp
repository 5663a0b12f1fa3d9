// Pipe ends: message queues, waiting operations, and the sockets between the ends.
#include "pipes/pipes_end.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pal/threads.h"
#include "threads/object.h"
#include "pipes/pipes_server.h"

namespace pal::pipes {
namespace {

constexpr DWORD kAnswerMs = 1000;
constexpr DWORD kDisconnectMs = 100;
constexpr ULONGLONG kStallLimitMs = 30000; // in GetTickCount64 time, which the time knob scales

bool completes(DWORD error)
{
    return error == ERROR_SUCCESS || error == ERROR_MORE_DATA;
}

} // namespace

bool asksRead(DWORD access)
{
    return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA)) != 0;
}

bool asksWrite(DWORD access)
{
    return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}

HANDLE eventOf(const OVERLAPPED* overlapped)
{
    // The low bit only keeps a completion port away; there are none here.
    return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(overlapped->hEvent) & ~uintptr_t{1});
}

void publish(LPOVERLAPPED overlapped, DWORD error, DWORD done)
{
    overlapped->InternalHigh = done;
    __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(error), __ATOMIC_RELEASE);
    if (HANDLE event = eventOf(overlapped))
        SetEvent(event);
}

// ---- Link

Link::Link(int fd, std::weak_ptr<Group> group, uid_t peer)
    : fd_(fd), greeted_(false), group_(std::move(group)), peer_(peer)
{
}

Link::Link(int fd, std::weak_ptr<PipeEnd> end) : fd_(fd), greeted_(true), end_(std::move(end)) {}

Link::~Link()
{
    ::close(fd_);
}

void Link::start()
{
    IoId id = newIoId();
    id_ = id;
    watch(id, fd_, shared_from_this());
}

void Link::stop()
{
    shutdown(fd_, SHUT_RDWR);
    if (IoId id = id_.load())
        unwatch(id, fd_);
}

void Link::onReadable()
{
    auto keep = shared_from_this();
    unsigned char chunk[64 * 1024];
    for (;;) {
        ssize_t got = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            lastInput_ = GetTickCount64();
            input_.insert(input_.end(), chunk, chunk + got);
            if (!deliverFrames())
                return ended();
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            return ended();
        }
    }
}

void Link::onTick()
{
    ULONGLONG now = GetTickCount64();
    if (!input_.empty() && now >= lastInput_ && now - lastInput_ >= kStallLimitMs)
        ended();
}

void Link::ended()
{
    if (auto end = end_.lock())
        end->peerClosed(this);
    stop();
}

bool Link::greet(const unsigned char* hello)
{
    auto group = group_.lock();
    if (!group)
        return false;
    if (std::memcmp(hello, kProbeTag, 4) == 0) {
        DWORD timeout = 0;
        DWORD result = group->hasFreeInstance(timeout) ? ERROR_SUCCESS : ERROR_PIPE_BUSY;
        answer(result, timeout);
        return false;
    }
    if (std::memcmp(hello, kOpenTag, 4) != 0)
        return false;
    std::shared_ptr<PipeEnd> taker;
    DWORD result = group->admit(shared_from_this(), wordAt(hello + 4), peer_, taker);
    if (result != ERROR_SUCCESS) {
        answer(result, 0);
        return false;
    }
    end_ = taker;
    return true;
}

bool Link::deliverFrames()
{
    size_t at = 0;
    if (!greeted_) {
        if (input_.size() < kHelloSize)
            return true;
        if (!greet(input_.data()))
            return false;
        greeted_ = true;
        at = kHelloSize;
    }
    auto end = end_.lock();
    for (;;) {
        FrameStep step = nextFrame(input_.data(), input_.size(), at);
        if (step.kind == FrameKind::Invalid)
            return false;
        if (step.kind == FrameKind::NeedMore)
            break;
        if (end && step.kind == FrameKind::Disconnect)
            end->serverDisconnected(this);
        if (end && step.kind == FrameKind::Message) {
            auto first = input_.begin() + static_cast<ptrdiff_t>(step.messageAt);
            end->deliver(this, std::vector<unsigned char>(first, first + step.messageSize));
        }
        at = step.next;
    }
    input_.erase(input_.begin(), input_.begin() + static_cast<ptrdiff_t>(at));
    return true;
}

DWORD Link::sendMessage(const void* data, DWORD size, Clock::time_point deadline)
{
    std::vector<unsigned char> frame(kLengthSize + size);
    putWord(frame.data(), size);
    if (size)
        std::memcpy(frame.data() + kLengthSize, data, size);
    std::lock_guard<std::mutex> lock(sendMutex_);
    DWORD error = sendAll(fd_, frame.data(), frame.size(), deadline);
    if (error)
        shutdown(fd_, SHUT_RDWR); // a frame cut short would garble everything after it
    return error;
}

void Link::sendDisconnect()
{
    std::unique_lock<std::mutex> lock(sendMutex_, std::try_to_lock);
    if (!lock.owns_lock())
        return;
    unsigned char mark[kLengthSize];
    putWord(mark, kDisconnectMark);
    sendAll(fd_, mark, sizeof mark, deadlineAfter(kDisconnectMs));
}

bool Link::answer(DWORD result, DWORD word)
{
    unsigned char bytes[kAnswerSize];
    putWord(bytes, result);
    putWord(bytes + 4, word);
    std::lock_guard<std::mutex> lock(sendMutex_);
    return sendAll(fd_, bytes, sizeof bytes, deadlineAfter(kAnswerMs)) == ERROR_SUCCESS;
}

// ---- PipeEnd

PipeEnd::PipeEnd(const PipeSettings& settings, int slot, std::shared_ptr<Group> group)
    : settings_(settings), slot_(slot), group_(std::move(group)),
      state_(settings.role == Role::Server ? State::Listening : State::Connected)
{
}

PipeEnd::~PipeEnd()
{
    close();
}

void PipeEnd::close()
{
    std::shared_ptr<Link> link;
    std::shared_ptr<Group> group;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::Closed)
            return;
        state_ = State::Closed;
        link = std::move(link_);
        group = std::move(group_);
        queue_.clear();
        failPending(ERROR_OPERATION_ABORTED);
    }
    if (link)
        link->stop();
    if (group)
        group->remove(this);
    if (slot_ >= 0)
        ::close(slot_);
}

DWORD PipeEnd::readStateError() const
{
    switch (state_) {
    case State::Listening:
        return ERROR_PIPE_LISTENING;
    case State::Disconnected:
        return ERROR_PIPE_NOT_CONNECTED;
    case State::Closed:
        return ERROR_INVALID_HANDLE;
    case State::Connected:
        break;
    }
    return serverGone_ ? ERROR_PIPE_NOT_CONNECTED : ERROR_SUCCESS;
}

DWORD PipeEnd::writeStateError() const
{
    if (DWORD error = readStateError())
        return error;
    return peerClosed_ ? ERROR_NO_DATA : ERROR_SUCCESS;
}

bool PipeEnd::readPending() const
{
    return std::any_of(pending_.begin(), pending_.end(), [](const auto& op) { return !op->connect; });
}

void PipeEnd::finish(PipeOp& op, DWORD error, DWORD done)
{
    op.finished = true;
    op.error = error;
    op.done = done;
    if (op.overlapped) {
        --pendingCount_; // the handle is signalled before anyone learns that the operation is done
        publish(op.overlapped, error, done);
        op.overlapped = nullptr;
        notifyWaiters(this); // the wait key of the end's handles
    }
    changed_.notify_all();
}

void PipeEnd::failPending(DWORD error)
{
    for (auto& op : pending_)
        finish(*op, error, 0);
    pending_.clear();
}

void PipeEnd::serve()
{
    while (!pending_.empty()) {
        PipeOp& op = *pending_.front();
        if (op.connect) {
            if (state_ != State::Connected)
                return;
            finish(op, ERROR_SUCCESS, 0);
        } else if (!tryRead(op)) {
            return;
        }
        pending_.pop_front();
    }
}

bool PipeEnd::tryRead(PipeOp& op)
{
    if (DWORD error = readStateError()) {
        finish(op, error, 0);
        return true;
    }
    if (queue_.empty()) {
        if (!peerClosed_)
            return false;
        finish(op, ERROR_BROKEN_PIPE, 0);
        return true;
    }
    DWORD done = 0;
    DWORD error = settings_.messageRead ? takeMessage(op.buffer, op.size, done) : takeBytes(op.buffer, op.size, done);
    finish(op, error, done);
    return true;
}

DWORD PipeEnd::takeMessage(unsigned char* buffer, DWORD size, DWORD& done)
{
    Message& front = queue_.front();
    size_t count = std::min<size_t>(size, front.left());
    if (count)
        std::memcpy(buffer, front.bytes.data() + front.taken, count);
    front.taken += count;
    done = static_cast<DWORD>(count);
    if (front.left() > 0)
        return ERROR_MORE_DATA;
    queue_.pop_front();
    return ERROR_SUCCESS;
}

DWORD PipeEnd::takeBytes(unsigned char* buffer, DWORD size, DWORD& done)
{
    size_t copied = 0;
    while (!queue_.empty() && (copied < size || queue_.front().left() == 0)) {
        Message& front = queue_.front();
        size_t count = std::min<size_t>(size - copied, front.left());
        if (count)
            std::memcpy(buffer + copied, front.bytes.data() + front.taken, count);
        front.taken += count;
        copied += count;
        if (front.left() == 0)
            queue_.pop_front();
    }
    done = static_cast<DWORD>(copied);
    return ERROR_SUCCESS;
}

DWORD PipeEnd::waitFor(const std::shared_ptr<PipeOp>& op, LPOVERLAPPED overlapped, Clock::time_point deadline,
                       std::unique_lock<std::mutex>& lock, DWORD& done)
{
    if (!op->finished && overlapped && settings_.overlapped) {
        overlapped->InternalHigh = 0;
        __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(ERROR_IO_PENDING), __ATOMIC_RELEASE);
        if (HANDLE event = eventOf(overlapped))
            ResetEvent(event);
        op->overlapped = overlapped;
        ++pendingCount_;
        return ERROR_IO_PENDING;
    }
    while (!op->finished) {
        if (deadline == kNever) {
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && !op->finished) {
            pending_.erase(std::find(pending_.begin(), pending_.end(), op));
            return ERROR_SEM_TIMEOUT;
        }
    }
    done = op->done;
    if (overlapped && completes(op->error))
        publish(overlapped, op->error, op->done);
    return op->error;
}

std::shared_ptr<PipeOp> PipeEnd::readOp(void* buffer, DWORD size)
{
    auto op = std::make_shared<PipeOp>();
    op->buffer = static_cast<unsigned char*>(buffer);
    op->size = size;
    return op;
}

DWORD PipeEnd::read(void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped, Clock::time_point deadline)
{
    done = 0;
    auto op = readOp(buffer, size);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!settings_.mayRead)
        return ERROR_ACCESS_DENIED;
    if (!readPending() && tryRead(*op)) {
        done = op->done;
        if (overlapped && completes(op->error))
            publish(overlapped, op->error, op->done);
        return op->error;
    }
    if (settings_.noWait)
        return ERROR_NO_DATA;
    pending_.push_back(op);
    return waitFor(op, overlapped, deadline, lock, done);
}

DWORD PipeEnd::write(const void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped,
                     Clock::time_point deadline)
{
    done = 0;
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!settings_.mayWrite)
            return ERROR_ACCESS_DENIED;
        if (DWORD error = writeStateError())
            return error;
        link = link_;
    }
    if (size > 0 || settings_.messageType)
        if (DWORD error = link->sendMessage(buffer, size, deadline))
            return error;
    done = size;
    if (overlapped)
        publish(overlapped, ERROR_SUCCESS, size);
    return ERROR_SUCCESS;
}

DWORD PipeEnd::peek(void* buffer, DWORD size, DWORD& done, DWORD& available, DWORD& leftInMessage)
{
    done = available = leftInMessage = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!settings_.mayRead)
        return ERROR_ACCESS_DENIED;
    if (DWORD error = readStateError())
        return error;
    if (queue_.empty() && peerClosed_)
        return ERROR_BROKEN_PIPE;
    size_t copied = 0;
    for (const Message& message : queue_) {
        available += static_cast<DWORD>(message.left());
        size_t count = std::min<size_t>(size - copied, message.left());
        if (count)
            std::memcpy(static_cast<unsigned char*>(buffer) + copied, message.bytes.data() + message.taken, count);
        copied += count;
        if (settings_.messageType) {
            leftInMessage = static_cast<DWORD>(message.left() - count);
            break;
        }
    }
    if (settings_.messageType)
        for (size_t i = 1; i < queue_.size(); ++i)
            available += static_cast<DWORD>(queue_[i].left());
    done = static_cast<DWORD>(copied);
    return ERROR_SUCCESS;
}

DWORD PipeEnd::transact(const void* message, DWORD size, void* reply, DWORD replySize, DWORD& done,
                        LPOVERLAPPED overlapped, Clock::time_point deadline)
{
    done = 0;
    auto op = readOp(reply, replySize);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!settings_.mayRead)
        return ERROR_ACCESS_DENIED;
    if (!settings_.messageRead)
        return ERROR_BAD_PIPE;
    if (!queue_.empty() || readPending())
        return ERROR_PIPE_BUSY;
    // The read waits before the message leaves, so that the reply finds it even when the server
    // disconnects right after answering (which discards what is unread).
    pending_.push_back(op);
    lock.unlock();
    DWORD written = 0;
    DWORD error = write(message, size, written, nullptr, deadline);
    lock.lock();
    if (error) {
        if (!op->finished)
            pending_.erase(std::find(pending_.begin(), pending_.end(), op));
        return error;
    }
    return waitFor(op, overlapped, deadline, lock, done);
}

DWORD PipeEnd::setMode(DWORD mode)
{
    if ((mode & ~(PIPE_READMODE_MESSAGE | PIPE_NOWAIT)) != 0 ||
        ((mode & PIPE_READMODE_MESSAGE) && !settings_.messageType))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.messageRead = (mode & PIPE_READMODE_MESSAGE) != 0;
    settings_.noWait = (mode & PIPE_NOWAIT) != 0;
    return ERROR_SUCCESS;
}

DWORD PipeEnd::connect(LPOVERLAPPED overlapped)
{
    if (!isServer())
        return ERROR_INVALID_FUNCTION;
    std::unique_lock<std::mutex> lock(mutex_);
    switch (state_) {
    case State::Closed:
        return ERROR_INVALID_HANDLE;
    case State::Connected:
        return peerClosed_ ? ERROR_NO_DATA : ERROR_PIPE_CONNECTED;
    case State::Disconnected:
        state_ = State::Listening;
        break;
    case State::Listening:
        break;
    }
    if (settings_.noWait || !pending_.empty())
        return ERROR_PIPE_LISTENING;
    auto op = std::make_shared<PipeOp>();
    op->connect = true;
    pending_.push_back(op);
    DWORD done = 0;
    return waitFor(op, overlapped, kNever, lock, done);
}

DWORD PipeEnd::disconnect()
{
    if (!isServer())
        return ERROR_INVALID_FUNCTION;
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == State::Closed)
            return ERROR_INVALID_HANDLE;
        link = std::move(link_);
        queue_.clear();
        peerClosed_ = false;
        state_ = State::Disconnected;
        failPending(ERROR_PIPE_NOT_CONNECTED);
    }
    if (link) {
        link->sendDisconnect();
        link->stop();
    }
    return ERROR_SUCCESS;
}

size_t PipeEnd::cancel(LPOVERLAPPED overlapped)
{
    std::lock_guard<std::mutex> lock(mutex_);
    size_t cancelled = 0;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (overlapped && (*it)->overlapped != overlapped) {
            ++it;
            continue;
        }
        finish(**it, ERROR_OPERATION_ABORTED, 0);
        it = pending_.erase(it);
        ++cancelled;
    }
    return cancelled;
}

DWORD PipeEnd::admit(const std::shared_ptr<Link>& link, DWORD access, uid_t peer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::Listening || link_)
        return ERROR_PIPE_BUSY;
    if (!settings_.everyone && peer != settings_.owner && peer != 0)
        return ERROR_ACCESS_DENIED;
    if ((asksRead(access) && !(settings_.openMode & PIPE_ACCESS_OUTBOUND)) ||
        (asksWrite(access) && !(settings_.openMode & PIPE_ACCESS_INBOUND)))
        return ERROR_ACCESS_DENIED;
    // Answered before anything this end writes can reach the socket.
    if (!link->answer(ERROR_SUCCESS, settings_.messageType ? PIPE_TYPE_MESSAGE : 0))
        return ERROR_PIPE_BUSY;
    link_ = link;
    state_ = State::Connected;
    peerClosed_ = false;
    serve();
    return ERROR_SUCCESS;
}

bool PipeEnd::takesClients()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::Listening && !link_;
}

void PipeEnd::attach(std::shared_ptr<Link> link)
{
    std::lock_guard<std::mutex> lock(mutex_);
    link_ = std::move(link);
}

void PipeEnd::deliver(const Link* from, std::vector<unsigned char> message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (from != link_.get() || serverGone_)
        return;
    queue_.push_back({std::move(message), 0});
    serve();
}

void PipeEnd::peerClosed(const Link* from)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (from != link_.get())
        return;
    peerClosed_ = true;
    serve();
}

void PipeEnd::serverDisconnected(const Link* from)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (from != link_.get() || isServer())
        return;
    serverGone_ = true;
    queue_.clear();
    serve();
}

} // namespace pal::pipes
