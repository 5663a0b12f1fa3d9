// The wire header, header fields, message entry points and the reply-body rule.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "DmlpCoder.h"
#include "VxSrvc.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Coder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(DmlpCoderInitialize()); }
};

DmlpHeader Request(uint16_t method)
{
    DmlpHeader header{};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.method = method;
    header.requestId = 0x1234;
    header.bodyLength = 4;
    header.objectRef0 = 0x01020304;
    header.objectRef1 = 0xA0B0C0D0;
    return header;
}

Bytes Encode(const DmlpHeader& header)
{
    Bytes out(DMLP_HEADER_LENGTH, 0xEE);
    DmlpCursor cursor{out.data(), (int32_t)out.size()};
    EXPECT_EQ(DmlpEncodeHeader(&header, &cursor), DMLP_CODER_OK);
    return out;
}

// Headers of method 31, request id 0x1234, body length 4, object words 0x01020304 and
// 0xA0B0C0D0, by flags and the value of the status slot: whole wire forms written out.
struct HeaderGolden {
    const char* name;
    uint8_t flags;
    uint16_t slot;
    Bytes wire;
    uint16_t decodedSlot;   // the slot as it reads back
};

const HeaderGolden kHeaderGoldens[] = {
    {"request", 0x00, 0x0000,
     {0xCD, 0xCA, 0x10, 0x00, 0x00, 0x1F, 0x12, 0x34, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x00,
      0x00},
     0x0000},
    {"no flags: the slot is not sent", 0x00, 0x005A,
     {0xCD, 0xCA, 0x10, 0x00, 0x00, 0x1F, 0x12, 0x34, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x00,
      0x00},
     0x0000},
    {"status", 0x01, 0x8006,
     {0xCD, 0xCA, 0x10, 0x01, 0x00, 0x1F, 0x12, 0x34, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x80,
      0x06},
     0x8006},
    {"auxiliary byte", 0x08, 0x005A,
     {0xCD, 0xCA, 0x10, 0x08, 0x00, 0x1F, 0x12, 0x34, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x5A,
      0x00},
     0x005A},
    {"status wins over the auxiliary byte", 0x09, 0x0021,
     {0xCD, 0xCA, 0x10, 0x09, 0x00, 0x1F, 0x12, 0x34, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x00,
      0x21},
     0x0021},
    {"more parts and a reply wanted", 0x06, 0x0000,
     {0xCD, 0xCA, 0x10, 0x06, 0x00, 0x1F, 0x12, 0x34, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x00,
      0x00},
     0x0000},
};

TEST_F(Coder, HeadersByFlagsEncodeAndDecodeAsWrittenOut)
{
    for (const HeaderGolden& golden : kHeaderGoldens) {
        SCOPED_TRACE(golden.name);
        DmlpHeader header = Request(31);
        header.flags = golden.flags;
        header.status = golden.slot;
        EXPECT_EQ(Encode(header), golden.wire);

        Bytes wire = golden.wire;
        DmlpCursor in{wire.data(), (int32_t)wire.size()};
        DmlpHeader decoded;
        memset(&decoded, 0xEE, sizeof decoded);
        ASSERT_EQ(DmlpDecodeHeader(&decoded, &in), DMLP_CODER_OK);
        EXPECT_EQ(decoded.magic, 0xCDCA);
        EXPECT_EQ(decoded.version, 0x10);
        EXPECT_EQ(decoded.flags, golden.flags);
        EXPECT_EQ(decoded.method, 31);
        EXPECT_EQ(decoded.requestId, 0x1234);
        EXPECT_EQ(decoded.bodyLength, 4);
        EXPECT_EQ(decoded.objectRef0, 0x01020304u);
        EXPECT_EQ(decoded.objectRef1, 0xA0B0C0D0u);
        EXPECT_EQ(decoded.status, golden.decodedSlot);
        EXPECT_EQ(Encode(decoded), golden.wire) << "decoded and encoded again";
    }
}

