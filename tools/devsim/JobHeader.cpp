#include "JobHeader.h"

namespace devsim {

namespace {

constexpr uint16_t kJobEnd = 19;
constexpr uint16_t kJobEndScan = 20;
constexpr uint16_t kJobStart2 = 107;
// A driver's job messages are short; a header still open after this much data is not one.
constexpr size_t kMostHeaderBytes = 65536;

} // namespace

bool JobHeaderReader::take(const uint8_t* data, size_t size)
{
    if (done_)
        return true;
    const size_t room = kMostHeaderBytes - gathered_.size();
    gathered_.insert(gathered_.end(), data, data + std::min(size, room));
    scan();
    if (!done_ && gathered_.size() >= kMostHeaderBytes)
        done_ = true;
    if (done_)
        Bytes().swap(gathered_);
    return done_;
}

void JobHeaderReader::scan()
{
    // Data that does not start with a record is untagged: no need to wait for a whole header.
    if (gathered_.size() - next_ >= 2 && (gathered_[next_] << 8 | gathered_[next_ + 1]) != kDmlpMagic) {
        done_ = true;
        return;
    }
    while (!done_ && gathered_.size() - next_ >= kDmlpHeaderBytes) {
        DmlpHeader header;
        decodeHeader(gathered_.data() + next_, kDmlpHeaderBytes, header);
        if (header.magic != kDmlpMagic) {
            done_ = true;
            return;
        }
        const size_t end = next_ + kDmlpHeaderBytes + header.bodyLength;
        if (end > gathered_.size())
            return;
        if (header.method == kJobStart2)
            readAttributes(gathered_.data() + next_ + kDmlpHeaderBytes, header.bodyLength);
        next_ = end;
        done_ = header.method == kJobEnd || header.method == kJobEndScan;
    }
}

void JobHeaderReader::readAttributes(const uint8_t* body, size_t size)
{
    ByteReader in(body, size);
    for (uint16_t count = in.u16(); in.ok() && count > 0; --count) {
        const uint16_t id = in.u16();
        const Bytes value = in.raw(in.u16());
        if (in.ok() && id == kAttrClientJobId && value.size() == id_.size()) {
            std::copy(value.begin(), value.end(), id_.begin());
            tagged_ = true;
        }
    }
}

} // namespace devsim
