// Named pipes, overlapped-I/O results and the security descriptors that pipes read.
//
// A pipe "\\.\pipe\NAME" (NAME compared without regard to ASCII case) lives in the platform root:
//   <root>/run/pipes/KEY/            KEY: NAME in lower case, letters, digits, '.', '_' and '-' kept,
//                                    every other UTF-16 unit written "%xxxx" (4 hex digits); a key
//                                    longer than 64 characters becomes "#" and 16 hex digits of a
//                                    hash of the lower-case name
//   <root>/run/pipes/KEY/instances   the instance count: byte 0-3 the first instance's
//                                    nMaxInstances (LE); each live instance holds a lock on one byte
//                                    at 4096 + slot, so instances are counted across processes and
//                                    released when a process ends
//   <root>/run/pipes/KEY/PID-N.sock  a Unix stream socket of each process that has instances
// Without a platform root the pipes live in /tmp/pal-pipes-UID.
//
// The bytes on a socket (every number little-endian):
//   client -> server  "PIPE" + uint32 desired access   open one instance
//                     "WAIT" + uint32 0                 ask whether an instance is free (no open)
//   server -> client  uint32 result (0, 231 busy, 5 access denied) + uint32 word: after "PIPE" the
//                     pipe type (PIPE_TYPE_MESSAGE or 0), after "WAIT" the default time-out in ms
//   then, both ways   uint32 length + that many bytes: one message (length 0 is a message);
//                     length 0xFFFFFFFF from the server: DisconnectNamedPipe (no payload)
// Every process has one I/O thread that accepts connections and reads incoming messages into the
// receiving handle's queue; writes go straight to the socket and complete at once.
//
// Windows behaviour kept here:
// - An instance takes a client from its creation on; after DisconnectNamedPipe it takes none until
//   ConnectNamedPipe. A client finding no free instance gets ERROR_PIPE_BUSY, no pipe at all
//   ERROR_FILE_NOT_FOUND. ConnectNamedPipe gives ERROR_PIPE_CONNECTED when a client came first and
//   ERROR_NO_DATA when that client has already closed (its messages stay readable).
// - Reading: ERROR_PIPE_LISTENING before a client came, ERROR_BROKEN_PIPE once the other end closed
//   and its messages are read, ERROR_PIPE_NOT_CONNECTED after DisconnectNamedPipe (both ends).
//   In message read mode a read takes one message; a short buffer takes its first bytes with
//   ERROR_MORE_DATA and the rest stays readable. Writing after the other end closed: ERROR_NO_DATA.
// - Security: a descriptor whose DACL is present and NULL admits every local user; any other
//   (or none) admits the pipe's owner (the creating process's user) and root. Others get
//   ERROR_ACCESS_DENIED, as do clients whose access does not fit PIPE_ACCESS_INBOUND/OUTBOUND.
// - Overlapped: on a handle made with FILE_FLAG_OVERLAPPED, a ConnectNamedPipe or ReadFile that must
//   wait returns FALSE with ERROR_IO_PENDING, resets the OVERLAPPED's event and sets it when done;
//   Internal holds ERROR_IO_PENDING meanwhile, then the Windows error, InternalHigh the bytes. A
//   handle without that flag (or a call without an OVERLAPPED) waits in the call.
//
// Choices where Windows leaves room:
// - DisconnectNamedPipe on an instance that waits for a client ends the waiting ConnectNamedPipe
//   with ERROR_PIPE_NOT_CONNECTED and succeeds; CloseHandle ends pending calls with
//   ERROR_OPERATION_ABORTED. Neither touches an OVERLAPPED after it returns.
// - CallNamedPipe gives up the exchange (write, then read of the reply) after 5 s, scaled by the
//   time knob, with ERROR_SEM_TIMEOUT; nTimeOut only bounds the wait for a free instance
//   (NMPWAIT_NOWAIT: none). WaitNamedPipe's time-out also gives ERROR_SEM_TIMEOUT.
// - The buffer sizes of CreateNamedPipe are accepted; a reading process queues what arrives, so
//   writes never wait for the reader, and FlushFileBuffers returns at once.
#pragma once

#include "pal/errors.h"
#include "pal/files.h"
#include "pal/handles.h"
#include "pal/types.h"

#define PIPE_ACCESS_INBOUND 0x00000001u
#define PIPE_ACCESS_OUTBOUND 0x00000002u
#define PIPE_ACCESS_DUPLEX 0x00000003u
#define FILE_FLAG_FIRST_PIPE_INSTANCE 0x00080000u

#define PIPE_WAIT 0x00000000u
#define PIPE_NOWAIT 0x00000001u
#define PIPE_READMODE_BYTE 0x00000000u
#define PIPE_READMODE_MESSAGE 0x00000002u
#define PIPE_TYPE_BYTE 0x00000000u
#define PIPE_TYPE_MESSAGE 0x00000004u
#define PIPE_ACCEPT_REMOTE_CLIENTS 0x00000000u
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008u

#define PIPE_UNLIMITED_INSTANCES 255

#define NMPWAIT_USE_DEFAULT_WAIT 0x00000000u
#define NMPWAIT_NOWAIT 0x00000001u
#define NMPWAIT_WAIT_FOREVER 0xFFFFFFFFu

#define PIPE_CLIENT_END 0x00000000u
#define PIPE_SERVER_END 0x00000001u

// Pending while Internal holds ERROR_IO_PENDING (see above).
#define HasOverlappedIoCompleted(lpOverlapped) ((lpOverlapped)->Internal != (ULONG_PTR)ERROR_IO_PENDING)

