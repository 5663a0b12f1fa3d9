// UTF-16 <-> UTF-8 strings for the layer's own use.
#include "text/text_utf8.h"

#include "text/text_codec.h"

namespace pal {

std::string toUtf8(std::u16string_view text)
{
    std::string result;
    result.reserve(text.size());
    const char16_t* end = text.data() + text.size();
    for (const char16_t* p = text.data(); p < end;) {
        auto encoded = text::encodeChar(text::Charset::Utf8, p, end, false);
        result.append(reinterpret_cast<const char*>(encoded.bytes), encoded.byteCount);
        p += encoded.consumed;
    }
    return result;
}

std::string toUtf8(const WCHAR* text) { return text ? toUtf8(std::u16string_view(text)) : std::string(); }

std::u16string fromUtf8(std::string_view text)
{
    std::u16string result;
    result.reserve(text.size());
    auto end = reinterpret_cast<const unsigned char*>(text.data() + text.size());
    for (auto p = reinterpret_cast<const unsigned char*>(text.data()); p < end;) {
        auto decoded = text::decodeChar(text::Charset::Utf8, p, end);
        result.append(decoded.units, decoded.unitCount);
        p += decoded.consumed;
    }
    return result;
}

} // namespace pal
