// UTF-16 <-> UTF-8 std::string for the layer's own use (file names, stored text). Lone surrogates
// and invalid UTF-8 become U+FFFD, as CP_UTF8 conversions do.
#pragma once

#include <string>
#include <string_view>

#include "pal/types.h"

namespace pal {

PAL_EXPORT std::string toUtf8(std::u16string_view text);
PAL_EXPORT std::string toUtf8(const WCHAR* text); // NULL gives ""
PAL_EXPORT std::u16string fromUtf8(std::string_view text);

} // namespace pal
