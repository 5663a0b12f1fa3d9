// pal-reg: query, add and delete registry keys and values of a platform root, like reg.exe.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <strings.h>

#include <windows.h>

#include "common/ToolSupport.h"

namespace {

using tool::kExitFailure;
using tool::narrow;
using tool::widen;

const char kUsage[] =
    "Usage: pal-reg query KEY [VALUE] [/v NAME | /ve] [/s]\n"
    "       pal-reg add KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "       pal-reg delete KEY [/v NAME | /ve] [/f]\n"
    "\n"
    "Queries, adds and deletes registry keys and values of the platform root (PAL_ROOT).\n"
    "\n"
    "  KEY            ROOT\\path\\to\\key, ROOT one of HKLM, HKCU, HKCR, HKU (or HKEY_LOCAL_MACHINE, ...)\n"
    "  /v, --value NAME      the value to query, add or delete\n"
    "  /ve, --default-value  the key's default (unnamed) value\n"
    "  /t, --type TYPE       REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "                        REG_BINARY or REG_NONE\n"
    "  /d, --data DATA       REG_DWORD/REG_QWORD: decimal or 0x-hex; REG_BINARY/REG_NONE: hex digits;\n"
    "                        REG_MULTI_SZ: strings separated by \\0\n"
    "  /s, --recursive       query: list every key below KEY with its values\n"
    "  /f, --force           delete: delete KEY with all its subkeys; add: accepted (never asks)\n"
    "  --root DIR            the platform root (default: $PAL_ROOT)\n"
    "  --help                show this help\n"
    "\n"
    "Exit status: 0 success, 1 the operation failed, 2 wrong usage.\n";

struct Options {
    std::string operation;
    std::string key;
    std::optional<std::string> value; // "" is the default value
    std::optional<std::string> type;
    std::optional<std::string> data;
    bool force = false;
    bool recursive = false;
    std::string root;
};

struct UsageError {
    std::string message;
};

bool equalsIgnoringCase(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

// ---- Command line

std::string takeArgument(int argc, char** argv, int& i)
{
    if (i + 1 >= argc)
        throw UsageError{std::string(argv[i]) + " needs an argument"};
    return argv[++i];
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (equalsIgnoringCase(arg, "/v") || arg == "--value")
            options.value = takeArgument(argc, argv, i);
        else if (equalsIgnoringCase(arg, "/ve") || arg == "--default-value")
            options.value = "";
        else if (equalsIgnoringCase(arg, "/t") || arg == "--type")
            options.type = takeArgument(argc, argv, i);
        else if (equalsIgnoringCase(arg, "/d") || arg == "--data")
            options.data = takeArgument(argc, argv, i);
        else if (equalsIgnoringCase(arg, "/f") || arg == "--force")
            options.force = true;
        else if (equalsIgnoringCase(arg, "/s") || arg == "--recursive")
            options.recursive = true;
        else if (arg == "--root")
            options.root = takeArgument(argc, argv, i);
        else if (arg.size() > 1 && (arg[0] == '/' || arg[0] == '-'))
            throw UsageError{"unknown option " + arg};
        else
            positional.push_back(arg);
    }
    if (positional.size() < 2)
        throw UsageError{"an operation and a KEY are needed"};
    options.operation = positional[0];
    options.key = positional[1];
    const bool query = options.operation == "query";
    if (!query && options.operation != "add" && options.operation != "delete")
        throw UsageError{"unknown operation " + options.operation};
    if (positional.size() > (query ? 3u : 2u))
        throw UsageError{"too many arguments"};
    if (positional.size() == 3) {
        if (options.value)
            throw UsageError{"the value is named twice"};
        options.value = positional[2];
    }
    if ((options.type || options.data) && (options.operation != "add" || !options.value))
        throw UsageError{"/t and /d go with add and /v NAME or /ve"};
    return options;
}

// ---- Keys

struct KeyPath {
    HKEY root;
    std::string rootName; // the full name, e.g. HKEY_LOCAL_MACHINE
    std::u16string path;  // below the root, without leading or trailing backslash
};

KeyPath parseKey(const std::string& key)
{
    static const struct {
        const char* shortName;
        const char* longName;
        HKEY handle;
    } roots[] = {
        {"HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {"HKU", "HKEY_USERS", HKEY_USERS},
    };
    const size_t separator = key.find('\\');
    const std::string rootName = key.substr(0, separator);
    std::string path = separator == std::string::npos ? std::string() : key.substr(separator + 1);
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    for (const auto& root : roots)
        if (equalsIgnoringCase(rootName, root.shortName) || equalsIgnoringCase(rootName, root.longName))
            return KeyPath{root.handle, root.longName, widen(path)};
    throw UsageError{"unknown root key " + rootName + " (HKLM, HKCU, HKCR or HKU)"};
}

std::string fullName(const KeyPath& key)
{
    return key.path.empty() ? key.rootName : key.rootName + "\\" + narrow(key.path);
}

int reportFailure(LONG error, const char* what)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        std::fprintf(stderr, "ERROR: The system was unable to find the specified registry key or value.\n");
        break;
    case ERROR_ACCESS_DENIED:
        std::fprintf(stderr, "ERROR: Access is denied (%s).\n", what);
        break;
    default:
        std::fprintf(stderr, "ERROR: %s failed with error %ld.\n", what, static_cast<long>(error));
        break;
    }
    return kExitFailure;
}

