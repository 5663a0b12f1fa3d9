// The DMLP message coder: pure functions over a byte cursor, driven by static tables that map
// method ids, attribute ids, basic types, event ids, ExecuteMethod codes and header versions to
// the functions that size, write, measure and read each thing.
#pragma once

#include <stdint.h>

#include "VxDmlp.h"

// ---- Cursor and results ------------------------------------------------------------------------

// For reading, count is the bytes left; for writing, the room left. An output handed to the
// encoder may have a null pointer (the coder then allocates) and count = the buffer size.
typedef struct DmlpCursor {
    uint8_t* ptr;
    int32_t count;
} DmlpCursor;

typedef enum DmlpCoderError {
    DMLP_CODER_OK = 0,
    DMLP_CODER_BAD_ARGUMENT = 1,
    DMLP_CODER_NOT_A_MESSAGE = 2,
    DMLP_CODER_BAD_FIELD_INDEX = 3,
    DMLP_CODER_BAD_ADDRESS_KIND = 4,
    DMLP_CODER_TRUNCATED = 5,
    DMLP_CODER_NO_MEMORY = 6,
    DMLP_CODER_BUFFER_TOO_SMALL = 7,
    DMLP_CODER_UNKNOWN_VERSION = 8,
    DMLP_CODER_UNKNOWN_METHOD = 9,
    DMLP_CODER_UNKNOWN_ATTRIBUTE = 10,
    DMLP_CODER_UNKNOWN_EXEC_CODE = 11,
    DMLP_CODER_UNKNOWN_EVENT = 12,
    DMLP_CODER_UNKNOWN_BASIC_TYPE = 13,
} DmlpCoderError;

// Every size, value, body and decoded result is at most this many bytes.
#define DMLP_SIZE_MAX 65535u
// Values of types that nest values (93, 143, 144) nest at most this deep.
#define DMLP_MAX_NESTING 8

// What the engine hands to a reply decoder, one per reply.
typedef struct DmlpDecodeContext {
    void* result;        // the result record to fill; null: the decoder allocates it
    DmlpBuffer* held;    // the descriptor whose block this decode allocated, or null
    uint16_t status;     // the reply's header status; 6 after a failed decode
} DmlpDecodeContext;

// ---- Runtime (memory and byte order of the runtime library) ------------------------------------

void* DmlpAlloc(uint32_t size);
void DmlpFree(void* block);
// Allocate, copy min(oldSize, newSize) bytes, free the old block; null (old block kept) on failure.
void* DmlpRealloc(void* block, uint32_t oldSize, uint32_t newSize);
uint16_t DmlpHostToWire16(uint16_t value);
uint32_t DmlpHostToWire32(uint32_t value);
uint16_t DmlpWireToHost16(uint16_t value);
uint32_t DmlpWireToHost32(uint32_t value);

// ---- Value forms: one description per value type, one interpreter for all four passes ----------

typedef struct DmlpWalk DmlpWalk;
typedef struct DmlpForm DmlpForm;

// Operations of a form, each on the record at a memory offset, in wire order.
typedef enum DmlpOpKind {
    DMLP_OP_U8,         // uint8
    DMLP_OP_U16,        // uint16
    DMLP_OP_U32,        // uint32
    DMLP_OP_U32_AS_U64, // uint32 on the wire, uint64 in memory
    DMLP_OP_BLOCK,      // width bytes as they stand
    DMLP_OP_N8,         // uint8 count or length n, kept in a uint8
    DMLP_OP_N16,        // uint16 count or length n, kept in a uint16
    DMLP_OP_TEXT,       // n bytes; memory: pointer to them and a reserved zero byte
    DMLP_OP_BYTES,      // n bytes; memory: pointer to them
    DMLP_OP_ARRAY,      // n elements of the element form; memory: pointer to them side by side
    DMLP_OP_TAGGED,     // the tagged eight-byte form into a DmlpTaggedOctets
    DMLP_OP_ADDRESS,    // the address form into a DmlpAddress
    DMLP_OP_ATTRS,      // uint16 count, attributes (id, length, value); memory: a DmlpAttributeList
} DmlpOpKind;

typedef struct DmlpOp {
    uint8_t kind;              // DmlpOpKind
    uint8_t width;             // DMLP_OP_BLOCK: bytes
    uint16_t offset;           // in the record
    const DmlpForm* element;   // DMLP_OP_ARRAY: the element form
} DmlpOp;

// Walks one element hand-written with the walk primitives below (selector and nesting types).
typedef DmlpCoderError (*DmlpFormHook)(DmlpWalk* walk, uint8_t* record);

