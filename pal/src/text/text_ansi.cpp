#include "text/text_ansi.h"

#include "pal/codepage.h"

namespace pal {

std::u16string wideFromAnsi(std::string_view text)
{
    if (text.empty())
        return {};
    int length = static_cast<int>(text.size());
    int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::u16string wide(static_cast<size_t>(chars > 0 ? chars : 0), u'\0');
    if (chars > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), chars);
    return wide;
}

std::u16string wideFromAnsi(const char* text)
{
    return text ? wideFromAnsi(std::string_view(text)) : std::u16string();
}

std::string ansiFromWide(std::u16string_view text)
{
    if (text.empty())
        return {};
    int length = static_cast<int>(text.size());
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), length, ansi.data(), bytes, nullptr, nullptr);
    return ansi;
}

size_t ansiPrefix(std::string_view text, size_t limit)
{
    size_t kept = 0;
    while (kept < text.size()) {
        size_t step = text[kept] == '\0' ? 1 : static_cast<size_t>(CharNextA(text.data() + kept) - (text.data() + kept));
        if (step == 0 || kept + step > limit)
            break;
        kept += step;
    }
    return kept;
}

} // namespace pal