// ---- Value data

const char* typeName(DWORD type)
{
    switch (type) {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
        return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK:
        return "REG_LINK";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    default:
        return nullptr;
    }
}

std::string hexBytes(const std::vector<BYTE>& data)
{
    std::string out;
    char digits[3];
    for (BYTE byte : data) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        out += digits;
    }
    return out;
}

std::u16string unitsOf(const std::vector<BYTE>& data)
{
    std::u16string units(data.size() / 2, u'\0');
    std::copy_n(data.begin(), units.size() * 2, reinterpret_cast<BYTE*>(units.data()));
    return units;
}

std::string formatData(DWORD type, const std::vector<BYTE>& data)
{
    char number[32];
    if (type == REG_DWORD && data.size() == 4) {
        DWORD value;
        std::memcpy(&value, data.data(), 4);
        std::snprintf(number, sizeof number, "0x%x", value);
        return number;
    }
    if (type == REG_QWORD && data.size() == 8) {
        ULONGLONG value;
        std::memcpy(&value, data.data(), 8);
        std::snprintf(number, sizeof number, "0x%llx", static_cast<unsigned long long>(value));
        return number;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::u16string text = unitsOf(data);
        return narrow(text.substr(0, text.find(u'\0')));
    }
    if (type == REG_MULTI_SZ) {
        std::u16string text = unitsOf(data);
        while (!text.empty() && text.back() == u'\0')
            text.pop_back();
        std::string out;
        for (size_t start = 0, end = 0; end != std::u16string::npos; start = end + 1) {
            end = text.find(u'\0', start);
            out += (start ? "\\0" : "") + narrow(std::u16string_view(text).substr(start, end - start));
        }
        return out;
    }
    return hexBytes(data);
}

std::vector<BYTE> bytesOf(const std::u16string& units)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(units.data());
    return std::vector<BYTE>(bytes, bytes + units.size() * 2);
}

ULONGLONG parseNumber(const std::string& text, ULONGLONG maximum, const char* type)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = text.c_str() + (hex ? 2 : 0);
    char* end = nullptr;
    errno = 0;
    ULONGLONG value = std::strtoull(digits, &end, hex ? 16 : 10);
    if (text.empty() || *digits == '-' || *digits == '+' || *end != '\0' || errno == ERANGE || value > maximum)
        throw UsageError{"invalid " + std::string(type) + " data '" + text + "'"};
    return value;
}

