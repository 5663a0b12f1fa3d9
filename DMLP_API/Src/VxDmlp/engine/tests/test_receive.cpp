// Receiving: frames cut from the byte stream, garbage skipped, replies matched by request id and
// method, partial replies, and datagrams framed one by one.
#include <string.h>

#include "EngineTesting.h"

namespace enginetest {
namespace {

class Receiving : public EngineTest {
protected:
    // An asynchronous CancelJob (reply body: one uint32) that is out on the wire.
    Bytes Cancel(DmlpBinding binding, Completions& completions, size_t sendIndex)
    {
        const DmlpCallback callback = completions.callback();
        DmlpDeleteParams cancel = {};
        EXPECT_EQ(DMLP_CancelJob(DMLP_MODE_ASYNC, &callback, binding, kObject, &cancel, nullptr), DMLP_SUCCESS);
        return SentAt(sendIndex);
    }
    static Bytes Join(std::initializer_list<Bytes> parts)
    {
        Bytes joined;
        for (const Bytes& part : parts)
            joined.insert(joined.end(), part.begin(), part.end());
        return joined;
    }
    static uint32_t ValueOf(const Completion& completion) { return *(const uint32_t*)completion.result; }
};

TEST_F(Receiving, FramesAreCutFromAStreamWhateverItsBlocks)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_TCP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const Bytes first = Cancel(binding, completions, 0);
    const Bytes second = Cancel(binding, completions, 1);
    const Bytes third = Cancel(binding, completions, 2);

    const Bytes split = ReplyTo(first, 1, Wire().u32(0xA1));
    vxfake::Receive(endpoint, Bytes(split.begin(), split.begin() + 7));
    vxfake::Receive(endpoint, Bytes(split.begin() + 7, split.begin() + 21));
    Flush();
    EXPECT_EQ(completions.size(), 0u) << "not all its bytes are in";
    vxfake::Receive(endpoint, Bytes(split.begin() + 21, split.end()));
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(ValueOf(completions.list()[0]), 0xA1u);

    // Garbage without 0xCD, then two frames in one block; a CD CB start is skipped byte-wise.
    const Bytes garbage = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    vxfake::Receive(endpoint, Join({garbage, ReplyTo(second, 1, Wire().u32(0xA2)), Bytes{0xCD, 0xCB, 0xCD},
                                    ReplyTo(third, 1, Wire().u32(0xA3))}));
    ASSERT_TRUE(completions.waitFor(3));
    EXPECT_EQ(ValueOf(completions.list()[1]), 0xA2u);
    EXPECT_EQ(ValueOf(completions.list()[2]), 0xA3u);
    completions.release();
}

TEST_F(Receiving, RepliesMatchOnRequestIdAndMethod)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 1000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const Bytes request = Cancel(binding, completions, 0);
    WaitArmed();
    Bytes otherMethod = ReplyTo(request, 1, Wire().u32(1));
    otherMethod[5] = 32;
    Bytes otherId = ReplyTo(request, 1, Wire().u32(1));
    otherId[7] ^= 0x40;
    // An event notification carrying the request's id is no answer either.
    const Bytes notification = Frame(10, Wire().u32(501).u8(0), 1, DMLP_FLAG_STATUS, Field16(request, 6));
    vxfake::Receive(endpoint, otherMethod);
    vxfake::Receive(endpoint, otherId);
    vxfake::Receive(endpoint, notification);
    vxfake::ReceiveError(endpoint, VXTRANS_E_UNREACHABLE);
    Flush();
    EXPECT_EQ(completions.size(), 0u);
    Advance(1000);
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_TIMEOUT) << "the request was never answered";
}

TEST_F(Receiving, BadRepliesCompleteWithTheirOwnStatus)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    vxfake::Receive(endpoint, ReplyTo(Cancel(binding, completions, 0), 1, Wire().u32(1), 0));
    vxfake::Receive(endpoint, ReplyTo(Cancel(binding, completions, 1), 1, Wire().u16(1)));
    vxfake::Receive(endpoint, ReplyTo(Cancel(binding, completions, 2), 33, Wire().u32(5)));
    ASSERT_TRUE(completions.waitFor(3));
    EXPECT_EQ(completions.list()[0].status, DMLP_BAD_REPLY) << "no status flag";
    EXPECT_EQ(completions.list()[1].status, DMLP_BAD_REPLY) << "a body the coder cannot decode";
    EXPECT_EQ(completions.list()[1].result, nullptr);
    EXPECT_EQ(completions.list()[2].status, DMLP_INCOMPLETE_REPLY) << "the device's status";
    completions.release();
}

