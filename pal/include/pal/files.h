// Files, Windows paths, run-time loaded modules and the environment.
//
// Paths. "C:\..." (either separator, either letter case) is the C: drive, the folder drive_c of the
// platform root; "\..." is the root of C: as well. Each component is looked up case-insensitively
// against what exists (an exact match wins); a new final component gets the case it was given.
// "." and ".." are resolved by text, trailing dots and blanks of a component are dropped, as
// Windows does. Relative paths are relative to the process's current folder. A path starting with
// '/' is a Linux path and is used as it is (tools and tests name files outside the root this way).
// Other drives give ERROR_PATH_NOT_FOUND, UNC paths ERROR_BAD_NETPATH, < > : " | ? * in a name
// ERROR_INVALID_NAME.
//
// Sharing. The share modes of CreateFile are enforced between every open of a file, in this
// process and across processes: each open with data access holds shared record locks (OFD locks)
// on a record file <root>/run/files/<device>-<inode> (without a root, in the system's temporary
// folder) that say which access it has and which it denies; an open that conflicts fails with
// ERROR_SHARING_VIOLATION. DeleteFile, MoveFileEx and CopyFile take part like an open.
//
// Appending. A handle opened with FILE_APPEND_DATA but without FILE_WRITE_DATA always appends, and
// a handle whose pointer was last moved to the end (SetFilePointer(h, 0, ..., FILE_END)) appends
// with every write until the pointer is moved elsewhere; both append atomically (O_APPEND), so that
// writers in several threads and processes never overwrite each other's lines.
#pragma once

#include "pal/errors.h"
#include "pal/handles.h"
#include "pal/types.h"

// ---- Access rights, share modes, creation dispositions, attributes

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define DELETE 0x00010000u
#define FILE_READ_DATA 0x0001u
#define FILE_LIST_DIRECTORY 0x0001u
#define FILE_WRITE_DATA 0x0002u
#define FILE_ADD_FILE 0x0002u
#define FILE_APPEND_DATA 0x0004u
#define FILE_READ_EA 0x0008u
#define FILE_WRITE_EA 0x0010u
#define FILE_EXECUTE 0x0020u
#define FILE_READ_ATTRIBUTES 0x0080u
#define FILE_WRITE_ATTRIBUTES 0x0100u
#define FILE_GENERIC_READ 0x00120089u
#define FILE_GENERIC_WRITE 0x00120116u
#define FILE_GENERIC_EXECUTE 0x001200A0u
#define FILE_ALL_ACCESS 0x001F01FFu

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_OVERLAPPED 0x40000000u
#define FILE_FLAG_NO_BUFFERING 0x20000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u

#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define MOVEFILE_REPLACE_EXISTING 0x00000001u
#define MOVEFILE_COPY_ALLOWED 0x00000002u
#define MOVEFILE_WRITE_THROUGH 0x00000008u

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;
static_assert(sizeof(void*) != 8 || sizeof(OVERLAPPED) == 32, "OVERLAPPED has its Windows x64 size");
static_assert(offsetof(OVERLAPPED, Offset) == 2 * sizeof(ULONG_PTR), "OVERLAPPED.Offset");

typedef struct _WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    WCHAR cFileName[MAX_PATH];
    WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *PWIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;
static_assert(sizeof(WIN32_FIND_DATAW) == 592, "WIN32_FIND_DATAW has its Windows size");
static_assert(offsetof(WIN32_FIND_DATAW, cFileName) == 44, "WIN32_FIND_DATAW.cFileName");

