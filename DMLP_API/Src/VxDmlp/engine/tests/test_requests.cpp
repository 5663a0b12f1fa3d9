// The request exports: every one of them on the wire, the front end's checks, raw data sends,
// the memory exports and the stubs.
#include <string.h>

#include "DmlpEngine.h"
#include "EngineTesting.h"

namespace enginetest {
namespace {

struct Export {
    const char* name;
    DmlpRequestExport function;
    uint16_t method;
    uint16_t size;
};

#define EXPORT_ROW(name, ordinal, cls, method, size) {#name, DMLP_##name, method, size},
const Export kExports[] = {DMLP_REQUEST_EXPORTS(EXPORT_ROW)};
#undef EXPORT_ROW

class Requests : public EngineTest {};

// Each export, synchronously, with an all-zero parameter record: the frame carries its method and
// the object words, the device's status comes back unchanged, and exactly the method's result
// bytes are zeroed (a canary follows them).
TEST_F(Requests, EveryExportSendsItsMethodAndZeroesExactlyItsResult)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    size_t sent = 0;
    std::vector<std::string> refused;
    for (const Export& row : kExports) {
        SCOPED_TRACE(row.name);
        uint64_t params[32] = {};
        uint8_t result[96];
        memset(result, 0xAB, sizeof result);
        auto call = InThread([&] { return row.function(DMLP_MODE_SYNC, nullptr, binding, kObject, params, result); });
        // A refusal returns at once; anything else goes out and waits for its answer.
        WaitUntil([&] {
            return vxfake::Sends().size() > sent || call.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        const bool wentOut = vxfake::Sends().size() > sent;
        if (!wentOut) {
            EXPECT_EQ(Await(call), DMLP_INTERNAL_FAILURE) << "only an encoding refusal sends nothing";
            refused.push_back(row.name);
        } else {
            const Bytes frame = SentAt(sent++);
            ASSERT_GE(frame.size(), 20u);
            EXPECT_EQ(Field16(frame, 0), DMLP_HEADER_MAGIC);
            EXPECT_EQ(Field16(frame, 4), row.method);
            EXPECT_EQ(frame[3], DMLP_FLAG_REPLY_WANTED);
            EXPECT_EQ(Field16(frame, 8), frame.size() - 20);
            EXPECT_EQ(Bytes(frame.begin() + 10, frame.begin() + 18),
                      (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
            vxfake::Receive(endpoint, ReplyTo(frame, 40));
            EXPECT_EQ(Await(call), 40) << "the device's status is passed on";
        }
        for (uint16_t i = 0; i < row.size; ++i)
            ASSERT_EQ(result[i], 0) << "byte " << i;
        for (uint16_t i = row.size; i < sizeof result; ++i)
            ASSERT_EQ(result[i], 0xAB) << "canary byte " << i;
    }
    EXPECT_EQ(sent + refused.size(), 93u);
    EXPECT_GE(sent, 60u) << "most methods encode an all-zero record";
}

TEST_F(Requests, TheFrontEndRefusesBadArgumentsBeforeSendingAnything)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    DmlpGetParams get = {};
    uint8_t result[40];
    for (uint8_t mode : {0, 3})
        EXPECT_EQ(DMLP_Get(mode, nullptr, binding, kObject, &get, result), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_Get(DMLP_MODE_SYNC, nullptr, binding, nullptr, &get, result), DMLP_BAD_PARAMETER);
    memset(result, 0xAB, sizeof result);
    EXPECT_EQ(DMLP_Get(DMLP_MODE_SYNC, nullptr, binding, kObject, nullptr, result), DMLP_BAD_PARAMETER);
    EXPECT_EQ(result[0], 0) << "zeroed even though the front end refuses";
    EXPECT_EQ(result[39], 0);
    EXPECT_EQ(DMLP_Get(DMLP_MODE_SYNC, nullptr, binding, kObject, &get, nullptr), DMLP_BAD_PARAMETER);

    // An address of an unknown kind cannot be encoded.
    DmlpUnreserveParams unreserve = {};
    unreserve.address.kind = 16;
    uint8_t unreserved[32];
    EXPECT_EQ(DMLP_Unreserve(DMLP_MODE_SYNC, nullptr, binding, kObject, &unreserve, unreserved),
              DMLP_INTERNAL_FAILURE);
    Flush();
    EXPECT_TRUE(vxfake::Sends().empty());

    EXPECT_EQ(DMLP_Get(DMLP_MODE_ASYNC, nullptr, binding, kObject, &get, nullptr), DMLP_SUCCESS)
        << "an asynchronous call needs no result";
    EXPECT_EQ(DMLP_Get(DMLP_MODE_SYNC, nullptr, DmlpBinding(~0ull), kObject, &get, result), DMLP_UNKNOWN_BINDING);
}

TEST_F(Requests, AsynchronousResultsArriveInParameterBlocksThatReleaseOnce)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpDeleteParams cancel = {};
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &callback, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    const Bytes request = SentAt(0);
    vxfake::Receive(EndpointOf(0), ReplyTo(request, 1, Wire().u32(0xCAFE)));
    ASSERT_TRUE(completions.waitFor(1));
    const Completion done = completions.list()[0];
    EXPECT_EQ(done.binding, binding);
    EXPECT_EQ(done.method, 31);
    EXPECT_EQ(done.status, DMLP_SUCCESS);
    ASSERT_NE(done.result, nullptr);
    EXPECT_EQ(memcmp((uint8_t*)done.result - 16, "OPGN", 4), 0);
    EXPECT_EQ(DMLP_ReleaseParam(done.result), DMLP_SUCCESS);
    DmlpParamBlock fake = {};
    memcpy(fake.tag, "OPGX", 4);
    EXPECT_EQ(DMLP_ReleaseParam(fake.handedOut.bytes), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_ReleaseParam(nullptr), DMLP_BAD_PARAMETER);

    // Without a callback function a datagram request still asks for its reply; the block of that
    // reply is freed by the library.
    ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, nullptr, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
    const Bytes silent = SentAt(1);
    EXPECT_EQ(silent[3], DMLP_FLAG_REPLY_WANTED);
    vxfake::Receive(EndpointOf(0), ReplyTo(silent, 1, Wire().u32(1)));
    Flush();
}

TEST_F(Requests, MemoryExports)
{
    DmlpBuffer buffer = {};
    EXPECT_EQ(DMLP_AllocMemory(0, &buffer), DMLP_BAD_PARAMETER);
    EXPECT_EQ(DMLP_AllocMemory(16, nullptr), DMLP_BAD_PARAMETER);
    for (uint32_t size : {65536u, 65537u, 0x10000u + 100u, 0xFFFFFFFFu})
        EXPECT_EQ(DMLP_AllocMemory(size, &buffer), DMLP_BAD_PARAMETER) << size << ": 16-bit sizes, refused, not cut";
    ASSERT_EQ(DMLP_AllocMemory(65535, &buffer), DMLP_SUCCESS);
    EXPECT_EQ(buffer.size, 65535);
    EXPECT_EQ(buffer.flags, 9);
    EXPECT_EQ(buffer.reserved, 0u);
    EXPECT_EQ(DMLP_FreeMemory(&buffer), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_FreeMemory(nullptr), DMLP_BAD_PARAMETER);
    DmlpBuffer foreign = {};
    foreign.flags = 1;
    EXPECT_EQ(DMLP_FreeMemory(&foreign), DMLP_BAD_PARAMETER);
    VxSrvcTestFailAllocation(1);
    EXPECT_EQ(DMLP_AllocMemory(8, &buffer), DMLP_OUT_OF_MEMORY);
}

// Runs on the worker: the binding's request-id counter stands at its last value.
void CounterAtTheTop(const DmlpDeferredCall* call)
{
    if (DmlpBindingRecord* binding = DmlpFindBinding(call->args[0]))
        binding->requestCounter = 0xFFFF;
}

TEST_F(Requests, RequestIdZeroIsSkippedWhenTheCounterWraps)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    ASSERT_TRUE(DmlpDefer(CounterAtTheTop, DmlpHandleOf(binding)));
    Flush();
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpEchoParams echo = {};
    ASSERT_EQ(DMLP_Echo(DMLP_MODE_ASYNC, &callback, binding, kObject, &echo, nullptr), DMLP_SUCCESS);
    EXPECT_EQ(Field16(SentAt(0), 6), 1) << "0xFFFF is followed by 1";
    vxfake::Receive(EndpointOf(0), ReplyTo(SentAt(0), 1, Wire().u16(0)));
    ASSERT_TRUE(completions.waitFor(1));
    completions.release();
}

TEST_F(Requests, StubsAnswerNotSupported)
{
#define STUB_CALL(name, ordinal) EXPECT_EQ(DMLP_##name(), DMLP_NOT_SUPPORTED) << #name;
    DMLP_STUB_EXPORTS(STUB_CALL)
#undef STUB_CALL
}

// Raw data goes in chunks of at most 65514 bytes behind the Send's header and kind byte.
TEST_F(Requests, RawSendsAreCutIntoChunks)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_TCP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    for (uint32_t length : {65514u, 65515u}) {
        SCOPED_TRACE(length);
        const size_t before = vxfake::Sends().size();
        std::vector<uint8_t> data(length);
        for (uint32_t i = 0; i < length; ++i)
            data[i] = (uint8_t)(i * 7);
        DmlpSendParams send = {};
        send.kind = 1;
        send.length = length;
        send.data = data.data();
        uint8_t result[8];
        auto call = InThread([&] { return DMLP_Send(DMLP_MODE_SYNC, nullptr, binding, kObject, &send, result); });
        const size_t chunks = length == 65514 ? 1 : 2;
        const Bytes last = SentAt(before + chunks - 1);
        for (size_t i = 0; i < chunks; ++i) {
            const Bytes chunk = SentAt(before + i);
            const uint32_t carried = i + 1 < chunks ? 65514 : length - 65514 * i;
            ASSERT_EQ(chunk.size(), 21 + carried);
            EXPECT_EQ(chunk[3], i + 1 < chunks ? DMLP_FLAG_MORE : DMLP_FLAG_REPLY_WANTED);
            EXPECT_EQ(Field16(chunk, 4), 26);
            EXPECT_EQ(Field16(chunk, 8), carried + 1);
            EXPECT_EQ(chunk[20], 1) << "the kind byte";
            EXPECT_TRUE(std::equal(chunk.begin() + 21, chunk.end(), data.begin() + 65514 * i));
            EXPECT_EQ(Field16(chunk, 6), Field16(last, 6)) << "one request id";
        }
        vxfake::Receive(endpoint, ReplyTo(last, 1, Wire().u32(5)));
        EXPECT_EQ(Await(call), DMLP_SUCCESS);
    }

    // A Send whose kind is not 1 is an ordinary request with its data in the body.
    DmlpSendParams value = {};
    value.kind = 2;
    value.value1 = 0x01020304;
    ASSERT_EQ(DMLP_Send(DMLP_MODE_ASYNC, nullptr, binding, kObject, &value, nullptr), DMLP_SUCCESS);
    const Bytes ordinary = SentAt(3);
    EXPECT_EQ(ordinary[3], 0) << "asynchronous without callback on a connection: no reply wanted";
    EXPECT_EQ(Bytes(ordinary.begin() + 20, ordinary.end()), (Bytes{2, 1, 2, 3, 4}));

    // Zero bytes of raw data cannot be sent.
    DmlpSendParams empty = {};
    empty.kind = 1;
    uint8_t result[8];
    EXPECT_EQ(DMLP_Send(DMLP_MODE_SYNC, nullptr, binding, kObject, &empty, result), DMLP_INTERNAL_FAILURE);
}

} // namespace
} // namespace enginetest