std::vector<BYTE> parseHex(const std::string& text, const char* type)
{
    if (text.size() % 2 != 0 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw UsageError{"invalid " + std::string(type) + " data '" + text + "' (pairs of hex digits)"};
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<BYTE> encodeData(DWORD type, const std::string& text)
{
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return bytesOf(widen(text) + u'\0');
    case REG_MULTI_SZ: {
        std::u16string units;
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find("\\0", start);
            units += widen(text.substr(start, end == std::string::npos ? end : end - start)) + u'\0';
            start = end == std::string::npos ? text.size() : end + 2;
        }
        return bytesOf(units + u'\0');
    }
    case REG_DWORD: {
        auto value = static_cast<DWORD>(parseNumber(text.empty() ? "0" : text, 0xFFFFFFFFull, "REG_DWORD"));
        return std::vector<BYTE>(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 4);
    }
    case REG_QWORD: {
        ULONGLONG value = parseNumber(text.empty() ? "0" : text, ~0ull, "REG_QWORD");
        return std::vector<BYTE>(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + 8);
    }
    default:
        return parseHex(text, typeName(type));
    }
}

DWORD parseType(const std::string& name)
{
    for (DWORD type : {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE})
        if (equalsIgnoringCase(name, typeName(type)))
            return type;
    throw UsageError{"unknown type " + name};
}

// ---- Operations

std::string valueLine(const std::u16string& name, DWORD type, const std::vector<BYTE>& data)
{
    char unknownType[24];
    const char* typeText = typeName(type);
    if (!typeText) {
        std::snprintf(unknownType, sizeof unknownType, "0x%X", type);
        typeText = unknownType;
    }
    return "    " + (name.empty() ? std::string("(Default)") : narrow(name)) + "    " + typeText + "    " +
           formatData(type, data) + "\n";
}

// The lines of every value of the key, or with `only` of just that one (ERROR_FILE_NOT_FOUND when it
// is missing).
LONG listValues(HKEY key, const std::u16string* only, std::string& lines)
{
    bool found = false;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = 0, dataLength = 0;
        LONG error = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      &nameLength, &dataLength, nullptr, nullptr);
        std::u16string name(nameLength + 1, u'\0');
        std::vector<BYTE> data(dataLength);
        DWORD nameCapacity = nameLength + 1, type = 0;
        if (error == ERROR_SUCCESS)
            error = RegEnumValueW(key, index, name.data(), &nameCapacity, nullptr, &type, data.data(), &dataLength);
        if (error == ERROR_MORE_DATA) { // the value grew meanwhile: measure again
            --index;
            continue;
        }
        if (error == ERROR_NO_MORE_ITEMS)
            return only && !found ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
        if (error != ERROR_SUCCESS)
            return error;
        name.resize(nameCapacity);
        data.resize(dataLength);
        if (only && lstrcmpiW(name.c_str(), only->c_str()) != 0)
            continue;
        found = true;
        lines += valueLine(name, type, data);
    }
}

LONG subkeysOf(HKEY key, std::vector<std::u16string>& names)
{
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        LONG error = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (error != ERROR_SUCCESS)
            return error;
        names.emplace_back(name, length);
    }
}

std::u16string childPath(const KeyPath& key, const std::u16string& child)
{
    return key.path.empty() ? child : key.path + u'\\' + child;
}

// Prints the key's name and values; the names of its subkeys go to subkeys.
LONG printKey(const KeyPath& path, std::vector<std::u16string>& subkeys)
{
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(path.root, path.path.c_str(), 0, KEY_READ, &key);
    if (error != ERROR_SUCCESS)
        return error;
    std::string lines;
    error = listValues(key, nullptr, lines);
    if (error == ERROR_SUCCESS)
        error = subkeysOf(key, subkeys);
    RegCloseKey(key);
    if (error == ERROR_SUCCESS)
        std::printf("%s\n%s\n", fullName(path).c_str(), lines.c_str());
    return error;
}

KeyPath childOf(const KeyPath& path, const std::u16string& child)
{
    return KeyPath{path.root, path.rootName, childPath(path, child)};
}

