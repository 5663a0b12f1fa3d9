// The printf family: the Microsoft conversion rules for narrow and wide output and the size-limited results.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "windows.h"

namespace {

// Sizes with the counting form, then formats with the same va_list, as Windows code does.
std::u16string wide(const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vscwprintf(format, args);
    std::u16string result = u"<bad format>";
    if (length >= 0) {
        result.assign(length + 1, u'#');
        EXPECT_EQ(vswprintf_s(result.data(), result.size(), format, args), length);
        result.resize(length);
    }
    va_end(args);
    return result;
}

std::string narrow(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int length = _vscprintf(format, args);
    std::string result = "<bad format>";
    if (length >= 0) {
        result.assign(length + 1, '#');
        EXPECT_EQ(vsprintf_s(result.data(), result.size(), format, args), length);
        result.resize(length);
    }
    va_end(args);
    return result;
}

// Numeric directives give the same text in narrow and wide output: formats both ways, checks
// that the wide text is the narrow text widened, and returns the narrow text.
template <typename... Values>
std::string both(const char* format, Values... values)
{
    const std::u16string wideFormat(format, format + std::char_traits<char>::length(format));
    const std::string narrowText = narrow(format, values...);
    EXPECT_EQ(wide(wideFormat.c_str(), values...), std::u16string(narrowText.begin(), narrowText.end())) << format;
    return narrowText;
}

HRESULT strsafeV(WCHAR* dest, size_t cch, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    HRESULT result = StringCchVPrintfW(dest, cch, format, args);
    va_end(args);
    return result;
}

template <size_t N>
void fill(WCHAR (&buffer)[N]) { std::fill(buffer, buffer + N, u'#'); }
template <size_t N>
void fill(char (&buffer)[N]) { std::fill(buffer, buffer + N, '#'); }

const char* const nullNarrow = nullptr;
const WCHAR* const nullWide = nullptr;

} // namespace

TEST(FormatText, StringWidthsInWideFormats)
{
    EXPECT_EQ(wide(u"%s|%hs|%ls|%S|%ws", u"wide", "narrow", u"long", "upper", u"w"), u"wide|narrow|long|upper|w");
    EXPECT_EQ(wide(u"%c%hc%lc%C%wc", u'あ', 'b', u'c', 'd', u'e'), u"あbcde");
    // Narrow arguments are text in the ANSI code page.
    EXPECT_EQ(wide(u"%hs|%S|%hc", "\x93\xFA\x96\x7B", "\xB1", 0xB2), u"日本|ｱ|ｲ");
    EXPECT_EQ(wide(u"%s", nullWide), u"(null)");
    EXPECT_EQ(wide(u"%hs", nullNarrow), u"(null)");
}

TEST(FormatText, StringWidthsInNarrowFormats)
{
    EXPECT_EQ(narrow("%s|%hs|%ls|%S|%ws", "narrow", "h", u"long", u"upper", u"w"), "narrow|h|long|upper|w");
    EXPECT_EQ(narrow("%c%hc%lc%C", 'a', 'b', u'日', u'e'), "ab\x93\xFA" "e");
    EXPECT_EQ(narrow("%ls", u"日本"), "\x93\xFA\x96\x7B");
    EXPECT_EQ(narrow("%ls|%ls", u"é", u"¥"), "?|\\"); // no code: '?'; best fit: ¥ -> backslash
    EXPECT_EQ(narrow("%s", nullNarrow), "(null)");
    EXPECT_EQ(narrow("%.3s", nullNarrow), "(nu");
}

TEST(FormatText, PrecisionCountsWhatIsWritten)
{
    EXPECT_EQ(narrow("%.2s|", "abc"), "ab|");
    EXPECT_EQ(wide(u"%.2s|", u"abc"), u"ab|");
    EXPECT_EQ(narrow("%.3ls|", u"日本"), "\x93\xFA|"); // the second character would not fit whole
    EXPECT_EQ(narrow("%.4ls|", u"日本"), "\x93\xFA\x96\x7B|");
    EXPECT_EQ(wide(u"%.1hs|", "\x93\xFA\x96\x7B"), u"日|");
    // Precision bounds the read: the array has no terminator.
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(narrow("%.3s", unterminated), "xyz");
    const WCHAR unterminatedWide[2] = {u'p', u'q'};
    EXPECT_EQ(wide(u"%.*s", 2, unterminatedWide), u"pq");
    EXPECT_EQ(narrow("%.2ls", unterminatedWide), "pq");
    const char unterminatedKana[2] = {'\xB1', '\xB2'};
    EXPECT_EQ(wide(u"%.2hs", unterminatedKana), u"ｱｲ");
}

