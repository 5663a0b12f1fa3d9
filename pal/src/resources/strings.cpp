// String resources of a module: its exported PAL_RESOURCES record, found by module handle.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "pal/files.h"
#include "pal/resources.h"
#include "resources/resource_lookup.h"
#include "text/text_ansi.h"

namespace pal {

const PAL_STRING_RESOURCE* findString(HINSTANCE module, UINT id)
{
    const PAL_RESOURCES* resources = palModuleResources(module);
    if (!resources)
        return nullptr;
    for (UINT i = 0; i < resources->stringCount; ++i)
        if (resources->strings[i].id == id && resources->strings[i].text)
            return &resources->strings[i];
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

const PAL_DIALOG_TEMPLATE* findDialog(HINSTANCE module, UINT id)
{
    const PAL_RESOURCES* resources = palModuleResources(module);
    if (!resources)
        return nullptr;
    for (UINT i = 0; i < resources->dialogCount; ++i)
        if (resources->dialogs[i].id == id)
            return &resources->dialogs[i];
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

} // namespace pal

using namespace pal;

namespace {

// The text of a string resource, or an empty view with the last error set.
std::u16string_view stringText(HINSTANCE module, UINT id)
{
    const PAL_STRING_RESOURCE* entry = findString(module, id);
    if (!entry)
        return {};
    std::u16string_view text(entry->text);
    if (text.empty())
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return text;
}

} // namespace

extern "C" {

const PAL_RESOURCES* palModuleResources(HINSTANCE hInstance)
{
    FARPROC symbol = GetProcAddress(hInstance, PAL_RESOURCES_EXPORT);
    if (!symbol) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<const PAL_RESOURCES*>(reinterpret_cast<void*>(symbol));
}

int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string_view text = stringText(hInstance, uID);
    if (text.empty())
        return 0;
    if (cchBufferMax == 0) {
        *reinterpret_cast<LPCWSTR*>(lpBuffer) = text.data();
        return static_cast<int>(text.size());
    }
    size_t kept = std::min(text.size(), static_cast<size_t>(cchBufferMax - 1));
    text.copy(lpBuffer, kept);
    lpBuffer[kept] = u'\0';
    return static_cast<int>(kept);
}

int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    if (!lpBuffer || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = '\0';
    std::u16string_view text = stringText(hInstance, uID);
    if (text.empty())
        return 0;
    std::string ansi = ansiFromWide(text);
    size_t kept = ansiPrefix(ansi, static_cast<size_t>(cchBufferMax - 1));
    memcpy(lpBuffer, ansi.data(), kept);
    lpBuffer[kept] = '\0';
    return static_cast<int>(kept);
}

} // extern "C"
