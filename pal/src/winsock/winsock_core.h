// The socket machinery behind the Winsock calls, in neutral terms: the C library's socket headers
// (inside the machinery) and the Windows records (in winsock.cpp) never meet in one source file.
// Calls that fail set the WSA error as the last error and return SOCKET_ERROR (-1), INVALID_SOCKET
// or false, as the Winsock call that uses them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "pal/types.h"

typedef UINT_PTR SOCKET; // as pal/winsock.h declares it

namespace pal::ws {

// The Windows FD_* network event bits (winsock.cpp checks them against the header).
enum NetworkEvent : LONG {
    kFdRead = 1 << 0,
    kFdWrite = 1 << 1,
    kFdOob = 1 << 2,
    kFdAccept = 1 << 3,
    kFdConnect = 1 << 4,
    kFdClose = 1 << 5,
};
constexpr int kFdMaxEvents = 10;
constexpr int kSocketError = -1;
constexpr SOCKET kInvalidSocket = ~static_cast<SOCKET>(0);

enum class SocketType { Stream, Datagram };
enum class Option { ReuseAddress, KeepAlive, SendBuffer, ReceiveBuffer, NoDelay, Error };

struct Endpoint {
    bool v6 = false;
    std::array<uint8_t, 16> address{}; // network order; IPv4 uses the first 4 bytes
    uint16_t port = 0;                  // host order
    uint32_t flowInfo = 0;
    uint32_t scopeId = 0;
};

struct Linger {
    bool on = false;
    int seconds = 0;
};

struct ReceiveFlags {
    bool outOfBand = false;
    bool peek = false;
    bool waitAll = false;
};

struct ResolveHints {
    int family = 0; // 0 any, 4 or 6
    bool anyType = true;
    SocketType type = SocketType::Stream;
    int protocol = 0;
    bool passive = false;
    bool canonicalName = false;
    bool numericHost = false;
    bool numericService = false;
};

// Start-up count of the process: startup() gives the new count; cleanup() is false when there
// was no start-up (the last one closes every socket).
int startup();
bool cleanup();
// False with WSANOTINITIALISED when there is no start-up.
bool requireStarted();

SOCKET createSocket(bool v6, SocketType type, int protocol);
int closeSocket(SOCKET id);
int bindSocket(SOCKET id, const Endpoint& local);
int listenSocket(SOCKET id, int backlog);
SOCKET acceptSocket(SOCKET id, Endpoint* peer);
int connectSocket(SOCKET id, const Endpoint& remote);
int sendSocket(SOCKET id, const char* data, int length, bool outOfBand);
int receiveSocket(SOCKET id, char* buffer, int length, ReceiveFlags flags);
int shutdownSocket(SOCKET id, bool receive, bool send);
int setOption(SOCKET id, Option option, int value);
int getOption(SOCKET id, Option option, int& value);
int setLinger(SOCKET id, Linger linger);
int getLinger(SOCKET id, Linger& linger);
int setNonBlocking(SOCKET id, bool nonBlocking);
int bytesReadable(SOCKET id, ULONG& count);
int localEndpoint(SOCKET id, Endpoint& local);
int peerEndpoint(SOCKET id, Endpoint& peer);
int eventSelect(SOCKET id, HANDLE event, LONG events);
int enumNetworkEvents(SOCKET id, HANDLE event, LONG& events, INT errors[kFdMaxEvents]);

// Address text. parseAddress gives 1, or 0 for text that is not an address of the family;
// address is 4 or 16 bytes in network order.
int parseAddress(bool v6, const char* text, uint8_t* address);
std::string formatAddress(bool v6, const uint8_t* address);
// The classic dotted form of one to four parts; false when the text is not one.
bool parseDottedAddress(const char* text, uint32_t& networkOrder);
// Returns 0 or the WSA error of the lookup.
int resolve(const char* node, const char* service, const ResolveHints& hints, std::vector<Endpoint>& results,
            std::string& canonicalName);

// Where a connect to `remote` goes after the platform root's connect-redirect table.
Endpoint redirected(const Endpoint& remote);

} // namespace pal::ws
