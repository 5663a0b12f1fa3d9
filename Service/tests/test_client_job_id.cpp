#include <gtest/gtest.h>

#include <cstring>

#include "ClientJobId.h"

namespace {

ClJobID sampleId()
{
    ClJobID id;
    memset(&id, 0, sizeof id);
    id.Data1 = 0x12345678;
    id.Data2 = 0x9ABC;
    id.Data3 = 0xDEF0;
    memcpy(id.Data4, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    memcpy(id.JobText, "08153045document", 16);
    return id;
}

TEST(ClientJobId, LayoutMatchesTheWireRecord)
{
    // Attribute 280 carries Data1..Data3 big-endian; in memory they are host order at 0, 4, 6.
    const BYTE wire[16] = {0x00, 0x00, 0x00, 0x2A, 0x12, 0x34, 0xAB, 0xCD, 1, 2, 3, 4, 5, 6, 7, 8};
    ClJobID id;
    memset(&id, 0, sizeof id);
    id.Data1 = (DWORD(wire[0]) << 24) | (DWORD(wire[1]) << 16) | (DWORD(wire[2]) << 8) | wire[3];
    id.Data2 = WORD((wire[4] << 8) | wire[5]);
    id.Data3 = WORD((wire[6] << 8) | wire[7]);
    memcpy(id.Data4, wire + 8, 8);
    EXPECT_EQ(id.Data1, 42u);
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&id);
    EXPECT_EQ(bytes[0], 0x2A); // little-endian host order in memory
    EXPECT_EQ(bytes[4], 0x34);
    EXPECT_EQ(bytes[5], 0x12);
    EXPECT_EQ(bytes[8], 1);
}

TEST(ClientJobId, IdenticalComparesAllSixtyFourBytes)
{
    clClientJobId ids;
    ClJobID a = sampleId();
    ClJobID b = sampleId();
    EXPECT_EQ(ids.Identical(&a, &b), 1);

    b.JobText[47] = 'x'; // after the first terminator, still part of the id
    EXPECT_EQ(ids.Identical(&a, &b), 0);
    b = sampleId();
    b.Data4[7] ^= 1;
    EXPECT_EQ(ids.Identical(&a, &b), 0);
    b = sampleId();
    b.Data3 ^= 1;
    EXPECT_EQ(ids.Identical(&a, &b), 0);

    ClJobID zero;
    memset(&zero, 0, sizeof zero);
    ClJobID zeroToo = zero;
    EXPECT_EQ(ids.Identical(&zero, &zeroToo), 1) << "Data1 0 is still a valid key";
}

TEST(ClientJobId, MissingRecordsChangeNothingAndAreNeverIdentical)
{
    clClientJobId ids;
    ClJobID a = sampleId();
    ClJobID untouched = sampleId();
    EXPECT_EQ(ids.Identical(&a, nullptr), 0);
    EXPECT_EQ(ids.Identical(nullptr, &a), 0);
    EXPECT_EQ(ids.Identical(nullptr, nullptr), 0);
    ids.Copy(&a, nullptr);
    ids.Copy(nullptr, &a);
    ids.Register(&a, nullptr);
    ids.Register(nullptr, &a);
    EXPECT_EQ(memcmp(&a, &untouched, sizeof a), 0);
}

TEST(ClientJobId, CopyAndRegisterMoveEveryByteInTheirDirection)
{
    clClientJobId ids;
    ClJobID source = sampleId();
    source.JobText[40] = 'z';
    ClJobID destination;
    memset(&destination, 0xEE, sizeof destination);
    ids.Copy(&source, &destination);
    EXPECT_EQ(memcmp(&source, &destination, sizeof source), 0);

    ClJobID registered;
    memset(&registered, 0, sizeof registered);
    ids.Register(&registered, &source);
    EXPECT_EQ(memcmp(&source, &registered, sizeof source), 0);
}

} // namespace