// A record (single-valued) or element (multi-valued) description.
struct DmlpForm {
    uint16_t size;        // bytes of the record or element in memory
    uint8_t countWidth;   // 0 single-valued; 1 uint8 count; 2 uint16 count
    uint8_t opCount;
    const DmlpOp* ops;
    DmlpFormHook hook;    // when set, walks each element instead of ops
};

// encSize: the exact wire bytes of a value (multi: count first for multi-valued forms).
DmlpCoderError DmlpValueEncSize(const DmlpForm* form, const void* value, uint8_t multi, uint16_t* size,
                                uint8_t version);
// encode: writes those bytes; only after encSize accepted the value.
void DmlpValueEncode(DmlpCursor* out, const DmlpForm* form, const void* value, uint8_t multi, uint8_t version);
// decSize: checks one value's wire form, moves the cursor past it and gives the decoded memory
// size (a multiple of 8). On failure the cursor stays.
DmlpCoderError DmlpValueDecSize(const DmlpForm* form, DmlpCursor* in, uint8_t multi, uint16_t* memSize,
                                uint8_t version);
// decode: lays out the value at memory (8-aligned, zeroed) and returns the next free 8-aligned
// address; only on bytes that decSize accepted with the same multi and version.
uint8_t* DmlpValueDecode(const DmlpForm* form, void* memory, DmlpCursor* in, uint8_t multi, uint8_t version);

// ---- Tables -------------------------------------------------------------------------------------

typedef DmlpCoderError (*DmlpEncFU)(DmlpHeader* header, const void* params, DmlpCursor* out);
typedef DmlpCoderError (*DmlpDecFU)(const DmlpHeader* header, DmlpDecodeContext* context, const DmlpCursor* body,
                                    const DmlpCursor* request);

// A method: its request-body encoder and reply-body decoder (null: none).
typedef struct DmlpMethodRow {
    uint16_t method;
    uint8_t versionKey;
    DmlpEncFU encode;
    DmlpDecFU decode;
} DmlpMethodRow;

// A value type: its attribute ids (ended by 0) and its form. The row's position is its number.
typedef struct DmlpValueTypeRow {
    const uint16_t* ids;
    uint8_t versionKey;
    const DmlpForm* form;
} DmlpValueTypeRow;

typedef struct DmlpBasicTypeRow {
    uint16_t type;
    uint8_t versionKey;
    const DmlpForm* form;
} DmlpBasicTypeRow;

// Event bodies: flag is 0 and not read; version serves the lookups of nested attribute lists.
typedef DmlpCoderError (*DmlpEventSizeFn)(DmlpCursor* body, uint8_t flag, uint16_t* memSize, uint8_t version);
typedef uint8_t* (*DmlpEventDecodeFn)(void* destination, DmlpCursor* body, uint8_t flag, uint8_t version);

typedef struct DmlpEventRow {
    uint16_t event;
    uint8_t versionKey;
    DmlpEventSizeFn size;
    DmlpEventDecodeFn decode;
} DmlpEventRow;

typedef DmlpCoderError (*DmlpExecEncSizeFn)(const void* params, uint16_t length, uint16_t* size);
typedef void (*DmlpExecEncodeFn)(DmlpCursor* out, const void* params, uint16_t length);
typedef DmlpCoderError (*DmlpExecDecSizeFn)(const DmlpCursor* reply, uint16_t* length, uint16_t* memSize);
typedef uint8_t* (*DmlpExecDecodeFn)(void* memory, DmlpCursor* reply);

typedef struct DmlpExecCodeRow {
    uint16_t code;
    uint8_t versionKey;
    DmlpExecEncSizeFn encSize;
    DmlpExecEncodeFn encode;
    DmlpExecDecSizeFn decSize;
    DmlpExecDecodeFn decode;
} DmlpExecCodeRow;

typedef struct DmlpVersionRow {
    uint8_t version;
    uint8_t headerLength;
    DmlpCoderError (*getField)(uint32_t index, const DmlpHeader* header, uint32_t* value);
    DmlpCoderError (*setField)(uint32_t index, DmlpHeader* header, uint32_t value);
    DmlpCoderError (*peekField)(uint32_t index, const uint8_t* bytes, int32_t count, uint32_t* value);
    DmlpCoderError (*patchField)(uint32_t index, uint8_t* bytes, int32_t count, uint32_t value);
    uint8_t* (*encodeHeader)(const DmlpHeader* header, uint8_t* out);
    const uint8_t* (*decodeHeader)(DmlpHeader* header, const uint8_t* in);
} DmlpVersionRow;

