// The registry's files below the platform root (layout and file format: top of registry.cpp).
// Every function returns a Windows error code; callers hold a StoreLock around each operation.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pal/types.h"

namespace pal::reg {

struct Value {
    std::u16string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

// The contents of one key file. A top key's id is 0; every other key gets a random id when it is
// created, so that a handle can tell its key from a later key of the same name.
struct KeyRecord {
    uint64_t id = 0;
    std::u16string name;
    std::vector<Value> values;
};

struct Subkey {
    std::u16string name;
    std::string folder;
};

std::vector<BYTE> encodeKey(const KeyRecord& key);
// False when the bytes are not a whole, well-formed key file. With headerOnly only id and name
// are read, and what follows them is not checked.
bool decodeKey(const std::vector<BYTE>& bytes, KeyRecord& key, bool headerOnly);

// ERROR_FILE_NOT_FOUND when there is no key at the folder.
LONG loadKey(const std::string& folder, KeyRecord& key);
LONG loadKeyHeader(const std::string& folder, KeyRecord& key);
// Replaces the key file atomically (temporary file, then rename).
LONG storeKey(const std::string& folder, const KeyRecord& key);
// Creates the key `name` below parentFolder in one step (a prepared folder renamed into place).
LONG makeKey(const std::string& parentFolder, std::u16string_view name, std::string& folder, uint64_t& id);
// Removes the key with everything below it; the key is gone once its key file is unlinked.
LONG removeKey(const std::string& folder);
// Subkeys in the order of their upper-cased names.
LONG listSubkeys(const std::string& folder, std::vector<Subkey>& subkeys);
std::string childFolder(const std::string& folder, std::u16string_view name);
FILETIME lastWriteTime(const std::string& folder);
// Makes the key file and its folder entry durable.
LONG flushKey(const std::string& folder);

// The one registry lock of a platform root, shared by every process and thread (flock on a lock
// file opened per operation): shared for reads, exclusive for writes.
class StoreLock {
public:
    StoreLock(const std::string& registryFolder, bool exclusive);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    LONG status() const { return status_; }

private:
    int fd_ = -1;
    LONG status_ = 0;
};

} // namespace pal::reg
