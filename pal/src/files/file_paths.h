// Windows paths on the Linux file system (see pal/files.h for the rules).
#pragma once

#include <string>
#include <string_view>

#include "pal/types.h"

namespace pal {

struct MappedPath {
    std::string path; // the Linux path; empty on error
    DWORD error = 0;  // a Windows error when the name cannot be mapped
};

MappedPath mapPath(std::u16string_view windowsPath);

// The C: path of a Linux path below <root>/drive_c; empty when it lies elsewhere or there is no root.
std::u16string windowsPathOf(const std::string& linuxPath);

// A folder given by its Windows path, created with the folders on the way when missing.
std::u16string createdFolder(std::u16string_view windowsPath);
// C:\Windows and C:\Windows\System32, created when missing.
std::u16string windowsDirectory();
std::u16string systemDirectory();

// The entry of folder whose name equals name without regard to case; empty when there is none.
std::string findEntryNoCase(const std::string& folder, std::u16string_view name);

// The Windows error for errno after an operation on path; ENOENT gives ERROR_FILE_NOT_FOUND when
// the parent folder exists, ERROR_PATH_NOT_FOUND when it does not.
DWORD errorFromErrno(int error, const std::string& path);

// The last component of a Linux path.
std::string baseNameOf(const std::string& path);
std::string folderOf(const std::string& path);

inline bool isSeparator(char16_t c)
{
    return c == u'\\' || c == u'/';
}

} // namespace pal
