// Xcv through the spooler host from another process: routing, granted access, the output buffer
// in and out, handle lifetime, in-process calls of the monitor, concurrency and the wire format.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <thread>

#include "test_spooler_host.h"

#include "TempRoot.h"

using namespace spoolertest;

namespace {

std::u16string textOf(const std::vector<BYTE>& output)
{
    return std::u16string(reinterpret_cast<const WCHAR*>(output.data()));
}

DWORD dwordOf(const std::vector<BYTE>& output)
{
    DWORD value = 0;
    std::memcpy(&value, output.data(), sizeof value);
    return value;
}

class SpoolerXcv : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerTestMonitor(u"Test Monitor A", {u"P1", u"P2", u"REFUSE:"});
        registerTestMonitor(u"Test Monitor B", {u"Q1"});
        ASSERT_TRUE(host_.start(hostOptions()));
    }
    void TearDown() override { EXPECT_EQ(host_.stop(), 0); }
    virtual std::vector<std::string> hostOptions() const { return {}; }

    DWORD openXcvCount(const std::u16string& monitor)
    {
        return readDword(monitorKey(monitor), W("OpenXcv")).value_or(0);
    }

    testsupport::TempRoot root_;
    SpoolerHost host_;
};

class SpoolerXcvNonAdmin : public SpoolerXcv {
protected:
    std::vector<std::string> hostOptions() const override { return {"--non-admin"}; }
};

TEST_F(SpoolerXcv, ObjectNamesRouteToTheMonitorOrThePortsOwner)
{
    std::vector<BYTE> output(128);
    XcvHandle monitor(u",XcvMonitor test monitor b");
    ASSERT_TRUE(monitor.opened());
    EXPECT_EQ(monitor.call(W("Object"), {}, output), 0u);
    EXPECT_EQ(textOf(output), u"test monitor b"); // the name as the caller wrote it

    XcvHandle port(u",XcvPort q1");
    ASSERT_TRUE(port.opened());
    EXPECT_EQ(port.call(W("Object"), {}, output), 0u);
    EXPECT_EQ(textOf(output), u"q1");
    EXPECT_EQ(openXcvCount(u"Test Monitor B"), 2u);
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 0u);

    XcvHandle behindServer(u"\\\\localhost\\,XcvPort P2");
    ASSERT_TRUE(behindServer.opened());
    EXPECT_EQ(behindServer.call(W("Object"), {}, output), 0u);
    EXPECT_EQ(textOf(output), u"P2");
}

