// Starting a service's process, and what the process finds in its environment.
#pragma once

#include <string>
#include <vector>

#include "services/service_config.h"

namespace pal::services {

// Launches the service's image and waits until its dispatcher connects. ERROR_SUCCESS, or the
// Windows error of StartServiceW.
DWORD launchService(const ServiceConfig& config, const std::vector<std::u16string>& arguments);

// The image and its arguments from an ImagePath; program empty (error set) when it names no
// program that exists.
struct Image {
    std::string program;
    std::vector<std::string> arguments; // UTF-8, without the program
    DWORD error = 0;
};
Image parseImagePath(std::u16string_view imagePath);

// Environment of a launched service process.
constexpr const char* kNameVariable = "PAL_SERVICE_NAME";
constexpr const char* kLaunchVariable = "PAL_SERVICE_LAUNCH"; // "<status fd>,<connect fd>"
constexpr const char* kArgumentCountVariable = "PAL_SERVICE_ARGC";
constexpr const char* kArgumentVariable = "PAL_SERVICE_ARG"; // followed by 1..count
constexpr char kConnected = 'C';

} // namespace pal::services