// Each table ends with a row whose id (or id list, or version) is 0.
extern const DmlpMethodRow DmlpMethodTable[];
extern const DmlpValueTypeRow DmlpValueTypeTable[];
extern const DmlpBasicTypeRow DmlpBasicTypeTable[];
extern const DmlpEventRow DmlpEventTable[];
extern const DmlpExecCodeRow DmlpExecCodeTable[];
extern const DmlpExecCodeRow DmlpExecCodeDefault;   // every code above DMLP_EXEC_CODE_RAW_ABOVE
extern const DmlpVersionRow DmlpVersionTable[];

#define DMLP_VALUE_TYPE_ROWS 151
#define DMLP_EXEC_CODE_RAW_ABOVE 0x1FFF

// Stores the table pointers; until it has run every lookup but DmlpFindVersion finds nothing.
bool DmlpCoderInitialize(void);

// First row whose id matches and whose key is 0 or the version; null when none.
const DmlpMethodRow* DmlpFindMethod(uint16_t method, uint8_t version);
const DmlpValueTypeRow* DmlpFindValueType(uint16_t attributeId, uint8_t version);
const DmlpBasicTypeRow* DmlpFindBasicType(uint16_t type, uint8_t version);
const DmlpEventRow* DmlpFindEvent(uint16_t event, uint8_t version);
const DmlpExecCodeRow* DmlpFindExecCode(uint16_t code, uint8_t version);
const DmlpVersionRow* DmlpFindVersion(uint8_t version);

// ---- Messages and headers -----------------------------------------------------------------------

// Encodes header + body through the method's encoder; the output's count becomes the length.
DmlpCoderError DmlpEncodeMessage(const DmlpHeader* header, const void* params, DmlpCursor* out);
// Decodes one whole frame: the header, then, when the reply-body rule says so, the body into
// context->result. request is the encoded request this reply answers, or null.
DmlpCoderError DmlpDecodeMessage(DmlpHeader* header, DmlpDecodeContext* context, const DmlpCursor* frame,
                                 const DmlpCursor* request);
// The reply-body rule: whether a reply with these header fields carries a body to decode, and
// the status the decode context then holds.
bool DmlpReplyHasBody(uint8_t flags, uint16_t status, uint16_t method, uint16_t* contextStatus);

DmlpCoderError DmlpEncodeHeader(const DmlpHeader* header, DmlpCursor* out);
DmlpCoderError DmlpDecodeHeader(DmlpHeader* header, const DmlpCursor* in);
DmlpCoderError DmlpGetHeaderField(uint32_t index, const DmlpHeader* header, uint32_t* value);
DmlpCoderError DmlpSetHeaderField(uint32_t index, DmlpHeader* header, const uint32_t* value);
DmlpCoderError DmlpPeekHeaderField(uint32_t index, const DmlpCursor* in, uint32_t* value);
DmlpCoderError DmlpPatchHeaderField(uint32_t index, DmlpCursor* message, const uint32_t* value);

// ---- The frame shared by body and value codecs ---------------------------------------------------

// Sets the header's body length, allocates the output when it has no pointer (or refuses one
// smaller than header + body with 7), writes the header and gives the body cursor behind it.
// A body over DMLP_SIZE_MAX is refused with 1.
DmlpCoderError DmlpBeginEncode(DmlpHeader* header, uint32_t bodyLength, DmlpCursor* out, DmlpCursor* body);
// Checks the body's minimum and gets (or allocates and zeroes) the result record.
DmlpCoderError DmlpBeginDecode(DmlpDecodeContext* context, const DmlpCursor* body, uint16_t minimum,
                               uint16_t recordSize, uint8_t* allocated);
// Gives buffer a zeroed block of size bytes (allocating, using, growing or refusing the caller's).
DmlpCoderError DmlpAllocResultBuffer(DmlpDecodeContext* context, DmlpBuffer* buffer, uint32_t size,
                                     uint8_t* allocated);
// Frees what a failed decode allocated; the context status becomes 6.
void DmlpDecodeCleanup(DmlpDecodeContext* context, uint8_t freeResult, uint8_t freeBuffer);

uint32_t DmlpRoundUp8(uint32_t size);
uint8_t* DmlpAlignPointer8(uint8_t* pointer);

// Refusal hook: does nothing; every refusal calls it with a level, a name and the source line.
void DmlpCoderTrace(uint8_t level, const char* name, uint32_t line);

#define DMLP_TRACE_CODER "DMLP Coder:"
#define DMLP_TRACE_VERSION "DMLP Coder (Version):"
#define DMLP_TRACE_ENCODE_SIZE "DMLP Encoder (Attribute Size):"
#define DMLP_TRACE_EVENT "DMLP Decoder (Event):"
#define DMLP_TRACE_ENCFU "DMLP Coder (EncFU):"
#define DMLP_TRACE_DECODE_SIZE "DMLP Decoder (Attribute Size):"
#define DMLP_TRACE_DECFU "DMLP Coder (DecFU):"
#define DMLP_TRACE_METHOD "DMLP Decoder (Method):"

