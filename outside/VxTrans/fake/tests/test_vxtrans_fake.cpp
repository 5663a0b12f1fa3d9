// The scriptable transport: what it records, what it injects, and that closing ends callbacks.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "VxTransFake.h"

namespace {

struct Seen {
    std::mutex mutex;
    std::vector<std::string> lines;
    void add(const std::string& line)
    {
        std::lock_guard<std::mutex> lock(mutex);
        lines.push_back(line);
    }
    std::vector<std::string> all()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return lines;
    }
};

Seen g_seen;

void onReceive(uint32_t endpoint, const VxTransAddressPair* sender, const VxTransBuffer* buffer, int32_t result)
{
    std::string line = std::to_string(endpoint) + " receive " + std::to_string(result);
    if (sender != nullptr)
        line += " from " + std::to_string(sender->peer.bytes[5]) + ":" +
                std::to_string(sender->peer.bytes[0] * 256 + sender->peer.bytes[1]);
    if (buffer != nullptr)
        line += " " + std::string(reinterpret_cast<const char*>(VxTransBufferDataConst(buffer)), buffer->length);
    g_seen.add(line);
}

void onState(uint32_t endpoint, int32_t value, void* context)
{
    g_seen.add(std::to_string(endpoint) + " state " + std::to_string(value) + " " +
               std::to_string(reinterpret_cast<uintptr_t>(context)));
}

void onStateWithData(uint32_t endpoint, void* data, int32_t value, void* context)
{
    EXPECT_EQ(data, nullptr);
    g_seen.add(std::to_string(endpoint) + " data-state " + std::to_string(value) + " " +
               std::to_string(reinterpret_cast<uintptr_t>(context)));
}

int32_t sendText(uint32_t endpoint, const std::string& text)
{
    std::vector<uint8_t> record(4 + text.size());
    const VxTransBuffer header{0, static_cast<uint16_t>(text.size())};
    std::memcpy(record.data(), &header, 4);
    std::memcpy(record.data() + 4, text.data(), text.size());
    return VxTransSend(endpoint, reinterpret_cast<const VxTransBuffer*>(record.data()), 0);
}

class VxTransFakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vxfake::Reset();
        std::lock_guard<std::mutex> lock(g_seen.mutex);
        g_seen.lines.clear();
    }
    uint32_t openUdp(void* context = reinterpret_cast<void*>(7))
    {
        const VxTransAddressPair pair = vxfake::Pair("127.0.0.5", 47545, "0.0.0.0", 0, VXTRANS_PROTOCOL_UDP);
        VxTransAddressPair unsetLocal = pair;
        unsetLocal.local = VxTransAddress{};
        uint32_t endpoint = 0;
        VxTransEndpointAddress local{};
        EXPECT_EQ(VxTransOpenConnection(42, &unsetLocal, 0, onReceive, onStateWithData, onState, &endpoint, &local,
                                        context),
                  VXTRANS_OK);
        return endpoint;
    }
};

TEST_F(VxTransFakeTest, RecordsOpensSendsAndClosesAndReportsLocalAddresses)
{
    const uint32_t endpoint = openUdp();
    ASSERT_NE(endpoint, 0u);
    EXPECT_EQ(vxfake::LastEndpoint(), endpoint);
    const vxfake::Endpoint record = vxfake::EndpointOf(endpoint);
    EXPECT_EQ(record.threadId, 42u);
    EXPECT_EQ(record.pair.peer.bytes[5], 5);
    EXPECT_EQ(record.context, reinterpret_cast<void*>(7));
    VxTransEndpointAddress local{};
    ASSERT_EQ(VxTransGetLocalAddress(endpoint, 1, &local), VXTRANS_OK);
    EXPECT_EQ(local.protocol, uint32_t{VXTRANS_PROTOCOL_UDP});
    EXPECT_EQ(local.address.bytes[0] * 256 + local.address.bytes[1], 40000) << "first port of the fake";
    uint16_t chunk = 0;
    VxTransGetMaxChunk(endpoint, &chunk, 0);
    EXPECT_EQ(chunk, 65507);

    EXPECT_EQ(sendText(endpoint, "abc"), VXTRANS_OK);
    const std::vector<vxfake::Sent> sends = vxfake::Sends();
    ASSERT_EQ(sends.size(), 1u);
    EXPECT_EQ(sends[0].endpoint, endpoint);
    EXPECT_EQ(std::string(sends[0].data.begin(), sends[0].data.end()), "abc");
    EXPECT_EQ(VxTransCloseEndpoint(endpoint), VXTRANS_OK);
    EXPECT_EQ(vxfake::Closes(), std::vector<uint32_t>{endpoint});
    EXPECT_TRUE(vxfake::EndpointOf(endpoint).closed);
    EXPECT_EQ(sendText(endpoint, "late"), VXTRANS_E_BAD_HANDLE);
}