extern "C" {
// ---- Files
PAL_EXPORT HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                              DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
PAL_EXPORT HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                              LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                              DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// With an OVERLAPPED on a file, the transfer happens at its Offset, completes at once and sets its
// event. Reading at or past the end succeeds with 0 bytes.
PAL_EXPORT BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                         LPOVERLAPPED lpOverlapped);
PAL_EXPORT BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                          LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
PAL_EXPORT DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod);
PAL_EXPORT BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                                 DWORD dwMoveMethod);
PAL_EXPORT DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
PAL_EXPORT BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
PAL_EXPORT BOOL FlushFileBuffers(HANDLE hFile);
PAL_EXPORT BOOL SetEndOfFile(HANDLE hFile);
PAL_EXPORT BOOL DeleteFileW(LPCWSTR lpFileName);
PAL_EXPORT BOOL DeleteFileA(LPCSTR lpFileName);
// Regular files have FILE_ATTRIBUTE_ARCHIVE, plus FILE_ATTRIBUTE_READONLY without owner write
// permission; folders FILE_ATTRIBUTE_DIRECTORY.
PAL_EXPORT DWORD GetFileAttributesW(LPCWSTR lpFileName);
PAL_EXPORT DWORD GetFileAttributesA(LPCSTR lpFileName);
PAL_EXPORT BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
PAL_EXPORT BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
PAL_EXPORT BOOL RemoveDirectoryW(LPCWSTR lpPathName);
PAL_EXPORT BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists);
PAL_EXPORT BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
PAL_EXPORT BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags);
PAL_EXPORT BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName);
// Patterns with * and ? in the last component, matched without regard to case; "*.*" matches
// every name.
PAL_EXPORT HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData);
PAL_EXPORT BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData);
PAL_EXPORT BOOL FindClose(HANDLE hFindFile);

// ---- Windows folders and path helpers
// C:\Windows\System32, C:\Windows and C:\Windows\Temp\ (the folders are created). A short buffer
// gives the size needed with the terminator; otherwise the length without it.
PAL_EXPORT UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
PAL_EXPORT UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
PAL_EXPORT UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);
PAL_EXPORT UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
PAL_EXPORT DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
PAL_EXPORT DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer);
PAL_EXPORT BOOL PathFileExistsW(LPCWSTR pszPath);
PAL_EXPORT BOOL PathFileExistsA(LPCSTR pszPath);
// Removes the last component and its separator ("C:\a\b" -> "C:\a", "C:\a" -> "C:\"); FALSE when
// nothing was removed.
PAL_EXPORT BOOL PathRemoveFileSpecW(LPWSTR pszPath);
// Joins with exactly one backslash; FALSE (path unchanged) when the result would not fit MAX_PATH.
PAL_EXPORT BOOL PathAppendW(LPWSTR pszPath, LPCWSTR pszMore);
}

// ---- CRT path splitting (both separators)
#define _MAX_PATH 260
#define _MAX_DRIVE 3
#define _MAX_DIR 256
#define _MAX_FNAME 256
#define _MAX_EXT 256

typedef int errno_t;

extern "C" {
// Sizes are in characters with the terminator; a NULL part needs size 0. EINVAL for a NULL path or a
// buffer/size mismatch, ERANGE when a part does not fit; on either error every given part is
// emptied. The narrow forms step over double-byte characters of the ANSI code page.
PAL_EXPORT errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveNumberOfElements, WCHAR* dir,
                                 size_t dirNumberOfElements, WCHAR* fname, size_t nameNumberOfElements, WCHAR* ext,
                                 size_t extNumberOfElements);
PAL_EXPORT errno_t _splitpath_s(const char* path, char* drive, size_t driveNumberOfElements, char* dir,
                                size_t dirNumberOfElements, char* fname, size_t nameNumberOfElements, char* ext,
                                size_t extNumberOfElements);
// The parts' buffers hold _MAX_DRIVE, _MAX_DIR, _MAX_FNAME and _MAX_EXT characters.
PAL_EXPORT void _wsplitpath(const WCHAR* path, WCHAR* drive, WCHAR* dir, WCHAR* fname, WCHAR* ext);
PAL_EXPORT void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);
// drive's first letter plus ':', dir plus a backslash unless it ends in a separator, fname, '.' unless
// ext starts with one, ext. EINVAL for a NULL path or size 0, ERANGE (path emptied) when too small.
PAL_EXPORT errno_t _wmakepath_s(WCHAR* path, size_t sizeInWords, const WCHAR* drive, const WCHAR* dir,
                                const WCHAR* fname, const WCHAR* ext);
PAL_EXPORT errno_t _makepath_s(char* path, size_t sizeInBytes, const char* drive, const char* dir, const char* fname,
                               const char* ext);
}

