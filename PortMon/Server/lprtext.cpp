// The texts of LPR: file names, commands and the control file, built as wide text and sent as
// multibyte text of code page 932.
#include <cstdlib>
#include <cstring>

#include "lpr.h"

#define LPR_UNMAPPED_CHAR '?'

// Multibyte form of the text, with its NUL; FALSE when it does not fit or cannot be converted.
static BOOL ToLprText(LPCWSTR pszText, char* pszOut, size_t cbOut, LPDWORD pcb)
{
    _locale_t locale = _create_locale(LC_ALL, MON_TEXT_LOCALE);
    if (!locale)
        return FALSE;
    size_t cb = _wcstombs_l(NULL, pszText, 0, locale);
    BOOL bFits = cb != (size_t)-1 && cb < cbOut;
    if (bFits)
        _wcstombs_l(pszOut, pszText, cbOut, locale);
    _free_locale(locale);
    if (bFits && pcb)
        *pcb = (DWORD)cb;
    return bFits;
}

// Whole characters of the text while fewer than cbOut bytes are used; a character without a code in
// the locale becomes '?'.
static void ToLprTextCut(LPCWSTR pszText, char* pszOut, size_t cbOut)
{
    size_t cbUsed = 0;
    char szChar[8];
    for (const WCHAR* p = pszText; *p; p++) {
        WCHAR szOne[2] = {*p, 0};
        DWORD cbChar = 0;
        if (!ToLprText(szOne, szChar, sizeof(szChar), &cbChar)) {
            szChar[0] = LPR_UNMAPPED_CHAR;
            cbChar = 1;
        }
        if (cbUsed + cbChar >= cbOut)
            break;
        memcpy(pszOut + cbUsed, szChar, cbChar);
        cbUsed += cbChar;
    }
    pszOut[cbUsed] = '\0';
}

// Control characters would end a control-file line early: they become blanks. Trail bytes of
// double-byte characters are never below 0x40, so bytes are tested one by one.
static void BlankControlChars(char* pszText)
{
    for (char* p = pszText; *p; p++) {
        BYTE b = (BYTE)*p;
        if (b < 0x20 || b == 0x7F)
            *p = ' ';
    }
}

// The document name in fewer than LPR_DOCUMENT_BYTES bytes, cut between characters.
static void CutDocumentName(LPCWSTR pszDocument, char* pszOut, size_t cbOut)
{
    if (cbOut > LPR_DOCUMENT_BYTES)
        cbOut = LPR_DOCUMENT_BYTES;
    ToLprTextCut(pszDocument ? pszDocument : W(""), pszOut, cbOut);
    BlankControlChars(pszOut);
}

BOOL ReadComputerName(LPWSTR pszName, size_t cchName)
{
    DWORD cch = (DWORD)cchName;
    if (!g_MonSys.pfnGetComputerNameW(pszName, &cch)) {
        pszName[0] = W('\0');
        return FALSE;
    }
    return TRUE;
}

// "cfA" or "dfA", the job id modulo 1000 in three digits, the computer name.
BOOL LprFileName(char chKind, DWORD dwJobId, LPCWSTR pszComputer, LPWSTR pszName, size_t cchName)
{
    return swprintf_s(pszName, cchName, W("%cfA%03d%s"), (WCHAR)chKind, (int)(dwJobId % 1000), pszComputer) > 0;
}

static BOOL CommandFromWide(LPCWSTR pszCommand, LprCommand* pCommand)
{
    return ToLprText(pszCommand, pCommand->bytes, sizeof(pCommand->bytes), &pCommand->cb);
}

BOOL MakeReceiveJobCommand(const PortEntry* pPort, LprCommand* pCommand)
{
    WCHAR szCommand[LPR_COMMAND_CHARS + 1];
    return swprintf_s(szCommand, _countof(szCommand), W("%c%s\n"), (WCHAR)2, pPort->pszQueue) > 0 &&
           CommandFromWide(szCommand, pCommand);
}

BOOL MakeControlFileCommand(const PortEntry* pPort, LPCWSTR pszComputer, LprCommand* pCommand)
{
    WCHAR szName[LPR_NAME_CHARS];
    WCHAR szCommand[LPR_COMMAND_CHARS + 1];
    return LprFileName('c', pPort->dwJobId, pszComputer, szName, _countof(szName)) &&
           swprintf_s(szCommand, _countof(szCommand), W("%c%ld %s\n"), (WCHAR)2, pPort->dwCtrlFileLen, szName) > 0 &&
           CommandFromWide(szCommand, pCommand);
}

