// Byte layout of the records the protocol library hands to the transport.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

#include "VxRouting.h"
#include "VxTrans.h"

namespace {

TEST(VxTransRecords, PairCarriesPeerProtocolAndLocalAtTheirOffsets)
{
    VxTransAddressPair pair{};
    pair.peer.family = VXTRANS_FAMILY_INET;
    const uint16_t port = htons(47545);
    const uint32_t peerAddress = htonl(0x7F000005);
    std::memcpy(pair.peer.bytes, &port, 2);
    std::memcpy(pair.peer.bytes + 2, &peerAddress, 4);
    pair.protocol = VXTRANS_PROTOCOL_UDP;
    pair.local.family = VXTRANS_FAMILY_INET;

    uint8_t bytes[72];
    std::memcpy(bytes, &pair, sizeof bytes);
    const uint8_t peer[] = {0x02, 0x00, 0xB9, 0xB9, 127, 0, 0, 5};
    EXPECT_EQ(std::memcmp(bytes, peer, sizeof peer), 0);
    EXPECT_EQ(bytes[32], 17);
    EXPECT_EQ(bytes[40], 2);
}

TEST(VxTransRecords, BufferDataStartsFourBytesPastTheOffset)
{
    alignas(4) uint8_t record[16] = {2, 0, 3, 0, 0xEE, 0xEE, 'a', 'b', 'c'};
    auto* buffer = reinterpret_cast<VxTransBuffer*>(record);
    EXPECT_EQ(buffer->length, 3);
    EXPECT_EQ(std::memcmp(VxTransBufferData(buffer), "abc", 3), 0);
}

TEST(VxTransRecords, FailureLowWordsAreTheOnesTheCallerTests)
{
    EXPECT_EQ(VXTRANS_LOW_WORD(VXTRANS_E_BAD_ADDRESS), 6);
    EXPECT_EQ(VXTRANS_LOW_WORD(VXTRANS_E_WOULD_BLOCK), 11);
    EXPECT_EQ(VXTRANS_LOW_WORD(VXTRANS_E_REFUSED), 12);
    EXPECT_EQ(VXTRANS_LOW_WORD(VXTRANS_E_ABORTED), 13);
    EXPECT_EQ(static_cast<uint32_t>(VXTRANS_E_IN_USE), 0xC0208002u);
    for (int32_t other : {VXTRANS_E_RESET, VXTRANS_E_CLOSED, VXTRANS_E_TIMED_OUT, VXTRANS_E_UNREACHABLE})
        EXPECT_TRUE(VXTRANS_LOW_WORD(other) != 12 && VXTRANS_LOW_WORD(other) != 13 && other < 0);
}

} // namespace
