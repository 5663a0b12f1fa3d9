// The in-memory form of every value type, field by field in wire order with its offset in the
// decoded record. Multi-valued types describe one element; the count width says how the count
// goes on the wire. Types whose fields depend on a selector byte or that nest other values walk
// their elements by hand with the same primitives.
#include "DmlpValueForms.h"

#include <string.h>

#include "DmlpWalk.h"

#define U8 DMLP_U8
#define U16 DMLP_U16
#define U32 DMLP_U32
#define BLOCK DMLP_BLOCK
#define N8 DMLP_N8
#define N16 DMLP_N16
#define TEXT DMLP_TEXT
#define BYTES DMLP_BYTES
#define ARRAY DMLP_ARRAY
#define TAGGED DMLP_TAGGED
#define ATTRS DMLP_ATTRS

DMLP_FORM(DmlpElementU16, 2, 0, U16(0));
DMLP_FORM(DmlpElementU32, 4, 0, U32(0));

namespace {

DMLP_FORM(kPairU32Element, 8, 0, U32(0), U32(4));

// Value type 1: an element whose first byte is 29 carries a uint16 in its last two bytes. It is
// sent as 0 and the fourth byte, and read as the two bytes as they stand.
const DmlpOp kTwoBytesAt2[] = {U8(2), U8(3)};

DmlpCoderError WalkValue1(DmlpWalk* walk, uint8_t* record)
{
    uint32_t kind;
    uint32_t value;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), 1, 1, &kind));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 1), 1, 1, &value));
    if (kind != 29)
        return DmlpWalkOps(walk, record, kTwoBytesAt2, DMLP_OPS_COUNT(kTwoBytesAt2));
    if (!DmlpWalkEncoding(walk))
        return DmlpWalkBlock(walk, DmlpWalkAt(record, 2), 2);
    value = record[3];
    return DmlpWalkField(walk, nullptr, 2, 2, &value);
}

// Value type 3, inner element {uint32, uint8 kind, three bytes}: the three bytes are sent as 0
// unless the kind uses them; they are read whatever the kind.
bool KindUsesTail(uint32_t kind)
{
    return (kind >= 2 && kind <= 4) || (kind >= 10 && kind <= 12) || kind == 15 || kind == 16 ||
           (kind >= 20 && kind <= 25);
}

DmlpCoderError WalkValue3Element(DmlpWalk* walk, uint8_t* record)
{
    uint32_t value;
    uint32_t kind;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), 4, 4, &value));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 4), 1, 1, &kind));
    const bool zeroTail = DmlpWalkEncoding(walk) && !KindUsesTail(kind);
    for (uint32_t offset = 5; offset < 8; ++offset) {
        value = 0;
        DMLP_TRY(DmlpWalkField(walk, zeroTail ? nullptr : DmlpWalkAt(record, offset), 1, 1, &value));
    }
    return DMLP_CODER_OK;
}

// Value type 27: kind 1 carries a uint16, other kinds a byte, a text, two 20-byte blocks and a
// byte; every kind ends with a uint16.
const DmlpOp kValue27Kind1[] = {U16(8)};
const DmlpOp kValue27Other[] = {U8(8), N8(16), TEXT(24), BLOCK(32, 20), BLOCK(52, 20), U8(72)};
const DmlpOp kValue27Tail[] = {U16(80)};

DmlpCoderError WalkValue27(DmlpWalk* walk, uint8_t* record)
{
    uint32_t kind;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), 1, 1, &kind));
    if (kind == 1)
        DMLP_TRY(DmlpWalkOps(walk, record, kValue27Kind1, DMLP_OPS_COUNT(kValue27Kind1)));
    else
        DMLP_TRY(DmlpWalkOps(walk, record, kValue27Other, DMLP_OPS_COUNT(kValue27Other)));
    return DmlpWalkOps(walk, record, kValue27Tail, DMLP_OPS_COUNT(kValue27Tail));
}

