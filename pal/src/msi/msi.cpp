// Installer sessions and records behind one table of 32-bit handles.
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "pal/dialogs.h"
#include "pal/msi.h"

namespace pal::msi {
namespace {

constexpr UINT kMaxFields = 65535;

struct Object {
    virtual ~Object() = default;
};

struct Session : Object {
    PAL_MSI_ANSWER answer = PAL_MSI_ANSWER_NONE;
    PAL_MSI_MESSAGE_SINK sink = nullptr;
    void* context = nullptr;
    std::mutex mutex;
    std::map<std::u16string, std::u16string> properties; // names are case-sensitive
};

struct Record : Object {
    std::mutex mutex;
    std::vector<std::u16string> fields;
};

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<MSIHANDLE, std::shared_ptr<Object>> objects;
    MSIHANDLE next = 1;
};

HandleTable& table()
{
    static HandleTable* handles = new HandleTable;
    return *handles;
}

MSIHANDLE insert(std::shared_ptr<Object> object)
{
    HandleTable& handles = table();
    std::lock_guard<std::mutex> lock(handles.mutex);
    while (handles.next == 0 || handles.objects.count(handles.next))
        ++handles.next;
    MSIHANDLE handle = handles.next++;
    handles.objects.emplace(handle, std::move(object));
    return handle;
}

template <class T>
std::shared_ptr<T> lookup(MSIHANDLE handle)
{
    HandleTable& handles = table();
    std::lock_guard<std::mutex> lock(handles.mutex);
    auto it = handles.objects.find(handle);
    return it == handles.objects.end() ? nullptr : std::dynamic_pointer_cast<T>(it->second);
}

// Copies text out as the Msi*Get* calls do.
UINT copyOut(const std::u16string& text, LPWSTR buffer, LPDWORD count)
{
    if (!count)
        return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD room = *count;
    *count = DWORD(text.size());
    if (!buffer)
        return ERROR_SUCCESS;
    if (room == 0)
        return ERROR_MORE_DATA;
    size_t copied = std::min<size_t>(text.size(), room - 1);
    text.copy(buffer, copied);
    buffer[copied] = 0;
    return copied < text.size() ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

// The answer of the policy for a message's buttons.
int answerFor(PAL_MSI_ANSWER answer, INSTALLMESSAGE type)
{
    if (answer == PAL_MSI_ANSWER_NONE)
        return 0;
    bool yes = answer == PAL_MSI_ANSWER_YES;
    switch (UINT(type) & 0xF) {
    case MB_OK:
        return IDOK;
    case MB_OKCANCEL:
        return yes ? IDOK : IDCANCEL;
    case MB_YESNOCANCEL:
    case MB_YESNO:
        return yes ? IDYES : IDNO;
    default:
        return 0;
    }
}

} // namespace
} // namespace pal::msi

using namespace pal::msi;

extern "C" {

UINT MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, LPDWORD pcchValueBuf)
{
    auto session = lookup<Session>(hInstall);
    if (!session)
        return ERROR_INVALID_HANDLE;
    if (!szName)
        return ERROR_INVALID_PARAMETER;
    std::u16string value;
    {
        std::lock_guard<std::mutex> lock(session->mutex);
        auto it = session->properties.find(szName);
        if (it != session->properties.end())
            value = it->second;
    }
    return copyOut(value, szValueBuf, pcchValueBuf);
}

UINT MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue)
{
    auto session = lookup<Session>(hInstall);
    if (!session)
        return ERROR_INVALID_HANDLE;
    if (!szName || !szName[0])
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(session->mutex);
    if (!szValue || !szValue[0])
        session->properties.erase(szName);
    else
        session->properties[szName] = szValue;
    return ERROR_SUCCESS;
}

MSIHANDLE MsiCreateRecord(UINT cParams)
{
    if (cParams > kMaxFields)
        return 0;
    auto record = std::make_shared<Record>();
    record->fields.resize(size_t(cParams) + 1);
    return insert(std::move(record));
}

UINT MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue)
{
    auto record = lookup<Record>(hRecord);
    if (!record)
        return ERROR_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(record->mutex);
    if (iField >= record->fields.size())
        return ERROR_INVALID_PARAMETER;
    record->fields[iField] = szValue ? szValue : u"";
    return ERROR_SUCCESS;
}

UINT MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, LPDWORD pcchValueBuf)
{
    auto record = lookup<Record>(hRecord);
    if (!record)
        return ERROR_INVALID_HANDLE;
    std::u16string value;
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        if (iField < record->fields.size())
            value = record->fields[iField]; // a field past the end reads "", as on Windows
    }
    return copyOut(value, szValueBuf, pcchValueBuf);
}

UINT MsiRecordGetFieldCount(MSIHANDLE hRecord)
{
    auto record = lookup<Record>(hRecord);
    if (!record)
        return UINT(-1);
    std::lock_guard<std::mutex> lock(record->mutex);
    return UINT(record->fields.size() - 1);
}

int MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord)
{
    auto session = lookup<Session>(hInstall);
    auto record = lookup<Record>(hRecord);
    if (!session || !record)
        return -1;
    std::u16string text;
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        text = record->fields[0];
    }
    UINT kind = UINT(eMessageType) & INSTALLMESSAGE_TYPEMASK;
    bool asks = kind == UINT(INSTALLMESSAGE_WARNING) || kind == UINT(INSTALLMESSAGE_ERROR);
    int answer = asks ? answerFor(session->answer, eMessageType) : 0;
    if (session->sink)
        session->sink(session->context, eMessageType, text.c_str(), answer);
    return answer;
}

UINT MsiCloseHandle(MSIHANDLE hAny)
{
    if (hAny == 0)
        return ERROR_SUCCESS;
    std::shared_ptr<Object> object; // released outside the table's lock
    HandleTable& handles = table();
    std::lock_guard<std::mutex> lock(handles.mutex);
    auto it = handles.objects.find(hAny);
    if (it == handles.objects.end())
        return ERROR_INVALID_HANDLE;
    object = std::move(it->second);
    handles.objects.erase(it);
    return ERROR_SUCCESS;
}

MSIHANDLE palMsiCreateSession(PAL_MSI_ANSWER answer, PAL_MSI_MESSAGE_SINK sink, void* context)
{
    auto session = std::make_shared<Session>();
    session->answer = answer;
    session->sink = sink;
    session->context = context;
    return insert(std::move(session));
}

} // extern "C"
