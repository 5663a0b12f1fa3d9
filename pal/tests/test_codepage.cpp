// Code-page conversions: CP932 bytes written by hand, the Windows size/error matrix, UTF-8, the CRT forms.
#include <algorithm>
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "../src/text/text_utf8.h"
#include "windows.h"

namespace {

// Converts with an exactly sized buffer; the result holds no terminator.
std::u16string toWide(UINT codePage, const std::string& bytes, DWORD flags = 0)
{
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), nullptr, 0);
    std::u16string result(needed, u'\0');
    int written = MultiByteToWideChar(codePage, flags, bytes.data(), int(bytes.size()), result.data(), needed);
    EXPECT_EQ(written, needed);
    return result;
}

std::string toBytes(UINT codePage, const std::u16string& text, DWORD flags = 0, LPCSTR defaultChar = nullptr,
                    BOOL* usedDefault = nullptr)
{
    int needed = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), nullptr, 0, defaultChar,
                                     usedDefault);
    std::string result(needed, '\0');
    int written = WideCharToMultiByte(codePage, flags, text.data(), int(text.size()), result.data(), needed,
                                      defaultChar, usedDefault);
    EXPECT_EQ(written, needed);
    return result;
}

int wideFails(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR out, int outLength)
{
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(codePage, flags, source, sourceLength, out, outLength), 0);
    return int(GetLastError());
}

int bytesFail(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR out, int outLength,
              LPCSTR defaultChar = nullptr, BOOL* usedDefault = nullptr)
{
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(codePage, flags, source, sourceLength, out, outLength, defaultChar, usedDefault), 0);
    return int(GetLastError());
}

} // namespace

TEST(Cp932, JapaneseTextBothWays)
{
    EXPECT_EQ(toBytes(932, u"日本語"), "\x93\xFA\x96\x7B\x8C\xEA");
    EXPECT_EQ(toWide(932, "\x93\xFA\x96\x7B\x8C\xEA"), u"日本語");
    // ﾃｽﾄ: half-width katakana are single bytes A1-DF.
    EXPECT_EQ(toBytes(932, u"\uFF83\uFF7D\uFF84"), "\xC3\xBD\xC4");
    EXPECT_EQ(toWide(932, "\xA1\xDF"), u"\uFF61\uFF9F");
    // A trail byte may be 0x5C or 0x7E: "表" is 95 5C, "ソ" is 83 5C.
    EXPECT_EQ(toWide(932, "\x95\x5C\x83\x5C"), u"表ソ");
    EXPECT_EQ(toBytes(932, u"表ソ"), "\x95\x5C\x83\x5C");
    // Full-width forms are JIS X 0208 characters.
    EXPECT_EQ(toBytes(932, u"Ａ～"), "\x82\x60\x81\x60");
}