// ---- Security descriptors (the absolute form; only the DACL is read)
#define SECURITY_DESCRIPTOR_REVISION 1
#define SECURITY_DESCRIPTOR_REVISION1 1
#define SE_DACL_PRESENT 0x0004
#define SE_DACL_DEFAULTED 0x0008
#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_INVALID_SECURITY_DESCR 1338L

typedef PVOID PSID;
typedef WORD SECURITY_DESCRIPTOR_CONTROL;
typedef struct _ACL {
    BYTE AclRevision;
    BYTE Sbz1;
    WORD AclSize;
    WORD AceCount;
    WORD Sbz2;
} ACL, *PACL;
typedef struct _SECURITY_DESCRIPTOR {
    BYTE Revision;
    BYTE Sbz1;
    SECURITY_DESCRIPTOR_CONTROL Control;
    PSID Owner;
    PSID Group;
    PACL Sacl;
    PACL Dacl;
} SECURITY_DESCRIPTOR, *PISECURITY_DESCRIPTOR;
static_assert(sizeof(void*) != 8 || sizeof(SECURITY_DESCRIPTOR) == 40, "SECURITY_DESCRIPTOR has its x64 size");
#define SECURITY_DESCRIPTOR_MIN_LENGTH (sizeof(SECURITY_DESCRIPTOR))

extern "C" {
// Revision other than 1: ERROR_UNKNOWN_REVISION.
PAL_EXPORT BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision);
// A descriptor not initialised by InitializeSecurityDescriptor: ERROR_INVALID_SECURITY_DESCR.
PAL_EXPORT BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                          BOOL bDaclDefaulted);

// ---- Named pipes
// Failure: INVALID_HANDLE_VALUE with ERROR_INVALID_NAME (not "\\.\pipe\..."), ERROR_INVALID_PARAMETER
// (mode bits, PIPE_READMODE_MESSAGE on a byte pipe, nMaxInstances 0 or above 255), ERROR_PIPE_BUSY
// (the first instance's nMaxInstances are all in use), ERROR_ACCESS_DENIED
// (FILE_FLAG_FIRST_PIPE_INSTANCE while an instance exists).
PAL_EXPORT HANDLE CreateNamedPipeW(LPCWSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances,
                                   DWORD nOutBufferSize, DWORD nInBufferSize, DWORD nDefaultTimeOut,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes);
PAL_EXPORT HANDLE CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances,
                                   DWORD nOutBufferSize, DWORD nInBufferSize, DWORD nDefaultTimeOut,
                                   LPSECURITY_ATTRIBUTES lpSecurityAttributes);
PAL_EXPORT BOOL ConnectNamedPipe(HANDLE hNamedPipe, LPOVERLAPPED lpOverlapped);
PAL_EXPORT BOOL DisconnectNamedPipe(HANDLE hNamedPipe);
// TRUE once an instance is free; ERROR_FILE_NOT_FOUND without the pipe, ERROR_SEM_TIMEOUT.
PAL_EXPORT BOOL WaitNamedPipeW(LPCWSTR lpNamedPipeName, DWORD nTimeOut);
PAL_EXPORT BOOL WaitNamedPipeA(LPCSTR lpNamedPipeName, DWORD nTimeOut);
// lpMode: PIPE_READMODE_* | PIPE_WAIT/PIPE_NOWAIT; the other two arguments are accepted and unused.
PAL_EXPORT BOOL SetNamedPipeHandleState(HANDLE hNamedPipe, LPDWORD lpMode, LPDWORD lpMaxCollectionCount,
                                        LPDWORD lpCollectDataTimeout);
// Needs message read mode (else ERROR_BAD_PIPE) and nothing unread (else ERROR_PIPE_BUSY).
PAL_EXPORT BOOL TransactNamedPipe(HANDLE hNamedPipe, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                                  DWORD nOutBufferSize, LPDWORD lpBytesRead, LPOVERLAPPED lpOverlapped);
// On a message pipe the copy comes from the first message only.
PAL_EXPORT BOOL PeekNamedPipe(HANDLE hNamedPipe, LPVOID lpBuffer, DWORD nBufferSize, LPDWORD lpBytesRead,
                              LPDWORD lpTotalBytesAvail, LPDWORD lpBytesLeftThisMessage);
// Open (waiting up to nTimeOut for a free instance), message mode, transact, close.
PAL_EXPORT BOOL CallNamedPipeW(LPCWSTR lpNamedPipeName, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                               DWORD nOutBufferSize, LPDWORD lpBytesRead, DWORD nTimeOut);
PAL_EXPORT BOOL CallNamedPipeA(LPCSTR lpNamedPipeName, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                               DWORD nOutBufferSize, LPDWORD lpBytesRead, DWORD nTimeOut);

// ---- Overlapped results (pipes and files)
// bWait FALSE on a pending operation: ERROR_IO_INCOMPLETE. Waits on the OVERLAPPED's event, or on
// the handle when there is none.
PAL_EXPORT BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                    BOOL bWait);
// Ends the pending operations on the handle with ERROR_OPERATION_ABORTED (those of every thread).
PAL_EXPORT BOOL CancelIo(HANDLE hFile);
// NULL: every pending operation; else that one, ERROR_NOT_FOUND when it is not pending.
PAL_EXPORT BOOL CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped);
}

#define CreateNamedPipe CreateNamedPipeW
#define WaitNamedPipe WaitNamedPipeW
#define CallNamedPipe CallNamedPipeW