// The two record forms that value types 44 and 46 select with a form byte (27 and 41 wire bytes).
DMLP_FORM(kRecordForm1, 32, 0, U16(0), U32(4), U32(8), U8(12), U32(16), U32(20), U32(24), U32(28));
DMLP_FORM(kRecordForm2, 44, 0, U32(0), U32(4), U32(8), U32(12), U32(16), U32(20), U8(24), U32(28), U32(32),
          U32(36), U32(40));

// Reads the form byte at offset; only forms 1 and 2 exist.
DmlpCoderError WalkRecordForm(DmlpWalk* walk, uint8_t* record, uint32_t offset, const DmlpForm** form)
{
    uint32_t selector;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, offset), 1, 1, &selector));
    if (selector != 1 && selector != 2)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ADDRESS_KIND);
    *form = selector == 1 ? &kRecordForm1 : &kRecordForm2;
    return DMLP_CODER_OK;
}

// Value type 44: {uint8, uint16, uint8 form, uint8 n, n records of that form}.
const DmlpOp kValue44Head[] = {U8(0), U16(2)};

DmlpCoderError WalkValue44(DmlpWalk* walk, uint8_t* record)
{
    const DmlpForm* form;
    uint32_t n;
    DMLP_TRY(DmlpWalkOps(walk, record, kValue44Head, DMLP_OPS_COUNT(kValue44Head)));
    DMLP_TRY(WalkRecordForm(walk, record, 4, &form));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 5), 1, 1, &n));
    return DmlpWalkArray(walk, record, 8, n, form, form->size);
}

// Value type 46: {uint8, s8, uint8 form, one record of that form at +28, uint8, s8, uint8, uint8}.
const DmlpOp kValue46Head[] = {U8(0), N8(8), TEXT(16)};
const DmlpOp kValue46Tail[] = {U8(72), N8(80), BYTES(88), U8(96), U8(97)};

DmlpCoderError WalkValue46(DmlpWalk* walk, uint8_t* record)
{
    const DmlpForm* form;
    DMLP_TRY(DmlpWalkOps(walk, record, kValue46Head, DMLP_OPS_COUNT(kValue46Head)));
    DMLP_TRY(WalkRecordForm(walk, record, 24, &form));
    DMLP_TRY(DmlpWalkElement(walk, form, DmlpWalkAt(record, 28)));
    return DmlpWalkOps(walk, record, kValue46Tail, DMLP_OPS_COUNT(kValue46Tail));
}

// Value type 76: {cnt16 x uint16, uint32 selector, uint16 size L, address form of L bytes,
// uint32}. Only selector 7 and known address kinds are sent; L = 0 leaves the address zero.
const DmlpOp kValue76Head[] = {N16(0), ARRAY(8, DmlpElementU16)};
const DmlpOp kValue76Tail[] = {U32(56)};

// The size field must announce exactly the form of the kind that follows it.
DmlpCoderError CheckValue76AddressSize(DmlpWalk* walk, uint32_t size)
{
    if (walk->wire.count < 3)
        return DMLP_REFUSE(walk, DMLP_CODER_TRUNCATED, DMLP_CODER_TRUNCATED);
    uint16_t wholeSize;
    const uint16_t kind = (uint16_t)((walk->wire.ptr[0] << 8) | walk->wire.ptr[1]);
    if (DmlpAddressWireSize(kind, &wholeSize) != DMLP_CODER_OK)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ADDRESS_KIND);
    if (size != wholeSize)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_TRUNCATED);
    return DMLP_CODER_OK;
}

