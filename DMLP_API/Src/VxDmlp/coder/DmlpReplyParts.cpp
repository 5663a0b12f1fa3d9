// The irregular variable parts of reply bodies. Each is walked twice by the reply frame: while
// measuring it checks the bytes and reserves the memory that the decoded form takes; while
// decoding it lays that form out in the block in the same order. Only the decode pass writes the
// record.
#include <string.h>

#include "DmlpBodies.h"

namespace {

bool Decoding(const DmlpWalk* walk) { return walk->mode == DMLP_WALK_DECODE; }

uint8_t* MemoryAt(const DmlpWalk* walk, uint32_t offset) { return Decoding(walk) ? walk->base + offset : nullptr; }

uint16_t Load16(const uint8_t* at)
{
    uint16_t value;
    memcpy(&value, at, sizeof value);
    return value;
}

// While decoding, the pointer at at gets the free position.
void PointAtFree(const DmlpWalk* walk, uint8_t* at)
{
    if (Decoding(walk) && at != nullptr)
        DmlpStorePointer(at, walk->base + walk->mem);
}

// A reserved run of count entries: while decoding its address goes to at, when given (the
// pointer stays null when the run is empty).
DmlpCoderError ReserveEntries(DmlpWalk* walk, uint64_t count, uint32_t entrySize, uint8_t* at, uint32_t* offset)
{
    *offset = walk->mem;
    if (count == 0)
        return DMLP_CODER_OK;
    DMLP_TRY(DmlpWalkReserve(walk, count * entrySize, offset));
    if (Decoding(walk) && at != nullptr)
        DmlpStorePointer(at, walk->base + *offset);
    return DMLP_CODER_OK;
}

DmlpCoderError Refuse(DmlpCoderError error, uint8_t level, const char* name, uint32_t line)
{
    DmlpCoderTrace(level, name, line);
    return error;
}

const DmlpForm* ValueTypeForm(const DmlpWalk* walk, uint16_t id)
{
    const DmlpValueTypeRow* row = DmlpFindValueType(id, walk->version);
    return row != nullptr ? row->form : nullptr;
}

// A value at the free position, its address stored at at while decoding.
DmlpCoderError WalkValueAt(DmlpWalk* walk, const DmlpForm* form, uint8_t multi, uint8_t* at)
{
    PointAtFree(walk, at);
    return DmlpWalkValue(walk, form, nullptr, multi);
}

// The value of attribute id (multi-valued form) at the free position; an id without a value
// type cannot be read here (10).
DmlpCoderError WalkTypedAttribute(DmlpWalk* walk, uint16_t id, uint8_t* at)
{
    const DmlpForm* form = ValueTypeForm(walk, id);
    if (form == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_ATTRIBUTE, 7, DMLP_TRACE_DECFU, __LINE__);
    return WalkValueAt(walk, form, 1, at);
}

// A basic-typed value (multi as given) at the free position.
DmlpCoderError WalkBasicValue(DmlpWalk* walk, uint16_t type, uint8_t multi, uint8_t* at)
{
    const DmlpBasicTypeRow* row = DmlpFindBasicType(type, walk->version);
    if (row == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_BASIC_TYPE, 7, DMLP_TRACE_DECFU, __LINE__);
    return WalkValueAt(walk, row->form, multi, at);
}

// count attributes (id, length, value) into consecutive entries at entries (null while measuring).
DmlpCoderError WalkAttributeRun(DmlpWalk* walk, uint8_t* entries, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        DMLP_TRY(DmlpWalkAttribute(walk, entries != nullptr ? entries + i * sizeof(DmlpAttributeEntry) : nullptr));
    return DMLP_CODER_OK;
}

// A uint16-counted attribute list whose count and entry pointer lie at countAt and pointerAt.
DmlpCoderError WalkCountedAttributes(DmlpWalk* walk, uint8_t* countAt, uint8_t* pointerAt)
{
    uint32_t count;
    DMLP_TRY(DmlpWalkField(walk, countAt, 2, 2, &count));
    uint32_t entries;
    DMLP_TRY(ReserveEntries(walk, count, sizeof(DmlpAttributeEntry), pointerAt, &entries));
    return WalkAttributeRun(walk, MemoryAt(walk, entries), count);
}

} // namespace