TEST(FormatIntegers, SizesFollowWindowsWidths)
{
    EXPECT_EQ(both("%ld|%lx|%lu", LONG(-5), LONG(-1), DWORD(0xFFFFFFFF)), "-5|ffffffff|4294967295");
    EXPECT_EQ(wide(u"%ld", LONG(INT32_MIN)), u"-2147483648");
    EXPECT_EQ(both("%I64d|%lld", INT64_MIN, INT64_MIN), "-9223372036854775808|-9223372036854775808");
    EXPECT_EQ(wide(u"%I64u|%I64X", UINT64_MAX, uint64_t(0x0123456789ABCDEF)), u"18446744073709551615|123456789ABCDEF");
    EXPECT_EQ(both("%I32d|%I32x", -1, -1), "-1|ffffffff");
    EXPECT_EQ(both("%Iu|%Id|%zu", SIZE_MAX, intptr_t(-1), size_t(7)), "18446744073709551615|-1|7");
    EXPECT_EQ(both("%hd|%hu|%hx|%hhd|%hhu", 65535, -1, 0x12345, 255, -1), "-1|65535|2345|-1|255");
    EXPECT_EQ(both("%d|%i|%u", INT_MIN, 42, -1), "-2147483648|42|4294967295");
    // A value after a 64-bit one still lines up.
    EXPECT_EQ(wide(u"%I64d %d %hs", int64_t(1) << 40, 7, "x"), u"1099511627776 7 x");
}

TEST(FormatIntegers, BasesAndAlternateForms)
{
    EXPECT_EQ(both("%o|%#o|%#o|%#.0o", 8, 8, 0, 0), "10|010|0|0");
    EXPECT_EQ(both("%x|%X|%#x|%#X|%#x", 255, 255, 255, 255, 0), "ff|FF|0xff|0XFF|0");
    EXPECT_EQ(both("%#10x|%#010x", 255, 255), "      0xff|0x000000ff");
    EXPECT_EQ(both("%p", reinterpret_cast<void*>(0x12AB)), "00000000000012AB");
    EXPECT_EQ(wide(u"[%20p]", reinterpret_cast<void*>(0xABCDEF)), u"[    0000000000ABCDEF]");
}

TEST(FormatLayout, FlagsWidthAndPrecision)
{
    EXPECT_EQ(narrow("%-5s|%5s|", "ab", "ab"), "ab   |   ab|");
    EXPECT_EQ(wide(u"%-5s|%5s|", u"ab", u"ab"), u"ab   |   ab|");
    EXPECT_EQ(both("%*d|%*d|", 4, 7, -4, 7), "   7|7   |");
    EXPECT_EQ(narrow("%.*d|%.*s|", -1, 7, 2, "abc"), "7|ab|");
    EXPECT_EQ(both("%+d|% d|%+ d|%+u", 5, 5, 5, 5), "+5| 5|+5|5");
    EXPECT_EQ(both("%05d|%-05d|%08.3d|", -42, -42, 42), "-0042|-42  |     042|");
    EXPECT_EQ(both("%.0d|%5.0d|", 0, 0), "|     |");
    EXPECT_EQ(both("%03d|%08lx", 7, DWORD(0xABCDEF)), "007|00abcdef");
    EXPECT_EQ(narrow("%05s|%-3c|%3c", "ab", 'x', 'y'), "000ab|x  |  y");
    EXPECT_EQ(both("100%%|%%d"), "100%|%d");
    // The trace-log time stamp.
    EXPECT_EQ(wide(u"[%02u/%02u %02u:%02u:%02u] %hs %ls", 12, 8, 9, 5, 7, "FNC", u"msg"), u"[12/08 09:05:07] FNC msg");
}

