#include "PlaceLibrary.h"

namespace journal {

namespace {

// The whole file; false when it cannot be read.
bool readWhole(const std::string& path, std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes.clear();
    char chunk[65536];
    DWORD read = 0;
    BOOL ok;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &read, nullptr)) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return ok != FALSE;
}

} // namespace

DWORD placeLibrary(const std::string& source, const std::string& target, bool& reused)
{
    std::string wanted, present;
    reused = readWhole(source, wanted) && readWhole(target, present) && wanted == present;
    if (reused)
        return ERROR_SUCCESS;
    return CopyFileA(source.c_str(), target.c_str(), FALSE) ? ERROR_SUCCESS : GetLastError();
}

std::string placingProblem(DWORD error, const std::string& source, const std::string& target)
{
    if (error == ERROR_SHARING_VIOLATION)
        return target + " is in use: a process still has another build of it loaded; stop that process (or use "
                        "another FOLDER) and try again";
    return "cannot copy " + source + " to " + target + " (error " + std::to_string(error) + ")";
}

} // namespace journal