DmlpCoderError WalkValue76(DmlpWalk* walk, uint8_t* record)
{
    uint32_t selector;
    uint32_t size = 0;
    DMLP_TRY(DmlpWalkOps(walk, record, kValue76Head, DMLP_OPS_COUNT(kValue76Head)));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 16), 4, 4, &selector));
    uint8_t* address = DmlpWalkAt(record, 24);
    if (DmlpWalkEncoding(walk)) {
        uint16_t kind;
        uint16_t wholeSize;
        memcpy(&kind, address, sizeof kind);
        if (selector != 7 || DmlpAddressWireSize(kind, &wholeSize) != DMLP_CODER_OK)
            return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
        size = wholeSize;
    }
    DMLP_TRY(DmlpWalkField(walk, nullptr, 2, 2, &size));
    if (size != 0) {
        if (walk->mode == DMLP_WALK_DECSIZE)
            DMLP_TRY(CheckValue76AddressSize(walk, size));
        DMLP_TRY(DmlpWalkAddress(walk, address));
    }
    return DmlpWalkOps(walk, record, kValue76Tail, DMLP_OPS_COUNT(kValue76Tail));
}

// Value type 93: {uint16, uint16 attribute id, a value of that attribute's own type}.
DmlpCoderError WalkValue93(DmlpWalk* walk, uint8_t* record)
{
    uint32_t tag;
    uint32_t id;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), 2, 2, &tag));
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 2), 2, 2, &id));
    const DmlpValueTypeRow* row = DmlpFindValueType((uint16_t)id, walk->version);
    if (row == nullptr)
        return DMLP_REFUSE(walk, DMLP_CODER_UNKNOWN_ATTRIBUTE, DMLP_CODER_UNKNOWN_ATTRIBUTE);
    return DmlpWalkNestedValue(walk, record, 8, row->form);
}

// Value type 94, typed item (8 bytes): a kind byte, then the kind's fields from +2.
const DmlpOp kItemByte[] = {U8(2)};
const DmlpOp kItemFourBytes[] = {U8(2), U8(3), U8(4), U8(5)};
const DmlpOp kItemByteWord[] = {U8(2), U16(4)};
const DmlpOp kItemByteWordByte[] = {U8(2), U16(4), U8(6)};
const DmlpOp kItemByteWordTwoBytes[] = {U8(2), U16(4), U8(6), U8(7)};

DmlpCoderError WalkValue94Item(DmlpWalk* walk, uint8_t* record)
{
    uint32_t kind;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), 1, 1, &kind));
    switch (kind) {
    case 1: return DMLP_CODER_OK;
    case 3:
    case 4:
    case 6: return DmlpWalkOps(walk, record, kItemByte, DMLP_OPS_COUNT(kItemByte));
    case 5: return DmlpWalkOps(walk, record, kItemFourBytes, DMLP_OPS_COUNT(kItemFourBytes));
    case 7: return DmlpWalkOps(walk, record, kItemByteWord, DMLP_OPS_COUNT(kItemByteWord));
    case 8: return DmlpWalkOps(walk, record, kItemByteWordTwoBytes, DMLP_OPS_COUNT(kItemByteWordTwoBytes));
    case 9: return DmlpWalkOps(walk, record, kItemByteWordByte, DMLP_OPS_COUNT(kItemByteWordByte));
    default: return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
    }
}

// Value type 151: form 1 carries one uint16 (sent from +8, dropped when read); forms 2 and 3 a
// cnt16 list of 12-byte elements, measured at 16 bytes each; other forms do not exist.
DMLP_FORM(kValue151Element, 12, 0, U32(0), U16(4), U32(8));

DmlpCoderError WalkValue151(DmlpWalk* walk, uint8_t* record)
{
    uint32_t form;
    uint32_t n;
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 0), 1, 1, &form));
    if (form == 1)
        return DmlpWalkField(walk, DmlpWalkEncoding(walk) ? record + 8 : nullptr, 2, 2, &n);
    if (form != 2 && form != 3)
        return DMLP_REFUSE(walk, DMLP_CODER_BAD_ARGUMENT, DMLP_CODER_BAD_ARGUMENT);
    DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(record, 8), 2, 2, &n));
    return DmlpWalkArray(walk, record, 16, n, &kValue151Element, 16);
}

} // namespace

DMLP_HOOKED_FORM(DmlpValueForm1, 4, 1, WalkValue1);
DMLP_FORM(DmlpValueForm2, 40, 0, U8(0), U8(1), U8(2), U8(3), N8(8), TEXT(16), U8(24), U8(25), U16(26), U32(28),
          U32(32), U8(36));
