// Request bodies: one layout per body, written as the fields of the method's parameter record in
// body order, and one interpreter that walks a layout twice, sizing the body (every refusal
// happens there) and then writing it into the output that DmlpBeginEncode gives.
#include "DmlpBodies.h"
#include "DmlpValueForms.h"

namespace {

enum RequestOpKind : uint8_t {
    REQ_U8,       // uint8 at offset
    REQ_U16,      // uint16 at offset
    REQ_U32,      // uint32 at offset
    REQ_BLOCK,    // arg bytes at offset as they stand
    REQ_S8,       // uint8 length (arg bytes wide in memory) at offset, the bytes behind the pointer at ref
    REQ_LIST,     // count (arg: its width, REQ_NOT_EMPTY) at offset, elements (aux bytes each) at ref
    REQ_ATTRS,    // uint16 count at offset, DmlpAttributeEntry entries at ref: attributes with lengths
    REQ_ADDRESS,  // the address form of the DmlpAddress at offset
    REQ_VALUE,    // the value behind the pointer at offset, of the attribute whose id is at ref (arg: multi)
    REQ_BASIC,    // the value behind the pointer at offset, of the basic type at ref (arg: multi)
    REQ_TYPED,    // typed value: type at offset, the uint32 behind the pointer at ref
    REQ_RAW,      // the bytes behind the pointer at offset, their uint16 count at ref
    REQ_EXEC,     // ExecuteMethod parameters: code at offset, parameter record at ref, length at aux
    REQ_SELECT,   // by the uint8 at offset, the ops of the matching case
};

#define REQ_NOT_EMPTY 0x80

struct RequestCase;

struct RequestOp {
    uint8_t kind;
    uint8_t arg;
    uint16_t offset;
    uint16_t ref;
    uint16_t aux;
    const void* sub;   // REQ_LIST: the element's RequestOps; REQ_SELECT: the RequestCases
    uint8_t subCount;
};

struct RequestCase {
    uint8_t selector;
    uint8_t opCount;
    const RequestOp* ops;
};

#define AT(Record, field) ((uint16_t)offsetof(Record, field))
#define R_U8(at) {REQ_U8, 0, at, 0, 0, nullptr, 0}
#define R_U16(at) {REQ_U16, 0, at, 0, 0, nullptr, 0}
#define R_U32(at) {REQ_U32, 0, at, 0, 0, nullptr, 0}
#define R_BLOCK(at, width) {REQ_BLOCK, width, at, 0, 0, nullptr, 0}
#define R_S8(at, lengthWidth, data) {REQ_S8, lengthWidth, at, data, 0, nullptr, 0}
#define R_LIST(count, width, items, element, itemSize) \
    {REQ_LIST, width, count, items, itemSize, element, DMLP_OPS_COUNT(element)}
#define R_ATTRS(count, entries) {REQ_ATTRS, 0, count, entries, 0, nullptr, 0}
#define R_ADDRESS(at) {REQ_ADDRESS, 0, at, 0, 0, nullptr, 0}
#define R_VALUE(value, id, multi) {REQ_VALUE, multi, value, id, 0, nullptr, 0}
#define R_BASIC(value, type, multi) {REQ_BASIC, multi, value, type, 0, nullptr, 0}
#define R_TYPED(type, value) {REQ_TYPED, 0, type, value, 0, nullptr, 0}
#define R_RAW(data, length) {REQ_RAW, 0, data, length, 0, nullptr, 0}
#define R_EXEC(code, params, length) {REQ_EXEC, 0, code, params, length, nullptr, 0}
#define R_SELECT(at, cases) {REQ_SELECT, 0, at, 0, 0, cases, DMLP_OPS_COUNT(cases)}
#define R_CASE(selector, ops) {selector, DMLP_OPS_COUNT(ops), ops}
#define R_NONE(selector) {selector, 0, nullptr}

// The parts of the records: an attribute id (or basic type) and the value it types, a byte
// string, counted lists of object handles and of attribute ids.
#define R_ATTRIBUTE(Record, id, value, multi) R_U16(AT(Record, id)), R_VALUE(AT(Record, value), AT(Record, id), multi)
#define R_BASIC_VALUE(Record, type, value, multi) \
    R_U16(AT(Record, type)), R_BASIC(AT(Record, value), AT(Record, type), multi)
#define R_STRING(Record, length, bytes) R_S8(AT(Record, length), 1, AT(Record, bytes))
#define R_OBJECTS(Record, flags) \
    R_LIST(AT(Record, objectCount), 2 | (flags), AT(Record, objects), kU32Item, sizeof(uint32_t))
#define R_IDS(Record, flags) \
    R_LIST(AT(Record, attributeIdCount), 2 | (flags), AT(Record, attributeIds), kU16Item, sizeof(uint16_t))

const RequestOp kU16Item[] = {R_U16(0)};
const RequestOp kU32Item[] = {R_U32(0)};

uint16_t Load16(const uint8_t* at)
{
    uint16_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

DmlpCoderError RefuseBody(DmlpCoderError error, uint32_t line)
{
    DmlpCoderTrace(7, DMLP_TRACE_ENCFU, line);
    return error;
}

DmlpCoderError WalkRequest(DmlpWalk* walk, const uint8_t* record, const RequestOp* ops, uint32_t count);

DmlpCoderError WalkList(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    uint32_t n;
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)record + op->offset, op->arg & 3, op->arg & 3, &n));
    if (n == 0 && (op->arg & REQ_NOT_EMPTY))
        return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    const uint8_t* items = DmlpLoadPointer(record + op->ref);
    if (n != 0 && items == nullptr)
        return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    for (uint32_t i = 0; i < n; ++i)
        DMLP_TRY(WalkRequest(walk, items + (size_t)i * op->aux, (const RequestOp*)op->sub, op->subCount));
    return DMLP_CODER_OK;
}

