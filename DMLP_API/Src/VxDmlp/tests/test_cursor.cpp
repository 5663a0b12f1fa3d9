// Readers and writers, the address form of every kind, the tagged eight-byte form, typed values.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DmlpCoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Cursor, IntegersAreBigEndianAndMoveTheCursor)
{
    Bytes out(7);
    DmlpCursor writer{out.data(), 7};
    DmlpWriteU8(&writer, 0xAB);
    DmlpWriteU16(&writer, 0x1234);
    DmlpWriteU32(&writer, 0xA1B2C3D4);
    EXPECT_EQ(writer.count, 0);
    EXPECT_EQ(out, (Bytes{0xAB, 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4}));
    DmlpCursor reader{out.data(), 7};
    EXPECT_EQ(DmlpReadU8(&reader), 0xAB);
    EXPECT_EQ(DmlpReadU16(&reader), 0x1234);
    EXPECT_EQ(DmlpReadU32(&reader), 0xA1B2C3D4u);
    EXPECT_EQ(reader.ptr, out.data() + 7);

    Bytes words{0x00, 0x01, 0xFF, 0xFE, 0x01, 0x02, 0x03, 0x04};
    DmlpCursor arrays{words.data(), 8};
    uint16_t u16[2];
    uint32_t u32[1];
    DmlpReadU16Array(&arrays, u16, 2);
    DmlpReadU32Array(&arrays, u32, 1);
    EXPECT_EQ(u16[0], 1);
    EXPECT_EQ(u16[1], 0xFFFE);
    EXPECT_EQ(u32[0], 0x01020304u);
    uint8_t copy[2];
    DmlpCursor bytes{words.data(), 8};
    EXPECT_EQ(DmlpReadBytes(&bytes, copy, 0), copy) << "n = 0 copies nothing";
    EXPECT_EQ(DmlpReadBytes(&bytes, copy, 2), copy + 2);
    DmlpSkip(&bytes, 3);
    EXPECT_EQ(bytes.count, 3);
}

struct AddressCase {
    const char* name;
    DmlpAddress address;
    Bytes wire;
};

DmlpAddress Kind(uint16_t kind)
{
    DmlpAddress address{};
    address.kind = kind;
    return address;
}

