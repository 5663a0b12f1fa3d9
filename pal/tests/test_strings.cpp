// String functions: lstr*, CRT compares and bounded copies, strsafe, the WCHAR forms of the C functions.
#include <algorithm>
#include <climits>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "windows.h"

namespace {

template <size_t N>
void fill(WCHAR (&buffer)[N], WCHAR value = u'#') { std::fill(buffer, buffer + N, value); }
template <size_t N>
void fill(char (&buffer)[N], char value = '#') { std::fill(buffer, buffer + N, value); }

template <size_t N>
std::u16string all(const WCHAR (&buffer)[N]) { return std::u16string(buffer, N); }
template <size_t N>
std::string all(const char (&buffer)[N]) { return std::string(buffer, N); }

} // namespace

TEST(Lstr, LengthCopyAndCat)
{
    EXPECT_EQ(lstrlenW(nullptr), 0);
    EXPECT_EQ(lstrlenW(u"日本"), 2);
    EXPECT_EQ(lstrlenA("\x93\xFA"), 2);
    EXPECT_EQ(lstrlenA(nullptr), 0);

    WCHAR buffer[8];
    fill(buffer);
    EXPECT_EQ(lstrcpyW(buffer, u"ab"), buffer);
    EXPECT_EQ(lstrcatW(buffer, u"cd"), buffer);
    EXPECT_EQ(all(buffer), std::u16string(u"abcd\0###", 8));
    EXPECT_EQ(lstrcpyW(nullptr, u"x"), nullptr);
    EXPECT_EQ(lstrcpyW(buffer, nullptr), nullptr);
    EXPECT_EQ(lstrcatW(buffer, nullptr), nullptr);

    char narrow[4];
    fill(narrow);
    EXPECT_EQ(lstrcpyA(narrow, "a"), narrow);
    EXPECT_EQ(lstrcatA(narrow, "b"), narrow);
    EXPECT_EQ(all(narrow), std::string("ab\0#", 4));
}

TEST(Lstr, CopyNKeepsRoomForTheTerminator)
{
    WCHAR buffer[6];
    fill(buffer);
    EXPECT_EQ(lstrcpynW(buffer, u"abcdef", 4), buffer);
    EXPECT_EQ(all(buffer), std::u16string(u"abc\0##", 6));
    fill(buffer);
    lstrcpynW(buffer, u"ab", 6);
    EXPECT_EQ(all(buffer), std::u16string(u"ab\0###", 6));
    fill(buffer);
    lstrcpynW(buffer, u"ab", 1);
    EXPECT_EQ(all(buffer), std::u16string(u"\0#####", 6));
    fill(buffer);
    EXPECT_EQ(lstrcpynW(buffer, u"ab", 0), buffer);
    EXPECT_EQ(all(buffer), u"######");
    EXPECT_EQ(lstrcpynW(buffer, nullptr, 3), nullptr);

    char narrow[4];
    fill(narrow);
    lstrcpynA(narrow, "xyz", 3);
    EXPECT_EQ(all(narrow), std::string("xy\0#", 4));
}

TEST(Lstr, CompareIsOrdinalWithSignResults)
{
    EXPECT_EQ(lstrcmpW(u"Port1", u"Port1"), 0);
    EXPECT_EQ(lstrcmpW(u"a", u"z"), -1);
    EXPECT_EQ(lstrcmpW(u"z", u"a"), 1);
    EXPECT_EQ(lstrcmpW(u"ab", u"abc"), -1);
    EXPECT_NE(lstrcmpW(u"Port1", u"port1"), 0);
    EXPECT_EQ(lstrcmpW(nullptr, nullptr), 0);
    EXPECT_EQ(lstrcmpW(nullptr, u""), -1);
    EXPECT_EQ(lstrcmpW(u"", nullptr), 1);
    EXPECT_EQ(lstrcmpA("\x93\xFA", "\x93\xFA"), 0);
    EXPECT_EQ(lstrcmpA("abc", "abd"), -1);
}