TEST(Cp932, AsciiBytesStayAscii)
{
    EXPECT_EQ(toWide(932, "\x5C\x7E"), u"\\~");
    EXPECT_EQ(toBytes(932, u"\\~"), "\x5C\x7E");
    EXPECT_EQ(toWide(932, std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Cp932, WindowsExtraSingleBytes)
{
    EXPECT_EQ(toWide(932, "\x80\xA0\xFD\xFE\xFF"), u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3");
    EXPECT_EQ(toBytes(932, u"\u0080\uF8F0\uF8F1\uF8F2\uF8F3"), "\x80\xA0\xFD\xFE\xFF");
}

TEST(Cp932, UserDefinedAreaIsPrivateUse)
{
    EXPECT_EQ(toWide(932, "\xF0\x40\xF0\x7E\xF0\x80\xF9\xFC"), u"\uE000\uE03E\uE03F\uE757");
    EXPECT_EQ(toBytes(932, u"\uE000\uE757"), "\xF0\x40\xF9\xFC");
}

TEST(Cp932, DuplicateCodesEncodeToTheWindowsChoice)
{
    // NEC row 13 duplicates of JIS X 0208 decode alike and encode to the JIS code.
    EXPECT_EQ(toWide(932, "\x87\x90\x81\xE0"), u"≒≒");
    EXPECT_EQ(toBytes(932, u"≒"), "\x81\xE0");
    // ∵ exists three times (81E6, 879A, FA5B).
    EXPECT_EQ(toWide(932, "\x87\x9A\xFA\x5B"), u"∵∵");
    EXPECT_EQ(toBytes(932, u"∵"), "\x81\xE6");
    // ￢ at 81CA, EEF9 and FA54.
    EXPECT_EQ(toWide(932, "\xEE\xF9\xFA\x54"), u"￢￢");
    EXPECT_EQ(toBytes(932, u"￢"), "\x81\xCA");
    // NEC row 13 wins over the IBM extensions: Ⅰ (8754 / FA4A), № (8782 / FA59).
    EXPECT_EQ(toWide(932, "\xFA\x4A\xFA\x59"), u"Ⅰ№");
    EXPECT_EQ(toBytes(932, u"Ⅰ№"), "\x87\x54\x87\x82");
    // The IBM extensions win over the NEC-selected ones: ⅰ (EEEF / FA40), 髙 (EEE0 / FBFC), 纊 (ED40 / FA5C).
    EXPECT_EQ(toWide(932, "\xEE\xEF\xEE\xE0\xED\x40"), u"ⅰ髙纊");
    EXPECT_EQ(toBytes(932, u"ⅰ髙纊"), "\xFA\x40\xFB\xFC\xFA\x5C");
}

TEST(Cp932, InvalidBytesBecomeTheDefaultCharacter)
{
    // A lead byte at the end of the input.
    EXPECT_EQ(toWide(932, "A\x93"), u"A\u30FB");
    EXPECT_EQ(wideFails(932, MB_ERR_INVALID_CHARS, "A\x93", 2, nullptr, 0), ERROR_NO_UNICODE_TRANSLATION);
    // A lead byte before a byte that cannot trail it: the second byte stays itself.
    EXPECT_EQ(toWide(932, "\x93\n"), u"\u30FB\n");
    // With -1 the terminator ends a lead byte too.
    WCHAR out[4] = {1, 1, 1, 1};
    EXPECT_EQ(MultiByteToWideChar(932, 0, "\x93", -1, out, 4), 2);
    EXPECT_EQ(out[0], 0x30FB);
    EXPECT_EQ(out[1], 0);
    // An undefined pair (row 9 is empty) is one character.
    EXPECT_EQ(toWide(932, "\x85\x40Z"), u"\u30FBZ");
    EXPECT_EQ(wideFails(932, MB_ERR_INVALID_CHARS, "\x85\x40", 2, nullptr, 0), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(Cp932, UnmappableCharactersUseTheDefaultCharacter)
{
    BOOL used = 99;
    EXPECT_EQ(toBytes(932, u"abc", 0, nullptr, &used), "abc");
    EXPECT_EQ(used, FALSE);
    EXPECT_EQ(toBytes(932, u"é!", 0, nullptr, &used), "?!");
    EXPECT_EQ(used, TRUE);
    EXPECT_EQ(toBytes(932, u"é", 0, "*", nullptr), "*");
    EXPECT_EQ(toBytes(932, u"é", 0, "\x81\x45", nullptr), "\x81\x45"); // ・ as a double-byte default
    // Each unit of a surrogate pair is a character without a code.
    EXPECT_EQ(toBytes(932, u"\U0001F600"), "??");
}

TEST(Cp932, BestFitForYenAndOverline)
{
    BOOL used = 99;
    EXPECT_EQ(toBytes(932, u"¥‾", 0, nullptr, &used), "\x5C\x7E");
    EXPECT_EQ(used, FALSE);
    EXPECT_EQ(toBytes(932, u"¥‾", WC_NO_BEST_FIT_CHARS, nullptr, &used), "??");
    EXPECT_EQ(used, TRUE);
}

TEST(Cp932, TableHoldsEveryGroupOfTheCodePage)
{
    int jis = 0, necRow13 = 0, necSelectedIbm = 0, ibm = 0, userDefined = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (!IsDBCSLeadByteEx(932, BYTE(lead)))
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F)
                continue;
            char pair[2] = {char(lead), char(trail)};
            WCHAR unit = 0;
            if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, pair, 2, &unit, 1) != 1)
                continue;
            // Every defined pair comes back as itself or as the same character's preferred code.
            char back[2] = {};
            ASSERT_EQ(WideCharToMultiByte(932, 0, &unit, 1, back, 2, nullptr, nullptr), 2) << std::hex << lead << trail;
            WCHAR again = 0;
            ASSERT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, back, 2, &again, 1), 1);
            ASSERT_EQ(again, unit) << std::hex << lead << trail;
            if (lead == 0x87)
                ++necRow13;
            else if (lead == 0xED || lead == 0xEE)
                ++necSelectedIbm;
            else if (lead >= 0xFA)
                ++ibm;
            else if (lead >= 0xF0)
                ++userDefined;
            else
                ++jis;
        }
    }
    EXPECT_EQ(jis, 6879);
    EXPECT_EQ(necRow13, 83);
    EXPECT_EQ(necSelectedIbm, 374);
    EXPECT_EQ(ibm, 388);
    EXPECT_EQ(userDefined, 1880);
}

