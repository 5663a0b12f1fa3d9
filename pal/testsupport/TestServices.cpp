#include "TestServices.h"

#include "ChildProcess.h"

namespace testsupport {

SC_HANDLE createServiceBesideSelf(SC_HANDLE manager, const std::string& name)
{
    std::string image = besideSelf(name);
    std::u16string wideName(name.begin(), name.end());
    std::u16string wideImage(image.begin(), image.end());
    return CreateServiceW(manager, wideName.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                          SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, wideImage.c_str(), nullptr, nullptr, nullptr,
                          nullptr, nullptr);
}

} // namespace testsupport
