#include "registry/registry_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "text/text_codec.h"

namespace pal::reg {
namespace {

constexpr size_t kMaxFolderName = 200; // well below NAME_MAX, whatever the file system
constexpr size_t kHashedPrefix = 160;

// UTF-8, with a lone surrogate encoded as its own code point so that no two names share a folder.
std::string losslessUtf8(std::u16string_view text)
{
    std::string out;
    const char16_t* end = text.data() + text.size();
    for (const char16_t* p = text.data(); p < end;) {
        int units = 0;
        text::Encoded encoded = text::utf8Of(text::codePointAt(p, end, units), units);
        out.append(reinterpret_cast<const char*>(encoded.bytes), encoded.byteCount);
        p += units;
    }
    return out;
}

bool safeInFileName(unsigned char byte)
{
    return byte >= 0x80 || (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= 'a' && byte <= 'z') || (byte != 0 && std::strchr(" -_.,()+=@#!&'[]{}$^;", byte) != nullptr);
}

std::string escaped(const std::string& utf8)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        auto byte = static_cast<unsigned char>(utf8[i]);
        if (safeInFileName(byte) && !(i == 0 && byte == '.')) {
            out += static_cast<char>(byte);
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        }
    }
    return out;
}

uint64_t fnv1a(const std::string& text)
{
    uint64_t hash = 0xCBF29CE484222325ull;
    for (unsigned char byte : text) {
        hash ^= byte;
        hash *= 0x100000001B3ull;
    }
    return hash;
}

// Cut at most `length` bytes without splitting a %XX escape or a UTF-8 sequence.
size_t cleanCut(const std::string& text, size_t length)
{
    size_t cut = length;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    if (cut >= 1 && text[cut - 1] == '%')
        cut -= 1;
    else if (cut >= 2 && text[cut - 2] == '%')
        cut -= 2;
    return cut;
}

} // namespace

std::string folderName(std::u16string_view keyName)
{
    std::string name = escaped(losslessUtf8(upcased(keyName)));
    if (name.size() <= kMaxFolderName)
        return name;
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llX", static_cast<unsigned long long>(fnv1a(name)));
    return name.substr(0, cleanCut(name, kHashedPrefix)) + hash;
}

} // namespace pal::reg
