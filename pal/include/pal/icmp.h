// ICMP echo (IcmpCreateFile, IcmpSendEcho) and the IP helper calls GetBestRoute and GetIpAddrTable;
// <icmpapi.h> and <iphlpapi.h> include this.
//
// IcmpSendEcho sends one echo request through a ping socket (SOCK_DGRAM, IPPROTO_ICMP) where the
// machine allows it, else through a raw socket (root), and waits for the matching echo reply.
// Before that it reads the stub table <root>/config/icmp, one address a line:
//     127.0.0.9 silent     never answers: IP_REQ_TIMED_OUT once the time-out has passed
//     127.0.0.5 reply      answers at once (round trip 0, TTL 128, the request data echoed)
//     127.0.0.6 unreachable one reply at once whose Status is IP_DEST_HOST_UNREACHABLE, as when a
//                          router answers with an ICMP error
// (blank lines and lines starting with '#' ignored; read at every call), so that tests can make a
// loopback device silent although the kernel answers every 127/8 address.
//
// IcmpSendEcho returns the number of replies (0 or 1); a reply is an ICMP_ECHO_REPLY at the start
// of ReplyBuffer with its data copied right behind it (Data points there). It returns 0 with:
//   IP_REQ_TIMED_OUT (11010)      the request went out and no reply came within the time-out
//                                 (scaled by the time knob)
//   ERROR_INVALID_HANDLE          not an ICMP handle
//   ERROR_INVALID_PARAMETER       no reply buffer, one smaller than sizeof(ICMP_ECHO_REPLY), or
//                                 RequestData NULL with a size
//   ERROR_INSUFFICIENT_BUFFER     a reply buffer smaller than sizeof(ICMP_ECHO_REPLY) +
//                                 RequestSize + 8
//   ERROR_ACCESS_DENIED           the machine allows neither kind of socket
//   IP_DEST_NET_UNREACHABLE, IP_DEST_HOST_UNREACHABLE, IP_GENERAL_FAILURE
//                                 the request could not be sent
// Only IP_REQ_TIMED_OUT means that the destination was asked and stayed silent.
//
// GetBestRoute first reads the route stub <root>/config/routes (read at every call; the longest
// matching prefix wins), one route a line:
//     10.1.0.0/16 via 127.0.0.2        indirect, next hop the gateway
//     127.0.0.2/32 direct 127.0.0.9    direct over the interface with that address (the next hop)
//     192.168.0.0/16 none              no route: ERROR_NOT_FOUND
// Destinations without a stub line: 127/8 is reached directly over the loopback interface (next hop 127.0.0.1); other
// destinations follow the longest matching route of /proc/net/route. A route over a gateway is
// MIB_IPROUTE_TYPE_INDIRECT with the gateway as next hop; a direct route is
// MIB_IPROUTE_TYPE_DIRECT with the interface's own address as next hop. No route: ERROR_NOT_FOUND.
// GetIpAddrTable: the machine's IPv4 addresses, the loopback ones last (bOrder: by address).
#pragma once

#include "pal/errors.h"
#include "pal/handles.h"
#include "pal/types.h"

typedef unsigned char* PUCHAR;
typedef ULONG IPAddr; // network byte order, as inet_addr gives it
typedef ULONG IPMask;
typedef ULONG IP_STATUS;

#define IP_SUCCESS 0
#define IP_STATUS_BASE 11000
#define IP_BUF_TOO_SMALL 11001
#define IP_DEST_NET_UNREACHABLE 11002
#define IP_DEST_HOST_UNREACHABLE 11003
#define IP_DEST_PROT_UNREACHABLE 11004
#define IP_DEST_PORT_UNREACHABLE 11005
#define IP_NO_RESOURCES 11006
#define IP_BAD_OPTION 11007
#define IP_HW_ERROR 11008
#define IP_PACKET_TOO_BIG 11009
#define IP_REQ_TIMED_OUT 11010
#define IP_BAD_REQ 11011
#define IP_BAD_ROUTE 11012
#define IP_TTL_EXPIRED_TRANSIT 11013
#define IP_GENERAL_FAILURE 11050