DMLP_HOOKED_FORM(kValue3Element, 8, 0, WalkValue3Element);
DMLP_FORM(DmlpValueForm3, 24, 1, U8(0), N8(8), ARRAY(16, kValue3Element));
DMLP_FORM(DmlpValueForm4, 8, 0, U8(0));
DMLP_FORM(DmlpValueForm5, 8, 0, U8(0), U8(1));
DMLP_FORM(DmlpValueForm6, 2, 1, U8(0), U8(1));
DMLP_FORM(DmlpValueForm7, 8, 0, U8(0), U8(1), U8(2));
DMLP_FORM(DmlpValueForm8, 3, 1, U8(0), U8(1), U8(2));
DMLP_FORM(DmlpValueForm9, 8, 0, U8(0), U8(1), U8(2), U8(3));
DMLP_FORM(DmlpValueForm10, 4, 1, U8(0), U8(1), U8(2), U8(3));
DMLP_FORM(DmlpValueForm11, 8, 0, U8(0), U8(1), U8(2), U8(3), U8(4));
DMLP_FORM(DmlpValueForm12, 5, 1, U8(0), U8(1), U8(2), U8(3), U8(4));
DMLP_FORM(DmlpValueForm13, 1, 1, U8(0));
DMLP_FORM(DmlpValueForm14, 104, 0, U8(0), U8(8), N8(16), BYTES(24), U8(32), N8(40), BYTES(48), U8(56), N8(64), BYTES(72),
          U8(80), N8(88), BYTES(96));
DMLP_FORM(DmlpValueForm15, 24, 0, N8(0), ARRAY(8, DmlpElementU16), U16(16));
DMLP_FORM(kValue16Element, 16, 0, U32(0), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm16, 32, 2, U16(0), U32(4), U32(8), U32(12), N8(16), ARRAY(24, kValue16Element));
DMLP_FORM(kValue17Element, 8, 0, U8(0), U32(4));
DMLP_FORM(DmlpValueForm17, 56, 0, U8(0), U8(1), U32(4), U32(8), U32(12), U32(16), N8(24), ARRAY(32, kValue17Element),
          N8(40), BYTES(48));
DMLP_FORM(DmlpValueForm18, 24, 1, U16(0), U32(4), N8(8), BYTES(16));
DMLP_FORM(DmlpValueForm19, 12, 1, U8(0), U8(1), U32(4), U32(8));
DMLP_FORM(DmlpValueForm20, 32, 0, U8(0), U16(8), N8(10), TEXT(16), U8(24), U8(25), U32(28));
DMLP_FORM(DmlpValueForm21, 16, 1, U8(0), U8(1), U8(2), U16(4), U32(8), U32(12));
DMLP_FORM(DmlpValueForm22, 40, 0, U8(0), N8(8), TEXT(16), N8(24), TEXT(32));
DMLP_FORM(DmlpValueForm23, 48, 1, U8(0), N8(8), TEXT(16), N8(24), TEXT(32), U8(40));
DMLP_FORM(DmlpValueForm24, 24, 0, U8(0), N8(8), ARRAY(16, DmlpElementU16));
DMLP_FORM(kValue25Element, 4, 0, U16(0), U8(2));
DMLP_FORM(DmlpValueForm25, 24, 1, U8(0), N8(8), ARRAY(16, kValue25Element));
// The inner elements are {uint16, uint16}, 4 bytes each, as on the wire.
DMLP_FORM(kValue26Element, 4, 0, U16(0), U16(2));
DMLP_FORM(DmlpValueForm26, 24, 2, U16(0), N8(8), ARRAY(16, kValue26Element));
DMLP_HOOKED_FORM(DmlpValueForm27, 88, 2, WalkValue27);
DMLP_FORM(DmlpValueForm28, 20, 1, U8(0), U8(1), U32(4), U32(8), U32(12), U32(16));
DMLP_FORM(DmlpValueForm29, 16, 0, U8(0), U8(1), U8(2), U32(4), U32(8));
DMLP_FORM(DmlpValueForm30, 8, 1, U32(0), U8(4), U8(5));
DMLP_FORM(DmlpValueForm31, 32, 0, U16(0), U8(2), U32(4), U32(8), U8(12), U8(16), U32(20), U8(24), U32(28));
// The second byte string is measured with a spare byte, as a text is.
DMLP_FORM(DmlpValueForm32, 48, 0, U8(0), U16(8), N8(10), TEXT(16), U8(24), N8(32), TEXT(40));
DMLP_FORM(DmlpValueForm33, 80, 1, U8(0), U16(8), N8(10), TEXT(16), U8(24), U32(28), U32(32), U32(36), U32(40),
          N8(48), BYTES(56), N8(64), BYTES(72));
