// The Windows error codes for errno values, shared by the file, INI, registry and event-log code.
#pragma once

#include "pal/types.h"

namespace pal {

// fallback for an errno without a Windows counterpart. ENOENT gives ERROR_FILE_NOT_FOUND; callers
// that tell a missing file from a missing folder look at ENOENT themselves.
DWORD windowsErrorOf(int error, DWORD fallback);

} // namespace pal