// The data file announced by its size, or by the size text when the size is unknown.
BOOL MakeDataFileCommand(ULONGLONG ullSize, LPCWSTR pszSizeText, const PortEntry* pPort, LPCWSTR pszComputer,
                         LprCommand* pCommand)
{
    WCHAR szName[LPR_NAME_CHARS];
    WCHAR szCommand[LPR_COMMAND_CHARS + 1];
    if (!LprFileName('d', pPort->dwJobId, pszComputer, szName, _countof(szName)))
        return FALSE;
    int cch = pszSizeText ? swprintf_s(szCommand, _countof(szCommand), W("%c%s %s\n"), (WCHAR)3, pszSizeText, szName)
                          : swprintf_s(szCommand, _countof(szCommand), W("%c%I64u %s\n"), (WCHAR)3, ullSize, szName);
    return cch > 0 && CommandFromWide(szCommand, pCommand);
}

// "H%s\nP%s\nJ%s\nN%s\nl%s\nU%s\n": host, user, job and document name, the data file to print
// and to unlink.
static BOOL MakeControlFile(PPortEntry pPort, LPCWSTR pszComputer, LPCWSTR pszUser, LPCWSTR pszDocument)
{
    WCHAR szDataFile[LPR_NAME_CHARS];
    char szHost[2 * LPR_COMPUTER_NAME_CHARS + 1];
    char szUser[2 * LPR_USER_NAME_CHARS + 1];
    char szDocument[LPR_DOCUMENT_BYTES];
    char szDataName[2 * LPR_NAME_CHARS + 1];
    char szUnlink[2 * LPR_NAME_CHARS + 1];
    if (!LprFileName('d', pPort->dwJobId, pszComputer, szDataFile, _countof(szDataFile)) ||
        !ToLprText(pszComputer, szHost, sizeof(szHost), NULL) || !ToLprText(pszUser, szUser, sizeof(szUser), NULL) ||
        !ToLprText(szDataFile, szDataName, sizeof(szDataName), NULL))
        return FALSE;
    CutDocumentName(pszDocument, szDocument, sizeof(szDocument));
    memcpy(szUnlink, szDataName, sizeof(szUnlink));
    BlankControlChars(szHost);
    BlankControlChars(szUser);
    BlankControlChars(szUnlink);
    int cb = sprintf_s(pPort->szCtrlFile, sizeof(pPort->szCtrlFile), "H%s\nP%s\nJ%s\nN%s\nl%s\nU%s\n", szHost, szUser,
                       szDocument, szDocument, szDataName, szUnlink);
    if (cb <= 0)
        return FALSE;
    pPort->dwCtrlFileLen = (DWORD)cb;
    return TRUE;
}

static void ReadUserName(LPWSTR pszUser, size_t cchUser)
{
    WCHAR szFull[UNLEN + 1];
    DWORD cch = _countof(szFull);
    if (!g_MonSys.pfnGetUserNameW(szFull, &cch))
        szFull[0] = W('\0');
    StringCchCopyNW(pszUser, cchUser, szFull, cchUser - 1);
}

BOOL PrepareControlFile(PPortEntry pPort)
{
    WCHAR szComputer[LPR_COMPUTER_NAME_CHARS + 1];
    WCHAR szUser[LPR_USER_NAME_CHARS + 1];
    ReadComputerName(szComputer, _countof(szComputer));
    ReadUserName(szUser, _countof(szUser));
    LPBYTE pJob = QueryJob(pPort->hPrinter, pPort->dwJobId, 1);
    LPCWSTR pszDocument = pJob ? ((PJOB_INFO_1W)pJob)->pDocument : NULL;
    BOOL bMade = MakeControlFile(pPort, szComputer, szUser, pszDocument);
    free(pJob);
    return bMade;
}

// [LprSystem] NoByteCountMax of JTRKMON2.INI in the system directory: digits only, else the default.
void ReadNoByteCountMax(LPWSTR pszText, size_t cchText)
{
    WCHAR szPath[MAX_PATH + 1];
    UINT cchDir = GetSystemDirectoryW(szPath, MAX_PATH);
    BOOL bPath = cchDir > 0 && cchDir < MAX_PATH;
    if (bPath && szPath[cchDir - 1] != W('\\'))
        bPath = StringCchCatW(szPath, _countof(szPath), W("\\")) == S_OK;
    bPath = bPath && StringCchCatW(szPath, _countof(szPath), LPR_INI_FILE) == S_OK;
    pszText[0] = W('\0');
    if (bPath)
        GetPrivateProfileStringW(LPR_INI_SECTION, LPR_INI_NO_BYTE_COUNT_MAX, LPR_DEFAULT_NO_BYTE_COUNT_MAX, pszText,
                                 (DWORD)cchText, szPath);
    BOOL bDigits = pszText[0] != W('\0');
    for (const WCHAR* p = pszText; *p && bDigits; p++)
        bDigits = *p >= W('0') && *p <= W('9');
    if (!bDigits)
        StringCchCopyW(pszText, cchText, LPR_DEFAULT_NO_BYTE_COUNT_MAX);
}