// ---- Families with fixed positions -------------------------------------------------------------

DmlpCoderError DmlpReplyJobStartTail(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpJobStartResult* result = (DmlpJobStartResult*)record;
    if (walk->wire.count < 8) {
        if (Decoding(walk))
            result->value2 = result->value3 = 0;
        return DMLP_CODER_OK;
    }
    uint32_t value;
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->value2, 4, 4, &value));
    return DmlpWalkField(walk, (uint8_t*)&result->value3, 4, 4, &value);
}

DmlpCoderError DmlpReplyAttributeValue(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass*)
{
    return WalkTypedAttribute(walk, Load16(record + layout->at[0]), record + layout->at[1]);
}

// ---- Attribute lists with lengths ----------------------------------------------------------------

// Get2 and AcquireRecords2: the object entries, then the attribute entries of all objects, then
// the values. The size pass leaves the number of attributes for the decode pass.
static_assert(offsetof(DmlpAcquireRecords2Result, count) == offsetof(DmlpGet2Result, count) &&
                  offsetof(DmlpAcquireRecords2Result, objects) == offsetof(DmlpGet2Result, objects),
              "both records start with the object count and entries");
DmlpCoderError DmlpReplyGet2Objects(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout,
                                    DmlpReplyPass* pass)
{
    DmlpGet2Result* result = (DmlpGet2Result*)record;
    const uint32_t entrySize = layout->at[0];
    uint32_t objects;
    DMLP_TRY(ReserveEntries(walk, result->count, entrySize, (uint8_t*)&result->objects, &objects));
    uint32_t attributes = 0;
    if (Decoding(walk))
        DMLP_TRY(ReserveEntries(walk, pass->carry, sizeof(DmlpAttributeEntry), nullptr, &attributes));
    uint32_t attributeCount = 0;
    for (uint32_t i = 0; i < result->count; ++i) {
        DMLP_TRY(DmlpWalkNeed(walk, 6));
        uint8_t* object = MemoryAt(walk, objects + i * entrySize);
        uint32_t value;
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(object, 0), 4, 4, &value));
        uint32_t count;
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(object, layout->at[1]), 2, 2, &count));
        uint8_t* entries = MemoryAt(walk, attributes + attributeCount * (uint32_t)sizeof(DmlpAttributeEntry));
        if (count != 0 && object != nullptr)
            DmlpStorePointer(object + layout->at[2], entries);
        DMLP_TRY(WalkAttributeRun(walk, entries, count));
        attributeCount += count;
    }
    if (Decoding(walk))
        return DMLP_CODER_OK;
    pass->carry = attributeCount;
    return DmlpWalkReserve(walk, (uint64_t)attributeCount * sizeof(DmlpAttributeEntry), &attributes);
}

DmlpCoderError DmlpReplyAttributeList(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass*)
{
    uint32_t count = Load16(record + layout->at[0]);
    uint32_t entries;
    DMLP_TRY(ReserveEntries(walk, count, sizeof(DmlpAttributeEntry), record + layout->at[1], &entries));
    return WalkAttributeRun(walk, MemoryAt(walk, entries), count);
}

// TraceJob: kind 1 carries one uint32, kind 2 two, both then an attribute list; other kinds end
// the body.
DmlpCoderError DmlpReplyTraceJob(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpTraceJobResult* result = (DmlpTraceJobResult*)record;
    if (result->kind != 1 && result->kind != 2)
        return DMLP_CODER_OK;
    uint32_t value;
    DMLP_TRY(DmlpWalkNeed(walk, 4u * result->kind));
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->value1, 4, 4, &value));
    if (result->kind == 2)
        DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->value2, 4, 4, &value));
    return WalkCountedAttributes(walk, (uint8_t*)&result->count, (uint8_t*)&result->attributes);
}

