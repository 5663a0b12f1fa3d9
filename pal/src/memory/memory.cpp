// Local and process-heap memory: blocks from the C heap behind a small header that marks them as
// ours, so that a foreign or freed pointer is refused rather than freed.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "pal/memory.h"

namespace {

constexpr uint64_t kLiveBlock = 0x4B4C42444C41504Full; // "OPALDBLK"
constexpr uint64_t kFreedBlock = 0x4445455246415050ull;

struct alignas(16) BlockHeader {
    uint64_t magic;
    uint64_t size;
};
static_assert(sizeof(BlockHeader) == 16, "the header keeps blocks 16-aligned");

struct FaultPlan {
    std::atomic<long> skip{0};
    std::atomic<long> fail{0};
};

FaultPlan& faults()
{
    static FaultPlan plan;
    return plan;
}

// True when this allocation is one that the test hook makes fail.
bool injectedFailure()
{
    FaultPlan& plan = faults();
    if (plan.fail.load() <= 0)
        return false;
    if (plan.skip.fetch_sub(1) > 0)
        return false;
    return plan.fail.fetch_sub(1) > 0;
}

void* allocateBlock(SIZE_T bytes, bool zero)
{
    if (injectedFailure() || bytes > SIZE_MAX - sizeof(BlockHeader)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* header = static_cast<BlockHeader*>(zero ? calloc(1, sizeof(BlockHeader) + bytes)
                                                   : malloc(sizeof(BlockHeader) + bytes));
    if (!header) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    header->magic = kLiveBlock;
    header->size = bytes;
    return header + 1;
}

BlockHeader* headerOf(void* block)
{
    auto* header = static_cast<BlockHeader*>(block) - 1;
    return header->magic == kLiveBlock ? header : nullptr;
}

bool freeBlock(void* block)
{
    BlockHeader* header = headerOf(block);
    if (!header) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    header->magic = kFreedBlock;
    free(header);
    return true;
}

int processHeap; // its address is the process heap's handle

} // namespace

extern "C" {

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes)
{
    return allocateBlock(uBytes, (uFlags & LMEM_ZEROINIT) != 0);
}

HLOCAL LocalFree(HLOCAL hMem)
{
    if (!hMem)
        return nullptr;
    return freeBlock(hMem) ? nullptr : hMem;
}

SIZE_T LocalSize(HLOCAL hMem)
{
    BlockHeader* header = hMem ? headerOf(hMem) : nullptr;
    if (!header) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return header->size;
}

HANDLE GetProcessHeap(void)
{
    return &processHeap;
}

LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    if (hHeap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return allocateBlock(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0);
}

BOOL HeapFree(HANDLE hHeap, DWORD, LPVOID lpMem)
{
    if (hHeap != &processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return !lpMem || freeBlock(lpMem);
}

void palFailAllocations(DWORD after, DWORD count)
{
    FaultPlan& plan = faults();
    plan.fail = 0;
    plan.skip = static_cast<long>(after);
    plan.fail = static_cast<long>(count);
}

} // extern "C"