DMLP_FORM(DmlpValueForm34, 16, 1, U8(0), U8(1), U16(2), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm35, 4, 1, U8(0), U8(1), U16(2));
DMLP_FORM(DmlpValueForm36, 6, 2, U8(0), U8(1), U16(2), U8(4));
DMLP_FORM(DmlpValueForm37, 24, 1, U8(0), U32(4), U32(8), U32(12), U32(16), U32(20));
DMLP_FORM(DmlpValueForm38, 32, 2, U8(0), U16(8), N8(10), TEXT(16), U16(24), U16(26), U16(28));
DMLP_FORM(DmlpValueForm39, 32, 0, U8(0), U16(2), U16(4), U16(6), U16(8), U16(10), U16(12), U32(16), U32(20), U8(24));
DMLP_FORM(DmlpValueForm40, 24, 1, U8(0), U16(2), U16(4), U16(6), U16(8), U16(10), U16(12), U16(14), U16(16), U16(18),
          U16(20), U8(22));
DMLP_FORM(DmlpValueForm41, 40, 1, U32(0), N8(8), TEXT(16), U8(24), U8(25), TAGGED(28));
DMLP_FORM(DmlpValueForm42, 24, 0, U8(0), U8(1), N8(8), TEXT(16));
DMLP_FORM(DmlpValueForm43, 24, 1, U8(0), U8(1), N8(8), TEXT(16));
DMLP_HOOKED_FORM(DmlpValueForm44, 16, 1, WalkValue44);
DMLP_FORM(DmlpValueForm45, 56, 1, U8(0), U16(8), N8(10), TEXT(16), U8(24), N8(32), BYTES(40), U8(48), U32(52));
DMLP_HOOKED_FORM(DmlpValueForm46, 104, 1, WalkValue46);
DMLP_FORM(kValue47Element, 16, 0, U8(0), U8(1), U16(2), U32(4), U32(8), U8(12), U8(13));
DMLP_FORM(DmlpValueForm47, 24, 1, U8(0), N8(8), ARRAY(16, kValue47Element));
DMLP_FORM(DmlpValueForm48, 20, 1, U8(0), U8(1), U8(2), U8(3), U16(4), U32(8), U32(12), U8(16), U8(17), U8(18), U8(19));
DMLP_FORM(DmlpValueForm49, 6, 1, U8(0), U8(1), U8(2), U16(4));
DMLP_FORM(DmlpValueForm50, 8, 1, U8(0), U8(1), U32(4));
DMLP_FORM(DmlpValueForm51, 56, 1, U8(0), U16(8), N8(10), TEXT(16), U8(24), N8(32), BYTES(40), U8(48));
DMLP_FORM(DmlpValueForm52, 64, 0, U8(0), U8(1), U8(2), N8(8), ARRAY(16, DmlpElementU16), U8(24), U8(25), N8(32),
          TEXT(40), U8(48), U8(49), U16(50), U32(52), U32(56), U8(60));
DMLP_FORM(DmlpValueForm53, 24, 0, U8(0), U8(1), N8(8), BYTES(16));
DMLP_FORM(DmlpValueForm54, 24, 0, U8(0), U8(1), U8(2), N8(8), BYTES(16));
DMLP_FORM(kValue55Element, 8, 0, U8(0), U32(4));
DMLP_FORM(DmlpValueForm55, 64, 0, U8(0), U8(1), U32(4), U32(8), U32(12), U32(16), N8(24), ARRAY(32, kValue55Element),
          U8(40), N8(48), BYTES(56));
