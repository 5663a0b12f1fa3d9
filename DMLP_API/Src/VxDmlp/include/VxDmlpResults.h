// VxDmlpResults: the result records that the reply decoders fill and the decoded event
// notification. Scalars are in host order. Everything of variable size lies in the one block that
// the record's DmlpBuffer owns (freed with DMLP_FreeMemory, or with the parameter block by
// DMLP_ReleaseParam); every pointer in a record points into that block. Unnamed fields are
// numbered in wire order.
#pragma once

#include "VxDmlpParams.h"

// ---- Parts of decoded records ---------------------------------------------------------------------

// A byte string with a uint8 length (null bytes when the length is 0).
typedef struct DmlpDecodedBytes {
    uint8_t length;
    uint8_t* bytes;
} DmlpDecodedBytes;
static_assert(sizeof(DmlpDecodedBytes) == 16 && offsetof(DmlpDecodedBytes, bytes) == 8, "DmlpDecodedBytes");

// A byte string with a uint16 length.
typedef struct DmlpDecodedBytes16 {
    uint16_t length;
    uint8_t* bytes;
} DmlpDecodedBytes16;
static_assert(sizeof(DmlpDecodedBytes16) == 16 && offsetof(DmlpDecodedBytes16, bytes) == 8, "DmlpDecodedBytes16");

// ---- Family A: no body (Send 26, Trigger 28, KeepAlive 85) --------------------------------------------

typedef struct DmlpSendResult {
    uint64_t unused;
} DmlpSendResult;
typedef DmlpSendResult DmlpTriggerResult;
typedef DmlpSendResult DmlpKeepAliveResult;
static_assert(sizeof(DmlpSendResult) == 8, "DmlpSendResult");

// ---- Family B: fixed fields ---------------------------------------------------------------------------

// Delete (11), DeleteUser (13), ChangeUserPassword (14), BinderStart (20), BinderEnd (22),
// DocumentStart (23), DocumentEnd (25), CancelJob (31), PauseJob (32), ResumeJob (33),
// InterruptJob (35), Enable (38), Disable (39), Awake (40), Sleep (41), ResourceStart (46),
// ResourceModify (48), ResourceEnd (51), ResumeJobWithPassword (64), MaintainOn (78),
// MaintainOff (79), InitializeRecord (81), FileModify (92).
typedef struct DmlpDeleteResult {
    uint32_t value1;
} DmlpDeleteResult;
typedef DmlpDeleteResult DmlpDeleteUserResult;
typedef DmlpDeleteResult DmlpChangeUserPasswordResult;
typedef DmlpDeleteResult DmlpBinderStartResult;
typedef DmlpDeleteResult DmlpBinderEndResult;
typedef DmlpDeleteResult DmlpDocumentStartResult;
typedef DmlpDeleteResult DmlpDocumentEndResult;
typedef DmlpDeleteResult DmlpCancelJobResult;
typedef DmlpDeleteResult DmlpPauseJobResult;
typedef DmlpDeleteResult DmlpResumeJobResult;
typedef DmlpDeleteResult DmlpInterruptJobResult;
typedef DmlpDeleteResult DmlpEnableResult;
typedef DmlpDeleteResult DmlpDisableResult;
typedef DmlpDeleteResult DmlpAwakeResult;
typedef DmlpDeleteResult DmlpSleepResult;
typedef DmlpDeleteResult DmlpResourceStartResult;
typedef DmlpDeleteResult DmlpResourceModifyResult;
typedef DmlpDeleteResult DmlpResourceEndResult;
typedef DmlpDeleteResult DmlpResumeJobWithPasswordResult;
typedef DmlpDeleteResult DmlpMaintainOnResult;
typedef DmlpDeleteResult DmlpMaintainOffResult;
typedef DmlpDeleteResult DmlpInitializeRecordResult;
typedef DmlpDeleteResult DmlpFileModifyResult;
static_assert(sizeof(DmlpDeleteResult) == 4, "DmlpDeleteResult");

// PromoteJob (34), Interact (36), Continue (37), FileStart (76).
typedef struct DmlpPromoteJobResult {
    uint32_t value1;
    uint32_t value2;
} DmlpPromoteJobResult;
typedef DmlpPromoteJobResult DmlpInteractResult;
typedef DmlpPromoteJobResult DmlpContinueResult;
typedef DmlpPromoteJobResult DmlpFileStartResult;
static_assert(sizeof(DmlpPromoteJobResult) == 8, "DmlpPromoteJobResult");

