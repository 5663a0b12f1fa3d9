// Whole strings in the ANSI code page (CP_ACP), for the A forms of the API.
#pragma once

#include <string>
#include <string_view>

namespace pal {

// Embedded NULs are converted like any other character; NULL gives "".
std::u16string wideFromAnsi(std::string_view text);
std::u16string wideFromAnsi(const char* text);
std::string ansiFromWide(std::u16string_view text);

// An argument of an A function as the W function takes it; NULL stays NULL.
class AnsiArgument {
public:
    explicit AnsiArgument(const char* text) : present_(text != nullptr), wide_(wideFromAnsi(text)) {}
    const char16_t* get() const { return present_ ? wide_.c_str() : nullptr; }
    std::u16string_view view() const { return wide_; }

private:
    bool present_;
    std::u16string wide_;
};

// The longest prefix of text, at most limit bytes, that does not split a double-byte character.
size_t ansiPrefix(std::string_view text, size_t limit);

} // namespace pal
