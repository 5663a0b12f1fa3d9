// The platform root: the folder that holds one installation's shared state.
#pragma once

#include <string>

namespace pal {

// PAL_ROOT as it is now (read at every call, so a test can switch roots); empty when unset.
std::string rootPath();
// rootPath() + "/" + relative, the folders on the way created; empty when there is no root.
std::string rootFolder(const std::string& relative);

} // namespace pal
