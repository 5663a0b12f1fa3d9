#include "TestFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace testsupport {

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes readBytes(const std::string& path)
{
    std::string text = readText(path);
    return Bytes(text.begin(), text.end());
}

void writeText(const std::string& path, std::string_view text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

void writeBytes(const std::string& path, const Bytes& bytes)
{
    writeText(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Bytes bytesOf(std::u16string_view text)
{
    Bytes bytes;
    for (char16_t unit : text)
        putLittle(bytes, unit, 2);
    return bytes;
}

void putLittle(Bytes& out, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putCountedText(Bytes& out, std::u16string_view text)
{
    putLittle(out, text.size() * 2, 4);
    Bytes units = bytesOf(text);
    out.insert(out.end(), units.begin(), units.end());
}

} // namespace testsupport
