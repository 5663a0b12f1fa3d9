// VxDmlpParams: the parameter records of the request exports. Each record holds the fields of its
// method's request body in body order, with the alignment of their types (scalars in host order):
// a counted list is its uint16 count and a pointer to the elements, a byte string its uint8
// length and a pointer to the bytes, an attribute value the attribute id and a pointer to the
// value in the decoded form of the attribute's value type, a basic-typed value the basic type and
// a pointer to the value, a typed value its type, a length byte (not read: the type decides the
// length) and a pointer to the uint32. The request-body encoder reads a record and never writes to
// it. Unnamed fields are numbered in body order: the library carries them and leaves their meaning
// to the device.
#pragma once

#include "VxDmlp.h"

// ---- Parts shared by the records ------------------------------------------------------------------

// A byte string (s8 on the wire: uint8 length, then the bytes).
typedef struct DmlpByteString {
    uint8_t length;
    const uint8_t* bytes;
} DmlpByteString;
static_assert(sizeof(DmlpByteString) == 16 && offsetof(DmlpByteString, bytes) == 8, "DmlpByteString");

// The 64-byte client job id: the three numbers in host order (big-endian on the wire), then the
// eight bytes and the 48 bytes of job text as they stand.
typedef struct DmlpClientJobId {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
    uint8_t JobText[48];
} DmlpClientJobId;
static_assert(sizeof(DmlpClientJobId) == 64, "DmlpClientJobId size");
static_assert(offsetof(DmlpClientJobId, Data2) == 4 && offsetof(DmlpClientJobId, Data3) == 6, "DmlpClientJobId");
static_assert(offsetof(DmlpClientJobId, Data4) == 8 && offsetof(DmlpClientJobId, JobText) == 16, "DmlpClientJobId");

// ---- Records of the request exports -----------------------------------------------------------------

// Echo (1): the caller's bytes are the body.
typedef struct DmlpEchoParams {
    const void* data;
    uint16_t length;
} DmlpEchoParams;
static_assert(sizeof(DmlpEchoParams) == 16 && offsetof(DmlpEchoParams, length) == 8, "DmlpEchoParams");

// Reserve (2).
typedef struct DmlpReserveParams {
    uint16_t value1;
    uint32_t value2;
    uint16_t value3;
} DmlpReserveParams;
static_assert(sizeof(DmlpReserveParams) == 12 && offsetof(DmlpReserveParams, value3) == 8, "DmlpReserveParams");

// Set (3).
typedef struct DmlpSetParams {
    uint32_t value1;
    uint16_t attributeId;
    const void* value;
} DmlpSetParams;
static_assert(sizeof(DmlpSetParams) == 16 && offsetof(DmlpSetParams, attributeId) == 4 &&
                  offsetof(DmlpSetParams, value) == 8,
              "DmlpSetParams");

// Get (4).
typedef struct DmlpGetParams {
    uint32_t value1;
    uint16_t value2;
} DmlpGetParams;
static_assert(sizeof(DmlpGetParams) == 8 && offsetof(DmlpGetParams, value2) == 4, "DmlpGetParams");

// List (5), ListSubPages (88).
typedef struct DmlpListParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint32_t value4;
    uint16_t value5;
    uint16_t value6;
} DmlpListParams;
typedef DmlpListParams DmlpListSubPagesParams;
static_assert(sizeof(DmlpListParams) == 16 && offsetof(DmlpListParams, value4) == 8 &&
                  offsetof(DmlpListParams, value5) == 12 && offsetof(DmlpListParams, value6) == 14,
              "DmlpListParams");

// ListAttributes (6).
typedef struct DmlpListAttributesParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint32_t value4;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpListAttributesParams;
static_assert(sizeof(DmlpListAttributesParams) == 24 && offsetof(DmlpListAttributesParams, value4) == 8 &&
                  offsetof(DmlpListAttributesParams, attributeIdCount) == 12 &&
                  offsetof(DmlpListAttributesParams, attributeIds) == 16,
              "DmlpListAttributesParams");

// ListObjects (7).
typedef struct DmlpListObjectsParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint16_t value4;
    uint16_t value5;
} DmlpListObjectsParams;
static_assert(sizeof(DmlpListObjectsParams) == 10 && offsetof(DmlpListObjectsParams, value4) == 6 &&
                  offsetof(DmlpListObjectsParams, value5) == 8,
              "DmlpListObjectsParams");