DmlpCoderError WalkAttributes(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    DmlpAttributeList list = {Load16(record + op->offset), (DmlpAttributeEntry*)DmlpLoadPointer(record + op->ref)};
    return DmlpWalkAttributeList(walk, (uint8_t*)&list, 1);
}

DmlpCoderError WalkValue(DmlpWalk* walk, const DmlpForm* form, const uint8_t* pointerAt, uint8_t multi)
{
    uint8_t* value = DmlpLoadPointer(pointerAt);
    if (value == nullptr)
        return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    return DmlpWalkValue(walk, form, value, multi);
}

DmlpCoderError WalkAttributeValue(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    const DmlpValueTypeRow* row = DmlpFindValueType(Load16(record + op->ref), walk->version);
    if (row == nullptr)
        return RefuseBody(DMLP_CODER_UNKNOWN_ATTRIBUTE, __LINE__);
    return WalkValue(walk, row->form, record + op->offset, op->arg);
}

DmlpCoderError WalkBasicValue(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    const DmlpBasicTypeRow* row = DmlpFindBasicType(Load16(record + op->ref), walk->version);
    if (row == nullptr)
        return RefuseBody(DMLP_CODER_UNKNOWN_BASIC_TYPE, __LINE__);
    return WalkValue(walk, row->form, record + op->offset, op->arg);
}

// Type 0 goes out with length 0, types 1 and 2 with length 4 and the uint32; others are refused.
DmlpCoderError WalkTyped(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    uint32_t type = record[op->offset];
    uint8_t wireLength;
    if (DmlpTypedValueWireLength((uint8_t)type, &wireLength) != DMLP_CODER_OK)
        return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    uint32_t length = wireLength;
    DMLP_TRY(DmlpWalkField(walk, nullptr, 1, 1, &type));
    DMLP_TRY(DmlpWalkField(walk, nullptr, 1, 1, &length));
    if (length == 0)
        return DMLP_CODER_OK;
    uint8_t* value = DmlpLoadPointer(record + op->ref);
    if (value == nullptr)
        return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    uint32_t number;
    return DmlpWalkField(walk, value, 4, 4, &number);
}

DmlpCoderError WalkRaw(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    const uint16_t length = Load16(record + op->ref);
    uint8_t* data = DmlpLoadPointer(record + op->offset);
    if (length != 0 && data == nullptr)
        return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    return DmlpWalkBlock(walk, data, length);
}

// The code's parameters, sized and written by its row of the code table.
DmlpCoderError WalkExecParams(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    const DmlpExecCodeRow* row = DmlpFindExecCode(Load16(record + op->offset), walk->version);
    if (row == nullptr)
        return RefuseBody(DMLP_CODER_UNKNOWN_EXEC_CODE, __LINE__);
    const void* params = DmlpLoadPointer(record + op->ref);
    const uint16_t length = Load16(record + op->aux);
    if (walk->mode == DMLP_WALK_ENCODE) {
        row->encode(&walk->wire, params, length);
        return DMLP_CODER_OK;
    }
    uint16_t size;
    DMLP_TRY(row->encSize(params, length, &size));
    return DmlpWalkBlock(walk, nullptr, size);
}