// ---- Attribute lists ------------------------------------------------------------------------------

// Encode passes. counted = 0: list points to one DmlpAttributeEntry and no count is written;
// else to a DmlpAttributeList.
DmlpCoderError DmlpSizeEncodedAttributeList(const void* list, uint8_t counted, uint16_t* size, uint8_t version);
void DmlpEncodeAttributeList(DmlpCursor* out, const void* list, uint8_t counted, uint8_t version);
// Decode passes. The size pass counts 16 per entry and each value rounded to 8 (counted = 0: one
// attribute without a count); the decode pass puts the entries at memory, the values behind
// them, and returns the next free 8-aligned address.
DmlpCoderError DmlpSizeAttributeList(DmlpCursor* in, uint8_t counted, uint16_t* memSize, uint8_t version);
uint8_t* DmlpDecodeAttributeList(DmlpCursor* in, uint8_t counted, DmlpAttributeList* list, void* memory,
                                 uint8_t version);
// One attribute into entry, its value at valueMemory; returns the next free 8-aligned address.
uint8_t* DmlpDecodeAttribute(DmlpCursor* in, DmlpAttributeEntry* entry, void* valueMemory, uint8_t version);

// ---- Readers and writers ---------------------------------------------------------------------------

// None checks the count: sizes are settled before writing and checked before reading.
uint8_t DmlpReadU8(DmlpCursor* in);
uint16_t DmlpReadU16(DmlpCursor* in);
uint32_t DmlpReadU32(DmlpCursor* in);
uint8_t* DmlpReadBytes(DmlpCursor* in, void* destination, uint32_t count);
void DmlpReadU16Array(DmlpCursor* in, uint16_t* destination, uint32_t count);
void DmlpReadU32Array(DmlpCursor* in, uint32_t* destination, uint32_t count);
void DmlpSkip(DmlpCursor* in, uint32_t count);
void DmlpWriteU8(DmlpCursor* out, uint8_t value);
void DmlpWriteU16(DmlpCursor* out, uint16_t value);
void DmlpWriteU32(DmlpCursor* out, uint32_t value);
void DmlpWriteBytes(DmlpCursor* out, const void* source, uint32_t count);

// Address form: uint16 kind, uint8 body length, the kind's body.
DmlpCoderError DmlpAddressWireSize(uint16_t kind, uint16_t* size);
// Needs 3 bytes, then 3 + the kind's body length (5); unknown kind 1.
DmlpCoderError DmlpCheckAddressLength(const DmlpCursor* in);
// Checks as DmlpCheckAddressLength, then fills address (zeroed first) from the kind's body.
DmlpCoderError DmlpReadAddress(DmlpCursor* in, DmlpAddress* address);
// Writes the form of address; an unknown kind, or a field over its wire width, gives 1 and
// writes nothing.
DmlpCoderError DmlpWriteAddress(DmlpCursor* out, const DmlpAddress* address);
// Kind outside 1 to 15: 4; a length byte other than the kind's or a short body: 5.
DmlpCoderError DmlpSkipAddress(DmlpCursor* in, int32_t* bytesLeft);

// Tagged eight-byte form: uint8 tag, then tag 3 four uint16, tag 4 two uint32, else 8 bytes.
void DmlpWriteTaggedOctets(DmlpCursor* out, const DmlpTaggedOctets* octets);
// Needs 9 bytes (5).
DmlpCoderError DmlpReadTaggedOctets(DmlpCursor* in, DmlpTaggedOctets* octets);

// Typed value: uint8 type, uint8 length, value. Only types 0 (no value), 1 and 2 (uint32) are
// written; on reading types 3 and up carry length raw bytes.
typedef struct DmlpTypedValue {
    uint8_t type;
    uint8_t length;
    void* value;
} DmlpTypedValue;

DmlpCoderError DmlpTypedValueWireLength(uint8_t type, uint8_t* length);
// Stores the length into the record, then writes it; type 3 and up: 1.
DmlpCoderError DmlpWriteTypedValue(DmlpCursor* out, DmlpTypedValue* typed);
// Checks one typed value and gives its memory size (0, 8 or the length, rounded to 8).
DmlpCoderError DmlpSizeTypedValue(const DmlpCursor* in, uint16_t* memSize);
// Reads it; its value goes to memory; returns the next free 8-aligned address.
uint8_t* DmlpReadTypedValue(DmlpCursor* in, DmlpTypedValue* typed, void* memory);
