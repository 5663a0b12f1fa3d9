// The value interpreter and its primitives.
#include "DmlpWalk.h"

#include <string.h>

namespace {

uint64_t LoadUnsigned(const uint8_t* at, uint8_t width)
{
    switch (width) {
    case 1: return *at;
    case 2: { uint16_t v; memcpy(&v, at, 2); return v; }
    case 4: { uint32_t v; memcpy(&v, at, 4); return v; }
    default: { uint64_t v; memcpy(&v, at, 8); return v; }
    }
}

void StoreUnsigned(uint8_t* at, uint8_t width, uint32_t value)
{
    switch (width) {
    case 1: *at = (uint8_t)value; break;
    case 2: { uint16_t v = (uint16_t)value; memcpy(at, &v, 2); break; }
    case 4: memcpy(at, &value, 4); break;
    default: { uint64_t v = value; memcpy(at, &v, 8); break; }
    }
}

uint32_t ReadWire(DmlpCursor* in, uint8_t width)
{
    switch (width) {
    case 1: return DmlpReadU8(in);
    case 2: return DmlpReadU16(in);
    default: return DmlpReadU32(in);
    }
}

void WriteWire(DmlpCursor* out, uint8_t width, uint32_t value)
{
    switch (width) {
    case 1: DmlpWriteU8(out, (uint8_t)value); break;
    case 2: DmlpWriteU16(out, (uint16_t)value); break;
    default: DmlpWriteU32(out, value); break;
    }
}

// Counts wire bytes while sizing for encoding; a value over DMLP_SIZE_MAX cannot be sent.
DmlpCoderError AddWire(DmlpWalk* walk, uint64_t bytes)
{
    const uint64_t total = walk->wireSize + bytes;
    if (total > DMLP_SIZE_MAX)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
    walk->wireSize = (uint32_t)total;
    return DMLP_CODER_OK;
}

uint8_t* MemoryAt(const DmlpWalk* walk, uint32_t offset)
{
    return walk->mode == DMLP_WALK_DECODE ? walk->base + offset : nullptr;
}

// Values nest at most DMLP_MAX_NESTING levels below the outermost one.
DmlpCoderError RefuseDepth(DmlpWalk* walk)
{
    return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_TRUNCATED);
}

// Address bodies in memory: the fields of each kind from +8 of a DmlpAddress.
const DmlpOp kAddressInet[] = {DMLP_BLOCK(8, 4), DMLP_U16(12)};
const DmlpOp kAddressIpx[] = {DMLP_BLOCK(8, 6), DMLP_BLOCK(14, 4), DMLP_U16(18)};
const DmlpOp kAddress9707[] = {DMLP_U8(8), DMLP_BLOCK(9, 16)};
const DmlpOp kAddressKind7[] = {DMLP_U16(8), DMLP_U8(10), DMLP_U8(11)};
const DmlpOp kAddressKind8[] = {DMLP_BLOCK(8, 16)};
const DmlpOp kAddressKind9[] = {DMLP_BLOCK(8, 16), DMLP_U16(24)};
const DmlpOp kAddressPair64[] = {DMLP_U32_AS_U64(8), DMLP_U32_AS_U64(16)};
const DmlpOp kAddress9A21[] = {DMLP_U32(8), DMLP_U32_AS_U64(16)};
const DmlpOp kAddressKind15[] = {DMLP_U8(8), DMLP_BLOCK(9, 16), DMLP_U8(25)};

struct AddressBody {
    uint8_t length;   // body bytes on the wire
    uint8_t opCount;
    const DmlpOp* ops;
};
#define BODY(length, ops) {length, DMLP_OPS_COUNT(ops), ops}
const AddressBody kAddressBodies[16] = {
    {0, 0, nullptr},            // 0: unknown
    BODY(6, kAddressInet),      // 1
    BODY(6, kAddressInet),      // 2
    BODY(12, kAddressIpx),      // 3
    BODY(12, kAddressIpx),      // 4
    BODY(12, kAddressIpx),      // 5
    BODY(17, kAddress9707),     // 6
    BODY(4, kAddressKind7),     // 7
    BODY(16, kAddressKind8),    // 8
    BODY(18, kAddressKind9),    // 9
    BODY(8, kAddressPair64),    // 10
    BODY(8, kAddress9A21),      // 11
    BODY(8, kAddressPair64),    // 12
    {0, 0, nullptr},            // 13: no body
    BODY(6, kAddressInet),      // 14
    BODY(18, kAddressKind15),   // 15
};