DMLP_FORM(DmlpValueForm56, 8, 0, BLOCK(0, 2), BLOCK(2, 2), U16(4));
DMLP_FORM(DmlpValueForm57, 6, 1, BLOCK(0, 2), BLOCK(2, 2), U16(4));
DMLP_FORM(DmlpValueForm58, 24, 1, N16(0), ARRAY(8, DmlpElementU16), U32(16), U32(20));
DMLP_FORM(DmlpValueForm59, 8, 0, U32(0));
DMLP_FORM(DmlpValueForm60, 8, 0, U32(0), U32(4));
DMLP_FORM(DmlpValueForm61, 8, 2, U32(0), U32(4));
DMLP_FORM(DmlpValueForm62, 12, 1, U32(0), U32(4), U8(8));
DMLP_FORM(DmlpValueForm63, 16, 0, U32(0), U32(4), U32(8));
DMLP_FORM(DmlpValueForm64, 16, 0, U32(0), U32(4), U32(8), U32(12));
DMLP_FORM(DmlpValueForm65, 24, 0, U32(0), U32(4), U32(8), U32(12), U8(16));
DMLP_FORM(DmlpValueForm66, 4, 1, U32(0));
DMLP_FORM(DmlpValueForm67, 4, 2, U32(0));
DMLP_FORM(DmlpValueForm68, 16, 0, U32(0), U32(4), U8(8));
DMLP_FORM(DmlpValueForm69, 8, 0, U32(0), U8(4));
DMLP_FORM(DmlpValueForm70, 8, 1, U32(0), U8(4));
DMLP_FORM(DmlpValueForm71, 16, 0, U8(0), U8(1), U16(2), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm72, 6, 2, U8(0), U8(1), U16(2), U8(4));
DMLP_FORM(DmlpValueForm73, 4, 2, U8(0), U16(2));
DMLP_FORM(DmlpValueForm74, 8, 0, U8(0), U16(2));
DMLP_FORM(DmlpValueForm75, 72, 1, U8(0), N8(8), TEXT(16), BLOCK(24, 20), BLOCK(44, 20), U8(64));
DMLP_HOOKED_FORM(DmlpValueForm76, 64, 1, WalkValue76);
DMLP_FORM(DmlpValueForm77, 32, 1, U16(0), N8(8), BYTES(16), U8(24));
DMLP_FORM(DmlpValueForm78, 48, 2, U8(0), U16(8), N8(10), TEXT(16), U16(24), U16(26), U16(28), U8(30), TAGGED(32));
DMLP_FORM(DmlpValueForm79, 32, 0, U8(0), U8(1), N8(8), TEXT(16), U8(24), U8(25));
DMLP_FORM(DmlpValueForm80, 72, 1, U8(0), U16(8), N8(10), TEXT(16), U8(24), N8(32), BYTES(40), U32(48), U32(52),
          U32(56), U32(60), U32(64));
DMLP_FORM(DmlpValueForm81, 56, 1, U8(0), N8(8), TEXT(16), U8(24), U16(26), U8(28), N8(32), BYTES(40), U8(48));
DMLP_FORM(DmlpValueForm82, 64, 1, U8(0), U16(8), N8(10), TEXT(16), N8(24), BYTES(32), N8(40), BYTES(48), U8(56));
DMLP_FORM(DmlpValueForm83, 16, 0, U8(0), U32(4), U8(8), U32(12));
DMLP_FORM(DmlpValueForm84, 32, 0, U8(0), N8(8), ARRAY(16, DmlpElementU16), U32(24));
DMLP_FORM(DmlpValueForm85, 64, 1, U8(0), U16(8), N8(10), TEXT(16), U8(24), U32(28), U32(32), U32(36), U32(40),
          N8(48), BYTES(56));