TEST(Lstr, CompareIgnoringCase)
{
    EXPECT_EQ(lstrcmpiW(u"Port1", u"PORT1"), 0);
    EXPECT_EQ(lstrcmpiW(u"ÀÉŸ", u"àéÿ"), 0);
    EXPECT_EQ(lstrcmpiW(u"ＡＢＣ", u"ａｂｃ"), 0);
    EXPECT_EQ(lstrcmpiW(u"ΣΩ", u"σω"), 0);
    EXPECT_EQ(lstrcmpiW(u"ДЁ", u"дё"), 0);
    EXPECT_NE(lstrcmpiW(u"Ａ", u"A"), 0); // width is not case
    EXPECT_EQ(lstrcmpiW(u"_", u"A"), -1); // compared in lower case
    EXPECT_EQ(lstrcmpiW(u"b", u"A"), 1);
    EXPECT_EQ(lstrcmpiW(nullptr, u"a"), -1);

    EXPECT_EQ(lstrcmpiA("PORT", "port"), 0);
    EXPECT_EQ(lstrcmpiA("\x82\x60", "\x82\x81"), 0); // Ａ / ａ in CP932
    // ア (83 41) and ャ (83 61) differ although their trail bytes look like 'A' and 'a'.
    EXPECT_NE(lstrcmpiA("\x83\x41", "\x83\x61"), 0);
}

TEST(CrtCompare, DifferenceOfLowerCase)
{
    EXPECT_EQ(_wcsicmp(u"Hello", u"hELLO"), 0);
    EXPECT_EQ(_wcsicmp(u"a", u"C"), 'a' - 'c');
    EXPECT_LT(_wcsicmp(u"_", u"A"), 0);
    EXPECT_GT(_wcsicmp(u"abc", u"AB"), 0);
    EXPECT_EQ(_wcsicmp(u"Ä", u"ä"), 0);
    EXPECT_EQ(_wcsnicmp(u"abcX", u"ABCy", 3), 0);
    EXPECT_NE(_wcsnicmp(u"abcX", u"ABCy", 4), 0);
    EXPECT_EQ(_wcsnicmp(u"ab", u"AB", 10), 0);
    EXPECT_EQ(_wcsnicmp(nullptr, nullptr, 0), 0);
    errno = 0;
    EXPECT_EQ(_wcsicmp(nullptr, u"a"), _NLSCMPERROR);
    EXPECT_EQ(errno, EINVAL);

    EXPECT_EQ(_stricmp("HELLO", "hello"), 0);
    EXPECT_EQ(_stricmp("a", "C"), 'a' - 'c');
    EXPECT_LT(_stricmp("_", "A"), 0);
    EXPECT_EQ(_strnicmp("JTRK-1", "jtrk-2", 5), 0);
    EXPECT_NE(_strnicmp("JTRK-1", "jtrk-2", 6), 0);
    // Byte-wise as in the "C" locale: a trail byte folds like ASCII, non-ASCII bytes do not.
    EXPECT_EQ(_stricmp("\x83\x41", "\x83\x61"), 0);
    EXPECT_NE(_stricmp("\xC0", "\xE0"), 0);
    errno = 0;
    EXPECT_EQ(_strnicmp("a", nullptr, 1), _NLSCMPERROR);
    EXPECT_EQ(errno, EINVAL);
}

TEST(SafeCopy, CopyFitsOrEmpties)
{
    WCHAR buffer[4];
    fill(buffer);
    EXPECT_EQ(wcscpy_s(buffer, u"abc"), 0);
    EXPECT_EQ(all(buffer), std::u16string(u"abc\0", 4));
    fill(buffer);
    errno = 0;
    EXPECT_EQ(wcscpy_s(buffer, u"abcd"), ERANGE);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(buffer[0], 0);
    fill(buffer);
    EXPECT_EQ(wcscpy_s(buffer, 4, nullptr), EINVAL);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(wcscpy_s(nullptr, 4, u"a"), EINVAL);
    fill(buffer);
    EXPECT_EQ(wcscpy_s(buffer, 0, u"a"), EINVAL);
    EXPECT_EQ(buffer[0], u'#');

    char narrow[3];
    EXPECT_EQ(strcpy_s(narrow, "ab"), 0);
    EXPECT_EQ(std::string(narrow), "ab");
    EXPECT_EQ(strcpy_s(narrow, "abc"), ERANGE);
    EXPECT_EQ(narrow[0], 0);
}

