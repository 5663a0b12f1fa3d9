// Local and process-heap memory.
//
// LocalAlloc and HeapAlloc give fixed blocks (LMEM_MOVEABLE is accepted and gives a fixed block, so
// the handle is the pointer); LMEM_ZEROINIT / HEAP_ZERO_MEMORY zero them. A failed allocation gives
// NULL with ERROR_NOT_ENOUGH_MEMORY (HeapAlloc with HEAP_GENERATE_EXCEPTIONS still returns NULL).
// LocalFree returns NULL on success, and its argument with ERROR_INVALID_HANDLE for a block it did
// not hand out; LocalFree(NULL) and HeapFree of NULL succeed. GetProcessHeap is the one heap.
//
// Test hook: palFailAllocations(after, count) makes the count allocations that follow the next
// `after` ones fail (both families, every thread); palFailAllocations(0, 0) ends it.
#pragma once

#include <cstring>

#include "pal/errors.h"
#include "pal/types.h"

#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
#define LHND (LMEM_MOVEABLE | LMEM_ZEROINIT)
#define HEAP_NO_SERIALIZE 0x00000001u
#define HEAP_GENERATE_EXCEPTIONS 0x00000004u
#define HEAP_ZERO_MEMORY 0x00000008u

#define ZeroMemory(destination, length) memset((destination), 0, (length))
#define CopyMemory(destination, source, length) memcpy((destination), (source), (length))
#define MoveMemory(destination, source, length) memmove((destination), (source), (length))
#define FillMemory(destination, length, fill) memset((destination), (fill), (length))

extern "C" {
PAL_EXPORT HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes);
PAL_EXPORT HLOCAL LocalFree(HLOCAL hMem);
PAL_EXPORT SIZE_T LocalSize(HLOCAL hMem);
PAL_EXPORT HANDLE GetProcessHeap(void);
PAL_EXPORT LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
PAL_EXPORT BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);

PAL_EXPORT void palFailAllocations(DWORD after, DWORD count);
}
