#include "files/root.h"

#include <cstdlib>
#include <filesystem>

namespace pal {

std::string rootPath()
{
    const char* root = std::getenv("PAL_ROOT");
    return root ? std::string(root) : std::string();
}

std::string rootFolder(const std::string& relative)
{
    std::string root = rootPath();
    if (root.empty())
        return {};
    std::string folder = root + "/" + relative;
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

} // namespace pal
