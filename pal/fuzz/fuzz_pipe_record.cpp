// libFuzzer target: the bytes of a pipe connection as the receiving end reads them (after the
// hello: messages such as the monitor's job-report records, disconnect marks, garbage), handed
// over in pieces whose sizes the first byte picks, as a socket may deliver them. Every message
// must lie inside what arrived, and the pieces must give the same messages as the whole.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "pipes/pipes_wire.h"

namespace {

using pal::pipes::FrameKind;
using pal::pipes::FrameStep;

// The messages and marks of the stream, as sizes (a mark counts as -1); false at garbage.
bool readStream(const std::vector<unsigned char>& input, size_t& at, std::vector<long>& seen)
{
    for (;;) {
        FrameStep step = pal::pipes::nextFrame(input.data(), input.size(), at);
        if (step.kind == FrameKind::Invalid)
            return false;
        if (step.kind == FrameKind::NeedMore)
            return true;
        if (step.next <= at || step.next > input.size() ||
            (step.kind == FrameKind::Message && step.messageAt + step.messageSize != step.next))
            std::abort();
        seen.push_back(step.kind == FrameKind::Message ? long(step.messageSize) : -1);
        at = step.next;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t piece = (size_t(data[0]) + 1) * 16;
    std::vector<unsigned char> whole(data + 1, data + size);
    size_t at = 0;
    std::vector<long> all;
    bool valid = readStream(whole, at, all);

    std::vector<unsigned char> buffer;
    std::vector<long> pieces;
    bool piecesValid = true;
    for (size_t offset = 0; offset < whole.size() && piecesValid; offset += piece) {
        size_t end = offset + piece < whole.size() ? offset + piece : whole.size();
        buffer.insert(buffer.end(), whole.begin() + long(offset), whole.begin() + long(end));
        size_t consumed = 0;
        piecesValid = readStream(buffer, consumed, pieces);
        buffer.erase(buffer.begin(), buffer.begin() + long(consumed));
    }
    if (valid != piecesValid || (valid && pieces != all))
        std::abort();
    return 0;
}
