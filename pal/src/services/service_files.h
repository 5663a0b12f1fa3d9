// A service's files below <root>/run/services: its status (locked by the live process), its
// control socket and its log.
#pragma once

#include <string>

#include "pal/services.h"

namespace pal::services {

std::string statusPath(const std::string& name);
std::string controlPath(const std::string& name);
std::string logPath(const std::string& name);
// The folder, created when missing; empty when there is no platform root.
std::string servicesFolder();

// The status a reader sees, and whether a live process holds it.
struct ServiceState {
    SERVICE_STATUS status{};
    bool live = false;
};

// A service never started, or whose process ended without reporting SERVICE_STOPPED, reads
// stopped (exit codes ERROR_SERVICE_NEVER_STARTED and ERROR_PROCESS_ABORTED).
ServiceState readState(const std::string& name);

// Takes the live lock of the status file for this open of it; false when a live process holds it.
bool claimLive(int fd);
// Writes the status record (the reader sees all of it or none of it).
bool writeStatus(int fd, const SERVICE_STATUS& status);

SERVICE_STATUS stoppedStatus(DWORD exitCode);

} // namespace pal::services