TEST(FormatFloating, DigitsAndLayout)
{
    EXPECT_EQ(narrow("%08.3f", 3.14159), "0003.142");
    EXPECT_EQ(wide(u"%08.3f", -3.14159), u"-003.142");
    EXPECT_EQ(narrow("%f|%.0f|%#.0f", 1.5, 2.4, 3.0), "1.500000|2|3.");
    EXPECT_EQ(narrow("%e|%E", 12345.678, 0.5), "1.234568e+04|5.000000E-01");
    EXPECT_EQ(wide(u"%g|%G|%g", 0.0001, 1e-10, 100000.0), u"0.0001|1E-10|100000");
    EXPECT_EQ(narrow("%-10.2f|%+.1f", -1.5, 2.75), "-1.50     |+2.8");
    EXPECT_EQ(narrow("%Lf", static_cast<long double>(0.25)), "0.250000");
    EXPECT_EQ(narrow("%.1f %d", 0.5, 9), "0.5 9");
}

TEST(FormatErrors, RefusedConversions)
{
    for (const char* bad : {"%n", "%y", "abc%", "%l", "%a", "%99999999999d"}) {
        errno = 0;
        EXPECT_EQ(_scprintf(bad, nullptr), -1) << bad;
        EXPECT_EQ(errno, EINVAL) << bad;
        char buffer[16] = "untouched";
        EXPECT_EQ(sprintf_s(buffer, bad, nullptr), -1) << bad;
        EXPECT_EQ(buffer[0], 0) << bad;
    }
    int written = 0;
    WCHAR buffer[16];
    fill(buffer);
    EXPECT_EQ(_snwprintf_s(buffer, _TRUNCATE, u"ab%n", &written), -1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(_snwprintf(buffer, 16, u"%n", &written), -1);
    EXPECT_EQ(_scwprintf(nullptr), -1);
}

TEST(FormatLimits, SwprintfSFailsWhenShort)
{
    WCHAR buffer[8];
    fill(buffer);
    EXPECT_EQ(swprintf_s(buffer, u"%s", u"1234567"), 7);
    EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"1234567\0", 8));
    errno = 0;
    EXPECT_EQ(swprintf_s(buffer, u"%s", u"12345678"), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(buffer[0], 0);
    errno = 0;
    EXPECT_EQ(swprintf_s(nullptr, 8, u"x"), -1);
    EXPECT_EQ(errno, EINVAL);
    fill(buffer);
    EXPECT_EQ(swprintf_s(buffer, 0, u"x"), -1);
    EXPECT_EQ(buffer[0], u'#');

    char narrowBuffer[4];
    EXPECT_EQ(sprintf_s(narrowBuffer, "%d", 123), 3);
    EXPECT_EQ(std::string(narrowBuffer), "123");
    EXPECT_EQ(sprintf_s(narrowBuffer, sizeof narrowBuffer, "%d", 1234), -1);
    EXPECT_EQ(narrowBuffer[0], 0);
}

TEST(FormatLimits, SnwprintfSCountAndTruncate)
{
    WCHAR buffer[8];
    fill(buffer);
    EXPECT_EQ(_snwprintf_s(buffer, _TRUNCATE, u"%s", u"123456789"), -1);
    EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"1234567\0", 8));
    EXPECT_EQ(_snwprintf_s(buffer, _TRUNCATE, u"%d", 42), 2);
    EXPECT_EQ(std::u16string(buffer), u"42");
    // count below the size: cut at count.
    fill(buffer);
    EXPECT_EQ(_snwprintf_s(buffer, 8, 3, u"%s", u"12345"), -1);
    EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"123\0#", 5));
    EXPECT_EQ(_snwprintf_s(buffer, 8, 3, u"%s", u"12"), 2);
    // count not below the size and no _TRUNCATE: the call fails and leaves an empty string.
    fill(buffer);
    errno = 0;
    EXPECT_EQ(_snwprintf_s(buffer, 8, 8, u"%s", u"12345678"), -1);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(_snwprintf_s(buffer, 8, 8, u"%s", u"1234567"), 7);
    EXPECT_EQ(_snwprintf_s(nullptr, 0, 0, u"x"), 0);
    EXPECT_EQ(_snwprintf_s(nullptr, 8, 0, u"x"), -1);

    char narrowBuffer[6];
    EXPECT_EQ(_snprintf_s(narrowBuffer, _TRUNCATE, "%s-%s", "abc", "def"), -1);
    EXPECT_EQ(std::string(narrowBuffer), "abc-d");
    EXPECT_EQ(_snprintf_s(narrowBuffer, sizeof narrowBuffer, 2, "%d", 123), -1);
    EXPECT_EQ(std::string(narrowBuffer), "12");
    EXPECT_EQ(_snprintf_s(narrowBuffer, sizeof narrowBuffer, 6, "%d", 123456), -1);
    EXPECT_EQ(narrowBuffer[0], 0);
}

