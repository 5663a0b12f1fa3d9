// Bindings over the address families other than IPv4, which the scriptable transport offers when
// asked to: IPX datagrams (kind 3) and SPX connections (kind 4) of family 6, and the two address
// kinds 6 and 15 of family 0x9707. What goes to the transport is checked byte by byte.
#include <string.h>

#include "EngineTesting.h"

namespace enginetest {
namespace {

const uint8_t kNode[6] = {0x00, 0x1B, 0x44, 0x11, 0x3A, 0xB7};
const uint8_t kNetwork[4] = {0x00, 0x00, 0x0B, 0x02};
const uint8_t kDevice9707[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};

DmlpAddress Ipx(uint16_t kind, uint16_t socket)
{
    DmlpAddress address = {};
    address.kind = kind;
    memcpy(address.u.ipx.node, kNode, 6);
    memcpy(address.u.ipx.network, kNetwork, 4);
    address.u.ipx.socket = socket;
    return address;
}

DmlpAddress Kind6(uint8_t selector)
{
    DmlpAddress address = {};
    address.kind = DMLP_ADDRESS_9707;
    address.u.family9707.selector = selector;
    memcpy(address.u.family9707.address, kDevice9707, 16);
    return address;
}

DmlpAddress Kind15(uint8_t selector)
{
    DmlpAddress address = {};
    address.kind = DMLP_ADDRESS_9707_SELECTOR;
    address.u.kind15.lead = 1;
    memcpy(address.u.kind15.address, kDevice9707, 16);
    address.u.kind15.selector = selector;
    return address;
}

Bytes AddressBytes(const VxTransAddress& address)
{
    const uint8_t* bytes = (const uint8_t*)&address;
    return Bytes(bytes, bytes + sizeof address);
}

class Families : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        RestartWith({VXTRANS_FAMILY_IPX, VXTRANS_FAMILY_9707});
    }
    DmlpBinding BindTo(const DmlpAddress& peer, uint8_t transmissions = 2, const DmlpAddress* local = nullptr)
    {
        const DmlpEPProperty property = Property(5000, transmissions);
        DmlpBinding binding = nullptr;
        EXPECT_EQ(DMLP_Bind(instance, &peer, local, &property, &binding), DMLP_SUCCESS);
        return binding;
    }
    // An Echo carrying length bytes, answered; gives the frames it went out in.
    std::vector<Bytes> EchoAnswered(DmlpBinding binding, uint16_t length)
    {
        const size_t before = vxfake::Sends().size();
        std::vector<uint8_t> data(length, 0x3C);
        DmlpEchoParams echo = {data.data(), length};
        uint8_t result[48];
        auto call = InThread([&] { return DMLP_Echo(DMLP_MODE_SYNC, nullptr, binding, kObject, &echo, result); });
        std::vector<Bytes> pieces;
        size_t carried = 0, frameLength = 20;
        while (carried < frameLength && vxfake::WaitForSends(before + pieces.size() + 1, kWaitMs)) {
            pieces.push_back(vxfake::Sends().at(before + pieces.size()).data);
            carried += pieces.back().size();
            frameLength = 20 + Field16(pieces[0], 8);
        }
        Bytes frame;
        for (const Bytes& piece : pieces)
            frame.insert(frame.end(), piece.begin(), piece.end());
        vxfake::Receive(vxfake::Sends().at(before).endpoint, ReplyTo(frame, 1, Wire().u16(0)));
        EXPECT_EQ(Await(call), DMLP_SUCCESS);
        DmlpEchoResult* echoed = (DmlpEchoResult*)result;
        if (echoed->buffer.data != nullptr) {
            EXPECT_EQ(DMLP_FreeMemory(&echoed->buffer), DMLP_SUCCESS);
        }
        return pieces;
    }
};

TEST_F(Families, AnIpxBindingIsADatagramBindingOfFamilySix)
{
    DmlpBinding binding = BindTo(Ipx(DMLP_ADDRESS_IPX, 0x4567), 2);
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.mode, (uint32_t)VXTRANS_MODE_CONNECTION);
    EXPECT_EQ(endpoint.pair.protocol, 1000u);
    EXPECT_EQ(AddressBytes(endpoint.pair.peer),
              (Wire().u8(6).u8(0).u8(0x00).u8(0x00).u8(0x0B).u8(0x02).u8(0x00).u8(0x1B).u8(0x44).u8(0x11).u8(0x3A)
                   .u8(0xB7).u16(0x4567).fill(18, 0).bytes))
        << "family, network, node, socket in network order";

    DmlpAddress local = {};
    ASSERT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_LOCAL, &local), DMLP_SUCCESS);
    EXPECT_EQ(local.kind, DMLP_ADDRESS_IPX);
    EXPECT_EQ(memcmp(local.u.ipx.network, vxfake::kIpxNetwork, 4), 0);
    EXPECT_EQ(memcmp(local.u.ipx.node, vxfake::kIpxNode, 6), 0);
    EXPECT_EQ(local.u.ipx.socket, 40000) << "the transport's socket, in host order";
    DmlpEPProperty property = {};
    ASSERT_EQ(DMLP_GetEPProperty(binding, &property), DMLP_SUCCESS);
    EXPECT_EQ(property.transmissions, 2) << "a datagram kind keeps its transmissions";
    EXPECT_EQ(DMLP_ResizeWindow(binding, 4), DMLP_SUCCESS) << "a datagram kind has a window";

    // A frame longer than the transport's largest IPX chunk goes in pieces of that size.
    const std::vector<Bytes> pieces = EchoAnswered(binding, 1000);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), vxfake::kMaxChunkIpx);
    EXPECT_EQ(pieces[1].size(), 20u + Field16(pieces[0], 8) - vxfake::kMaxChunkIpx);
}