std::vector<AddressCase> EveryKind()
{
    std::vector<AddressCase> cases;
    DmlpAddress a = Kind(2);
    memcpy(a.u.inet.address, "\x7F\x00\x00\x01", 4);
    a.u.inet.port = 47545;
    cases.push_back({"udp", a, {0x00, 0x02, 0x06, 0x7F, 0x00, 0x00, 0x01, 0xB9, 0xB9}});
    a.kind = 1;
    cases.push_back({"tcp", a, {0x00, 0x01, 0x06, 0x7F, 0x00, 0x00, 0x01, 0xB9, 0xB9}});
    a.kind = 14;
    cases.push_back({"kind 14", a, {0x00, 0x0E, 0x06, 0x7F, 0x00, 0x00, 0x01, 0xB9, 0xB9}});
    for (uint16_t kind : {3, 4, 5}) {
        DmlpAddress ipx = Kind(kind);
        memcpy(ipx.u.ipx.node, "\x01\x02\x03\x04\x05\x06", 6);
        memcpy(ipx.u.ipx.network, "\x0A\x0B\x0C\x0D", 4);
        ipx.u.ipx.socket = 0x4000;
        cases.push_back({"ipx", ipx, {0x00, (uint8_t)kind, 0x0C, 1, 2, 3, 4, 5, 6, 0x0A, 0x0B, 0x0C, 0x0D, 0x40, 0x00}});
    }
    DmlpAddress six = Kind(6);
    six.u.family9707.selector = 0x77;
    Bytes sixWire{0x00, 0x06, 0x11, 0x77};
    for (uint8_t i = 0; i < 16; ++i) {
        six.u.family9707.address[i] = (uint8_t)(0xC0 + i);
        sixWire.push_back((uint8_t)(0xC0 + i));
    }
    cases.push_back({"kind 6", six, sixWire});
    DmlpAddress seven = Kind(7);
    seven.u.kind7 = {0x0102, 0x03, 0x04};
    cases.push_back({"kind 7", seven, {0x00, 0x07, 0x04, 0x01, 0x02, 0x03, 0x04}});
    DmlpAddress eight = Kind(8);
    Bytes eightWire{0x00, 0x08, 0x10};
    DmlpAddress nine = Kind(9);
    Bytes nineWire{0x00, 0x09, 0x12};
    for (uint8_t i = 0; i < 16; ++i) {
        eight.u.kind89.address[i] = nine.u.kind89.address[i] = i;
        eightWire.push_back(i);
        nineWire.push_back(i);
    }
    nine.u.kind89.tail = 0xABCD;
    nineWire.insert(nineWire.end(), {0xAB, 0xCD});
    cases.push_back({"kind 8", eight, eightWire});
    cases.push_back({"kind 9", nine, nineWire});
    for (uint16_t kind : {10, 12}) {
        DmlpAddress pair = Kind(kind);
        pair.u.pair64 = {0x11223344, 0x55667788};
        cases.push_back({"kinds 10 and 12", pair,
                         {0x00, (uint8_t)kind, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}});
    }
    DmlpAddress eleven = Kind(11);
    eleven.u.family9A21.first = 0x11223344;
    eleven.u.family9A21.address = 0x55667788;
    cases.push_back({"kind 11", eleven, {0x00, 0x0B, 0x08, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}});
    cases.push_back({"kind 13", Kind(13), {0x00, 0x0D, 0x00}});
    DmlpAddress fifteen = Kind(15);
    fifteen.u.kind15.lead = 1;
    fifteen.u.kind15.selector = 0x99;
    Bytes fifteenWire{0x00, 0x0F, 0x12, 0x01};
    for (uint8_t i = 0; i < 16; ++i) {
        fifteen.u.kind15.address[i] = (uint8_t)(0x20 + i);
        fifteenWire.push_back((uint8_t)(0x20 + i));
    }
    fifteenWire.push_back(0x99);
    cases.push_back({"kind 15", fifteen, fifteenWire});
    return cases;
}

TEST(AddressForm, EveryKindWritesAndReadsItsBytes)
{
    for (const AddressCase& c : EveryKind()) {
        SCOPED_TRACE(c.name);
        uint16_t size = 0;
        ASSERT_EQ(DmlpAddressWireSize(c.address.kind, &size), DMLP_CODER_OK);
        EXPECT_EQ(size, c.wire.size());
        Bytes out(size);
        DmlpCursor writer{out.data(), size};
        ASSERT_EQ(DmlpWriteAddress(&writer, &c.address), DMLP_CODER_OK);
        EXPECT_EQ(writer.count, 0);
        EXPECT_EQ(out, c.wire);

        Bytes wire = c.wire;
        DmlpCursor reader{wire.data(), (int32_t)wire.size()};
        EXPECT_EQ(DmlpCheckAddressLength(&reader), DMLP_CODER_OK);
        DmlpAddress read;
        memset(&read, 0xEE, sizeof read);
        ASSERT_EQ(DmlpReadAddress(&reader, &read), DMLP_CODER_OK);
        EXPECT_EQ(reader.count, 0);
        EXPECT_EQ(memcmp(&read, &c.address, sizeof read), 0) << "unused bytes are zero";

        int32_t left = (int32_t)wire.size() + 5;
        DmlpCursor skipper{wire.data(), left};
        ASSERT_EQ(DmlpSkipAddress(&skipper, &left), DMLP_CODER_OK);
        EXPECT_EQ(left, 5);
        EXPECT_EQ(skipper.ptr, wire.data() + wire.size());

        for (size_t prefix = 0; prefix < wire.size(); ++prefix) {
            DmlpCursor shortInput{wire.data(), (int32_t)prefix};
            EXPECT_EQ(DmlpCheckAddressLength(&shortInput), DMLP_CODER_TRUNCATED) << prefix;
            EXPECT_EQ(DmlpReadAddress(&shortInput, &read), DMLP_CODER_TRUNCATED) << prefix;
            int32_t shortLeft = (int32_t)prefix;
            EXPECT_EQ(DmlpSkipAddress(&shortInput, &shortLeft), DMLP_CODER_TRUNCATED) << prefix;
            EXPECT_EQ(shortInput.ptr, wire.data());
        }
    }
}

