// Cursor readers and writers, and the address, tagged and typed forms built on them.
#include <string.h>

#include "DmlpWalk.h"

uint8_t DmlpReadU8(DmlpCursor* in)
{
    const uint8_t value = *in->ptr;
    DmlpSkip(in, 1);
    return value;
}

uint16_t DmlpReadU16(DmlpCursor* in)
{
    uint16_t wire;
    memcpy(&wire, in->ptr, sizeof wire);
    DmlpSkip(in, sizeof wire);
    return DmlpWireToHost16(wire);
}

uint32_t DmlpReadU32(DmlpCursor* in)
{
    uint32_t wire;
    memcpy(&wire, in->ptr, sizeof wire);
    DmlpSkip(in, sizeof wire);
    return DmlpWireToHost32(wire);
}

uint8_t* DmlpReadBytes(DmlpCursor* in, void* destination, uint32_t count)
{
    if (count != 0)
        memcpy(destination, in->ptr, count);
    DmlpSkip(in, count);
    return (uint8_t*)destination + count;
}

void DmlpReadU16Array(DmlpCursor* in, uint16_t* destination, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        destination[i] = DmlpReadU16(in);
}

void DmlpReadU32Array(DmlpCursor* in, uint32_t* destination, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        destination[i] = DmlpReadU32(in);
}

void DmlpSkip(DmlpCursor* in, uint32_t count)
{
    in->ptr += count;
    in->count -= (int32_t)count;
}

void DmlpWriteU8(DmlpCursor* out, uint8_t value)
{
    *out->ptr = value;
    DmlpSkip(out, 1);
}

void DmlpWriteU16(DmlpCursor* out, uint16_t value)
{
    const uint16_t wire = DmlpHostToWire16(value);
    DmlpWriteBytes(out, &wire, sizeof wire);
}

void DmlpWriteU32(DmlpCursor* out, uint32_t value)
{
    const uint32_t wire = DmlpHostToWire32(value);
    DmlpWriteBytes(out, &wire, sizeof wire);
}

void DmlpWriteBytes(DmlpCursor* out, const void* source, uint32_t count)
{
    if (count != 0)
        memcpy(out->ptr, source, count);
    DmlpSkip(out, count);
}

// ---- Address form ------------------------------------------------------------------------------

DmlpCoderError DmlpAddressWireSize(uint16_t kind, uint16_t* size)
{
    uint8_t body;
    if (!DmlpAddressBodyLength(kind, &body)) {
        *size = 0;
        return DMLP_CODER_BAD_ARGUMENT;
    }
    *size = (uint16_t)(3 + body);
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpCheckAddressLength(const DmlpCursor* in)
{
    if (in->count < 3)
        return DMLP_CODER_TRUNCATED;
    uint16_t size;
    if (DmlpAddressWireSize((uint16_t)((in->ptr[0] << 8) | in->ptr[1]), &size) != DMLP_CODER_OK)
        return DMLP_CODER_BAD_ARGUMENT;
    return in->count < size ? DMLP_CODER_TRUNCATED : DMLP_CODER_OK;
}

DmlpCoderError DmlpReadAddress(DmlpCursor* in, DmlpAddress* address)
{
    const DmlpCoderError error = DmlpCheckAddressLength(in);
    if (error != DMLP_CODER_OK)
        return error;
    memset(address, 0, sizeof *address);
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECODE, 0, in, nullptr);
    DmlpWalkAddress(&walk, (uint8_t*)address);
    *in = walk.wire;
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpWriteAddress(DmlpCursor* out, const DmlpAddress* address)
{
    // Sized first: a field that does not fit its wire width (kinds 10 to 12 hold 64-bit fields)
    // is refused before anything is written.
    DmlpWalk sizing = DmlpWalkStart(DMLP_WALK_ENCSIZE, 0, nullptr, nullptr);
    if (DmlpWalkAddress(&sizing, (uint8_t*)address) != DMLP_CODER_OK)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_ENCODE, 0, out, nullptr);
    DmlpWalkAddress(&walk, (uint8_t*)address);
    *out = walk.wire;
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpSkipAddress(DmlpCursor* in, int32_t* bytesLeft)
{
    const DmlpCursor available = {in->ptr, *bytesLeft};
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECSIZE, 0, &available, nullptr);
    const DmlpCoderError error = DmlpWalkAddress(&walk, nullptr);
    if (error != DMLP_CODER_OK)
        return error;
    const uint32_t consumed = (uint32_t)(walk.wire.ptr - in->ptr);
    DmlpSkip(in, consumed);
    *bytesLeft -= (int32_t)consumed;
    return DMLP_CODER_OK;
}

