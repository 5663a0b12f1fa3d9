// libFuzzer target: reply frames through DmlpDecodeMessage, and the same bytes as an attribute
// list and as a value of a type picked by the first byte, each decoded into a block of exactly
// the measured size and sent back out.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "DmlpCoder.h"

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
    DecodeAttributeList(data + 2, size - 2);
    DecodeValue((uint16_t)(1 + data[0] % DMLP_VALUE_TYPE_ROWS), data[1] & 1, data + 2, size - 2);
    return 0;
}
