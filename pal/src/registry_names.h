// Registry names: case-insensitive comparison and the folder names that keys are stored under.
#pragma once

#include <string>
#include <string_view>

#include "pal/types.h"

namespace pal::reg {

// Windows compares registry names by their UTF-16 units upper-cased (towupper, the case folding
// of lstrcmpiW).
std::u16string upcased(std::u16string_view name);
bool sameName(std::u16string_view a, std::u16string_view b);
// Negative, 0 or positive, ordering names as Windows enumerates subkeys.
int compareNames(std::u16string_view a, std::u16string_view b);

// The folder name of a key: its upper-cased name in UTF-8 with every byte that is not plainly safe
// in a file name written as %XX, a leading '.' included (names starting with '.' are the store's
// own files). Names that would exceed a file name's length keep a prefix and get a hash appended.
std::string folderName(std::u16string_view keyName);

} // namespace pal::reg