// ---- Tagged eight-byte form --------------------------------------------------------------------

void DmlpWriteTaggedOctets(DmlpCursor* out, const DmlpTaggedOctets* octets)
{
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_ENCODE, 0, out, nullptr);
    DmlpWalkTagged(&walk, (uint8_t*)octets);
    *out = walk.wire;
}

DmlpCoderError DmlpReadTaggedOctets(DmlpCursor* in, DmlpTaggedOctets* octets)
{
    if (in->count < 9)
        return DMLP_CODER_TRUNCATED;
    memset(octets, 0, sizeof *octets);
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECODE, 0, in, nullptr);
    DmlpWalkTagged(&walk, (uint8_t*)octets);
    *in = walk.wire;
    return DMLP_CODER_OK;
}

// ---- Typed value -------------------------------------------------------------------------------

DmlpCoderError DmlpTypedValueWireLength(uint8_t type, uint8_t* length)
{
    if (type > 2)
        return DMLP_CODER_BAD_ARGUMENT;
    *length = type == 0 ? 0 : 4;
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpWriteTypedValue(DmlpCursor* out, DmlpTypedValue* typed)
{
    if (DmlpTypedValueWireLength(typed->type, &typed->length) != DMLP_CODER_OK)
        return DMLP_CODER_BAD_ARGUMENT;
    if (typed->length != 0 && typed->value == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpWriteU8(out, typed->type);
    DmlpWriteU8(out, typed->length);
    if (typed->length != 0) {
        uint32_t value;
        memcpy(&value, typed->value, sizeof value);
        DmlpWriteU32(out, value);
    }
    return DMLP_CODER_OK;
}

namespace {

// Memory a typed value takes: none for type 0, a uint32 slot for 1 and 2, else its raw bytes.
uint16_t TypedValueMemory(uint8_t type, uint8_t length)
{
    if (type == 0)
        return 0;
    return (uint16_t)DmlpRoundUp8(type <= 2 ? 8 : length);
}

} // namespace

DmlpCoderError DmlpSizeTypedValue(const DmlpCursor* in, uint16_t* memSize)
{
    if (in->count < 2)
        return DMLP_CODER_TRUNCATED;
    const uint8_t type = in->ptr[0];
    const uint8_t length = in->ptr[1];
    uint8_t expected;
    if (DmlpTypedValueWireLength(type, &expected) == DMLP_CODER_OK && length != expected)
        return DMLP_CODER_TRUNCATED;
    if (in->count - 2 < length)
        return DMLP_CODER_TRUNCATED;
    *memSize = TypedValueMemory(type, length);
    return DMLP_CODER_OK;
}

uint8_t* DmlpReadTypedValue(DmlpCursor* in, DmlpTypedValue* typed, void* memory)
{
    typed->type = DmlpReadU8(in);
    typed->length = DmlpReadU8(in);
    typed->value = nullptr;
    const uint16_t size = TypedValueMemory(typed->type, typed->length);
    if (size == 0)
        return (uint8_t*)memory;
    typed->value = memory;
    if (typed->type <= 2) {
        const uint32_t value = DmlpReadU32(in);
        memcpy(memory, &value, sizeof value);
    } else {
        DmlpReadBytes(in, memory, typed->length);
    }
    return (uint8_t*)memory + size;
}