// AppendToList (8) and DeleteFromList (9): one element of the attribute's value type. For
// DeleteFromList value1 is the selector: 1 nothing follows the id, 2 value3, 3 the element.
typedef struct DmlpAppendToListParams {
    uint8_t value1;
    uint32_t value2;
    uint16_t attributeId;
    uint16_t value3;
    const void* element;
} DmlpAppendToListParams;
typedef DmlpAppendToListParams DmlpDeleteFromListParams;
static_assert(sizeof(DmlpAppendToListParams) == 24 && offsetof(DmlpAppendToListParams, value2) == 4 &&
                  offsetof(DmlpAppendToListParams, attributeId) == 8 &&
                  offsetof(DmlpAppendToListParams, value3) == 10 && offsetof(DmlpAppendToListParams, element) == 16,
              "DmlpAppendToListParams");

// One uint32: Delete (11), BinderStart (20), DocumentStart (23), CancelJob (31), PauseJob (32),
// ResumeJob (33), InterruptJob (35), Interact (36), Enable (38), Disable (39), Awake (40),
// Sleep (41), ResourceModify (48), AcquireResource (49), MaintainOn (78), MaintainOff (79),
// InitializeRecord (81).
typedef struct DmlpDeleteParams {
    uint32_t value1;
} DmlpDeleteParams;
typedef DmlpDeleteParams DmlpBinderStartParams;
typedef DmlpDeleteParams DmlpDocumentStartParams;
typedef DmlpDeleteParams DmlpCancelJobParams;
typedef DmlpDeleteParams DmlpPauseJobParams;
typedef DmlpDeleteParams DmlpResumeJobParams;
typedef DmlpDeleteParams DmlpInterruptJobParams;
typedef DmlpDeleteParams DmlpInteractParams;
typedef DmlpDeleteParams DmlpEnableParams;
typedef DmlpDeleteParams DmlpDisableParams;
typedef DmlpDeleteParams DmlpAwakeParams;
typedef DmlpDeleteParams DmlpSleepParams;
typedef DmlpDeleteParams DmlpResourceModifyParams;
typedef DmlpDeleteParams DmlpAcquireResourceParams;
typedef DmlpDeleteParams DmlpMaintainOnParams;
typedef DmlpDeleteParams DmlpMaintainOffParams;
typedef DmlpDeleteParams DmlpInitializeRecordParams;
static_assert(sizeof(DmlpDeleteParams) == 4, "DmlpDeleteParams");

// AddUser (12).
typedef struct DmlpAddUserParams {
    uint32_t value1;
    uint32_t value2;
    uint8_t value3;
} DmlpAddUserParams;
static_assert(sizeof(DmlpAddUserParams) == 12 && offsetof(DmlpAddUserParams, value3) == 8, "DmlpAddUserParams");

// Two uint32: DeleteUser (13), PromoteJob (34), CheckFileBoxPassword (70),
// CheckUserPassword (80), FileModify (92).
typedef struct DmlpDeleteUserParams {
    uint32_t value1;
    uint32_t value2;
} DmlpDeleteUserParams;
typedef DmlpDeleteUserParams DmlpPromoteJobParams;
typedef DmlpDeleteUserParams DmlpCheckFileBoxPasswordParams;
typedef DmlpDeleteUserParams DmlpCheckUserPasswordParams;
typedef DmlpDeleteUserParams DmlpFileModifyParams;
static_assert(sizeof(DmlpDeleteUserParams) == 8, "DmlpDeleteUserParams");

