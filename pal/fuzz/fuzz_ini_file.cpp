// libFuzzer target: an INI file as a user may write it (ANSI, UTF-8 or UTF-16 with its mark, any
// line ends): decoded, every line parsed as the profile functions do, and written back out; a
// file written out must read back as the same lines.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/ini_text.h"

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
    if (text.encoding != Encoding::Ansi) {  // ANSI text may meet characters its code page lacks
        std::u16string before, after;
        for (const Line& line : text.lines)
            before += line.text + line.ending;
        for (const Line& line : again.lines)
            after += line.text + line.ending;
        if (before != after)
            std::abort();
    }
    return 0;
}
