// Request-body encoders, reply-body decoders and the event notification decoder that the method
// table plugs in, and the frame that every reply decoder shares.
#pragma once

#include "DmlpWalk.h"
#include "VxDmlpResults.h"

// ---- Request-body encoders (one per body layout; the comment lists the methods that use it) ----

#define DMLP_REQUEST_ENCODER(name) DmlpCoderError name(DmlpHeader* header, const void* params, DmlpCursor* out)

DMLP_REQUEST_ENCODER(DmlpEncodeEchoBody);                  // 1
DMLP_REQUEST_ENCODER(DmlpEncodeReserveBody);               // 2
DMLP_REQUEST_ENCODER(DmlpEncodeSetBody);                   // 3
DMLP_REQUEST_ENCODER(DmlpEncodeGetBody);                   // 4
DMLP_REQUEST_ENCODER(DmlpEncodeListBody);                  // 5, 88
DMLP_REQUEST_ENCODER(DmlpEncodeListAttributesBody);        // 6
DMLP_REQUEST_ENCODER(DmlpEncodeListObjectsBody);           // 7
DMLP_REQUEST_ENCODER(DmlpEncodeAppendToListBody);          // 8
DMLP_REQUEST_ENCODER(DmlpEncodeDeleteFromListBody);        // 9
DMLP_REQUEST_ENCODER(DmlpEncodeDeleteBody);                // 11, 20, 23, 31-33, 35, 36, 38-41, 48, 49, 78, 79, 81
DMLP_REQUEST_ENCODER(DmlpEncodeAddUserBody);               // 12
DMLP_REQUEST_ENCODER(DmlpEncodeDeleteUserBody);            // 13, 34, 70, 80, 92
DMLP_REQUEST_ENCODER(DmlpEncodeChangeUserPasswordBody);    // 14
DMLP_REQUEST_ENCODER(DmlpEncodeSetDateTimeBody);           // 15
DMLP_REQUEST_ENCODER(DmlpEncodeEmptyBody);                 // 16, 22, 25, 28, 51, 85
DMLP_REQUEST_ENCODER(DmlpEncodeJobStartBody);              // 17
DMLP_REQUEST_ENCODER(DmlpEncodeSetJobBody);                // 18, 21, 24, 50
DMLP_REQUEST_ENCODER(DmlpEncodeJobEndBody);                // 19
DMLP_REQUEST_ENCODER(DmlpEncodeSendBody);                  // 26
DMLP_REQUEST_ENCODER(DmlpEncodeSendRequestBody);           // 27
DMLP_REQUEST_ENCODER(DmlpEncodeExecuteMethodBody);         // 29
DMLP_REQUEST_ENCODER(DmlpEncodeContinueBody);              // 37, 42
DMLP_REQUEST_ENCODER(DmlpEncodeShutdownBody);              // 43
DMLP_REQUEST_ENCODER(DmlpEncodeMoveFileBody);              // 44, 72, 96
DMLP_REQUEST_ENCODER(DmlpEncodeResourceStartBody);         // 46
DMLP_REQUEST_ENCODER(DmlpEncodeListObjectAttributesBody);  // 53
DMLP_REQUEST_ENCODER(DmlpEncodeSetExBody);                 // 54
DMLP_REQUEST_ENCODER(DmlpEncodeGetExBody);                 // 55
DMLP_REQUEST_ENCODER(DmlpEncodeListExBody);                // 56
DMLP_REQUEST_ENCODER(DmlpEncodeAppendToListExBody);        // 57
DMLP_REQUEST_ENCODER(DmlpEncodeDeleteFromListExBody);      // 58
DMLP_REQUEST_ENCODER(DmlpEncodeSetByUserBody);             // 59, 86
DMLP_REQUEST_ENCODER(DmlpEncodeGetByUserBody);             // 60, 87
DMLP_REQUEST_ENCODER(DmlpEncodeUnreserveBody);             // 63
DMLP_REQUEST_ENCODER(DmlpEncodeResumeJobWithPasswordBody); // 64
DMLP_REQUEST_ENCODER(DmlpEncodeExecuteFileBody);           // 68
DMLP_REQUEST_ENCODER(DmlpEncodeListFilesBody);             // 69
DMLP_REQUEST_ENCODER(DmlpEncodeChangeFileBoxPasswordBody); // 71
DMLP_REQUEST_ENCODER(DmlpEncodeCreateFileBody);            // 73, 76
DMLP_REQUEST_ENCODER(DmlpEncodeDeleteFileBody);            // 74
DMLP_REQUEST_ENCODER(DmlpEncodeAcquireRecordsBody);        // 77
DMLP_REQUEST_ENCODER(DmlpEncodeListJobsBody);              // 82
DMLP_REQUEST_ENCODER(DmlpEncodeListJobAttributesBody);     // 83
DMLP_REQUEST_ENCODER(DmlpEncodeListHandleAttributesBody);  // 84
DMLP_REQUEST_ENCODER(DmlpEncodeCopyFilesBody);             // 93
DMLP_REQUEST_ENCODER(DmlpEncodeMoveFilesBody);             // 94, 97
DMLP_REQUEST_ENCODER(DmlpEncodeDeleteFilesBody);           // 95
DMLP_REQUEST_ENCODER(DmlpEncodeGet2Body);                  // 102
DMLP_REQUEST_ENCODER(DmlpEncodeGetListElementBody);        // 103
DMLP_REQUEST_ENCODER(DmlpEncodeSet2Body);                  // 105
DMLP_REQUEST_ENCODER(DmlpEncodeSetListElementBody);        // 106
DMLP_REQUEST_ENCODER(DmlpEncodeJobStart2Body);             // 107
DMLP_REQUEST_ENCODER(DmlpEncodeTraceJobBody);              // 109
DMLP_REQUEST_ENCODER(DmlpEncodeAcquireRecords2Body);       // 110
DMLP_REQUEST_ENCODER(DmlpEncodeResourceStart2Body);        // 111
DMLP_REQUEST_ENCODER(DmlpEncodeExecuteFile2Body);          // 112
DMLP_REQUEST_ENCODER(DmlpEncodeListObjects2Body);          // 114

