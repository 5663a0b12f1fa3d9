// ICMP echo through ping or raw sockets, the test stub table, and the IP helper calls.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "threads/object.h"
#include "pal/icmp.h"
#include "files/root.h"

namespace pal {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kErrorRoom = 8; // an ICMP error message may need this much more
constexpr UCHAR kStubTtl = 128;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr size_t kIcmpHeader = 8;
constexpr uint32_t kLoopbackNet = 0x7F000000;
constexpr uint32_t kLoopbackMask = 0xFF000000;

class IcmpObject : public Object {};

enum class Stub { None, Silent, Reply, Unreachable };

Stub stubFor(IPAddr destination)
{
    std::string root = rootPath();
    if (root.empty())
        return Stub::None;
    std::ifstream table(root + "/config/icmp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream words(line);
        std::string address, behaviour;
        in_addr parsed{};
        if (!(words >> address >> behaviour) || address[0] == '#' ||
            inet_pton(AF_INET, address.c_str(), &parsed) != 1 || parsed.s_addr != destination)
            continue;
        if (behaviour == "silent")
            return Stub::Silent;
        if (behaviour == "reply")
            return Stub::Reply;
        if (behaviour == "unreachable")
            return Stub::Unreachable;
    }
    return Stub::None;
}

struct Echo {
    DWORD error = IP_REQ_TIMED_OUT;
    IPAddr from = 0;
    std::vector<unsigned char> data;
    DWORD roundTrip = 0;
    UCHAR ttl = 0;
};

uint16_t checksum(const unsigned char* bytes, size_t size)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2)
        sum += static_cast<uint32_t>(bytes[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::vector<unsigned char> echoRequest(uint16_t id, uint16_t sequence, const void* data, WORD size)
{
    std::vector<unsigned char> packet(kIcmpHeader + size);
    packet[0] = kEchoRequest;
    packet[4] = static_cast<unsigned char>(id >> 8);
    packet[5] = static_cast<unsigned char>(id);
    packet[6] = static_cast<unsigned char>(sequence >> 8);
    packet[7] = static_cast<unsigned char>(sequence);
    if (size)
        std::memcpy(packet.data() + kIcmpHeader, data, size);
    uint16_t sum = checksum(packet.data(), packet.size());
    packet[2] = static_cast<unsigned char>(sum >> 8);
    packet[3] = static_cast<unsigned char>(sum);
    return packet;
}

// A ping socket, else a raw one (raw: what arrives starts with the IP header); -1 with errno.
int icmpSocket(bool& raw)
{
    raw = false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0)
        return fd;
    raw = true;
    return socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}

void applyOptions(int fd, const IP_OPTION_INFORMATION* options)
{
    int on = 1;
    setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    if (!options)
        return;
    int ttl = options->Ttl, tos = options->Tos;
    if (ttl)
        setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    if (tos)
        setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos);
}

DWORD sendError(int error)
{
    switch (error) {
    case ENETUNREACH:
        return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
        return IP_DEST_HOST_UNREACHABLE;
    case EPERM:
    case EACCES:
        return ERROR_ACCESS_DENIED;
    default:
        return IP_GENERAL_FAILURE;
    }
}

// The echo reply to (id, sequence) in what one receive brought, filled into echo; false for anything else.
bool takeReply(const unsigned char* bytes, size_t size, bool raw, UCHAR cmsgTtl, uint16_t id, uint16_t sequence,
               Echo& echo)
{
    UCHAR ttl = cmsgTtl;
    if (raw) {
        size_t header = size > 0 ? static_cast<size_t>(bytes[0] & 0x0F) * 4 : 0;
        if (header < 20 || size < header)
            return false;
        ttl = bytes[8];
        bytes += header;
        size -= header;
    }
    // A ping socket's replies carry the id the kernel chose; it lets only those through.
    bool ours = size >= kIcmpHeader && bytes[0] == kEchoReply &&
                (bytes[6] << 8 | bytes[7]) == sequence && (!raw || (bytes[4] << 8 | bytes[5]) == id);
    if (!ours)
        return false;
    echo.error = IP_SUCCESS;
    echo.ttl = ttl;
    echo.data.assign(bytes + kIcmpHeader, bytes + size);
    return true;
}