// ChangeUserPassword (14).
typedef struct DmlpChangeUserPasswordParams {
    uint32_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpChangeUserPasswordParams;
static_assert(sizeof(DmlpChangeUserPasswordParams) == 12, "DmlpChangeUserPasswordParams");

// SetDateTime (15).
typedef struct DmlpSetDateTimeParams {
    uint32_t value1;
    uint32_t value2;
    uint8_t value3;
    uint8_t value4;
} DmlpSetDateTimeParams;
static_assert(sizeof(DmlpSetDateTimeParams) == 12 && offsetof(DmlpSetDateTimeParams, value4) == 9,
              "DmlpSetDateTimeParams");

// Empty bodies: GetDateTime (16), BinderEnd (22), DocumentEnd (25), Trigger (28),
// ResourceEnd (51), KeepAlive (85). The record is not read.
typedef struct DmlpGetDateTimeParams {
    uint8_t unused;
} DmlpGetDateTimeParams;
typedef DmlpGetDateTimeParams DmlpBinderEndParams;
typedef DmlpGetDateTimeParams DmlpDocumentEndParams;
typedef DmlpGetDateTimeParams DmlpTriggerParams;
typedef DmlpGetDateTimeParams DmlpResourceEndParams;
typedef DmlpGetDateTimeParams DmlpKeepAliveParams;

// JobStart (17).
typedef struct DmlpJobStartParams {
    uint32_t value1;
    uint8_t value2;
    uint32_t value3;
    uint32_t value4;
} DmlpJobStartParams;
static_assert(sizeof(DmlpJobStartParams) == 16 && offsetof(DmlpJobStartParams, value3) == 8, "DmlpJobStartParams");

// One attribute without a length field: SetJob (18), SetBinder (21), SetDocument (24),
// SetResource (50).
typedef struct DmlpSetJobParams {
    uint16_t attributeId;
    const void* value;
} DmlpSetJobParams;
typedef DmlpSetJobParams DmlpSetBinderParams;
typedef DmlpSetJobParams DmlpSetDocumentParams;
typedef DmlpSetJobParams DmlpSetResourceParams;
static_assert(sizeof(DmlpSetJobParams) == 16 && offsetof(DmlpSetJobParams, value) == 8, "DmlpSetJobParams");

// JobEnd (19).
typedef struct DmlpJobEndParams {
    uint8_t value1;
} DmlpJobEndParams;

// Send (26): kind 1 and 11 carry nothing behind the kind byte (kind 1 hands its data, length
// bytes at data, to the engine, which sends it in chunks); 2, 4, 7, 8, 9 and 10 value1; 3 the
// string of length bytes at data (at most 255); 6 value1 and value2.
typedef struct DmlpSendParams {
    uint8_t kind;
    uint32_t value1;
    uint32_t value2;
    uint32_t length;
    const void* data;
} DmlpSendParams;
static_assert(sizeof(DmlpSendParams) == 24 && offsetof(DmlpSendParams, value1) == 4 &&
                  offsetof(DmlpSendParams, length) == 12 && offsetof(DmlpSendParams, data) == 16,
              "DmlpSendParams");

// SendRequest (27): kind 1 the address; 4 and 5 the text; 6 and 7 value1; 16 value1 and value2.
typedef struct DmlpSendRequestParams {
    uint8_t kind;
    union {
        DmlpAddress address;
        DmlpByteString text;
        struct {
            uint32_t value1;
            uint32_t value2;
        } values;
    } u;
} DmlpSendRequestParams;
static_assert(sizeof(DmlpSendRequestParams) == 40 && offsetof(DmlpSendRequestParams, u) == 8, "DmlpSendRequestParams");

// ExecuteMethod (29): params points to the code's parameter record (below); for codes above
// 8191 it points to length bytes that go out as they stand.
typedef struct DmlpExecuteMethodParams {
    uint32_t object;
    uint16_t code;
    const void* params;
    uint16_t length;
} DmlpExecuteMethodParams;
static_assert(sizeof(DmlpExecuteMethodParams) == 24 && offsetof(DmlpExecuteMethodParams, code) == 4 &&
                  offsetof(DmlpExecuteMethodParams, params) == 8 && offsetof(DmlpExecuteMethodParams, length) == 16,
              "DmlpExecuteMethodParams");

// A uint32 and a uint8: Continue (37), Reset (42).
typedef struct DmlpContinueParams {
    uint32_t value1;
    uint8_t value2;
} DmlpContinueParams;
typedef DmlpContinueParams DmlpResetParams;
static_assert(sizeof(DmlpContinueParams) == 8, "DmlpContinueParams");

// Shutdown (43).
typedef struct DmlpShutdownParams {
    uint32_t value1;
    uint8_t value2;
    uint8_t value3;
} DmlpShutdownParams;
static_assert(sizeof(DmlpShutdownParams) == 8 && offsetof(DmlpShutdownParams, value3) == 5, "DmlpShutdownParams");

// A uint8 and four uint32: MoveFile (44), CopyFile (72), ReplaceFile (96).
typedef struct DmlpMoveFileParams {
    uint8_t value1;
    uint32_t value2;
    uint32_t value3;
    uint32_t value4;
    uint32_t value5;
} DmlpMoveFileParams;
typedef DmlpMoveFileParams DmlpCopyFileParams;
typedef DmlpMoveFileParams DmlpReplaceFileParams;
static_assert(sizeof(DmlpMoveFileParams) == 20 && offsetof(DmlpMoveFileParams, value2) == 4, "DmlpMoveFileParams");

// ResourceStart (46).
typedef struct DmlpResourceStartParams {
    uint16_t value1;
} DmlpResourceStartParams;

// ListObjectAttributes (53).
typedef struct DmlpListObjectAttributesParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint16_t value4;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpListObjectAttributesParams;
static_assert(sizeof(DmlpListObjectAttributesParams) == 24 && offsetof(DmlpListObjectAttributesParams, value4) == 6 &&
                  offsetof(DmlpListObjectAttributesParams, attributeIdCount) == 8 &&
                  offsetof(DmlpListObjectAttributesParams, attributeIds) == 16,
              "DmlpListObjectAttributesParams");

// SetEx (54): value A goes out as one value, value B with its count (multi-valued).
typedef struct DmlpSetExParams {
    uint32_t value1;
    uint16_t typeA;
    const void* valueA;
    uint16_t typeB;
    const void* valueB;
} DmlpSetExParams;
static_assert(sizeof(DmlpSetExParams) == 32 && offsetof(DmlpSetExParams, typeA) == 4 &&
                  offsetof(DmlpSetExParams, valueA) == 8 && offsetof(DmlpSetExParams, typeB) == 16 &&
                  offsetof(DmlpSetExParams, valueB) == 24,
              "DmlpSetExParams");

// GetEx (55).
typedef struct DmlpGetExParams {
    uint32_t value1;
    uint16_t type;
    const void* value;
} DmlpGetExParams;
static_assert(sizeof(DmlpGetExParams) == 16 && offsetof(DmlpGetExParams, type) == 4 &&
                  offsetof(DmlpGetExParams, value) == 8,
              "DmlpGetExParams");

// ListEx (56).
typedef struct DmlpListExParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint32_t value4;
    uint16_t type;
    const void* value;
    uint16_t value5;
} DmlpListExParams;
static_assert(sizeof(DmlpListExParams) == 32 && offsetof(DmlpListExParams, value4) == 8 &&
                  offsetof(DmlpListExParams, type) == 12 && offsetof(DmlpListExParams, value) == 16 &&
                  offsetof(DmlpListExParams, value5) == 24,
              "DmlpListExParams");

