// The service control manager's calls, made by any process of the platform root.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/root.h"
#include "pal/services.h"
#include "pal/system.h"
#include "pipes/pipes_place.h"
#include "services/service_config.h"
#include "services/service_files.h"
#include "services/service_launch.h"
#include "services/service_wire.h"
#include "text/text_case.h"
#include "text/text_utf8.h"
#include "threads/object.h"

namespace pal::services {
namespace {

constexpr DWORD kControlTimeoutMs = 30000;
constexpr DWORD kManagerReadAccess =
    SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS | 0x00020000; // READ_CONTROL
constexpr DWORD kServiceReadAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS |
                                     SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL | 0x00020000;

struct ScmObject : Object {
    bool manager = false;
    std::u16string service; // as registered
    DWORD granted = 0;
};

template <class Result>
Result fail(DWORD error, Result result)
{
    SetLastError(error);
    return result;
}

bool isAdministrator()
{
    const char* nonAdmin = std::getenv("PAL_NON_ADMIN");
    return !(nonAdmin && std::strcmp(nonAdmin, "1") == 0);
}

bool allowed(DWORD desired, DWORD readAccess)
{
    return isAdministrator() || (desired & ~readAccess) == 0;
}

SC_HANDLE insertScm(bool manager, std::u16string service, DWORD granted)
{
    auto object = std::make_shared<ScmObject>();
    object->manager = manager;
    object->service = std::move(service);
    object->granted = granted;
    return reinterpret_cast<SC_HANDLE>(insertHandle(std::move(object)));
}

std::shared_ptr<ScmObject> scmObject(SC_HANDLE handle, bool manager)
{
    auto object = lookup<ScmObject>(reinterpret_cast<HANDLE>(handle));
    return object && object->manager == manager ? object : nullptr;
}

bool isLocalMachine(LPCWSTR machine)
{
    if (!machine || !machine[0])
        return true;
    std::u16string_view name(machine);
    if (name.size() > 2 && name[0] == u'\\' && name[1] == u'\\')
        name.remove_prefix(2);
    WCHAR local[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(local, &size) && sameName(name, std::u16string_view(local, size));
}

// The access a control needs; 0 for a control that cannot be sent.
DWORD accessForControl(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE:
        return SERVICE_INTERROGATE;
    default:
        return control >= 128 && control <= 255 ? SERVICE_USER_DEFINED_CONTROL : 0;
    }
}

bool accepts(const SERVICE_STATUS& status, DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return status.dwControlsAccepted & SERVICE_ACCEPT_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return status.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE;
    default:
        return true; // interrogation and user-defined controls reach every running service
    }
}

bool pending(DWORD state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_CONTINUE_PENDING ||
           state == SERVICE_PAUSE_PENDING;
}

// Sends a control to the service's dispatcher; the handler's result, or a transport failure as
// ERROR_SERVICE_REQUEST_TIMEOUT.
DWORD sendControl(const std::string& name, DWORD control)
{
    int fd = pipes::connectTo(controlPath(name));
    if (fd < 0)
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(scaleTimeout(kControlTimeoutMs));
    unsigned char request[kRequestBytes];
    putWord(request, control);
    putWord(request + 4, 0);
    unsigned char reply[kReplyBytes];
    bool answered = sendAll(fd, request, sizeof request, deadline) && receiveAll(fd, reply, sizeof reply, deadline);
    close(fd);
    return answered ? getWord(reply) : static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT);
}

// The service of a handle with the access it needs for an operation.
struct Target {
    std::shared_ptr<ScmObject> object;
    FoundService found;
    DWORD error = 0;
};

Target targetOf(SC_HANDLE handle, DWORD access)
{
    Target target;
    target.object = scmObject(handle, false);
    if (!target.object) {
        target.error = ERROR_INVALID_HANDLE;
    } else if ((target.object->granted & access) != access) {
        target.error = ERROR_ACCESS_DENIED;
    } else {
        target.found = findService(target.object->service);
        target.error = target.found.error;
    }
    return target;
}

} // namespace
} // namespace pal::services

using namespace pal;
using namespace pal::services;

extern "C" {

SC_HANDLE OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess)
{
    if (!isLocalMachine(lpMachineName) || rootPath().empty())
        return fail(RPC_S_SERVER_UNAVAILABLE, SC_HANDLE(nullptr));
    if (lpDatabaseName && !sameName(lpDatabaseName, SERVICES_ACTIVE_DATABASEW))
        return fail(ERROR_DATABASE_DOES_NOT_EXIST, SC_HANDLE(nullptr));
    if (!allowed(dwDesiredAccess, kManagerReadAccess))
        return fail(ERROR_ACCESS_DENIED, SC_HANDLE(nullptr));
    return insertScm(true, {}, dwDesiredAccess | SC_MANAGER_CONNECT);
}