// AppendToList (8), DeleteFromList (9), SetListElement (106).
typedef struct DmlpAppendToListResult {
    uint32_t value1;
    uint16_t value2;
    uint16_t value3;
} DmlpAppendToListResult;
typedef DmlpAppendToListResult DmlpDeleteFromListResult;
typedef DmlpAppendToListResult DmlpSetListElementResult;
static_assert(sizeof(DmlpAppendToListResult) == 8 && offsetof(DmlpAppendToListResult, value3) == 6,
              "DmlpAppendToListResult");

// AddUser (12), Reset (42), CheckFileBoxPassword (70), ChangeFileBoxPassword (71).
typedef struct DmlpAddUserResult {
    uint32_t value1;
    uint8_t value2;
} DmlpAddUserResult;
typedef DmlpAddUserResult DmlpResetResult;
typedef DmlpAddUserResult DmlpCheckFileBoxPasswordResult;
typedef DmlpAddUserResult DmlpChangeFileBoxPasswordResult;
static_assert(sizeof(DmlpAddUserResult) == 8 && offsetof(DmlpAddUserResult, value2) == 4, "DmlpAddUserResult");

// Shutdown (43), CheckUserPassword (80).
typedef struct DmlpShutdownResult {
    uint32_t value1;
    uint8_t value2;
    uint8_t value3;
} DmlpShutdownResult;
typedef DmlpShutdownResult DmlpCheckUserPasswordResult;
static_assert(sizeof(DmlpShutdownResult) == 8 && offsetof(DmlpShutdownResult, value3) == 5, "DmlpShutdownResult");

// JobEnd (19), DeleteFile (74).
typedef struct DmlpJobEndResult {
    uint8_t value1;
    uint32_t value2;
} DmlpJobEndResult;
typedef DmlpJobEndResult DmlpDeleteFileResult;
static_assert(sizeof(DmlpJobEndResult) == 8 && offsetof(DmlpJobEndResult, value2) == 4, "DmlpJobEndResult");