TEST(FormatLimits, LegacySnprintfLeavesNoTerminatorWhenFull)
{
    WCHAR buffer[6];
    fill(buffer);
    EXPECT_EQ(_snwprintf(buffer, 5, u"%s", u"123"), 3);
    EXPECT_EQ(std::u16string(buffer, 6), std::u16string(u"123\0##", 6));
    fill(buffer);
    EXPECT_EQ(_snwprintf(buffer, 5, u"%s", u"12345"), 5);
    EXPECT_EQ(std::u16string(buffer, 6), u"12345#");
    fill(buffer);
    EXPECT_EQ(_snwprintf(buffer, 5, u"%s", u"123456"), -1);
    EXPECT_EQ(std::u16string(buffer, 6), u"12345#");
    EXPECT_EQ(_snwprintf(nullptr, 0, u"%d", 12345), 5);
    EXPECT_EQ(_snwprintf(nullptr, 5, u"%d", 1), -1);

    char narrowBuffer[4];
    fill(narrowBuffer);
    EXPECT_EQ(_snprintf(narrowBuffer, 3, "%d", 1234), -1);
    EXPECT_EQ(std::string(narrowBuffer, 4), "123#");
    EXPECT_EQ(_snprintf(narrowBuffer, 4, "%s", "ab"), 2);
    EXPECT_EQ(std::string(narrowBuffer), "ab");
}

TEST(FormatLimits, WsprintfStopsAt1024)
{
    std::u16string longText(2000, u'x');
    WCHAR buffer[1100];
    fill(buffer);
    EXPECT_EQ(wsprintfW(buffer, u"%s", longText.c_str()), 1023);
    EXPECT_EQ(buffer[1022], u'x');
    EXPECT_EQ(buffer[1023], 0);
    EXPECT_EQ(buffer[1024], u'#');
    EXPECT_EQ(wsprintfW(buffer, u"%s=%hs %lu", u"Port", "LPT1", DWORD(42)), 12);
    EXPECT_EQ(std::u16string(buffer), u"Port=LPT1 42");

    char narrowBuffer[32];
    EXPECT_EQ(wsprintfA(narrowBuffer, "%s %S %d", "a", u"b", -3), 6);
    EXPECT_EQ(std::string(narrowBuffer), "a b -3");
}

TEST(FormatLimits, CountingForms)
{
    EXPECT_EQ(_scwprintf(u"%d-%s", 42, u"ab"), 5);
    EXPECT_EQ(_scprintf("%ls", u"日本"), 4); // bytes in the ANSI code page
    EXPECT_EQ(_scwprintf(u"%hs", "\x93\xFA\x96\x7B"), 2);
    EXPECT_EQ(_scprintf("%100000d", 1), 100000);
}

TEST(FormatStrsafe, TruncatesAndTerminates)
{
    WCHAR buffer[5];
    fill(buffer);
    EXPECT_EQ(StringCchPrintfW(buffer, 5, u"%d", 1234), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"1234");
    EXPECT_EQ(StringCchPrintfW(buffer, 5, u"%d", 123456), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer, 5), std::u16string(u"1234\0", 5));
    EXPECT_EQ(strsafeV(buffer, 5, u"%s", u"abcdefg"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcd");
    EXPECT_EQ(StringCbPrintfW(buffer, 6, u"%s", u"abcdefg"), STRSAFE_E_INSUFFICIENT_BUFFER); // 3 characters
    EXPECT_EQ(std::u16string(buffer), u"ab");
    fill(buffer);
    EXPECT_EQ(StringCchPrintfW(buffer, 0, u"x"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(StringCchPrintfW(buffer, 5, u"%n", nullptr), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(StringCchPrintfW(buffer, 5, nullptr), STRSAFE_E_INVALID_PARAMETER);

    char narrowBuffer[4];
    EXPECT_EQ(StringCchPrintfA(narrowBuffer, 4, "%s", "abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(narrowBuffer), "abc");
    EXPECT_EQ(StringCbPrintfA(narrowBuffer, 4, "%d", 7), S_OK);
    EXPECT_EQ(std::string(narrowBuffer), "7");
}
