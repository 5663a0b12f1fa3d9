// The text of an INI file as the profile functions read and write it: its encoding, its lines
// with their own line ends, and the parse of one line by the Windows rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pal::ini {

enum class Encoding { Ansi, Utf8, Utf16 };

struct Line {
    std::u16string text;
    std::u16string ending; // "\r\n", "\n", "\r" or "" on a last line without one
};

struct IniText {
    Encoding encoding = Encoding::Ansi;
    std::vector<Line> lines;
};

struct Parsed {
    enum Kind { Other, Section, Entry } kind = Other;
    std::u16string_view name;  // section name or key
    std::u16string_view value; // of an entry, trimmed, quotes kept
};

// The file's bytes as text: UTF-16 or UTF-8 after their byte-order mark, else the ANSI code page.
IniText decode(const std::string& bytes);
// The text in the file's own encoding.
std::string encode(const IniText& ini);
// A section header, an entry (a key without "=" has no value) or anything else.
Parsed parse(std::u16string_view line);
// A value enclosed in a pair of the same quote loses the pair.
std::u16string_view unquoted(std::u16string_view value);

} // namespace pal::ini
