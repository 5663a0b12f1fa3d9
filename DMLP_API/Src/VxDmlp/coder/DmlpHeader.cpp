// The header-version row (version 16, 20 bytes) and the header entry points.
#include <string.h>

#include "DmlpCoder.h"

namespace {

struct FieldPlace {
    uint8_t offset;   // in the encoded header
    uint8_t width;
};

// Fields 0 to 9 in the encoded header. Field 9 is the auxiliary byte in the status slot.
const FieldPlace kFieldPlaces[] = {
    {0, 2}, {2, 1}, {3, 1}, {4, 2}, {6, 2}, {8, 2}, {10, 4}, {14, 4}, {18, 2}, {18, 1},
};

bool RowField(uint32_t index)
{
    if (index >= DMLP_FIELD_FLAGS && index <= DMLP_FIELD_AUX)
        return true;
    DmlpCoderTrace(7, DMLP_TRACE_VERSION, __LINE__);
    return false;
}

bool Fits(uint32_t value, uint8_t width) { return width >= 4 || (value >> (8 * width)) == 0; }

uint32_t ReadBigEndian(const uint8_t* bytes, uint8_t width)
{
    uint32_t value = 0;
    for (uint8_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

void WriteBigEndian(uint8_t* bytes, uint8_t width, uint32_t value)
{
    for (uint8_t i = width; i > 0; --i) {
        bytes[i - 1] = (uint8_t)value;
        value >>= 8;
    }
}

DmlpCoderError GetField16(uint32_t index, const DmlpHeader* header, uint32_t* value)
{
    if (!RowField(index))
        return DMLP_CODER_BAD_FIELD_INDEX;
    switch (index) {
    case DMLP_FIELD_FLAGS: *value = header->flags; break;
    case DMLP_FIELD_METHOD: *value = header->method; break;
    case DMLP_FIELD_REQUEST_ID: *value = header->requestId; break;
    case DMLP_FIELD_BODY_LENGTH: *value = header->bodyLength; break;
    case DMLP_FIELD_OBJECT_REF0: *value = header->objectRef0; break;
    case DMLP_FIELD_OBJECT_REF1: *value = header->objectRef1; break;
    case DMLP_FIELD_STATUS: *value = header->status; break;
    default: *value = header->status & 0xFF; break;
    }
    return DMLP_CODER_OK;
}

DmlpCoderError SetField16(uint32_t index, DmlpHeader* header, uint32_t value)
{
    if (!RowField(index))
        return DMLP_CODER_BAD_FIELD_INDEX;
    if (!Fits(value, kFieldPlaces[index].width))
        return DMLP_CODER_BAD_ARGUMENT;
    switch (index) {
    case DMLP_FIELD_FLAGS: header->flags = (uint8_t)value; break;
    case DMLP_FIELD_METHOD: header->method = (uint16_t)value; break;
    case DMLP_FIELD_REQUEST_ID: header->requestId = (uint16_t)value; break;
    case DMLP_FIELD_BODY_LENGTH: header->bodyLength = (uint16_t)value; break;
    case DMLP_FIELD_OBJECT_REF0: header->objectRef0 = value; break;
    case DMLP_FIELD_OBJECT_REF1: header->objectRef1 = value; break;
    default: header->status = (uint16_t)value; break;   // the status, or the auxiliary byte alone
    }
    return DMLP_CODER_OK;
}

// The status slot without the status flag reads as the auxiliary byte in the low byte, as in
// memory.
uint32_t ReadStatusSlot(const uint8_t* bytes)
{
    if (bytes[3] & DMLP_FLAG_STATUS)
        return ReadBigEndian(bytes + 18, 2);
    return (uint32_t)bytes[18] | ((uint32_t)bytes[19] << 8);
}

DmlpCoderError PeekField16(uint32_t index, const uint8_t* bytes, int32_t count, uint32_t* value)
{
    if (!RowField(index))
        return DMLP_CODER_BAD_FIELD_INDEX;
    const FieldPlace place = kFieldPlaces[index];
    if (count < place.offset + place.width)
        return DMLP_CODER_NOT_A_MESSAGE;
    *value = index == DMLP_FIELD_STATUS ? ReadStatusSlot(bytes) : ReadBigEndian(bytes + place.offset, place.width);
    return DMLP_CODER_OK;
}

DmlpCoderError PatchField16(uint32_t index, uint8_t* bytes, int32_t count, uint32_t value)
{
    if (!RowField(index))
        return DMLP_CODER_BAD_FIELD_INDEX;
    const FieldPlace place = kFieldPlaces[index];
    if (count < place.offset + place.width)
        return DMLP_CODER_NOT_A_MESSAGE;
    if (!Fits(value, place.width))
        return DMLP_CODER_BAD_ARGUMENT;
    if (index == DMLP_FIELD_STATUS && !(bytes[3] & DMLP_FLAG_STATUS)) {
        bytes[18] = (uint8_t)value;
        bytes[19] = (uint8_t)(value >> 8);
    } else {
        WriteBigEndian(bytes + place.offset, place.width, value);
    }
    return DMLP_CODER_OK;
}

uint8_t* EncodeHeader16(const DmlpHeader* header, uint8_t* out)
{
    DmlpCursor cursor = {out, DMLP_HEADER_LENGTH};
    DmlpWriteU16(&cursor, header->magic);
    DmlpWriteU8(&cursor, header->version);
    DmlpWriteU8(&cursor, header->flags);
    DmlpWriteU16(&cursor, header->method);
    DmlpWriteU16(&cursor, header->requestId);
    DmlpWriteU16(&cursor, header->bodyLength);
    DmlpWriteU32(&cursor, header->objectRef0);
    DmlpWriteU32(&cursor, header->objectRef1);
    if (header->flags & DMLP_FLAG_STATUS) {
        DmlpWriteU16(&cursor, header->status);
    } else {
        DmlpWriteU8(&cursor, (header->flags & DMLP_FLAG_AUX) ? (uint8_t)header->status : 0);
        DmlpWriteU8(&cursor, 0);
    }
    return cursor.ptr;
}

const uint8_t* DecodeHeader16(DmlpHeader* header, const uint8_t* in)
{
    DmlpCursor cursor = {(uint8_t*)in, DMLP_HEADER_LENGTH};
    header->magic = DmlpReadU16(&cursor);
    header->version = DmlpReadU8(&cursor);
    header->flags = DmlpReadU8(&cursor);
    header->method = DmlpReadU16(&cursor);
    header->requestId = DmlpReadU16(&cursor);
    header->bodyLength = DmlpReadU16(&cursor);
    header->objectRef0 = DmlpReadU32(&cursor);
    header->objectRef1 = DmlpReadU32(&cursor);
    if (header->flags & DMLP_FLAG_STATUS) {
        header->status = DmlpReadU16(&cursor);
    } else {
        const uint8_t aux = DmlpReadU8(&cursor);
        header->status = (uint16_t)(aux | (DmlpReadU8(&cursor) << 8));
    }
    return cursor.ptr;
}

} // namespace

const DmlpVersionRow DmlpVersionTable[] = {
    {DMLP_HEADER_VERSION, DMLP_HEADER_LENGTH, GetField16, SetField16, PeekField16, PatchField16, EncodeHeader16,
     DecodeHeader16},
    {0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

DmlpCoderError DmlpEncodeHeader(const DmlpHeader* header, DmlpCursor* out)
{
    if (header == nullptr || out == nullptr || out->ptr == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    const DmlpVersionRow* row = DmlpFindVersion(header->version);
    if (row == nullptr)
        return DMLP_CODER_UNKNOWN_VERSION;
    if (out->count < row->headerLength)
        return DMLP_CODER_BUFFER_TOO_SMALL;
    row->encodeHeader(header, out->ptr);
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpDecodeHeader(DmlpHeader* header, const DmlpCursor* in)
{
    if (header == nullptr || in == nullptr || in->ptr == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    if (in->count < 3)
        return DMLP_CODER_NOT_A_MESSAGE;
    const DmlpVersionRow* row = DmlpFindVersion(in->ptr[2]);
    if (row == nullptr)
        return DMLP_CODER_UNKNOWN_VERSION;
    if (in->count < row->headerLength)
        return DMLP_CODER_NOT_A_MESSAGE;
    row->decodeHeader(header, in->ptr);
    return DMLP_CODER_OK;
}

DmlpCoderError DmlpGetHeaderField(uint32_t index, const DmlpHeader* header, uint32_t* value)
{
    if (header == nullptr || value == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    if (index == DMLP_FIELD_MAGIC || index == DMLP_FIELD_VERSION) {
        *value = index == DMLP_FIELD_MAGIC ? header->magic : header->version;
        return DMLP_CODER_OK;
    }
    const DmlpVersionRow* row = DmlpFindVersion(header->version);
    return row != nullptr ? row->getField(index, header, value) : DMLP_CODER_UNKNOWN_VERSION;
}

DmlpCoderError DmlpSetHeaderField(uint32_t index, DmlpHeader* header, const uint32_t* value)
{
    if (header == nullptr || value == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    if (index == DMLP_FIELD_MAGIC || index == DMLP_FIELD_VERSION) {
        if (!Fits(*value, index == DMLP_FIELD_MAGIC ? 2 : 1))
            return DMLP_CODER_BAD_ARGUMENT;
        if (index == DMLP_FIELD_MAGIC)
            header->magic = (uint16_t)*value;
        else
            header->version = (uint8_t)*value;
        return DMLP_CODER_OK;
    }
    const DmlpVersionRow* row = DmlpFindVersion(header->version);
    return row != nullptr ? row->setField(index, header, *value) : DMLP_CODER_UNKNOWN_VERSION;
}

DmlpCoderError DmlpPeekHeaderField(uint32_t index, const DmlpCursor* in, uint32_t* value)
{
    if (in == nullptr || in->ptr == nullptr || value == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    if (in->count < 3)
        return DMLP_CODER_NOT_A_MESSAGE;
    if (index == DMLP_FIELD_MAGIC || index == DMLP_FIELD_VERSION) {
        *value = index == DMLP_FIELD_MAGIC ? ReadBigEndian(in->ptr, 2) : in->ptr[2];
        return DMLP_CODER_OK;
    }
    const DmlpVersionRow* row = DmlpFindVersion(in->ptr[2]);
    return row != nullptr ? row->peekField(index, in->ptr, in->count, value) : DMLP_CODER_UNKNOWN_VERSION;
}

DmlpCoderError DmlpPatchHeaderField(uint32_t index, DmlpCursor* message, const uint32_t* value)
{
    if (message == nullptr || message->ptr == nullptr || value == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    if (message->count < 3)
        return DMLP_CODER_NOT_A_MESSAGE;
    if (index == DMLP_FIELD_MAGIC || index == DMLP_FIELD_VERSION) {
        const uint8_t width = index == DMLP_FIELD_MAGIC ? 2 : 1;
        if (!Fits(*value, width))
            return DMLP_CODER_BAD_ARGUMENT;
        WriteBigEndian(message->ptr + kFieldPlaces[index].offset, width, *value);
        return DMLP_CODER_OK;
    }
    const DmlpVersionRow* row = DmlpFindVersion(message->ptr[2]);
    return row != nullptr ? row->patchField(index, message->ptr, message->count, *value) : DMLP_CODER_UNKNOWN_VERSION;
}