TEST(SafeCopy, CountedCopyAndTruncate)
{
    WCHAR buffer[5];
    fill(buffer);
    EXPECT_EQ(wcsncpy_s(buffer, u"abcdef", 2), 0);
    EXPECT_EQ(all(buffer), std::u16string(u"ab\0##", 5));
    fill(buffer);
    EXPECT_EQ(wcsncpy_s(buffer, u"abcdef", _TRUNCATE), STRUNCATE);
    EXPECT_EQ(all(buffer), std::u16string(u"abcd\0", 5));
    fill(buffer);
    EXPECT_EQ(wcsncpy_s(buffer, u"abc", _TRUNCATE), 0);
    EXPECT_EQ(all(buffer), std::u16string(u"abc\0#", 5));
    fill(buffer);
    EXPECT_EQ(wcsncpy_s(buffer, u"abcdef", 5), ERANGE); // five characters and no room for the NUL
    EXPECT_EQ(buffer[0], 0);
    fill(buffer);
    EXPECT_EQ(wcsncpy_s(buffer, 5, nullptr, 0), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(wcsncpy_s(nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(wcsncpy_s(nullptr, 0, u"a", 1), EINVAL);

    char narrow[4];
    EXPECT_EQ(strncpy_s(narrow, "wxyz", _TRUNCATE), STRUNCATE);
    EXPECT_EQ(std::string(narrow), "wxy");
    EXPECT_EQ(strncpy_s(narrow, "wxyz", 3), 0);
    EXPECT_EQ(std::string(narrow), "wxy");
}

TEST(SafeCopy, Concatenate)
{
    WCHAR buffer[6] = u"ab";
    EXPECT_EQ(wcscat_s(buffer, u"cde"), 0);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(wcscat_s(buffer, u"f"), ERANGE);
    EXPECT_EQ(buffer[0], 0);

    fill(buffer); // no terminator anywhere
    EXPECT_EQ(wcscat_s(buffer, u"a"), EINVAL);
    EXPECT_EQ(buffer[0], 0);

    WCHAR truncated[5] = u"ab";
    EXPECT_EQ(wcsncat_s(truncated, u"cdef", _TRUNCATE), STRUNCATE);
    EXPECT_EQ(std::u16string(truncated), u"abcd");
    WCHAR counted[8] = u"ab";
    EXPECT_EQ(wcsncat_s(counted, u"cdef", 2), 0);
    EXPECT_EQ(std::u16string(counted), u"abcd");
    EXPECT_EQ(wcsncat_s(counted, nullptr, 0), 0);
    EXPECT_EQ(std::u16string(counted), u"abcd");
    EXPECT_EQ(wcsncat_s(counted, u"efghij", 4), ERANGE);
    EXPECT_EQ(counted[0], 0);

    char narrow[5] = "ab";
    EXPECT_EQ(strcat_s(narrow, "cd"), 0);
    EXPECT_EQ(std::string(narrow), "abcd");
    EXPECT_EQ(strcat_s(narrow, 5, nullptr), EINVAL);
    EXPECT_EQ(narrow[0], 0);
    EXPECT_EQ(strncat_s(narrow, "123456", _TRUNCATE), STRUNCATE);
    EXPECT_EQ(std::string(narrow), "1234");
}

TEST(SafeCopy, MemoryCopies)
{
    char dest[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(memcpy_s(dest, 4, "ab", 2), 0);
    EXPECT_EQ(all(dest), "abyz");
    EXPECT_EQ(memcpy_s(dest, 4, nullptr, 0), 0);
    EXPECT_EQ(memcpy_s(dest, 3, "abcd", 4), ERANGE);
    EXPECT_EQ(all(dest), std::string("\0\0\0z", 4)); // the destination size is cleared
    std::copy_n("wxyz", 4, dest);
    EXPECT_EQ(memcpy_s(dest, 4, nullptr, 1), EINVAL);
    EXPECT_EQ(all(dest), std::string(4, '\0'));
    EXPECT_EQ(memcpy_s(nullptr, 4, "a", 1), EINVAL);

    char overlap[6] = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(memmove_s(overlap + 1, 5, overlap, 4), 0);
    EXPECT_EQ(all(overlap), "aabcdf");
    EXPECT_EQ(memmove_s(overlap, 2, "xyz", 3), ERANGE);
    EXPECT_EQ(all(overlap), "aabcdf");
    EXPECT_EQ(memmove_s(overlap, 6, nullptr, 1), EINVAL);
}

TEST(StrSafe, ResultValues)
{
    EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, static_cast<HRESULT>(0x8007007A));
    EXPECT_EQ(STRSAFE_E_INVALID_PARAMETER, static_cast<HRESULT>(0x80070057));
    EXPECT_TRUE(FAILED(STRSAFE_E_INSUFFICIENT_BUFFER));
}

TEST(StrSafe, CopyTruncatesAndTerminates)
{
    WCHAR buffer[4];
    fill(buffer);
    EXPECT_EQ(StringCchCopyW(buffer, 4, u"abc"), S_OK);
    EXPECT_EQ(all(buffer), std::u16string(u"abc\0", 4));
    EXPECT_EQ(StringCchCopyW(buffer, 4, u"abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(all(buffer), std::u16string(u"abc\0", 4));
    fill(buffer);
    EXPECT_EQ(StringCchCopyW(buffer, 0, u"a"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], u'#');
    EXPECT_EQ(StringCchCopyW(buffer, 4, nullptr), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(StringCchCopyW(buffer, size_t(STRSAFE_MAX_CCH) + 1, u"a"), STRSAFE_E_INVALID_PARAMETER);

    fill(buffer);
    EXPECT_EQ(StringCchCopyNW(buffer, 4, u"abcdef", 2), S_OK);
    EXPECT_EQ(all(buffer), std::u16string(u"ab\0#", 4));
    EXPECT_EQ(StringCchCopyNW(buffer, 4, u"abcdef", 5), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abc");

    fill(buffer);
    EXPECT_EQ(StringCbCopyW(buffer, sizeof buffer, u"abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(all(buffer), std::u16string(u"abc\0", 4));
    EXPECT_EQ(StringCbCopyW(buffer, 5, u"abcdef"), STRSAFE_E_INSUFFICIENT_BUFFER); // 2 characters
    EXPECT_EQ(std::u16string(buffer), u"a");
    EXPECT_EQ(StringCbCopyW(buffer, 1, u"a"), STRSAFE_E_INVALID_PARAMETER);

    char narrow[3];
    EXPECT_EQ(StringCchCopyA(narrow, 3, "xyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(narrow), "xy");
    EXPECT_EQ(StringCbCopyA(narrow, 3, "x"), S_OK);
    EXPECT_EQ(std::string(narrow), "x");
}

TEST(StrSafe, CatAndLength)
{
    WCHAR buffer[6] = u"ab";
    EXPECT_EQ(StringCchCatW(buffer, 6, u"cd"), S_OK);
    EXPECT_EQ(std::u16string(buffer), u"abcd");
    EXPECT_EQ(StringCchCatW(buffer, 6, u"efg"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(StringCbCatW(buffer, sizeof buffer, u"x"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(buffer), u"abcde");

    fill(buffer);
    EXPECT_EQ(StringCchCatW(buffer, 6, u"a"), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(buffer[0], u'#'); // left as it was
    WCHAR empty[2] = u"";
    EXPECT_EQ(StringCchCatW(empty, 2, nullptr), STRSAFE_E_INVALID_PARAMETER);

    char narrow[4] = "a";
    EXPECT_EQ(StringCchCatA(narrow, 4, "bcd"), STRSAFE_E_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::string(narrow), "abc");

    size_t length = 99;
    EXPECT_EQ(StringCchLengthW(u"abc", 4, &length), S_OK);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(StringCchLengthW(u"abc", 3, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(StringCchLengthW(nullptr, 3, &length), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchLengthW(u"", 0, nullptr), STRSAFE_E_INVALID_PARAMETER);
    EXPECT_EQ(StringCchLengthA("\x93\xFA", 3, &length), S_OK);
    EXPECT_EQ(length, 2u);
}

TEST(WideC, SearchAndCompare)
{
    const WCHAR* text = u"C:\\dir\\file.ini";
    EXPECT_EQ(wcslen(text), 15u);
    EXPECT_EQ(wcsnlen(text, 4), 4u);
    EXPECT_EQ(wcsnlen(text, 40), 15u);
    EXPECT_EQ(wcschr(text, u'\\'), text + 2);
    EXPECT_EQ(wcsrchr(text, u'\\'), text + 6);
    EXPECT_EQ(wcschr(text, u'\0'), text + 15);
    EXPECT_EQ(wcschr(text, u'?'), nullptr);
    EXPECT_EQ(wcsstr(text, u"file"), text + 7);
    EXPECT_EQ(wcsstr(text, u""), text);
    EXPECT_EQ(wcsstr(text, u"filex"), nullptr);
    WCHAR editable[8] = u"a.b.c";
    static_assert(std::is_same_v<decltype(wcsrchr(editable, u'.')), WCHAR*>);
    static_assert(std::is_same_v<decltype(wcsstr(text, u"b")), const WCHAR*>);
    *wcsrchr(editable, u'.') = 0;
    EXPECT_EQ(std::u16string(editable), u"a.b");

    EXPECT_EQ(wcscmp(u"abc", u"abc"), 0);
    EXPECT_LT(wcscmp(u"abc", u"abd"), 0);
    EXPECT_GT(wcscmp(u"\uFF21", u"A"), 0); // unsigned units
    EXPECT_EQ(wcsncmp(u"abcX", u"abcY", 3), 0);
    WCHAR joined[8];
    wcscat(wcscpy(joined, u"ab"), u"cd");
    EXPECT_EQ(std::u16string(joined), u"abcd");
}

TEST(WideC, NumbersAre32Bit)
{
    WCHAR* end = nullptr;
    const WCHAR* text = u"  -123xyz";
    EXPECT_EQ(wcstol(text, &end, 10), -123);
    EXPECT_EQ(end, text + 6);
    EXPECT_EQ(wcstol(u"0x1F", nullptr, 0), 31);
    EXPECT_EQ(wcstol(u"0x1F", nullptr, 16), 31);
    EXPECT_EQ(wcstol(u"017", nullptr, 0), 15);
    const WCHAR* noHex = u"0xg";
    EXPECT_EQ(wcstol(noHex, &end, 16), 0);
    EXPECT_EQ(end, noHex + 1);
    const WCHAR* none = u"abc";
    EXPECT_EQ(wcstol(none, &end, 10), 0);
    EXPECT_EQ(end, none);

    errno = 0;
    EXPECT_EQ(wcstol(u"-2147483648", nullptr, 10), INT32_MIN);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(wcstol(u"2147483648", nullptr, 10), INT32_MAX);
    EXPECT_EQ(errno, ERANGE);
    errno = 0;
    EXPECT_EQ(wcstol(u"-99999999999999999999", &end, 10), INT32_MIN);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(*end, 0);

    errno = 0;
    EXPECT_EQ(wcstoul(u"4294967295", nullptr, 10), 0xFFFFFFFFu);
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(wcstoul(u"-1", nullptr, 10), 0xFFFFFFFFu);
    EXPECT_EQ(wcstoul(u"ffffffff", nullptr, 16), 0xFFFFFFFFu);
    EXPECT_EQ(wcstoul(u"4294967296", nullptr, 10), 0xFFFFFFFFu);
    EXPECT_EQ(errno, ERANGE);

    EXPECT_EQ(_wtoi(u"42abc"), 42);
    EXPECT_EQ(_wtoi(u" +7"), 7);
    EXPECT_EQ(_wtoi(u"99999999999"), INT32_MAX);
    EXPECT_EQ(_wtol(u"-15"), -15);
    static_assert(sizeof(wcstol(u"1", nullptr, 10)) == 4 && sizeof(wcstoul(u"1", nullptr, 10)) == 4);
}

TEST(WideC, CaseMapping)
{
    const std::pair<WCHAR, WCHAR> pairs[] = {
        {u'A', u'a'}, {u'Z', u'z'}, {u'É', u'é'}, {u'Þ', u'þ'}, {u'Ÿ', u'ÿ'}, {u'Ā', u'ā'}, {u'Ł', u'ł'},
        {u'Ž', u'ž'}, {u'Ŋ', u'ŋ'}, {u'Ω', u'ω'}, {u'Я', u'я'}, {u'Ё', u'ё'}, {u'Ａ', u'ａ'}, {u'Ｚ', u'ｚ'},
    };
    for (auto [upper, lower] : pairs) {
        EXPECT_EQ(towlower(upper), lower) << int(upper);
        EXPECT_EQ(towupper(lower), upper) << int(lower);
        EXPECT_EQ(towupper(upper), upper) << int(upper);
        EXPECT_EQ(towlower(lower), lower) << int(lower);
    }
    for (WCHAR same : {u'÷', u'×', u'ß', u'ı', u'İ', u'ĸ', u'あ', u'1', u'_', u'@', u'['})
        EXPECT_EQ(towupper(same), same) << int(same);
    for (WCHAR same : {u'×', u'÷', u'İ', u'@', u'['})
        EXPECT_EQ(towlower(same), same) << int(same);
    // Every mapping goes back to where it came from.
    for (int c = 0; c <= 0xFFFF; ++c) {
        WCHAR unit = static_cast<WCHAR>(c);
        if (towlower(unit) != unit) {
            ASSERT_EQ(towupper(towlower(unit)), unit) << c;
        }
        if (towupper(unit) != unit) {
            ASSERT_EQ(towlower(towupper(unit)), unit) << c;
        }
    }
}