// ---- Modules
// A Windows module name ("JTRKMNUI2.DLL", "C:\...\VxRouting.dll") names the shared object of the
// same base name with ".so", found without regard to case in the folder the name gives (mapped as
// above), else beside the executable, else beside libpal.so. A name without an extension gets
// ".dll" first, as on Windows. A module's constructors run as its DllMain. Built-in modules
// registered with palRegisterBuiltinModule come first.
//
// GetModuleFileName: a module (the executable included) below <root>/drive_c gives its C: path;
// any other gives "C:\Program Files\" plus its file name, the executable's with ".exe" appended and a
// module's ".so" replaced by ".dll". So the executable ./JTRKSVC2 is "C:\Program Files\JTRKSVC2.exe"
// and its INI file "C:\Program Files\JTRKSVC2.ini". palSetModuleFileName overrides the executable's.
//
// GetProcAddress with an ordinal (a value below 0x10000) looks the ordinal up in the module's
// exported table palOrdinalExports, an array of PAL_ORDINAL_EXPORT ended by an entry with ordinal 0.

// void (*)(void) rather than Windows' INT_PTR (*)(): the one function type that casts to and from
// every other without -Wcast-function-type, and FARPROC is only ever cast.
typedef void(WINAPI* FARPROC)(void);
typedef FARPROC(*PalBuiltinResolver)(LPCSTR procName, void* context);

typedef struct _PAL_ORDINAL_EXPORT {
    WORD ordinal;
    LPCSTR name;
} PAL_ORDINAL_EXPORT;

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

extern "C" {
PAL_EXPORT HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
PAL_EXPORT HMODULE LoadLibraryA(LPCSTR lpLibFileName);
// Flags are accepted; every module resolves its own dependencies beside itself.
PAL_EXPORT HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
PAL_EXPORT HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
PAL_EXPORT BOOL FreeLibrary(HMODULE hLibModule);
PAL_EXPORT FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// NULL: the executable. A name finds a loaded module (or a built-in one) by its base name.
PAL_EXPORT HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
PAL_EXPORT HMODULE GetModuleHandleA(LPCSTR lpModuleName);
PAL_EXPORT BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
// A short buffer gets the path cut to nSize - 1 characters and terminated; the result is then nSize
// with ERROR_INSUFFICIENT_BUFFER.
PAL_EXPORT DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
PAL_EXPORT DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// Test hook: the Windows path GetModuleFileName gives for the executable ("" makes it fail); NULL
// restores the mapped path of the real executable.
PAL_EXPORT void palSetModuleFileName(LPCWSTR path);
// Serves LoadLibrary(name) from the process itself (the spooler host's "SPOOLSS.DLL"): GetProcAddress
// on its handle asks resolver. A name without an extension gets ".dll". A NULL resolver removes
// the module. FALSE for a NULL or empty name.
PAL_EXPORT BOOL palRegisterBuiltinModule(LPCWSTR name, PalBuiltinResolver resolver, void* context);
}

// ---- Environment
// Names compare without regard to case (an exact match first). Values live in the process
// environment as UTF-8, so child processes inherit them.
extern "C" {
// A short buffer gives the size needed with the terminator; a missing name 0 with
// ERROR_ENVVAR_NOT_FOUND.
PAL_EXPORT DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
PAL_EXPORT DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);
// NULL value removes the variable.
PAL_EXPORT BOOL SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
PAL_EXPORT BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue);
// %NAME% of a defined variable is replaced; anything else stays as written. Returns the size
// needed with the terminator, whether or not it fit.
PAL_EXPORT DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);
PAL_EXPORT DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);
}

#define CreateFile CreateFileW
#define DeleteFile DeleteFileW
#define GetFileAttributes GetFileAttributesW
#define CreateDirectory CreateDirectoryW
#define RemoveDirectory RemoveDirectoryW
#define CopyFile CopyFileW
#define MoveFileEx MoveFileExW
#define MoveFile MoveFileW
#define FindFirstFile FindFirstFileW
#define FindNextFile FindNextFileW
#define WIN32_FIND_DATA WIN32_FIND_DATAW
#define GetSystemDirectory GetSystemDirectoryW
#define GetWindowsDirectory GetWindowsDirectoryW
#define GetTempPath GetTempPathW
#define PathFileExists PathFileExistsW
#define PathRemoveFileSpec PathRemoveFileSpecW
#define PathAppend PathAppendW
#define LoadLibrary LoadLibraryW
#define LoadLibraryEx LoadLibraryExW
#define GetModuleHandle GetModuleHandleW
#define GetModuleFileName GetModuleFileNameW
#define GetEnvironmentVariable GetEnvironmentVariableW
#define SetEnvironmentVariable SetEnvironmentVariableW
#define ExpandEnvironmentStrings ExpandEnvironmentStringsW
