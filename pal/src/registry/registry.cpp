// The registry: keys and values in files below the platform root, shared by every process.
//
// Layout below the platform root:
//   registry/.lock              the one registry lock (flock: shared to read, exclusive to write),
//                               taken around every operation by every process and thread
//   registry/HKLM HKCU HKCR HKU  the predefined keys HKEY_LOCAL_MACHINE, _CURRENT_USER,
//                               _CLASSES_ROOT and _USERS
//   <key folder>/<subkey folder> one folder per subkey. Its name is the subkey's name upper-cased by
//                               towupper (the folding of lstrcmpiW), in UTF-8 with every byte
//                               other than letters, digits, bytes >= 0x80 and
//                               " -_.,()+=@#!&'[]{}$^;" written as %XX (a leading '.' too); a name
//                               longer than 200 bytes is cut to at most 160 and gets "~" and a
//                               64-bit FNV-1a hash (16 hex digits) of the whole escaped name.
//   <key folder>/.key           the key file: the key's own name, its id and its values
//   <key folder>/.key.tmp       a key file being written; renamed over .key when complete
//   <key folder>/.new.tmp       a subkey folder being prepared; renamed into place when complete
// A folder without a .key file is no key (left over by a writer that died); a predefined key has
// no .key file until a value is set on it.
//
// Key file (.key), numbers little-endian, names and strings without terminators:
//   8 bytes          "PALREG01"
//   u64              key id: 0 for a predefined key, else random, new whenever the key is created
//   u32 n, n bytes   the key's name, UTF-16LE, in the case it was created with
//   u32              number of values
//   per value, in the order the values were created:
//     u32 n, n bytes value name, UTF-16LE, in the case it was created with ("" the default value)
//     u32            type (REG_*)
//     u32 n, n bytes data, exactly as given
// Nothing follows the last value.
//
// A handle remembers its key's folder and id; when the key file is gone or carries another id the
// key was deleted (ERROR_KEY_DELETED).
#include <algorithm>
#include <cstring>
#include <memory>

#include <sys/stat.h>

#include "threads/object.h"
#include "pal/files.h"
#include "pal/registry.h"
#include "registry/registry_keys.h"
#include "registry/registry_names.h"
#include "files/root.h"