// ---- Values without lengths ----------------------------------------------------------------------

// ListAttributes and ListObjectAttributes: entries of {(uint32,) id, value pointer}.
DmlpCoderError DmlpReplyListedValues(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass*)
{
    const uint32_t count = Load16(record + layout->at[0]);
    const uint16_t idAt = layout->at[2];
    uint32_t entries;
    DMLP_TRY(ReserveEntries(walk, count, 16, record + layout->at[1], &entries));
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* entry = MemoryAt(walk, entries + 16 * i);
        uint32_t value;
        if (idAt != 0)
            DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, 0), 4, 4, &value));
        uint32_t id;
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, idAt), 2, 2, &id));
        DMLP_TRY(WalkTypedAttribute(walk, (uint16_t)id, DmlpWalkAt(entry, 8)));
    }
    return DMLP_CODER_OK;
}

// List and GetListElement: count single elements of the attribute's type, through an array of
// pointers.
DmlpCoderError DmlpReplyElements(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass*)
{
    const uint32_t count = Load16(record + layout->at[1]);
    if (count == 0)
        return DMLP_CODER_OK;
    const DmlpForm* form = ValueTypeForm(walk, Load16(record + layout->at[0]));
    if (form == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_ATTRIBUTE, 7, DMLP_TRACE_DECFU, __LINE__);
    uint32_t pointers;
    DMLP_TRY(ReserveEntries(walk, count, sizeof(void*), record + layout->at[2], &pointers));
    for (uint32_t i = 0; i < count; ++i)
        DMLP_TRY(WalkValueAt(walk, form, 0, MemoryAt(walk, pointers + i * (uint32_t)sizeof(void*))));
    return DMLP_CODER_OK;
}

namespace {

// The forms of a table's columns, taken from the first row's ids: kept in a scratch table while
// measuring, read back from the first row's decoded cells while decoding.
struct Columns {
    const DmlpForm** forms;     // measuring
    const DmlpTableCell* first; // decoding
};

DmlpCoderError ColumnForm(DmlpWalk* walk, Columns* columns, uint32_t row, uint32_t column, uint16_t id,
                          const DmlpForm** form)
{
    if (row != 0) {
        *form = Decoding(walk) ? ValueTypeForm(walk, columns->first[column].id) : columns->forms[column];
        return DMLP_CODER_OK;
    }
    *form = ValueTypeForm(walk, id);
    if (*form == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_ATTRIBUTE, 7, DMLP_TRACE_DECFU, __LINE__);
    if (!Decoding(walk))
        columns->forms[column] = *form;
    return DMLP_CODER_OK;
}

DmlpCoderError WalkTableRows(DmlpWalk* walk, uint32_t rows, uint32_t columnCount, uint32_t rowsAt, Columns* columns)
{
    const uint32_t cellsAt = rowsAt + rows * (uint32_t)sizeof(DmlpTableRow);
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* row = MemoryAt(walk, rowsAt + r * (uint32_t)sizeof(DmlpTableRow));
        uint32_t handle;
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(row, 0), 4, 4, &handle));
        uint8_t* cells = MemoryAt(walk, cellsAt + r * columnCount * (uint32_t)sizeof(DmlpTableCell));
        if (row != nullptr && columnCount != 0)
            DmlpStorePointer(row + offsetof(DmlpTableRow, cells), cells);
        if (r == 0 && cells != nullptr)
            columns->first = (const DmlpTableCell*)cells;
        for (uint32_t c = 0; c < columnCount; ++c) {
            uint8_t* cell = DmlpWalkAt(cells, c * (uint32_t)sizeof(DmlpTableCell));
            uint32_t id;
            DMLP_TRY(DmlpWalkField(walk, cell, 2, 2, &id));
            const DmlpForm* form;
            DMLP_TRY(ColumnForm(walk, columns, r, c, (uint16_t)id, &form));
            DMLP_TRY(WalkValueAt(walk, form, 1, DmlpWalkAt(cell, offsetof(DmlpTableCell, value))));
        }
    }
    return DMLP_CODER_OK;
}

} // namespace

