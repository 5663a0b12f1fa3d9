// Named shared memory between processes of one platform root.
//
// CreateFileMapping takes INVALID_HANDLE_VALUE (a section backed by the paging file, zero-filled);
// a name that exists gives a handle to that section with ERROR_ALREADY_EXISTS. OpenFileMapping
// fails with ERROR_FILE_NOT_FOUND when no section has the name. "Global\" and "Local\" name the
// same section (one namespace per platform root). A section lives while a process holds a handle
// or a view of it; a process that ends, however it ends, lets go of its own.
//
// MapViewOfFile: the offset a multiple of the allocation granularity (64 KiB), 0 bytes for the
// rest of the section; FILE_MAP_WRITE on a read-only section or handle, or a view past the end,
// fails with ERROR_ACCESS_DENIED.
#pragma once

#include "pal/errors.h"
#include "pal/types.h"

#define PAGE_READONLY 0x02
#define PAGE_READWRITE 0x04

#define FILE_MAP_WRITE 0x0002
#define FILE_MAP_READ 0x0004
#define FILE_MAP_ALL_ACCESS 0x000F001F

#define ERROR_MAPPED_ALIGNMENT 1132L

extern "C" {
PAL_EXPORT HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                     DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
PAL_EXPORT HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES lpFileMappingAttributes, DWORD flProtect,
                                     DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName);
PAL_EXPORT HANDLE OpenFileMappingW(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCWSTR lpName);
PAL_EXPORT HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
PAL_EXPORT LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                                DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
PAL_EXPORT BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);
}

#define CreateFileMapping CreateFileMappingW
#define OpenFileMapping OpenFileMappingW