DmlpCoderError WalkSelected(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    const RequestCase* cases = (const RequestCase*)op->sub;
    for (uint32_t i = 0; i < op->subCount; ++i) {
        if (cases[i].selector == record[op->offset])
            return WalkRequest(walk, record, cases[i].ops, cases[i].opCount);
    }
    return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
}

DmlpCoderError WalkOp(DmlpWalk* walk, const uint8_t* record, const RequestOp* op)
{
    uint8_t* at = (uint8_t*)record + op->offset;
    uint32_t value;
    switch (op->kind) {
    case REQ_U8: return DmlpWalkField(walk, at, 1, 1, &value);
    case REQ_U16: return DmlpWalkField(walk, at, 2, 2, &value);
    case REQ_U32: return DmlpWalkField(walk, at, 4, 4, &value);
    case REQ_BLOCK: return DmlpWalkBlock(walk, at, op->arg);
    case REQ_S8:
        DMLP_TRY(DmlpWalkField(walk, at, 1, op->arg, &value));
        return DmlpWalkData(walk, (uint8_t*)record, op->ref, value, 0);
    case REQ_LIST: return WalkList(walk, record, op);
    case REQ_ATTRS: return WalkAttributes(walk, record, op);
    case REQ_ADDRESS: return DmlpWalkAddress(walk, at);
    case REQ_VALUE: return WalkAttributeValue(walk, record, op);
    case REQ_BASIC: return WalkBasicValue(walk, record, op);
    case REQ_TYPED: return WalkTyped(walk, record, op);
    case REQ_RAW: return WalkRaw(walk, record, op);
    case REQ_EXEC: return WalkExecParams(walk, record, op);
    case REQ_SELECT: return WalkSelected(walk, record, op);
    default: return RefuseBody(DMLP_CODER_BAD_ARGUMENT, __LINE__);
    }
}

DmlpCoderError WalkRequest(DmlpWalk* walk, const uint8_t* record, const RequestOp* ops, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        DMLP_TRY(WalkOp(walk, record, &ops[i]));
    return DMLP_CODER_OK;
}

