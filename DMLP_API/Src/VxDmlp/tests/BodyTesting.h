// Helpers of the coder tests: requests encoded to bytes, replies decoded into a caller's record or
// an allocated one, and a fixture that checks that every block is freed.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "DmlpBodies.h"
#include "VxSrvc.h"
#include "WireBytes.h"

inline DmlpHeader RequestHeader(uint16_t method)
{
    DmlpHeader header = {};
    header.magic = DMLP_HEADER_MAGIC;
    header.version = DMLP_HEADER_VERSION;
    header.method = method;
    header.objectRef0 = 0x01020304;
    header.objectRef1 = 0x05060708;
    return header;
}

// An address of kind 1, 2 or 14: four address bytes and a port.
inline DmlpAddress InetAddress(uint16_t kind, uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port)
{
    DmlpAddress address = {};
    address.kind = kind;
    const uint8_t bytes[4] = {a, b, c, d};
    memcpy(address.u.inet.address, bytes, 4);
    address.u.inet.port = port;
    return address;
}

// The encoded request as bytes (freed here).
inline DmlpCoderError Encode(uint16_t method, const void* params, Bytes* message)
{
    DmlpHeader header = RequestHeader(method);
    DmlpCursor out = {nullptr, 0};
    const DmlpCoderError error = DmlpEncodeMessage(&header, params, &out);
    if (error == DMLP_CODER_OK) {
        message->assign(out.ptr, out.ptr + out.count);
        DmlpFree(out.ptr);
    }
    return error;
}

inline Bytes BodyOf(const Bytes& message) { return Bytes(message.begin() + DMLP_HEADER_LENGTH, message.end()); }

// A reply decoded into a record of the caller's (the engine's way) or, with allocate, into a
// record that the decoder allocates. Owns what the decode allocated.
class Reply {
public:
    explicit Reply(const Bytes& frame, bool allocate = false, const Bytes* request = nullptr) : frame_(frame)
    {
        context_.result = allocate ? nullptr : record_;
        DmlpCursor in = {frame_.data(), (int32_t)frame_.size()};
        DmlpCursor requestCursor = {request != nullptr ? (uint8_t*)request->data() : nullptr,
                                    request != nullptr ? (int32_t)request->size() : 0};
        error_ = DmlpDecodeMessage(&header_, &context_, &in, request != nullptr ? &requestCursor : nullptr);
        allocated_ = allocate;
    }
    ~Reply()
    {
        if (context_.held != nullptr)
            DmlpFree(context_.held->data);
        if (allocated_)
            DmlpFree(context_.result);
    }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;

    DmlpCoderError error() const { return error_; }
    uint16_t status() const { return context_.status; }
    const DmlpDecodeContext& context() const { return context_; }
    template <typename Record>
    const Record& as() const
    {
        return *(const Record*)context_.result;
    }
    const uint8_t* bytes() const { return (const uint8_t*)context_.result; }
    // The decoded copy of the frame.
    const Bytes& frame() const { return frame_; }

private:
    Bytes frame_;
    alignas(16) uint8_t record_[DMLP_PARAM_HANDED_OUT] = {};
    DmlpHeader header_ = {};
    DmlpDecodeContext context_ = {nullptr, nullptr, 0};
    DmlpCoderError error_;
    bool allocated_ = false;
};

// Every test starts with the tables in place and ends with every block freed.
class CoderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DmlpCoderInitialize());
        live_ = VxSrvcTestLiveBlocks();
    }
    void TearDown() override
    {
        VxSrvcTestFailAllocation(0);
        EXPECT_EQ(VxSrvcTestLiveBlocks(), live_) << "every block is freed";
    }
    int64_t liveBlocks() const { return VxSrvcTestLiveBlocks() - live_; }

    // Decodes frame with the first, second, ... allocation failing until the decode succeeds:
    // every failure gives 6, context status 6, holds nothing and leaves no block behind.
    void ExpectAllocationFailuresLeaveNothing(const Bytes& frame, bool allocate)
    {
        for (uint32_t nth = 1;; ++nth) {
            ASSERT_LT(nth, 10u) << "a decode allocates a record, a block and a scratch table at most";
            VxSrvcTestFailAllocation(nth);
            bool done;
            {
                Reply reply(frame, allocate);
                done = reply.error() == DMLP_CODER_OK;
                if (!done) {
                    EXPECT_EQ(reply.error(), DMLP_CODER_NO_MEMORY) << "failing allocation " << nth;
                    EXPECT_EQ(reply.status(), DMLP_INTERNAL_FAILURE);
                    EXPECT_EQ(reply.context().held, nullptr);
                }
            }
            VxSrvcTestFailAllocation(0);
            EXPECT_EQ(liveBlocks(), 0) << "failing allocation " << nth;
            if (done)
                return;
        }
    }

    int64_t live_ = 0;
};

inline const uint8_t* At(const void* base, size_t offset) { return (const uint8_t*)base + offset; }

template <typename T>
T Load(const void* base, size_t offset)
{
    T value;
    memcpy(&value, At(base, offset), sizeof value);
    return value;
}

inline const uint8_t* Pointer(const void* base, size_t offset) { return Load<const uint8_t*>(base, offset); }