// AppendToListEx (57) and DeleteFromListEx (58). For DeleteFromListEx value1 is the selector:
// 1 nothing follows value A, 2 value3, 3 value B.
typedef struct DmlpAppendToListExParams {
    uint8_t value1;
    uint32_t value2;
    uint16_t typeA;
    const void* valueA;
    uint16_t value3;
    uint16_t typeB;
    const void* valueB;
} DmlpAppendToListExParams;
typedef DmlpAppendToListExParams DmlpDeleteFromListExParams;
static_assert(sizeof(DmlpAppendToListExParams) == 40 && offsetof(DmlpAppendToListExParams, typeA) == 8 &&
                  offsetof(DmlpAppendToListExParams, valueA) == 16 &&
                  offsetof(DmlpAppendToListExParams, value3) == 24 && offsetof(DmlpAppendToListExParams, typeB) == 26 &&
                  offsetof(DmlpAppendToListExParams, valueB) == 32,
              "DmlpAppendToListExParams");

// Two uint32 and an attribute: SetByUser (59), SetToFileBox (86).
typedef struct DmlpSetByUserParams {
    uint32_t value1;
    uint32_t value2;
    uint16_t attributeId;
    const void* value;
} DmlpSetByUserParams;
typedef DmlpSetByUserParams DmlpSetToFileBoxParams;
static_assert(sizeof(DmlpSetByUserParams) == 24 && offsetof(DmlpSetByUserParams, attributeId) == 8 &&
                  offsetof(DmlpSetByUserParams, value) == 16,
              "DmlpSetByUserParams");