DMLP_FORM(DmlpValueForm86, 16, 1, U8(0), U8(1), U16(2), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm87, 8, 2, U8(0), U32(4));
DMLP_FORM(DmlpValueForm88, 16, 0, U16(0), U8(2), U32(4), U32(8));
DMLP_FORM(DmlpValueForm89, 8, 1, U8(0), U32(4));
DMLP_FORM(DmlpValueForm90, 8, 0, U8(0), U16(2), U16(4));
DMLP_FORM(DmlpValueForm91, 6, 1, U8(0), U16(2), U16(4));
DMLP_FORM(DmlpValueForm92, 8, 1, U8(0), U16(2), U16(4), U8(6));
DMLP_HOOKED_FORM(DmlpValueForm93, 16, 1, WalkValue93);
DMLP_HOOKED_FORM(kValue94Item, 8, 0, WalkValue94Item);
DMLP_FORM(DmlpValueForm94, 40, 1, U8(0), N8(8), ARRAY(16, kPairU32Element), N8(24), ARRAY(32, kValue94Item));
DMLP_FORM(DmlpValueForm95, 8, 0, U8(0), U8(1), U16(2));
DMLP_FORM(DmlpValueForm96, 16, 0, U8(0), U16(2), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm97, 20, 1, U8(0), U16(2), U32(4), U32(8), U8(12), U8(16));
DMLP_FORM(DmlpValueForm98, 8, 0, U8(0), U32(4));
DMLP_FORM(DmlpValueForm99, 16, 0, U8(0), U8(1), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm100, 8, 0, U16(0));
DMLP_FORM(DmlpValueForm101, 8, 0, U16(0), U16(2));
DMLP_FORM(DmlpValueForm102, 4, 1, U16(0), U16(2));
DMLP_FORM(DmlpValueForm104, 8, 0, U16(0), U16(2), U16(4));
DMLP_FORM(DmlpValueForm105, 8, 0, U16(0), U16(2), U16(4), U16(6));
DMLP_FORM(DmlpValueForm106, 16, 0, U16(0), U16(2), U16(4), U16(6), U8(8));
DMLP_FORM(DmlpValueForm107, 8, 0, U16(0), U16(2), U8(4));
DMLP_FORM(DmlpValueForm108, 2, 1, U16(0));
DMLP_FORM(DmlpValueForm109, 2, 2, U16(0));
DMLP_FORM(DmlpValueForm111, 4, 1, U16(0), U8(2));
DMLP_FORM(DmlpValueForm112, 4, 2, U16(0), U8(2));
DMLP_FORM(DmlpValueForm113, 40, 0, U8(0), U32(4), U8(8), U32(12), U32(16), N8(24), ARRAY(32, DmlpElementU32));
DMLP_FORM(DmlpValueForm114, 16, 0, BLOCK(0, 16));
DMLP_FORM(DmlpValueForm115, 24, 0, BLOCK(0, 20));
DMLP_FORM(DmlpValueForm116, 48, 0, BLOCK(0, 48));
DMLP_FORM(DmlpValueForm117, 16, 0, N16(0), TEXT(8));
DMLP_FORM(DmlpValueForm118, 16, 0, N8(0), TEXT(8));
DMLP_FORM(DmlpValueForm119, 16, 0, U16(0), N8(2), TEXT(8));
DMLP_FORM(DmlpValueForm120, 16, 1, U16(0), N8(2), TEXT(8));
DMLP_FORM(DmlpValueForm121, 8, 1, U8(0), U8(1), U16(2), U8(4), U8(5), U16(6));
DMLP_FORM(DmlpValueForm122, 64, 0, U8(0), U8(1), N16(8), ARRAY(16, DmlpElementU16), U32(24), U8(28), U8(29), N8(32),
          TEXT(40), U8(48), U8(49), U16(50), U32(52), U32(56), U8(60));
