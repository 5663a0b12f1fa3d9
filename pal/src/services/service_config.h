// Services as the registry holds them: HKLM\SYSTEM\CurrentControlSet\Services\<name>.
#pragma once

#include <string>

#include "pal/types.h"

namespace pal::services {

struct ServiceConfig {
    std::u16string name; // as registered
    std::u16string imagePath;
    DWORD startType = 0;
    bool markedForDelete = false;
};

// The service registered under name (any case); error ERROR_SERVICE_DOES_NOT_EXIST when there is
// none. A service marked for deletion whose process no longer runs is removed on the way.
struct FoundService {
    ServiceConfig config;
    DWORD error = 0;
};
FoundService findService(std::u16string_view name);

DWORD registerService(std::u16string_view name, std::u16string_view displayName, DWORD type, DWORD startType,
                      DWORD errorControl, std::u16string_view imagePath);
DWORD markForDelete(const std::u16string& name);
// Removes the key of a service marked for deletion.
void removeIfMarked(const std::u16string& name);

bool validServiceName(std::u16string_view name);

} // namespace pal::services