bool KnownAddressKind(uint32_t kind) { return kind >= 1 && kind <= 15; }

} // namespace

DmlpCoderError DmlpWalkNeed(DmlpWalk* walk, uint64_t bytes)
{
    if (walk->mode == DMLP_WALK_DECSIZE && (uint64_t)walk->wire.count < bytes) {
        DmlpCoderTrace(9, DMLP_TRACE_DECODE_SIZE, __LINE__);
        return DMLP_CODER_TRUNCATED;
    }
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpWalkReserve(DmlpWalk* walk, uint64_t bytes, uint32_t* offset)
{
    const uint64_t end = ((uint64_t)walk->mem + bytes + 7) & ~(uint64_t)7;
    if (end > DMLP_SIZE_MAX) {
        DmlpCoderTrace(8, DMLP_TRACE_DECODE_SIZE, __LINE__);
        return DMLP_CODER_NO_MEMORY;
    }
    *offset = walk->mem;
    walk->mem = (uint32_t)end;
    return DMLP_CODER_OK;
}

bool DmlpAddressBodyLength(uint16_t kind, uint8_t* length)
{
    if (!KnownAddressKind(kind))
        return false;
    *length = kAddressBodies[kind].length;
    return true;
}

DmlpWalk DmlpWalkStart(uint8_t mode, uint8_t version, const DmlpCursor* wire, uint8_t* base)
{
    DmlpWalk walk;
    walk.mode = mode;
    walk.version = version;
    walk.depth = 0;
    walk.wire = wire != nullptr ? *wire : DmlpCursor{nullptr, 0};
    walk.wireSize = 0;
    walk.base = base;
    walk.mem = 0;
    return walk;
}

DmlpCoderError DmlpWalkRefuse(DmlpWalk* walk, DmlpCoderError encodeCode, DmlpCoderError decodeCode, uint32_t line)
{
    const bool encoding = DmlpWalkEncoding(walk);
    DmlpCoderTrace(7, encoding ? DMLP_TRACE_ENCODE_SIZE : DMLP_TRACE_DECODE_SIZE, line);
    return encoding ? encodeCode : decodeCode;
}

DmlpCoderError DmlpWalkField(DmlpWalk* walk, uint8_t* at, uint8_t wireWidth, uint8_t memWidth, uint32_t* value)
{
    switch (walk->mode) {
    case DMLP_WALK_ENCSIZE:
    case DMLP_WALK_ENCODE: {
        const uint64_t loaded = at != nullptr ? LoadUnsigned(at, memWidth) : *value;
        if ((loaded >> (8 * wireWidth)) != 0)
            return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
        *value = (uint32_t)loaded;
        if (walk->mode == DMLP_WALK_ENCSIZE)
            return AddWire(walk, wireWidth);
        WriteWire(&walk->wire, wireWidth, *value);
        return DMLP_CODER_OK;
    }
    case DMLP_WALK_DECSIZE:
        DMLP_TRY(DmlpWalkNeed(walk, wireWidth));
        *value = ReadWire(&walk->wire, wireWidth);
        return DMLP_CODER_OK;
    default:
        *value = ReadWire(&walk->wire, wireWidth);
        if (at != nullptr)
            StoreUnsigned(at, memWidth, *value);
        return DMLP_CODER_OK;
    }
}

DmlpCoderError DmlpWalkBlock(DmlpWalk* walk, uint8_t* at, uint32_t count)
{
    switch (walk->mode) {
    case DMLP_WALK_ENCSIZE: return AddWire(walk, count);
    case DMLP_WALK_ENCODE: DmlpWriteBytes(&walk->wire, at, count); return DMLP_CODER_OK;
    case DMLP_WALK_DECSIZE:
        DMLP_TRY(DmlpWalkNeed(walk, count));
        DmlpSkip(&walk->wire, count);
        return DMLP_CODER_OK;
    default:
        DmlpReadBytes(&walk->wire, at, count);
        return DMLP_CODER_OK;
    }
}

DmlpCoderError DmlpWalkData(DmlpWalk* walk, uint8_t* record, uint32_t offset, uint32_t n, uint8_t extra)
{
    if (n == 0)
        return DMLP_CODER_OK;
    if (DmlpWalkEncoding(walk)) {
        uint8_t* data = DmlpLoadPointer(record + offset);
        if (data == nullptr)
            return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
        return DmlpWalkBlock(walk, data, n);
    }
    DMLP_TRY(DmlpWalkNeed(walk, n));
    uint32_t at;
    DMLP_TRY(DmlpWalkReserve(walk, (uint64_t)n + extra, &at));
    if (walk->mode == DMLP_WALK_DECODE)
        DmlpStorePointer(record + offset, walk->base + at);
    return DmlpWalkBlock(walk, MemoryAt(walk, at), n);
}

DmlpCoderError DmlpWalkArray(DmlpWalk* walk, uint8_t* record, uint32_t offset, uint32_t n, const DmlpForm* element,
                             uint32_t reserveEach)
{
    if (n == 0)
        return DMLP_CODER_OK;
    if (DmlpWalkEncoding(walk)) {
        uint8_t* elements = DmlpLoadPointer(record + offset);
        if (elements == nullptr)
            return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
        for (uint32_t i = 0; i < n; ++i)
            DMLP_TRY(DmlpWalkElement(walk, element, elements + (size_t)i * element->size));
        return DMLP_CODER_OK;
    }
    uint32_t at;
    DMLP_TRY(DmlpWalkReserve(walk, (uint64_t)n * reserveEach, &at));
    if (walk->mode == DMLP_WALK_DECODE)
        DmlpStorePointer(record + offset, walk->base + at);
    for (uint32_t i = 0; i < n; ++i)
        DMLP_TRY(DmlpWalkElement(walk, element, MemoryAt(walk, at + i * element->size)));
    return DMLP_CODER_OK;
}

namespace {

// An attribute list inside a value: its values lie one nesting level down.
DmlpCoderError WalkNestedList(DmlpWalk* walk, uint8_t* list)
{
    ++walk->depth;
    const DmlpCoderError error = DmlpWalkAttributeList(walk, list, 1);
    --walk->depth;
    return error;
}

} // namespace

DmlpCoderError DmlpWalkOps(DmlpWalk* walk, uint8_t* record, const DmlpOp* ops, uint32_t count)
{
    uint32_t n = 0;   // the last count or length read
    for (uint32_t i = 0; i < count; ++i) {
        const DmlpOp* op = &ops[i];
        uint8_t* at = DmlpWalkAt(record, op->offset);
        uint32_t value = 0;
        switch (op->kind) {
        case DMLP_OP_U8: DMLP_TRY(DmlpWalkField(walk, at, 1, 1, &value)); break;
        case DMLP_OP_U16: DMLP_TRY(DmlpWalkField(walk, at, 2, 2, &value)); break;
        case DMLP_OP_U32: DMLP_TRY(DmlpWalkField(walk, at, 4, 4, &value)); break;
        case DMLP_OP_U32_AS_U64: DMLP_TRY(DmlpWalkField(walk, at, 4, 8, &value)); break;
        case DMLP_OP_BLOCK: DMLP_TRY(DmlpWalkBlock(walk, at, op->width)); break;
        case DMLP_OP_N8: DMLP_TRY(DmlpWalkField(walk, at, 1, 1, &n)); break;
        case DMLP_OP_N16: DMLP_TRY(DmlpWalkField(walk, at, 2, 2, &n)); break;
        case DMLP_OP_TEXT: DMLP_TRY(DmlpWalkData(walk, record, op->offset, n, 1)); break;
        case DMLP_OP_BYTES: DMLP_TRY(DmlpWalkData(walk, record, op->offset, n, 0)); break;
        case DMLP_OP_ARRAY:
            DMLP_TRY(DmlpWalkArray(walk, record, op->offset, n, op->element, op->element->size));
            break;
        case DMLP_OP_TAGGED: DMLP_TRY(DmlpWalkTagged(walk, at)); break;
        case DMLP_OP_ADDRESS: DMLP_TRY(DmlpWalkAddress(walk, at)); break;
        case DMLP_OP_ATTRS: DMLP_TRY(WalkNestedList(walk, at)); break;
        default: return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
        }
    }
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpWalkElement(DmlpWalk* walk, const DmlpForm* form, uint8_t* record)
{
    if (form->hook != nullptr)
        return form->hook(walk, record);
    return DmlpWalkOps(walk, record, form->ops, form->opCount);
}

DmlpCoderError DmlpWalkValue(DmlpWalk* walk, const DmlpForm* form, uint8_t* value, uint8_t multi)
{
    const bool counted = form->countWidth != 0 && multi != 0;
    uint8_t* record = value;
    if (!DmlpWalkEncoding(walk)) {
        uint32_t at;
        DMLP_TRY(DmlpWalkReserve(walk, counted ? 16 : form->size, &at));
        record = MemoryAt(walk, at);
    }
    if (!counted)
        return DmlpWalkElement(walk, form, record);
    uint32_t n;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), form->countWidth, form->countWidth, &n));
    return DmlpWalkArray(walk, record, 8, n, form, form->size);
}

