// Runtime stand-in: memory through malloc with a live-block count and injectable failures,
// byte order through the C library.
#include "VxSrvc.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int64_t> g_liveBlocks{0};
std::atomic<uint32_t> g_failCountdown{0};

// True when this allocation is the one armed to fail.
bool TakeInjectedFailure()
{
    uint32_t left = g_failCountdown.load();
    while (left != 0) {
        if (g_failCountdown.compare_exchange_weak(left, left - 1))
            return left == 1;
    }
    return false;
}

} // namespace

void* VxSrvcAlloc(uint32_t /*flags*/, uint32_t size, uint32_t /*reserved*/, void* /*context*/)
{
    if (TakeInjectedFailure())
        return nullptr;
    void* block = std::malloc(size != 0 ? size : 1);
    if (block != nullptr)
        ++g_liveBlocks;
    return block;
}

void VxSrvcFree(void* block)
{
    if (block == nullptr)
        return;
    --g_liveBlocks;
    std::free(block);
}

uint16_t VxSrvcHostToNet16(uint16_t value) { return htons(value); }
uint16_t VxSrvcNetToHost16(uint16_t value) { return ntohs(value); }
uint32_t VxSrvcHostToNet32(uint32_t value) { return htonl(value); }
uint32_t VxSrvcNetToHost32(uint32_t value) { return ntohl(value); }

int64_t VxSrvcTestLiveBlocks(void) { return g_liveBlocks.load(); }
void VxSrvcTestFailAllocation(uint32_t nth) { g_failCountdown.store(nth); }
