#include "services/service_config.h"

#include <vector>

#include "pal/registry.h"
#include "pal/services.h"
#include "services/service_files.h"
#include "text/text_case.h"
#include "text/text_utf8.h"

namespace pal::services {
namespace {

constexpr const WCHAR* kServicesKey = u"SYSTEM\\CurrentControlSet\\Services";
constexpr size_t kMaxNameLength = 256;

// A key handle closed with its scope.
class Key {
public:
    Key() = default;
    ~Key()
    {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

std::u16string serviceKeyPath(std::u16string_view name)
{
    return std::u16string(kServicesKey) + u"\\" + std::u16string(name);
}

// The subkey of Services named name without regard to case, as it is stored.
std::u16string storedName(std::u16string_view name)
{
    Key services;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_READ, services.out()) != ERROR_SUCCESS)
        return {};
    WCHAR entry[kMaxNameLength + 1];
    for (DWORD index = 0;; ++index) {
        DWORD length = kMaxNameLength + 1;
        LSTATUS status = RegEnumKeyExW(services.get(), index, entry, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return {};
        if (sameName(std::u16string_view(entry, length), name))
            return std::u16string(entry, length);
    }
}

bool readDword(HKEY key, const WCHAR* value, DWORD& out)
{
    DWORD size = sizeof out;
    DWORD type = 0;
    return RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&out), &size) == ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof out;
}

std::u16string readString(HKEY key, const WCHAR* value)
{
    DWORD size = 0;
    if (RegQueryValueExW(key, value, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return {};
    std::vector<WCHAR> data(size / sizeof(WCHAR) + 1, 0);
    if (RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return {};
    std::u16string text(data.data(), size / sizeof(WCHAR));
    while (!text.empty() && text.back() == 0)
        text.pop_back();
    return text;
}

LSTATUS writeDword(HKEY key, const WCHAR* value, DWORD data)
{
    return RegSetValueExW(key, value, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

LSTATUS writeString(HKEY key, const WCHAR* value, DWORD type, std::u16string_view text)
{
    std::u16string terminated(text);
    return RegSetValueExW(key, value, 0, type, reinterpret_cast<const BYTE*>(terminated.c_str()),
                          static_cast<DWORD>((terminated.size() + 1) * sizeof(WCHAR)));
}

} // namespace

bool validServiceName(std::u16string_view name)
{
    return !name.empty() && name.size() <= kMaxNameLength && name.find_first_of(u"\\/") == std::u16string_view::npos;
}

FoundService findService(std::u16string_view name)
{
    FoundService found;
    std::u16string stored = validServiceName(name) ? storedName(name) : std::u16string();
    Key key;
    DWORD type = 0;
    if (stored.empty() || RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(stored).c_str(), 0, KEY_READ, key.out()) !=
                              ERROR_SUCCESS ||
        !readDword(key.get(), u"Type", type)) {
        found.error = ERROR_SERVICE_DOES_NOT_EXIST;
        return found;
    }
    ServiceConfig& config = found.config;
    config.name = stored;
    config.imagePath = readString(key.get(), u"ImagePath");
    readDword(key.get(), u"Start", config.startType);
    DWORD flag = 0;
    config.markedForDelete = readDword(key.get(), u"DeleteFlag", flag) && flag != 0;
    if (config.markedForDelete && !readState(toUtf8(stored)).live) {
        removeIfMarked(stored);
        found.error = ERROR_SERVICE_DOES_NOT_EXIST;
    }
    return found;
}

DWORD registerService(std::u16string_view name, std::u16string_view displayName, DWORD type, DWORD startType,
                      DWORD errorControl, std::u16string_view imagePath)
{
    FoundService existing = findService(name);
    if (!existing.error)
        return existing.config.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
    Key key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    if ((status = writeDword(key.get(), u"Type", type)) != ERROR_SUCCESS ||
        (status = writeDword(key.get(), u"Start", startType)) != ERROR_SUCCESS ||
        (status = writeDword(key.get(), u"ErrorControl", errorControl)) != ERROR_SUCCESS ||
        (status = writeString(key.get(), u"ImagePath", REG_EXPAND_SZ, imagePath)) != ERROR_SUCCESS ||
        (status = writeString(key.get(), u"DisplayName", REG_SZ, displayName.empty() ? name : displayName)) !=
            ERROR_SUCCESS ||
        (status = writeString(key.get(), u"ObjectName", REG_SZ, u"LocalSystem")) != ERROR_SUCCESS) {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str());
        return static_cast<DWORD>(status);
    }
    return ERROR_SUCCESS;
}

DWORD markForDelete(const std::u16string& name)
{
    Key key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_ALL_ACCESS, key.out());
    if (status != ERROR_SUCCESS)
        return ERROR_SERVICE_DOES_NOT_EXIST;
    status = writeDword(key.get(), u"DeleteFlag", 1);
    return static_cast<DWORD>(status);
}

void removeIfMarked(const std::u16string& name)
{
    DWORD flag = 0;
    {
        Key key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
            !readDword(key.get(), u"DeleteFlag", flag) || flag == 0)
            return;
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str());
}

} // namespace pal::services
