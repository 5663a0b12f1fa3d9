// The folder names that registry keys are stored under.
#pragma once

#include <string>
#include <string_view>

#include "text/text_case.h"

namespace pal::reg {

// The folder name of a key: its upper-cased name in UTF-8 with every byte that is not plainly safe
// in a file name written as %XX, a leading '.' included (names starting with '.' are the store's
// own files). Names that would exceed a file name's length keep a prefix and get a hash appended.
std::string folderName(std::u16string_view keyName);

} // namespace pal::reg
