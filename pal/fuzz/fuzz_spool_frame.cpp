// libFuzzer target: the bytes a client sends the spooler host on one connection, cut into frames
// as the host reads them (u32 length, then the payload) and served by the host's dispatcher, as
// a caller without administrator rights (so that no monitor is ever loaded). The host's state
// lives in a platform root of its own on a memory file system.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "dispatch.h"
#include "spooler.h"
#include "winspool/winspool_wire.h"

namespace {

spoolsv::Spooler* g_spooler;
spoolsv::Dispatcher* g_dispatcher;
uint64_t g_session = 1;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char root[] = "/dev/shm/jtrk-fuzz-spool-XXXXXX";
    if (!mkdtemp(root))
        std::abort();
    setenv("PAL_ROOT", root, 1);
    g_spooler = new spoolsv::Spooler;
    g_dispatcher = new spoolsv::Dispatcher(*g_spooler);
    g_spooler->startQueues(std::string(root) + "/spool");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    spoolsv::Caller caller{g_session++, false};
    size_t at = 0;
    while (size - at >= 4) {
        uint32_t length = pal::spool::Reader(data + at, 4).u32();
        if (length > pal::spool::kMaxFrame || length > size - at - 4)
            break;
        pal::spool::Bytes request(data + at + 4, data + at + 4 + length);
        pal::spool::Bytes reply = g_dispatcher->serve(caller, request);
        if (reply.size() < 8)
            std::abort();
        at += 4 + length;
    }
    g_dispatcher->endSession(caller.session);
    return 0;
}
