// libFuzzer target: the job messages at the front of a print job, as a client application writes
// them. The whole input is scanned at once; then it goes through the header gathering of the job
// flow in WritePort-sized pieces that the first byte picks.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jtrkmon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    JobHeaderScan(data + 1, DWORD(size - 1));
    const size_t piece = (size_t(data[0]) + 1) * 64;
    std::vector<BYTE> job(data + 1, data + size);
    std::vector<BYTE> handedOn;
    PortEntry port;
    std::memset(&port, 0, sizeof port);
    port.dwState = PORT_STATE_DOC_STARTED;
    for (size_t offset = 0; offset < job.size(); offset += piece) {
        size_t length = offset + piece < job.size() ? piece : job.size() - offset;
        std::vector<BYTE> call(job.begin() + long(offset), job.begin() + long(offset + length));
        if (port.dwState == PORT_STATE_HEADER_DONE) {
            handedOn.insert(handedOn.end(), call.begin(), call.end());
            continue;
        }
        HeaderGather gather;
        ParseJobHeader(&port, call.data(), DWORD(call.size()), &gather);
        if (gather.cbHeld)
            handedOn.insert(handedOn.end(), gather.pHeld, gather.pHeld + gather.cbHeld);
        if (port.dwState == PORT_STATE_HEADER_DONE) {
            FreeHeaderBuffer(&port);
            if (gather.bSendCall)
                handedOn.insert(handedOn.end(), call.begin(), call.end());
        }
    }
    FreeHeaderBuffer(&port);
    // Bytes are handed on once each (the stamp changes some in place); a job whose header ended
    // hands them all on.
    if (handedOn.size() > job.size() || (port.dwState == PORT_STATE_HEADER_DONE && handedOn.size() != job.size()))
        std::abort();
    return 0;
}