// Every key below, as far as it can be read: a key that cannot be (a damaged key file) is
// reported on standard error and skipped. The number of keys skipped.
size_t printTree(const KeyPath& path, const std::vector<std::u16string>& subkeys)
{
    size_t skipped = 0;
    for (const std::u16string& name : subkeys) {
        const KeyPath child = childOf(path, name);
        std::vector<std::u16string> below;
        LONG error = printKey(child, below);
        if (error != ERROR_SUCCESS) {
            std::fflush(stdout);
            std::fprintf(stderr, "ERROR: %s cannot be read (error %ld).\n", fullName(child).c_str(),
                         static_cast<long>(error));
            ++skipped;
            continue;
        }
        skipped += printTree(child, below);
    }
    return skipped;
}

int queryKey(const KeyPath& path, bool recursive)
{
    std::vector<std::u16string> subkeys;
    LONG error = printKey(path, subkeys);
    if (error != ERROR_SUCCESS)
        return reportFailure(error, "query");
    if (!recursive) {
        for (const std::u16string& name : subkeys)
            std::printf("%s\n", fullName(childOf(path, name)).c_str());
        return 0;
    }
    size_t skipped = printTree(path, subkeys);
    if (skipped == 0)
        return 0;
    std::fprintf(stderr, "ERROR: %zu key(s) could not be read.\n", skipped);
    return 1;
}

int runQuery(const Options& options, const KeyPath& path)
{
    if (!options.value)
        return queryKey(path, options.recursive);
    HKEY key = nullptr;
    LONG error = RegOpenKeyExW(path.root, path.path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS)
        return reportFailure(error, "query");
    const std::u16string name = widen(*options.value);
    std::string lines;
    error = listValues(key, &name, lines);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return reportFailure(error, "query");
    std::printf("%s\n%s", fullName(path).c_str(), lines.c_str());
    return 0;
}

int runAdd(const Options& options, const KeyPath& path)
{
    std::vector<BYTE> data;
    DWORD type = REG_SZ;
    if (options.value) {
        type = options.type ? parseType(*options.type) : REG_SZ;
        data = encodeData(type, options.data.value_or(""));
    }
    HKEY key = nullptr;
    LONG error = RegCreateKeyExW(path.root, path.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (error == ERROR_SUCCESS && options.value)
        error = RegSetValueExW(key, widen(*options.value).c_str(), 0, type, data.data(),
                               static_cast<DWORD>(data.size()));
    if (key)
        RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return reportFailure(error, "add");
    std::printf("The operation completed successfully.\n");
    return 0;
}

int runDelete(const Options& options, const KeyPath& path)
{
    LONG error = ERROR_SUCCESS;
    if (options.value) {
        HKEY key = nullptr;
        error = RegOpenKeyExW(path.root, path.path.c_str(), 0, KEY_SET_VALUE, &key);
        if (error == ERROR_SUCCESS) {
            error = RegDeleteValueW(key, widen(*options.value).c_str());
            RegCloseKey(key);
        }
    } else if (path.path.empty()) {
        throw UsageError{"a root key cannot be deleted"};
    } else if (options.force) {
        error = RegDeleteTreeW(path.root, path.path.c_str());
    } else {
        error = RegDeleteKeyW(path.root, path.path.c_str());
        if (error == ERROR_ACCESS_DENIED) {
            std::fprintf(stderr, "ERROR: %s has subkeys; add /f to delete it with all of them.\n",
                         fullName(path).c_str());
            return kExitFailure;
        }
    }
    if (error != ERROR_SUCCESS)
        return reportFailure(error, "delete");
    std::printf("The operation completed successfully.\n");
    return 0;
}

int run(int argc, char** argv)
{
    if (tool::wantsHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const Options options = parseOptions(argc, argv);
    if (!tool::usePlatformRoot(options.root))
        throw UsageError{tool::kNoPlatformRoot};
    const KeyPath path = parseKey(options.key);
    if (options.operation == "query")
        return runQuery(options, path);
    if (options.operation == "add")
        return runAdd(options, path);
    return runDelete(options, path);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const UsageError& error) {
        return tool::usageError("pal-reg", error.message);
    }
}