void awaitReply(int fd, bool raw, IPAddr destination, uint16_t id, uint16_t sequence, Clock::time_point sent,
                Clock::time_point deadline, Echo& echo)
{
    std::vector<unsigned char> buffer(65536);
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{fd, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0)
            return;
        sockaddr_in from{};
        alignas(cmsghdr) char control[256];
        iovec part{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT);
        if (got <= 0 || from.sin_addr.s_addr != destination)
            continue;
        UCHAR ttl = 0;
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item; item = CMSG_NXTHDR(&message, item))
            if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_TTL) {
                int value = 0;
                std::memcpy(&value, CMSG_DATA(item), sizeof value);
                ttl = static_cast<UCHAR>(value);
            }
        if (takeReply(buffer.data(), static_cast<size_t>(got), raw, ttl, id, sequence, echo)) {
            echo.from = from.sin_addr.s_addr;
            echo.roundTrip = static_cast<DWORD>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count());
            return;
        }
    }
}

Echo sendEcho(IPAddr destination, const void* data, WORD size, const IP_OPTION_INFORMATION* options, DWORD waitMs)
{
    static std::atomic<uint16_t> sequences{1};
    Echo echo;
    bool raw = false;
    int fd = icmpSocket(raw);
    if (fd < 0) {
        echo.error = sendError(errno);
        return echo;
    }
    applyOptions(fd, options);
    uint16_t sequence = sequences++;
    uint16_t id = static_cast<uint16_t>(getpid() ^ (sequence << 8));
    std::vector<unsigned char> packet = echoRequest(id, sequence, data, size);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    auto sent = Clock::now();
    if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
        echo.error = sendError(errno);
    else
        awaitReply(fd, raw, destination, id, sequence, sent, sent + std::chrono::milliseconds(waitMs), echo);
    close(fd);
    return echo;
}

// Writes the reply record and its data into the caller's buffer (which need not be aligned).
DWORD storeReply(void* buffer, DWORD size, const Echo& echo)
{
    auto* room = static_cast<unsigned char*>(buffer) + sizeof(ICMP_ECHO_REPLY);
    size_t copied = std::min<size_t>(echo.data.size(), size - sizeof(ICMP_ECHO_REPLY));
    if (copied)
        std::memcpy(room, echo.data.data(), copied);
    ICMP_ECHO_REPLY reply{};
    reply.Address = echo.from;
    reply.Status = echo.error;
    reply.RoundTripTime = echo.roundTrip;
    reply.DataSize = static_cast<USHORT>(copied);
    reply.Data = room;
    reply.Options.Ttl = echo.ttl;
    std::memcpy(buffer, &reply, sizeof reply);
    return 1;
}

DWORD noReply(DWORD error)
{
    SetLastError(error);
    return 0;
}

// ---- IP helper

// A line of the route stub <root>/config/routes: "DEST/BITS via GW", "DEST/BITS direct IFADDR" or
// "DEST/BITS none" (addresses dotted, in network order once parsed).
struct StubRoute {
    enum Kind { Via, Direct, None } kind = None;
    DWORD destination = 0, mask = 0, hop = 0;
    int bits = 0;
};

bool parseStubRoute(const std::string& line, StubRoute& route)
{
    std::istringstream words(line);
    std::string prefix, kind, hop;
    if (!(words >> prefix >> kind) || prefix[0] == '#')
        return false;
    size_t slash = prefix.find('/');
    if (slash == std::string::npos)
        return false;
    in_addr parsed{};
    if (inet_pton(AF_INET, prefix.substr(0, slash).c_str(), &parsed) != 1)
        return false;
    char* end = nullptr;
    long bits = std::strtol(prefix.c_str() + slash + 1, &end, 10);
    if (*end != '\0' || bits < 0 || bits > 32)
        return false;
    route.bits = static_cast<int>(bits);
    route.mask = bits == 0 ? 0 : htonl(0xFFFFFFFFu << (32 - bits));
    route.destination = parsed.s_addr & route.mask;
    if (kind == "none") {
        route.kind = StubRoute::None;
        return true;
    }
    in_addr next{};
    if (!(words >> hop) || inet_pton(AF_INET, hop.c_str(), &next) != 1)
        return false;
    route.kind = kind == "via" ? StubRoute::Via : StubRoute::Direct;
    route.hop = next.s_addr;
    return kind == "via" || kind == "direct";
}

