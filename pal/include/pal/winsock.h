// Windows Sockets 2 as the system's code uses it; <winsock2.h> and <ws2tcpip.h> include this.
//
// Records have the Windows layouts and constants the Windows values. The calls that share a name
// with the C library's socket calls (socket, connect, send, htons, ...) are exported as
// pal_ws_<name>, so that libpal never takes the C library's sockets away from anyone else in the
// process; code that includes this header calls them by their Windows names. A source file that
// includes this header must not include the C library's socket headers.
//
// u_char, u_short, u_int and u_long are the C library's (<sys/types.h> declares them for every C++
// source); u_long is therefore 64 bits wide here and only appears as ioctlsocket's argument. The
// record fields that Windows declares u_long are ULONG.
//
// Windows behaviour kept here:
// - WSAStartup/WSACleanup count per process; without a start-up the socket calls fail with
//   WSANOTINITIALISED (10093). The last WSACleanup closes every socket still open.
// - WSAEventSelect makes the socket non-blocking and records FD_* events as Windows does: FD_CONNECT
//   once per connect with its error, FD_WRITE once a connection is established and then only after
//   a send failed with WSAEWOULDBLOCK, FD_READ again after each recv while data remains, FD_ACCEPT
//   again after each accept, FD_CLOSE once when the peer closes (also after a local shutdown) with 0
//   or the reset/abort error. FD_CLOSE waits until the received data has been read when FD_READ is
//   selected. An accepted socket inherits its listener's selection.
// - A connect that gets no answer fails with WSAETIMEDOUT after 21 s (scaled by the time knob).
// - send never raises SIGPIPE; a reset connection reports WSAECONNRESET to every later call.
// - A send on a non-blocking stream socket that can take data is accepted whole, even beyond
//   SO_SNDBUF: what the system does not take at once (up to 1 MiB more; a larger send is accepted
//   in part) waits in the socket's backlog and goes out in order as the connection drains. While a
//   backlog waits, send fails with WSAEWOULDBLOCK; the FD_WRITE that this arms is recorded once
//   the backlog has gone out and the system's send buffer has room (looked at every 10 ms while a
//   would-block waits: Linux reports room only once a third of the buffer is free).
//   shutdown(SD_SEND) ends the data after the backlog. closesocket returns at once and the backlog
//   still goes out, also after the last WSACleanup (not after the process ends), unless SO_LINGER
//   {1,0} drops it and resets the connection; a closed socket whose backlog makes no progress for
//   60 s (scaled by the time knob) is reset. A reset or failure while the backlog goes out is
//   reported by the next call and as FD_CLOSE with WSAECONNRESET or WSAECONNABORTED. A blocking
//   send first waits for any backlog, then for all of its own bytes.
// - SO_SNDBUF reads back as set, but the system's own send buffer is never made smaller than
//   512 KiB: Windows keeps in flight what the connection allows whatever SO_SNDBUF says, and a
//   small Linux buffer holds loopback transfers back on delayed acknowledgements.
// - Connect-redirect table for tests: <root>/config/connect-redirect, one redirection a line,
//   "127.0.0.5:515 127.0.0.5:40515" (IPv4 address:port, blank lines and lines starting with '#'
//   ignored). connect() to the first endpoint reaches the second (getpeername then names the
//   second); the table is read at every connect.
#pragma once

#include <sys/types.h>

#include "pal/errors.h"
#include "pal/handles.h"
#include "pal/types.h"

#define PAL_WINSOCK_NAME(name) __asm__("pal_ws_" #name)

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~(SOCKET)0))
#define SOCKET_ERROR (-1)

// Address families, socket types, protocols.
typedef USHORT ADDRESS_FAMILY;
#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define PF_UNSPEC AF_UNSPEC
#define PF_INET AF_INET
#define PF_INET6 AF_INET6
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17

