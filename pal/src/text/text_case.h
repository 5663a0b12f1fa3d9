// Names that Windows compares without regard to case: registry keys and values, files and folders,
// INI sections and keys, environment variables, modules. They compare by their UTF-16 units
// upper-cased with towupper (the case folding of lstrcmpiW). Registry folder names are made from
// upcased(), so its results are part of the stored format.
#pragma once

#include <string>
#include <string_view>

namespace pal {

std::u16string upcased(std::u16string_view name);
// Negative, 0 or positive, ordering names as Windows lists them.
int compareNames(std::u16string_view a, std::u16string_view b);
bool sameName(std::u16string_view a, std::u16string_view b);

} // namespace pal