// Sizes the whole body first (nothing is allocated or written on a refusal), then writes it.
DmlpCoderError EncodeRequest(DmlpHeader* header, const void* params, DmlpCursor* out, const RequestOp* ops,
                             uint32_t count)
{
    if (header == nullptr || params == nullptr || out == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    const uint8_t* record = (const uint8_t*)params;
    DmlpWalk sizing = DmlpWalkStart(DMLP_WALK_ENCSIZE, header->version, nullptr, nullptr);
    DMLP_TRY(WalkRequest(&sizing, record, ops, count));
    DmlpCursor body;
    DMLP_TRY(DmlpBeginEncode(header, sizing.wireSize, out, &body));
    DmlpWalk writing = DmlpWalkStart(DMLP_WALK_ENCODE, header->version, &body, nullptr);
    return WalkRequest(&writing, record, ops, count);
}

// ---- The layouts ---------------------------------------------------------------------------------

const RequestOp kEcho[] = {R_RAW(AT(DmlpEchoParams, data), AT(DmlpEchoParams, length))};
const RequestOp kReserve[] = {R_U16(0), R_U32(4), R_U16(8)};
const RequestOp kSet[] = {R_U32(0), R_ATTRIBUTE(DmlpSetParams, attributeId, value, 1)};
const RequestOp kGet[] = {R_U32(0), R_U16(4)};
const RequestOp kList[] = {R_U16(0), R_U16(2), R_U8(4), R_U32(8), R_U16(12), R_U16(14)};
const RequestOp kListAttributes[] = {R_U16(0), R_U16(2), R_U8(4), R_U32(8), R_IDS(DmlpListAttributesParams, 0)};
const RequestOp kListObjects[] = {R_U16(0), R_U16(2), R_U8(4), R_U16(6), R_U16(8)};
const RequestOp kAppendToList[] = {
    R_U8(0), R_U32(4), R_U16(8), R_U16(10),
    R_VALUE(AT(DmlpAppendToListParams, element), AT(DmlpAppendToListParams, attributeId), 0)};
const RequestOp kDeleteFromListPosition[] = {R_U16(AT(DmlpDeleteFromListParams, value3))};
const RequestOp kDeleteFromListElement[] = {
    R_VALUE(AT(DmlpDeleteFromListParams, element), AT(DmlpDeleteFromListParams, attributeId), 0)};
const RequestCase kDeleteFromListCases[] = {R_NONE(1), R_CASE(2, kDeleteFromListPosition),
                                            R_CASE(3, kDeleteFromListElement)};
const RequestOp kDeleteFromList[] = {R_U8(0), R_U32(4), R_U16(8), R_SELECT(0, kDeleteFromListCases)};
const RequestOp kDelete[] = {R_U32(0)};
const RequestOp kAddUser[] = {R_U32(0), R_U32(4), R_U8(8)};
const RequestOp kDeleteUser[] = {R_U32(0), R_U32(4)};
const RequestOp kChangeUserPassword[] = {R_U32(0), R_U32(4), R_U32(8)};
const RequestOp kSetDateTime[] = {R_U32(0), R_U32(4), R_U8(8), R_U8(9)};
const RequestOp kJobStart[] = {R_U32(0), R_U8(4), R_U32(8), R_U32(12)};
const RequestOp kSetJob[] = {R_ATTRIBUTE(DmlpSetJobParams, attributeId, value, 1)};
const RequestOp kJobEnd[] = {R_U8(0)};

const RequestOp kSendValue[] = {R_U32(AT(DmlpSendParams, value1))};
const RequestOp kSendString[] = {R_S8(AT(DmlpSendParams, length), 4, AT(DmlpSendParams, data))};
const RequestOp kSendValues[] = {R_U32(AT(DmlpSendParams, value1)), R_U32(AT(DmlpSendParams, value2))};
const RequestCase kSendCases[] = {R_NONE(1),
                                  R_CASE(2, kSendValue),
                                  R_CASE(3, kSendString),
                                  R_CASE(4, kSendValue),
                                  R_CASE(6, kSendValues),
                                  R_CASE(7, kSendValue),
                                  R_CASE(8, kSendValue),
                                  R_CASE(9, kSendValue),
                                  R_CASE(10, kSendValue),
                                  R_NONE(11)};
const RequestOp kSend[] = {R_U8(0), R_SELECT(0, kSendCases)};

const RequestOp kSendRequestAddress[] = {R_ADDRESS(AT(DmlpSendRequestParams, u.address))};
const RequestOp kSendRequestText[] = {R_STRING(DmlpSendRequestParams, u.text.length, u.text.bytes)};
const RequestOp kSendRequestValue[] = {R_U32(AT(DmlpSendRequestParams, u.values.value1))};
const RequestOp kSendRequestValues[] = {R_U32(AT(DmlpSendRequestParams, u.values.value1)),
                                        R_U32(AT(DmlpSendRequestParams, u.values.value2))};
const RequestCase kSendRequestCases[] = {R_CASE(1, kSendRequestAddress), R_CASE(4, kSendRequestText),
                                         R_CASE(5, kSendRequestText),    R_CASE(6, kSendRequestValue),
                                         R_CASE(7, kSendRequestValue),   R_CASE(16, kSendRequestValues)};
const RequestOp kSendRequest[] = {R_U8(0), R_SELECT(0, kSendRequestCases)};

const RequestOp kExecuteMethod[] = {R_U32(0), R_U16(4),
                                    R_EXEC(AT(DmlpExecuteMethodParams, code), AT(DmlpExecuteMethodParams, params),
                                           AT(DmlpExecuteMethodParams, length))};
const RequestOp kContinue[] = {R_U32(0), R_U8(4)};
const RequestOp kShutdown[] = {R_U32(0), R_U8(4), R_U8(5)};
const RequestOp kMoveFile[] = {R_U8(0), R_U32(4), R_U32(8), R_U32(12), R_U32(16)};
const RequestOp kResourceStart[] = {R_U16(0)};
const RequestOp kListObjectAttributes[] = {R_U16(0), R_U16(2), R_U8(4), R_U16(6),
                                           R_IDS(DmlpListObjectAttributesParams, 0)};
const RequestOp kSetEx[] = {R_U32(0), R_BASIC_VALUE(DmlpSetExParams, typeA, valueA, 0),
                            R_BASIC_VALUE(DmlpSetExParams, typeB, valueB, 1)};
const RequestOp kGetEx[] = {R_U32(0), R_BASIC_VALUE(DmlpGetExParams, type, value, 0)};
const RequestOp kListEx[] = {R_U16(0), R_U16(2), R_U8(4), R_U32(8), R_BASIC_VALUE(DmlpListExParams, type, value, 0),
                             R_U16(AT(DmlpListExParams, value5))};
const RequestOp kAppendToListEx[] = {R_U8(0), R_U32(4), R_BASIC_VALUE(DmlpAppendToListExParams, typeA, valueA, 0),
                                     R_U16(AT(DmlpAppendToListExParams, value3)),
                                     R_BASIC_VALUE(DmlpAppendToListExParams, typeB, valueB, 0)};
const RequestOp kDeleteFromListExPosition[] = {R_U16(AT(DmlpDeleteFromListExParams, value3))};
const RequestOp kDeleteFromListExValue[] = {R_BASIC_VALUE(DmlpDeleteFromListExParams, typeB, valueB, 0)};
const RequestCase kDeleteFromListExCases[] = {R_NONE(1), R_CASE(2, kDeleteFromListExPosition),
                                              R_CASE(3, kDeleteFromListExValue)};
const RequestOp kDeleteFromListEx[] = {R_U8(0), R_U32(4), R_BASIC_VALUE(DmlpDeleteFromListExParams, typeA, valueA, 0),
                                       R_SELECT(0, kDeleteFromListExCases)};
const RequestOp kSetByUser[] = {R_U32(0), R_U32(4), R_ATTRIBUTE(DmlpSetByUserParams, attributeId, value, 1)};
const RequestOp kGetByUser[] = {R_U32(0), R_U32(4), R_U16(8)};
const RequestOp kUnreserve[] = {R_ADDRESS(AT(DmlpUnreserveParams, address))};
const RequestOp kResumeJobWithPassword[] = {R_U32(0),
                                            R_STRING(DmlpResumeJobWithPasswordParams, passwordLength, password)};

const RequestOp kExecuteFileEntry[] = {R_U32(0), R_ATTRIBUTE(DmlpExecuteFileEntry, attributeId, value, 1)};
const RequestOp kExecuteFile[] = {R_U32(0), R_U8(4), R_U32(8),
                                  R_LIST(AT(DmlpExecuteFileParams, count), 1, AT(DmlpExecuteFileParams, entries),
                                         kExecuteFileEntry, sizeof(DmlpExecuteFileEntry))};

const RequestOp kListFiles[] = {R_U16(0), R_U16(2), R_U8(4), R_U32(8), R_U32(12), R_U16(16), R_U16(18)};
const RequestOp kChangeFileBoxPassword[] = {R_U32(0), R_U32(4), R_U32(8), R_U32(12), R_U8(16)};
const RequestOp kCreateFile[] = {R_U16(0), R_U32(4), R_U32(8)};
const RequestOp kDeleteFile[] = {R_U8(0), R_U32(4), R_U32(8)};
const RequestOp kAcquireRecords[] = {R_U32(0), R_U8(4), R_U16(6), R_U16(8), R_U8(10)};
const RequestOp kListJobs[] = {R_U16(0), R_U16(2), R_U8(4), R_U16(6), R_U8(8), R_U32(12), R_U16(16)};
const RequestOp kListJobAttributes[] = {R_U16(0), R_U16(2), R_U8(4), R_U16(6), R_U8(8), R_U32(12),
                                        R_IDS(DmlpListJobAttributesParams, 0)};
const RequestOp kListHandleAttributes[] = {R_OBJECTS(DmlpListHandleAttributesParams, REQ_NOT_EMPTY),
                                           R_IDS(DmlpListHandleAttributesParams, REQ_NOT_EMPTY)};
const RequestOp kCopyFiles[] = {R_OBJECTS(DmlpCopyFilesParams, REQ_NOT_EMPTY), R_U32(16), R_U32(20)};
const RequestOp kMoveFiles[] = {R_OBJECTS(DmlpMoveFilesParams, REQ_NOT_EMPTY), R_U32(16), R_U32(20), R_U32(24)};
const RequestOp kDeleteFiles[] = {R_OBJECTS(DmlpDeleteFilesParams, REQ_NOT_EMPTY), R_U32(16)};
const RequestOp kGet2[] = {R_U16(0), R_TYPED(AT(DmlpGet2Params, type), AT(DmlpGet2Params, typedValue)),
                           R_OBJECTS(DmlpGet2Params, 0), R_IDS(DmlpGet2Params, 0)};
const RequestOp kGetListElement[] = {
    R_U16(0),  R_U16(2),
    R_U8(4),   R_TYPED(AT(DmlpGetListElementParams, type), AT(DmlpGetListElementParams, typedValue)),
    R_U32(16), R_U16(20),
    R_U16(22)};
const RequestOp kSet2[] = {R_TYPED(AT(DmlpSet2Params, type), AT(DmlpSet2Params, typedValue)), R_U32(16),
                           R_ATTRIBUTE(DmlpSet2Params, attributeId, value, 1)};
const RequestOp kSetListElement[] = {
    R_U8(0), R_TYPED(AT(DmlpSetListElementParams, type), AT(DmlpSetListElementParams, typedValue)), R_U32(16),
    R_ATTRIBUTE(DmlpSetListElementParams, attributeId, element, 0)};
const RequestOp kJobStart2[] = {R_ATTRS(AT(DmlpJobStart2Params, attributeCount), AT(DmlpJobStart2Params, attributes))};
const RequestOp kTraceJob[] = {R_U32(0),
                               R_U8(4),
                               R_U32(AT(DmlpTraceJobParams, clJobId.Data1)),
                               R_U16(AT(DmlpTraceJobParams, clJobId.Data2)),
                               R_U16(AT(DmlpTraceJobParams, clJobId.Data3)),
                               R_BLOCK(AT(DmlpTraceJobParams, clJobId.Data4), 8),
                               R_BLOCK(AT(DmlpTraceJobParams, clJobId.JobText), 48),
                               R_IDS(DmlpTraceJobParams, 0)};
const RequestOp kAcquireRecords2[] = {R_U32(0), R_U8(4), R_U32(8), R_U32(12), R_U8(16),
                                      R_IDS(DmlpAcquireRecords2Params, 0)};
const RequestOp kResourceStart2[] = {
    R_U16(0), R_ATTRS(AT(DmlpResourceStart2Params, attributeCount), AT(DmlpResourceStart2Params, attributes))};

const RequestOp kExecuteFile2Object[] = {
    R_U32(0), R_ATTRS(AT(DmlpExecuteFile2Object, attributeCount), AT(DmlpExecuteFile2Object, attributes))};
const RequestOp kExecuteFile2[] = {R_U32(0), R_U8(4),
                                   R_LIST(AT(DmlpExecuteFile2Params, count), 2, AT(DmlpExecuteFile2Params, objects),
                                          kExecuteFile2Object, sizeof(DmlpExecuteFile2Object))};
const RequestOp kListObjects2[] = {R_U16(0), R_U16(2), R_U8(4), R_U16(6), R_U8(8), R_U32(12), R_U32(16), R_U16(20)};

} // namespace