TEST_F(VxTransFakeTest, ScriptedResultsComeInOrderThenNormalOutcomes)
{
    vxfake::ScriptResult(vxfake::Call::Open, VXTRANS_E_REFUSED);
    vxfake::ScriptResult(vxfake::Call::Send, VXTRANS_E_WOULD_BLOCK);
    vxfake::SetAvailable(VXTRANS_FAMILY_IPX, true);
    VxTransInfo ipx{VXTRANS_FAMILY_IPX, 0, 0};
    VxTransQueryTransport(1, &ipx);
    EXPECT_EQ(ipx.availability, 1u);

    const VxTransAddressPair pair = vxfake::Pair("127.0.0.5", 47545, "127.0.0.1", 0, VXTRANS_PROTOCOL_TCP);
    uint32_t endpoint = 0;
    VxTransEndpointAddress local{};
    EXPECT_EQ(VxTransOpenConnection(1, &pair, 0, onReceive, nullptr, onState, &endpoint, &local, nullptr),
              VXTRANS_E_REFUSED);
    EXPECT_TRUE(vxfake::Endpoints().empty());
    ASSERT_EQ(VxTransOpenConnection(1, &pair, 0, onReceive, nullptr, onState, &endpoint, &local, nullptr), VXTRANS_OK);

    EXPECT_EQ(sendText(endpoint, "first"), VXTRANS_E_WOULD_BLOCK);
    EXPECT_TRUE(vxfake::Sends().empty());
    EXPECT_TRUE(vxfake::Notify(endpoint, VXTRANS_NOTICE_WRITABLE));
    EXPECT_EQ(sendText(endpoint, "first"), VXTRANS_OK);
    EXPECT_TRUE(vxfake::NotifySent(endpoint));
    EXPECT_EQ(g_seen.all(), (std::vector<std::string>{std::to_string(endpoint) + " state 3 0",
                                                      std::to_string(endpoint) + " state 2 0"}));
}

TEST_F(VxTransFakeTest, InjectionsReachTheCallbacksAndStopAtClose)
{
    const uint32_t endpoint = openUdp();
    const VxTransAddressPair other = vxfake::Pair("127.0.0.9", 1234, "127.0.0.1", 40000, VXTRANS_PROTOCOL_UDP);
    EXPECT_TRUE(vxfake::Receive(endpoint, {'h', 'i'}));
    EXPECT_TRUE(vxfake::Receive(endpoint, other, {'y', 'o'}));
    EXPECT_TRUE(vxfake::ReceiveError(endpoint, VXTRANS_E_UNREACHABLE));
    EXPECT_TRUE(vxfake::Notify(endpoint, VXTRANS_E_ABORTED));
    VxTransCloseEndpoint(endpoint);
    EXPECT_FALSE(vxfake::Notify(endpoint, VXTRANS_NOTICE_CONNECTED));
    EXPECT_FALSE(vxfake::Receive(endpoint, {'x'}));
    const std::string e = std::to_string(endpoint);
    EXPECT_EQ(g_seen.all(), (std::vector<std::string>{e + " receive 0 from 5:47545 hi", e + " receive 0 from 9:1234 yo",
                                                      e + " receive " + std::to_string(VXTRANS_E_UNREACHABLE),
                                                      e + " state " + std::to_string(VXTRANS_E_ABORTED) + " 7"}));
}

