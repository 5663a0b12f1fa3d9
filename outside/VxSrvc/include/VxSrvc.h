// VxSrvc: the runtime library under the protocol library (memory and byte order).
// The protocol library imports these calls by ordinal on Windows; here they are exported by name
// and linked directly. Ordinals, for reference: 310 VxSrvcAlloc, 311 VxSrvcFree,
// 421 VxSrvcHostToNet16, 422 VxSrvcNetToHost16, 423 VxSrvcHostToNet32, 424 VxSrvcNetToHost32.
#pragma once

#include <stdint.h>

#define VXSRVC_API extern "C" __attribute__((visibility("default")))

// Allocates size bytes (not zeroed). flags, reserved and context are 0 / null in every call.
VXSRVC_API void* VxSrvcAlloc(uint32_t flags, uint32_t size, uint32_t reserved, void* context);
VXSRVC_API void VxSrvcFree(void* block);

VXSRVC_API uint16_t VxSrvcHostToNet16(uint16_t value);
VXSRVC_API uint16_t VxSrvcNetToHost16(uint16_t value);
VXSRVC_API uint32_t VxSrvcHostToNet32(uint32_t value);
VXSRVC_API uint32_t VxSrvcNetToHost32(uint32_t value);

// Test hooks: the count of blocks allocated and not yet freed, and a one-shot failure of the
// n-th allocation from now (1 = the next one; 0 disarms).
VXSRVC_API int64_t VxSrvcTestLiveBlocks(void);
VXSRVC_API void VxSrvcTestFailAllocation(uint32_t nth);