DMLP_FORM(DmlpValueForm123, 8, 0, U16(0), U16(2), U8(4));
DMLP_FORM(DmlpValueForm124, 12, 2, U32(0), U32(4), U8(8));
DMLP_FORM(DmlpValueForm125, 8, 2, U32(0), U8(4));
DMLP_FORM(DmlpValueForm126, 8, 0, U16(0), U8(2));
DMLP_FORM(DmlpValueForm127, 24, 0, U32(0), U16(4), U16(6), BLOCK(8, 8), U16(16));
DMLP_FORM(DmlpValueForm128, 24, 1, U8(0), U16(8), N8(10), TEXT(16));
DMLP_FORM(DmlpValueForm129, 8, 0, U8(0), U8(1), U8(2), U8(3), U8(4));
DMLP_FORM(DmlpValueForm130, 32, 0, U32(0), U32(4), U32(8), U32(12), U32(16), U32(20), U32(24), U32(28));
DMLP_FORM(DmlpValueForm131, 24, 0, U32(0), U32(4), U32(8), U32(12), U8(16), U8(17));
DMLP_FORM(DmlpValueForm132, 8, 1, U8(0), U32(4));
DMLP_FORM(DmlpValueForm133, 24, 0, U8(0), U32(4), U8(12), U8(13), U16(14), U8(16), U8(17));
DMLP_FORM(DmlpValueForm134, 16, 0, U8(0), U16(2), U32(4), U8(8), U8(9), U16(10), U8(12), U8(13));
DMLP_FORM(DmlpValueForm135, 16, 0, U8(0), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm136, 16, 0, U8(0), U8(1), U32(4), U32(8));
DMLP_FORM(DmlpValueForm137, 8, 1, U8(0), U8(1), U8(2), U8(3), U32(4));
DMLP_FORM(DmlpValueForm138, 16, 0, U32(0), U32(4), U8(8));
DMLP_FORM(DmlpValueForm139, 64, 0, U32(0), U16(4), U16(6), BLOCK(8, 8), BLOCK(16, 48));
DMLP_FORM(DmlpValueForm140, 16, 0, U32(0), U32(4), U32(8), U8(12));
DMLP_FORM(DmlpValueForm141, 8, 0, U8(0), U16(2));
DMLP_FORM(DmlpValueForm142, 16, 0, BLOCK(0, 12));
DMLP_FORM(DmlpValueForm143, 48, 0, U8(0), U8(1), N8(8), ARRAY(16, DmlpElementU32), U32(24), U8(28), ATTRS(32));
DMLP_FORM(DmlpValueForm144, 48, 0, U8(0), U8(1), U8(2), N8(8), ARRAY(16, DmlpElementU32), U32(24), ATTRS(32));
DMLP_FORM(DmlpValueForm145, 56, 1, U8(0), U16(8), N8(10), TEXT(16), U8(24), N8(32), BYTES(40), U8(48));
DMLP_FORM(DmlpValueForm146, 20, 1, U8(0), U8(2), U8(3), U16(4), U32(8), U32(12), U8(16), U8(17), U8(18));
DMLP_FORM(kValue147Element, 8, 0, U16(0), U8(2), U8(3), U32(4));
DMLP_FORM(DmlpValueForm147, 24, 0, U8(0), N8(8), ARRAY(16, kValue147Element));
DMLP_FORM(DmlpValueForm148, 24, 1, U32(0), U32(4), U16(8), N8(10), TEXT(16));
DMLP_FORM(DmlpValueForm149, 16, 0, U16(0), N16(2), TEXT(8));
DMLP_FORM(DmlpValueForm150, 24, 1, U8(0), N8(8), BYTES(16));
DMLP_HOOKED_FORM(DmlpValueForm151, 24, 0, WalkValue151);

DMLP_FORM(DmlpBasicForm20, 16, 0, U16(0), U16(2), U16(4), U16(6), U16(8), U16(10));
DMLP_FORM(DmlpBasicForm22, 1, 2, U8(0));
DMLP_FORM(DmlpBasicForm23, 16, 0, U16(0), U16(2), U16(4), U16(6), U16(8), U16(10), U16(12), U16(14));