TEST_F(Receiving, PartialRepliesCompleteAsynchronousCallsPartByPart)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 1000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const Bytes request = Cancel(binding, completions, 0);
    WaitArmed();
    const uint8_t more = DMLP_FLAG_STATUS | DMLP_FLAG_MORE;
    vxfake::Receive(endpoint, ReplyTo(request, 1, Wire().u32(1), more));
    ASSERT_TRUE(completions.waitFor(1));
    Advance(900);
    vxfake::Receive(endpoint, ReplyTo(request, 1, Wire().u32(2), more));
    ASSERT_TRUE(completions.waitFor(2));
    Advance(900) ;
    EXPECT_EQ(completions.size(), 2u) << "each part gives the request its time again";
    vxfake::Receive(endpoint, ReplyTo(request, 8, Wire().u32(3)));
    ASSERT_TRUE(completions.waitFor(3));
    const std::vector<Completion> list = completions.list();
    EXPECT_EQ(list[0].status, DMLP_PARTIAL_REPLY_ASYNC);
    EXPECT_EQ(list[1].status, DMLP_PARTIAL_REPLY_ASYNC);
    EXPECT_EQ(list[2].status, 8);
    EXPECT_EQ(ValueOf(list[1]), 2u);
    completions.release();

    // Synchronously the first part ends the call; the others find nothing.
    uint8_t result[4];
    DmlpDeleteParams cancel = {};
    auto call = InThread([&] { return DMLP_CancelJob(DMLP_MODE_SYNC, nullptr, binding, kObject, &cancel, result); });
    const Bytes sync = SentAt(1);
    vxfake::Receive(endpoint, ReplyTo(sync, 1, Wire().u32(7), more));
    EXPECT_EQ(Await(call), DMLP_PARTIAL_REPLY);
    EXPECT_EQ(*(uint32_t*)result, 7u);
    vxfake::Receive(endpoint, ReplyTo(sync, 1, Wire().u32(8)));
    Flush();
}

TEST_F(Receiving, EachDatagramIsFramedAlone)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const Bytes request = Cancel(binding, completions, 0);
    // A datagram whose header promises more than it carries cannot swallow the next one.
    Bytes truncated = ReplyTo(request, 1, Wire().u32(1).fill(80, 0));
    truncated.resize(40);
    vxfake::Receive(endpoint, truncated);
    vxfake::Receive(endpoint, ReplyTo(request, 1, Wire().u32(0xBEEF)));
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(completions.list()[0].status, DMLP_SUCCESS);
    EXPECT_EQ(ValueOf(completions.list()[0]), 0xBEEFu);
    completions.release();
}

TEST_F(Receiving, AcquireResourceDataIsCopiedOnceIntoTheResult)
{
    DmlpBinding binding = Bind(DMLP_ADDRESS_UDP, 60000, 1);
    const uint32_t endpoint = EndpointOf(0);
    Completions& completions = Recorder();
    const DmlpCallback callback = completions.callback();
    DmlpDeleteParams acquire = {};
    ASSERT_EQ(DMLP_AcquireResource(DMLP_MODE_ASYNC, &callback, binding, kObject, &acquire, nullptr), DMLP_SUCCESS);
    vxfake::Receive(endpoint, ReplyTo(SentAt(0), 1, Wire().u32(9).text("resource-bytes")));
    ASSERT_EQ(DMLP_AcquireResource(DMLP_MODE_ASYNC, &callback, binding, kObject, &acquire, nullptr), DMLP_SUCCESS);
    vxfake::Receive(endpoint, ReplyTo(SentAt(1), 1, Wire().u16(9)));
    ASSERT_TRUE(completions.waitFor(2));
    const Completion whole = completions.list()[0];
    ASSERT_EQ(whole.status, DMLP_SUCCESS);
    const DmlpAcquireResourceResult* result = (const DmlpAcquireResourceResult*)whole.result;
    EXPECT_EQ(result->value1, 9u);
    ASSERT_EQ(result->length, 14u);
    EXPECT_EQ(memcmp(result->data, "resource-bytes", 14), 0);
    EXPECT_EQ(result->buffer.data, result->data) << "one copy, described by the result's buffer";
    EXPECT_EQ(completions.list()[1].status, DMLP_BAD_REPLY) << "a frame too short for the uint32";
    completions.release();

    uint8_t sync[48];
    auto call = InThread([&] { return DMLP_AcquireResource(DMLP_MODE_SYNC, nullptr, binding, kObject, &acquire, sync); });
    vxfake::Receive(endpoint, ReplyTo(SentAt(2), 1, Wire().u32(3).text("abc")));
    ASSERT_EQ(Await(call), DMLP_SUCCESS);
    DmlpAcquireResourceResult* synchronous = (DmlpAcquireResourceResult*)sync;
    EXPECT_EQ(memcmp(synchronous->data, "abc", 3), 0);
    EXPECT_EQ(synchronous->buffer.flags & DMLP_BUFFER_LIBRARY, DMLP_BUFFER_LIBRARY);
    EXPECT_EQ(DMLP_FreeMemory(&synchronous->buffer), DMLP_SUCCESS);
}

} // namespace
} // namespace enginetest