TEST(AddressForm, UnknownKindsAndWrongLengthBytes)
{
    uint16_t size = 7;
    EXPECT_EQ(DmlpAddressWireSize(0, &size), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(DmlpAddressWireSize(16, &size), DMLP_CODER_BAD_ARGUMENT);
    DmlpAddress unknown = Kind(16);
    Bytes out(32, 0xEE);
    DmlpCursor writer{out.data(), 32};
    EXPECT_EQ(DmlpWriteAddress(&writer, &unknown), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(out, Bytes(32, 0xEE));

    // Kinds 10 to 12 hold their uint32 fields widened to 64 bits: a value past 32 bits cannot be
    // sent and nothing of the form is written.
    for (uint16_t kind : {10, 11, 12}) {
        DmlpAddress wide = Kind(kind);
        wide.u.pair64.second = 0x100000000ull;
        DmlpCursor room{out.data(), 32};
        EXPECT_EQ(DmlpWriteAddress(&room, &wide), DMLP_CODER_BAD_ARGUMENT) << kind;
        EXPECT_EQ(room.ptr, out.data());
        EXPECT_EQ(out, Bytes(32, 0xEE));
    }
    DmlpAddress wideFirst = Kind(10);
    wideFirst.u.pair64.first = 0x1122334455ull;
    DmlpCursor room{out.data(), 32};
    EXPECT_EQ(DmlpWriteAddress(&room, &wideFirst), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(out, Bytes(32, 0xEE));

    Bytes kind16{0x00, 0x10, 0x00, 0, 0, 0, 0, 0, 0};
    DmlpCursor in{kind16.data(), (int32_t)kind16.size()};
    EXPECT_EQ(DmlpCheckAddressLength(&in), DMLP_CODER_BAD_ARGUMENT);
    int32_t left = in.count;
    EXPECT_EQ(DmlpSkipAddress(&in, &left), DMLP_CODER_BAD_ADDRESS_KIND);

    Bytes wrongLength{0x00, 0x02, 0x07, 0x7F, 0, 0, 1, 0, 80, 0};
    DmlpCursor lenient{wrongLength.data(), (int32_t)wrongLength.size()};
    left = lenient.count;
    EXPECT_EQ(DmlpSkipAddress(&lenient, &left), DMLP_CODER_TRUNCATED) << "a length byte must match the kind";
    DmlpAddress read;
    ASSERT_EQ(DmlpReadAddress(&lenient, &read), DMLP_CODER_OK) << "reading goes by the kind";
    EXPECT_EQ(read.u.inet.port, 80);
    EXPECT_EQ(lenient.count, 1);
}

TEST(TaggedOctets, TagsThreeAndFourAreIntegers)
{
    DmlpTaggedOctets words{};
    words.tag = 3;
    words.value.u16[0] = 0x0102;
    words.value.u16[3] = 0x0708;
    DmlpTaggedOctets longs{};
    longs.tag = 4;
    longs.value.u32[0] = 0x01020304;
    longs.value.u32[1] = 0x05060708;
    DmlpTaggedOctets raw{};
    raw.tag = 9;
    memcpy(raw.value.bytes, "ABCDEFGH", 8);
    const std::pair<DmlpTaggedOctets, Bytes> cases[] = {
        {words, {3, 0x01, 0x02, 0, 0, 0, 0, 0x07, 0x08}},
        {longs, {4, 1, 2, 3, 4, 5, 6, 7, 8}},
        {raw, {9, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}},
    };
    for (const auto& [octets, wire] : cases) {
        Bytes out(9);
        DmlpCursor writer{out.data(), 9};
        DmlpWriteTaggedOctets(&writer, &octets);
        EXPECT_EQ(out, wire);
        DmlpTaggedOctets read;
        memset(&read, 0xEE, sizeof read);
        DmlpCursor reader{out.data(), 9};
        ASSERT_EQ(DmlpReadTaggedOctets(&reader, &read), DMLP_CODER_OK);
        EXPECT_EQ(memcmp(&read, &octets, sizeof read), 0);
        DmlpCursor shortInput{out.data(), 8};
        EXPECT_EQ(DmlpReadTaggedOctets(&shortInput, &read), DMLP_CODER_TRUNCATED);
    }
}

TEST(TypedValue, OnlyTypesZeroToTwoAreWritten)
{
    uint8_t length = 9;
    EXPECT_EQ(DmlpTypedValueWireLength(0, &length), DMLP_CODER_OK);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(DmlpTypedValueWireLength(2, &length), DMLP_CODER_OK);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(DmlpTypedValueWireLength(3, &length), DMLP_CODER_BAD_ARGUMENT);

    uint32_t job = 0x00C0FFEE;
    DmlpTypedValue typed{1, 0, &job};
    Bytes out(6);
    DmlpCursor writer{out.data(), 6};
    ASSERT_EQ(DmlpWriteTypedValue(&writer, &typed), DMLP_CODER_OK);
    EXPECT_EQ(typed.length, 4) << "the length goes into the record";
    EXPECT_EQ(out, (Bytes{1, 4, 0x00, 0xC0, 0xFF, 0xEE}));
    DmlpTypedValue none{0, 7, nullptr};
    DmlpCursor second{out.data(), 2};
    ASSERT_EQ(DmlpWriteTypedValue(&second, &none), DMLP_CODER_OK);
    EXPECT_EQ(none.length, 0);
    DmlpTypedValue refused{3, 0, &job};
    EXPECT_EQ(DmlpWriteTypedValue(&second, &refused), DMLP_CODER_BAD_ARGUMENT);
}

TEST(TypedValue, ReadingMeasuresAndKeepsRawTypes)
{
    Bytes wire{1, 4, 0x00, 0xC0, 0xFF, 0xEE, 7, 3, 'x', 'y', 'z', 0, 0};
    DmlpCursor in{wire.data(), 6};
    uint16_t memory = 0;
    ASSERT_EQ(DmlpSizeTypedValue(&in, &memory), DMLP_CODER_OK);
    EXPECT_EQ(memory, 8);
    alignas(8) uint8_t block[16] = {};
    DmlpTypedValue typed{};
    EXPECT_EQ(DmlpReadTypedValue(&in, &typed, block), block + 8);
    EXPECT_EQ(typed.value, block);
    EXPECT_EQ(*(uint32_t*)block, 0x00C0FFEEu);

    DmlpCursor raw{wire.data() + 6, 5};
    ASSERT_EQ(DmlpSizeTypedValue(&raw, &memory), DMLP_CODER_OK);
    EXPECT_EQ(memory, 8);
    EXPECT_EQ(DmlpReadTypedValue(&raw, &typed, block), block + 8);
    EXPECT_EQ(typed.length, 3);
    EXPECT_EQ(memcmp(block, "xyz", 3), 0);
    EXPECT_EQ(raw.count, 0);

    DmlpCursor shortRaw{wire.data() + 6, 4};
    EXPECT_EQ(DmlpSizeTypedValue(&shortRaw, &memory), DMLP_CODER_TRUNCATED);
    wire[1] = 5;
    DmlpCursor badLength{wire.data(), 7};
    EXPECT_EQ(DmlpSizeTypedValue(&badLength, &memory), DMLP_CODER_TRUNCATED);
    Bytes zero{0, 0};
    DmlpCursor empty{zero.data(), 2};
    ASSERT_EQ(DmlpSizeTypedValue(&empty, &memory), DMLP_CODER_OK);
    EXPECT_EQ(memory, 0);
    EXPECT_EQ(DmlpReadTypedValue(&empty, &typed, block), block);
    EXPECT_EQ(typed.value, nullptr);
}

} // namespace