TEST_F(VxTransFakeTest, ListenerWithoutPlainStateCallbackGetsNoticesWithData)
{
    VxTransEndpointAddress asked{};
    asked.address.family = VXTRANS_FAMILY_INET;
    asked.protocol = VXTRANS_PROTOCOL_UDP;
    uint32_t listener = 0;
    vxfake::ScriptResult(vxfake::Call::Listen, VXTRANS_E_IN_USE);
    EXPECT_EQ(VxTransOpenListener(1, &asked, onReceive, onStateWithData, nullptr, &listener, nullptr), VXTRANS_E_IN_USE);
    ASSERT_EQ(VxTransOpenListener(1, &asked, onReceive, onStateWithData, nullptr, &listener, nullptr), VXTRANS_OK);
    EXPECT_TRUE(vxfake::EndpointOf(listener).listener);
    EXPECT_TRUE(vxfake::Notify(listener, VXTRANS_NOTICE_CONNECTED));
    EXPECT_EQ(g_seen.all(), std::vector<std::string>{std::to_string(listener) + " data-state 0 0"});
}

TEST_F(VxTransFakeTest, AutoNoticesConfirmOpensAndSendsFromAnotherThreadInOrder)
{
    vxfake::SetAutoNotices(true);
    const uint32_t endpoint = openUdp();
    sendText(endpoint, "a");
    sendText(endpoint, "b");
    for (int i = 0; i < 1000 && g_seen.all().size() < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const std::string e = std::to_string(endpoint);
    EXPECT_EQ(g_seen.all(), (std::vector<std::string>{e + " state 0 7", e + " state 2 7", e + " state 2 7"}));
    EXPECT_TRUE(vxfake::WaitForSends(2, 1000));
    EXPECT_FALSE(vxfake::WaitForSends(3, 10));
}

// A close from another thread waits for the injected callback in progress.
TEST_F(VxTransFakeTest, CloseWaitsForTheCallbackInProgress)
{
    static std::atomic<bool> s_inCallback, s_closeReturned, s_overlap;
    s_inCallback = s_closeReturned = s_overlap = false;
    VxTransAddressPair pair = vxfake::Pair("127.0.0.5", 47545, "127.0.0.1", 0, VXTRANS_PROTOCOL_UDP);
    uint32_t endpoint = 0;
    VxTransEndpointAddress local{};
    ASSERT_EQ(VxTransOpenConnection(
                  1, &pair, 0, nullptr, nullptr,
                  [](uint32_t, int32_t, void*) {
                      s_inCallback = true;
                      std::this_thread::sleep_for(std::chrono::milliseconds(50));
                      s_overlap = s_closeReturned.load();
                  },
                  &endpoint, &local, nullptr),
              VXTRANS_OK);
    std::thread closer([&] {
        while (!s_inCallback)
            std::this_thread::yield();
        VxTransCloseEndpoint(endpoint);
        s_closeReturned = true;
    });
    vxfake::Notify(endpoint, VXTRANS_NOTICE_CONNECTED);
    closer.join();
    EXPECT_FALSE(s_overlap.load());
}

} // namespace

