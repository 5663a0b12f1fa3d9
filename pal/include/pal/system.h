// The computer's and the user's names.
//
// GetComputerName: the first line of <root>/config/computer-name as written (blanks around it
// dropped), else the host name up to its first '.' in upper case; either cut to
// MAX_COMPUTERNAME_LENGTH characters. A buffer of fewer than length + 1 characters: FALSE with
// ERROR_BUFFER_OVERFLOW and *nSize = length + 1; success sets *nSize = length.
//
// GetUserName: while a thread impersonates a user (palSetThreadUserName) that user's name, else
// the name of the process's effective user. *pcbBuffer becomes the length with the terminator,
// on success and with ERROR_INSUFFICIENT_BUFFER for a short buffer alike.
//
// The A forms count bytes of the ANSI code page.
#pragma once

#include "pal/errors.h"
#include "pal/types.h"

#define MAX_COMPUTERNAME_LENGTH 15
#define UNLEN 256

extern "C" {
PAL_EXPORT BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize);
PAL_EXPORT BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize);
PAL_EXPORT BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer);
PAL_EXPORT BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer);

// For the spooler host: GetUserName on the calling thread gives name (the owner of the job whose
// monitor call the thread runs) until it is called with NULL.
PAL_EXPORT void palSetThreadUserName(LPCWSTR name);
}

#define GetComputerName GetComputerNameW
#define GetUserName GetUserNameW