// ListHandleAttributes and ListJobAttributes: rows x (columns + 1) entries (the row entries, then
// every row's cells), then the values. Rows without columns still take their row entries.
DmlpCoderError DmlpReplyTable(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass*)
{
    const uint32_t rows = Load16(record + layout->at[0]);
    const uint32_t columnCount = Load16(record + layout->at[0] + 2);
    uint32_t rowsAt;
    DMLP_TRY(ReserveEntries(walk, (uint64_t)rows * (columnCount + 1), sizeof(DmlpTableRow), record + layout->at[1],
                            &rowsAt));
    if (rows == 0)
        return DMLP_CODER_OK;
    Columns columns = {nullptr, nullptr};
    if (!Decoding(walk) && columnCount != 0) {
        columns.forms = (const DmlpForm**)DmlpAlloc(columnCount * (uint32_t)sizeof(const DmlpForm*));
        if (columns.forms == nullptr)
            return Refuse(DMLP_CODER_NO_MEMORY, 8, DMLP_TRACE_DECFU, __LINE__);
    }
    const DmlpCoderError error = WalkTableRows(walk, rows, columnCount, rowsAt, &columns);
    DmlpFree(columns.forms);
    return error;
}

// ---- Basic-typed values ----------------------------------------------------------------------------

// AppendToListEx and DeleteFromListEx: one value, then a uint16.
DmlpCoderError DmlpReplyBasicTrailer(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpAppendToListExResult* result = (DmlpAppendToListExResult*)record;
    DMLP_TRY(WalkBasicValue(walk, result->type, 0, (uint8_t*)&result->value));
    uint32_t value;
    return DmlpWalkField(walk, (uint8_t*)&result->value2, 2, 2, &value);
}

// SetEx and GetEx: value A single, then type B and value B multi-valued.
DmlpCoderError DmlpReplyBasicPair(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpGetExResult* result = (DmlpGetExResult*)record;
    DMLP_TRY(WalkBasicValue(walk, result->typeA, 0, (uint8_t*)&result->valueA));
    uint32_t typeB;
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->typeB, 2, 2, &typeB));
    return WalkBasicValue(walk, (uint16_t)typeB, 1, (uint8_t*)&result->valueB);
}

// ListEx: value A, then type B, two uint16 and count single values of type B through an array of
// pointers.
DmlpCoderError DmlpReplyBasicList(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpListExResult* result = (DmlpListExResult*)record;
    DMLP_TRY(WalkBasicValue(walk, result->typeA, 0, (uint8_t*)&result->valueA));
    DMLP_TRY(DmlpWalkNeed(walk, 8));
    uint32_t typeB;
    uint32_t value;
    uint32_t count;
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->typeB, 2, 2, &typeB));
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->value4, 2, 2, &value));
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->value5, 2, 2, &value));
    DMLP_TRY(DmlpWalkField(walk, (uint8_t*)&result->count, 2, 2, &count));
    if (count == 0)
        return DMLP_CODER_OK;
    const DmlpBasicTypeRow* row = DmlpFindBasicType((uint16_t)typeB, walk->version);
    if (row == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_BASIC_TYPE, 7, DMLP_TRACE_DECFU, __LINE__);
    uint32_t pointers;
    DMLP_TRY(ReserveEntries(walk, count, sizeof(void*), (uint8_t*)&result->values, &pointers));
    for (uint32_t i = 0; i < count; ++i)
        DMLP_TRY(WalkValueAt(walk, row->form, 0, MemoryAt(walk, pointers + i * (uint32_t)sizeof(void*))));
    return DMLP_CODER_OK;
}

// ---- Single methods ----------------------------------------------------------------------------------

