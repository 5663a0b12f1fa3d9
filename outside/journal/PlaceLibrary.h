// Placing a stand-in's library where its registration points ('hbmsgm run', 'hbphstd install').
#pragma once

#include <string>

#include <windows.h>

namespace journal {

// Copies the library file source to target (Windows or Linux paths). A copy already there with the
// same bytes is used in place (reused is set), so that a process that has it loaded keeps it. 0, or
// the Windows error: ERROR_SHARING_VIOLATION while a process has a different copy loaded.
DWORD placeLibrary(const std::string& source, const std::string& target, bool& reused);
// What a tool says when placeLibrary failed with error.
std::string placingProblem(DWORD error, const std::string& source, const std::string& target);

} // namespace journal
