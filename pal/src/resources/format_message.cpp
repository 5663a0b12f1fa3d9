// FormatMessage from a string: inserts %1..%99 with optional printf conversions, and the escapes.
#include <cstring>
#include <string>
#include <vector>

#include "pal/format.h"
#include "pal/memory.h"
#include "pal/resources.h"

namespace {

// One printf conversion of an insert ("%" plus the text between the '!'s) and how its value is
// passed: as an int, a 64-bit or pointer-sized integer, or a pointer.
enum class ValueKind { Int32, Int64, Pointer, Bad };

template <class Char>
ValueKind kindOf(const std::basic_string<Char>& directive)
{
    if (directive.find(Char('*')) != std::basic_string<Char>::npos)
        return ValueKind::Bad; // widths taken from further inserts are not supported
    auto isFlag = [](Char c) { return c == '-' || c == '+' || c == ' ' || c == '0' || c == '#'; };
    auto isWidth = [](Char c) { return c == '.' || (c >= '0' && c <= '9'); };
    size_t at = 1;
    while (at < directive.size() && isFlag(directive[at]))
        ++at;
    while (at < directive.size() && isWidth(directive[at]))
        ++at;
    std::basic_string<Char> size = directive.substr(at, directive.size() - at - 1);
    Char conversion = directive.back();
    bool wide64 = size == std::basic_string<Char>{'l', 'l'} || size == std::basic_string<Char>{'I', '6', '4'} ||
                  size == std::basic_string<Char>{'j'};
    bool pointerSized = size == std::basic_string<Char>{'I'} || size == std::basic_string<Char>{'z'} ||
                        size == std::basic_string<Char>{'t'};
    switch (conversion) {
    case 'd': case 'i': case 'u': case 'o': case 'x': case 'X': case 'c': case 'C':
        return wide64 || pointerSized ? ValueKind::Int64 : ValueKind::Int32;
    case 's': case 'S': case 'p':
        return ValueKind::Pointer;
    default:
        return ValueKind::Bad;
    }
}

int measure(const WCHAR* directive, ...)
{
    va_list args;
    va_start(args, directive);
    int length = _vscwprintf(directive, args);
    va_end(args);
    return length;
}

int measure(const char* directive, ...)
{
    va_list args;
    va_start(args, directive);
    int length = _vscprintf(directive, args);
    va_end(args);
    return length;
}

int print(WCHAR* out, size_t count, const WCHAR* directive, ...)
{
    va_list args;
    va_start(args, directive);
    int length = _vsnwprintf(out, count, directive, args);
    va_end(args);
    return length;
}

int print(char* out, size_t count, const char* directive, ...)
{
    va_list args;
    va_start(args, directive);
    int length = _vsnprintf(out, count, directive, args);
    va_end(args);
    return length;
}

template <class Char, class Value>
bool appendPrinted(std::basic_string<Char>& out, const std::basic_string<Char>& directive, Value value)
{
    int length = measure(directive.c_str(), value);
    if (length < 0)
        return false;
    size_t start = out.size();
    out.resize(start + static_cast<size_t>(length) + 1);
    print(out.data() + start, static_cast<size_t>(length) + 1, directive.c_str(), value);
    out.resize(start + static_cast<size_t>(length));
    return true;
}

template <class Char>
bool appendInsert(std::basic_string<Char>& out, const std::basic_string<Char>& directive, DWORD_PTR value)
{
    switch (kindOf(directive)) {
    case ValueKind::Int32:
        return appendPrinted(out, directive, static_cast<int>(value));
    case ValueKind::Int64:
        return appendPrinted(out, directive, static_cast<long long>(value));
    case ValueKind::Pointer:
        return appendPrinted(out, directive, reinterpret_cast<const void*>(value));
    default:
        return false;
    }
}

// The values of the inserts: the caller's array, or the first `needed` values of the va_list.
class InsertValues {
public:
    InsertValues(DWORD flags, va_list* arguments, int needed)
    {
        if (!arguments)
            return;
        if (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) {
            array_ = reinterpret_cast<const DWORD_PTR*>(arguments);
            return;
        }
        va_list copy;
        va_copy(copy, *arguments);
        for (int i = 0; i < needed; ++i)
            read_.push_back(va_arg(copy, DWORD_PTR));
        va_end(copy);
        array_ = read_.data();
    }
    bool present() const { return array_ != nullptr; }
    DWORD_PTR operator[](int number) const { return array_[number - 1]; }

private:
    const DWORD_PTR* array_ = nullptr;
    std::vector<DWORD_PTR> read_;
};

// The insert number at text[at] (one or two digits, 1..99) and how many characters it takes.
template <class Char>
int insertNumber(const Char* text, size_t& at)
{
    if (text[at] < '1' || text[at] > '9')
        return 0;
    int number = text[at++] - '0';
    if (text[at] >= '0' && text[at] <= '9')
        number = number * 10 + (text[at++] - '0');
    return number;
}

template <class Char>
int highestInsert(const Char* text)
{
    int highest = 0;
    for (size_t at = 0; text[at]; ++at) {
        if (text[at] != '%' || !text[at + 1])
            continue;
        ++at;
        size_t digits = at;
        highest = std::max(highest, insertNumber(text, digits));
    }
    return highest;
}

// The conversion after an insert number: "!fmt!" or the default string of the text's width.
template <class Char>
bool conversionAfter(const Char* text, size_t& at, std::basic_string<Char>& directive)
{
    directive.assign(1, Char('%'));
    if (text[at] != '!') {
        directive.push_back(Char('s'));
        return true;
    }
    size_t end = at + 1;
    while (text[end] && text[end] != '!')
        ++end;
    if (!text[end] || end == at + 1)
        return false;
    directive.append(text + at + 1, text + end);
    at = end + 1;
    return true;
}

template <class Char>
bool expand(const Char* text, DWORD flags, const InsertValues& values, std::basic_string<Char>& out)
{
    bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    std::basic_string<Char> directive;
    for (size_t at = 0; text[at];) {
        if (text[at] != '%') {
            out.push_back(text[at++]);
            continue;
        }
        size_t start = at++;
        if (!text[at])
            break;
        int number = insertNumber(text, at);
        if (number) {
            if (!conversionAfter(text, at, directive))
                return false;
            if (ignoreInserts)
                out.append(text + start, text + at);
            else if (!values.present() || !appendInsert(out, directive, values[number]))
                return false;
            continue;
        }
        Char escape = text[at++];
        if (escape == '0')
            break;
        switch (escape) {
        case 'n': out.push_back('\r'); out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        default: out.push_back(escape); break;
        }
    }
    return true;
}

template <class Char>
DWORD formatMessage(DWORD flags, LPCVOID source, Char* buffer, DWORD size, va_list* arguments)
{
    if (!(flags & FORMAT_MESSAGE_FROM_STRING) || !source || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Char* text = static_cast<const Char*>(source);
    bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    InsertValues values(flags, arguments, ignoreInserts ? 0 : highestInsert(text));
    std::basic_string<Char> out;
    if (!expand(text, flags, values, out)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t chars = std::max<size_t>(out.size() + 1, size);
        auto* block = static_cast<Char*>(LocalAlloc(LMEM_FIXED, chars * sizeof(Char)));
        if (!block)
            return 0;
        memcpy(block, out.c_str(), (out.size() + 1) * sizeof(Char));
        *reinterpret_cast<Char**>(buffer) = block;
        return static_cast<DWORD>(out.size());
    }
    if (out.size() >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, out.c_str(), (out.size() + 1) * sizeof(Char));
    return static_cast<DWORD>(out.size());
}

} // namespace

extern "C" {

DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD, DWORD, LPWSTR lpBuffer, DWORD nSize, va_list* Arguments)
{
    return formatMessage(dwFlags, lpSource, lpBuffer, nSize, Arguments);
}

DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD, DWORD, LPSTR lpBuffer, DWORD nSize, va_list* Arguments)
{
    return formatMessage(dwFlags, lpSource, lpBuffer, nSize, Arguments);
}

} // extern "C"