DmlpCoderError DmlpWalkNestedValue(DmlpWalk* walk, uint8_t* record, uint32_t offset, const DmlpForm* form)
{
    if (walk->depth >= DMLP_MAX_NESTING)
        return RefuseDepth(walk);
    uint8_t* value = nullptr;
    if (DmlpWalkEncoding(walk)) {
        value = DmlpLoadPointer(record + offset);
        if (value == nullptr)
            return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
    } else if (walk->mode == DMLP_WALK_DECODE) {
        DmlpStorePointer(record + offset, walk->base + walk->mem);
    }
    ++walk->depth;
    const DmlpCoderError error = DmlpWalkValue(walk, form, value, 1);
    --walk->depth;
    return error;
}

namespace {

DmlpCoderError EncodeAttribute(DmlpWalk* walk, const DmlpAttributeEntry* entry)
{
    if (walk->depth > DMLP_MAX_NESTING)
        return RefuseDepth(walk);
    const DmlpValueTypeRow* row = DmlpFindValueType(entry->id, walk->version);
    if (row == nullptr)
        return DMLP_REFUSE(walk, DMLP_CODER_UNKNOWN_ATTRIBUTE, DMLP_CODER_UNKNOWN_ATTRIBUTE);
    uint8_t* value = (uint8_t*)entry->value;
    if (value == nullptr)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
    if (walk->mode == DMLP_WALK_ENCSIZE) {
        DMLP_TRY(AddWire(walk, 4));
        return DmlpWalkValue(walk, row->form, value, 1);
    }
    DmlpWalk sizing = DmlpWalkStart(DMLP_WALK_ENCSIZE, walk->version, nullptr, nullptr);
    sizing.depth = walk->depth;
    DMLP_TRY(DmlpWalkValue(&sizing, row->form, value, 1));
    DmlpWriteU16(&walk->wire, entry->id);
    DmlpWriteU16(&walk->wire, (uint16_t)sizing.wireSize);
    return DmlpWalkValue(walk, row->form, value, 1);
}

// A known id's value is decoded through its type (entry length 0); any other is kept raw.
DmlpCoderError DecodeAttribute(DmlpWalk* walk, uint8_t* entry)
{
    if (walk->depth > DMLP_MAX_NESTING)
        return RefuseDepth(walk);
    uint32_t id;
    uint32_t length;
    DMLP_TRY(DmlpWalkNeed(walk, 4));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, 0), 2, 2, &id));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, 2), 2, 2, &length));
    const DmlpValueTypeRow* row = DmlpFindValueType((uint16_t)id, walk->version);
    if (row == nullptr)
        return DmlpWalkData(walk, entry, 8, length, 0);
    if (entry != nullptr) {
        const uint16_t decoded = 0;
        memcpy(entry + 2, &decoded, 2);
        DmlpStorePointer(entry + 8, walk->base + walk->mem);
    }
    return DmlpWalkValue(walk, row->form, nullptr, 1);
}

} // namespace

