// Little-endian writing and bounds-checked reading of the registry's and the event log's files.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "pal/types.h"

namespace pal {

class ByteWriter {
public:
    void u16(uint16_t value) { little(value, 2); }
    void u32(uint32_t value) { little(value, 4); }
    void u64(uint64_t value) { little(value, 8); }
    void raw(const void* data, size_t size)
    {
        const auto* bytes = static_cast<const BYTE*>(data);
        out.insert(out.end(), bytes, bytes + size);
    }
    // u32 size in bytes, then the UTF-16LE units.
    void text(std::u16string_view text)
    {
        u32(static_cast<uint32_t>(text.size() * 2));
        for (char16_t unit : text)
            little(unit, 2);
    }
    // u32 size, then the bytes.
    void bytes(const BYTE* data, size_t size)
    {
        u32(static_cast<uint32_t>(size));
        raw(data, size);
    }
    std::vector<BYTE> out;

private:
    void little(uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            out.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
};

// Every read fails, leaving the position, when the bytes run out.
class ByteReader {
public:
    ByteReader(const BYTE* data, size_t size) : data_(data), size_(size) {}
    bool u16(uint16_t& value) { return little(value, 2); }
    bool u32(uint32_t& value) { return little(value, 4); }
    bool u64(uint64_t& value) { return little(value, 8); }
    bool raw(void* data, size_t size)
    {
        if (size > remaining())
            return false;
        std::copy_n(data_ + at_, size, static_cast<BYTE*>(data));
        at_ += size;
        return true;
    }
    bool text(std::u16string& text)
    {
        uint32_t size = 0;
        if (!peekSize(size) || size % 2 != 0)
            return false;
        at_ += 4;
        text.resize(size / 2);
        for (size_t i = 0; i < text.size(); ++i, at_ += 2)
            text[i] = static_cast<char16_t>(data_[at_] | data_[at_ + 1] << 8);
        return true;
    }
    bool bytes(std::vector<BYTE>& data)
    {
        uint32_t size = 0;
        if (!peekSize(size))
            return false;
        at_ += 4;
        data.assign(data_ + at_, data_ + at_ + size);
        at_ += size;
        return true;
    }
    size_t remaining() const { return size_ - at_; }

private:
    // A u32 size whose bytes follow it completely.
    bool peekSize(uint32_t& size)
    {
        size_t at = at_;
        if (!u32(size))
            return false;
        at_ = at;
        return size <= remaining() - 4;
    }
    template <class T>
    bool little(T& value, int size)
    {
        if (remaining() < static_cast<size_t>(size))
            return false;
        value = 0;
        for (int i = 0; i < size; ++i)
            value |= static_cast<T>(static_cast<T>(data_[at_ + i]) << (8 * i));
        at_ += size;
        return true;
    }
    const BYTE* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace pal