namespace {

uint32_t openFamily(uint16_t family, uint32_t protocol, VxTransEndpointAddress* local)
{
    VxTransAddressPair pair{};
    pair.peer.family = family;
    pair.peer.bytes[0] = 0x11;
    pair.protocol = protocol;
    uint32_t endpoint = 0;
    EXPECT_EQ(VxTransOpenConnection(1, &pair, VXTRANS_MODE_CONNECTION, onReceive, nullptr, onState, &endpoint, local,
                                    nullptr),
              VXTRANS_OK);
    return endpoint;
}

TEST_F(VxTransFakeTest, OtherFamiliesGetLocalAddressesAndChunksOfTheirOwn)
{
    for (uint16_t family : {VXTRANS_FAMILY_IPX, VXTRANS_FAMILY_9707, VXTRANS_FAMILY_9A21}) {
        VxTransInfo info{family, 0, 0};
        ASSERT_EQ(VxTransQueryTransport(1, &info), VXTRANS_OK);
        EXPECT_EQ(info.availability, 0u) << family << " only when made available";
        vxfake::SetAvailable(family, true);
        ASSERT_EQ(VxTransQueryTransport(1, &info), VXTRANS_OK);
        EXPECT_EQ(info.availability, 1u) << family;
    }

    VxTransEndpointAddress local{};
    uint16_t largest = 0;
    const uint32_t ipx = openFamily(VXTRANS_FAMILY_IPX, 1000, &local);
    EXPECT_EQ(local.address.family, VXTRANS_FAMILY_IPX);
    EXPECT_EQ(std::memcmp(local.address.bytes, vxfake::kIpxNetwork, 4), 0);
    EXPECT_EQ(std::memcmp(local.address.bytes + 4, vxfake::kIpxNode, 6), 0);
    EXPECT_EQ(local.address.bytes[10] * 256 + local.address.bytes[11], 40000) << "socket in network order";
    ASSERT_EQ(VxTransGetMaxChunk(ipx, &largest, 0), VXTRANS_OK);
    EXPECT_EQ(largest, vxfake::kMaxChunkIpx);

    const uint32_t spx = openFamily(VXTRANS_FAMILY_IPX, 1256, &local);
    EXPECT_EQ(local.address.bytes[10] * 256 + local.address.bytes[11], 40001);
    ASSERT_EQ(VxTransGetMaxChunk(spx, &largest, 0), VXTRANS_OK);
    EXPECT_EQ(largest, vxfake::kMaxChunkSpx);

    const uint32_t selector = openFamily(VXTRANS_FAMILY_9707, 270, &local);
    EXPECT_EQ(local.address.family, VXTRANS_FAMILY_9707);
    EXPECT_EQ(std::memcmp(local.address.bytes + 2, vxfake::kLocal9707, 16), 0);
    ASSERT_EQ(VxTransGetMaxChunk(selector, &largest, 0), VXTRANS_OK);
    EXPECT_EQ(largest, vxfake::kMaxChunk9707);
    VxTransEndpointAddress asked{};
    ASSERT_EQ(VxTransGetLocalAddress(selector, 1, &asked), VXTRANS_OK);
    EXPECT_EQ(std::memcmp(&asked, &local, sizeof asked), 0) << "the same address when asked again";

    openFamily(VXTRANS_FAMILY_9A21, 0xC601, &local);
    EXPECT_EQ(std::memcmp(local.address.bytes + 6, vxfake::kLocal9A21, 8), 0);

    // A local IPX address asked for keeps its node and gets a socket when it has none.
    VxTransAddressPair pair{};
    pair.peer.family = VXTRANS_FAMILY_IPX;
    pair.protocol = 1256;
    pair.local.family = VXTRANS_FAMILY_IPX;
    pair.local.bytes[4] = 0x77;
    uint32_t endpoint = 0;
    ASSERT_EQ(VxTransOpenConnection(1, &pair, VXTRANS_MODE_CONNECTION, onReceive, nullptr, onState, &endpoint, &local,
                                    nullptr),
              VXTRANS_OK);
    EXPECT_EQ(local.address.bytes[4], 0x77);
    EXPECT_NE(local.address.bytes[10] * 256 + local.address.bytes[11], 0);
}

TEST_F(VxTransFakeTest, AHeldSendWaitsForItsReleaseBeforeItIsRecorded)
{
    const VxTransAddressPair pair = vxfake::Pair("127.0.0.5", 47545, "0.0.0.0", 0, VXTRANS_PROTOCOL_UDP);
    uint32_t endpoint = 0;
    ASSERT_EQ(VxTransOpenConnection(1, &pair, VXTRANS_MODE_CONNECTION, onReceive, nullptr, onState, &endpoint, nullptr,
                                    nullptr),
              VXTRANS_OK);
    vxfake::HoldNextSend();
    std::atomic<int32_t> first{1};
    std::thread sender([&] { first = sendText(endpoint, "first"); });
    ASSERT_TRUE(vxfake::WaitForHeldSends(1, 10000));
    EXPECT_TRUE(vxfake::Sends().empty());
    EXPECT_EQ(sendText(endpoint, "second"), VXTRANS_OK) << "only the next send is held";
    vxfake::ReleaseHeldSend();
    sender.join();
    EXPECT_EQ(first.load(), VXTRANS_OK);
    ASSERT_EQ(vxfake::Sends().size(), 2u);
    EXPECT_EQ(vxfake::Sends()[1].data, std::vector<uint8_t>({'f', 'i', 'r', 's', 't'}));

    // A reset lets a held send go.
    vxfake::HoldNextSend();
    std::thread held([&] { sendText(endpoint, "third"); });
    ASSERT_TRUE(vxfake::WaitForHeldSends(2, 10000));
    vxfake::Reset();
    held.join();
    EXPECT_FALSE(vxfake::WaitForHeldSends(1, 0)) << "counted from the reset";
}

} // namespace