TEST_F(Families, AnSpxBindingIsAConnectionWithTheTransportsChunks)
{
    const DmlpAddress local = Ipx(DMLP_ADDRESS_SPX, 0);
    DmlpBinding binding = BindTo(Ipx(DMLP_ADDRESS_SPX, 0x8060), 3, &local);
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.pair.protocol, 1256u);
    EXPECT_EQ(endpoint.pair.peer.family, VXTRANS_FAMILY_IPX);
    EXPECT_EQ(endpoint.pair.local.family, VXTRANS_FAMILY_IPX) << "the local address asked for";
    EXPECT_EQ(Field16(AddressBytes(endpoint.pair.peer), 12), 0x8060) << "the socket in network order";

    DmlpAddress own = {};
    ASSERT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_LOCAL, &own), DMLP_SUCCESS);
    EXPECT_EQ(own.kind, DMLP_ADDRESS_SPX);
    EXPECT_EQ(memcmp(own.u.ipx.node, kNode, 6), 0);
    EXPECT_NE(own.u.ipx.socket, 0) << "the socket the transport chose";
    DmlpEPProperty property = {};
    ASSERT_EQ(DMLP_GetEPProperty(binding, &property), DMLP_SUCCESS);
    EXPECT_EQ(property.transmissions, 1) << "a connection sends once";
    EXPECT_EQ(DMLP_ResizeWindow(binding, 4), DMLP_UNKNOWN_BINDING) << "connections have no window";

    const std::vector<Bytes> pieces = EchoAnswered(binding, 1000);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), vxfake::kMaxChunkSpx);

    // Asynchronous without a callback function on a connection: no reply wanted.
    DmlpDeleteParams cancel = {};
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, nullptr, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    EXPECT_EQ(SentAt(2)[3], 0);
}

TEST_F(Families, KindSixPassesItsTransportOptionAndReadsBackItsLocalAddress)
{
    DmlpBinding binding = BindTo(Kind6(0x42), 4);
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.pair.protocol, 270u);
    Bytes peer = Wire().u8(0x07).u8(0x97).u8(0x42).u8(0).bytes;
    peer.insert(peer.end(), kDevice9707, kDevice9707 + 16);
    peer.resize(32, 0);
    EXPECT_EQ(AddressBytes(endpoint.pair.peer), peer) << "family (host order), selector, address";

    DmlpAddress local = {};
    ASSERT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_LOCAL, &local), DMLP_SUCCESS);
    EXPECT_EQ(local.kind, DMLP_ADDRESS_9707);
    EXPECT_EQ(memcmp(local.u.family9707.address, vxfake::kLocal9707, 16), 0);
    EXPECT_EQ(local.u.family9707.selector, endpoint.pair.local.bytes[0]);
    DmlpAddress back = {};
    const DmlpAddress asked = Kind6(0x42);
    ASSERT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_PEER, &back), DMLP_SUCCESS);
    EXPECT_EQ(memcmp(&back, &asked, sizeof back), 0);

    DmlpEPProperty property = {};
    ASSERT_EQ(DMLP_GetEPProperty(binding, &property), DMLP_SUCCESS);
    EXPECT_EQ(property.transmissions, 1);
    property.transportOption = 0x5150;
    ASSERT_EQ(DMLP_SetEPProperty(binding, &property), DMLP_SUCCESS);
    EXPECT_EQ(vxfake::Endpoints().at(0).lastOption, 0x5150u) << "kind 6 hands its option to the transport";

    const std::vector<Bytes> pieces = EchoAnswered(binding, 5000);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].size(), vxfake::kMaxChunk9707);
}

TEST_F(Families, KindFifteenCarriesItsSelectorInTheTransportForm)
{
    DmlpBinding binding = BindTo(Kind15(0x37));
    const vxfake::Endpoint endpoint = vxfake::Endpoints().at(0);
    EXPECT_EQ(endpoint.pair.protocol, 270u);
    EXPECT_EQ(endpoint.pair.peer.family, VXTRANS_FAMILY_9707);
    EXPECT_EQ(endpoint.pair.peer.bytes[0], 0x37) << "the selector from +25";
    EXPECT_EQ(memcmp(endpoint.pair.peer.bytes + 2, kDevice9707, 16), 0);

    DmlpAddress local = {};
    ASSERT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_LOCAL, &local), DMLP_SUCCESS);
    EXPECT_EQ(local.kind, DMLP_ADDRESS_9707_SELECTOR) << "converted back as the binding's own kind";
    EXPECT_EQ(local.u.kind15.lead, 1);
    EXPECT_EQ(local.u.kind15.selector, endpoint.pair.local.bytes[0]);
    EXPECT_EQ(memcmp(local.u.kind15.address, vxfake::kLocal9707, 16), 0);

    DmlpEPProperty property = Property(5000, 1);
    property.transportOption = 0x5150;
    ASSERT_EQ(DMLP_SetEPProperty(binding, &property), DMLP_SUCCESS);
    EXPECT_EQ(vxfake::Endpoints().at(0).lastOption, 0u) << "only kind 6 passes its option on";
    EchoAnswered(binding, 16);
}

} // namespace
} // namespace enginetest
