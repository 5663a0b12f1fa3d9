// The coder's frame: table lookups, message entry points, the reply-body rule and the shared
// encode and decode steps of every body codec.
#include <string.h>

#include "DmlpCoder.h"

namespace {

// Written once by DmlpCoderInitialize before any message is coded, then only read.
const DmlpMethodRow* g_methods;
const DmlpValueTypeRow* g_valueTypes;
const DmlpBasicTypeRow* g_basicTypes;
const DmlpEventRow* g_events;
const DmlpExecCodeRow* g_execCodes;
const DmlpExecCodeRow* g_execDefault;

bool KeyFits(uint8_t key, uint8_t version) { return key == 0 || key == version; }

// The first row of a table ended by id 0 whose id matches and whose key fits.
template <typename Row>
const Row* FindRow(const Row* table, uint16_t Row::*idField, uint16_t id, uint8_t version)
{
    if (table == nullptr)
        return nullptr;
    for (const Row* row = table; row->*idField != 0; ++row) {
        if (row->*idField == id && KeyFits(row->versionKey, version))
            return row;
    }
    return nullptr;
}

bool ListHolds(const uint16_t* ids, uint16_t id)
{
    for (; *ids != 0; ++ids) {
        if (*ids == id)
            return true;
    }
    return false;
}

} // namespace

bool DmlpCoderInitialize(void)
{
    g_methods = DmlpMethodTable;
    g_valueTypes = DmlpValueTypeTable;
    g_basicTypes = DmlpBasicTypeTable;
    g_events = DmlpEventTable;
    g_execCodes = DmlpExecCodeTable;
    g_execDefault = &DmlpExecCodeDefault;
    return true;
}

const DmlpMethodRow* DmlpFindMethod(uint16_t method, uint8_t version)
{
    return FindRow(g_methods, &DmlpMethodRow::method, method, version);
}

const DmlpBasicTypeRow* DmlpFindBasicType(uint16_t type, uint8_t version)
{
    return FindRow(g_basicTypes, &DmlpBasicTypeRow::type, type, version);
}

const DmlpEventRow* DmlpFindEvent(uint16_t event, uint8_t version)
{
    return FindRow(g_events, &DmlpEventRow::event, event, version);
}

const DmlpExecCodeRow* DmlpFindExecCode(uint16_t code, uint8_t version)
{
    if (code > DMLP_EXEC_CODE_RAW_ABOVE)
        return g_execDefault;
    return FindRow(g_execCodes, &DmlpExecCodeRow::code, code, version);
}

namespace {

// For every attribute id, the first row of the value-type table that lists it (its number + 1;
// 0: none), built once: replies look an id up per attribute, and a scan of the 807 ids each
// time costs more than the rest of the decode.
struct FirstValueTypeRows {
    uint8_t row[65536];
};
static_assert(DMLP_VALUE_TYPE_ROWS < 255, "row numbers fit a byte");

FirstValueTypeRows BuildFirstRows()
{
    FirstValueTypeRows rows = {};
    for (uint32_t number = 0; DmlpValueTypeTable[number].ids != nullptr; ++number) {
        for (const uint16_t* id = DmlpValueTypeTable[number].ids; *id != 0; ++id) {
            if (rows.row[*id] == 0)
                rows.row[*id] = (uint8_t)(number + 1);
        }
    }
    return rows;
}

const FirstValueTypeRows& FirstRows()
{
    static const FirstValueTypeRows first = BuildFirstRows();
    return first;
}

} // namespace

const DmlpValueTypeRow* DmlpFindValueType(uint16_t attributeId, uint8_t version)
{
    if (g_valueTypes == nullptr || attributeId == 0)
        return nullptr;
    const uint8_t first = FirstRows().row[attributeId];
    if (first == 0)
        return nullptr;
    // Rows before the first that lists the id cannot match; when its key does not fit, the
    // search goes on with the rows behind it.
    const DmlpValueTypeRow* row = g_valueTypes + (first - 1);
    if (KeyFits(row->versionKey, version))
        return row;
    for (++row; row->ids != nullptr; ++row) {
        if (KeyFits(row->versionKey, version) && ListHolds(row->ids, attributeId))
            return row;
    }
    return nullptr;
}

