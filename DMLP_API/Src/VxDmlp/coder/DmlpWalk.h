// The value interpreter: one walk over a form serves the four passes of a value (encSize,
// encode, decSize, decode). Hand-written element hooks use the same primitives, so every form,
// described or hand-written, sizes exactly what it writes and measures exactly what it lays out.
#pragma once

#include <string.h>

#include "DmlpCoder.h"

typedef enum DmlpWalkMode {
    DMLP_WALK_ENCSIZE,  // memory -> wire bytes counted
    DMLP_WALK_ENCODE,   // memory -> wire bytes written
    DMLP_WALK_DECSIZE,  // wire checked -> memory counted (no memory exists: records are null)
    DMLP_WALK_DECODE,   // wire read -> memory laid out
} DmlpWalkMode;

struct DmlpWalk {
    uint8_t mode;        // DmlpWalkMode
    uint8_t version;     // header version for nested attribute lookups
    uint8_t depth;       // nesting levels entered (types 93, 143, 144)
    DmlpCursor wire;     // ENCODE: output; DECSIZE, DECODE: input
    uint32_t wireSize;   // ENCSIZE: bytes counted
    uint8_t* base;       // DECODE: the 8-aligned start of the memory
    uint32_t mem;        // DECSIZE, DECODE: next free offset from base, a multiple of 8
};

#define DMLP_REFUSE(walk, encodeCode, decodeCode) DmlpWalkRefuse(walk, encodeCode, decodeCode, __LINE__)
#define DMLP_TRY(call)                          \
    do {                                        \
        const DmlpCoderError tryError_ = (call); \
        if (tryError_ != DMLP_CODER_OK)         \
            return tryError_;                   \
    } while (0)

// Operations of a form, written as the wire carries them.
#define DMLP_U8(offset) {DMLP_OP_U8, 0, offset, nullptr}
#define DMLP_U16(offset) {DMLP_OP_U16, 0, offset, nullptr}
#define DMLP_U32(offset) {DMLP_OP_U32, 0, offset, nullptr}
#define DMLP_U32_AS_U64(offset) {DMLP_OP_U32_AS_U64, 0, offset, nullptr}
#define DMLP_BLOCK(offset, width) {DMLP_OP_BLOCK, width, offset, nullptr}
#define DMLP_N8(offset) {DMLP_OP_N8, 0, offset, nullptr}
#define DMLP_N16(offset) {DMLP_OP_N16, 0, offset, nullptr}
#define DMLP_TEXT(offset) {DMLP_OP_TEXT, 0, offset, nullptr}
#define DMLP_BYTES(offset) {DMLP_OP_BYTES, 0, offset, nullptr}
#define DMLP_ARRAY(offset, element) {DMLP_OP_ARRAY, 0, offset, &element}
#define DMLP_TAGGED(offset) {DMLP_OP_TAGGED, 0, offset, nullptr}
#define DMLP_ADDRESS(offset) {DMLP_OP_ADDRESS, 0, offset, nullptr}
#define DMLP_ATTRS(offset) {DMLP_OP_ATTRS, 0, offset, nullptr}
#define DMLP_OPS_COUNT(ops) ((uint8_t)(sizeof(ops) / sizeof((ops)[0])))
// A described form: NAME##Ops and NAME.
#define DMLP_FORM(name, size, countWidth, ...)             \
    const DmlpOp name##Ops[] = {__VA_ARGS__};              \
    const DmlpForm name = {size, countWidth, DMLP_OPS_COUNT(name##Ops), name##Ops, nullptr}
#define DMLP_HOOKED_FORM(name, size, countWidth, hook) const DmlpForm name = {size, countWidth, 0, nullptr, hook}

DmlpWalk DmlpWalkStart(uint8_t mode, uint8_t version, const DmlpCursor* wire, uint8_t* base);

inline bool DmlpWalkEncoding(const DmlpWalk* walk) { return walk->mode <= DMLP_WALK_ENCODE; }

// Pointers inside records sit at offsets that the compiler does not know to be aligned.
inline uint8_t* DmlpLoadPointer(const uint8_t* at)
{
    uint8_t* pointer;
    memcpy(&pointer, at, sizeof pointer);
    return pointer;
}

inline void DmlpStorePointer(uint8_t* at, const void* pointer) { memcpy(at, &pointer, sizeof pointer); }

// record + offset, or null for a null record (the records of a decSize walk).
inline uint8_t* DmlpWalkAt(uint8_t* record, uint32_t offset) { return record != nullptr ? record + offset : nullptr; }

// Trace and return the refusal: encodeCode while encoding, decodeCode while decoding.
DmlpCoderError DmlpWalkRefuse(DmlpWalk* walk, DmlpCoderError encodeCode, DmlpCoderError decodeCode, uint32_t line);

// While measuring, needs bytes left in the input (5 otherwise); the other passes check nothing.
DmlpCoderError DmlpWalkNeed(DmlpWalk* walk, uint64_t bytes);
// Reserves decoded memory at the free position, rounded up to 8, and gives its offset from base;
// a total over DMLP_SIZE_MAX is refused with 6.
DmlpCoderError DmlpWalkReserve(DmlpWalk* walk, uint64_t bytes, uint32_t* offset);
// An integer field. Encoding: the value is loaded from at (memWidth bytes) or, with at null,
// taken from *value; it must fit wireWidth. Decoding: read into *value and stored at at.
DmlpCoderError DmlpWalkField(DmlpWalk* walk, uint8_t* at, uint8_t wireWidth, uint8_t memWidth, uint32_t* value);
// count bytes as they stand, at at.
DmlpCoderError DmlpWalkBlock(DmlpWalk* walk, uint8_t* at, uint32_t count);
// n bytes of variable data behind the pointer at record + offset; decoding reserves n + extra.
DmlpCoderError DmlpWalkData(DmlpWalk* walk, uint8_t* record, uint32_t offset, uint32_t n, uint8_t extra);
// n elements behind the pointer at record + offset; decoding reserves n x reserveEach.
DmlpCoderError DmlpWalkArray(DmlpWalk* walk, uint8_t* record, uint32_t offset, uint32_t n, const DmlpForm* element,
                             uint32_t reserveEach);
DmlpCoderError DmlpWalkOps(DmlpWalk* walk, uint8_t* record, const DmlpOp* ops, uint32_t count);
DmlpCoderError DmlpWalkElement(DmlpWalk* walk, const DmlpForm* form, uint8_t* record);
// A value at value (encoding) or at the next free position (decoding).
DmlpCoderError DmlpWalkValue(DmlpWalk* walk, const DmlpForm* form, uint8_t* value, uint8_t multi);
// A value of another type (multi = 1) one nesting level down, behind the pointer at record + offset.
DmlpCoderError DmlpWalkNestedValue(DmlpWalk* walk, uint8_t* record, uint32_t offset, const DmlpForm* form);
// One attribute (id, length, value) into or from the DmlpAttributeEntry at entry.
DmlpCoderError DmlpWalkAttribute(DmlpWalk* walk, uint8_t* entry);
// list: a DmlpAttributeList (null while measuring); counted: a uint16 count on the wire, else one attribute.
DmlpCoderError DmlpWalkAttributeList(DmlpWalk* walk, uint8_t* list, uint8_t counted);
DmlpCoderError DmlpWalkAddress(DmlpWalk* walk, uint8_t* address);
DmlpCoderError DmlpWalkTagged(DmlpWalk* walk, uint8_t* octets);

// The body length of an address kind's form; false for a kind the form does not know.
bool DmlpAddressBodyLength(uint16_t kind, uint8_t* length);
