// ExecuteMethod parameters: per code, the request parameters (from the code's parameter record)
// and the reply parameters, both as value forms; codes above 8191 carry raw bytes both ways.
#include "DmlpBodies.h"
#include "DmlpValueForms.h"

namespace {

#define U8 DMLP_U8
#define U16 DMLP_U16
#define U32 DMLP_U32
#define N8 DMLP_N8
#define N16 DMLP_N16
#define BYTES DMLP_BYTES
#define ADDRESS DMLP_ADDRESS
#define AT(Record, field) ((uint16_t)offsetof(Record, field))

// Request parameters, over the records of VxDmlpParams.h.
DMLP_FORM(kSendBytes16, sizeof(DmlpExecBytesParams), 0, N16(0), BYTES(8));
DMLP_FORM(kSendString, sizeof(DmlpByteString), 0, N8(0), BYTES(8));
DMLP_FORM(kSend101, sizeof(DmlpExec101Params), 0, U32(0), U8(4));
DMLP_FORM(kSendByte, sizeof(DmlpExec103Params), 0, U8(0));
DMLP_FORM(kSend104, sizeof(DmlpExec104Params), 0, U8(0), N8(1), BYTES(8));
DMLP_FORM(kSend105, sizeof(DmlpExec105Params), 0, U8(0), U8(1), U8(2), U16(4), U32(8), U32(12), U8(16));
DMLP_FORM(kSend106, sizeof(DmlpExec106Params), 0, U8(0), U16(2), N8(4), BYTES(8));
DMLP_FORM(kSendTwoBytes, sizeof(DmlpExec107Params), 0, U8(0), U8(1));
DMLP_FORM(kSendAddress, sizeof(DmlpAddress), 0, ADDRESS(0));
DMLP_FORM(kSend126, sizeof(DmlpExec126Params), 0, U32(0), U8(4), U8(5));
DMLP_FORM(kSend127, sizeof(DmlpExec127Params), 0, U32(0), U8(4), U8(5), U8(6));
DMLP_FORM(kSend133, sizeof(DmlpExec133Params), 0, N8(0), BYTES(8), ADDRESS(AT(DmlpExec133Params, address)));

// Reply parameters: a 16-byte head {length, pointer} and the bytes, or a value in an 8-byte slot.
DMLP_FORM(kReplyString, sizeof(DmlpDecodedBytes), 0, N8(0), BYTES(8));
DMLP_FORM(kReplyBytes16, sizeof(DmlpDecodedBytes16), 0, N16(0), BYTES(8));

DmlpCoderError TraceShort(DmlpCoderError error)
{
    if (error != DMLP_CODER_OK)
        DmlpCoderTrace(9, DMLP_TRACE_METHOD, __LINE__);
    return error;
}

template <const DmlpForm& form>
DmlpCoderError SizeParams(const void* params, uint16_t, uint16_t* size)
{
    return DmlpValueEncSize(&form, params, 0, size, DMLP_HEADER_VERSION);
}

template <const DmlpForm& form>
void WriteParams(DmlpCursor* out, const void* params, uint16_t)
{
    DmlpValueEncode(out, &form, params, 0, DMLP_HEADER_VERSION);
}

template <const DmlpForm& form>
DmlpCoderError MeasureReply(const DmlpCursor* reply, uint16_t* length, uint16_t* memSize)
{
    DmlpCursor probe = *reply;
    *length = 0;
    return TraceShort(DmlpValueDecSize(&form, &probe, 0, memSize, DMLP_HEADER_VERSION));
}

template <const DmlpForm& form>
uint8_t* ReadReply(void* memory, DmlpCursor* reply)
{
    return DmlpValueDecode(&form, memory, reply, 0, DMLP_HEADER_VERSION);
}

DmlpCoderError SizeNothing(const void*, uint16_t, uint16_t* size)
{
    *size = 0;
    return DMLP_CODER_OK;
}

void WriteNothing(DmlpCursor*, const void*, uint16_t) {}

DmlpCoderError MeasureNothing(const DmlpCursor*, uint16_t* length, uint16_t* memSize)
{
    *length = 0;
    *memSize = 0;
    return DMLP_CODER_OK;
}

uint8_t* ReadNothing(void* memory, DmlpCursor*) { return (uint8_t*)memory; }

// Codes above 8191: length bytes at params out; every byte left in the reply back.
DmlpCoderError SizeRaw(const void* params, uint16_t length, uint16_t* size)
{
    if (length != 0 && params == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    *size = length;
    return DMLP_CODER_OK;
}

void WriteRaw(DmlpCursor* out, const void* params, uint16_t length) { DmlpWriteBytes(out, params, length); }

DmlpCoderError MeasureRaw(const DmlpCursor* reply, uint16_t* length, uint16_t* memSize)
{
    const uint32_t bytes = reply->count > 0 ? (uint32_t)reply->count : 0;
    const uint32_t memory = DmlpRoundUp8(bytes);
    if (memory > DMLP_SIZE_MAX) {
        DmlpCoderTrace(8, DMLP_TRACE_METHOD, __LINE__);
        return DMLP_CODER_NO_MEMORY;
    }
    *length = (uint16_t)bytes;
    *memSize = (uint16_t)memory;
    return DMLP_CODER_OK;
}

uint8_t* ReadRaw(void* memory, DmlpCursor* reply)
{
    const uint32_t length = (uint32_t)reply->count;
    DmlpReadBytes(reply, memory, length);
    return (uint8_t*)memory + DmlpRoundUp8(length);
}

#define SENDS(form) SizeParams<form>, WriteParams<form>
#define SENDS_NOTHING SizeNothing, WriteNothing
#define GETS(form) MeasureReply<form>, ReadReply<form>
#define GETS_NOTHING MeasureNothing, ReadNothing

} // namespace

const DmlpExecCodeRow DmlpExecCodeTable[] = {
    {11, 0, SENDS(kSendBytes16), GETS(kReplyString)},
    {12, 0, SENDS(kSendString), GETS(kReplyBytes16)},
    {13, 0, SENDS(kSendBytes16), GETS(kReplyString)},
    {14, 0, SENDS(kSendString), GETS(kReplyBytes16)},
    {101, 0, SENDS(kSend101), GETS_NOTHING},
    {102, 0, SENDS_NOTHING, GETS_NOTHING},
    {103, 0, SENDS(kSendByte), GETS_NOTHING},
    {104, 0, SENDS(kSend104), GETS_NOTHING},
    {105, 0, SENDS(kSend105), GETS_NOTHING},
    {106, 0, SENDS(kSend106), GETS_NOTHING},
    {107, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {108, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {109, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {110, 0, SENDS(kSend106), GETS_NOTHING},
    {111, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {112, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {114, 0, SENDS_NOTHING, GETS_NOTHING},
    {115, 0, SENDS_NOTHING, GETS_NOTHING},
    {116, 0, SENDS(kSendByte), GETS_NOTHING},
    {117, 0, SENDS(kSendByte), GETS_NOTHING},
    {118, 0, SENDS(kSendAddress), GETS_NOTHING},
    {119, 0, SENDS_NOTHING, GETS_NOTHING},
    {124, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {125, 0, SENDS(kSendTwoBytes), GETS_NOTHING},
    {126, 0, SENDS(kSend126), GETS_NOTHING},
    {127, 0, SENDS(kSend127), GETS_NOTHING},
    {130, 0, SENDS_NOTHING, GETS_NOTHING},
    {131, 0, SENDS(kSendByte), GETS_NOTHING},
    {132, 0, SENDS_NOTHING, GETS_NOTHING},
    {133, 0, SENDS(kSend133), GETS_NOTHING},
    {135, 0, SENDS_NOTHING, GETS(DmlpValueForm59)},
    {136, 0, SENDS(kSendString), GETS(DmlpValueForm4)},
    {137, 0, SENDS(kSendByte), GETS(DmlpValueForm4)},
    {138, 0, SENDS_NOTHING, GETS_NOTHING},
    {146, 0, SENDS_NOTHING, GETS(DmlpValueForm4)},
    {0, 0, nullptr, nullptr, nullptr, nullptr},
};

const DmlpExecCodeRow DmlpExecCodeDefault = {0, 0, SizeRaw, WriteRaw, MeasureRaw, ReadRaw};