const DmlpVersionRow* DmlpFindVersion(uint8_t version)
{
    for (const DmlpVersionRow* row = DmlpVersionTable; row->version != 0; ++row) {
        if (row->version == version)
            return row;
    }
    DmlpCoderTrace(2, DMLP_TRACE_VERSION, __LINE__);
    return nullptr;
}

void DmlpCoderTrace(uint8_t /*level*/, const char* /*name*/, uint32_t /*line*/) {}

uint32_t DmlpRoundUp8(uint32_t size) { return (size + 7) & ~7u; }

uint8_t* DmlpAlignPointer8(uint8_t* pointer)
{
    const uintptr_t address = (uintptr_t)pointer;
    return pointer + (((address + 7) & ~(uintptr_t)7) - address);
}

// ---- Messages ----------------------------------------------------------------------------------

DmlpCoderError DmlpEncodeMessage(const DmlpHeader* header, const void* params, DmlpCursor* out)
{
    if (header == nullptr || params == nullptr || out == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    uint32_t method;
    const DmlpCoderError error = DmlpGetHeaderField(DMLP_FIELD_METHOD, header, &method);
    if (error != DMLP_CODER_OK)
        return error;
    const DmlpMethodRow* row = DmlpFindMethod((uint16_t)method, header->version);
    if (row == nullptr || row->encode == nullptr) {
        DmlpCoderTrace(7, DMLP_TRACE_ENCFU, __LINE__);
        return DMLP_CODER_UNKNOWN_METHOD;
    }
    DmlpHeader request = *header;
    return row->encode(&request, params, out);
}

bool DmlpReplyHasBody(uint8_t flags, uint16_t status, uint16_t method, uint16_t* contextStatus)
{
    static const uint16_t kPartialMethods[] = {5, 6, 7, 53, 56, 69, 82, 83, 84, 88, 93, 94, 95, 97, 0};
    static const uint16_t kStatus23Or9Methods[] = {6, 53, 83, 84, 0};
    static const uint16_t kStatus8Methods[] = {84, 93, 94, 95, 97, 0};
    static const uint16_t kStatus31Methods[] = {93, 94, 95, 97, 0};

    *contextStatus = status;
    // Without the status flag the slot holds the auxiliary byte, which decides nothing.
    const uint16_t rule = (flags & DMLP_FLAG_STATUS) ? status : 0;
    switch (rule) {
    case 1:
    case 29:
    case 33: return true;
    case 4: return ListHolds(kPartialMethods, method);
    case 9:
    case 23: return ListHolds(kStatus23Or9Methods, method);
    case 8: return ListHolds(kStatus8Methods, method);
    case 31: return ListHolds(kStatus31Methods, method);
    default: break;
    }
    if (method == 10) {
        *contextStatus = 0;
        return true;
    }
    return (method == 27 && rule == 18) || (method == 19 && (rule == 24 || rule == 25)) || rule == 34;
}

DmlpCoderError DmlpDecodeMessage(DmlpHeader* header, DmlpDecodeContext* context, const DmlpCursor* frame,
                                 const DmlpCursor* request)
{
    if (header == nullptr || context == nullptr || frame == nullptr || frame->ptr == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    if (frame->count < 3 || ((frame->ptr[0] << 8) | frame->ptr[1]) != DMLP_HEADER_MAGIC)
        return DMLP_CODER_NOT_A_MESSAGE;
    const DmlpVersionRow* row = DmlpFindVersion(frame->ptr[2]);
    if (row == nullptr)
        return DMLP_CODER_UNKNOWN_VERSION;
    if (frame->count < row->headerLength)
        return DMLP_CODER_NOT_A_MESSAGE;
    row->decodeHeader(header, frame->ptr);
    const int32_t rest = frame->count - row->headerLength;
    if (header->bodyLength > rest)
        return DMLP_CODER_NOT_A_MESSAGE;

    if (!DmlpReplyHasBody(header->flags, header->status, header->method, &context->status))
        return DMLP_CODER_OK;
    const DmlpMethodRow* method = DmlpFindMethod(header->method, header->version);
    if (method == nullptr || method->decode == nullptr) {
        DmlpCoderTrace(7, DMLP_TRACE_DECFU, __LINE__);
        return DMLP_CODER_UNKNOWN_METHOD;
    }
    // AcquireResource's body is the whole rest of the frame.
    const DmlpCursor body = {frame->ptr + row->headerLength, header->method == 49 ? rest : header->bodyLength};
    return method->decode(header, context, &body, request);
}

// ---- Encode and decode steps shared by the body codecs -------------------------------------------

DmlpCoderError DmlpBeginEncode(DmlpHeader* header, uint32_t bodyLength, DmlpCursor* out, DmlpCursor* body)
{
    if (header == nullptr || out == nullptr || body == nullptr || bodyLength > DMLP_SIZE_MAX)
        return DMLP_CODER_BAD_ARGUMENT;
    const DmlpVersionRow* row = DmlpFindVersion(header->version);
    if (row == nullptr)
        return DMLP_CODER_UNKNOWN_VERSION;
    const DmlpCoderError error = row->setField(DMLP_FIELD_BODY_LENGTH, header, bodyLength);
    if (error != DMLP_CODER_OK)
        return error;
    const uint32_t total = row->headerLength + bodyLength;
    if (out->ptr == nullptr) {
        out->ptr = (uint8_t*)DmlpAlloc(total);
        if (out->ptr == nullptr) {
            DmlpCoderTrace(8, DMLP_TRACE_ENCFU, __LINE__);
            return DMLP_CODER_NO_MEMORY;
        }
    } else if (out->count < 0 || (uint32_t)out->count < total) {
        return DMLP_CODER_BUFFER_TOO_SMALL;
    }
    body->ptr = row->encodeHeader(header, out->ptr);
    body->count = (int32_t)bodyLength;
    out->count = (int32_t)total;
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpBeginDecode(DmlpDecodeContext* context, const DmlpCursor* body, uint16_t minimum,
                               uint16_t recordSize, uint8_t* allocated)
{
    *allocated = 0;
    if (body->count < minimum) {
        DmlpCoderTrace(9, DMLP_TRACE_DECFU, __LINE__);
        context->status = DMLP_INTERNAL_FAILURE;
        return DMLP_CODER_TRUNCATED;
    }
    if (context->result != nullptr)
        return DMLP_CODER_OK;
    context->result = DmlpAlloc(recordSize);
    if (context->result == nullptr) {
        DmlpCoderTrace(8, DMLP_TRACE_DECFU, __LINE__);
        context->status = DMLP_INTERNAL_FAILURE;
        return DMLP_CODER_NO_MEMORY;
    }
    memset(context->result, 0, recordSize);
    *allocated = 1;
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpAllocResultBuffer(DmlpDecodeContext* context, DmlpBuffer* buffer, uint32_t size,
                                     uint8_t* allocated)
{
    *allocated = 0;
    if (context->held != nullptr) {
        buffer->data = context->held->data;
        buffer->size = context->held->size;
        buffer->flags = context->held->flags;
        context->held = nullptr;
    }
    if (size == 0)
        return DMLP_CODER_OK;
    if (size > DMLP_SIZE_MAX) {
        DmlpCoderTrace(8, DMLP_TRACE_DECFU, __LINE__);
        return DMLP_CODER_NO_MEMORY;
    }
    if (buffer->data == nullptr || buffer->size < size) {
        const bool grow = buffer->data != nullptr;
        if (grow && !(buffer->flags & DMLP_BUFFER_MAY_GROW))
            return DMLP_CODER_BUFFER_TOO_SMALL;
        void* block = DmlpAlloc(size);
        if (block == nullptr) {
            DmlpCoderTrace(8, DMLP_TRACE_DECFU, __LINE__);
            return DMLP_CODER_NO_MEMORY;
        }
        if (grow && (buffer->flags & DMLP_BUFFER_LIBRARY))
            DmlpFree(buffer->data);
        buffer->data = block;
        buffer->size = (uint16_t)size;
        buffer->flags = DMLP_BUFFER_VALID | DMLP_BUFFER_MAY_GROW | DMLP_BUFFER_LIBRARY | (grow ? DMLP_BUFFER_GROWN : 0);
        context->held = buffer;
        *allocated = 1;
    }
    memset(buffer->data, 0, size);
    return DMLP_CODER_OK;
}

void DmlpDecodeCleanup(DmlpDecodeContext* context, uint8_t freeResult, uint8_t freeBuffer)
{
    context->status = DMLP_INTERNAL_FAILURE;
    if (freeBuffer && context->held != nullptr) {
        DmlpFree(context->held->data);
        memset(context->held, 0, sizeof *context->held);
        context->held = nullptr;
    }
    if (freeResult) {
        DmlpFree(context->result);
        context->result = nullptr;
    }
}
