#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <iphlpapi.h>
#include <icmpapi.h>
#include <windows.h>
#include <pal/testhooks.h>

#include "TempRoot.h"

namespace {

using Clock = std::chrono::steady_clock;

// An address as IPAddr holds it: the first octet first in memory.
IPAddr ipv4(unsigned char a, unsigned char b, unsigned char c, unsigned char d)
{
    const unsigned char bytes[4] = {a, b, c, d};
    IPAddr address;
    std::memcpy(&address, bytes, 4);
    return address;
}

uint32_t hostOrder(IPAddr address)
{
    unsigned char bytes[4];
    std::memcpy(bytes, &address, 4);
    return static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
}

char kRequest[12] = "Data Buffer"; // with its NUL: 12 bytes

class Icmp : public ::testing::Test {
protected:
    void SetUp() override { handle = IcmpCreateFile(); }
    void TearDown() override { IcmpCloseHandle(handle); }

    void stubs(const std::string& lines)
    {
        std::filesystem::create_directories(root.file("config"));
        std::ofstream(root.file("config/icmp")) << lines;
    }

    DWORD echo(IPAddr to, void* reply, DWORD replySize, DWORD timeout = 3000)
    {
        SetLastError(0);
        return IcmpSendEcho(handle, to, kRequest, sizeof kRequest, nullptr, reply, replySize, timeout);
    }

    ICMP_ECHO_REPLY replyIn(const unsigned char* buffer)
    {
        ICMP_ECHO_REPLY reply;
        std::memcpy(&reply, buffer, sizeof reply);
        return reply;
    }