// The longest matching line of the route stub; false when the stub has none.
bool findStubRoute(DWORD destination, StubRoute& best)
{
    std::string root = rootPath();
    if (root.empty())
        return false;
    std::ifstream table(root + "/config/routes");
    std::string line;
    bool found = false;
    while (std::getline(table, line)) {
        StubRoute route;
        if (parseStubRoute(line, route) && (destination & route.mask) == route.destination &&
            (!found || route.bits > best.bits)) {
            best = route;
            found = true;
        }
    }
    return found;
}

uint32_t hostOrder(DWORD networkOrder)
{
    return ntohl(networkOrder);
}

struct Route {
    std::string interface;
    DWORD destination = 0, gateway = 0, mask = 0, metric = 0;
};

// The longest matching route of the main table that is up.
bool findRoute(DWORD destination, Route& best)
{
    constexpr unsigned kRouteUp = 0x1;
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line); // the column names
    bool found = false;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        Route route;
        unsigned flags = 0, refCount = 0, use = 0;
        if (!(fields >> route.interface >> std::hex >> route.destination >> route.gateway >> flags >> std::dec >>
              refCount >> use >> route.metric >> std::hex >> route.mask))
            continue;
        if (!(flags & kRouteUp) || (destination & route.mask) != route.destination)
            continue;
        bool longer = !found || __builtin_popcount(route.mask) > __builtin_popcount(best.mask) ||
                      (route.mask == best.mask && route.metric < best.metric);
        if (longer) {
            best = route;
            found = true;
        }
    }
    return found;
}

struct InterfaceAddress {
    std::string interface;
    DWORD address = 0, mask = 0;
};

std::vector<InterfaceAddress> interfaceAddresses()
{
    std::vector<InterfaceAddress> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next)
        if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET) {
            InterfaceAddress item;
            item.interface = entry->ifa_name;
            item.address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr;
            item.mask = entry->ifa_netmask ? reinterpret_cast<sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr : 0;
            found.push_back(item);
        }
    freeifaddrs(list);
    return found;
}

DWORD addressOf(const std::string& interface)
{
    for (const InterfaceAddress& item : interfaceAddresses())
        if (item.interface == interface)
            return item.address;
    return 0;
}

DWORD indexOf(const std::string& interface)
{
    return if_nametoindex(interface.c_str());
}

