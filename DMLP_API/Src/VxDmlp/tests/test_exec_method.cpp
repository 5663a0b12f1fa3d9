// ExecuteMethod parameters: the request form of every code against bytes written by hand, the
// reply forms decoded into the result's block, the raw codes above 8191 and the refusals.
#include <map>
#include <set>

#include "BodyTesting.h"

namespace {

class ExecuteMethod : public CoderTest {
protected:
    Bytes RequestBody(uint16_t code, const void* params, uint16_t length = 0)
    {
        const DmlpExecuteMethodParams request = {0x01020304, code, params, length};
        Bytes message;
        EXPECT_EQ(Encode(29, &request, &message), DMLP_CODER_OK);
        return message.empty() ? Bytes() : BodyOf(message);
    }
    static Bytes ReplyBody(uint16_t code, const Bytes& params)
    {
        return Wire().u32(0x0A0B0C0D).u16(code).raw(params);
    }
};

DmlpAddress Address(uint16_t kind) { return InetAddress(kind, 127, 0, 0, 9, 515); }

TEST_F(ExecuteMethod, TheTableHoldsTheThirtyFiveCodesAndTheRawRow)
{
    std::set<uint16_t> codes;
    for (const DmlpExecCodeRow* row = DmlpExecCodeTable; row->code != 0; ++row) {
        EXPECT_TRUE(row->encSize && row->encode && row->decSize && row->decode) << row->code;
        codes.insert(row->code);
    }
    EXPECT_EQ(codes, std::set<uint16_t>({11, 12, 13, 14, 101, 102, 103, 104, 105, 106, 107, 108,
                                         109, 110, 111, 112, 114, 115, 116, 117, 118, 119, 124, 125,
                                         126, 127, 130, 131, 132, 133, 135, 136, 137, 138, 146}));
    EXPECT_TRUE(DmlpExecCodeDefault.encSize && DmlpExecCodeDefault.encode && DmlpExecCodeDefault.decSize &&
                DmlpExecCodeDefault.decode);
}

TEST_F(ExecuteMethod, EveryCodeSendsItsParametersAfterObjectAndCode)
{
    const DmlpExecBytesParams bytes16 = {3, (const uint8_t*)"abc"};
    const DmlpByteString string = {2, (const uint8_t*)"hi"};
    const DmlpExec101Params p101 = {0x11223344, 5};
    const DmlpExec103Params byte = {0x42};
    const DmlpExec104Params p104 = {1, 2, (const uint8_t*)"ok"};
    const DmlpExec105Params p105 = {1, 2, 3, 0x0405, 0x06070809, 0x0A0B0C0D, 0x0E};
    const DmlpExec106Params p106 = {1, 0x0203, 1, (const uint8_t*)"z"};
    const DmlpExec107Params two = {7, 8};
    const DmlpAddress address = Address(DMLP_ADDRESS_TCP);
    const DmlpExec126Params p126 = {0x01020304, 5, 6};
    const DmlpExec127Params p127 = {0x01020304, 5, 6, 7};
    const DmlpExec133Params p133 = {2, (const uint8_t*)"hi", Address(DMLP_ADDRESS_UDP)};
    const Bytes addressWire = Wire().u16(1).u8(6).u8(127).u8(0).u8(0).u8(9).u16(515);
    const Bytes udpWire = Wire().u16(2).u8(6).u8(127).u8(0).u8(0).u8(9).u16(515);

    const std::map<uint16_t, std::pair<const void*, Bytes>> forms = {
        {11, {&bytes16, Wire().u16(3).text("abc")}},
        {12, {&string, Wire().s8("hi")}},
        {13, {&bytes16, Wire().u16(3).text("abc")}},
        {14, {&string, Wire().s8("hi")}},
        {101, {&p101, Wire().u32(0x11223344).u8(5)}},
        {102, {nullptr, Bytes()}},
        {103, {&byte, Wire().u8(0x42)}},
        {104, {&p104, Wire().u8(1).s8("ok")}},
        {105, {&p105, Wire().u8(1).u8(2).u8(3).u16(0x0405).u32(0x06070809).u32(0x0A0B0C0D).u8(0x0E)}},
        {106, {&p106, Wire().u8(1).u16(0x0203).s8("z")}},
        {107, {&two, Wire().u8(7).u8(8)}},
        {108, {&two, Wire().u8(7).u8(8)}},
        {109, {&two, Wire().u8(7).u8(8)}},
        {110, {&p106, Wire().u8(1).u16(0x0203).s8("z")}},
        {111, {&two, Wire().u8(7).u8(8)}},
        {112, {&two, Wire().u8(7).u8(8)}},
        {114, {nullptr, Bytes()}},
        {115, {nullptr, Bytes()}},
        {116, {&byte, Wire().u8(0x42)}},
        {117, {&byte, Wire().u8(0x42)}},
        {118, {&address, addressWire}},
        {119, {nullptr, Bytes()}},
        {124, {&two, Wire().u8(7).u8(8)}},
        {125, {&two, Wire().u8(7).u8(8)}},
        {126, {&p126, Wire().u32(0x01020304).u8(5).u8(6)}},
        {127, {&p127, Wire().u32(0x01020304).u8(5).u8(6).u8(7)}},
        {130, {nullptr, Bytes()}},
        {131, {&byte, Wire().u8(0x42)}},
        {132, {nullptr, Bytes()}},
        {133, {&p133, Wire().s8("hi").raw(udpWire)}},
        {135, {nullptr, Bytes()}},
        {136, {&string, Wire().s8("hi")}},
        {137, {&byte, Wire().u8(0x42)}},
        {138, {nullptr, Bytes()}},
        {146, {nullptr, Bytes()}},
    };
    EXPECT_EQ(forms.size(), 35u);
    for (const auto& [code, form] : forms) {
        SCOPED_TRACE(code);
        EXPECT_EQ(RequestBody(code, form.first), Bytes(Wire().u32(0x01020304).u16(code).raw(form.second)));
    }
}

TEST_F(ExecuteMethod, CodesAboveTheTableSendTheCallersBytes)
{
    const uint8_t bytes[] = {0xDE, 0xAD, 0x01};
    EXPECT_EQ(RequestBody(102, nullptr), Bytes(Wire().u32(0x01020304).u16(102))) << "6 bytes: object and code";
    EXPECT_EQ(RequestBody(8192, bytes, 3), Bytes(Wire().u32(0x01020304).u16(0x2000).u8(0xDE).u8(0xAD).u8(1)));
    EXPECT_EQ(RequestBody(0xFFFF, nullptr, 0), Bytes(Wire().u32(0x01020304).u16(0xFFFF)));
}

TEST_F(ExecuteMethod, UnknownCodesAndUnencodableParametersAreRefusedBeforeAnything)
{
    const uint8_t byte = 1;
    const DmlpAddress kind16 = Address(16);
    const DmlpExec133Params p133 = {0, nullptr, Address(0)};
    const DmlpByteString missing = {3, nullptr};
    struct Case {
        uint16_t code;
        const void* params;
        uint16_t length;
        DmlpCoderError error;
    };
    const Case cases[] = {
        {8191, &byte, 0, DMLP_CODER_UNKNOWN_EXEC_CODE},
        {0, &byte, 0, DMLP_CODER_UNKNOWN_EXEC_CODE},
        {120, &byte, 0, DMLP_CODER_UNKNOWN_EXEC_CODE},
        {118, &kind16, 0, DMLP_CODER_BAD_ARGUMENT},
        {133, &p133, 0, DMLP_CODER_BAD_ARGUMENT},
        {101, nullptr, 0, DMLP_CODER_BAD_ARGUMENT},
        {12, &missing, 0, DMLP_CODER_BAD_ARGUMENT},
        {8192, nullptr, 4, DMLP_CODER_BAD_ARGUMENT},
        // 6 + 65530 bytes do not fit a body.
        {8192, &byte, 65530, DMLP_CODER_BAD_ARGUMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const DmlpExecuteMethodParams request = {1, c.code, c.params, c.length};
        DmlpHeader header = RequestHeader(29);
        DmlpCursor out = {nullptr, 0};
        EXPECT_EQ(DmlpEncodeMessage(&header, &request, &out), c.error);
        EXPECT_EQ(out.ptr, nullptr);
        EXPECT_EQ(liveBlocks(), 0);
    }
    const Bytes largest(65529, 0x5A);
    const DmlpExecuteMethodParams request = {1, 9000, largest.data(), (uint16_t)largest.size()};
    Bytes message;
    ASSERT_EQ(Encode(29, &request, &message), DMLP_CODER_OK);
    EXPECT_EQ(message.size(), 20u + 65535);
}

TEST_F(ExecuteMethod, StringRepliesComeBackWithTheirHeadAndBytes)
{
    {
        // Code 11 sends a uint16-length string and expects an s8 back.
        Reply reply(Frame(29, ReplyBody(11, Wire().s8("back"))));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpExecuteMethodResult>();
        EXPECT_EQ(result.object, 0x0A0B0C0Du);
        EXPECT_EQ(result.code, 11);
        EXPECT_EQ(result.length, 0);
        EXPECT_EQ(result.buffer.size, 16 + 8);
        EXPECT_EQ(result.params, result.buffer.data);
        const auto* head = (const DmlpDecodedBytes*)result.params;
        EXPECT_EQ(head->length, 4);
        EXPECT_EQ(head->bytes, (uint8_t*)result.params + 16);
        EXPECT_EQ(std::string((const char*)head->bytes, 4), "back");
    }
    {
        // Code 12 sends an s8 and expects a uint16-length string back.
        Reply reply(Frame(29, ReplyBody(12, Wire().u16(9).text("123456789"))));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpExecuteMethodResult>();
        EXPECT_EQ(result.buffer.size, 16 + 16);
        const auto* head = (const DmlpDecodedBytes16*)result.params;
        EXPECT_EQ(head->length, 9);
        EXPECT_EQ(std::string((const char*)head->bytes, 9), "123456789");
    }
    {
        Reply reply(Frame(29, ReplyBody(14, Wire().u16(0))));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto* head = (const DmlpDecodedBytes16*)reply.as<DmlpExecuteMethodResult>().params;
        EXPECT_EQ(head->length, 0);
        EXPECT_EQ(head->bytes, nullptr);
    }
}

TEST_F(ExecuteMethod, ValueRepliesTakeAnEightByteSlot)
{
    const std::pair<uint16_t, Bytes> replies[] = {
        {135, Wire().u32(0x01020304)}, {136, Wire().u8(7)}, {137, Wire().u8(8)}, {146, Wire().u8(9)}};
    const uint32_t expected[] = {0x01020304, 7, 8, 9};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(replies[i].first);
        Reply reply(Frame(29, ReplyBody(replies[i].first, replies[i].second)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpExecuteMethodResult>();
        EXPECT_EQ(result.buffer.size, 8);
        const uint32_t value = replies[i].first == 135 ? Load<uint32_t>(result.params, 0) : *(uint8_t*)result.params;
        EXPECT_EQ(value, expected[i]);
    }
}

TEST_F(ExecuteMethod, CodesWithoutReplyParametersTakeNoBlockAndIgnoreExtraBytes)
{
    for (uint16_t code : {101, 102, 118, 133, 138}) {
        SCOPED_TRACE(code);
        Reply reply(Frame(29, ReplyBody(code, Wire().u8(1).u8(2).u8(3))));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpExecuteMethodResult>();
        EXPECT_EQ(result.code, code);
        EXPECT_EQ(result.params, nullptr);
        EXPECT_EQ(result.buffer.data, nullptr);
        EXPECT_EQ(result.buffer.size, 0);
    }
}

TEST_F(ExecuteMethod, RawRepliesComeBackWholeWithTheirCount)
{
    Reply reply(Frame(29, ReplyBody(0x2000, Wire().text("raw bytes!"))));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto& result = reply.as<DmlpExecuteMethodResult>();
    EXPECT_EQ(result.length, 10);
    EXPECT_EQ(result.buffer.size, 16);
    EXPECT_EQ(std::string((const char*)result.params, 10), "raw bytes!");

    Reply empty(Frame(29, ReplyBody(0x2001, Bytes())));
    ASSERT_EQ(empty.error(), DMLP_CODER_OK);
    EXPECT_EQ(empty.as<DmlpExecuteMethodResult>().length, 0);
    EXPECT_EQ(empty.as<DmlpExecuteMethodResult>().params, nullptr);

    // The largest raw reply whose block size, rounded up to 8, still fits 16 bits.
    Reply largest(Frame(29, ReplyBody(0x2000, Bytes(65528, 0x11))));
    ASSERT_EQ(largest.error(), DMLP_CODER_OK);
    EXPECT_EQ(largest.as<DmlpExecuteMethodResult>().length, 65528);
    EXPECT_EQ(largest.as<DmlpExecuteMethodResult>().buffer.size, 65528);
    Reply over(Frame(29, ReplyBody(0x2000, Bytes(65529, 0x11))), true);
    EXPECT_EQ(over.error(), DMLP_CODER_NO_MEMORY);
    EXPECT_EQ(over.status(), DMLP_INTERNAL_FAILURE);
}

TEST_F(ExecuteMethod, ShortOrUnknownReplyParametersAreRefusedAndLeaveNothing)
{
    struct Case {
        uint16_t code;
        Bytes params;
        DmlpCoderError error;
    };
    const Case cases[] = {
        {136, Bytes(), DMLP_CODER_TRUNCATED},
        {135, Wire().u8(1).u8(2).u8(3), DMLP_CODER_TRUNCATED},
        {11, Bytes(), DMLP_CODER_TRUNCATED},
        {11, Wire().u8(3).text("ab"), DMLP_CODER_TRUNCATED},
        {12, Wire().u8(0), DMLP_CODER_TRUNCATED},
        {12, Wire().u16(4).text("abc"), DMLP_CODER_TRUNCATED},
        {8191, Wire().u8(1), DMLP_CODER_UNKNOWN_EXEC_CODE},
        {120, Bytes(), DMLP_CODER_UNKNOWN_EXEC_CODE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        for (bool allocate : {false, true}) {
            Reply reply(Frame(29, ReplyBody(c.code, c.params)), allocate);
            EXPECT_EQ(reply.error(), c.error);
            EXPECT_EQ(reply.status(), DMLP_INTERNAL_FAILURE);
        }
        EXPECT_EQ(liveBlocks(), 0);
    }
    Reply tooShort(Frame(29, Wire().u32(1).u8(0)), true);
    EXPECT_EQ(tooShort.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ExecuteMethod, AllocationFailuresAtEveryStepLeaveNothing)
{
    for (bool allocate : {false, true})
        ExpectAllocationFailuresLeaveNothing(Frame(29, ReplyBody(13, Wire().s8("text"))), allocate);
}

} // namespace
