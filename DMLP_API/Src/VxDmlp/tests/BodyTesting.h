// Helpers of the body, reply and event tests: wire bytes written by hand, frames, decoding into a
// caller's record or an allocated one, and a fixture that checks that every block is freed.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DmlpBodies.h"
#include "VxSrvc.h"

using Bytes = std::vector<uint8_t>;

// Big-endian wire bytes, field by field.
struct Wire {
    Bytes bytes;

    Wire& u8(uint32_t value)
    {
        bytes.push_back((uint8_t)value);
        return *this;
    }
    Wire& u16(uint32_t value) { return u8(value >> 8).u8(value); }
    Wire& u32(uint32_t value) { return u16(value >> 16).u16(value); }
    Wire& raw(const Bytes& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Wire& text(const std::string& chars)
    {
        bytes.insert(bytes.end(), chars.begin(), chars.end());
        return *this;
    }
    Wire& fill(size_t count, uint8_t value)
    {
        bytes.insert(bytes.end(), count, value);
        return *this;
    }
    // s8: a length byte, then the bytes.
    Wire& s8(const std::string& chars) { return u8((uint32_t)chars.size()).text(chars); }
    operator Bytes() const { return bytes; }
};

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

// A whole frame: the 20-byte header (with the status flag and status, unless flags say otherwise)
// and the body.
inline Bytes Frame(uint16_t method, const Bytes& body, uint16_t status = 1, uint8_t flags = DMLP_FLAG_STATUS,
                   uint16_t requestId = 7)
{
    Wire wire;
    wire.u16(DMLP_HEADER_MAGIC).u8(DMLP_HEADER_VERSION).u8(flags).u16(method).u16(requestId);
    wire.u16((uint32_t)body.size()).u32(0).u32(0).u16(status);
    return wire.raw(body);
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
