// Family-2 addresses in the transport's records, and errno as transport results.
#include <cerrno>
#include <cstring>

#include "transport_core.h"

namespace vxtrans {

bool toSockaddr(const VxTransAddress& address, sockaddr_in& out)
{
    if (address.family != VXTRANS_FAMILY_INET)
        return false;
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    std::memcpy(&out.sin_port, address.bytes, 2);
    std::memcpy(&out.sin_addr.s_addr, address.bytes + 2, 4);
    return true;
}

VxTransAddress fromSockaddr(const sockaddr_in& address)
{
    VxTransAddress out{};
    out.family = VXTRANS_FAMILY_INET;
    std::memcpy(out.bytes, &address.sin_port, 2);
    std::memcpy(out.bytes + 2, &address.sin_addr.s_addr, 4);
    return out;
}

bool isUnset(const VxTransAddress& address)
{
    static const VxTransAddress none{};
    if (std::memcmp(&address, &none, sizeof none) == 0)
        return true;
    sockaddr_in inet;
    return toSockaddr(address, inet) && inet.sin_port == 0 && inet.sin_addr.s_addr == 0;
}

VxTransAddressPair pairOf(const sockaddr_in& peer, uint32_t protocol, const sockaddr_in& local)
{
    VxTransAddressPair pair{};
    pair.peer = fromSockaddr(peer);
    pair.protocol = protocol;
    pair.local = fromSockaddr(local);
    return pair;
}

VxTransAddressPair pairOf(const Child& child)
{
    VxTransAddressPair pair = pairOf(child.peer, VXTRANS_PROTOCOL_TCP, child.local);
    pair.connection = child.handle;
    return pair;
}

int32_t resultOfErrno(int error, uint32_t protocol)
{
    switch (error) {
    case EADDRINUSE:
        return VXTRANS_E_IN_USE;
    case EADDRNOTAVAIL:
    case EAFNOSUPPORT:
    case EACCES:
    case EINVAL:
        return VXTRANS_E_BAD_ADDRESS;
    case EAGAIN:
        return VXTRANS_E_WOULD_BLOCK;
    case ECONNREFUSED:
        return protocol == VXTRANS_PROTOCOL_TCP ? VXTRANS_E_REFUSED : VXTRANS_E_UNREACHABLE;
    case ECONNRESET:
    case EPIPE:
        return VXTRANS_E_RESET;
    case ETIMEDOUT:
        return VXTRANS_E_TIMED_OUT;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return VXTRANS_E_UNREACHABLE;
    default:
        return VXTRANS_E_FAILED;
    }
}

} // namespace vxtrans