typedef struct ip_option_information {
    UCHAR Ttl;
    UCHAR Tos;
    UCHAR Flags;
    UCHAR OptionsSize;
    PUCHAR OptionsData;
} IP_OPTION_INFORMATION, *PIP_OPTION_INFORMATION;

typedef struct icmp_echo_reply {
    IPAddr Address;
    ULONG Status;
    ULONG RoundTripTime;
    USHORT DataSize;
    USHORT Reserved;
    PVOID Data;
    struct ip_option_information Options;
} ICMP_ECHO_REPLY, *PICMP_ECHO_REPLY;
static_assert(sizeof(void*) != 8 || sizeof(ICMP_ECHO_REPLY) == 40, "ICMP_ECHO_REPLY has its x64 size");
static_assert(sizeof(void*) != 8 || offsetof(ICMP_ECHO_REPLY, Data) == 16, "ICMP_ECHO_REPLY.Data");
static_assert(sizeof(void*) != 8 || offsetof(ICMP_ECHO_REPLY, Options) == 24, "ICMP_ECHO_REPLY.Options");

#define MIB_IPROUTE_TYPE_OTHER 1
#define MIB_IPROUTE_TYPE_INVALID 2
#define MIB_IPROUTE_TYPE_DIRECT 3
#define MIB_IPROUTE_TYPE_INDIRECT 4
#define MIB_IPPROTO_OTHER 1
#define MIB_IPPROTO_LOCAL 2
#define MIB_IPPROTO_NETMGMT 3

typedef struct _MIB_IPFORWARDROW {
    DWORD dwForwardDest;
    DWORD dwForwardMask;
    DWORD dwForwardPolicy;
    DWORD dwForwardNextHop;
    DWORD dwForwardIfIndex;
    DWORD dwForwardType;
    DWORD dwForwardProto;
    DWORD dwForwardAge;
    DWORD dwForwardNextHopAS;
    DWORD dwForwardMetric1;
    DWORD dwForwardMetric2;
    DWORD dwForwardMetric3;
    DWORD dwForwardMetric4;
    DWORD dwForwardMetric5;
} MIB_IPFORWARDROW, *PMIB_IPFORWARDROW;
static_assert(sizeof(MIB_IPFORWARDROW) == 56, "MIB_IPFORWARDROW has its Windows size");

#define MIB_IPADDR_PRIMARY 0x0001
#define ANY_SIZE 1

typedef struct _MIB_IPADDRROW {
    DWORD dwAddr;
    DWORD dwIndex;
    DWORD dwMask;
    DWORD dwBCastAddr;
    DWORD dwReasmSize;
    unsigned short unused1;
    unsigned short wType;
} MIB_IPADDRROW, *PMIB_IPADDRROW;
static_assert(sizeof(MIB_IPADDRROW) == 24, "MIB_IPADDRROW has its Windows size");

typedef struct _MIB_IPADDRTABLE {
    DWORD dwNumEntries;
    MIB_IPADDRROW table[ANY_SIZE];
} MIB_IPADDRTABLE, *PMIB_IPADDRTABLE;
static_assert(offsetof(MIB_IPADDRTABLE, table) == 4, "MIB_IPADDRTABLE.table");

extern "C" {
// INVALID_HANDLE_VALUE only when no handle can be made.
PAL_EXPORT HANDLE IcmpCreateFile(void);
PAL_EXPORT BOOL IcmpCloseHandle(HANDLE IcmpHandle);
// RequestOptions: Ttl and Tos are used when not 0; IP options are not sent.
PAL_EXPORT DWORD IcmpSendEcho(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData, WORD RequestSize,
                              PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer, DWORD ReplySize,
                              DWORD Timeout);
// Both return NO_ERROR or a Windows error (they do not set the last error).
PAL_EXPORT DWORD GetBestRoute(DWORD dwDestAddr, DWORD dwSourceAddr, PMIB_IPFORWARDROW pBestRoute);
// A missing or short table: ERROR_INSUFFICIENT_BUFFER with *pdwSize set to the size needed.
PAL_EXPORT DWORD GetIpAddrTable(PMIB_IPADDRTABLE pIpAddrTable, PULONG pdwSize, BOOL bOrder);
}
