#include "text/text_case.h"

#include <algorithm>

#include "pal/strings.h"

namespace pal {

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

} // namespace pal