// Echo: the body's bytes with a zero byte behind them, through +0 when the request that this
// answers had an empty body, else through +8.
DmlpCoderError DmlpReplyEcho(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass* pass)
{
    DmlpEchoResult* result = (DmlpEchoResult*)record;
    const uint16_t length = pass->header->bodyLength;
    uint32_t requestBody = 1;
    const bool emptyRequest = pass->request != nullptr &&
                              DmlpPeekHeaderField(DMLP_FIELD_BODY_LENGTH, pass->request, &requestBody) ==
                                  DMLP_CODER_OK &&
                              requestBody == 0;
    const uint32_t slot = emptyRequest ? offsetof(DmlpEchoResult, data) : offsetof(DmlpEchoResult, echoed);
    DMLP_TRY(DmlpWalkData(walk, record, slot, length, 1));
    if (Decoding(walk))
        result->length = length;
    return DMLP_CODER_OK;
}

// ExecuteMethod: the reply parameters of the code, measured and read by its row.
DmlpCoderError DmlpReplyExecuteMethod(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpExecuteMethodResult* result = (DmlpExecuteMethodResult*)record;
    const DmlpExecCodeRow* row = DmlpFindExecCode(result->code, walk->version);
    if (row == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_EXEC_CODE, 9, DMLP_TRACE_METHOD, __LINE__);
    uint16_t length;
    uint16_t memory;
    DMLP_TRY(row->decSize(&walk->wire, &length, &memory));
    uint32_t at;
    DMLP_TRY(DmlpWalkReserve(walk, memory, &at));
    if (Decoding(walk)) {
        result->length = length;
        result->params = memory != 0 ? walk->base + at : nullptr;
        row->decode(walk->base + at, &walk->wire);
    }
    return DMLP_CODER_OK;
}

// AcquireResource: the record points at the bytes behind the uint32 (the rest of the frame) where
// they were received; nothing is copied and no block is allocated. The engine copies them.
DmlpCoderError DmlpReplyAcquireResource(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass* pass)
{
    DmlpAcquireResourceResult* result = (DmlpAcquireResourceResult*)record;
    const uint32_t length = (uint32_t)walk->wire.count;
    if (Decoding(walk)) {
        const uint16_t declared = pass->header->bodyLength;
        result->declared = declared > 4 ? (uint16_t)(declared - 4) : 0;
        result->length = length;
        result->data = length != 0 ? walk->wire.ptr : nullptr;
    }
    DmlpSkip(&walk->wire, length);
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpWalkEventBody(DmlpWalk* walk, uint16_t id, uint8_t* bodyAt)
{
    const DmlpEventRow* row = DmlpFindEvent(id, walk->version);
    if (row == nullptr)
        return Refuse(DMLP_CODER_UNKNOWN_EVENT, 7, DMLP_TRACE_EVENT, __LINE__);
    if (!Decoding(walk)) {
        uint16_t memory;
        DMLP_TRY(row->size(&walk->wire, 0, &memory, walk->version));
        uint32_t at;
        return DmlpWalkReserve(walk, memory, &at);
    }
    uint8_t* body = walk->base + walk->mem;
    DmlpStorePointer(bodyAt, body);
    walk->mem = (uint32_t)(row->decode(body, &walk->wire, 0, walk->version) - walk->base);
    return DMLP_CODER_OK;
}

// AcquireRecords: records of fixed fields and an event body each.
DmlpCoderError DmlpReplyRecords(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    static const DmlpOp kRecordOps[] = {DMLP_U16(0), DMLP_U32(4), DMLP_U32(8), DMLP_U8(12)};
    DmlpAcquireRecordsResult* result = (DmlpAcquireRecordsResult*)record;
    uint32_t entries;
    DMLP_TRY(ReserveEntries(walk, result->count, sizeof(DmlpAcquiredRecord), (uint8_t*)&result->records, &entries));
    for (uint32_t i = 0; i < result->count; ++i) {
        DMLP_TRY(DmlpWalkNeed(walk, 13));
        uint8_t* entry = MemoryAt(walk, entries + i * (uint32_t)sizeof(DmlpAcquiredRecord));
        DMLP_TRY(DmlpWalkOps(walk, entry, kRecordOps, DMLP_OPS_COUNT(kRecordOps)));
        uint32_t id;
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, offsetof(DmlpAcquiredRecord, eventId)), 2, 2, &id));
        DMLP_TRY(DmlpWalkEventBody(walk, (uint16_t)id, DmlpWalkAt(entry, offsetof(DmlpAcquiredRecord, body))));
    }
    return DMLP_CODER_OK;
}