#define INADDR_ANY ((ULONG)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_NONE 0xffffffff
#define SOMAXCONN 0x7fffffff
#define INET_ADDRSTRLEN 22
#define INET6_ADDRSTRLEN 65

typedef struct in_addr {
    union {
        struct {
            UCHAR s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
} IN_ADDR, *PIN_ADDR, *LPIN_ADDR;
#define s_addr S_un.S_addr

typedef struct sockaddr {
    ADDRESS_FAMILY sa_family;
    CHAR sa_data[14];
} SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

typedef struct sockaddr_in {
    ADDRESS_FAMILY sin_family;
    USHORT sin_port;
    struct in_addr sin_addr;
    CHAR sin_zero[8];
} SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;

typedef struct in6_addr {
    union {
        UCHAR Byte[16];
        USHORT Word[8];
    } u;
} IN6_ADDR, *PIN6_ADDR, *LPIN6_ADDR;
#define s6_addr u.Byte

typedef struct sockaddr_in6 {
    ADDRESS_FAMILY sin6_family;
    USHORT sin6_port;
    ULONG sin6_flowinfo;
    struct in6_addr sin6_addr;
    ULONG sin6_scope_id;
} SOCKADDR_IN6, *PSOCKADDR_IN6, *LPSOCKADDR_IN6;

typedef struct sockaddr_storage {
    ADDRESS_FAMILY ss_family;
    CHAR __ss_pad1[6];
    __int64 __ss_align;
    CHAR __ss_pad2[112];
} SOCKADDR_STORAGE, *PSOCKADDR_STORAGE;

typedef struct linger {
    USHORT l_onoff;
    USHORT l_linger;
} LINGER, *PLINGER, *LPLINGER;

static_assert(sizeof(in_addr) == 4, "in_addr is 4 bytes");
static_assert(sizeof(sockaddr) == 16 && sizeof(sockaddr_in) == 16, "sockaddr_in is 16 bytes");
static_assert(offsetof(sockaddr_in, sin_port) == 2 && offsetof(sockaddr_in, sin_addr) == 4, "sockaddr_in layout");
static_assert(sizeof(sockaddr_in6) == 28 && offsetof(sockaddr_in6, sin6_addr) == 8, "sockaddr_in6 layout");
static_assert(offsetof(sockaddr_in6, sin6_scope_id) == 24, "sockaddr_in6 layout");
static_assert(sizeof(sockaddr_storage) == 128, "sockaddr_storage is 128 bytes");
static_assert(sizeof(linger) == 4, "linger is 4 bytes");

// getaddrinfo
#define AI_PASSIVE 0x00000001
#define AI_CANONNAME 0x00000002
#define AI_NUMERICHOST 0x00000004
#define AI_NUMERICSERV 0x00000008

#define EAI_AGAIN WSATRY_AGAIN
#define EAI_BADFLAGS WSAEINVAL
#define EAI_FAIL WSANO_RECOVERY
#define EAI_FAMILY WSAEAFNOSUPPORT
#define EAI_MEMORY WSA_NOT_ENOUGH_MEMORY
#define EAI_NONAME WSAHOST_NOT_FOUND
#define EAI_SERVICE WSATYPE_NOT_FOUND
#define EAI_SOCKTYPE WSAESOCKTNOSUPPORT

typedef struct addrinfo {
    INT ai_flags;
    INT ai_family;
    INT ai_socktype;
    INT ai_protocol;
    size_t ai_addrlen;
    char* ai_canonname;
    struct sockaddr* ai_addr;
    struct addrinfo* ai_next;
} ADDRINFOA, *PADDRINFOA;
static_assert(sizeof(addrinfo) == 48 && offsetof(addrinfo, ai_addrlen) == 16, "addrinfo layout");
static_assert(offsetof(addrinfo, ai_canonname) == 24 && offsetof(addrinfo, ai_addr) == 32, "addrinfo layout");

// Options, flags, shutdown, ioctlsocket.
#define SOL_SOCKET 0xffff
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_LINGER 0x0080
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_ERROR 0x1007
#define TCP_NODELAY 0x0001

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_WAITALL 0x8

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define FIONREAD ((LONG)0x4004667F)
#define FIONBIO ((LONG)0x8004667E)

// Start-up.
#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    USHORT iMaxSockets;
    USHORT iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;
static_assert(offsetof(WSADATA, lpVendorInfo) == 8 && offsetof(WSADATA, szDescription) == 16, "WSADATA layout");
static_assert(offsetof(WSADATA, szSystemStatus) == 273 && sizeof(WSADATA) == 408, "WSADATA layout");

// Event objects and network events.
typedef HANDLE WSAEVENT;
typedef WSAEVENT* LPWSAEVENT;
#define WSA_INVALID_EVENT ((WSAEVENT) nullptr)
#define WSA_MAXIMUM_WAIT_EVENTS MAXIMUM_WAIT_OBJECTS
#define WSA_WAIT_EVENT_0 WAIT_OBJECT_0
#define WSA_WAIT_IO_COMPLETION WAIT_IO_COMPLETION
#define WSA_WAIT_TIMEOUT WAIT_TIMEOUT
#define WSA_WAIT_FAILED WAIT_FAILED
#define WSA_INFINITE INFINITE
#define WSA_IO_PENDING ERROR_IO_PENDING
#define WSA_INVALID_HANDLE ERROR_INVALID_HANDLE
#define WSA_INVALID_PARAMETER ERROR_INVALID_PARAMETER
#define WSA_NOT_ENOUGH_MEMORY ERROR_NOT_ENOUGH_MEMORY
#define WSA_OPERATION_ABORTED ERROR_OPERATION_ABORTED

#define FD_READ_BIT 0
#define FD_READ (1 << FD_READ_BIT)
#define FD_WRITE_BIT 1
#define FD_WRITE (1 << FD_WRITE_BIT)
#define FD_OOB_BIT 2
#define FD_OOB (1 << FD_OOB_BIT)
#define FD_ACCEPT_BIT 3
#define FD_ACCEPT (1 << FD_ACCEPT_BIT)
#define FD_CONNECT_BIT 4
#define FD_CONNECT (1 << FD_CONNECT_BIT)
#define FD_CLOSE_BIT 5
#define FD_CLOSE (1 << FD_CLOSE_BIT)
#define FD_MAX_EVENTS 10
#define FD_ALL_EVENTS ((1 << FD_MAX_EVENTS) - 1)

typedef struct _WSANETWORKEVENTS {
    LONG lNetworkEvents;
    INT iErrorCode[FD_MAX_EVENTS];
} WSANETWORKEVENTS, *LPWSANETWORKEVENTS;
static_assert(sizeof(WSANETWORKEVENTS) == 44, "WSANETWORKEVENTS is 44 bytes");

extern "C" {
PAL_EXPORT INT WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
PAL_EXPORT INT WSACleanup(void);
PAL_EXPORT INT WSAGetLastError(void);
PAL_EXPORT void WSASetLastError(INT iError);

PAL_EXPORT SOCKET socket(INT af, INT type, INT protocol) PAL_WINSOCK_NAME(socket);
PAL_EXPORT INT closesocket(SOCKET s);
PAL_EXPORT INT bind(SOCKET s, const struct sockaddr* name, INT namelen) PAL_WINSOCK_NAME(bind);
PAL_EXPORT INT listen(SOCKET s, INT backlog) PAL_WINSOCK_NAME(listen);
PAL_EXPORT SOCKET accept(SOCKET s, struct sockaddr* addr, INT* addrlen) PAL_WINSOCK_NAME(accept);
PAL_EXPORT INT connect(SOCKET s, const struct sockaddr* name, INT namelen) PAL_WINSOCK_NAME(connect);
PAL_EXPORT INT send(SOCKET s, const char* buf, INT len, INT flags) PAL_WINSOCK_NAME(send);
PAL_EXPORT INT recv(SOCKET s, char* buf, INT len, INT flags) PAL_WINSOCK_NAME(recv);
PAL_EXPORT INT shutdown(SOCKET s, INT how) PAL_WINSOCK_NAME(shutdown);
PAL_EXPORT INT setsockopt(SOCKET s, INT level, INT optname, const char* optval, INT optlen)
    PAL_WINSOCK_NAME(setsockopt);
PAL_EXPORT INT getsockopt(SOCKET s, INT level, INT optname, char* optval, INT* optlen) PAL_WINSOCK_NAME(getsockopt);
PAL_EXPORT INT ioctlsocket(SOCKET s, LONG cmd, u_long* argp);
PAL_EXPORT INT getsockname(SOCKET s, struct sockaddr* name, INT* namelen) PAL_WINSOCK_NAME(getsockname);
PAL_EXPORT INT getpeername(SOCKET s, struct sockaddr* name, INT* namelen) PAL_WINSOCK_NAME(getpeername);

PAL_EXPORT USHORT htons(USHORT hostshort) PAL_WINSOCK_NAME(htons);
PAL_EXPORT ULONG htonl(ULONG hostlong) PAL_WINSOCK_NAME(htonl);
PAL_EXPORT USHORT ntohs(USHORT netshort) PAL_WINSOCK_NAME(ntohs);
PAL_EXPORT ULONG ntohl(ULONG netlong) PAL_WINSOCK_NAME(ntohl);

// 1 converted, 0 not an address of the family, -1 with WSAEAFNOSUPPORT or WSAEFAULT.
PAL_EXPORT INT inet_pton(INT Family, PCSTR pszAddrString, PVOID pAddrBuf) PAL_WINSOCK_NAME(inet_pton);
PAL_EXPORT PCSTR inet_ntop(INT Family, const VOID* pAddr, PSTR pStringBuf, size_t StringBufSize)
    PAL_WINSOCK_NAME(inet_ntop);
PAL_EXPORT INT InetPtonW(INT Family, PCWSTR pszAddrString, PVOID pAddrBuf);
PAL_EXPORT PCWSTR InetNtopW(INT Family, const VOID* pAddr, PWSTR pStringBuf, size_t StringBufSize);
// Dotted text with one to four parts (decimal, octal or hexadecimal), as Windows reads it.
PAL_EXPORT ULONG inet_addr(const char* cp) PAL_WINSOCK_NAME(inet_addr);
// Returns 0 or a WSA error (EAI_*), which is also the last error.
PAL_EXPORT INT getaddrinfo(PCSTR pNodeName, PCSTR pServiceName, const ADDRINFOA* pHints, PADDRINFOA* ppResult)
    PAL_WINSOCK_NAME(getaddrinfo);
PAL_EXPORT void freeaddrinfo(PADDRINFOA pAddrInfo) PAL_WINSOCK_NAME(freeaddrinfo);

PAL_EXPORT WSAEVENT WSACreateEvent(void);
PAL_EXPORT BOOL WSACloseEvent(WSAEVENT hEvent);
PAL_EXPORT BOOL WSASetEvent(WSAEVENT hEvent);
PAL_EXPORT BOOL WSAResetEvent(WSAEVENT hEvent);
PAL_EXPORT INT WSAEventSelect(SOCKET s, WSAEVENT hEventObject, LONG lNetworkEvents);
PAL_EXPORT DWORD WSAWaitForMultipleEvents(DWORD cEvents, const WSAEVENT* lphEvents, BOOL fWaitAll, DWORD dwTimeout,
                                          BOOL fAlertable);
PAL_EXPORT INT WSAEnumNetworkEvents(SOCKET s, WSAEVENT hEventObject, LPWSANETWORKEVENTS lpNetworkEvents);
}

#define InetPton InetPtonW
#define InetNtop InetNtopW