DmlpCoderError DmlpWalkAttribute(DmlpWalk* walk, uint8_t* entry)
{
    if (DmlpWalkEncoding(walk))
        return EncodeAttribute(walk, (const DmlpAttributeEntry*)entry);
    return DecodeAttribute(walk, entry);
}

DmlpCoderError DmlpWalkAttributeList(DmlpWalk* walk, uint8_t* list, uint8_t counted)
{
    uint32_t n = 1;
    if (counted)
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(list, 0), 2, 2, &n));
    else if (walk->mode == DMLP_WALK_DECODE)
        StoreUnsigned(list, 2, 1);
    if (DmlpWalkEncoding(walk)) {
        const DmlpAttributeEntry* entries = (const DmlpAttributeEntry*)DmlpLoadPointer(list + 8);
        if (n != 0 && entries == nullptr)
            return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
        for (uint32_t i = 0; i < n; ++i)
            DMLP_TRY(EncodeAttribute(walk, &entries[i]));
        return DMLP_CODER_OK;
    }
    if (n == 0)
        return DMLP_CODER_OK;
    uint32_t at;
    DMLP_TRY(DmlpWalkReserve(walk, (uint64_t)n * sizeof(DmlpAttributeEntry), &at));
    if (walk->mode == DMLP_WALK_DECODE)
        DmlpStorePointer(list + 8, walk->base + at);
    for (uint32_t i = 0; i < n; ++i)
        DMLP_TRY(DecodeAttribute(walk, MemoryAt(walk, at + i * (uint32_t)sizeof(DmlpAttributeEntry))));
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpWalkAddress(DmlpWalk* walk, uint8_t* address)
{
    uint32_t kind;
    if (DmlpWalkEncoding(walk)) {
        kind = (uint32_t)LoadUnsigned(address, 2);
    } else {
        DMLP_TRY(DmlpWalkNeed(walk, 3));
        kind = ((uint32_t)walk->wire.ptr[0] << 8) | walk->wire.ptr[1];
    }
    if (!KnownAddressKind(kind))
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ADDRESS_KIND);
    const AddressBody* body = &kAddressBodies[kind];
    uint32_t length = body->length;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(address, 0), 2, 2, &kind));
    DMLP_TRY(DmlpWalkField(walk, nullptr, 1, 1, &length));
    if (walk->mode == DMLP_WALK_DECSIZE && length != body->length)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_TRUNCATED);
    return DmlpWalkOps(walk, address, body->ops, body->opCount);
}

DmlpCoderError DmlpWalkTagged(DmlpWalk* walk, uint8_t* octets)
{
    uint32_t tag;
    uint32_t value;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(octets, 0), 1, 1, &tag));
    if (tag == 3) {
        for (uint32_t i = 0; i < 4; ++i)
            DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(octets, 4 + 2 * i), 2, 2, &value));
        return DMLP_CODER_OK;
    }
    if (tag == 4) {
        for (uint32_t i = 0; i < 2; ++i)
            DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(octets, 4 + 4 * i), 4, 4, &value));
        return DMLP_CODER_OK;
    }
    return DmlpWalkBlock(walk, DmlpWalkAt(octets, 4), 8);
}
