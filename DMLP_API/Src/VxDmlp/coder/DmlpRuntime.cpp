// Memory and byte order come from the runtime library.
#include <string.h>

#include "DmlpCoder.h"
#include "VxSrvc.h"

void* DmlpAlloc(uint32_t size) { return VxSrvcAlloc(0, size, 0, nullptr); }

void DmlpFree(void* block)
{
    if (block != nullptr)
        VxSrvcFree(block);
}

void* DmlpRealloc(void* block, uint32_t oldSize, uint32_t newSize)
{
    void* grown = DmlpAlloc(newSize);
    if (grown == nullptr)
        return nullptr;
    if (block != nullptr) {
        memcpy(grown, block, oldSize < newSize ? oldSize : newSize);
        DmlpFree(block);
    }
    return grown;
}

uint16_t DmlpHostToWire16(uint16_t value) { return VxSrvcHostToNet16(value); }
uint32_t DmlpHostToWire32(uint32_t value) { return VxSrvcHostToNet32(value); }
uint16_t DmlpWireToHost16(uint16_t value) { return VxSrvcNetToHost16(value); }
uint32_t DmlpWireToHost32(uint32_t value) { return VxSrvcNetToHost32(value); }
