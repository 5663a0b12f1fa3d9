#include "DecodedValues.h"

#include <cstring>

const void* ClibAttributeValue(const DmlpAttributeEntry* entries, uint16_t count, uint16_t id)
{
    if (!entries)
        return nullptr;
    for (uint16_t i = 0; i < count; ++i)
        if (entries[i].id == id)
            return entries[i].length == 0 ? entries[i].value : nullptr;
    return nullptr;
}

const void* ClibFirstObjectValue(const DmlpGet2Result* reply, uint16_t id)
{
    if (reply->count == 0 || !reply->objects)
        return nullptr;
    return ClibAttributeValue(reply->objects[0].attributes, reply->objects[0].count, id);
}

bool ClibListHasElement(const void* value, uint16_t elementId)
{
    if (!value)
        return false;
    const auto* list = static_cast<const ClibMultiValue*>(value);
    for (uint16_t i = 0; list->elements && i < list->count; ++i) {
        uint16_t id;
        memcpy(&id, list->elements + i * CLIB_LIST_ELEMENT_BYTES, sizeof id);
        if (id == elementId)
            return true;
    }
    return false;
}
