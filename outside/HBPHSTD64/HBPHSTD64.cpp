// Stand-in for the print manager's client library HBPHSTD64.dll. Every entry takes one pointer to
// its parameter block and returns an int. It answers as HBPHSTD64.ini beside it says, read once at
// every call, and writes each call as one JSON line to journal.log beside it.
//
// HBPHSTD64.ini:
//   [PrintManager]  Level=N (0-2, default 2)      the interface level PrGetMonIfLevelD reports
//                   HeldJobs=ID,ID,...            jobs the print manager holds: the status 0x400
//                                                 is answered 1 for them
//                   Rename=TEXT                   start notices rewrite the document to TEXT
//   [ENTRY]         Result=N (default 0)          the result of that entry
//                   LastError=N                   the last error it leaves, when given
//                   Value=N, Value2=N             what PrGetExtInfoD and PrAttributeGetDA/DW hand back
//                   Text=TEXT                     what PrNeedSendNoticeMessageD and PrGetNoticeHostD
//                                                 write into their buffer, cut to its size
// The document buffer of a start notice holds 260 bytes: a rename is cut to 259.
// Built twice: HBPHSTD64 with every entry, and HBPHSTD64-legacy without the Ex entries.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include <windows.h>

#include "Journal.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr size_t kDocumentBytes = 260;
constexpr DWORD kPrintingStatus = 0x400;

std::string besideLibrary(const char* name)
{
    static const int anchor = 0;
    return journal::folderOf(&anchor) + "/" + name;
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? "" : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// HBPHSTD64.ini as it stands when a call starts, read once for the call. Section and key names
// compare without regard to case and the first of duplicates counts; ';' starts a comment line; a
// value in a pair of the same quote loses the pair.
class Settings {
public:
    Settings()
    {
        std::string name;
        std::istringstream lines(fileText());
        for (std::string line; std::getline(lines, line);)
            take(trimmed(line), name);
    }

    // Decimal with an optional sign; a missing or empty value gives fallback.
    int number(const char* section, const char* key, int fallback) const
    {
        std::string value = text(section, key);
        return value.empty() ? fallback : static_cast<int>(static_cast<DWORD>(strtoll(value.c_str(), nullptr, 10)));
    }

    std::string text(const char* section, const char* key) const
    {
        auto found = values_.find(lowered(section) + "\n" + lowered(key));
        return found == values_.end() ? "" : found->second;
    }

private:
    // Read as plain bytes: the file is the stand-in's own and needs no share record of an open.
    static std::string fileText()
    {
        std::ifstream file(besideLibrary("HBPHSTD64.ini"), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::replace(text.begin(), text.end(), '\r', '\n');
        return text;
    }

    void take(const std::string& line, std::string& section)
    {
        if (line.empty() || line[0] == ';')
            return;
        if (line[0] == '[') {
            section = lowered(trimmed(line.substr(1, line.find(']') - 1)));
            return;
        }
        const size_t equals = line.find('=');
        std::string value = equals == std::string::npos ? "" : trimmed(line.substr(equals + 1));
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        values_.emplace(section + "\n" + lowered(trimmed(line.substr(0, equals))), value);
    }

    std::map<std::string, std::string> values_;
};

bool jobHeld(const Settings& settings, DWORD jobId)
{
    std::string held = settings.text("PrintManager", "HeldJobs");
    for (const char* p = held.c_str(); *p;) {
        char* end = nullptr;
        unsigned long id = strtoul(p, &end, 10);
        if (end == p)
            break;
        if (id == jobId)
            return true;
        p = *end ? end + 1 : end;
    }
    return false;
}

// The configured result of entry.
int answer(const Settings& settings, const char* entry)
{
    return settings.number(entry, "Result", 0);
}

template <class T>
T field(const void* block, size_t offset)
{
    T value;
    memcpy(&value, static_cast<const BYTE*>(block) + offset, sizeof value);
    return value;
}

// Journals the call and leaves the entry's configured last error, if any.
void record(const Settings& settings, journal::Line& line, const char* entry, int result)
{
    journal::append(besideLibrary("journal.log"), line.number("result", result).str());
    int error = settings.number(entry, "LastError", -1);
    if (error >= 0)
        SetLastError(static_cast<DWORD>(error));
}

// Cut to the buffer without splitting a double-byte character.
void rename(const Settings& settings, char* document)
{
    std::string name = settings.text("PrintManager", "Rename");
    if (name.empty() || !document)
        return;
    size_t length = 0;
    while (length < name.size()) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(name[length])) ? 2 : 1;
        if (length + step > kDocumentBytes - 1)
            break;
        length += step;
    }
    memcpy(document, name.data(), length);
    document[length] = 0;
}

#ifndef HBPHSTD_LEGACY
// The extended information as a JSON array of its DWORDs.
std::string extValues(const BYTE* info, DWORD size)
{
    std::string values = "[";
    for (DWORD offset = 0; info && offset + 4 <= size; offset += 4) {
        DWORD value;
        memcpy(&value, info + offset, 4);
        values += (offset ? "," : "") + std::to_string(value);
    }
    return values + "]";
}
#endif

