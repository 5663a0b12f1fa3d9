// libFuzzer target: a registry key file as it may lie on disk (written by hand or damaged), read
// header only and whole; a key that reads must write out and read back the same.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "registry/registry_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<BYTE> bytes(data, data + size);
    pal::reg::KeyRecord header;
    pal::reg::decodeKey(bytes, header, true);
    pal::reg::KeyRecord key;
    if (!pal::reg::decodeKey(bytes, key, false))
        return 0;
    pal::reg::KeyRecord again;
    if (!pal::reg::decodeKey(pal::reg::encodeKey(key), again, false) || again.id != key.id ||
        again.name != key.name || again.values.size() != key.values.size())
        std::abort();
    for (size_t i = 0; i < key.values.size(); i++)
        if (again.values[i].name != key.values[i].name || again.values[i].type != key.values[i].type ||
            again.values[i].data != key.values[i].data)
            std::abort();
    return 0;
}