bool isLoopback(DWORD address)
{
    return (hostOrder(address) & kLoopbackMask) == kLoopbackNet;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

HANDLE IcmpCreateFile(void)
{
    return insertHandle(std::make_shared<IcmpObject>());
}

BOOL IcmpCloseHandle(HANDLE IcmpHandle)
{
    if (lookup<IcmpObject>(IcmpHandle) && removeHandle(IcmpHandle))
        return TRUE;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

DWORD IcmpSendEcho(HANDLE IcmpHandle, IPAddr DestinationAddress, LPVOID RequestData, WORD RequestSize,
                   PIP_OPTION_INFORMATION RequestOptions, LPVOID ReplyBuffer, DWORD ReplySize, DWORD Timeout)
{
    if (!lookup<IcmpObject>(IcmpHandle))
        return noReply(ERROR_INVALID_HANDLE);
    if (!ReplyBuffer || ReplySize < sizeof(ICMP_ECHO_REPLY) || (!RequestData && RequestSize))
        return noReply(ERROR_INVALID_PARAMETER);
    if (ReplySize < sizeof(ICMP_ECHO_REPLY) + RequestSize + kErrorRoom)
        return noReply(ERROR_INSUFFICIENT_BUFFER);
    DWORD waitMs = scaleTimeout(Timeout);
    Echo echo;
    switch (stubFor(DestinationAddress)) {
    case Stub::Silent:
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        return noReply(IP_REQ_TIMED_OUT);
    case Stub::Reply:
        echo.error = IP_SUCCESS;
        echo.from = DestinationAddress;
        echo.ttl = kStubTtl;
        echo.data.assign(static_cast<unsigned char*>(RequestData),
                         static_cast<unsigned char*>(RequestData) + RequestSize);
        break;
    case Stub::Unreachable:
        // An ICMP error comes back as one reply whose status names it.
        echo.error = IP_DEST_HOST_UNREACHABLE;
        echo.from = DestinationAddress;
        echo.ttl = kStubTtl;
        return storeReply(ReplyBuffer, ReplySize, echo);
    case Stub::None:
        echo = sendEcho(DestinationAddress, RequestData, RequestSize, RequestOptions, waitMs);
        break;
    }
    if (echo.error != IP_SUCCESS)
        return noReply(echo.error);
    return storeReply(ReplyBuffer, ReplySize, echo);
}

DWORD GetBestRoute(DWORD dwDestAddr, DWORD, PMIB_IPFORWARDROW pBestRoute)
{
    if (!pBestRoute)
        return ERROR_INVALID_PARAMETER;
    *pBestRoute = MIB_IPFORWARDROW{};
    StubRoute stub;
    if (findStubRoute(dwDestAddr, stub)) {
        if (stub.kind == StubRoute::None)
            return ERROR_NOT_FOUND;
        pBestRoute->dwForwardDest = stub.destination;
        pBestRoute->dwForwardMask = stub.mask;
        pBestRoute->dwForwardProto = MIB_IPPROTO_NETMGMT;
        pBestRoute->dwForwardType = stub.kind == StubRoute::Via ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
        pBestRoute->dwForwardNextHop = stub.hop;
        return NO_ERROR;
    }
    if (isLoopback(dwDestAddr)) {
        pBestRoute->dwForwardDest = htonl(kLoopbackNet);
        pBestRoute->dwForwardMask = htonl(kLoopbackMask);
        pBestRoute->dwForwardNextHop = htonl(INADDR_LOOPBACK);
        pBestRoute->dwForwardIfIndex = indexOf("lo");
        pBestRoute->dwForwardType = MIB_IPROUTE_TYPE_DIRECT;
        pBestRoute->dwForwardProto = MIB_IPPROTO_LOCAL;
        return NO_ERROR;
    }
    Route route;
    if (!findRoute(dwDestAddr, route))
        return ERROR_NOT_FOUND;
    pBestRoute->dwForwardDest = route.destination;
    pBestRoute->dwForwardMask = route.mask;
    pBestRoute->dwForwardIfIndex = indexOf(route.interface);
    pBestRoute->dwForwardMetric1 = route.metric;
    pBestRoute->dwForwardProto = MIB_IPPROTO_NETMGMT;
    pBestRoute->dwForwardType = route.gateway ? MIB_IPROUTE_TYPE_INDIRECT : MIB_IPROUTE_TYPE_DIRECT;
    pBestRoute->dwForwardNextHop = route.gateway ? route.gateway : addressOf(route.interface);
    return NO_ERROR;
}

DWORD GetIpAddrTable(PMIB_IPADDRTABLE pIpAddrTable, PULONG pdwSize, BOOL bOrder)
{
    if (!pdwSize)
        return ERROR_INVALID_PARAMETER;
    std::vector<InterfaceAddress> addresses = interfaceAddresses();
    std::stable_partition(addresses.begin(), addresses.end(),
                          [](const InterfaceAddress& item) { return !isLoopback(item.address); });
    if (bOrder)
        std::stable_sort(addresses.begin(), addresses.end(), [](const auto& left, const auto& right) {
            return hostOrder(left.address) < hostOrder(right.address);
        });
    ULONG needed = static_cast<ULONG>(offsetof(MIB_IPADDRTABLE, table) +
                                      std::max<size_t>(addresses.size(), 1) * sizeof(MIB_IPADDRROW));
    if (!pIpAddrTable || *pdwSize < needed) {
        *pdwSize = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    pIpAddrTable->dwNumEntries = static_cast<DWORD>(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
        MIB_IPADDRROW& row = pIpAddrTable->table[i];
        row = MIB_IPADDRROW{};
        row.dwAddr = addresses[i].address;
        row.dwIndex = indexOf(addresses[i].interface);
        row.dwMask = addresses[i].mask;
        row.dwBCastAddr = 1;
        row.dwReasmSize = 65535;
        row.wType = MIB_IPADDR_PRIMARY;
    }
    return NO_ERROR;
}

} // extern "C"