// Two uint32 and a uint16: GetByUser (60), GetFromFileBox (87).
typedef struct DmlpGetByUserParams {
    uint32_t value1;
    uint32_t value2;
    uint16_t value3;
} DmlpGetByUserParams;
typedef DmlpGetByUserParams DmlpGetFromFileBoxParams;
static_assert(sizeof(DmlpGetByUserParams) == 12, "DmlpGetByUserParams");

// Unreserve (63).
typedef struct DmlpUnreserveParams {
    DmlpAddress address;
} DmlpUnreserveParams;
static_assert(sizeof(DmlpUnreserveParams) == 32, "DmlpUnreserveParams");

// ResumeJobWithPassword (64).
typedef struct DmlpResumeJobWithPasswordParams {
    uint32_t value1;
    uint8_t passwordLength;
    const uint8_t* password;
} DmlpResumeJobWithPasswordParams;
static_assert(sizeof(DmlpResumeJobWithPasswordParams) == 16 &&
                  offsetof(DmlpResumeJobWithPasswordParams, passwordLength) == 4 &&
                  offsetof(DmlpResumeJobWithPasswordParams, password) == 8,
              "DmlpResumeJobWithPasswordParams");

// ExecuteFile (68): up to 255 entries of a uint32 and an attribute without a length field.
typedef struct DmlpExecuteFileEntry {
    uint32_t value1;
    uint16_t attributeId;
    const void* value;
} DmlpExecuteFileEntry;
static_assert(sizeof(DmlpExecuteFileEntry) == 16 && offsetof(DmlpExecuteFileEntry, attributeId) == 4 &&
                  offsetof(DmlpExecuteFileEntry, value) == 8,
              "DmlpExecuteFileEntry");

typedef struct DmlpExecuteFileParams {
    uint32_t value1;
    uint8_t value2;
    uint32_t value3;
    uint8_t count;
    const DmlpExecuteFileEntry* entries;
} DmlpExecuteFileParams;
static_assert(sizeof(DmlpExecuteFileParams) == 24 && offsetof(DmlpExecuteFileParams, value3) == 8 &&
                  offsetof(DmlpExecuteFileParams, count) == 12 && offsetof(DmlpExecuteFileParams, entries) == 16,
              "DmlpExecuteFileParams");

// ListFiles (69).
typedef struct DmlpListFilesParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint32_t value4;
    uint32_t value5;
    uint16_t value6;
    uint16_t value7;
} DmlpListFilesParams;
static_assert(sizeof(DmlpListFilesParams) == 20 && offsetof(DmlpListFilesParams, value4) == 8 &&
                  offsetof(DmlpListFilesParams, value7) == 18,
              "DmlpListFilesParams");

// ChangeFileBoxPassword (71).
typedef struct DmlpChangeFileBoxPasswordParams {
    uint32_t value1;
    uint32_t value2;
    uint32_t value3;
    uint32_t value4;
    uint8_t value5;
} DmlpChangeFileBoxPasswordParams;
static_assert(sizeof(DmlpChangeFileBoxPasswordParams) == 20, "DmlpChangeFileBoxPasswordParams");

