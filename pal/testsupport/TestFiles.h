// Files and hand-written bytes in tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// A whole file; empty when it cannot be read.
std::string readText(const std::string& path);
Bytes readBytes(const std::string& path);
// Replaces a file, creating the folders on its way.
void writeText(const std::string& path, std::string_view text);
void writeBytes(const std::string& path, const Bytes& bytes);

// UTF-16LE units.
Bytes bytesOf(std::u16string_view text);
// Little-endian pieces of a hand-written record.
void putLittle(Bytes& out, uint64_t value, int size);
// A 32-bit byte count, then the UTF-16LE units.
void putCountedText(Bytes& out, std::u16string_view text);

} // namespace testsupport
