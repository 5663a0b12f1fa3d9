// libFuzzer target: an INI file as a user may write it (ANSI, UTF-8 or UTF-16 with its mark, any
// line ends): decoded, every line parsed as the profile functions do, and written back out; a
// file written out must read back as the same lines.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/ini_text.h"

namespace {

bool sameLines(const pal::ini::IniText& one, const pal::ini::IniText& other)
{
    if (one.lines.size() != other.lines.size())
        return false;
    for (size_t i = 0; i < one.lines.size(); i++)
        if (one.lines[i].text != other.lines[i].text || one.lines[i].ending != other.lines[i].ending)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace pal::ini;
    IniText text = decode(std::string(reinterpret_cast<const char*>(data), size));
    for (const Line& line : text.lines) {
        Parsed parsed = parse(line.text);
        unquoted(parsed.value);
        if (parsed.kind != Parsed::Other && parsed.name.data() < line.text.data())
            std::abort();
    }
    IniText again = decode(encode(text));
    if (again.encoding != text.encoding)
        std::abort();
    // ANSI text may meet characters its code page lacks. The same text splits into the same lines,
    // so comparing the lines compares the texts.
    if (text.encoding != Encoding::Ansi && !sameLines(text, again))
        std::abort();
    return 0;
}
