// Discovery on the scriptable transport: the Echo from a datagram endpoint, the devices that
// answer collected once each in answer order, the time-out clamps and the cap of the list.
#include <stdio.h>

#include "EngineTesting.h"

namespace enginetest {
namespace {

class Discovery : public EngineTest {
protected:
    // Starts a discovery of target (kind 2) with the time-out; the Echo is out and armed.
    Bytes Discover(Completions& completions, const char* address, uint32_t timeout)
    {
        DmlpAddress target = {};
        target.kind = DMLP_ADDRESS_UDP;
        unsigned a, b, c, d;
        sscanf(address, "%u.%u.%u.%u", &a, &b, &c, &d);
        target.u.inet.address[0] = (uint8_t)a;
        target.u.inet.address[1] = (uint8_t)b;
        target.u.inet.address[2] = (uint8_t)c;
        target.u.inet.address[3] = (uint8_t)d;
        const DmlpCallback callback = completions.callback();
        EXPECT_EQ(DMLP_DiscoverAsync(&callback, &target, timeout, nullptr), DMLP_SUCCESS);
        const Bytes echo = SentAt(0);
        WaitArmed();
        return echo;
    }
    void Answer(const Bytes& echo, const char* from)
    {
        vxfake::Receive(vxfake::Endpoints().at(0).handle,
                        vxfake::Pair(from, 47545, "127.0.0.1", 40000, VXTRANS_PROTOCOL_UDP), ReplyTo(echo, 1));
    }
    static const DmlpDiscoveryResult* ResultOf(const Completion& completion)
    {
        return (const DmlpDiscoveryResult*)completion.result;
    }
};

TEST_F(Discovery, UnicastEchoCollectsEachDeviceOnceInAnswerOrder)
{
    Completions& completions = Recorder();
    const Bytes echo = Discover(completions, "127.0.0.9", 1000);
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.mode, (uint32_t)VXTRANS_MODE_DATAGRAM);
    EXPECT_EQ(endpoint.pair.protocol, (uint32_t)VXTRANS_PROTOCOL_UDP);
    EXPECT_EQ(Bytes(endpoint.pair.peer.bytes, endpoint.pair.peer.bytes + 6), (Bytes{0xB9, 0xB9, 127, 0, 0, 9}))
        << "port 47545 of the target";
    const Bytes expected = Wire().u16(0xCDCA).u8(16).u8(4).u16(1).u16(1).u16(0).u32(0).u32(0).u16(0);
    EXPECT_EQ(echo, expected) << "an empty Echo that wants a reply";
    Answer(echo, "127.0.0.12");
    Answer(echo, "127.0.0.11");
    Answer(echo, "127.0.0.12");
    Flush();
    EXPECT_EQ(completions.size(), 0u) << "answers are collected until the time-out";
    Advance(1000);
    ASSERT_TRUE(completions.waitFor(1));
    const Completion done = completions.list()[0];
    EXPECT_EQ(done.status, DMLP_SUCCESS);
    EXPECT_EQ(done.method, 1);
    EXPECT_EQ(done.binding, nullptr);
    const DmlpDiscoveryResult* result = ResultOf(done);
    EXPECT_EQ(result->kind, (uint32_t)DMLP_ADDRESS_UDP);
    ASSERT_NE(result->list, nullptr);
    EXPECT_EQ(result->size, 8 + 2 * 32);
    EXPECT_EQ(result->buffer.data, (void*)result->list);
    EXPECT_EQ(result->buffer.flags, 9);
    ASSERT_EQ(result->list->count, 2);
    EXPECT_EQ(result->list->devices[0].u.inet.address[3], 12);
    EXPECT_EQ(result->list->devices[1].u.inet.address[3], 11);
    EXPECT_EQ(result->list->devices[0].u.inet.port, 47545);
    ASSERT_TRUE(vxfake::WaitForCloses(1, kWaitMs)) << "the endpoint is closed";
    completions.release();
}

TEST_F(Discovery, AnyAddressBroadcastsAndSilenceGivesNoList)
{
    Completions& completions = Recorder();
    Discover(completions, "0.0.0.0", 500);
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(Bytes(endpoint.pair.peer.bytes + 2, endpoint.pair.peer.bytes + 6), Bytes(4, 255));
    Advance(500);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_SUCCESS);
    EXPECT_EQ(ResultOf(completions.list()[0])->list, nullptr);
    EXPECT_EQ(ResultOf(completions.list()[0])->size, 0);
    completions.release();
}

