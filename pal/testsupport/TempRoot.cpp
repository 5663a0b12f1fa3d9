#include "TempRoot.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace testsupport {

TempRoot::TempRoot()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "palroot.XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary platform root");
    path_ = pattern;
    if (const char* old = std::getenv("PAL_ROOT")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    setenv("PAL_ROOT", path_.c_str(), 1);
}

TempRoot::~TempRoot()
{
    if (hadPrevious_)
        setenv("PAL_ROOT", previous_.c_str(), 1);
    else
        unsetenv("PAL_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempRoot::file(const std::string& relative) const
{
    return path_ + "/" + relative;
}

} // namespace testsupport