// MoveFile (44).
typedef struct DmlpMoveFileResult {
    uint8_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpMoveFileResult;
static_assert(sizeof(DmlpMoveFileResult) == 12 && offsetof(DmlpMoveFileResult, value3) == 8, "DmlpMoveFileResult");

// CreateFile (73).
typedef struct DmlpCreateFileResult {
    uint16_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpCreateFileResult;
static_assert(sizeof(DmlpCreateFileResult) == 12 && offsetof(DmlpCreateFileResult, value2) == 4,
              "DmlpCreateFileResult");

// SetDateTime (15), GetDateTime (16).
typedef struct DmlpSetDateTimeResult {
    uint32_t value1;
    uint32_t value2;
    uint8_t value3;
    uint8_t value4;
} DmlpSetDateTimeResult;
typedef DmlpSetDateTimeResult DmlpGetDateTimeResult;
static_assert(sizeof(DmlpSetDateTimeResult) == 12 && offsetof(DmlpSetDateTimeResult, value4) == 9,
              "DmlpSetDateTimeResult");

// ExecuteFile (68).
typedef struct DmlpExecuteFileResult {
    uint32_t value1;
    uint32_t value2;
    uint8_t value3;
    uint32_t value4;
} DmlpExecuteFileResult;
static_assert(sizeof(DmlpExecuteFileResult) == 16 && offsetof(DmlpExecuteFileResult, value4) == 12,
              "DmlpExecuteFileResult");

// ExecuteFile2 (112).
typedef struct DmlpExecuteFile2Result {
    uint32_t value1;
    uint32_t value2;
    uint8_t value3;
} DmlpExecuteFile2Result;
static_assert(sizeof(DmlpExecuteFile2Result) == 12 && offsetof(DmlpExecuteFile2Result, value3) == 8,
              "DmlpExecuteFile2Result");

// JobStart (17): value2 and value3 stay 0 when the reply carries only value1.
typedef struct DmlpJobStartResult {
    uint32_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpJobStartResult;
static_assert(sizeof(DmlpJobStartResult) == 12, "DmlpJobStartResult");

// ---- Family C: fixed fields and a counted list of uint32 ------------------------------------------------

// DeleteFiles (95).
typedef struct DmlpDeleteFilesResult {
    uint16_t value1;
    uint16_t count;
    uint32_t* objects;
    DmlpBuffer buffer;
} DmlpDeleteFilesResult;
static_assert(sizeof(DmlpDeleteFilesResult) == 40 && offsetof(DmlpDeleteFilesResult, count) == 2 &&
                  offsetof(DmlpDeleteFilesResult, objects) == 8 && offsetof(DmlpDeleteFilesResult, buffer) == 16,
              "DmlpDeleteFilesResult");

// CopyFiles (93), MoveFiles (94), ReplaceFiles (97).
typedef struct DmlpCopyFilesResult {
    uint32_t value1;
    uint16_t value2;
    uint16_t count;
    uint32_t* objects;
    DmlpBuffer buffer;
} DmlpCopyFilesResult;
typedef DmlpCopyFilesResult DmlpMoveFilesResult;
typedef DmlpCopyFilesResult DmlpReplaceFilesResult;
static_assert(sizeof(DmlpCopyFilesResult) == 40 && offsetof(DmlpCopyFilesResult, count) == 6 &&
                  offsetof(DmlpCopyFilesResult, objects) == 8 && offsetof(DmlpCopyFilesResult, buffer) == 16,
              "DmlpCopyFilesResult");

// CopyFile (72), ReplaceFile (96).
typedef struct DmlpCopyFileResult {
    uint8_t value1;
    uint32_t value2;
    uint32_t value3;
    uint16_t count;
    uint32_t* objects;
    DmlpBuffer buffer;
} DmlpCopyFileResult;
typedef DmlpCopyFileResult DmlpReplaceFileResult;
static_assert(sizeof(DmlpCopyFileResult) == 48 && offsetof(DmlpCopyFileResult, count) == 12 &&
                  offsetof(DmlpCopyFileResult, objects) == 16 && offsetof(DmlpCopyFileResult, buffer) == 24,
              "DmlpCopyFileResult");

// ListObjects (7).
typedef struct DmlpListObjectsResult {
    uint16_t value1;
    uint8_t value2;
    uint16_t value3;
    uint16_t value4;
    uint16_t value5;
    uint16_t count;
    uint32_t* objects;
    DmlpBuffer buffer;
} DmlpListObjectsResult;
static_assert(sizeof(DmlpListObjectsResult) == 48 && offsetof(DmlpListObjectsResult, value3) == 4 &&
                  offsetof(DmlpListObjectsResult, count) == 10 && offsetof(DmlpListObjectsResult, objects) == 16 &&
                  offsetof(DmlpListObjectsResult, buffer) == 24,
              "DmlpListObjectsResult");

// ListFiles (69), ListSubPages (88).
typedef struct DmlpListFilesResult {
    uint16_t value1;
    uint8_t value2;
    uint32_t value3;
    uint16_t value4;
    uint16_t value5;
    uint16_t value6;
    uint16_t count;
    uint32_t* objects;
    DmlpBuffer buffer;
} DmlpListFilesResult;
typedef DmlpListFilesResult DmlpListSubPagesResult;
static_assert(sizeof(DmlpListFilesResult) == 48 && offsetof(DmlpListFilesResult, value3) == 4 &&
                  offsetof(DmlpListFilesResult, count) == 14 && offsetof(DmlpListFilesResult, objects) == 16 &&
                  offsetof(DmlpListFilesResult, buffer) == 24,
              "DmlpListFilesResult");

// ListJobs (82), ListObjects2 (114): the object count at +16 and the handles through +24.
typedef struct DmlpListObjects2Result {
    uint16_t value1;
    uint8_t value2;
    uint16_t value3;
    uint8_t value4;
    uint32_t value5;
    uint16_t value6;
    uint16_t value7;
    uint16_t count;
    uint32_t* objects;
    DmlpBuffer buffer;
} DmlpListObjects2Result;
typedef DmlpListObjects2Result DmlpListJobsResult;
static_assert(sizeof(DmlpListObjects2Result) == 56 && offsetof(DmlpListObjects2Result, value3) == 4 &&
                  offsetof(DmlpListObjects2Result, value4) == 6 && offsetof(DmlpListObjects2Result, value5) == 8 &&
                  offsetof(DmlpListObjects2Result, count) == 16 && offsetof(DmlpListObjects2Result, objects) == 24 &&
                  offsetof(DmlpListObjects2Result, buffer) == 32,
              "DmlpListObjects2Result");

// ---- Family D: one attribute value --------------------------------------------------------------------

// SetJob (18), SetBinder (21), SetDocument (24), SetResource (50).
typedef struct DmlpSetJobResult {
    uint16_t attributeId;
    void* value;
    DmlpBuffer buffer;
} DmlpSetJobResult;
typedef DmlpSetJobResult DmlpSetBinderResult;
typedef DmlpSetJobResult DmlpSetDocumentResult;
typedef DmlpSetJobResult DmlpSetResourceResult;
static_assert(sizeof(DmlpSetJobResult) == 40 && offsetof(DmlpSetJobResult, value) == 8 &&
                  offsetof(DmlpSetJobResult, buffer) == 16,
              "DmlpSetJobResult");

// Set (3), Get (4), SetToFileBox (86), GetFromFileBox (87), Set2 (105).
typedef struct DmlpGetResult {
    uint32_t value1;
    uint16_t attributeId;
    void* value;
    DmlpBuffer buffer;
} DmlpGetResult;
typedef DmlpGetResult DmlpSetResult;
typedef DmlpGetResult DmlpSetToFileBoxResult;
typedef DmlpGetResult DmlpGetFromFileBoxResult;
typedef DmlpGetResult DmlpSet2Result;
static_assert(sizeof(DmlpGetResult) == 40 && offsetof(DmlpGetResult, attributeId) == 4 &&
                  offsetof(DmlpGetResult, value) == 8 && offsetof(DmlpGetResult, buffer) == 16,
              "DmlpGetResult");

// SetByUser (59), GetByUser (60).
typedef struct DmlpGetByUserResult {
    uint32_t value1;
    uint32_t value2;
    uint16_t attributeId;
    void* value;
    DmlpBuffer buffer;
} DmlpGetByUserResult;
typedef DmlpGetByUserResult DmlpSetByUserResult;
static_assert(sizeof(DmlpGetByUserResult) == 48 && offsetof(DmlpGetByUserResult, attributeId) == 8 &&
                  offsetof(DmlpGetByUserResult, value) == 16 && offsetof(DmlpGetByUserResult, buffer) == 24,
              "DmlpGetByUserResult");

// ---- Family E: attribute lists with lengths ----------------------------------------------------------

// Get2 (102): one entry per object.
typedef struct DmlpGet2Object {
    uint32_t handle;
    uint16_t count;
    DmlpAttributeEntry* attributes;
} DmlpGet2Object;
static_assert(sizeof(DmlpGet2Object) == 16 && offsetof(DmlpGet2Object, count) == 4 &&
                  offsetof(DmlpGet2Object, attributes) == 8,
              "DmlpGet2Object");

typedef struct DmlpGet2Result {
    uint16_t count;
    DmlpGet2Object* objects;
    DmlpBuffer buffer;
} DmlpGet2Result;
static_assert(sizeof(DmlpGet2Result) == 40 && offsetof(DmlpGet2Result, objects) == 8 &&
                  offsetof(DmlpGet2Result, buffer) == 16,
              "DmlpGet2Result");

// AcquireRecords2 (110): as Get2 with 24-byte object entries.
typedef struct DmlpAcquireRecords2Object {
    uint32_t handle;
    uint32_t unused;
    uint16_t count;
    DmlpAttributeEntry* attributes;
} DmlpAcquireRecords2Object;
static_assert(sizeof(DmlpAcquireRecords2Object) == 24 && offsetof(DmlpAcquireRecords2Object, count) == 8 &&
                  offsetof(DmlpAcquireRecords2Object, attributes) == 16,
              "DmlpAcquireRecords2Object");

typedef struct DmlpAcquireRecords2Result {
    uint16_t count;
    DmlpAcquireRecords2Object* objects;
    DmlpBuffer buffer;
} DmlpAcquireRecords2Result;
static_assert(sizeof(DmlpAcquireRecords2Result) == 40 && offsetof(DmlpAcquireRecords2Result, buffer) == 16,
              "DmlpAcquireRecords2Result");

// JobStart2 (107).
typedef struct DmlpJobStart2Result {
    uint32_t value1;
    uint32_t value2;
    uint16_t count;
    DmlpAttributeEntry* attributes;
    DmlpBuffer buffer;
} DmlpJobStart2Result;
static_assert(sizeof(DmlpJobStart2Result) == 48 && offsetof(DmlpJobStart2Result, count) == 8 &&
                  offsetof(DmlpJobStart2Result, attributes) == 16 && offsetof(DmlpJobStart2Result, buffer) == 24,
              "DmlpJobStart2Result");

// ResourceStart2 (111).
typedef struct DmlpResourceStart2Result {
    uint32_t value1;
    uint16_t count;
    DmlpAttributeEntry* attributes;
    DmlpBuffer buffer;
} DmlpResourceStart2Result;
static_assert(sizeof(DmlpResourceStart2Result) == 40 && offsetof(DmlpResourceStart2Result, count) == 4 &&
                  offsetof(DmlpResourceStart2Result, attributes) == 8 &&
                  offsetof(DmlpResourceStart2Result, buffer) == 16,
              "DmlpResourceStart2Result");

// TraceJob (109): kind 1 carries value1 and a list, kind 2 value1, value2 and a list; other
// kinds the kind alone.
typedef struct DmlpTraceJobResult {
    uint8_t kind;
    uint8_t unused[7];
    uint32_t value1;
    uint32_t value2;
    uint16_t count;
    DmlpAttributeEntry* attributes;
    DmlpBuffer buffer;
} DmlpTraceJobResult;
static_assert(sizeof(DmlpTraceJobResult) == 56 && offsetof(DmlpTraceJobResult, value1) == 8 &&
                  offsetof(DmlpTraceJobResult, value2) == 12 && offsetof(DmlpTraceJobResult, count) == 16 &&
                  offsetof(DmlpTraceJobResult, attributes) == 24 && offsetof(DmlpTraceJobResult, buffer) == 32,
              "DmlpTraceJobResult");

// ---- Family F: value lists without lengths -----------------------------------------------------------

// ListAttributes (6).
typedef struct DmlpListedAttribute {
    uint16_t id;
    void* value;
} DmlpListedAttribute;
static_assert(sizeof(DmlpListedAttribute) == 16 && offsetof(DmlpListedAttribute, value) == 8, "DmlpListedAttribute");

typedef struct DmlpListAttributesResult {
    uint16_t value1;
    uint8_t value2;
    uint32_t value3;
    uint16_t count;
    DmlpListedAttribute* attributes;
    DmlpBuffer buffer;
} DmlpListAttributesResult;
static_assert(sizeof(DmlpListAttributesResult) == 48 && offsetof(DmlpListAttributesResult, value3) == 4 &&
                  offsetof(DmlpListAttributesResult, count) == 8 &&
                  offsetof(DmlpListAttributesResult, attributes) == 16 &&
                  offsetof(DmlpListAttributesResult, buffer) == 24,
              "DmlpListAttributesResult");

// ListObjectAttributes (53).
typedef struct DmlpListedObjectAttribute {
    uint32_t object;
    uint16_t id;
    void* value;
} DmlpListedObjectAttribute;
static_assert(sizeof(DmlpListedObjectAttribute) == 16 && offsetof(DmlpListedObjectAttribute, id) == 4 &&
                  offsetof(DmlpListedObjectAttribute, value) == 8,
              "DmlpListedObjectAttribute");

typedef struct DmlpListObjectAttributesResult {
    uint16_t value1;
    uint16_t value2;
    uint16_t count;
    DmlpListedObjectAttribute* attributes;
    DmlpBuffer buffer;
} DmlpListObjectAttributesResult;
static_assert(sizeof(DmlpListObjectAttributesResult) == 40 && offsetof(DmlpListObjectAttributesResult, count) == 4 &&
                  offsetof(DmlpListObjectAttributesResult, attributes) == 8 &&
                  offsetof(DmlpListObjectAttributesResult, buffer) == 16,
              "DmlpListObjectAttributesResult");

// List (5), GetListElement (103): count values of the attribute's type, one element each.
typedef struct DmlpListResult {
    uint16_t value1;
    uint8_t value2;
    uint32_t value3;
    uint16_t attributeId;
    uint16_t value4;
    uint16_t value5;
    uint16_t count;
    void** values;
    DmlpBuffer buffer;
} DmlpListResult;
typedef DmlpListResult DmlpGetListElementResult;
static_assert(sizeof(DmlpListResult) == 48 && offsetof(DmlpListResult, value3) == 4 &&
                  offsetof(DmlpListResult, attributeId) == 8 && offsetof(DmlpListResult, count) == 14 &&
                  offsetof(DmlpListResult, values) == 16 && offsetof(DmlpListResult, buffer) == 24,
              "DmlpListResult");

// The table replies: a row per handle, a cell per column (the columns take the value types of
// the first row's attribute ids).
typedef struct DmlpTableCell {
    uint16_t id;
    void* value;
} DmlpTableCell;
static_assert(sizeof(DmlpTableCell) == 16 && offsetof(DmlpTableCell, value) == 8, "DmlpTableCell");

typedef struct DmlpTableRow {
    uint32_t handle;
    DmlpTableCell* cells;
} DmlpTableRow;
static_assert(sizeof(DmlpTableRow) == 16 && offsetof(DmlpTableRow, cells) == 8, "DmlpTableRow");

// ListHandleAttributes (84).
typedef struct DmlpListHandleAttributesResult {
    uint16_t rowCount;
    uint16_t columnCount;
    DmlpTableRow* rows;
    DmlpBuffer buffer;
} DmlpListHandleAttributesResult;
static_assert(sizeof(DmlpListHandleAttributesResult) == 40 && offsetof(DmlpListHandleAttributesResult, rows) == 8 &&
                  offsetof(DmlpListHandleAttributesResult, buffer) == 16,
              "DmlpListHandleAttributesResult");

// ListJobAttributes (83).
typedef struct DmlpListJobAttributesResult {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint32_t value4;
    uint16_t rowCount;
    uint16_t columnCount;
    DmlpTableRow* rows;
    DmlpBuffer buffer;
} DmlpListJobAttributesResult;
static_assert(sizeof(DmlpListJobAttributesResult) == 48 && offsetof(DmlpListJobAttributesResult, value4) == 8 &&
                  offsetof(DmlpListJobAttributesResult, rowCount) == 12 &&
                  offsetof(DmlpListJobAttributesResult, columnCount) == 14 &&
                  offsetof(DmlpListJobAttributesResult, rows) == 16 &&
                  offsetof(DmlpListJobAttributesResult, buffer) == 24,
              "DmlpListJobAttributesResult");

// ---- Family G: basic-typed values -------------------------------------------------------------------

// AppendToListEx (57), DeleteFromListEx (58).
typedef struct DmlpAppendToListExResult {
    uint32_t value1;
    uint16_t type;
    void* value;
    uint16_t value2;
    DmlpBuffer buffer;
} DmlpAppendToListExResult;
typedef DmlpAppendToListExResult DmlpDeleteFromListExResult;
static_assert(sizeof(DmlpAppendToListExResult) == 48 && offsetof(DmlpAppendToListExResult, type) == 4 &&
                  offsetof(DmlpAppendToListExResult, value) == 8 && offsetof(DmlpAppendToListExResult, value2) == 16 &&
                  offsetof(DmlpAppendToListExResult, buffer) == 24,
              "DmlpAppendToListExResult");

// SetEx (54), GetEx (55): value A single-valued, value B multi-valued.
typedef struct DmlpGetExResult {
    uint32_t value1;
    uint16_t typeA;
    void* valueA;
    uint16_t typeB;
    void* valueB;
    DmlpBuffer buffer;
} DmlpGetExResult;
typedef DmlpGetExResult DmlpSetExResult;
static_assert(sizeof(DmlpGetExResult) == 56 && offsetof(DmlpGetExResult, typeA) == 4 &&
                  offsetof(DmlpGetExResult, valueA) == 8 && offsetof(DmlpGetExResult, typeB) == 16 &&
                  offsetof(DmlpGetExResult, valueB) == 24 && offsetof(DmlpGetExResult, buffer) == 32,
              "DmlpGetExResult");

// ListEx (56): count values of type B, one element each.
typedef struct DmlpListExResult {
    uint16_t value1;
    uint8_t value2;
    uint32_t value3;
    uint16_t typeA;
    void* valueA;
    uint16_t typeB;
    uint16_t value4;
    uint16_t value5;
    uint16_t count;
    void** values;
    DmlpBuffer buffer;
} DmlpListExResult;
static_assert(sizeof(DmlpListExResult) == 64 && offsetof(DmlpListExResult, typeA) == 8 &&
                  offsetof(DmlpListExResult, valueA) == 16 && offsetof(DmlpListExResult, typeB) == 24 &&
                  offsetof(DmlpListExResult, count) == 30 && offsetof(DmlpListExResult, values) == 32 &&
                  offsetof(DmlpListExResult, buffer) == 40,
              "DmlpListExResult");

// ---- Family H: single methods ---------------------------------------------------------------------

// Echo (1): the echoed bytes with a zero byte behind them, through data when the request had an
// empty body, else through echoed.
typedef struct DmlpEchoResult {
    uint8_t* data;
    uint8_t* echoed;
    uint16_t length;
    DmlpBuffer buffer;
} DmlpEchoResult;
static_assert(sizeof(DmlpEchoResult) == 48 && offsetof(DmlpEchoResult, echoed) == 8 &&
                  offsetof(DmlpEchoResult, length) == 16 && offsetof(DmlpEchoResult, buffer) == 24,
              "DmlpEchoResult");

// ExecuteMethod (29): params points to the decoded reply parameters of the code; length is the
// byte count of the raw parameters of codes above 8191, else 0.
typedef struct DmlpExecuteMethodResult {
    uint32_t object;
    uint16_t code;
    void* params;
    uint16_t length;
    DmlpBuffer buffer;
} DmlpExecuteMethodResult;
static_assert(sizeof(DmlpExecuteMethodResult) == 48 && offsetof(DmlpExecuteMethodResult, code) == 4 &&
                  offsetof(DmlpExecuteMethodResult, params) == 8 && offsetof(DmlpExecuteMethodResult, length) == 16 &&
                  offsetof(DmlpExecuteMethodResult, buffer) == 24,
              "DmlpExecuteMethodResult");

// AcquireResource (49): declared is the header's body length less the uint32 (0 when shorter);
// data: the length bytes that follow the uint32 in the frame. The coder points into the frame it
// decodes; the library hands out a copy of its own, in the block.
typedef struct DmlpAcquireResourceResult {
    uint32_t value1;
    uint16_t declared;
    uint32_t length;
    uint8_t* data;
    DmlpBuffer buffer;
} DmlpAcquireResourceResult;
static_assert(sizeof(DmlpAcquireResourceResult) == 48 && offsetof(DmlpAcquireResourceResult, declared) == 4 &&
                  offsetof(DmlpAcquireResourceResult, length) == 8 && offsetof(DmlpAcquireResourceResult, data) == 16 &&
                  offsetof(DmlpAcquireResourceResult, buffer) == 24,
              "DmlpAcquireResourceResult");

// AcquireRecords (77): each record's body is decoded as the event body of its event id.
typedef struct DmlpAcquiredRecord {
    uint16_t value1;
    uint32_t value2;
    uint32_t value3;
    uint8_t value4;
    uint16_t eventId;
    void* body;
} DmlpAcquiredRecord;
static_assert(sizeof(DmlpAcquiredRecord) == 24 && offsetof(DmlpAcquiredRecord, value2) == 4 &&
                  offsetof(DmlpAcquiredRecord, value4) == 12 && offsetof(DmlpAcquiredRecord, eventId) == 14 &&
                  offsetof(DmlpAcquiredRecord, body) == 16,
              "DmlpAcquiredRecord");

typedef struct DmlpAcquireRecordsResult {
    uint32_t value1;
    uint8_t value2;
    uint16_t value3;
    uint16_t value4;
    uint8_t value5;
    uint16_t count;
    DmlpAcquiredRecord* records;
    DmlpBuffer buffer;
} DmlpAcquireRecordsResult;
static_assert(sizeof(DmlpAcquireRecordsResult) == 48 && offsetof(DmlpAcquireRecordsResult, value3) == 6 &&
                  offsetof(DmlpAcquireRecordsResult, value5) == 10 && offsetof(DmlpAcquireRecordsResult, count) == 12 &&
                  offsetof(DmlpAcquireRecordsResult, records) == 16 && offsetof(DmlpAcquireRecordsResult, buffer) == 24,
              "DmlpAcquireRecordsResult");

// Reserve (2).
typedef struct DmlpReserveResult {
    uint16_t value1;
    uint32_t value2;
    DmlpAddress address;
} DmlpReserveResult;
static_assert(sizeof(DmlpReserveResult) == 40 && offsetof(DmlpReserveResult, value2) == 4 &&
                  offsetof(DmlpReserveResult, address) == 8,
              "DmlpReserveResult");

// Unreserve (63).
typedef struct DmlpUnreserveResult {
    DmlpAddress address;
} DmlpUnreserveResult;
static_assert(sizeof(DmlpUnreserveResult) == 32, "DmlpUnreserveResult");

// SendRequest (27): kind 1 the address (only with reply status 18); 4 and 5 the text (with a
// zero byte behind it); 6, 7 and 16 value1.
typedef struct DmlpSendRequestResult {
    uint8_t kind;
    union {
        DmlpAddress address;
        DmlpDecodedBytes text;
        uint32_t value1;
    } u;
    DmlpBuffer buffer;
} DmlpSendRequestResult;
static_assert(sizeof(DmlpSendRequestResult) == 64 && offsetof(DmlpSendRequestResult, u) == 8 &&
                  offsetof(DmlpSendRequestResult, buffer) == 40,
              "DmlpSendRequestResult");

// ---- ExecuteMethod reply parameters -----------------------------------------------------------------

// Codes 135 (uint32), 136, 137 and 146 (uint8): the value in an 8-byte slot. Codes 11 and 13 give
// a DmlpDecodedBytes, codes 12 and 14 a DmlpDecodedBytes16; codes above 8191 the raw bytes.

// ---- Event notifications (method 10) --------------------------------------------------------------

// One event of a notification: its id, the byte that follows the id as received, its body record.
typedef struct DmlpEventEntry {
    uint16_t id;
    uint8_t carried;
    void* body;
} DmlpEventEntry;
static_assert(sizeof(DmlpEventEntry) == 16 && offsetof(DmlpEventEntry, carried) == 2 &&
                  offsetof(DmlpEventEntry, body) == 8,
              "DmlpEventEntry");

// The decoded notification: the entries and every body lie in the one block of buffer.
typedef struct DmlpEventRecord {
    uint32_t reference;
    uint8_t count;
    DmlpEventEntry* entries;
    DmlpBuffer buffer;
} DmlpEventRecord;
static_assert(sizeof(DmlpEventRecord) == 40 && offsetof(DmlpEventRecord, count) == 4 &&
                  offsetof(DmlpEventRecord, entries) == 8 && offsetof(DmlpEventRecord, buffer) == 16,
              "DmlpEventRecord");

// A uint8-counted list of uint32 inside an event body.
typedef struct DmlpEventValues {
    uint8_t count;
    uint32_t* values;
} DmlpEventValues;
static_assert(sizeof(DmlpEventValues) == 16 && offsetof(DmlpEventValues, values) == 8, "DmlpEventValues");

// Events 154 and 155: a job's state.
typedef struct JobState3 {
    uint16_t value1;
    uint32_t Job;             // the device's job object handle
    uint16_t value3;
    uint32_t value4;
    uint8_t State;
    uint8_t Reason;
    DmlpEventValues values;
    uint32_t HintPriorityCode;
    DmlpClientJobId clJobId;  // the three numbers in host order
    DmlpAttributeList attributes;
} JobState3;
static_assert(sizeof(JobState3) == 128 && offsetof(JobState3, Job) == 4 && offsetof(JobState3, value3) == 8 &&
                  offsetof(JobState3, value4) == 12 && offsetof(JobState3, State) == 16 &&
                  offsetof(JobState3, Reason) == 17 && offsetof(JobState3, values) == 24 &&
                  offsetof(JobState3, HintPriorityCode) == 40 && offsetof(JobState3, clJobId) == 44 &&
                  offsetof(JobState3, attributes) == 112,
              "JobState3");

// Event 18: a job's impression counts.
typedef struct DmlpImpressionEvent {
    uint16_t value1;
    uint32_t Job;             // the device's job object handle
    uint32_t value3;
    uint32_t value4;
    uint32_t value5;
    uint32_t value6;
    uint32_t ImprCompCnt;     // impressions completed
    uint32_t value8;
    uint32_t value9;
    uint16_t value10;
    uint16_t value11;
    uint16_t value12;
    DmlpDecodedBytes text;
} DmlpImpressionEvent;
static_assert(sizeof(DmlpImpressionEvent) == 64 && offsetof(DmlpImpressionEvent, Job) == 4 &&
                  offsetof(DmlpImpressionEvent, ImprCompCnt) == 24 && offsetof(DmlpImpressionEvent, value9) == 32 &&
                  offsetof(DmlpImpressionEvent, value10) == 36 && offsetof(DmlpImpressionEvent, value12) == 40 &&
                  offsetof(DmlpImpressionEvent, text) == 48,
              "DmlpImpressionEvent");

// The devices that answered a discovery: a count, then from +8 one address per device in the
// order they answered (32 x count + 8 bytes).
typedef struct DmlpDeviceList {
    uint16_t count;
    uint8_t unused[6];
    DmlpAddress devices[1];  // count of them
} DmlpDeviceList;
static_assert(offsetof(DmlpDeviceList, devices) == 8, "DmlpDeviceList");

// A discovery's result (method 1): the address kind, the device list (null when no device
// answered) and its size, and a descriptor of the same block.
typedef struct DmlpDiscoveryResult {
    uint32_t kind;
    DmlpDeviceList* list;
    uint16_t size;
    DmlpBuffer buffer;
} DmlpDiscoveryResult;
static_assert(sizeof(DmlpDiscoveryResult) == 48 && offsetof(DmlpDiscoveryResult, list) == 8 &&
                  offsetof(DmlpDiscoveryResult, size) == 16 && offsetof(DmlpDiscoveryResult, buffer) == 24,
              "DmlpDiscoveryResult");