// A uint16 and two uint32: CreateFile (73), FileStart (76).
typedef struct DmlpCreateFileParams {
    uint16_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpCreateFileParams;
typedef DmlpCreateFileParams DmlpFileStartParams;
static_assert(sizeof(DmlpCreateFileParams) == 12 && offsetof(DmlpCreateFileParams, value2) == 4,
              "DmlpCreateFileParams");

// DeleteFile (74).
typedef struct DmlpDeleteFileParams {
    uint8_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpDeleteFileParams;
static_assert(sizeof(DmlpDeleteFileParams) == 12, "DmlpDeleteFileParams");

// AcquireRecords (77).
typedef struct DmlpAcquireRecordsParams {
    uint32_t value1;
    uint8_t value2;
    uint16_t value3;
    uint16_t value4;
    uint8_t value5;
} DmlpAcquireRecordsParams;
static_assert(sizeof(DmlpAcquireRecordsParams) == 12 && offsetof(DmlpAcquireRecordsParams, value3) == 6 &&
                  offsetof(DmlpAcquireRecordsParams, value5) == 10,
              "DmlpAcquireRecordsParams");

// ListJobs (82).
typedef struct DmlpListJobsParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint16_t value4;
    uint8_t value5;
    uint32_t value6;
    uint16_t value7;
} DmlpListJobsParams;
static_assert(sizeof(DmlpListJobsParams) == 20 && offsetof(DmlpListJobsParams, value4) == 6 &&
                  offsetof(DmlpListJobsParams, value6) == 12 && offsetof(DmlpListJobsParams, value7) == 16,
              "DmlpListJobsParams");

// ListJobAttributes (83).
typedef struct DmlpListJobAttributesParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint16_t value4;
    uint8_t value5;
    uint32_t value6;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpListJobAttributesParams;
static_assert(sizeof(DmlpListJobAttributesParams) == 32 && offsetof(DmlpListJobAttributesParams, value6) == 12 &&
                  offsetof(DmlpListJobAttributesParams, attributeIdCount) == 16 &&
                  offsetof(DmlpListJobAttributesParams, attributeIds) == 24,
              "DmlpListJobAttributesParams");

// ListHandleAttributes (84): both lists hold one entry at least.
typedef struct DmlpListHandleAttributesParams {
    uint16_t objectCount;
    const uint32_t* objects;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpListHandleAttributesParams;
static_assert(sizeof(DmlpListHandleAttributesParams) == 32 && offsetof(DmlpListHandleAttributesParams, objects) == 8 &&
                  offsetof(DmlpListHandleAttributesParams, attributeIdCount) == 16 &&
                  offsetof(DmlpListHandleAttributesParams, attributeIds) == 24,
              "DmlpListHandleAttributesParams");

// CopyFiles (93); the object list holds one entry at least (as in 94, 95 and 97).
typedef struct DmlpCopyFilesParams {
    uint16_t objectCount;
    const uint32_t* objects;
    uint32_t value1;
    uint32_t value2;
} DmlpCopyFilesParams;
static_assert(sizeof(DmlpCopyFilesParams) == 24 && offsetof(DmlpCopyFilesParams, value1) == 16, "DmlpCopyFilesParams");

// MoveFiles (94), ReplaceFiles (97).
typedef struct DmlpMoveFilesParams {
    uint16_t objectCount;
    const uint32_t* objects;
    uint32_t value1;
    uint32_t value2;
    uint32_t value3;
} DmlpMoveFilesParams;
typedef DmlpMoveFilesParams DmlpReplaceFilesParams;
static_assert(sizeof(DmlpMoveFilesParams) == 32 && offsetof(DmlpMoveFilesParams, value3) == 24, "DmlpMoveFilesParams");

// DeleteFiles (95).
typedef struct DmlpDeleteFilesParams {
    uint16_t objectCount;
    const uint32_t* objects;
    uint32_t value1;
} DmlpDeleteFilesParams;
static_assert(sizeof(DmlpDeleteFilesParams) == 24 && offsetof(DmlpDeleteFilesParams, value1) == 16,
              "DmlpDeleteFilesParams");

// Get2 (102).
typedef struct DmlpGet2Params {
    uint16_t value1;
    uint8_t type;
    uint8_t length;
    const uint32_t* typedValue;
    uint16_t objectCount;
    const uint32_t* objects;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpGet2Params;
static_assert(sizeof(DmlpGet2Params) == 48 && offsetof(DmlpGet2Params, type) == 2 &&
                  offsetof(DmlpGet2Params, typedValue) == 8 && offsetof(DmlpGet2Params, objectCount) == 16 &&
                  offsetof(DmlpGet2Params, objects) == 24 && offsetof(DmlpGet2Params, attributeIdCount) == 32 &&
                  offsetof(DmlpGet2Params, attributeIds) == 40,
              "DmlpGet2Params");

// GetListElement (103).
typedef struct DmlpGetListElementParams {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint8_t type;
    uint8_t length;
    const uint32_t* typedValue;
    uint32_t value4;
    uint16_t value5;
    uint16_t value6;
} DmlpGetListElementParams;
static_assert(sizeof(DmlpGetListElementParams) == 24 && offsetof(DmlpGetListElementParams, type) == 5 &&
                  offsetof(DmlpGetListElementParams, typedValue) == 8 &&
                  offsetof(DmlpGetListElementParams, value4) == 16 && offsetof(DmlpGetListElementParams, value6) == 22,
              "DmlpGetListElementParams");

// Set2 (105).
typedef struct DmlpSet2Params {
    uint8_t type;
    uint8_t length;
    const uint32_t* typedValue;
    uint32_t value1;
    uint16_t attributeId;
    const void* value;
} DmlpSet2Params;
static_assert(sizeof(DmlpSet2Params) == 32 && offsetof(DmlpSet2Params, typedValue) == 8 &&
                  offsetof(DmlpSet2Params, value1) == 16 && offsetof(DmlpSet2Params, attributeId) == 20 &&
                  offsetof(DmlpSet2Params, value) == 24,
              "DmlpSet2Params");

// SetListElement (106): element is one element of the attribute's value type.
typedef struct DmlpSetListElementParams {
    uint8_t value1;
    uint8_t type;
    uint8_t length;
    const uint32_t* typedValue;
    uint32_t value2;
    uint16_t attributeId;
    const void* element;
} DmlpSetListElementParams;
static_assert(sizeof(DmlpSetListElementParams) == 32 && offsetof(DmlpSetListElementParams, type) == 1 &&
                  offsetof(DmlpSetListElementParams, typedValue) == 8 &&
                  offsetof(DmlpSetListElementParams, value2) == 16 &&
                  offsetof(DmlpSetListElementParams, attributeId) == 20 &&
                  offsetof(DmlpSetListElementParams, element) == 24,
              "DmlpSetListElementParams");

// JobStart2 (107).
typedef struct DmlpJobStart2Params {
    uint16_t attributeCount;
    const DmlpAttributeEntry* attributes;
} DmlpJobStart2Params;
static_assert(sizeof(DmlpJobStart2Params) == 16 && offsetof(DmlpJobStart2Params, attributes) == 8,
              "DmlpJobStart2Params");

// TraceJob (109).
typedef struct DmlpTraceJobParams {
    uint32_t value1;
    uint8_t value2;
    DmlpClientJobId clJobId;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpTraceJobParams;
static_assert(sizeof(DmlpTraceJobParams) == 88 && offsetof(DmlpTraceJobParams, clJobId) == 8 &&
                  offsetof(DmlpTraceJobParams, attributeIdCount) == 72 &&
                  offsetof(DmlpTraceJobParams, attributeIds) == 80,
              "DmlpTraceJobParams");

// AcquireRecords2 (110).
typedef struct DmlpAcquireRecords2Params {
    uint32_t value1;
    uint8_t value2;
    uint32_t value3;
    uint32_t value4;
    uint8_t value5;
    uint16_t attributeIdCount;
    const uint16_t* attributeIds;
} DmlpAcquireRecords2Params;
static_assert(sizeof(DmlpAcquireRecords2Params) == 32 && offsetof(DmlpAcquireRecords2Params, value5) == 16 &&
                  offsetof(DmlpAcquireRecords2Params, attributeIdCount) == 18 &&
                  offsetof(DmlpAcquireRecords2Params, attributeIds) == 24,
              "DmlpAcquireRecords2Params");

// ResourceStart2 (111).
typedef struct DmlpResourceStart2Params {
    uint16_t value1;
    uint16_t attributeCount;
    const DmlpAttributeEntry* attributes;
} DmlpResourceStart2Params;
static_assert(sizeof(DmlpResourceStart2Params) == 16 && offsetof(DmlpResourceStart2Params, attributeCount) == 2 &&
                  offsetof(DmlpResourceStart2Params, attributes) == 8,
              "DmlpResourceStart2Params");

// ExecuteFile2 (112): objects of a uint32 and an attribute list.
typedef struct DmlpExecuteFile2Object {
    uint32_t value1;
    uint16_t attributeCount;
    const DmlpAttributeEntry* attributes;
} DmlpExecuteFile2Object;
static_assert(sizeof(DmlpExecuteFile2Object) == 16 && offsetof(DmlpExecuteFile2Object, attributeCount) == 4 &&
                  offsetof(DmlpExecuteFile2Object, attributes) == 8,
              "DmlpExecuteFile2Object");

typedef struct DmlpExecuteFile2Params {
    uint32_t value1;
    uint8_t value2;
    uint16_t count;
    const DmlpExecuteFile2Object* objects;
} DmlpExecuteFile2Params;
static_assert(sizeof(DmlpExecuteFile2Params) == 16 && offsetof(DmlpExecuteFile2Params, count) == 6 &&
                  offsetof(DmlpExecuteFile2Params, objects) == 8,
              "DmlpExecuteFile2Params");

// ListObjects2 (114).
typedef struct DmlpListObjects2Params {
    uint16_t value1;
    uint16_t value2;
    uint8_t value3;
    uint16_t value4;
    uint8_t value5;
    uint32_t value6;
    uint32_t value7;
    uint16_t value8;
} DmlpListObjects2Params;
static_assert(sizeof(DmlpListObjects2Params) == 24 && offsetof(DmlpListObjects2Params, value6) == 12 &&
                  offsetof(DmlpListObjects2Params, value8) == 20,
              "DmlpListObjects2Params");

// ---- ExecuteMethod parameter records, by code ---------------------------------------------------------

// Codes 11 and 13: a uint16-length byte string.
typedef struct DmlpExecBytesParams {
    uint16_t length;
    const uint8_t* bytes;
} DmlpExecBytesParams;
static_assert(sizeof(DmlpExecBytesParams) == 16 && offsetof(DmlpExecBytesParams, bytes) == 8, "DmlpExecBytesParams");

// Codes 12, 14 and 136 take a DmlpByteString; code 118 a DmlpAddress.

// Code 101.
typedef struct DmlpExec101Params {
    uint32_t value1;
    uint8_t value2;
} DmlpExec101Params;

// Codes 103, 116, 117, 131 and 137.
typedef struct DmlpExec103Params {
    uint8_t value1;
} DmlpExec103Params;

// Code 104.
typedef struct DmlpExec104Params {
    uint8_t value1;
    uint8_t textLength;
    const uint8_t* text;
} DmlpExec104Params;
static_assert(sizeof(DmlpExec104Params) == 16 && offsetof(DmlpExec104Params, text) == 8, "DmlpExec104Params");

// Code 105.
typedef struct DmlpExec105Params {
    uint8_t value1;
    uint8_t value2;
    uint8_t value3;
    uint16_t value4;
    uint32_t value5;
    uint32_t value6;
    uint8_t value7;
} DmlpExec105Params;
static_assert(sizeof(DmlpExec105Params) == 20 && offsetof(DmlpExec105Params, value4) == 4 &&
                  offsetof(DmlpExec105Params, value7) == 16,
              "DmlpExec105Params");

// Codes 106 and 110.
typedef struct DmlpExec106Params {
    uint8_t value1;
    uint16_t value2;
    uint8_t textLength;
    const uint8_t* text;
} DmlpExec106Params;
static_assert(sizeof(DmlpExec106Params) == 16 && offsetof(DmlpExec106Params, textLength) == 4 &&
                  offsetof(DmlpExec106Params, text) == 8,
              "DmlpExec106Params");

// Codes 107, 108, 109, 111, 112, 124 and 125.
typedef struct DmlpExec107Params {
    uint8_t value1;
    uint8_t value2;
} DmlpExec107Params;

// Code 126.
typedef struct DmlpExec126Params {
    uint32_t value1;
    uint8_t value2;
    uint8_t value3;
} DmlpExec126Params;

// Code 127.
typedef struct DmlpExec127Params {
    uint32_t value1;
    uint8_t value2;
    uint8_t value3;
    uint8_t value4;
} DmlpExec127Params;

// Code 133.
typedef struct DmlpExec133Params {
    uint8_t textLength;
    const uint8_t* text;
    DmlpAddress address;
} DmlpExec133Params;
static_assert(sizeof(DmlpExec133Params) == 48 && offsetof(DmlpExec133Params, address) == 16, "DmlpExec133Params");
