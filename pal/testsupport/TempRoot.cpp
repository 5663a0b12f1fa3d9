#include "TempRoot.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#ifdef _WIN32
#include <random>

namespace {

// The POSIX calls of the tests' Windows build (run under wine), from the C runtime.
char* mkdtemp(char* pattern)
{
    std::string path = pattern;
    const size_t x = path.rfind("XXXXXX");
    std::random_device random;
    for (int attempt = 0; x != std::string::npos && attempt < 100; ++attempt) {
        for (size_t i = 0; i < 6; ++i)
            path[x + i] = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) {
            path.copy(pattern, path.size());
            return pattern;
        }
    }
    return nullptr;
}

int setenv(const char* name, const char* value, int /*overwrite*/)
{
    return _putenv_s(name, value);
}

int unsetenv(const char* name)
{
    return _putenv_s(name, "");
}

} // namespace
#endif

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

std::string TempRoot::windowsPath(const std::string& pathOnC) const
{
#ifdef _WIN32
    return path_ + "\\drive_c" + pathOnC.substr(2);
#else
    return pathOnC;
#endif
}

} // namespace testsupport