    testsupport::TempRoot root;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(Icmp, ReplyBufferMustHoldTheRecordTheDataAndAnErrorsWorth)
{
    stubs("127.0.0.5 reply\n");
    alignas(8) unsigned char reply[128];
    struct Case {
        DWORD size;
        DWORD replies;
        DWORD error;
    } cases[] = {
        {39, 0, ERROR_INVALID_PARAMETER},
        {52, 0, ERROR_INSUFFICIENT_BUFFER},
        {59, 0, ERROR_INSUFFICIENT_BUFFER},
        {60, 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(echo(ipv4(127, 0, 0, 5), reply, c.size), c.replies) << c.size;
        EXPECT_EQ(GetLastError(), c.error) << c.size;
    }
    EXPECT_EQ(echo(ipv4(127, 0, 0, 5), nullptr, 128), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(IcmpSendEcho(handle, ipv4(127, 0, 0, 5), nullptr, 4, nullptr, reply, sizeof reply, 1000), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(IcmpSendEcho(INVALID_HANDLE_VALUE, ipv4(127, 0, 0, 5), kRequest, 12, nullptr, reply, sizeof reply, 10),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Icmp, StubReplyEchoesTheRequestBehindTheRecord)
{
    stubs("# test devices\n\n127.0.0.9 silent\n127.0.0.5   reply\n");
    unsigned char reply[64];
    std::memset(reply, 0xEE, sizeof reply);
    ASSERT_EQ(echo(ipv4(127, 0, 0, 5), reply + 1, 61), 1u) << "the buffer need not be aligned";
    ICMP_ECHO_REPLY record = replyIn(reply + 1);
    EXPECT_EQ(record.Address, ipv4(127, 0, 0, 5));
    EXPECT_EQ(record.Status, static_cast<ULONG>(IP_SUCCESS));
    EXPECT_EQ(record.RoundTripTime, 0u);
    EXPECT_EQ(record.DataSize, 12);
    EXPECT_EQ(record.Data, static_cast<void*>(reply + 1 + 40));
    EXPECT_EQ(record.Options.Ttl, 128);
    EXPECT_EQ(std::memcmp(reply + 41, kRequest, 12), 0);
    EXPECT_EQ(reply[53], 0xEE) << "nothing written past the data";
}

TEST_F(Icmp, SilentStubTimesOutAfterTheScaledTimeOut)
{
    stubs("127.0.0.9 silent\n");
    ASSERT_TRUE(palSetTimeScale(0.01)); // 5000 ms become 50 ms
    unsigned char reply[128];
    auto start = Clock::now();
    DWORD replies = echo(ipv4(127, 0, 0, 9), reply, sizeof reply, 5000);
    DWORD error = GetLastError();
    auto elapsed = Clock::now() - start;
    palSetTimeScale(1.0);
    EXPECT_EQ(replies, 0u);
    EXPECT_EQ(error, static_cast<DWORD>(IP_REQ_TIMED_OUT)) << "asked and silent";
    EXPECT_GE(elapsed, std::chrono::milliseconds(45));
    EXPECT_LT(elapsed, std::chrono::seconds(3));
}

TEST_F(Icmp, RealEchoFromLoopback)
{
    stubs("127.0.0.9 silent\n");
    alignas(8) unsigned char reply[2048];
    DWORD replies = echo(ipv4(127, 0, 0, 1), reply, sizeof reply);
    if (replies == 0 && GetLastError() == ERROR_ACCESS_DENIED)
        GTEST_SKIP() << "this machine allows neither ping nor raw sockets";
    ASSERT_EQ(replies, 1u) << GetLastError();
    ICMP_ECHO_REPLY record = replyIn(reply);
    EXPECT_EQ(record.Address, ipv4(127, 0, 0, 1));
    EXPECT_EQ(record.Status, static_cast<ULONG>(IP_SUCCESS));
    EXPECT_EQ(record.DataSize, 12);
    EXPECT_EQ(std::memcmp(reply + sizeof(ICMP_ECHO_REPLY), kRequest, 12), 0);
    EXPECT_GT(record.Options.Ttl, 0);
    EXPECT_LT(record.RoundTripTime, 3000u);

    ASSERT_EQ(echo(ipv4(127, 0, 0, 7), reply, sizeof reply), 1u) << "the kernel answers all of 127/8";
    EXPECT_EQ(replyIn(reply).Address, ipv4(127, 0, 0, 7));
}

TEST_F(Icmp, HandleClosesOnce)
{
    HANDLE other = IcmpCreateFile();
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(IcmpCloseHandle(other));
    EXPECT_FALSE(IcmpCloseHandle(other));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(IpHelper, LoopbackDestinationsAreReachedDirectly)
{
    MIB_IPFORWARDROW route;
    std::memset(&route, 0xFF, sizeof route);
    ASSERT_EQ(GetBestRoute(ipv4(127, 0, 0, 5), 0, &route), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(route.dwForwardType, static_cast<DWORD>(MIB_IPROUTE_TYPE_DIRECT));
    EXPECT_EQ(route.dwForwardNextHop, ipv4(127, 0, 0, 1)) << "a direct route names the local interface";
    EXPECT_EQ(route.dwForwardDest, ipv4(127, 0, 0, 0));
    EXPECT_EQ(route.dwForwardMask, ipv4(255, 0, 0, 0));
    EXPECT_EQ(route.dwForwardMetric2, 0u);
    EXPECT_EQ(GetBestRoute(ipv4(127, 0, 0, 5), 0, nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(IpHelper, AddressTableSizeFirstThenRows)
{
    ULONG size = 0;
    ASSERT_EQ(GetIpAddrTable(nullptr, &size, FALSE), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_GE(size, 4u + sizeof(MIB_IPADDRROW));
    EXPECT_EQ((size - 4) % sizeof(MIB_IPADDRROW), 0u);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    ULONG shortSize = size - 1;
    EXPECT_EQ(GetIpAddrTable(table, &shortSize, FALSE), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(shortSize, size);
    ASSERT_EQ(GetIpAddrTable(table, &size, TRUE), static_cast<DWORD>(NO_ERROR));
    ASSERT_EQ(4 + table->dwNumEntries * sizeof(MIB_IPADDRROW), size);
    bool loopback = false;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPADDRROW& row = table->table[i];
        if (row.dwAddr == ipv4(127, 0, 0, 1)) {
            loopback = true;
            EXPECT_EQ(row.dwMask, ipv4(255, 0, 0, 0));
            EXPECT_NE(row.dwIndex, 0u);
        }
        if (i > 0) {
            EXPECT_LT(hostOrder(table->table[i - 1].dwAddr), hostOrder(row.dwAddr)) << "bOrder sorts by address";
        }
    }
    EXPECT_TRUE(loopback);
    EXPECT_EQ(GetIpAddrTable(table, nullptr, FALSE), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace

namespace {

TEST_F(Icmp, UnreachableStubGivesOneReplyWithItsStatus)
{
    stubs("127.0.0.6 unreachable\n");
    alignas(8) unsigned char buffer[256];
    ASSERT_EQ(echo(ipv4(127, 0, 0, 6), buffer, sizeof buffer), 1u);
    ICMP_ECHO_REPLY reply = replyIn(buffer);
    EXPECT_EQ(reply.Status, static_cast<ULONG>(IP_DEST_HOST_UNREACHABLE));
    EXPECT_EQ(reply.Address, ipv4(127, 0, 0, 6));
    EXPECT_EQ(reply.DataSize, 0);
}

class RouteStub : public ::testing::Test {
protected:
    void routes(const std::string& lines)
    {
        std::filesystem::create_directories(root.file("config"));
        std::ofstream(root.file("config/routes")) << lines;
    }
    testsupport::TempRoot root;
    MIB_IPFORWARDROW row = {};
};

TEST_F(RouteStub, LinesComeBeforeTheMachinesTable)
{
    routes("# test routes\n127.0.0.0/8 via 10.9.9.9\n127.0.0.5/32 direct 127.0.0.7\n10.9.0.0/16 none\n"
           "bad line\n127.0.0.6/33 none\n");
    ASSERT_EQ(GetBestRoute(ipv4(127, 0, 0, 5), 0, &row), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(row.dwForwardType, static_cast<DWORD>(MIB_IPROUTE_TYPE_DIRECT)) << "the longest prefix wins";
    EXPECT_EQ(row.dwForwardNextHop, ipv4(127, 0, 0, 7));
    EXPECT_EQ(row.dwForwardMask, ipv4(255, 255, 255, 255));
    ASSERT_EQ(GetBestRoute(ipv4(127, 0, 0, 6), 0, &row), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(row.dwForwardType, static_cast<DWORD>(MIB_IPROUTE_TYPE_INDIRECT));
    EXPECT_EQ(row.dwForwardNextHop, ipv4(10, 9, 9, 9));
    EXPECT_EQ(row.dwForwardDest, ipv4(127, 0, 0, 0));
    EXPECT_EQ(GetBestRoute(ipv4(10, 9, 9, 9), 0, &row), static_cast<DWORD>(ERROR_NOT_FOUND));
}

TEST_F(RouteStub, WithoutAMatchingLineTheMachineDecides)
{
    routes("10.0.0.0/8 none\n");
    ASSERT_EQ(GetBestRoute(ipv4(127, 0, 0, 5), 0, &row), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(row.dwForwardType, static_cast<DWORD>(MIB_IPROUTE_TYPE_DIRECT));
    EXPECT_EQ(row.dwForwardNextHop, ipv4(127, 0, 0, 1));
}

} // namespace