TEST_F(Coder, DecodedHeaderKeepsTheAuxiliaryByteInTheLowByteOfTheStatusSlot)
{
    Bytes bytes{0xCD, 0xCA, 0x10, 0x08, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x7B, 0x00};
    DmlpHeader header{};
    DmlpCursor in{bytes.data(), (int32_t)bytes.size()};
    ASSERT_EQ(DmlpDecodeHeader(&header, &in), DMLP_CODER_OK);
    EXPECT_EQ(in.ptr, bytes.data()) << "the caller's cursor does not move";
    EXPECT_EQ(header.method, 10);
    EXPECT_EQ(header.status, 0x7B);
    uint32_t value = 0;
    ASSERT_EQ(DmlpGetHeaderField(DMLP_FIELD_AUX, &header, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x7Bu);
    ASSERT_EQ(DmlpPeekHeaderField(DMLP_FIELD_STATUS, &in, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x7Bu) << "get and peek read the slot the same way";
    ASSERT_EQ(DmlpGetHeaderField(DMLP_FIELD_STATUS, &header, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x7Bu);
    EXPECT_EQ(Encode(header), bytes);

    bytes[3] = DMLP_FLAG_STATUS;
    ASSERT_EQ(DmlpDecodeHeader(&header, &in), DMLP_CODER_OK);
    EXPECT_EQ(header.status, 0x7B00);
    ASSERT_EQ(DmlpPeekHeaderField(DMLP_FIELD_STATUS, &in, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x7B00u);
}

TEST_F(Coder, FieldsByIndexInMemory)
{
    DmlpHeader header = Request(5);
    const uint32_t expected[] = {0xCDCA, 0x10, 0, 5, 0x1234, 4, 0x01020304, 0xA0B0C0D0, 0, 0};
    for (uint32_t index = 0; index < 10; ++index) {
        uint32_t value = 0xFFFFFFFF;
        ASSERT_EQ(DmlpGetHeaderField(index, &header, &value), DMLP_CODER_OK) << index;
        EXPECT_EQ(value, expected[index]) << index;
    }
    uint32_t value = 0x1234;
    ASSERT_EQ(DmlpSetHeaderField(DMLP_FIELD_STATUS, &header, &value), DMLP_CODER_OK);
    value = 0x56;
    ASSERT_EQ(DmlpSetHeaderField(DMLP_FIELD_AUX, &header, &value), DMLP_CODER_OK);
    EXPECT_EQ(header.status, 0x56) << "setting the auxiliary byte clears the second byte of the slot";
    value = 0x1FF;
    EXPECT_EQ(DmlpSetHeaderField(DMLP_FIELD_FLAGS, &header, &value), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpSetHeaderField(10, &header, &value), DMLP_CODER_BAD_FIELD_INDEX);
    EXPECT_EQ(DmlpGetHeaderField(10, &header, &value), DMLP_CODER_BAD_FIELD_INDEX);
    EXPECT_EQ(DmlpGetHeaderField(2, nullptr, &value), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpGetHeaderField(2, &header, nullptr), DMLP_CODER_BAD_ARGUMENT);
    header.version = 0x11;
    EXPECT_EQ(DmlpGetHeaderField(DMLP_FIELD_FLAGS, &header, &value), DMLP_CODER_UNKNOWN_VERSION);
    EXPECT_EQ(DmlpGetHeaderField(DMLP_FIELD_VERSION, &header, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x11u);
}

TEST_F(Coder, PeekAndPatchEncodedFieldsInPlace)
{
    Bytes bytes = Encode(Request(31));
    bytes[18] = 0x99;
    DmlpCursor message{bytes.data(), (int32_t)bytes.size()};
    uint32_t value = 0;
    ASSERT_EQ(DmlpPeekHeaderField(DMLP_FIELD_AUX, &message, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x99u);
    ASSERT_EQ(DmlpPeekHeaderField(DMLP_FIELD_OBJECT_REF1, &message, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0xA0B0C0D0u);
    ASSERT_EQ(DmlpPeekHeaderField(DMLP_FIELD_MAGIC, &message, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0xCDCAu);

    const Bytes before = bytes;
    value = 0xBEEF;
    ASSERT_EQ(DmlpPatchHeaderField(DMLP_FIELD_REQUEST_ID, &message, &value), DMLP_CODER_OK);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 6 || i == 7)
            continue;
        EXPECT_EQ(bytes[i], before[i]) << i;
    }
    EXPECT_EQ(bytes[6], 0xBE);
    EXPECT_EQ(bytes[7], 0xEF);

    value = DMLP_FLAG_STATUS | DMLP_FLAG_MORE;
    ASSERT_EQ(DmlpPatchHeaderField(DMLP_FIELD_FLAGS, &message, &value), DMLP_CODER_OK);
    value = 0x1D;
    ASSERT_EQ(DmlpPatchHeaderField(DMLP_FIELD_STATUS, &message, &value), DMLP_CODER_OK);
    EXPECT_EQ(bytes[3], 0x03);
    EXPECT_EQ(bytes[18], 0x00);
    EXPECT_EQ(bytes[19], 0x1D);
    value = 0x10000;
    EXPECT_EQ(DmlpPatchHeaderField(DMLP_FIELD_BODY_LENGTH, &message, &value), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpPatchHeaderField(10, &message, &value), DMLP_CODER_BAD_FIELD_INDEX);
    EXPECT_EQ(DmlpPeekHeaderField(10, &message, &value), DMLP_CODER_BAD_FIELD_INDEX);
}

TEST_F(Coder, PeekAndPatchCheckTheLengthBeforeReading)
{
    Bytes bytes = Encode(Request(31));
    uint32_t value = 7;
    for (int32_t count : {0, 1, 2}) {
        DmlpCursor shortInput{bytes.data(), count};
        EXPECT_EQ(DmlpPeekHeaderField(DMLP_FIELD_MAGIC, &shortInput, &value), DMLP_CODER_NOT_A_MESSAGE) << count;
        EXPECT_EQ(DmlpPatchHeaderField(DMLP_FIELD_VERSION, &shortInput, &value), DMLP_CODER_NOT_A_MESSAGE) << count;
        EXPECT_EQ(DmlpDecodeHeader(&*std::make_unique<DmlpHeader>(), &shortInput), DMLP_CODER_NOT_A_MESSAGE);
    }
    DmlpCursor upToRequestId{bytes.data(), 7};
    EXPECT_EQ(DmlpPeekHeaderField(DMLP_FIELD_REQUEST_ID, &upToRequestId, &value), DMLP_CODER_NOT_A_MESSAGE);
    EXPECT_EQ(DmlpPatchHeaderField(DMLP_FIELD_REQUEST_ID, &upToRequestId, &value), DMLP_CODER_NOT_A_MESSAGE);
    DmlpCursor withRequestId{bytes.data(), 8};
    EXPECT_EQ(DmlpPeekHeaderField(DMLP_FIELD_REQUEST_ID, &withRequestId, &value), DMLP_CODER_OK);
    EXPECT_EQ(value, 0x1234u);
    DmlpCursor noStatus{bytes.data(), 19};
    EXPECT_EQ(DmlpPeekHeaderField(DMLP_FIELD_STATUS, &noStatus, &value), DMLP_CODER_NOT_A_MESSAGE);
    DmlpHeader header{};
    EXPECT_EQ(DmlpDecodeHeader(&header, &noStatus), DMLP_CODER_NOT_A_MESSAGE);
    bytes[2] = 0x11;
    DmlpCursor otherVersion{bytes.data(), (int32_t)bytes.size()};
    EXPECT_EQ(DmlpPeekHeaderField(DMLP_FIELD_FLAGS, &otherVersion, &value), DMLP_CODER_UNKNOWN_VERSION);
    EXPECT_EQ(DmlpDecodeHeader(&header, &otherVersion), DMLP_CODER_UNKNOWN_VERSION);
}

TEST_F(Coder, EncodeHeaderRefusals)
{
    DmlpHeader header = Request(31);
    uint8_t small[19];
    DmlpCursor out{small, (int32_t)sizeof small};
    EXPECT_EQ(DmlpEncodeHeader(&header, &out), DMLP_CODER_BUFFER_TOO_SMALL);
    DmlpCursor none{nullptr, 20};
    EXPECT_EQ(DmlpEncodeHeader(&header, &none), DMLP_CODER_BAD_ARGUMENT);
    header.version = 0x11;
    uint8_t room[20];
    DmlpCursor enough{room, 20};
    EXPECT_EQ(DmlpEncodeHeader(&header, &enough), DMLP_CODER_UNKNOWN_VERSION);
}

TEST_F(Coder, BeginEncodeAllocatesExactlyOrRefusesASmallBuffer)
{
    DmlpHeader header = Request(31);
    header.bodyLength = 0;
    Bytes small(23, 0xEE);
    DmlpCursor out{small.data(), (int32_t)small.size()};
    DmlpCursor body{};
    EXPECT_EQ(DmlpBeginEncode(&header, 4, &out, &body), DMLP_CODER_BUFFER_TOO_SMALL);
    EXPECT_EQ(small, Bytes(23, 0xEE)) << "nothing is written";

    const int64_t live = VxSrvcTestLiveBlocks();
    DmlpCursor allocated{nullptr, 0};
    ASSERT_EQ(DmlpBeginEncode(&header, 4, &allocated, &body), DMLP_CODER_OK);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), live + 1);
    EXPECT_EQ(allocated.count, 24);
    EXPECT_EQ(header.bodyLength, 4);
    EXPECT_EQ(body.ptr, allocated.ptr + 20);
    EXPECT_EQ(body.count, 4);
    EXPECT_EQ(allocated.ptr[9], 4) << "the header went out with its body length";
    DmlpWriteU32(&body, 0xCAFEF00D);
    EXPECT_EQ(body.count, 0);
    DmlpFree(allocated.ptr);

    DmlpCursor none{nullptr, 0};
    EXPECT_EQ(DmlpBeginEncode(&header, DMLP_SIZE_MAX + 1, &none, &body), DMLP_CODER_BAD_ARGUMENT);
    VxSrvcTestFailAllocation(1);
    EXPECT_EQ(DmlpBeginEncode(&header, 4, &none, &body), DMLP_CODER_NO_MEMORY);
    EXPECT_EQ(none.ptr, nullptr);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), live);
}

TEST_F(Coder, EncodeMessageNeedsArgumentsAndAnEncoder)
{
    DmlpHeader header = Request(31);
    const uint32_t params = 0;
    DmlpCursor out{nullptr, 0};
    EXPECT_EQ(DmlpEncodeMessage(nullptr, &params, &out), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpEncodeMessage(&header, nullptr, &out), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpEncodeMessage(&header, &params, nullptr), DMLP_CODER_BAD_ARGUMENT);
    header.method = 10;
    EXPECT_EQ(DmlpEncodeMessage(&header, &params, &out), DMLP_CODER_UNKNOWN_METHOD) << "events have no encoder";
    header.method = 200;
    EXPECT_EQ(DmlpEncodeMessage(&header, &params, &out), DMLP_CODER_UNKNOWN_METHOD);
    header.method = 31;
    header.version = 0x11;
    EXPECT_EQ(DmlpEncodeMessage(&header, &params, &out), DMLP_CODER_UNKNOWN_VERSION);
    EXPECT_EQ(out.ptr, nullptr);
}

Bytes Reply(uint16_t method, uint8_t flags, uint16_t status, uint16_t bodyLength, size_t bodyBytes)
{
    DmlpHeader header = Request(method);
    header.flags = flags;
    header.status = status;
    header.bodyLength = bodyLength;
    Bytes frame = Encode(header);
    frame.resize(frame.size() + bodyBytes, 0x42);
    return frame;
}

DmlpCoderError Decode(const Bytes& frame, DmlpDecodeContext* context, DmlpHeader* header)
{
    DmlpCursor in{const_cast<uint8_t*>(frame.data()), (int32_t)frame.size()};
    return DmlpDecodeMessage(header, context, &in, nullptr);
}

TEST_F(Coder, DecodeMessageRefusesWhatIsNotAWholeFrame)
{
    DmlpDecodeContext context{};
    DmlpHeader header{};
    Bytes frame = Reply(5, DMLP_FLAG_STATUS, 1, 0, 0);
    frame[1] = 0xCB;
    EXPECT_EQ(Decode(frame, &context, &header), DMLP_CODER_NOT_A_MESSAGE);
    frame = Reply(5, DMLP_FLAG_STATUS, 1, 0, 0);
    EXPECT_EQ(Decode(Bytes(frame.begin(), frame.begin() + 19), &context, &header), DMLP_CODER_NOT_A_MESSAGE);
    EXPECT_EQ(Decode(Bytes(frame.begin(), frame.begin() + 2), &context, &header), DMLP_CODER_NOT_A_MESSAGE);
    frame[2] = 0x11;
    EXPECT_EQ(Decode(frame, &context, &header), DMLP_CODER_UNKNOWN_VERSION);
    EXPECT_EQ(Decode(Reply(4, DMLP_FLAG_STATUS, 4, 9, 8), &context, &header), DMLP_CODER_NOT_A_MESSAGE)
        << "a body length beyond the frame";
    DmlpCursor in{frame.data(), (int32_t)frame.size()};
    EXPECT_EQ(DmlpDecodeMessage(nullptr, &context, &in, nullptr), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpDecodeMessage(&header, nullptr, &in, nullptr), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpDecodeMessage(&header, &context, nullptr, nullptr), DMLP_CODER_BAD_ARGUMENT);
    DmlpCursor none{nullptr, 20};
    EXPECT_EQ(DmlpDecodeMessage(&header, &context, &none, nullptr), DMLP_CODER_BAD_ARGUMENT);
}

TEST_F(Coder, ARepliedStatusWithoutBodyLeavesTheResultUntouched)
{
    DmlpDecodeContext context{};
    DmlpHeader header{};
    ASSERT_EQ(Decode(Reply(4, DMLP_FLAG_STATUS, 4, 4, 4), &context, &header), DMLP_CODER_OK);
    EXPECT_EQ(context.status, 4);
    EXPECT_EQ(context.result, nullptr);
    EXPECT_EQ(header.method, 4);
    ASSERT_EQ(Decode(Reply(10, DMLP_FLAG_STATUS, 9, 0, 0), &context, &header), DMLP_CODER_OK);
    EXPECT_EQ(context.status, 9);
    // A reply the rule decodes reaches the method table; a method without a row is refused.
    EXPECT_EQ(Decode(Reply(200, DMLP_FLAG_STATUS, 1, 2, 2), &context, &header), DMLP_CODER_UNKNOWN_METHOD);
    EXPECT_EQ(Decode(Reply(113, DMLP_FLAG_STATUS, 33, 0, 0), &context, &header), DMLP_CODER_UNKNOWN_METHOD);
    EXPECT_EQ(context.status, 33);
}

// The reply-body rule as data: each status decodes for all methods or for the listed ones. The
// first tier is settled before an event notification is considered, the second after it.
struct StatusRule {
    uint16_t status;
    bool allMethods;
    std::set<uint16_t> methods;
};

const StatusRule kFirstTier[] = {
    {1, true, {}},
    {33, true, {}},
    {29, true, {}},
    {4, false, {5, 6, 7, 53, 56, 69, 82, 83, 84, 88, 93, 94, 95, 97}},
    {23, false, {6, 53, 83, 84}},
    {9, false, {6, 53, 83, 84}},
    {8, false, {84, 93, 94, 95, 97}},
    {31, false, {93, 94, 95, 97}},
};

const StatusRule kSecondTier[] = {
    {18, false, {27}},
    {24, false, {19}},
    {25, false, {19}},
    {34, true, {}},
};

const StatusRule* RuleOf(const StatusRule* begin, const StatusRule* end, uint16_t status)
{
    for (const StatusRule* rule = begin; rule != end; ++rule) {
        if (rule->status == status)
            return rule;
    }
    return nullptr;
}

bool Applies(const StatusRule* rule, uint16_t method)
{
    return rule != nullptr && (rule->allMethods || rule->methods.count(method) != 0);
}

TEST_F(Coder, ReplyBodyRuleMatrix)
{
    std::vector<uint16_t> statuses;
    for (uint16_t status = 0; status <= 40; ++status)
        statuses.push_back(status);
    statuses.insert(statuses.end(), {0x8006, 0x8009, 0xFFFF});
    for (uint8_t flags : {uint8_t(DMLP_FLAG_STATUS), uint8_t(DMLP_FLAG_STATUS | DMLP_FLAG_MORE), uint8_t(0),
                          uint8_t(DMLP_FLAG_AUX)}) {
        // Without the status flag the slot is the auxiliary byte and no status rule applies.
        const bool hasStatus = flags & DMLP_FLAG_STATUS;
        for (uint16_t status : statuses) {
            const StatusRule* first = hasStatus ? RuleOf(std::begin(kFirstTier), std::end(kFirstTier), status) : nullptr;
            const StatusRule* second =
                hasStatus ? RuleOf(std::begin(kSecondTier), std::end(kSecondTier), status) : nullptr;
            for (uint16_t method = 0; method <= 120; ++method) {
                bool expected = Applies(first, method);
                uint16_t expectedStatus = status;
                if (first == nullptr && method == 10) {
                    expected = true;
                    expectedStatus = 0;
                } else if (first == nullptr) {
                    expected = Applies(second, method);
                }
                uint16_t contextStatus = 0xABCD;
                EXPECT_EQ(DmlpReplyHasBody(flags, status, method, &contextStatus), expected)
                    << "flags " << int(flags) << " status " << status << " method " << method;
                EXPECT_EQ(contextStatus, expectedStatus)
                    << "flags " << int(flags) << " status " << status << " method " << method;
            }
        }
    }
}

} // namespace
