// The pipe server against a client that writes the socket bytes by hand.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>

#include "TempRoot.h"
#include "pal/testhooks.h"
#include "fixtures/pipe_test_server.h"

namespace {

namespace fs = std::filesystem;
using pipetest::pipeName;
using Bytes = std::vector<unsigned char>;

constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

Bytes text(const std::string& value)
{
    return Bytes(value.begin(), value.end());
}

Bytes operator+(Bytes left, const Bytes& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

class RawClient {
public:
    explicit RawClient(const std::string& socketPath)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    bool send(const Bytes& bytes)
    {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // Exactly count bytes, or fewer when the server ends the connection (or 10 s pass).
    Bytes receive(size_t count)
    {
        Bytes bytes;
        while (bytes.size() < count) {
            pollfd ready{fd_, POLLIN, 0};
            unsigned char chunk[256];
            if (poll(&ready, 1, 10000) != 1)
                break;
            ssize_t got = recv(fd_, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
            if (got <= 0)
                break;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return bytes;
    }
    bool endedByServer()
    {
        pollfd ready{fd_, POLLIN, 0};
        unsigned char byte;
        return poll(&ready, 1, 10000) == 1 && recv(fd_, &byte, 1, 0) == 0;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

class PipeWire : public ::testing::Test {
protected:
    std::string folderOf(const std::string& key) { return root.file("run/pipes/" + key); }

    // The one socket of this process in the pipe's folder.
    std::string socketOf(const std::string& key)
    {
        std::vector<std::string> sockets;
        for (const auto& entry : fs::directory_iterator(folderOf(key)))
            if (entry.path().extension() == ".sock")
                sockets.push_back(entry.path().string());
        EXPECT_EQ(sockets.size(), 1u);
        EXPECT_EQ(fs::path(sockets.front()).filename().string().rfind(std::to_string(getpid()) + "-", 0), 0u);
        return sockets.front();
    }

    std::string readMessage(HANDLE pipe)
    {
        char buffer[64];
        DWORD got = 0;
        return ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) ? std::string(buffer, got) : "<failed>";
    }

    testsupport::TempRoot root;
};

const Bytes kOpenReadWrite = {'P', 'I', 'P', 'E', 0x00, 0x00, 0x00, 0xC0}; // GENERIC_READ | GENERIC_WRITE
const Bytes kAccepted = {0, 0, 0, 0, 0x04, 0, 0, 0};                         // PIPE_TYPE_MESSAGE

TEST_F(PipeWire, HandWrittenClientExchangesFramedMessages)
{
    HANDLE server = CreateNamedPipeW(u"\\\\.\\pipe\\Vexil_JTRKsvc2", PIPE_ACCESS_DUPLEX, kMessagePipe, 7, 0, 0, 0,
                                     nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::ifstream instances(folderOf("vexil_jtrksvc2") + "/instances", std::ios::binary);
    char count[4] = {};
    instances.read(count, 4);
    EXPECT_EQ(Bytes(count, count + 4), (Bytes{7, 0, 0, 0})) << "the first instance's nMaxInstances";

    RawClient client(socketOf("vexil_jtrksvc2"));
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(kOpenReadWrite + Bytes{5, 0, 0, 0} + text("hello") + Bytes{0, 0, 0, 0}));
    EXPECT_EQ(client.receive(8), kAccepted);
    EXPECT_FALSE(ConnectNamedPipe(server, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_CONNECTED));
    EXPECT_EQ(readMessage(server), "hello");
    EXPECT_EQ(readMessage(server), "") << "a zero-length frame is a message";

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(server, "ok", 2, &written, nullptr));
    ASSERT_TRUE(WriteFile(server, "", 0, &written, nullptr));
    EXPECT_EQ(client.receive(10), (Bytes{2, 0, 0, 0, 'o', 'k', 0, 0, 0, 0}));
    ASSERT_TRUE(DisconnectNamedPipe(server));
    EXPECT_EQ(client.receive(4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(client.endedByServer());
    CloseHandle(server);
    for (const auto& entry : fs::directory_iterator(folderOf("vexil_jtrksvc2")))
        EXPECT_NE(entry.path().extension(), ".sock") << "the last instance takes the socket away";
}

TEST_F(PipeWire, FrameSplitOverSeveralSendsArrivesWhole)
{
    HANDLE server = CreateNamedPipeW(pipeName("split").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
    RawClient client(socketOf("split"));
    ASSERT_TRUE(client.send(Bytes(kOpenReadWrite.begin(), kOpenReadWrite.begin() + 3)));
    ASSERT_TRUE(client.send(Bytes(kOpenReadWrite.begin() + 3, kOpenReadWrite.end()) + Bytes{6, 0}));
    EXPECT_EQ(client.receive(8), kAccepted);
    ASSERT_TRUE(client.send(Bytes{0, 0} + text("abc")));
    ASSERT_TRUE(client.send(text("def")));
    EXPECT_EQ(readMessage(server), "abcdef");
    CloseHandle(server);
    EXPECT_TRUE(client.endedByServer());
}

TEST_F(PipeWire, AnswersBusyDeniedAndProbe)
{
    HANDLE server = CreateNamedPipeW(pipeName("answers").c_str(), PIPE_ACCESS_INBOUND, kMessagePipe, 1, 0, 0, 1000,
                                     nullptr);
    {
        RawClient reader(socketOf("answers"));
        ASSERT_TRUE(reader.send(kOpenReadWrite));
        EXPECT_EQ(reader.receive(8), (Bytes{5, 0, 0, 0, 0, 0, 0, 0})) << "the server only reads";
        EXPECT_TRUE(reader.endedByServer());
    }
    {
        RawClient probe(socketOf("answers"));
        ASSERT_TRUE(probe.send(text("WAIT") + Bytes{0, 0, 0, 0}));
        EXPECT_EQ(probe.receive(8), (Bytes{0, 0, 0, 0, 0xE8, 0x03, 0, 0})) << "free, default time-out 1000 ms";
    }
    HANDLE writer = CreateFileW(pipeName("answers").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    {
        RawClient late(socketOf("answers"));
        ASSERT_TRUE(late.send(Bytes{'P', 'I', 'P', 'E', 0, 0, 0, 0x40}));
        EXPECT_EQ(late.receive(8), (Bytes{0xE7, 0, 0, 0, 0, 0, 0, 0})) << "ERROR_PIPE_BUSY";
    }
    {
        RawClient probe(socketOf("answers"));
        ASSERT_TRUE(probe.send(text("WAIT") + Bytes{0, 0, 0, 0}));
        EXPECT_EQ(probe.receive(8), (Bytes{0xE7, 0, 0, 0, 0xE8, 0x03, 0, 0}));
    }
    {
        RawClient stranger(socketOf("answers"));
        ASSERT_TRUE(stranger.send(text("HELLO!!!")));
        EXPECT_TRUE(stranger.endedByServer()) << "no answer to a hello of another kind";
    }
    CloseHandle(writer);
    CloseHandle(server);
}

TEST_F(PipeWire, GarbageLengthEndsTheConnection)
{
    HANDLE server =
        CreateNamedPipeW(pipeName("garbage").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
    RawClient client(socketOf("garbage"));
    ASSERT_TRUE(client.send(kOpenReadWrite + Bytes{1, 0, 0, 0, 'x'} + Bytes{0, 0, 0, 0x10}));
    EXPECT_EQ(client.receive(8), kAccepted);
    EXPECT_EQ(readMessage(server), "x");
    char buffer[8];
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(server, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_TRUE(client.endedByServer());
    CloseHandle(server);
}

// A client that stops in the middle of a frame is cut off; one that is idle between frames stays.
TEST_F(PipeWire, ClientStalledInAFrameIsCutOff)
{
    ASSERT_TRUE(palSetTimeScale(0.01)); // the 30 s stall limit takes 0.3 s
    HANDLE first = CreateNamedPipeW(pipeName("stall").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 2, 0, 0, 0, nullptr);
    HANDLE second = CreateNamedPipeW(pipeName("stall").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 2, 0, 0, 0, nullptr);
    RawClient stalled(socketOf("stall"));
    RawClient idle(socketOf("stall"));
    ASSERT_TRUE(stalled.send(kOpenReadWrite));
    EXPECT_EQ(stalled.receive(8), kAccepted);
    ASSERT_TRUE(idle.send(kOpenReadWrite));
    EXPECT_EQ(idle.receive(8), kAccepted);
    ASSERT_TRUE(stalled.send(Bytes{10, 0, 0, 0, 'a', 'b'})); // 10 bytes announced, 2 sent
    EXPECT_TRUE(stalled.endedByServer());
    pollfd ready{idle.fd(), POLLIN, 0};
    EXPECT_EQ(poll(&ready, 1, 0), 0) << "the idle client is still connected";
    palSetTimeScale(1.0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST_F(PipeWire, FolderKeysOfNames)
{
    struct Case {
        const char16_t* name;
        std::string key;
    } cases[] = {
        {u"\\\\.\\pipe\\Simple.Name-1_x", "simple.name-1_x"},
        {u"\\\\.\\pipe\\a b\\C", "a%0020b%005cc"},
        {u"\\\\.\\pipe\\\u00e9t\u00c9", "%00e9t%00c9"},
    };
    for (const Case& c : cases) {
        HANDLE pipe = CreateNamedPipeW(c.name, PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(fs::exists(folderOf(c.key) + "/instances")) << c.key;
        CloseHandle(pipe);
    }
    std::u16string longName = pipeName(std::string(80, 'L'));
    HANDLE pipe = CreateNamedPipeW(longName.c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
    std::vector<std::string> keys;
    for (const auto& entry : fs::directory_iterator(root.file("run/pipes")))
        if (entry.path().filename().string()[0] == '#')
            keys.push_back(entry.path().filename().string());
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].size(), 17u);
    HANDLE client = CreateFileW(pipeName(std::string(80, 'l')).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    EXPECT_NE(client, INVALID_HANDLE_VALUE) << "the hashed key folds case too";
    CloseHandle(client);
    CloseHandle(pipe);
}

TEST_F(PipeWire, RootLongerThanASocketPathStillWorks)
{
    std::string deep = root.file(std::string(60, 'd') + "/" + std::string(60, 'e'));
    fs::create_directories(deep);
    setenv("PAL_ROOT", deep.c_str(), 1);
    HANDLE server = CreateNamedPipeW(pipeName("deep").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    EXPECT_GT((deep + "/run/pipes/deep/").size() + 10, sizeof(sockaddr_un::sun_path));
    HANDLE client = CreateFileW(pipeName("deep").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(client, "deep", 4, &written, nullptr));
    EXPECT_EQ(readMessage(server), "deep");
    CloseHandle(client);
    CloseHandle(server);
}

} // namespace