TEST_F(Discovery, TimeOutsAreClamped)
{
    Completions& quick = Recorder();
    Discover(quick, "127.0.0.9", 0);
    Advance(1);
    ASSERT_TRUE(quick.waitFor(1)) << "0 becomes 1 tick";
    quick.release();

    vxfake::Reset();
    vxfake::SetAutoNotices(true);
    Completions& slow = Recorder();
    Discover(slow, "127.0.0.9", 60000);
    Advance(29999);
    EXPECT_EQ(slow.size(), 0u);
    Advance(1);
    ASSERT_TRUE(slow.waitFor(1)) << "60000 becomes 30000";
    slow.release();
}

TEST_F(Discovery, MoreThan253DevicesListTheFirst253)
{
    Completions& completions = Recorder();
    const Bytes echo = Discover(completions, "0.0.0.0", 1000);
    char address[32];
    for (int i = 0; i < 260; ++i) {
        snprintf(address, sizeof address, "127.0.%d.%d", 1 + i / 200, 1 + i % 200);
        Answer(echo, address);
    }
    Advance(1000);
    ASSERT_TRUE(completions.waitFor(1));
    const DmlpDiscoveryResult* result = ResultOf(completions.list()[0]);
    ASSERT_NE(result->list, nullptr);
    EXPECT_EQ(result->list->count, 253);
    EXPECT_EQ(result->size, 8 + 253 * 32);
    EXPECT_EQ(result->list->devices[252].u.inet.address[3], 53);
    completions.release();
}

TEST_F(Discovery, RefusedTargetsAndOpens)
{
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpAddress target = Inet(DMLP_ADDRESS_TCP, 9, 0);
    EXPECT_EQ(DMLP_DiscoverAsync(&callback, &target, 100, nullptr), DMLP_BAD_PARAMETER) << "kind 1";
    target.kind = DMLP_ADDRESS_UDP;
    EXPECT_EQ(DMLP_DiscoverAsync(nullptr, &target, 100, nullptr), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_DiscoverAsync(&callback, nullptr, 100, nullptr), DMLP_BAD_PARAMETER);
    const DmlpAddress tcpLocal = Inet(DMLP_ADDRESS_TCP, 1, 0);
    EXPECT_EQ(DMLP_DiscoverAsync(&callback, &target, 100, &tcpLocal), DMLP_BAD_PARAMETER);
    DmlpAddress ipx = {};
    ipx.kind = DMLP_ADDRESS_IPX;
    EXPECT_EQ(DMLP_DiscoverAsync(&callback, &ipx, 100, nullptr), DMLP_NOT_AVAILABLE) << "no IPX here";
    vxfake::ScriptResult(vxfake::Call::Open, VXTRANS_E_BAD_ADDRESS);
    ASSERT_EQ(DMLP_DiscoverAsync(&callback, &target, 100, nullptr), DMLP_SUCCESS);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_BAD_PARAMETER);
    EXPECT_TRUE(vxfake::Closes().empty()) << "a refused open has nothing to close";
}

TEST_F(Discovery, IpxDiscoveryAsksEveryNodeOfTheNetwork)
{
    RestartWith({VXTRANS_FAMILY_IPX});
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpAddress target = {};
    target.kind = DMLP_ADDRESS_IPX;
    target.u.ipx.network[3] = 7;
    ASSERT_EQ(DMLP_DiscoverAsync(&callback, &target, 100, nullptr), DMLP_SUCCESS);
    ASSERT_TRUE(vxfake::WaitForEndpoints(1, kWaitMs));
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.pair.protocol, 1000u);
    EXPECT_EQ(Bytes(endpoint.pair.peer.bytes, endpoint.pair.peer.bytes + 12),
              (Bytes{0, 0, 0, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xB9, 0xB9}));
    SentAt(0);
    WaitArmed();
    Advance(100);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(ResultOf(completions.list()[0])->kind, (uint32_t)DMLP_ADDRESS_IPX);
    completions.release();
}

TEST_F(Discovery, TerminateEndsARunningDiscoveryWith21)
{
    Completions& completions = Recorder();
    Discover(completions, "127.0.0.9", 5000);
    ASSERT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_BINDING_CLOSED);
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
}

} // namespace
} // namespace enginetest
