// Registry operations on key handles, shared by the wide and the ANSI API functions.
#pragma once

#include <algorithm>
#include <string_view>
#include <vector>

#include "pal/registry.h"
#include "registry/registry_store.h"

namespace pal::reg {

// A key's values and subkeys as they were at one moment.
struct KeySnapshot {
    KeyRecord key;
    std::vector<Subkey> subkeys;
    FILETIME lastWrite{};
};

// `needed` is the access the handle must have been opened with.
LONG snapshotKey(HKEY key, REGSAM needed, KeySnapshot& snapshot);
// The stored value, its stored name included.
LONG queryValue(HKEY key, std::u16string_view name, Value& value);
LONG setValue(HKEY key, std::u16string_view name, DWORD type, const BYTE* data, size_t size);

// Counts, longest names (measured by nameLength, without terminator), longest data and last write
// time of a key, each stored when its pointer is given.
using NameLength = size_t (*)(std::u16string_view name);
LONG queryKeyInfo(HKEY key, NameLength nameLength, LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                  LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                  LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime);

bool isStringType(DWORD type);
// Hands data out the way RegQueryValueEx does: size only, ERROR_MORE_DATA with the needed size, or
// the bytes.
LONG copyOut(DWORD type, const std::vector<BYTE>& data, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Hands a name out the way RegEnumKeyEx does; `capacity` counts the terminator.
template <class Char>
LONG copyName(std::basic_string_view<Char> name, Char* buffer, LPDWORD capacity)
{
    if (!buffer || !capacity)
        return ERROR_INVALID_PARAMETER;
    if (name.size() + 1 > *capacity)
        return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = 0;
    *capacity = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// RegQueryValueEx for either character width; dataOf gives the value's data in the caller's form.
template <class DataOf>
LONG queryValueAs(HKEY hKey, std::u16string_view name, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                  LPDWORD lpcbData, DataOf dataOf)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    Value value;
    LONG error = queryValue(hKey, name, value);
    return error != ERROR_SUCCESS ? error : copyOut(value.type, dataOf(value), lpType, lpData, lpcbData);
}

// Keys have no class: an empty one is handed out.
template <class Char>
void copyEmptyClass(Char* buffer, LPDWORD capacity)
{
    if (!capacity)
        return;
    if (buffer && *capacity > 0)
        buffer[0] = 0;
    *capacity = 0;
}

// RegEnumKeyEx for either character width; nameOf gives a stored name in the caller's form.
template <class Char, class NameOf>
LONG enumKey(HKEY hKey, DWORD index, Char* name, LPDWORD capacity, LPDWORD reserved, Char* keyClass,
             LPDWORD classCapacity, PFILETIME lastWrite, NameOf nameOf)
{
    if (reserved || !name || !capacity)
        return ERROR_INVALID_PARAMETER;
    KeySnapshot snapshot;
    LONG error = snapshotKey(hKey, KEY_ENUMERATE_SUB_KEYS, snapshot);
    if (error != ERROR_SUCCESS)
        return error;
    if (index >= snapshot.subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const Subkey& subkey = snapshot.subkeys[index];
    error = copyName<Char>(nameOf(subkey.name), name, capacity);
    if (error != ERROR_SUCCESS)
        return error;
    copyEmptyClass(keyClass, classCapacity);
    if (lastWrite)
        *lastWrite = lastWriteTime(subkey.folder);
    return ERROR_SUCCESS;
}

// RegEnumValue for either character width.
template <class Char, class NameOf, class DataOf>
LONG enumValue(HKEY hKey, DWORD index, Char* name, LPDWORD capacity, LPDWORD reserved, LPDWORD type, LPBYTE data,
               LPDWORD size, NameOf nameOf, DataOf dataOf)
{
    if (reserved || !name || !capacity || (data && !size))
        return ERROR_INVALID_PARAMETER;
    KeySnapshot snapshot;
    LONG error = snapshotKey(hKey, KEY_QUERY_VALUE, snapshot);
    if (error != ERROR_SUCCESS)
        return error;
    if (index >= snapshot.key.values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value& value = snapshot.key.values[index];
    error = copyName<Char>(nameOf(value.name), name, capacity);
    return error != ERROR_SUCCESS ? error : copyOut(value.type, dataOf(value), type, data, size);
}

// RegQueryInfoKey for either character width.
template <class Char>
LONG queryInfo(HKEY hKey, Char* keyClass, LPDWORD classCapacity, LPDWORD reserved, NameLength nameLength,
               LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
               LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
               PFILETIME lpftLastWriteTime)
{
    if (reserved || (keyClass && !classCapacity))
        return ERROR_INVALID_PARAMETER;
    LONG error = queryKeyInfo(hKey, nameLength, lpcSubKeys, lpcbMaxSubKeyLen, lpcbMaxClassLen, lpcValues,
                              lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor, lpftLastWriteTime);
    if (error == ERROR_SUCCESS)
        copyEmptyClass(keyClass, classCapacity);
    return error;
}

} // namespace pal::reg