std::string noticeJson(const BYTE* notice)
{
    if (!notice)
        return "null";
    journal::Line line;
    line.number("msgNo", field<WORD>(notice, 0)).number("msgType", field<WORD>(notice, 2));
    line.text("sender", field<LPCSTR>(notice, 8));
    return line.str();
}

int statusAnswer(const Settings& settings, const char* entry, DWORD jobId, DWORD status)
{
    int result = answer(settings, entry);
    return (status & kPrintingStatus) && jobHeld(settings, jobId) ? 1 : result;
}

#ifndef HBPHSTD_LEGACY
HANDLE newNoticeHandle()
{
    auto* handle = static_cast<DWORD*>(LocalAlloc(LPTR, 3 * sizeof(DWORD)));
    if (handle) {
        handle[0] = 2;
        handle[1] = 1;
        handle[2] = static_cast<DWORD>(-1);
    }
    return handle;
}
#endif

} // namespace

STANDIN_EXPORT int PrGetMonIfLevelD(void* block)
{
    const Settings settings;
    int level = settings.number("PrintManager", "Level", 2);
    DWORD* out = field<DWORD*>(block, 0);
    if (out)
        *out = static_cast<DWORD>(level);
    journal::Line line;
    line.utf8("entry", "PrGetMonIfLevelD").number("level", level);
    int result = answer(settings, "PrGetMonIfLevelD");
    record(settings, line, "PrGetMonIfLevelD", result);
    return result;
}

STANDIN_EXPORT int PrStatusNoticeStartD(void* block)
{
    const Settings settings;
    journal::Line line;
    line.utf8("entry", "PrStatusNoticeStartD").hex("block", block, 32);
    line.text("printer", field<LPCSTR>(block, 8)).text("document", field<LPCSTR>(block, 16));
    line.number("job", field<DWORD>(block, 24)).number("fields", field<DWORD>(block, 28));
    int result = answer(settings, "PrStatusNoticeStartD");
    if (result == 0)
        rename(settings, field<char*>(block, 16));
    record(settings, line.text("renamed", field<LPCSTR>(block, 16)), "PrStatusNoticeStartD", result);
    return result;
}

STANDIN_EXPORT int PrStatusSendD(void* block)
{
    const Settings settings;
    const DWORD jobId = field<DWORD>(block, 16);
    const DWORD status = field<DWORD>(block, 20);
    journal::Line line;
    line.utf8("entry", "PrStatusSendD").hex("block", block, 48);
    line.text("printer", field<LPCSTR>(block, 8)).number("job", jobId).number("status", status);
    line.json("notice", noticeJson(field<const BYTE*>(block, 24))).text("text", field<LPCSTR>(block, 32));
    int result = statusAnswer(settings, "PrStatusSendD", jobId, status);
    record(settings, line, "PrStatusSendD", result);
    return result;
}

STANDIN_EXPORT int PrStatusNoticeEndD(void* block)
{
    const Settings settings;
    journal::Line line;
    line.utf8("entry", "PrStatusNoticeEndD").hex("block", block, 20);
    line.text("printer", field<LPCSTR>(block, 8)).number("job", field<DWORD>(block, 16));
    int result = answer(settings, "PrStatusNoticeEndD");
    record(settings, line, "PrStatusNoticeEndD", result);
    return result;
}

#ifndef HBPHSTD_LEGACY
STANDIN_EXPORT int PrStatusNoticeStartExD(void* block)
{
    const Settings settings;
    const DWORD* jobId = field<const DWORD*>(block, 16);
    const DWORD* fields = field<const DWORD*>(block, 24);
    HANDLE* handle = field<HANDLE*>(block, 32);
    journal::Line line;
    line.utf8("entry", "PrStatusNoticeStartExD").hex("block", block, 40);
    line.text("printer", field<LPCSTR>(block, 0)).text("document", field<LPCSTR>(block, 8));
    line.number("job", jobId ? *jobId : 0).number("fields", fields ? *fields : 0);
    int result = answer(settings, "PrStatusNoticeStartExD");
    if (result == 0) {
        rename(settings, field<char*>(block, 8));
        if (handle)
            *handle = newNoticeHandle();
    }
    record(settings, line.text("renamed", field<LPCSTR>(block, 8)), "PrStatusNoticeStartExD", result);
    return result;
}

STANDIN_EXPORT int PrStatusSendExD(void* block)
{
    const Settings settings;
    const DWORD jobId = field<DWORD>(block, 16);
    const DWORD status = field<DWORD>(block, 20);
    const DWORD extSize = field<DWORD>(block, 40);
    journal::Line line;
    line.utf8("entry", "PrStatusSendExD").hex("block", block, 72);
    line.text("printer", field<LPCSTR>(block, 8)).number("job", jobId).number("status", status);
    line.number("extCount", field<DWORD>(block, 24)).number("extSize", extSize);
    line.json("ext", extValues(field<const BYTE*>(block, 32), extSize));
    line.json("notice", noticeJson(field<const BYTE*>(block, 48))).text("text", field<LPCSTR>(block, 56));
    int result = statusAnswer(settings, "PrStatusSendExD", jobId, status);
    record(settings, line, "PrStatusSendExD", result);
    return result;
}
#endif