// ---- Reply-body decoders (one per result record) -----------------------------------------------

#define DMLP_REPLY_DECODER(name)                                                                   \
    DmlpCoderError name(const DmlpHeader* header, DmlpDecodeContext* context, const DmlpCursor* body, \
                        const DmlpCursor* request)

DMLP_REPLY_DECODER(DmlpDecodeSendReply);                  // 26, 28, 85: no body
DMLP_REPLY_DECODER(DmlpDecodeDeleteReply);                // DmlpDeleteResult
DMLP_REPLY_DECODER(DmlpDecodePromoteJobReply);            // DmlpPromoteJobResult
DMLP_REPLY_DECODER(DmlpDecodeAppendToListReply);          // DmlpAppendToListResult
DMLP_REPLY_DECODER(DmlpDecodeAddUserReply);               // DmlpAddUserResult
DMLP_REPLY_DECODER(DmlpDecodeShutdownReply);              // DmlpShutdownResult
DMLP_REPLY_DECODER(DmlpDecodeJobEndReply);                // DmlpJobEndResult
DMLP_REPLY_DECODER(DmlpDecodeMoveFileReply);              // DmlpMoveFileResult
DMLP_REPLY_DECODER(DmlpDecodeCreateFileReply);            // DmlpCreateFileResult
DMLP_REPLY_DECODER(DmlpDecodeSetDateTimeReply);           // DmlpSetDateTimeResult
DMLP_REPLY_DECODER(DmlpDecodeExecuteFileReply);           // DmlpExecuteFileResult
DMLP_REPLY_DECODER(DmlpDecodeExecuteFile2Reply);          // DmlpExecuteFile2Result
DMLP_REPLY_DECODER(DmlpDecodeJobStartReply);              // DmlpJobStartResult
DMLP_REPLY_DECODER(DmlpDecodeDeleteFilesReply);           // DmlpDeleteFilesResult
DMLP_REPLY_DECODER(DmlpDecodeCopyFilesReply);             // DmlpCopyFilesResult
DMLP_REPLY_DECODER(DmlpDecodeCopyFileReply);              // DmlpCopyFileResult
DMLP_REPLY_DECODER(DmlpDecodeListObjectsReply);           // DmlpListObjectsResult
DMLP_REPLY_DECODER(DmlpDecodeListFilesReply);             // DmlpListFilesResult
DMLP_REPLY_DECODER(DmlpDecodeListObjects2Reply);          // DmlpListObjects2Result
DMLP_REPLY_DECODER(DmlpDecodeSetJobReply);                // DmlpSetJobResult
DMLP_REPLY_DECODER(DmlpDecodeGetReply);                   // DmlpGetResult
DMLP_REPLY_DECODER(DmlpDecodeGetByUserReply);             // DmlpGetByUserResult
DMLP_REPLY_DECODER(DmlpDecodeGet2Reply);                  // DmlpGet2Result
DMLP_REPLY_DECODER(DmlpDecodeAcquireRecords2Reply);       // DmlpAcquireRecords2Result
DMLP_REPLY_DECODER(DmlpDecodeJobStart2Reply);             // DmlpJobStart2Result
DMLP_REPLY_DECODER(DmlpDecodeResourceStart2Reply);        // DmlpResourceStart2Result
DMLP_REPLY_DECODER(DmlpDecodeTraceJobReply);              // DmlpTraceJobResult
DMLP_REPLY_DECODER(DmlpDecodeListAttributesReply);        // DmlpListAttributesResult
DMLP_REPLY_DECODER(DmlpDecodeListObjectAttributesReply);  // DmlpListObjectAttributesResult
DMLP_REPLY_DECODER(DmlpDecodeListReply);                  // DmlpListResult
DMLP_REPLY_DECODER(DmlpDecodeListHandleAttributesReply);  // DmlpListHandleAttributesResult
DMLP_REPLY_DECODER(DmlpDecodeListJobAttributesReply);     // DmlpListJobAttributesResult
DMLP_REPLY_DECODER(DmlpDecodeAppendToListExReply);        // DmlpAppendToListExResult
DMLP_REPLY_DECODER(DmlpDecodeGetExReply);                 // DmlpGetExResult
DMLP_REPLY_DECODER(DmlpDecodeListExReply);                // DmlpListExResult
DMLP_REPLY_DECODER(DmlpDecodeEchoReply);                  // DmlpEchoResult
DMLP_REPLY_DECODER(DmlpDecodeExecuteMethodReply);         // DmlpExecuteMethodResult
DMLP_REPLY_DECODER(DmlpDecodeAcquireResourceReply);       // DmlpAcquireResourceResult
DMLP_REPLY_DECODER(DmlpDecodeAcquireRecordsReply);        // DmlpAcquireRecordsResult
DMLP_REPLY_DECODER(DmlpDecodeReserveReply);               // DmlpReserveResult
DMLP_REPLY_DECODER(DmlpDecodeUnreserveReply);             // DmlpUnreserveResult
DMLP_REPLY_DECODER(DmlpDecodeSendRequestReply);           // DmlpSendRequestResult
DMLP_REPLY_DECODER(DmlpDecodeEventNotification);          // method 10: DmlpEventRecord