SC_HANDLE CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, LPCWSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                         LPCWSTR, LPDWORD, LPCWSTR, LPCWSTR, LPCWSTR)
{
    auto manager = scmObject(hSCManager, true);
    if (!manager)
        return fail(ERROR_INVALID_HANDLE, SC_HANDLE(nullptr));
    if (!(manager->granted & SC_MANAGER_CREATE_SERVICE))
        return fail(ERROR_ACCESS_DENIED, SC_HANDLE(nullptr));
    if (!lpServiceName || !validServiceName(lpServiceName))
        return fail(ERROR_INVALID_NAME, SC_HANDLE(nullptr));
    if (!lpBinaryPathName || !lpBinaryPathName[0] || dwServiceType != SERVICE_WIN32_OWN_PROCESS ||
        dwStartType > SERVICE_DISABLED || dwErrorControl > 3)
        return fail(ERROR_INVALID_PARAMETER, SC_HANDLE(nullptr));
    DWORD error = registerService(lpServiceName, lpDisplayName ? lpDisplayName : u"", dwServiceType, dwStartType,
                                  dwErrorControl, lpBinaryPathName);
    if (error)
        return fail(error, SC_HANDLE(nullptr));
    SetLastError(ERROR_SUCCESS);
    return insertScm(false, findService(lpServiceName).config.name, dwDesiredAccess);
}

SC_HANDLE OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess)
{
    if (!scmObject(hSCManager, true))
        return fail(ERROR_INVALID_HANDLE, SC_HANDLE(nullptr));
    if (!lpServiceName)
        return fail(ERROR_INVALID_ADDRESS, SC_HANDLE(nullptr));
    if (!validServiceName(lpServiceName))
        return fail(ERROR_INVALID_NAME, SC_HANDLE(nullptr));
    FoundService found = findService(lpServiceName);
    if (found.error)
        return fail(found.error, SC_HANDLE(nullptr));
    if (!allowed(dwDesiredAccess, kServiceReadAccess))
        return fail(ERROR_ACCESS_DENIED, SC_HANDLE(nullptr));
    return insertScm(false, found.config.name, dwDesiredAccess);
}

BOOL DeleteService(SC_HANDLE hService)
{
    Target target = targetOf(hService, DELETE);
    if (target.error)
        return fail(target.error, FALSE);
    if (target.found.config.markedForDelete)
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    const std::u16string& name = target.found.config.name;
    if (DWORD error = markForDelete(name))
        return fail(error, FALSE);
    if (!readState(toUtf8(name)).live)
        removeIfMarked(name); // stopped: gone now; else when it stops
    return TRUE;
}

BOOL StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors)
{
    Target target = targetOf(hService, SERVICE_START);
    if (target.error)
        return fail(target.error, FALSE);
    const ServiceConfig& config = target.found.config;
    if (config.markedForDelete)
        return fail(ERROR_SERVICE_MARKED_FOR_DELETE, FALSE);
    if (config.startType == SERVICE_DISABLED)
        return fail(ERROR_SERVICE_DISABLED, FALSE);
    if (dwNumServiceArgs && !lpServiceArgVectors)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<std::u16string> arguments;
    for (DWORD i = 0; i < dwNumServiceArgs; ++i) {
        if (!lpServiceArgVectors[i])
            return fail(ERROR_INVALID_PARAMETER, FALSE);
        arguments.emplace_back(lpServiceArgVectors[i]);
    }
    DWORD error = launchService(config, arguments);
    return error ? fail(error, FALSE) : TRUE;
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus)
{
    if (!lpServiceStatus)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    DWORD access = accessForControl(dwControl);
    if (!access)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    Target target = targetOf(hService, access);
    if (target.error)
        return fail(target.error, FALSE);
    const std::string name = toUtf8(target.found.config.name);
    ServiceState state = readState(name);
    *lpServiceStatus = state.status;
    if (!state.live || state.status.dwCurrentState == SERVICE_STOPPED)
        return fail(ERROR_SERVICE_NOT_ACTIVE, FALSE);
    if (pending(state.status.dwCurrentState))
        return fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL, FALSE);
    if (!accepts(state.status, dwControl))
        return fail(ERROR_INVALID_SERVICE_CONTROL, FALSE);
    DWORD result = sendControl(name, dwControl);
    *lpServiceStatus = readState(name).status;
    return result ? fail(result, FALSE) : TRUE;
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus)
{
    if (!lpServiceStatus)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    Target target = targetOf(hService, SERVICE_QUERY_STATUS);
    if (target.error)
        return fail(target.error, FALSE);
    *lpServiceStatus = readState(toUtf8(target.found.config.name)).status;
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject)
{
    HANDLE handle = reinterpret_cast<HANDLE>(hSCObject);
    if (!lookup<ScmObject>(handle) || !removeHandle(handle))
        return fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

} // extern "C"
