// libFuzzer target: reply frames through DmlpDecodeMessage; the same bytes as the reply body of a
// method and as the body of an event, each picked by the first bytes; and as an attribute list
// and as a value of a type picked by the first byte, each decoded into a block of exactly the
// measured size and sent back out.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "DmlpCoder.h"
#include "VxSrvc.h"

namespace {

void DecodeFrame(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> frame(data, data + size);
    alignas(8) uint8_t record[DMLP_PARAM_HANDED_OUT] = {};
    DmlpHeader header;
    DmlpDecodeContext context = {record, nullptr, 0};
    DmlpCursor in = {frame.data(), (int32_t)frame.size()};
    DmlpDecodeMessage(&header, &context, &in, nullptr);
    if (context.held != nullptr)
        DmlpFree(context.held->data);
}

template <typename Row, typename Id>
const Row* PickRow(const Row* table, Id Row::*id, uint8_t pick)
{
    size_t rows = 0;
    while (table[rows].*id != 0)
        ++rows;
    return &table[pick % rows];
}

// The bytes as the body of a reply to a method (status 1; method 10 is a notification), decoded
// into a caller's record and into one the decoder allocates.
void DecodeReplyBody(uint8_t pick, const uint8_t* data, size_t size)
{
    const DmlpMethodRow* row = PickRow(DmlpMethodTable, &DmlpMethodRow::method, pick);
    const size_t body = size < DMLP_SIZE_MAX ? size : DMLP_SIZE_MAX;
    std::vector<uint8_t> frame = {0xCD, 0xCA, DMLP_HEADER_VERSION, DMLP_FLAG_STATUS, (uint8_t)(row->method >> 8),
                                  (uint8_t)row->method, 0, 1, (uint8_t)(body >> 8), (uint8_t)body, 0, 0, 0, 0, 0,
                                  0, 0, 0, 0, 1};
    frame.insert(frame.end(), data, data + body);
    for (bool allocate : {false, true}) {
        alignas(8) uint8_t record[DMLP_PARAM_HANDED_OUT] = {};
        DmlpHeader header;
        DmlpDecodeContext context = {allocate ? nullptr : record, nullptr, 0};
        DmlpCursor in = {frame.data(), (int32_t)frame.size()};
        const int64_t live = VxSrvcTestLiveBlocks();
        if (DmlpDecodeMessage(&header, &context, &in, nullptr) != DMLP_CODER_OK) {
            if (VxSrvcTestLiveBlocks() != live || context.held != nullptr)
                abort();
            continue;
        }
        if (context.held != nullptr)
            DmlpFree(context.held->data);
        if (allocate)
            DmlpFree(context.result);
    }
}

// The bytes as the body of an event, decoded into a block of exactly the measured size.
void DecodeEventBody(uint8_t pick, const uint8_t* data, size_t size)
{
    const DmlpEventRow* row = PickRow(DmlpEventTable, &DmlpEventRow::event, pick);
    DmlpCursor in = {(uint8_t*)data, (int32_t)size};
    uint16_t memory;
    if (row->size(&in, 0, &memory, DMLP_HEADER_VERSION) != DMLP_CODER_OK)
        return;
    uint8_t* block = (uint8_t*)calloc(1, memory);
    DmlpCursor again = {(uint8_t*)data, (int32_t)size};
    if (row->decode(block, &again, 0, DMLP_HEADER_VERSION) != block + memory || again.ptr != in.ptr)
        abort();
    free(block);
}

void DecodeAttributeList(const uint8_t* data, size_t size)
{
    DmlpCursor in = {(uint8_t*)data, (int32_t)size};
    uint16_t memory;
    if (DmlpSizeAttributeList(&in, 1, &memory, DMLP_HEADER_VERSION) != DMLP_CODER_OK || memory == 0)
        return;
    uint8_t* block = (uint8_t*)calloc(1, memory);
    DmlpAttributeList list;
    DmlpCursor again = {(uint8_t*)data, (int32_t)size};
    if (DmlpDecodeAttributeList(&again, 1, &list, block, DMLP_HEADER_VERSION) != block + memory)
        abort();
    free(block);
}

void DecodeValue(uint16_t type, uint8_t multi, const uint8_t* data, size_t size)
{
    const DmlpForm* form = DmlpValueTypeTable[type - 1].form;
    if (form == nullptr)
        return;
    DmlpCursor in = {(uint8_t*)data, (int32_t)size};
    uint16_t memory;
    if (DmlpValueDecSize(form, &in, multi, &memory, DMLP_HEADER_VERSION) != DMLP_CODER_OK)
        return;
    uint8_t* block = (uint8_t*)calloc(1, memory);
    DmlpCursor again = {(uint8_t*)data, (int32_t)size};
    if (DmlpValueDecode(form, block, &again, multi, DMLP_HEADER_VERSION) != block + memory || again.ptr != in.ptr)
        abort();
    uint16_t wireSize;
    if (DmlpValueEncSize(form, block, multi, &wireSize, DMLP_HEADER_VERSION) == DMLP_CODER_OK) {
        uint8_t* out = (uint8_t*)malloc(wireSize + 1);
        DmlpCursor cursor = {out, wireSize};
        DmlpValueEncode(&cursor, form, block, multi, DMLP_HEADER_VERSION);
        if (cursor.count != 0)
            abort();
        free(out);
    }
    free(block);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool initialized = DmlpCoderInitialize();
    (void)initialized;
    DecodeFrame(data, size);
    if (size < 2)
        return 0;
    DecodeReplyBody(data[0], data + 2, size - 2);
    DecodeEventBody(data[1], data + 2, size - 2);
    DecodeAttributeList(data + 2, size - 2);
    DecodeValue((uint16_t)(1 + data[0] % DMLP_VALUE_TYPE_ROWS), data[1] & 1, data + 2, size - 2);
    return 0;
}
