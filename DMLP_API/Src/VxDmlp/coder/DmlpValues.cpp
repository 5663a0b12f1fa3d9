// The four passes of a value and of an attribute list, each one walk of the interpreter.
#include <string.h>

#include "DmlpWalk.h"

DmlpCoderError DmlpValueEncSize(const DmlpForm* form, const void* value, uint8_t multi, uint16_t* size,
                                uint8_t version)
{
    if (form == nullptr || value == nullptr || size == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_ENCSIZE, version, nullptr, nullptr);
    const DmlpCoderError error = DmlpWalkValue(&walk, form, (uint8_t*)value, multi);
    if (error == DMLP_CODER_OK)
        *size = (uint16_t)walk.wireSize;
    return error;
}

void DmlpValueEncode(DmlpCursor* out, const DmlpForm* form, const void* value, uint8_t multi, uint8_t version)
{
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_ENCODE, version, out, nullptr);
    DmlpWalkValue(&walk, form, (uint8_t*)value, multi);
    *out = walk.wire;
}

DmlpCoderError DmlpValueDecSize(const DmlpForm* form, DmlpCursor* in, uint8_t multi, uint16_t* memSize,
                                uint8_t version)
{
    if (form == nullptr || in == nullptr || memSize == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECSIZE, version, in, nullptr);
    const DmlpCoderError error = DmlpWalkValue(&walk, form, nullptr, multi);
    if (error != DMLP_CODER_OK)
        return error;
    *in = walk.wire;
    *memSize = (uint16_t)walk.mem;
    return DMLP_CODER_OK;
}

uint8_t* DmlpValueDecode(const DmlpForm* form, void* memory, DmlpCursor* in, uint8_t multi, uint8_t version)
{
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECODE, version, in, (uint8_t*)memory);
    DmlpWalkValue(&walk, form, nullptr, multi);
    *in = walk.wire;
    return walk.base + walk.mem;
}

namespace {

// The list form the walk takes: counted lists as they are, a single entry as a list of one.
DmlpAttributeList ListOf(const void* list, uint8_t counted)
{
    if (counted)
        return *(const DmlpAttributeList*)list;
    return DmlpAttributeList{1, (DmlpAttributeEntry*)list};
}

} // namespace

DmlpCoderError DmlpSizeEncodedAttributeList(const void* list, uint8_t counted, uint16_t* size, uint8_t version)
{
    if (list == nullptr || size == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpAttributeList walked = ListOf(list, counted);
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_ENCSIZE, version, nullptr, nullptr);
    const DmlpCoderError error = DmlpWalkAttributeList(&walk, (uint8_t*)&walked, counted);
    if (error == DMLP_CODER_OK)
        *size = (uint16_t)walk.wireSize;
    return error;
}

void DmlpEncodeAttributeList(DmlpCursor* out, const void* list, uint8_t counted, uint8_t version)
{
    DmlpAttributeList walked = ListOf(list, counted);
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_ENCODE, version, out, nullptr);
    DmlpWalkAttributeList(&walk, (uint8_t*)&walked, counted);
    *out = walk.wire;
}

DmlpCoderError DmlpSizeAttributeList(DmlpCursor* in, uint8_t counted, uint16_t* memSize, uint8_t version)
{
    if (in == nullptr || memSize == nullptr)
        return DMLP_CODER_BAD_ARGUMENT;
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECSIZE, version, in, nullptr);
    const DmlpCoderError error = DmlpWalkAttributeList(&walk, nullptr, counted);
    if (error != DMLP_CODER_OK)
        return error;
    *in = walk.wire;
    *memSize = (uint16_t)walk.mem;
    return DMLP_CODER_OK;
}

uint8_t* DmlpDecodeAttributeList(DmlpCursor* in, uint8_t counted, DmlpAttributeList* list, void* memory,
                                 uint8_t version)
{
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECODE, version, in, (uint8_t*)memory);
    memset(list, 0, sizeof *list);
    DmlpWalkAttributeList(&walk, (uint8_t*)list, counted);
    *in = walk.wire;
    return walk.base + walk.mem;
}

uint8_t* DmlpDecodeAttribute(DmlpCursor* in, DmlpAttributeEntry* entry, void* valueMemory, uint8_t version)
{
    DmlpWalk walk = DmlpWalkStart(DMLP_WALK_DECODE, version, in, (uint8_t*)valueMemory);
    memset(entry, 0, sizeof *entry);
    DmlpWalkAttribute(&walk, (uint8_t*)entry);
    *in = walk.wire;
    return walk.base + walk.mem;
}