namespace {

// [ENTRY] Value=N: what an entry hands back in its out fields.
DWORD valueSetting(const Settings& settings, const char* entry, const char* key = "Value")
{
    return static_cast<DWORD>(settings.number(entry, key, 0));
}

bool allZero(const BYTE* bytes, DWORD size)
{
    for (DWORD i = 0; bytes && i < size; ++i)
        if (bytes[i])
            return false;
    return true;
}

// Entries with a DWORD at 8 and an output buffer: [ENTRY] Text=TEXT is written into it, cut to its
// size. The journal tells whether the buffer arrived cleared.
int outputBufferEntry(const char* entry, void* block, size_t blockBytes, size_t bufferOffset)
{
    const Settings settings;
    char* buffer = field<char*>(block, bufferOffset);
    const DWORD size = field<DWORD>(block, bufferOffset + 8);
    journal::Line line;
    line.utf8("entry", entry).hex("block", block, blockBytes).number("value", field<DWORD>(block, 8));
    line.number("size", size).number("cleared", allZero(reinterpret_cast<const BYTE*>(buffer), size));
    int result = answer(settings, entry);
    if (result == 0 && buffer && size > 0) {
        std::string text = settings.text(entry, "Text");
        size_t length = std::min<size_t>(text.size(), size - 1);
        memcpy(buffer, text.data(), length);
        buffer[length] = 0;
    }
    record(settings, line, entry, result);
    return result;
}

std::string tagOf(const void* block)
{
    return std::string(static_cast<const char*>(block) + 8, 4);
}

// The extended information's data as hex: the DWORD at 40 tells its size.
journal::Line extInfoLine(const char* entry, const void* block)
{
    const DWORD size = field<DWORD>(block, 40);
    journal::Line line;
    line.utf8("entry", entry).hex("block", block, 56).utf8("tag", tagOf(block));
    line.number("value", field<DWORD>(block, 12)).number("size", size);
    return line;
}

// The attribute entries take the name at 0 and answer [ENTRY] Value=N at 8.
int attributeEntry(const char* entry, void* block, const std::string& name)
{
    const Settings settings;
    journal::Line line;
    line.utf8("entry", entry).hex("block", block, 16).utf8("name", name);
    int result = answer(settings, entry);
    DWORD value = valueSetting(settings, entry);
    if (result == 0)
        memcpy(static_cast<BYTE*>(block) + 8, &value, sizeof value);
    record(settings, line, entry, result);
    return result;
}

} // namespace

STANDIN_EXPORT int PrNeedSendNoticeMessageD(void* block)
{
    return outputBufferEntry("PrNeedSendNoticeMessageD", block, 64, 40);
}

STANDIN_EXPORT int PrGetNoticeHostD(void* block)
{
    return outputBufferEntry("PrGetNoticeHostD", block, 56, 32);
}

STANDIN_EXPORT int PrSetExtInfoD(void* block)
{
    const Settings settings;
    journal::Line line = extInfoLine("PrSetExtInfoD", block);
    line.hex("data", field<const void*>(block, 32), field<const void*>(block, 32) ? field<DWORD>(block, 40) : 0);
    int result = answer(settings, "PrSetExtInfoD");
    record(settings, line, "PrSetExtInfoD", result);
    return result;
}

// "GEID" fills its 8-byte buffer with [PrGetExtInfoD] Value and Value2; "GETE" and "GETJ" answer
// Value at 44 on result 0 or -7.
STANDIN_EXPORT int PrGetExtInfoD(void* block)
{
    const Settings settings;
    journal::Line line = extInfoLine("PrGetExtInfoD", block);
    int result = answer(settings, "PrGetExtInfoD");
    BYTE* buffer = field<BYTE*>(block, 32);
    DWORD value = valueSetting(settings, "PrGetExtInfoD");
    if (tagOf(block) == "GEID") {
        DWORD ids[2] = {value, valueSetting(settings, "PrGetExtInfoD", "Value2")};
        if (result == 0 && buffer && field<DWORD>(block, 40) >= sizeof ids)
            memcpy(buffer, ids, sizeof ids);
    } else if (result == 0 || result == -7) {
        memcpy(static_cast<BYTE*>(block) + 44, &value, sizeof value);
    }
    record(settings, line, "PrGetExtInfoD", result);
    return result;
}

STANDIN_EXPORT int PrAttributeGetDA(void* block)
{
    LPCSTR name = field<LPCSTR>(block, 0);
    return attributeEntry("PrAttributeGetDA", block, name ? journal::utf8FromAnsi(name) : "");
}

STANDIN_EXPORT int PrAttributeGetDW(void* block)
{
    LPCWSTR name = field<LPCWSTR>(block, 0);
    char utf8[1024] = {};
    if (name)
        WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr);
    return attributeEntry("PrAttributeGetDW", block, utf8);
}
