// Wire bytes written by hand, field by field, and whole frames around them (shared by the tests
// and the benchmark).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "VxDmlp.h"

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
