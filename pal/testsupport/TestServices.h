// Services in tests: a program built beside the test registered with the service control.
#pragma once

#include <string>

#include <windows.h>

namespace testsupport {

// Registers the program `name` built beside the test as a service of the same name that runs in
// its own process and starts on demand; NULL when the manager refuses it.
SC_HANDLE createServiceBesideSelf(SC_HANDLE manager, const std::string& name);

} // namespace testsupport
