// Reply bodies: one frame for every decoder and one layout per result record. A layout names the
// fixed fields that the body's minimum covers, the described variable fields and the irregular
// part; the frame walks the variable part twice, measuring and then decoding into one block.
#include "DmlpBodies.h"
#include "DmlpValueForms.h"

DmlpCoderError DmlpDecodeReply(const DmlpHeader* header, DmlpDecodeContext* context, const DmlpCursor* body,
                               const DmlpCursor* request, const DmlpReplyLayout* layout)
{
    if (header == nullptr || context == nullptr || body == nullptr || body->ptr == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    uint8_t ownRecord;
    DMLP_TRY(DmlpBeginDecode(context, body, layout->minimum, layout->size, &ownRecord));
    uint8_t* record = (uint8_t*)context->result;

    // The minimum covers the fixed fields: they are read without checks.
    DmlpWalk fixed = DmlpWalkStart(DMLP_WALK_DECODE, header->version, body, nullptr);
    DmlpWalkOps(&fixed, record, layout->fixed, layout->fixedCount);

    DmlpReplyPass pass = {header, request, 0, 0};
    DmlpWalk sizing = DmlpWalkStart(DMLP_WALK_DECSIZE, header->version, &fixed.wire, nullptr);
    DmlpCoderError error = DmlpWalkOps(&sizing, record, layout->variable, layout->variableCount);
    if (error == DMLP_CODER_OK && layout->part != nullptr)
        error = layout->part(&sizing, record, layout, &pass);
    uint8_t ownBlock = 0;
    DmlpBuffer* buffer = layout->buffer != 0 ? (DmlpBuffer*)(record + layout->buffer) : nullptr;
    if (error == DMLP_CODER_OK && buffer != nullptr)
        error = DmlpAllocResultBuffer(context, buffer, sizing.mem, &ownBlock);
    if (error != DMLP_CODER_OK) {
        DmlpDecodeCleanup(context, ownRecord, ownBlock);
        if (pass.refusalStatus != 0)
            context->status = pass.refusalStatus;
        return error;
    }

    uint8_t* block = buffer != nullptr && sizing.mem != 0 ? (uint8_t*)buffer->data : nullptr;
    DmlpWalk decoding = DmlpWalkStart(DMLP_WALK_DECODE, header->version, &fixed.wire, block);
    DmlpWalkOps(&decoding, record, layout->variable, layout->variableCount);
    if (layout->part != nullptr)
        layout->part(&decoding, record, layout, &pass);
    if (decoding.wire.count > 0)
        DmlpCoderTrace(10, DMLP_TRACE_DECFU, __LINE__);
    return DMLP_CODER_OK;
}

namespace {

#define U8 DMLP_U8
#define U16 DMLP_U16
#define U32 DMLP_U32
#define N16 DMLP_N16
#define ARRAY DMLP_ARRAY
#define AT(Record, field) ((uint16_t)offsetof(Record, field))
#define OPS(ops) DMLP_OPS_COUNT(ops), ops
#define NO_OPS 0, nullptr

// Family A: no body.
const DmlpReplyLayout kSend = {0, sizeof(DmlpSendResult), 0, NO_OPS, NO_OPS, nullptr, {}};

// Family B: fixed fields only.
const DmlpOp kDeleteOps[] = {U32(0)};
const DmlpOp kPromoteJobOps[] = {U32(0), U32(4)};
const DmlpOp kAppendToListOps[] = {U32(0), U16(4), U16(6)};
const DmlpOp kAddUserOps[] = {U32(0), U8(4)};
const DmlpOp kShutdownOps[] = {U32(0), U8(4), U8(5)};
const DmlpOp kJobEndOps[] = {U8(0), U32(4)};
const DmlpOp kMoveFileOps[] = {U8(0), U32(4), U32(8)};
const DmlpOp kCreateFileOps[] = {U16(0), U32(4), U32(8)};
const DmlpOp kSetDateTimeOps[] = {U32(0), U32(4), U8(8), U8(9)};
const DmlpOp kExecuteFileOps[] = {U32(0), U32(4), U8(8), U32(12)};
const DmlpOp kExecuteFile2Ops[] = {U32(0), U32(4), U8(8)};
const DmlpOp kJobStartOps[] = {U32(0)};

const DmlpReplyLayout kDelete = {4, sizeof(DmlpDeleteResult), 0, OPS(kDeleteOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kPromoteJob = {8, sizeof(DmlpPromoteJobResult), 0, OPS(kPromoteJobOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kAppendToList = {8, sizeof(DmlpAppendToListResult), 0, OPS(kAppendToListOps), NO_OPS, nullptr,
                                       {}};
const DmlpReplyLayout kAddUser = {5, sizeof(DmlpAddUserResult), 0, OPS(kAddUserOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kShutdown = {6, sizeof(DmlpShutdownResult), 0, OPS(kShutdownOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kJobEnd = {5, sizeof(DmlpJobEndResult), 0, OPS(kJobEndOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kMoveFile = {9, sizeof(DmlpMoveFileResult), 0, OPS(kMoveFileOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kCreateFile = {10, sizeof(DmlpCreateFileResult), 0, OPS(kCreateFileOps), NO_OPS, nullptr, {}};
const DmlpReplyLayout kSetDateTime = {10, sizeof(DmlpSetDateTimeResult), 0, OPS(kSetDateTimeOps), NO_OPS, nullptr,
                                      {}};
const DmlpReplyLayout kExecuteFile = {13, sizeof(DmlpExecuteFileResult), 0, OPS(kExecuteFileOps), NO_OPS, nullptr,
                                      {}};
const DmlpReplyLayout kExecuteFile2 = {9, sizeof(DmlpExecuteFile2Result), 0, OPS(kExecuteFile2Ops), NO_OPS, nullptr,
                                       {}};
// Two more uint32 only when 8 more bytes follow.
const DmlpReplyLayout kJobStart = {4, sizeof(DmlpJobStartResult), 0, OPS(kJobStartOps), NO_OPS,
                                   DmlpReplyJobStartTail, {}};

// Family C: fixed fields, then a uint16 count of uint32 values in the block.
const DmlpOp kDeleteFilesOps[] = {U16(0)};
const DmlpOp kDeleteFilesList[] = {N16(2), ARRAY(8, DmlpElementU32)};
const DmlpOp kCopyFilesOps[] = {U32(0), U16(4)};
const DmlpOp kCopyFilesList[] = {N16(6), ARRAY(8, DmlpElementU32)};
const DmlpOp kCopyFileOps[] = {U8(0), U32(4), U32(8)};
const DmlpOp kCopyFileList[] = {N16(12), ARRAY(16, DmlpElementU32)};
const DmlpOp kListObjectsOps[] = {U16(0), U8(2), U16(4), U16(6), U16(8)};
const DmlpOp kListObjectsList[] = {N16(10), ARRAY(16, DmlpElementU32)};
const DmlpOp kListFilesOps[] = {U16(0), U8(2), U32(4), U16(8), U16(10), U16(12)};
const DmlpOp kListFilesList[] = {N16(14), ARRAY(16, DmlpElementU32)};
const DmlpOp kListObjects2Ops[] = {U16(0), U8(2), U16(4), U8(6), U32(8), U16(12), U16(14)};
const DmlpOp kListObjects2List[] = {N16(16), ARRAY(24, DmlpElementU32)};

const DmlpReplyLayout kDeleteFiles = {4, sizeof(DmlpDeleteFilesResult), AT(DmlpDeleteFilesResult, buffer),
                                      OPS(kDeleteFilesOps), OPS(kDeleteFilesList), nullptr, {}};
const DmlpReplyLayout kCopyFiles = {8, sizeof(DmlpCopyFilesResult), AT(DmlpCopyFilesResult, buffer),
                                    OPS(kCopyFilesOps), OPS(kCopyFilesList), nullptr, {}};
const DmlpReplyLayout kCopyFile = {11, sizeof(DmlpCopyFileResult), AT(DmlpCopyFileResult, buffer),
                                   OPS(kCopyFileOps), OPS(kCopyFileList), nullptr, {}};
const DmlpReplyLayout kListObjects = {11, sizeof(DmlpListObjectsResult), AT(DmlpListObjectsResult, buffer),
                                      OPS(kListObjectsOps), OPS(kListObjectsList), nullptr, {}};
const DmlpReplyLayout kListFiles = {15, sizeof(DmlpListFilesResult), AT(DmlpListFilesResult, buffer),
                                    OPS(kListFilesOps), OPS(kListFilesList), nullptr, {}};
const DmlpReplyLayout kListObjects2 = {16, sizeof(DmlpListObjects2Result), AT(DmlpListObjects2Result, buffer),
                                       OPS(kListObjects2Ops), OPS(kListObjects2List), nullptr, {}};

// Family D: an attribute id, then its value (multi-valued form) in the block.
const DmlpOp kSetJobOps[] = {U16(0)};
const DmlpOp kGetOps[] = {U32(0), U16(4)};
const DmlpOp kGetByUserOps[] = {U32(0), U32(4), U16(8)};

const DmlpReplyLayout kSetJob = {3, sizeof(DmlpSetJobResult), AT(DmlpSetJobResult, buffer), OPS(kSetJobOps), NO_OPS,
                                 DmlpReplyAttributeValue,
                                 {AT(DmlpSetJobResult, attributeId), AT(DmlpSetJobResult, value)}};
const DmlpReplyLayout kGet = {7, sizeof(DmlpGetResult), AT(DmlpGetResult, buffer), OPS(kGetOps), NO_OPS,
                              DmlpReplyAttributeValue, {AT(DmlpGetResult, attributeId), AT(DmlpGetResult, value)}};
const DmlpReplyLayout kGetByUser = {11, sizeof(DmlpGetByUserResult), AT(DmlpGetByUserResult, buffer),
                                    OPS(kGetByUserOps), NO_OPS, DmlpReplyAttributeValue,
                                    {AT(DmlpGetByUserResult, attributeId), AT(DmlpGetByUserResult, value)}};

// Family E: attribute lists with lengths.
const DmlpOp kObjectCountOps[] = {U16(0)};
const DmlpOp kJobStart2Ops[] = {U32(0), U32(4), U16(8)};
const DmlpOp kResourceStart2Ops[] = {U32(0), U16(4)};
const DmlpOp kTraceJobOps[] = {U8(0)};

// Get2 and AcquireRecords2: at = object entry size, its count offset, its pointer offset.
const DmlpReplyLayout kGet2 = {2, sizeof(DmlpGet2Result), AT(DmlpGet2Result, buffer), OPS(kObjectCountOps), NO_OPS,
                               DmlpReplyGet2Objects,
                               {sizeof(DmlpGet2Object), AT(DmlpGet2Object, count), AT(DmlpGet2Object, attributes)}};
const DmlpReplyLayout kAcquireRecords2 = {2,
                                          sizeof(DmlpAcquireRecords2Result),
                                          AT(DmlpAcquireRecords2Result, buffer),
                                          OPS(kObjectCountOps),
                                          NO_OPS,
                                          DmlpReplyGet2Objects,
                                          {sizeof(DmlpAcquireRecords2Object), AT(DmlpAcquireRecords2Object, count),
                                           AT(DmlpAcquireRecords2Object, attributes)}};
const DmlpReplyLayout kJobStart2 = {10, sizeof(DmlpJobStart2Result), AT(DmlpJobStart2Result, buffer),
                                    OPS(kJobStart2Ops), NO_OPS, DmlpReplyAttributeList,
                                    {AT(DmlpJobStart2Result, count), AT(DmlpJobStart2Result, attributes)}};
const DmlpReplyLayout kResourceStart2 = {
    6,
    sizeof(DmlpResourceStart2Result),
    AT(DmlpResourceStart2Result, buffer),
    OPS(kResourceStart2Ops),
    NO_OPS,
    DmlpReplyAttributeList,
    {AT(DmlpResourceStart2Result, count), AT(DmlpResourceStart2Result, attributes)}};
const DmlpReplyLayout kTraceJob = {1, sizeof(DmlpTraceJobResult), AT(DmlpTraceJobResult, buffer), OPS(kTraceJobOps),
                                   NO_OPS, DmlpReplyTraceJob, {}};

// Family F: values without lengths.
const DmlpOp kListAttributesOps[] = {U16(0), U8(2), U32(4), U16(8)};
const DmlpOp kListObjectAttributesOps[] = {U16(0), U16(2), U16(4)};
const DmlpOp kListOps[] = {U16(0), U8(2), U32(4), U16(8), U16(10), U16(12), U16(14)};
const DmlpOp kListHandleAttributesOps[] = {U16(0), U16(2)};
const DmlpOp kListJobAttributesOps[] = {U16(0), U16(2), U8(4), U32(8), U16(12), U16(14)};

// ListAttributes and ListObjectAttributes: at = count, entries, id offset in an entry.
const DmlpReplyLayout kListAttributes = {
    9, sizeof(DmlpListAttributesResult), AT(DmlpListAttributesResult, buffer), OPS(kListAttributesOps), NO_OPS,
    DmlpReplyListedValues,
    {AT(DmlpListAttributesResult, count), AT(DmlpListAttributesResult, attributes), AT(DmlpListedAttribute, id)}};
const DmlpReplyLayout kListObjectAttributes = {6, sizeof(DmlpListObjectAttributesResult),
                                               AT(DmlpListObjectAttributesResult, buffer),
                                               OPS(kListObjectAttributesOps), NO_OPS, DmlpReplyListedValues,
                                               {AT(DmlpListObjectAttributesResult, count),
                                                AT(DmlpListObjectAttributesResult, attributes),
                                                AT(DmlpListedObjectAttribute, id)}};
const DmlpReplyLayout kList = {
    15,
    sizeof(DmlpListResult),
    AT(DmlpListResult, buffer),
    OPS(kListOps),
    NO_OPS,
    DmlpReplyElements,
    {AT(DmlpListResult, attributeId), AT(DmlpListResult, count), AT(DmlpListResult, values)}};
// The tables: at = row count (the column count follows it), rows.
const DmlpReplyLayout kListHandleAttributes = {
    4, sizeof(DmlpListHandleAttributesResult), AT(DmlpListHandleAttributesResult, buffer),
    OPS(kListHandleAttributesOps), NO_OPS, DmlpReplyTable,
    {AT(DmlpListHandleAttributesResult, rowCount), AT(DmlpListHandleAttributesResult, rows)}};
const DmlpReplyLayout kListJobAttributes = {
    13, sizeof(DmlpListJobAttributesResult), AT(DmlpListJobAttributesResult, buffer), OPS(kListJobAttributesOps),
    NO_OPS, DmlpReplyTable, {AT(DmlpListJobAttributesResult, rowCount), AT(DmlpListJobAttributesResult, rows)}};

// Family G: basic-typed values.
const DmlpOp kBasicOps[] = {U32(0), U16(4)};
const DmlpOp kListExOps[] = {U16(0), U8(2), U32(4), U16(8)};

const DmlpReplyLayout kAppendToListEx = {9, sizeof(DmlpAppendToListExResult), AT(DmlpAppendToListExResult, buffer),
                                         OPS(kBasicOps), NO_OPS, DmlpReplyBasicTrailer, {}};
const DmlpReplyLayout kGetEx = {10, sizeof(DmlpGetExResult), AT(DmlpGetExResult, buffer), OPS(kBasicOps), NO_OPS,
                                DmlpReplyBasicPair, {}};
const DmlpReplyLayout kListEx = {18, sizeof(DmlpListExResult), AT(DmlpListExResult, buffer), OPS(kListExOps), NO_OPS,
                                 DmlpReplyBasicList, {}};

// Family H: single methods.
const DmlpOp kExecuteMethodOps[] = {U32(0), U16(4)};
const DmlpOp kAcquireResourceOps[] = {U32(0)};
const DmlpOp kAcquireRecordsOps[] = {U32(0), U8(4), U16(6), U16(8), U8(10), U16(12)};
const DmlpOp kReserveOps[] = {U16(0), U32(4)};
const DmlpOp kSendRequestOps[] = {U8(0)};

const DmlpReplyLayout kEcho = {1, sizeof(DmlpEchoResult), AT(DmlpEchoResult, buffer), NO_OPS, NO_OPS, DmlpReplyEcho,
                               {}};
const DmlpReplyLayout kExecuteMethod = {6, sizeof(DmlpExecuteMethodResult), AT(DmlpExecuteMethodResult, buffer),
                                        OPS(kExecuteMethodOps), NO_OPS, DmlpReplyExecuteMethod, {}};
const DmlpReplyLayout kAcquireResource = {4, sizeof(DmlpAcquireResourceResult),
                                          AT(DmlpAcquireResourceResult, buffer), OPS(kAcquireResourceOps), NO_OPS,
                                          DmlpReplyAcquireResource, {}};
const DmlpReplyLayout kAcquireRecords = {12, sizeof(DmlpAcquireRecordsResult), AT(DmlpAcquireRecordsResult, buffer),
                                         OPS(kAcquireRecordsOps), NO_OPS, DmlpReplyRecords, {}};
// Reserve and Unreserve: at = the address.
const DmlpReplyLayout kReserve = {9, sizeof(DmlpReserveResult), 0, OPS(kReserveOps), NO_OPS, DmlpReplyAddress,
                                  {AT(DmlpReserveResult, address)}};
const DmlpReplyLayout kUnreserve = {3, sizeof(DmlpUnreserveResult), 0, NO_OPS, NO_OPS, DmlpReplyAddress,
                                    {AT(DmlpUnreserveResult, address)}};
const DmlpReplyLayout kSendRequest = {1, sizeof(DmlpSendRequestResult), AT(DmlpSendRequestResult, buffer),
                                      OPS(kSendRequestOps), NO_OPS, DmlpReplySendRequest, {}};

// Event notifications (method 10).
const DmlpOp kNotificationOps[] = {U32(0), U8(4)};
const DmlpReplyLayout kNotification = {5, sizeof(DmlpEventRecord), AT(DmlpEventRecord, buffer),
                                       OPS(kNotificationOps), NO_OPS, DmlpReplyEvents, {}};

} // namespace

#define DMLP_DECODER_OF(name, layout) \
    DMLP_REPLY_DECODER(name) { return DmlpDecodeReply(header, context, body, request, &layout); }

DMLP_DECODER_OF(DmlpDecodeSendReply, kSend)
DMLP_DECODER_OF(DmlpDecodeDeleteReply, kDelete)
DMLP_DECODER_OF(DmlpDecodePromoteJobReply, kPromoteJob)
DMLP_DECODER_OF(DmlpDecodeAppendToListReply, kAppendToList)
DMLP_DECODER_OF(DmlpDecodeAddUserReply, kAddUser)
DMLP_DECODER_OF(DmlpDecodeShutdownReply, kShutdown)
DMLP_DECODER_OF(DmlpDecodeJobEndReply, kJobEnd)
DMLP_DECODER_OF(DmlpDecodeMoveFileReply, kMoveFile)
DMLP_DECODER_OF(DmlpDecodeCreateFileReply, kCreateFile)
DMLP_DECODER_OF(DmlpDecodeSetDateTimeReply, kSetDateTime)
DMLP_DECODER_OF(DmlpDecodeExecuteFileReply, kExecuteFile)
DMLP_DECODER_OF(DmlpDecodeExecuteFile2Reply, kExecuteFile2)
DMLP_DECODER_OF(DmlpDecodeJobStartReply, kJobStart)
DMLP_DECODER_OF(DmlpDecodeDeleteFilesReply, kDeleteFiles)
DMLP_DECODER_OF(DmlpDecodeCopyFilesReply, kCopyFiles)
DMLP_DECODER_OF(DmlpDecodeCopyFileReply, kCopyFile)
DMLP_DECODER_OF(DmlpDecodeListObjectsReply, kListObjects)
DMLP_DECODER_OF(DmlpDecodeListFilesReply, kListFiles)
DMLP_DECODER_OF(DmlpDecodeListObjects2Reply, kListObjects2)
DMLP_DECODER_OF(DmlpDecodeSetJobReply, kSetJob)
DMLP_DECODER_OF(DmlpDecodeGetReply, kGet)
DMLP_DECODER_OF(DmlpDecodeGetByUserReply, kGetByUser)
DMLP_DECODER_OF(DmlpDecodeGet2Reply, kGet2)
DMLP_DECODER_OF(DmlpDecodeAcquireRecords2Reply, kAcquireRecords2)
DMLP_DECODER_OF(DmlpDecodeJobStart2Reply, kJobStart2)
DMLP_DECODER_OF(DmlpDecodeResourceStart2Reply, kResourceStart2)
DMLP_DECODER_OF(DmlpDecodeTraceJobReply, kTraceJob)
DMLP_DECODER_OF(DmlpDecodeListAttributesReply, kListAttributes)
DMLP_DECODER_OF(DmlpDecodeListObjectAttributesReply, kListObjectAttributes)
DMLP_DECODER_OF(DmlpDecodeListReply, kList)
DMLP_DECODER_OF(DmlpDecodeListHandleAttributesReply, kListHandleAttributes)
DMLP_DECODER_OF(DmlpDecodeListJobAttributesReply, kListJobAttributes)
DMLP_DECODER_OF(DmlpDecodeAppendToListExReply, kAppendToListEx)
DMLP_DECODER_OF(DmlpDecodeGetExReply, kGetEx)
DMLP_DECODER_OF(DmlpDecodeListExReply, kListEx)
DMLP_DECODER_OF(DmlpDecodeEchoReply, kEcho)
DMLP_DECODER_OF(DmlpDecodeExecuteMethodReply, kExecuteMethod)
DMLP_DECODER_OF(DmlpDecodeAcquireResourceReply, kAcquireResource)
DMLP_DECODER_OF(DmlpDecodeAcquireRecordsReply, kAcquireRecords)
DMLP_DECODER_OF(DmlpDecodeReserveReply, kReserve)
DMLP_DECODER_OF(DmlpDecodeUnreserveReply, kUnreserve)
DMLP_DECODER_OF(DmlpDecodeSendRequestReply, kSendRequest)
DMLP_DECODER_OF(DmlpDecodeEventNotification, kNotification)
