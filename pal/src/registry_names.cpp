#include "registry_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pal/strings.h"

namespace pal::reg {
namespace {

constexpr size_t kMaxFolderName = 200; // well below NAME_MAX, whatever the file system
constexpr size_t kHashedPrefix = 160;

bool inRange(WCHAR c, WCHAR first, WCHAR last)
{
    return c >= first && c <= last;
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-8, with a lone surrogate encoded as its own code point so that no two names share a folder.
std::string losslessUtf8(std::u16string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (inRange(text[i], 0xD800, 0xDBFF) && i + 1 < text.size() && inRange(text[i + 1], 0xDC00, 0xDFFF)) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(out, code);
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

std::u16string upcased(std::u16string_view name)
{
    std::u16string out(name);
    for (auto& c : out)
        c = towupper(c);
    return out;
}

int compareNames(std::u16string_view a, std::u16string_view b)
{
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        WCHAR x = towupper(a[i]);
        WCHAR y = towupper(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool sameName(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && compareNames(a, b) == 0;
}

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