TEST(MultiByteToWideChar, SizesAndTerminator)
{
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\x93\xFA", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\x93\xFA", 4, nullptr, 0), 3);
    WCHAR out[6];
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "ab\x93\xFA", -1, out, 6), 4);
    EXPECT_EQ(std::u16string(out, 5), std::u16string(u"ab日\0#", 5));
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(MultiByteToWideChar(CP_THREAD_ACP, 0, "ab\x93\xFA", 4, out, 3), 3);
    EXPECT_EQ(std::u16string(out, 4), u"ab日#"); // no terminator with an explicit length
    EXPECT_EQ(wideFails(CP_ACP, 0, "ab\x93\xFA", -1, out, 3), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(wideFails(CP_OEMCP, 0, "ab", 2, out, 1), ERROR_INSUFFICIENT_BUFFER);
}

TEST(MultiByteToWideChar, InvalidParametersAndFlags)
{
    WCHAR out[8];
    EXPECT_EQ(wideFails(932, 0, nullptr, 3, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wideFails(932, 0, "abc", 0, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wideFails(932, 0, "abc", -2, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wideFails(932, 0, "abc", 3, out, -1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wideFails(932, 0, "abc", 3, nullptr, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wideFails(12345, 0, "abc", 3, out, 8), ERROR_INVALID_PARAMETER);
    char shared[16] = "abc";
    EXPECT_EQ(wideFails(932, 0, shared, 3, reinterpret_cast<LPWSTR>(shared), 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(wideFails(932, 0x10, "abc", 3, out, 8), ERROR_INVALID_FLAGS);
    EXPECT_EQ(wideFails(932, MB_PRECOMPOSED | MB_COMPOSITE, "abc", 3, out, 8), ERROR_INVALID_FLAGS);
    EXPECT_EQ(wideFails(CP_UTF8, MB_PRECOMPOSED, "abc", 3, out, 8), ERROR_INVALID_FLAGS);
    EXPECT_EQ(MultiByteToWideChar(932, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS, "abc", 3, out, 8), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "abc", 3, out, 8), 3);
}

TEST(WideCharToMultiByte, SizesAndTerminator)
{
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab日", -1, nullptr, 0, nullptr, nullptr), 5);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab日", 3, nullptr, 0, nullptr, nullptr), 4);
    char out[8];
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab日", -1, out, 8, nullptr, nullptr), 5);
    EXPECT_EQ(std::string(out, 6), std::string("ab\x93\xFA\0#", 6));
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"ab日", 3, out, 4, nullptr, nullptr), 4);
    EXPECT_EQ(std::string(out, 5), "ab\x93\xFA#");
    // A double-byte character never goes out half.
    EXPECT_EQ(bytesFail(CP_ACP, 0, u"ab日", 3, out, 3), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(bytesFail(CP_ACP, 0, u"ab日", -1, out, 4), ERROR_INSUFFICIENT_BUFFER);
}

TEST(WideCharToMultiByte, InvalidParametersAndFlags)
{
    char out[8];
    BOOL used = FALSE;
    EXPECT_EQ(bytesFail(932, 0, nullptr, 3, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(932, 0, u"abc", 0, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(932, 0, u"abc", -2, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(932, 0, u"abc", 3, out, -1), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(932, 0, u"abc", 3, nullptr, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(42, 0, u"abc", 3, out, 8), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(CP_UTF8, 0, u"abc", 3, out, 8, "?", nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(CP_UTF8, 0, u"abc", 3, out, 8, nullptr, &used), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(bytesFail(932, WC_ERR_INVALID_CHARS, u"abc", 3, out, 8), ERROR_INVALID_FLAGS);
    EXPECT_EQ(bytesFail(932, 0x8000, u"abc", 3, out, 8), ERROR_INVALID_FLAGS);
    EXPECT_EQ(bytesFail(CP_UTF8, WC_NO_BEST_FIT_CHARS, u"abc", 3, out, 8), ERROR_INVALID_FLAGS);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"abc", 3, out, 8, nullptr, nullptr), 3);
}

TEST(Utf8, BothWays)
{
    EXPECT_EQ(toBytes(CP_UTF8, u"日本語"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    EXPECT_EQ(toBytes(CP_UTF8, u"é\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(toWide(CP_UTF8, "\xC3\xA9\xF0\x9F\x98\x80"), u"é\U0001F600");
    EXPECT_EQ(toWide(CP_UTF8, "\xEF\xBF\xBF\xF4\x8F\xBF\xBF"), u"\uFFFF\U0010FFFF");
    // the edges of the well-formed sequences: second bytes limited after E0, ED, F0 and F4
    EXPECT_EQ(toWide(CP_UTF8, "\xC2\x80\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80"),
              u"\u0080\u0800\uD7FF\uE000\U00010000");
}

TEST(Utf8, InvalidInputBecomesReplacementCharacters)
{
    EXPECT_EQ(toWide(CP_UTF8, "a\xC3"), u"a\uFFFD");
    EXPECT_EQ(toWide(CP_UTF8, "\xE6\x97" "A"), u"\uFFFDA");           // a truncated sequence is one
    EXPECT_EQ(toWide(CP_UTF8, "\xC0\xAF"), u"\uFFFD\uFFFD");           // overlong
    EXPECT_EQ(toWide(CP_UTF8, "\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD"); // an encoded surrogate
    EXPECT_EQ(toWide(CP_UTF8, "\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(toWide(CP_UTF8, "\xE0\x9F\xBF"), u"\uFFFD\uFFFD\uFFFD");     // overlong three bytes
    EXPECT_EQ(toWide(CP_UTF8, "\xF0\x8F\xBF\xBF"), u"\uFFFD\uFFFD\uFFFD\uFFFD"); // overlong four
    EXPECT_EQ(toWide(CP_UTF8, "\xF5\x80\xC1\xBFz"), u"\uFFFD\uFFFD\uFFFD\uFFFDz"); // never a lead byte
    EXPECT_EQ(toWide(CP_UTF8, "\xF0\x9F\x98z"), u"\uFFFDz");                // a cut four-byte one is one
    EXPECT_EQ(wideFails(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xC3", 2, nullptr, 0), ERROR_NO_UNICODE_TRANSLATION);

    EXPECT_EQ(toBytes(CP_UTF8, u"a\xD800" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(toBytes(CP_UTF8, u"\xDC00"), "\xEF\xBF\xBD");
    EXPECT_EQ(bytesFail(CP_UTF8, WC_ERR_INVALID_CHARS, u"a\xD800", 2, nullptr, 0), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(Utf8, LayerHelpers)
{
    EXPECT_EQ(pal::toUtf8(u"C:\\日本"), "C:\\\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(pal::toUtf8(static_cast<const WCHAR*>(nullptr)), "");
    EXPECT_EQ(pal::fromUtf8("\xE6\x97\xA5\xFF"), u"日\uFFFD");
    EXPECT_EQ(pal::fromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Cp1252, HighBytes)
{
    EXPECT_EQ(toWide(1252, "\x80\x81\x9F\xE9"), u"€\u0081Ÿé");
    EXPECT_EQ(toBytes(1252, u"€\u0081Ÿé"), "\x80\x81\x9F\xE9");
    EXPECT_EQ(toBytes(1252, u"日\u0080"), "??");
}

TEST(Dbcs, CharNextStepsOverWholeCharacters)
{
    const char text[] = "A\x93\xFA\xB1\x93";
    LPSTR p = const_cast<LPSTR>(text);
    p = CharNextExA(932, p, 0);
    EXPECT_EQ(p, text + 1);
    p = CharNextExA(932, p, 0);
    EXPECT_EQ(p, text + 3); // 日
    p = CharNextExA(932, p, 0);
    EXPECT_EQ(p, text + 4); // half-width ｱ
    p = CharNextExA(CP_ACP, p, 0);
    EXPECT_EQ(p, text + 5); // a lead byte before the NUL
    EXPECT_EQ(CharNextExA(932, p, 0), p);
    EXPECT_EQ(CharNextA(text + 1), text + 3);
    EXPECT_EQ(CharNextExA(CP_UTF8, text + 1, 0), text + 2);
}

TEST(Dbcs, LeadBytesAndCodePage)
{
    EXPECT_EQ(GetACP(), 932u);
    EXPECT_EQ(GetOEMCP(), 932u);
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0x9F));
    EXPECT_TRUE(IsDBCSLeadByte(0xE0));
    EXPECT_TRUE(IsDBCSLeadByteEx(932, 0xFC));
    EXPECT_FALSE(IsDBCSLeadByte(0x80));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));
    EXPECT_FALSE(IsDBCSLeadByte(0xDF));
    EXPECT_FALSE(IsDBCSLeadByte(0xFD));
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_UTF8, 0xE6));
}

class CrtLocale : public ::testing::Test {
protected:
    void SetUp() override { locale = _create_locale(LC_ALL, "ja-JP"); ASSERT_NE(locale, nullptr); }
    void TearDown() override { _free_locale(locale); }
    _locale_t locale = nullptr;
};

TEST_F(CrtLocale, WideToMultiByte)
{
    char out[16];
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(_wcstombs_l(out, u"日本語abc", sizeof out, locale), 9u);
    EXPECT_EQ(std::string(out, 10), std::string("\x93\xFA\x96\x7B\x8C\xEA" "abc\0", 10));
    EXPECT_EQ(_wcstombs_l(nullptr, u"日本語abc", 0, locale), 9u);
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(_wcstombs_l(out, u"日本語", 4, locale), 4u);
    EXPECT_EQ(std::string(out, 5), "\x93\xFA\x96\x7B#"); // full: no terminator
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(_wcstombs_l(out, u"日本語", 3, locale), 2u); // 本 would not fit whole
    EXPECT_EQ(std::string(out, 3), "\x93\xFA#");

    errno = 0;
    EXPECT_EQ(_wcstombs_l(out, u"aé", sizeof out, locale), size_t(-1));
    EXPECT_EQ(errno, EILSEQ);
    errno = 0;
    EXPECT_EQ(_wcstombs_l(nullptr, u"¥", 0, locale), size_t(-1)); // no best fit in the CRT
    EXPECT_EQ(errno, EILSEQ);
    errno = 0;
    EXPECT_EQ(_wcstombs_l(out, nullptr, sizeof out, locale), size_t(-1));
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(CrtLocale, MultiByteToWide)
{
    WCHAR out[8];
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(_mbstowcs_l(out, "\x93\xFA\xB1z", 8, locale), 3u);
    EXPECT_EQ(std::u16string(out, 5), std::u16string(u"日ｱz\0#", 5));
    EXPECT_EQ(_mbstowcs_l(nullptr, "\x93\xFA\xB1z", 0, locale), 3u);
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(_mbstowcs_l(out, "\x93\xFA\xB1z", 2, locale), 2u);
    EXPECT_EQ(std::u16string(out, 3), u"日ｱ#");
    errno = 0;
    EXPECT_EQ(_mbstowcs_l(out, "a\x93", 8, locale), size_t(-1));
    EXPECT_EQ(errno, EILSEQ);
}

TEST(CrtLocaleNames, KnownAndUnknown)
{
    for (const char* name : {"ja-JP", "JA-jp", "ja_JP", "Japanese_Japan.932", ".932"}) {
        _locale_t locale = _create_locale(LC_ALL, name);
        ASSERT_NE(locale, nullptr) << name;
        char out[4] = {};
        EXPECT_EQ(_wcstombs_l(out, u"日", sizeof out, locale), 2u) << name;
        _free_locale(locale);
    }
    _locale_t utf8 = _create_locale(LC_CTYPE, ".UTF8");
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(_wcstombs_l(nullptr, u"日", 0, utf8), 3u);
    _free_locale(utf8);
    EXPECT_EQ(_create_locale(LC_ALL, "xx-XX"), nullptr);
    EXPECT_EQ(_create_locale(LC_NUMERIC, "ja-JP"), nullptr);
    EXPECT_EQ(_create_locale(LC_ALL, nullptr), nullptr);
    _free_locale(nullptr);
}