namespace pal::reg {
namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kSpecificAndStandardRights = 0x001F003F;

struct PredefinedKey {
    HKEY handle;
    const char* folder;
    const char16_t* name;
};

const PredefinedKey kPredefinedKeys[] = {
    {HKEY_CLASSES_ROOT, "HKCR", u"HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKCU", u"HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKLM", u"HKEY_LOCAL_MACHINE"},
    {HKEY_USERS, "HKU", u"HKEY_USERS"},
};

class RegKey : public Object {
public:
    RegKey(std::string registry, std::string folder, uint64_t id, const char16_t* topName, REGSAM access)
        : registry(std::move(registry)), folder(std::move(folder)), id(id), topName(topName), access(access)
    {
    }
    const std::string registry; // registry folder of the platform root the key was opened in
    const std::string folder;
    const uint64_t id;
    const char16_t* const topName; // set for a predefined key only
    const REGSAM access;
};

REGSAM grantedAccess(REGSAM desired)
{
    REGSAM granted = desired & kSpecificAndStandardRights;
    if (desired & (kMaximumAllowed | kGenericAll))
        granted |= KEY_ALL_ACCESS;
    if (desired & kGenericRead)
        granted |= KEY_READ;
    if (desired & kGenericWrite)
        granted |= KEY_WRITE;
    if (desired & kGenericExecute)
        granted |= KEY_EXECUTE;
    return granted;
}

const PredefinedKey* predefinedKey(HKEY hKey)
{
    for (const auto& key : kPredefinedKeys)
        if (hKey == key.handle)
            return &key;
    return nullptr;
}

LONG resolve(HKEY hKey, std::shared_ptr<const RegKey>& key)
{
    if (const PredefinedKey* predefined = predefinedKey(hKey)) {
        std::string registry = rootFolder("registry");
        if (registry.empty())
            return ERROR_PATH_NOT_FOUND;
        std::string folder = registry + "/" + predefined->folder;
        ::mkdir(folder.c_str(), 0777);
        key = std::make_shared<RegKey>(registry, folder, 0, predefined->name, KEY_ALL_ACCESS);
        return ERROR_SUCCESS;
    }
    key = lookup<RegKey>(hKey);
    return key ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Runs body(key) under the registry lock once the handle is known to carry the needed access.
template <class Body>
LONG withKey(HKEY hKey, REGSAM needed, bool exclusive, Body body)
{
    std::shared_ptr<const RegKey> key;
    LONG error = resolve(hKey, key);
    if (error != ERROR_SUCCESS)
        return error;
    if ((key->access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    StoreLock lock(key->registry, exclusive);
    if (lock.status() != ERROR_SUCCESS)
        return lock.status();
    return body(*key);
}

LONG checkAlive(const RegKey& key)
{
    if (key.topName)
        return ERROR_SUCCESS;
    KeyRecord stored;
    LONG error = loadKeyHeader(key.folder, stored);
    if (error == ERROR_FILE_NOT_FOUND || (error == ERROR_SUCCESS && stored.id != key.id))
        return ERROR_KEY_DELETED;
    return error;
}

LONG loadLive(const RegKey& key, KeyRecord& record)
{
    LONG error = loadKey(key.folder, record);
    if (error == ERROR_FILE_NOT_FOUND && key.topName) {
        record = KeyRecord{0, key.topName, {}};
        return ERROR_SUCCESS;
    }
    if (error == ERROR_FILE_NOT_FOUND || (error == ERROR_SUCCESS && record.id != key.id))
        return ERROR_KEY_DELETED;
    return error;
}

using Names = std::vector<std::u16string_view>;

// Runs body(key, record) with the live key's stored record, under the registry lock.
template <class Body>
LONG withRecord(HKEY hKey, REGSAM needed, bool exclusive, Body body)
{
    return withKey(hKey, needed, exclusive, [&](const RegKey& key) -> LONG {
        KeyRecord record;
        LONG status = loadLive(key, record);
        return status == ERROR_SUCCESS ? body(key, record) : status;
    });
}

// "A\B\C" into its names; one trailing backslash is allowed.
LONG splitPath(std::u16string_view path, Names& names)
{
    names.clear();
    if (!path.empty() && path.back() == u'\\')
        path.remove_suffix(1);
    if (path.empty())
        return ERROR_SUCCESS;
    for (size_t start = 0;;) {
        size_t end = path.find(u'\\', start);
        std::u16string_view name = path.substr(start, end == std::u16string_view::npos ? end : end - start);
        if (name.empty())
            return ERROR_BAD_PATHNAME;
        if (name.size() > kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        names.push_back(name);
        if (end == std::u16string_view::npos)
            return ERROR_SUCCESS;
        start = end + 1;
    }
}

// The existing key at base\names.
LONG findKey(const RegKey& base, const Names& names, std::string& folder, uint64_t& id)
{
    folder = base.folder;
    id = base.id;
    for (auto name : names) {
        folder = childFolder(folder, name);
        KeyRecord stored;
        LONG error = loadKeyHeader(folder, stored);
        if (error != ERROR_SUCCESS)
            return error;
        id = stored.id;
    }
    return ERROR_SUCCESS;
}

HKEY newHandle(const RegKey& base, const std::string& folder, uint64_t id, bool sameKey, REGSAM desired)
{
    auto key = std::make_shared<RegKey>(base.registry, folder, id, sameKey ? base.topName : nullptr,
                                        grantedAccess(desired));
    return static_cast<HKEY>(insertHandle(std::move(key)));
}

std::u16string_view viewOf(LPCWSTR text)
{
    return text ? std::u16string_view(text) : std::u16string_view();
}

std::vector<Value>::iterator findValue(std::vector<Value>& values, std::u16string_view name)
{
    return std::find_if(values.begin(), values.end(), [&](const Value& value) { return sameName(value.name, name); });
}

// Runs body(base, names) under the registry lock for a live key hKey and the path below it.
template <class Body>
LONG withPath(HKEY hKey, std::u16string_view path, bool exclusive, Body body)
{
    Names names;
    LONG error = splitPath(path, names);
    if (error != ERROR_SUCCESS)
        return error;
    return withKey(hKey, 0, exclusive, [&](const RegKey& base) -> LONG {
        LONG status = checkAlive(base);
        return status == ERROR_SUCCESS ? body(base, names) : status;
    });
}

LONG openKey(HKEY parent, std::u16string_view path, REGSAM desired, PHKEY result)
{
    return withPath(parent, path, false, [&](const RegKey& base, const Names& names) -> LONG {
        std::string folder;
        uint64_t id = 0;
        LONG status = findKey(base, names, folder, id);
        if (status == ERROR_SUCCESS)
            *result = newHandle(base, folder, id, names.empty(), desired);
        return status;
    });
}

LONG createKey(HKEY parent, std::u16string_view path, REGSAM desired, PHKEY result, LPDWORD disposition)
{
    return withPath(parent, path, true, [&](const RegKey& base, const Names& names) -> LONG {
        std::string folder = base.folder;
        uint64_t id = base.id;
        bool created = false;
        for (auto name : names) {
            KeyRecord stored;
            std::string child = childFolder(folder, name);
            LONG status = loadKeyHeader(child, stored);
            if (status == ERROR_SUCCESS) {
                folder = std::move(child);
                id = stored.id;
                created = false;
                continue;
            }
            if (status != ERROR_FILE_NOT_FOUND)
                return status;
            if ((base.access & KEY_CREATE_SUB_KEY) == 0)
                return ERROR_ACCESS_DENIED;
            status = makeKey(folder, name, child, id);
            if (status != ERROR_SUCCESS)
                return status;
            folder = std::move(child);
            created = true;
        }
        *result = newHandle(base, folder, id, names.empty(), desired);
        if (disposition)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
}

LONG deleteValue(HKEY hKey, std::u16string_view name)
{
    return withRecord(hKey, KEY_SET_VALUE, true, [&](const RegKey& key, KeyRecord& record) -> LONG {
        auto value = findValue(record.values, name);
        if (value == record.values.end())
            return ERROR_FILE_NOT_FOUND;
        record.values.erase(value);
        return storeKey(key.folder, record);
    });
}

LONG deleteKey(HKEY hKey, std::u16string_view path)
{
    return withPath(hKey, path, true, [&](const RegKey& base, const Names& names) -> LONG {
        std::string folder;
        uint64_t id = 0;
        std::vector<Subkey> subkeys;
        LONG status = findKey(base, names, folder, id);
        if (status != ERROR_SUCCESS)
            return status;
        if (names.empty() && base.topName)
            return ERROR_ACCESS_DENIED;
        status = listSubkeys(folder, subkeys);
        if (status == ERROR_SUCCESS && !subkeys.empty())
            status = ERROR_ACCESS_DENIED; // as Windows: a key with subkeys is not deleted
        return status == ERROR_SUCCESS ? removeKey(folder) : status;
    });
}

// Without names: every subkey and value of the key itself.
LONG deleteTree(HKEY hKey, std::u16string_view path)
{
    return withPath(hKey, path, true, [&](const RegKey& base, const Names& names) -> LONG {
        std::string folder;
        uint64_t id = 0;
        LONG status = findKey(base, names, folder, id);
        if (status != ERROR_SUCCESS || !names.empty())
            return status == ERROR_SUCCESS ? removeKey(folder) : status;
        std::vector<Subkey> subkeys;
        KeyRecord record;
        status = listSubkeys(folder, subkeys);
        for (size_t i = 0; status == ERROR_SUCCESS && i < subkeys.size(); ++i)
            status = removeKey(subkeys[i].folder);
        if (status == ERROR_SUCCESS)
            status = loadLive(base, record);
        if (status != ERROR_SUCCESS || record.values.empty())
            return status;
        record.values.clear();
        return storeKey(folder, record);
    });
}

DWORD typeFlag(DWORD type)
{
    switch (type) {
    case REG_NONE:
        return RRF_RT_REG_NONE;
    case REG_SZ:
        return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ:
        return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY:
        return RRF_RT_REG_BINARY;
    case REG_DWORD:
        return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ:
        return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD:
        return RRF_RT_REG_QWORD;
    default:
        return 0;
    }
}

// String data as RegGetValue hands it out: ending in one terminator, a multi-string in two.
void terminate(DWORD type, std::vector<BYTE>& data)
{
    if (!isStringType(type))
        return;
    data.resize(data.size() & ~size_t(1));
    const size_t terminators = type == REG_MULTI_SZ ? 2 : 1;
    size_t present = 0;
    while (present < terminators && data.size() >= 2 * (present + 1) &&
           data[data.size() - 2 * (present + 1)] == 0 && data[data.size() - 2 * (present + 1) + 1] == 0)
        ++present;
    data.resize(data.size() + 2 * (terminators - present), 0);
}

// REG_EXPAND_SZ data with its environment variables expanded, as REG_SZ (up to its first NUL).
void expandStrings(Value& value)
{
    std::u16string text(value.data.size() / 2, u'\0');
    std::memcpy(text.data(), value.data.data(), text.size() * 2);
    text.resize(std::min(text.size(), text.find(u'\0')));
    std::u16string expanded;
    for (DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0); needed > expanded.size();) {
        expanded.assign(needed, u'\0'); // the environment may change between the calls
        needed = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(expanded.data());
    value.type = REG_SZ;
    value.data.assign(bytes, bytes + expanded.size() * 2); // the terminator included
}

LONG getValue(HKEY hKey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
              LPDWORD pcbData)
{
    const DWORD types = dwFlags & RRF_RT_ANY;
    if (types == 0 || (pvData && !pcbData) || (types == RRF_RT_REG_EXPAND_SZ && !(dwFlags & RRF_NOEXPAND)))
        return ERROR_INVALID_PARAMETER;
    HKEY key = hKey;
    if (lpSubKey && *lpSubKey) {
        LONG error = RegOpenKeyExW(hKey, lpSubKey, 0, KEY_QUERY_VALUE, &key);
        if (error != ERROR_SUCCESS)
            return error;
    }
    Value value;
    LONG error = queryValue(key, viewOf(lpValue), value);
    if (key != hKey)
        RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return error;
    if (value.type == REG_EXPAND_SZ && !(dwFlags & RRF_NOEXPAND))
        expandStrings(value);
    if (types != RRF_RT_ANY && (typeFlag(value.type) & types) == 0)
        return ERROR_UNSUPPORTED_TYPE;
    terminate(value.type, value.data);
    return copyOut(value.type, value.data, pdwType, static_cast<LPBYTE>(pvData), pcbData);
}

template <class Range, class Measure>
DWORD longest(const Range& range, Measure measure)
{
    size_t longest = 0;
    for (const auto& item : range)
        longest = std::max(longest, measure(item));
    return static_cast<DWORD>(longest);
}

void store(LPDWORD target, DWORD value)
{
    if (target)
        *target = value;
}

size_t wideLength(std::u16string_view name)
{
    return name.size();
}

std::u16string_view storedName(std::u16string_view name)
{
    return name;
}

const std::vector<BYTE>& storedData(const Value& value)
{
    return value.data;
}

} // namespace

bool isStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LONG copyOut(DWORD type, const std::vector<BYTE>& data, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpType)
        *lpType = type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(data.size());
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (lpData && size > 0)
        std::memcpy(lpData, data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG snapshotKey(HKEY hKey, REGSAM needed, KeySnapshot& snapshot)
{
    return withKey(hKey, needed, false, [&](const RegKey& key) -> LONG {
        LONG status = loadLive(key, snapshot.key);
        if (status == ERROR_SUCCESS)
            status = listSubkeys(key.folder, snapshot.subkeys);
        snapshot.lastWrite = lastWriteTime(key.folder);
        return status;
    });
}

LONG queryValue(HKEY hKey, std::u16string_view name, Value& value)
{
    return withRecord(hKey, KEY_QUERY_VALUE, false, [&](const RegKey&, KeyRecord& record) -> LONG {
        auto found = findValue(record.values, name);
        if (found == record.values.end())
            return ERROR_FILE_NOT_FOUND;
        value = std::move(*found);
        return ERROR_SUCCESS;
    });
}

LONG setValue(HKEY hKey, std::u16string_view name, DWORD type, const BYTE* data, size_t size)
{
    if (name.size() > kMaxValueNameLength || size > UINT32_MAX)
        return ERROR_INVALID_PARAMETER;
    return withRecord(hKey, KEY_SET_VALUE, true, [&](const RegKey& key, KeyRecord& record) -> LONG {
        auto found = findValue(record.values, name);
        if (found == record.values.end()) {
            record.values.push_back(Value{std::u16string(name), type, {}});
            found = std::prev(record.values.end());
        }
        found->type = type;
        found->data.assign(data, data + size);
        return storeKey(key.folder, record);
    });
}

LONG queryKeyInfo(HKEY hKey, NameLength nameLength, LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                  LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                  LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime)
{
    KeySnapshot snapshot;
    LONG error = snapshotKey(hKey, KEY_QUERY_VALUE, snapshot);
    if (error != ERROR_SUCCESS)
        return error;
    const auto& values = snapshot.key.values;
    store(lpcSubKeys, static_cast<DWORD>(snapshot.subkeys.size()));
    store(lpcbMaxSubKeyLen, longest(snapshot.subkeys, [&](const Subkey& key) { return nameLength(key.name); }));
    store(lpcbMaxClassLen, 0);
    store(lpcValues, static_cast<DWORD>(values.size()));
    store(lpcbMaxValueNameLen, longest(values, [&](const Value& value) { return nameLength(value.name); }));
    store(lpcbMaxValueLen, longest(values, [](const Value& value) { return value.data.size(); }));
    store(lpcbSecurityDescriptor, 0);
    if (lpftLastWriteTime)
        *lpftLastWriteTime = snapshot.lastWrite;
    return ERROR_SUCCESS;
}

} // namespace pal::reg

using namespace pal::reg;

extern "C" {

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return openKey(hKey, viewOf(lpSubKey), samDesired, phkResult);
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return createKey(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
}

LSTATUS RegCloseKey(HKEY hKey)
{
    if (predefinedKey(hKey))
        return ERROR_SUCCESS;
    if (!pal::lookup<RegKey>(hKey) || !pal::removeHandle(hKey))
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData)
{
    return queryValueAs(hKey, viewOf(lpValueName), lpReserved, lpType, lpData, lpcbData, storedData);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData > 0)
        return ERROR_NOACCESS;
    return setValue(hKey, viewOf(lpValueName), dwType, lpData, cbData);
}

LSTATUS RegGetValueW(HKEY hkey, LPCWSTR lpSubKey, LPCWSTR lpValue, DWORD dwFlags, LPDWORD pdwType, PVOID pvData,
                     LPDWORD pcbData)
{
    const DWORD capacity = pcbData ? *pcbData : 0;
    LONG error = getValue(hkey, lpSubKey, lpValue, dwFlags, pdwType, pvData, pcbData);
    if (error != ERROR_SUCCESS && (dwFlags & RRF_ZEROONFAILURE) && pvData)
        std::memset(pvData, 0, capacity);
    return error;
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
{
    return deleteValue(hKey, viewOf(lpValueName));
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    return lpSubKey ? deleteKey(hKey, lpSubKey) : ERROR_INVALID_PARAMETER;
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey)
{
    return deleteTree(hKey, viewOf(lpSubKey));
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    return enumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime, storedName);
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData, storedName,
                     storedData);
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime)
{
    return queryInfo(hKey, lpClass, lpcchClass, lpReserved, wideLength, lpcSubKeys, lpcbMaxSubKeyLen,
                     lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor,
                     lpftLastWriteTime);
}

LSTATUS RegFlushKey(HKEY hKey)
{
    return withKey(hKey, 0, false, [](const RegKey& key) -> LONG {
        LONG status = checkAlive(key);
        return status == ERROR_SUCCESS ? flushKey(key.folder) : status;
    });
}

} // extern "C"
