// Wide text for the host's own messages on stderr.
#pragma once

#include <string>

#include "pal/codepage.h"

namespace spoolsv {

// UTF-8 of a wide string.
inline std::string printable(const std::u16string& text)
{
    std::string result(text.size() * 3, '\0');
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), result.data(), int(result.size()),
                                   nullptr, nullptr);
    result.resize(size_t(size > 0 ? size : 0));
    return result;
}

} // namespace spoolsv
