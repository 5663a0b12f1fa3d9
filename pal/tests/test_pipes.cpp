#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <pal/testhooks.h>

#include "TempRoot.h"
#include "fixtures/pipe_test_server.h"

namespace {

using pipetest::pipeName;
using Clock = std::chrono::steady_clock;

constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

// Closes its handle at the end of the test.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr)
            CloseHandle(handle_);
        handle_ = handle;
    }
    HANDLE get() const { return handle_; }
    operator HANDLE() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

private:
    HANDLE handle_;
};

HANDLE makeServer(const std::string& name, DWORD openMode = PIPE_ACCESS_DUPLEX, DWORD pipeMode = kMessagePipe,
                  DWORD maxInstances = 1, DWORD defaultTimeout = 0, LPSECURITY_ATTRIBUTES attributes = nullptr)
{
    return CreateNamedPipeW(pipeName(name).c_str(), openMode, pipeMode, maxInstances, 512, 512, defaultTimeout,
                            attributes);
}

HANDLE openClient(const std::string& name, DWORD access = GENERIC_READ | GENERIC_WRITE, DWORD flags = 0)
{
    return CreateFileW(pipeName(name).c_str(), access, 0, nullptr, OPEN_EXISTING, flags, nullptr);
}

bool put(HANDLE handle, const std::string& text)
{
    DWORD written = 0;
    return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

struct Taken {
    BOOL ok;
    DWORD error;
    std::string data;
};

Taken take(HANDLE handle, DWORD size)
{
    std::string buffer(size, '\0');
    DWORD got = 0;
    SetLastError(0);
    BOOL ok = ReadFile(handle, buffer.data(), size, &got, nullptr);
    DWORD error = ok ? 0 : GetLastError();
    buffer.resize(got);
    return {ok, error, buffer};
}

// Bounded wait for a condition that another thread (the pipe I/O thread) brings about.
template <class Condition>
bool eventually(Condition condition)
{
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool waitForBytes(HANDLE handle, DWORD total)
{
    return eventually([&] {
        DWORD available = 0;
        return PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr) && available >= total;
    });
}

HANDLE newEvent()
{
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

class Pipes : public ::testing::Test {
protected:
    testsupport::TempRoot root;
};

// ---- Creating and opening

TEST_F(Pipes, CreateRefusesBadNamesAndModes)
{
    struct Case {
        const char16_t* name;
        DWORD openMode, pipeMode, instances, error;
    } cases[] = {
        {u"\\\\.\\pipes\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, ERROR_INVALID_NAME},
        {u"\\\\.\\pipe\\", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, ERROR_INVALID_NAME},
        {u"C:\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, ERROR_INVALID_NAME},
        {u"\\\\.\\pipe\\x", 0, kMessagePipe, 1, ERROR_INVALID_PARAMETER},
        {u"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_MESSAGE, 1, ERROR_INVALID_PARAMETER},
        {u"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe | 0x10, 1, ERROR_INVALID_PARAMETER},
        {u"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 0, ERROR_INVALID_PARAMETER},
        {u"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, kMessagePipe, 256, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateNamedPipeW(c.name, c.openMode, c.pipeMode, c.instances, 0, 0, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    EXPECT_EQ(CreateNamedPipeW(nullptr, PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(Pipes, ClientFindsPipeWithoutRegardToCaseAndMissesUnknownOnes)
{
    Handle server(makeServer("Vexil_JTRKsvc2"));
    ASSERT_TRUE(server.valid());
    Handle missing(openClient("no_such_pipe"));
    EXPECT_FALSE(missing.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Handle client(CreateFileW(u"\\\\.\\PIPE\\vexil_jtrksvc2", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr));
    EXPECT_TRUE(client.valid());
    EXPECT_EQ(GetLastError(), 0u);
    Handle ansi(CreateNamedPipeA("\\\\.\\pipe\\VEXIL_JTRKSVC2", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr));
    EXPECT_FALSE(ansi.valid()) << "the same pipe, whose one instance exists";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
}

TEST_F(Pipes, InstanceLimitIsTheFirstInstancesAndFreesOnClose)
{
    Handle first(makeServer("limit", PIPE_ACCESS_DUPLEX, kMessagePipe, 2));
    Handle second(makeServer("limit", PIPE_ACCESS_DUPLEX, kMessagePipe, 5));
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(second.valid());
    Handle third(makeServer("limit", PIPE_ACCESS_DUPLEX, kMessagePipe, 5));
    EXPECT_FALSE(third.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    second.reset();
    third.reset(makeServer("limit", PIPE_ACCESS_DUPLEX, kMessagePipe, 2));
    EXPECT_TRUE(third.valid());

    Handle exclusive(makeServer("limit", PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE, kMessagePipe, 2));
    EXPECT_FALSE(exclusive.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(Pipes, UnlimitedInstancesServeManyClients)
{
    std::vector<std::unique_ptr<Handle>> servers, clients;
    for (int i = 0; i < 20; ++i) {
        servers.push_back(std::make_unique<Handle>(
            makeServer("many", PIPE_ACCESS_DUPLEX, kMessagePipe, PIPE_UNLIMITED_INSTANCES)));
        ASSERT_TRUE(servers.back()->valid()) << i;
    }
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<Handle>(openClient("many")));
        ASSERT_TRUE(clients.back()->valid()) << i;
    }
    Handle extra(openClient("many"));
    EXPECT_FALSE(extra.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(ConnectNamedPipe(*servers[i], nullptr), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
}

TEST_F(Pipes, AccessMustFitTheDirectionOfThePipe)
{
    Handle inbound(makeServer("inbound", PIPE_ACCESS_INBOUND));
    Handle reader(openClient("inbound", GENERIC_READ | GENERIC_WRITE));
    EXPECT_FALSE(reader.valid());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    Handle writer(openClient("inbound", GENERIC_WRITE));
    ASSERT_TRUE(writer.valid());
    EXPECT_FALSE(put(inbound, "no"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(take(writer, 4).error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(put(writer, "up"));
    EXPECT_EQ(take(inbound, 8).data, "up");
}

// ---- Messages

TEST_F(Pipes, ShortBufferGetsMoreDataAndTheRestStaysReadable)
{
    Handle server(makeServer("short"));
    Handle client(openClient("short"));
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(put(client, "hello world"));
    ASSERT_TRUE(put(client, "next"));
    Taken first = take(server, 5);
    EXPECT_FALSE(first.ok);
    EXPECT_EQ(first.error, static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(first.data, "hello");
    Taken zero = take(server, 0);
    EXPECT_EQ(zero.error, static_cast<DWORD>(ERROR_MORE_DATA));
    Taken rest = take(server, 64);
    EXPECT_TRUE(rest.ok);
    EXPECT_EQ(rest.data, " world");
    EXPECT_EQ(take(server, 64).data, "next") << "one message per read";
}

TEST_F(Pipes, ZeroLengthWriteIsAMessage)
{
    Handle server(makeServer("zero"));
    Handle client(openClient("zero"));
    ASSERT_TRUE(put(server, ""));
    ASSERT_TRUE(put(server, "after"));
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
    Taken empty = take(client, 16);
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.data, "");
    EXPECT_EQ(take(client, 16).data, "after");
}

TEST_F(Pipes, ByteReadModeReadsAcrossMessages)
{
    Handle server(makeServer("bytes"));
    Handle client(openClient("bytes"));
    ASSERT_TRUE(put(server, "abc"));
    ASSERT_TRUE(put(server, "def"));
    ASSERT_TRUE(waitForBytes(client, 6));
    char peeked[8] = {};
    DWORD got = 0, available = 0, left = 0;
    ASSERT_TRUE(PeekNamedPipe(client, peeked, sizeof peeked, &got, &available, &left));
    EXPECT_EQ(std::string(peeked, got), "abc") << "a message pipe peeks into its first message";
    EXPECT_EQ(available, 6u);
    EXPECT_EQ(left, 0u);
    ASSERT_TRUE(PeekNamedPipe(client, peeked, 2, &got, &available, &left));
    EXPECT_EQ(left, 1u);
    Taken first = take(client, 4);
    EXPECT_TRUE(first.ok);
    EXPECT_EQ(first.data, "abcd");
    EXPECT_EQ(take(client, 4).data, "ef");
}

TEST_F(Pipes, BytePipeHasNoMessageMode)
{
    Handle server(makeServer("bytepipe", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE));
    Handle client(openClient("bytepipe"));
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_FALSE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    char reply[8];
    DWORD got = 0;
    EXPECT_FALSE(TransactNamedPipe(client, const_cast<char*>("x"), 1, reply, sizeof reply, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PIPE));
}

// ---- States of an instance

TEST_F(Pipes, ListeningInstanceRefusesReadsAndWrites)
{
    Handle server(makeServer("listening"));
    Taken read = take(server, 8);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_PIPE_LISTENING));
    EXPECT_FALSE(put(server, "x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_LISTENING));
}

TEST_F(Pipes, ClosedClientLeavesItsMessagesThenBreaksThePipe)
{
    Handle server(makeServer("broken"));
    Handle client(openClient("broken"));
    ASSERT_TRUE(put(client, "last words"));
    client.reset();
    EXPECT_TRUE(eventually([&] { return !ConnectNamedPipe(server, nullptr) && GetLastError() == ERROR_NO_DATA; }))
        << "a client that came and went: ERROR_NO_DATA (before that is seen, ERROR_PIPE_CONNECTED)";
    EXPECT_EQ(take(server, 64).data, "last words");
    Taken after = take(server, 64);
    EXPECT_FALSE(after.ok);
    EXPECT_EQ(after.error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_FALSE(put(server, "anyone?"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_DATA));
}

TEST_F(Pipes, ClosedServerBreaksTheClientsPipe)
{
    Handle server(makeServer("gone"));
    Handle client(openClient("gone"));
    ASSERT_TRUE(put(server, "bye"));
    server.reset();
    EXPECT_EQ(take(client, 8).data, "bye");
    EXPECT_EQ(take(client, 8).error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

TEST_F(Pipes, DisconnectEndsTheClientAndTheInstanceWaitsForConnect)
{
    Handle server(makeServer("disconnect", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle client(openClient("disconnect"));
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(put(client, "unread"));
    ASSERT_TRUE(DisconnectNamedPipe(server));
    Taken read = take(client, 8);
    EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
    EXPECT_FALSE(put(client, "x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
    EXPECT_EQ(take(server, 8).error, static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));

    Handle refused(openClient("disconnect"));
    EXPECT_FALSE(refused.valid()) << "no client until ConnectNamedPipe";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));

    Handle event(newEvent());
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ConnectNamedPipe(server, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    Handle next(openClient("disconnect"));
    ASSERT_TRUE(next.valid());
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    DWORD available = 99;
    EXPECT_TRUE(PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr));
    EXPECT_EQ(available, 0u) << "the unread message went with the old client";
}

// ---- Overlapped

TEST_F(Pipes, OverlappedConnectSetsTheEventWhenAClientComes)
{
    Handle server(makeServer("connect", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle event(newEvent());
    SetEvent(event);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ConnectNamedPipe(server, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "reset when the wait began";
    EXPECT_FALSE(HasOverlappedIoCompleted(&overlapped));
    DWORD bytes = 99;
    EXPECT_FALSE(GetOverlappedResult(server, &overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(WaitForSingleObject(server, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "busy while I/O is pending";

    std::thread client([] {
        Handle pipe(openClient("connect"));
        put(pipe, "hi");
    });
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(server, &overlapped, &bytes, TRUE));
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(WaitForSingleObject(server, 0), WAIT_OBJECT_0);
    client.join();
    EXPECT_EQ(take(server, 8).data, "hi");
}

TEST_F(Pipes, AWaitOnThePipeHandleEndsWhenItsPendingIoFinishes)
{
    Handle server(makeServer("handlewait", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle event(newEvent());
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ConnectNamedPipe(server, &overlapped));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    // The handle itself, not the operation's event, is waited on while the client comes.
    std::thread client([] {
        Handle pipe(openClient("handlewait"));
        put(pipe, "hi");
    });
    // Woken when the operation finishes, not found signalled at the end of the time-out.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(server, 60000), WAIT_OBJECT_0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    DWORD bytes = 99;
    EXPECT_TRUE(GetOverlappedResult(server, &overlapped, &bytes, FALSE));
    client.join();
    EXPECT_EQ(take(server, 8).data, "hi");
}

TEST_F(Pipes, ConnectAfterTheClientCameGivesPipeConnected)
{
    Handle server(makeServer("early", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle client(openClient("early"));
    Handle event(newEvent());
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ConnectNamedPipe(server, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
}

TEST_F(Pipes, OverlappedReadCompletesWithTheMessageOrMoreData)
{
    Handle server(makeServer("ovread", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle client(openClient("ovread"));
    Handle event(newEvent());
    char buffer[4] = {};
    DWORD got = 77;
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ReadFile(server, buffer, sizeof buffer, &got, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(put(client, "abcdefg"));
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(GetOverlappedResult(server, &overlapped, &got, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(std::string(buffer, 4), "abcd");

    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    ResetEvent(event);
    EXPECT_TRUE(ReadFile(server, buffer, sizeof buffer, &got, &overlapped)) << "data waiting: done in the call";
    EXPECT_EQ(std::string(buffer, got), "efg");
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(server, &overlapped, &got, FALSE));
    EXPECT_EQ(got, 3u);
}

TEST_F(Pipes, OverlappedReadWithoutEventWaitsOnTheHandle)
{
    Handle server(makeServer("noevent", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle client(openClient("noevent", GENERIC_READ | GENERIC_WRITE, FILE_FLAG_OVERLAPPED));
    char buffer[16];
    OVERLAPPED overlapped{};
    EXPECT_FALSE(ReadFile(client, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    std::thread writer([&] { put(server, "late"); });
    DWORD got = 0;
    EXPECT_TRUE(GetOverlappedResult(client, &overlapped, &got, TRUE));
    writer.join();
    EXPECT_EQ(std::string(buffer, got), "late");
}

TEST_F(Pipes, PendingOperationsEndWithDisconnectCancelAndClose)
{
    Handle server(makeServer("ends", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle event(newEvent());
    OVERLAPPED connect{};
    connect.hEvent = event;
    ASSERT_FALSE(ConnectNamedPipe(server, &connect));
    ASSERT_TRUE(DisconnectNamedPipe(server));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    DWORD got = 0;
    EXPECT_FALSE(GetOverlappedResult(server, &connect, &got, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));

    connect = OVERLAPPED{};
    connect.hEvent = event;
    ASSERT_FALSE(ConnectNamedPipe(server, &connect));
    Handle client(openClient("ends"));
    ASSERT_TRUE(GetOverlappedResult(server, &connect, &got, TRUE));

    char buffer[8];
    OVERLAPPED read{};
    read.hEvent = event;
    ASSERT_FALSE(ReadFile(server, buffer, sizeof buffer, &got, &read));
    EXPECT_FALSE(CancelIoEx(server, &connect)) << "not pending";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    EXPECT_TRUE(CancelIo(server));
    EXPECT_FALSE(GetOverlappedResult(server, &read, &got, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    read = OVERLAPPED{};
    read.hEvent = event;
    ASSERT_FALSE(ReadFile(server, buffer, sizeof buffer, &got, &read));
    server.reset();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(read.Internal, static_cast<ULONG_PTR>(ERROR_OPERATION_ABORTED));
}

// ---- Transactions and calls

TEST_F(Pipes, TransactNeedsMessageModeAndAnEmptyPipe)
{
    Handle server(makeServer("transact"));
    Handle client(openClient("transact"));
    char reply[16];
    DWORD got = 0;
    EXPECT_FALSE(TransactNamedPipe(client, const_cast<char*>("q"), 1, reply, sizeof reply, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_PIPE));
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
    ASSERT_TRUE(put(server, "stale"));
    ASSERT_TRUE(waitForBytes(client, 5));
    EXPECT_FALSE(TransactNamedPipe(client, const_cast<char*>("q"), 1, reply, sizeof reply, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_EQ(take(client, 16).data, "stale");

    std::thread answer([&] {
        Taken question = take(server, 16);
        put(server, "answer to " + question.data);
    });
    EXPECT_TRUE(TransactNamedPipe(client, const_cast<char*>("q"), 1, reply, sizeof reply, &got, nullptr));
    answer.join();
    EXPECT_EQ(std::string(reply, got), "answer to q");
}

TEST_F(Pipes, CallNamedPipeExchangesOneMessage)
{
    pipetest::ServicePipe service("call", pipetest::Reply::Echo);
    ASSERT_TRUE(service.created());
    char reply[64];
    DWORD got = 0;
    ASSERT_TRUE(CallNamedPipeW(pipeName("call").c_str(), const_cast<char*>("job 1"), 5, reply, sizeof reply, &got,
                               NMPWAIT_WAIT_FOREVER));
    EXPECT_EQ(std::string(reply, got), "echo:job 1");
    ASSERT_TRUE(CallNamedPipeA("\\\\.\\pipe\\CALL", const_cast<char*>("job 2"), 5, reply, 7, &got, 5000) == FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA)) << "the reply was cut to the buffer";
    EXPECT_EQ(got, 7u);
    EXPECT_EQ(std::string(reply, 7), "echo:jo");
    EXPECT_EQ(service.requests(), 2);
}

TEST_F(Pipes, CallWithoutServiceFailsAtOnce)
{
    char reply[8];
    DWORD got = 5;
    auto start = Clock::now();
    EXPECT_FALSE(CallNamedPipeW(pipeName("absent").c_str(), const_cast<char*>("x"), 1, reply, sizeof reply, &got,
                                NMPWAIT_WAIT_FOREVER));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Pipes, CallWaitsForABusyInstanceOnlyAsLongAsAllowed)
{
    Handle server(makeServer("busy", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED));
    Handle holder(openClient("busy"));
    char reply[32];
    DWORD got = 0;
    EXPECT_FALSE(CallNamedPipeW(pipeName("busy").c_str(), const_cast<char*>("x"), 1, reply, sizeof reply, &got,
                                NMPWAIT_NOWAIT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_FALSE(CallNamedPipeW(pipeName("busy").c_str(), const_cast<char*>("x"), 1, reply, sizeof reply, &got, 30));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));

    // The instance comes free while the call waits.
    std::thread serve([&] {
        holder.reset();
        DisconnectNamedPipe(server);
        Handle event(newEvent());
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        DWORD bytes = 0;
        if (!ConnectNamedPipe(server, &overlapped) && GetLastError() == ERROR_IO_PENDING)
            GetOverlappedResult(server, &overlapped, &bytes, TRUE);
        char request[8];
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        if (!ReadFile(server, request, sizeof request, &bytes, &overlapped))
            GetOverlappedResult(server, &overlapped, &bytes, TRUE);
        put(server, "served");
    });
    EXPECT_TRUE(CallNamedPipeW(pipeName("busy").c_str(), const_cast<char*>("x"), 1, reply, sizeof reply, &got,
                               NMPWAIT_WAIT_FOREVER));
    serve.join();
    EXPECT_EQ(std::string(reply, got), "served");
}

TEST_F(Pipes, CallGivesUpOnAServerThatNeverReplies)
{
    ASSERT_TRUE(palSetTimeScale(0.01)); // the 5 s bound becomes 50 ms
    pipetest::ServicePipe service("silent", pipetest::Reply::Silent);
    char reply[8];
    DWORD got = 0;
    auto start = Clock::now();
    BOOL ok = CallNamedPipeW(pipeName("silent").c_str(), const_cast<char*>("x"), 1, reply, sizeof reply, &got,
                             NMPWAIT_WAIT_FOREVER);
    auto elapsed = Clock::now() - start;
    DWORD error = GetLastError();
    palSetTimeScale(1.0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_GE(elapsed, std::chrono::milliseconds(45));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
    EXPECT_EQ(service.requests(), 1) << "the request was delivered";
}

TEST_F(Pipes, WaitNamedPipeSeesFreeBusyAndMissingPipes)
{
    EXPECT_FALSE(WaitNamedPipeW(pipeName("waiting").c_str(), 1000));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Handle server(makeServer("waiting", PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 120));
    EXPECT_TRUE(WaitNamedPipeW(pipeName("waiting").c_str(), NMPWAIT_NOWAIT));
    Handle client(openClient("waiting"));
    auto start = Clock::now();
    EXPECT_FALSE(WaitNamedPipeA("\\\\.\\pipe\\waiting", NMPWAIT_USE_DEFAULT_WAIT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(110)) << "the pipe's default time-out";
}

// ---- Security descriptors

TEST_F(Pipes, SecurityDescriptorCalls)
{
    SECURITY_DESCRIPTOR descriptor;
    std::memset(&descriptor, 0xAB, sizeof descriptor);
    EXPECT_FALSE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
    EXPECT_FALSE(InitializeSecurityDescriptor(&descriptor, 2));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    EXPECT_EQ(descriptor.Control, 0);
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE));
    EXPECT_EQ(descriptor.Control, SE_DACL_PRESENT);
    EXPECT_EQ(descriptor.Dacl, nullptr);
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, FALSE, nullptr, TRUE));
    EXPECT_EQ(descriptor.Control, 0);
}

// ---- Many threads

TEST_F(Pipes, ConcurrentCallsAllGetTheirOwnReplies)
{
    constexpr int kInstances = 3, kCallers = 6, kCalls = 15;
    std::vector<std::unique_ptr<Handle>> instances;
    for (int i = 0; i < kInstances; ++i)
        instances.push_back(
            std::make_unique<Handle>(makeServer("crowd", PIPE_ACCESS_DUPLEX, kMessagePipe, kInstances)));
    std::atomic<int> served{0};
    std::vector<std::thread> servers;
    for (auto& instance : instances)
        servers.emplace_back([&, pipe = instance->get()] {
            while (served.load() < kCallers * kCalls) {
                if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED)
                    return;
                Taken request = take(pipe, 64);
                if (request.ok && put(pipe, "re:" + request.data))
                    ++served;
                DisconnectNamedPipe(pipe);
            }
        });
    std::atomic<int> matched{0};
    std::mutex failuresMutex;
    std::string failures;
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c)
        callers.emplace_back([&, c] {
            for (int i = 0; i < kCalls; ++i) {
                std::string text = std::to_string(c) + "/" + std::to_string(i);
                char reply[64];
                DWORD got = 0;
                BOOL ok = CallNamedPipeW(pipeName("crowd").c_str(), text.data(), static_cast<DWORD>(text.size()),
                                         reply, sizeof reply, &got, NMPWAIT_WAIT_FOREVER);
                if (ok && std::string(reply, got) == "re:" + text) {
                    ++matched;
                } else {
                    std::lock_guard<std::mutex> lock(failuresMutex);
                    failures += text + (ok ? " got " + std::string(reply, got)
                                           : " failed " + std::to_string(GetLastError())) + "\n";
                }
            }
        });
    for (auto& caller : callers)
        caller.join();
    EXPECT_EQ(matched.load(), kCallers * kCalls) << failures;
    for (auto& instance : instances)
        instance->reset(); // ends a ConnectNamedPipe that still waits
    for (auto& server : servers)
        server.join();
}

} // namespace