// Reserve and Unreserve: the address form into the DmlpAddress at at[0].
DmlpCoderError DmlpReplyAddress(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass* pass)
{
    if (Decoding(walk))
        return DmlpReadAddress(&walk->wire, (DmlpAddress*)(record + layout->at[0]));
    const DmlpCoderError error = DmlpCheckAddressLength(&walk->wire);
    if (error == DMLP_CODER_OK)
        return DMLP_CODER_OK;
    // An address of a kind the library does not know is a bad parameter, not a failure.
    if (error != DMLP_CODER_TRUNCATED)
        pass->refusalStatus = DMLP_BAD_PARAMETER;
    return Refuse(error, error == DMLP_CODER_TRUNCATED ? 9 : 7, DMLP_TRACE_DECFU, __LINE__);
}

// SendRequest: by kind; kind 1 carries an address only when the reply's status is 18.
DmlpCoderError DmlpReplySendRequest(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass* pass)
{
    static const DmlpReplyLayout kAddress = {0, 0, 0, 0, nullptr, 0, nullptr, nullptr,
                                             {offsetof(DmlpSendRequestResult, u.address)}};
    DmlpSendRequestResult* result = (DmlpSendRequestResult*)record;
    uint32_t value;
    switch (result->kind) {
    case 1:
        if (pass->header->status != 18)
            return DMLP_CODER_OK;
        DMLP_TRY(DmlpWalkNeed(walk, 3));
        return DmlpReplyAddress(walk, record, &kAddress, pass);
    case 4:
    case 5:
        DMLP_TRY(DmlpWalkField(walk, &result->u.text.length, 1, 1, &value));
        return DmlpWalkData(walk, record, offsetof(DmlpSendRequestResult, u.text.bytes), value, 1);
    case 6:
    case 7:
    case 16: return DmlpWalkField(walk, (uint8_t*)&result->u.value1, 4, 4, &value);
    default: return Refuse(DMLP_CODER_BAD_ARGUMENT, 7, DMLP_TRACE_DECFU, __LINE__);
    }
}

// Event notification: count events of id, carried byte and body.
DmlpCoderError DmlpReplyEvents(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout*, DmlpReplyPass*)
{
    DmlpEventRecord* result = (DmlpEventRecord*)record;
    uint32_t entries;
    DMLP_TRY(ReserveEntries(walk, result->count, sizeof(DmlpEventEntry), (uint8_t*)&result->entries, &entries));
    for (uint32_t i = 0; i < result->count; ++i) {
        if (DmlpWalkNeed(walk, 3) != DMLP_CODER_OK)
            return Refuse(DMLP_CODER_TRUNCATED, 9, DMLP_TRACE_EVENT, __LINE__);
        uint8_t* entry = MemoryAt(walk, entries + i * (uint32_t)sizeof(DmlpEventEntry));
        uint32_t id;
        uint32_t carried;
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, offsetof(DmlpEventEntry, id)), 2, 2, &id));
        DMLP_TRY(DmlpWalkField(walk, DmlpWalkAt(entry, offsetof(DmlpEventEntry, carried)), 1, 1, &carried));
        DMLP_TRY(DmlpWalkEventBody(walk, (uint16_t)id, DmlpWalkAt(entry, offsetof(DmlpEventEntry, body))));
    }
    return DMLP_CODER_OK;
}