#define DMLP_ENCODER_OF(name, ops) \
    DMLP_REQUEST_ENCODER(name) { return EncodeRequest(header, params, out, ops, DMLP_OPS_COUNT(ops)); }

DMLP_ENCODER_OF(DmlpEncodeEchoBody, kEcho)
DMLP_ENCODER_OF(DmlpEncodeReserveBody, kReserve)
DMLP_ENCODER_OF(DmlpEncodeSetBody, kSet)
DMLP_ENCODER_OF(DmlpEncodeGetBody, kGet)
DMLP_ENCODER_OF(DmlpEncodeListBody, kList)
DMLP_ENCODER_OF(DmlpEncodeListAttributesBody, kListAttributes)
DMLP_ENCODER_OF(DmlpEncodeListObjectsBody, kListObjects)
DMLP_ENCODER_OF(DmlpEncodeAppendToListBody, kAppendToList)
DMLP_ENCODER_OF(DmlpEncodeDeleteFromListBody, kDeleteFromList)
DMLP_ENCODER_OF(DmlpEncodeDeleteBody, kDelete)
DMLP_ENCODER_OF(DmlpEncodeAddUserBody, kAddUser)
DMLP_ENCODER_OF(DmlpEncodeDeleteUserBody, kDeleteUser)
DMLP_ENCODER_OF(DmlpEncodeChangeUserPasswordBody, kChangeUserPassword)
DMLP_ENCODER_OF(DmlpEncodeSetDateTimeBody, kSetDateTime)
DMLP_ENCODER_OF(DmlpEncodeJobStartBody, kJobStart)
DMLP_ENCODER_OF(DmlpEncodeSetJobBody, kSetJob)
DMLP_ENCODER_OF(DmlpEncodeJobEndBody, kJobEnd)
DMLP_ENCODER_OF(DmlpEncodeSendBody, kSend)
DMLP_ENCODER_OF(DmlpEncodeSendRequestBody, kSendRequest)
DMLP_ENCODER_OF(DmlpEncodeExecuteMethodBody, kExecuteMethod)
DMLP_ENCODER_OF(DmlpEncodeContinueBody, kContinue)
DMLP_ENCODER_OF(DmlpEncodeShutdownBody, kShutdown)
DMLP_ENCODER_OF(DmlpEncodeMoveFileBody, kMoveFile)
DMLP_ENCODER_OF(DmlpEncodeResourceStartBody, kResourceStart)
DMLP_ENCODER_OF(DmlpEncodeListObjectAttributesBody, kListObjectAttributes)
DMLP_ENCODER_OF(DmlpEncodeSetExBody, kSetEx)
DMLP_ENCODER_OF(DmlpEncodeGetExBody, kGetEx)
DMLP_ENCODER_OF(DmlpEncodeListExBody, kListEx)
DMLP_ENCODER_OF(DmlpEncodeAppendToListExBody, kAppendToListEx)
DMLP_ENCODER_OF(DmlpEncodeDeleteFromListExBody, kDeleteFromListEx)
DMLP_ENCODER_OF(DmlpEncodeSetByUserBody, kSetByUser)
DMLP_ENCODER_OF(DmlpEncodeGetByUserBody, kGetByUser)
DMLP_ENCODER_OF(DmlpEncodeUnreserveBody, kUnreserve)
DMLP_ENCODER_OF(DmlpEncodeResumeJobWithPasswordBody, kResumeJobWithPassword)
DMLP_ENCODER_OF(DmlpEncodeExecuteFileBody, kExecuteFile)
DMLP_ENCODER_OF(DmlpEncodeListFilesBody, kListFiles)
DMLP_ENCODER_OF(DmlpEncodeChangeFileBoxPasswordBody, kChangeFileBoxPassword)
DMLP_ENCODER_OF(DmlpEncodeCreateFileBody, kCreateFile)
DMLP_ENCODER_OF(DmlpEncodeDeleteFileBody, kDeleteFile)
DMLP_ENCODER_OF(DmlpEncodeAcquireRecordsBody, kAcquireRecords)
DMLP_ENCODER_OF(DmlpEncodeListJobsBody, kListJobs)
DMLP_ENCODER_OF(DmlpEncodeListJobAttributesBody, kListJobAttributes)
DMLP_ENCODER_OF(DmlpEncodeListHandleAttributesBody, kListHandleAttributes)
DMLP_ENCODER_OF(DmlpEncodeCopyFilesBody, kCopyFiles)
DMLP_ENCODER_OF(DmlpEncodeMoveFilesBody, kMoveFiles)
DMLP_ENCODER_OF(DmlpEncodeDeleteFilesBody, kDeleteFiles)
DMLP_ENCODER_OF(DmlpEncodeGet2Body, kGet2)
DMLP_ENCODER_OF(DmlpEncodeGetListElementBody, kGetListElement)
DMLP_ENCODER_OF(DmlpEncodeSet2Body, kSet2)
DMLP_ENCODER_OF(DmlpEncodeSetListElementBody, kSetListElement)
DMLP_ENCODER_OF(DmlpEncodeJobStart2Body, kJobStart2)
DMLP_ENCODER_OF(DmlpEncodeTraceJobBody, kTraceJob)
DMLP_ENCODER_OF(DmlpEncodeAcquireRecords2Body, kAcquireRecords2)
DMLP_ENCODER_OF(DmlpEncodeResourceStart2Body, kResourceStart2)
DMLP_ENCODER_OF(DmlpEncodeExecuteFile2Body, kExecuteFile2)
DMLP_ENCODER_OF(DmlpEncodeListObjects2Body, kListObjects2)

// Empty bodies read nothing of their record.
DMLP_REQUEST_ENCODER(DmlpEncodeEmptyBody)
{
    if (params == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpCursor body;
    return DmlpBeginEncode(header, 0, out, &body);
}