// ---- The reply frame -----------------------------------------------------------------------------

typedef struct DmlpReplyLayout DmlpReplyLayout;

// What a variable part sees beside the walk: the reply header, the request it answers (or null),
// one value that the size pass leaves for the decode pass, and the context status a refusal
// reports (0: the cleanup's).
typedef struct DmlpReplyPass {
    const DmlpHeader* header;
    const DmlpCursor* request;
    uint32_t carry;
    uint16_t refusalStatus;
} DmlpReplyPass;

// The variable part of a reply, walked twice: measuring (the walk reserves what the decoded form
// needs) and decoding (into the block). It reads the record's fixed fields and writes the record
// only while decoding.
typedef DmlpCoderError (*DmlpReplyPart)(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout,
                                        DmlpReplyPass* pass);

// A reply body: the minimum body and the record, the fixed fields that the minimum covers (read
// straight into the record), then the variable part: described fields walked in both passes,
// then an irregular part with the record offsets it uses.
struct DmlpReplyLayout {
    uint16_t minimum;
    uint16_t size;
    uint16_t buffer;          // offset of the record's DmlpBuffer; 0: the record has none
    uint8_t fixedCount;
    const DmlpOp* fixed;
    uint8_t variableCount;
    const DmlpOp* variable;
    DmlpReplyPart part;       // null: none
    uint16_t at[3];           // record offsets (or sizes) for the part
};

// BeginDecode, fixed fields, size pass, one block, decode pass; cleanup on any failure.
DmlpCoderError DmlpDecodeReply(const DmlpHeader* header, DmlpDecodeContext* context, const DmlpCursor* body,
                               const DmlpCursor* request, const DmlpReplyLayout* layout);

// Irregular variable parts.
#define DMLP_REPLY_PART(name) \
    DmlpCoderError name(DmlpWalk* walk, uint8_t* record, const DmlpReplyLayout* layout, DmlpReplyPass* pass)

DMLP_REPLY_PART(DmlpReplyAttributeValue);
DMLP_REPLY_PART(DmlpReplyGet2Objects);
DMLP_REPLY_PART(DmlpReplyAttributeList);
DMLP_REPLY_PART(DmlpReplyTraceJob);
DMLP_REPLY_PART(DmlpReplyListedValues);
DMLP_REPLY_PART(DmlpReplyElements);
DMLP_REPLY_PART(DmlpReplyTable);
DMLP_REPLY_PART(DmlpReplyBasicTrailer);
DMLP_REPLY_PART(DmlpReplyBasicPair);
DMLP_REPLY_PART(DmlpReplyBasicList);
DMLP_REPLY_PART(DmlpReplyJobStartTail);
DMLP_REPLY_PART(DmlpReplyEcho);
DMLP_REPLY_PART(DmlpReplyExecuteMethod);
DMLP_REPLY_PART(DmlpReplyAcquireResource);
DMLP_REPLY_PART(DmlpReplyRecords);
DMLP_REPLY_PART(DmlpReplyAddress);
DMLP_REPLY_PART(DmlpReplySendRequest);
DMLP_REPLY_PART(DmlpReplyEvents);

// One event body of event id at the free position, its address stored at bodyAt while decoding
// (the notification's events and the AcquireRecords records).
DmlpCoderError DmlpWalkEventBody(DmlpWalk* walk, uint16_t id, uint8_t* bodyAt);