TEST_F(SpoolerXcv, UnknownObjectsAndRefusals)
{
    for (const char16_t* name : {u",XcvMonitor Nobody", u",XcvPort NOPE", u",XcvPort ", u"Some Printer",
                                 u",xcvport P1", u"\\\\server-without-tail"}) {
        XcvHandle xcv(name);
        EXPECT_FALSE(xcv.opened());
        EXPECT_EQ(xcv.error(), DWORD(ERROR_INVALID_PRINTER_NAME));
    }
    // The monitor's XcvOpenPort refuses, with its own error.
    XcvHandle refused(u",XcvPort REFUSE:");
    EXPECT_FALSE(refused.opened());
    EXPECT_EQ(refused.error(), DWORD(ERROR_ACCESS_DENIED));
    HANDLE handle = nullptr;
    EXPECT_FALSE(OpenPrinterW(nullptr, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(OpenPrinterW(nullptr, &handle, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));
}

TEST_F(SpoolerXcv, AdministratorGetsTheAccessItAsksFor)
{
    std::vector<BYTE> output(4);
    XcvHandle admin(u",XcvMonitor Test Monitor A", SERVER_ACCESS_ADMINISTER);
    EXPECT_EQ(admin.call(W("GrantedAccess"), {}, output), 0u);
    EXPECT_EQ(dwordOf(output), DWORD(SERVER_ACCESS_ADMINISTER));
    XcvHandle noDefaults(u",XcvMonitor Test Monitor A", std::nullopt);
    EXPECT_EQ(noDefaults.call(W("GrantedAccess"), {}, output), 0u);
    EXPECT_EQ(dwordOf(output), 0u);
    XcvHandle all(u",XcvPort P1", SERVER_ALL_ACCESS);
    EXPECT_EQ(all.call(W("GrantedAccess"), {}, output), 0u);
    EXPECT_EQ(dwordOf(output), DWORD(SERVER_ALL_ACCESS));
    EXPECT_EQ(admin.call(W("AddPort"), bytesOf(u"NEW1"), output), 0u);
    EXPECT_TRUE(keyExists(monitorKey(u"Test Monitor A") + u"\\Ports\\NEW1"));
}

TEST_F(SpoolerXcvNonAdmin, NonAdministratorIsRefusedTheAdministerRight)
{
    std::vector<BYTE> output(4);
    XcvHandle xcv(u",XcvMonitor Test Monitor A", SERVER_ALL_ACCESS);
    ASSERT_TRUE(xcv.opened());
    EXPECT_EQ(xcv.call(W("GrantedAccess"), {}, output), 0u);
    EXPECT_EQ(dwordOf(output), DWORD(SERVER_ALL_ACCESS & ~SERVER_ACCESS_ADMINISTER));
    // The monitor's own "no administer access" path.
    EXPECT_EQ(xcv.call(W("AddPort"), bytesOf(u"NEW1"), output), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(keyExists(monitorKey(u"Test Monitor A") + u"\\Ports\\NEW1"));
}

TEST_F(SpoolerXcv, PeerCredentialsDecideTheAdministerRight)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run a client as another user";
    // The root is owned by root; a client running as nobody is not an administrator.
    ASSERT_EQ(chmod(root_.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(root_.file("run").c_str(), 0755), 0);
    const std::vector<std::string> grantedAccess = {
        "pal-spool", "--root", root_.path(), "xcv", "--monitor", "Test Monitor A", "GrantedAccess", "--out-size", "4"};
    ProgramResult asNobody = runProgram(grantedAccess, uid_t(65534));
    EXPECT_EQ(asNobody.exitCode, 0) << asNobody.output;
    EXPECT_NE(asNobody.output.find("output: 00000000"), std::string::npos) << asNobody.output;
    ProgramResult asRoot = runProgram(grantedAccess);
    EXPECT_NE(asRoot.output.find("output: 01000000"), std::string::npos) << asRoot.output;
}

TEST_F(SpoolerXcv, OutputBufferTravelsInAndOut)
{
    XcvHandle xcv(u",XcvPort P1");
    ASSERT_TRUE(xcv.opened());
    // The monitor reads what the caller's output buffer held.
    std::vector<BYTE> counter = {41, 0, 0, 0};
    EXPECT_EQ(xcv.call(W("Increment"), {}, counter), 0u);
    EXPECT_EQ(dwordOf(counter), 42u);

    std::vector<BYTE> input = {1, 2, 3, 4, 5};
    std::vector<BYTE> small(4, 0xAA);
    DWORD needed = 0;
    EXPECT_EQ(xcv.call(W("Echo"), input, small, &needed), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, 5u);
    EXPECT_EQ(small, std::vector<BYTE>(4, 0xAA));
    std::vector<BYTE> exact(5);
    EXPECT_EQ(xcv.call(W("Echo"), input, exact, &needed), 0u);
    EXPECT_EQ(exact, input);

    // NULL needed-size pointer reaches the monitor as NULL; a missing status pointer is refused.
    DWORD status = 99;
    EXPECT_TRUE(XcvDataW(xcv.get(), W("Echo"), input.data(), 5, exact.data(), 5, nullptr, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_FALSE(XcvDataW(xcv.get(), W("Echo"), input.data(), 5, exact.data(), 5, &needed, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    // An unknown method is the monitor's business.
    std::vector<BYTE> none;
    EXPECT_EQ(xcv.call(W("echo"), {}, none), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(XcvDataW(nullptr, W("Echo"), nullptr, 0, nullptr, 0, &needed, &status));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerXcv, ClosePrinterClosesTheMonitorsContext)
{
    HANDLE handle = nullptr;
    std::u16string name = u",XcvPort P1";
    ASSERT_TRUE(OpenPrinterW(name.data(), &handle, nullptr));
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 1u);
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 0u);
    EXPECT_FALSE(ClosePrinter(handle));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerXcv, MonitorCallsTheSpoolerFromInsideItsSlots)
{
    XcvHandle xcv(u",XcvPort P1");
    std::vector<BYTE> output(128);
    // LoadLibrary("SPOOLSS.DLL") + GetProcAddress("EnumPortsW") inside the host: every port.
    EXPECT_EQ(xcv.call(W("SpoolerPorts"), {}, output), 0u);
    EXPECT_EQ(dwordOf(output), 4u);
    // OpenPrinterW + XcvDataW on another port of the same monitor, inside XcvDataPort.
    EXPECT_EQ(xcv.call(W("XcvSelf"), bytesOf(u"P2"), output), 0u);
    EXPECT_EQ(textOf(output), u"P2");
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 1u); // the inner handle was closed again
}

TEST_F(SpoolerXcv, CallsOnDifferentHandlesRunConcurrently)
{
    XcvHandle waiting(u",XcvPort P1");
    XcvHandle releasing(u",XcvPort P2");
    DWORD waitStatus = ~0u;
    std::thread waiter([&] {
        std::vector<BYTE> none;
        waitStatus = waiting.call(W("Wait"), {}, none);
    });
    // Release only once the monitor is inside Wait, so that both calls are in the host at once.
    EXPECT_TRUE(eventually([&] { return readDword(monitorKey(u"Test Monitor A"), W("Waiting")) == 1u; }));
    std::vector<BYTE> none;
    EXPECT_EQ(releasing.call(W("Release"), {}, none), 0u);
    waiter.join();
    EXPECT_EQ(waitStatus, 0u); // WAIT_TIMEOUT if the host had served the calls one after another
}

TEST_F(SpoolerXcv, ManyClientsOpenCallAndCloseAtOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 40;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([t, &failures] {
            for (int round = 0; round < kRounds; ++round) {
                XcvHandle xcv(t % 2 ? u",XcvPort P1" : u",XcvMonitor Test Monitor A");
                std::vector<BYTE> input = {BYTE(t), BYTE(round)};
                std::vector<BYTE> output(2);
                DWORD status = xcv.call(t % 3 ? W("Echo") : W("SpoolerPorts"), input, output);
                if (status != 0 && status != DWORD(ERROR_INSUFFICIENT_BUFFER))
                    ++failures[size_t(t)];
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 0u);
}

// ---- The wire format, bytes written by hand ----

class RawConnection {
public:
    explicit RawConnection(const std::string& root)
    {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = root + "/run/spoolsv.sock";
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawConnection() { close(fd_); }
    bool connected() const { return connected_; }

    void send(const std::vector<BYTE>& frame)
    {
        ASSERT_EQ(::send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL), ssize_t(frame.size()));
    }
    // The next reply frame, or nothing when the host closed the connection.
    std::vector<BYTE> receive()
    {
        BYTE head[4];
        if (!receiveAll(head, 4))
            return {};
        std::vector<BYTE> payload(head[0] | head[1] << 8 | head[2] << 16 | size_t(head[3]) << 24);
        if (!receiveAll(payload.data(), payload.size()))
            return {};
        return payload;
    }

private:
    bool receiveAll(BYTE* data, size_t size)
    {
        while (size > 0) {
            ssize_t got = recv(fd_, data, size, 0);
            if (got <= 0)
                return false;
            data += got;
            size -= size_t(got);
        }
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
};

TEST_F(SpoolerXcv, WireFormatOfRequestsAndReplies)
{
    RawConnection connection(root_.path());
    ASSERT_TRUE(connection.connected());
    // EnumMonitors (6), server NULL, level 1.
    connection.send({12, 0, 0, 0, 6, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0});
    std::vector<BYTE> reply = connection.receive();
    std::vector<BYTE> expected = {1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}; // result TRUE, error 0, two monitors
    for (const std::u16string name : {u"Test Monitor A", u"Test Monitor B"}) {
        for (const std::u16string& field : {name, std::u16string(u"Windows x64"), std::u16string(u"TESTMON.DLL")}) {
            expected.insert(expected.end(), {BYTE(field.size()), 0, 0, 0});
            for (char16_t unit : field)
                expected.insert(expected.end(), {BYTE(unit), BYTE(unit >> 8)});
        }
    }
    EXPECT_EQ(reply, expected);

    // OpenPrinter (1) ",XcvPort P1" without defaults: handle and kind 1 (Xcv).
    std::vector<BYTE> open = {0, 0, 0, 0, 1, 0, 0, 0, 11, 0, 0, 0};
    for (char16_t unit : std::u16string(u",XcvPort P1"))
        open.insert(open.end(), {BYTE(unit), 0});
    // hasDefaults 0, datatype NULL, access 0, devmode NULL.
    open.insert(open.end(), {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    open[0] = BYTE(open.size() - 4);
    connection.send(open);
    reply = connection.receive();
    ASSERT_EQ(reply.size(), 16u);
    EXPECT_EQ(std::vector<BYTE>(reply.begin(), reply.begin() + 8), (std::vector<BYTE>{1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(std::vector<BYTE>(reply.begin() + 12, reply.end()), (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 1u);

    // A string that claims more than the frame holds: RPC_X_BAD_STUB_DATA (1783 = 0x6F7).
    connection.send({8, 0, 0, 0, 4, 0, 0, 0, 50, 0, 0, 0});
    EXPECT_EQ(connection.receive(), (std::vector<BYTE>{0, 0, 0, 0, 0xF7, 0x06, 0, 0}));
    // An opcode nobody serves: ERROR_NOT_SUPPORTED (50).
    connection.send({4, 0, 0, 0, 99, 0, 0, 0});
    EXPECT_EQ(connection.receive(), (std::vector<BYTE>{0, 0, 0, 0, 50, 0, 0, 0}));
    // A frame above the limit ends the connection, and with it the handle it had opened.
    connection.send({0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_TRUE(connection.receive().empty());
    EXPECT_TRUE(eventually([&] { return openXcvCount(u"Test Monitor A") == 0u; }));
}

TEST_F(SpoolerXcv, HandlesOfAnotherConnectionAreNotUsable)
{
    XcvHandle mine(u",XcvPort P1");
    ASSERT_TRUE(mine.opened());
    RawConnection other(root_.path());
    // ClosePrinter (2) of handle 1, which the other connection opened.
    other.send({8, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0});
    EXPECT_EQ(other.receive(), (std::vector<BYTE>{0, 0, 0, 0, 6, 0, 0, 0}));
    EXPECT_EQ(openXcvCount(u"Test Monitor A"), 1u);
}

} // namespace
