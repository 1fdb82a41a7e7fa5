#pragma once

#include "platform/MessageWindows.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The small part of Winsock 1.1 in window-message mode that the socket library is
// written against, over POSIX sockets. Socket handles are file descriptors;
// errors are Winsock numbers, read with WSAGetLastError. IPv4 only.
// User-interface thread only (the notifications come from its event loop).
namespace ornbrook::winsock {

using SOCKET = std::int32_t;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Winsock's values; the system headers define these names as macros of their own.
constexpr int FamilyInet = 2;                 // AF_INET
constexpr int TypeStream = 1;                 // SOCK_STREAM
constexpr int ProtocolTcp = 6;                // IPPROTO_TCP
constexpr std::uint32_t FionBio = 0x8004667E; // FIONBIO

// Notification events (low 16 bits of lParam).
constexpr std::int32_t FD_READ = 0x01;
constexpr std::int32_t FD_WRITE = 0x02;
constexpr std::int32_t FD_OOB = 0x04;
constexpr std::int32_t FD_ACCEPT = 0x08;
constexpr std::int32_t FD_CONNECT = 0x10;
constexpr std::int32_t FD_CLOSE = 0x20;

// Winsock error numbers.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The Winsock number of an errno value (WSAENETDOWN for one without its own).
int WinsockErrorFromErrno(int error);

// Start-up and clean-up as a counter of users; version 1.1 and later are served.
// WSAStartup gives 0 or WSAVERNOTSUPPORTED.
int WSAStartup(std::uint16_t version);
int WSACleanup();
int WSAStartupCount();
int WSAGetLastError();

// The socket calls; like Winsock they return SOCKET_ERROR / INVALID_SOCKET and
// leave the reason for WSAGetLastError. Addresses are sockaddr_in records.
SOCKET socket(int family, int type, int protocol);
int bind(SOCKET s, const void* address, int length);
// On a socket with an asynchronous selection (non-blocking) the result is
// SOCKET_ERROR with WSAEWOULDBLOCK and the outcome comes as FD_CONNECT.
int connect(SOCKET s, const void* address, int length);
// Waits for a connect that a non-blocking socket without a selection has
// started (connect gave WSAEWOULDBLOCK), limitMs at the most (negative: no
// limit), as Winsock's select would: 0 once connected, else SOCKET_ERROR with
// the reason, WSAETIMEDOUT when the time ran out.
int WaitForConnect(SOCKET s, int limitMs);
int listen(SOCKET s, int backlog);
// The new socket inherits the listener's selection. FD_ACCEPT comes again for the
// next waiting connection only after this call.
SOCKET accept(SOCKET s, void* address, int* length);
// A send that had to wait gives SOCKET_ERROR with WSAEWOULDBLOCK; FD_WRITE
// follows when the socket can take data again.
int send(SOCKET s, const void* data, int length, int flags);
// Reading re-enables FD_READ for data still waiting.
int recv(SOCKET s, void* buffer, int length, int flags);
int closesocket(SOCKET s);
// FionBio: *argument non-zero for non-blocking mode. A socket with a selection
// cannot be made blocking (WSAEINVAL), as in Winsock.
int ioctlsocket(SOCKET s, std::uint32_t command, std::uint32_t* argument);
int getpeername(SOCKET s, void* address, int* length);
int getsockname(SOCKET s, void* address, int* length);

// Posts `message` to `hwnd` for each event of `mask` that occurs, with Winsock's
// delivery rules; makes the socket non-blocking. Message 0 or mask 0 cancels the
// selection (the socket stays non-blocking).
int WSAAsyncSelect(SOCKET s, HWND hwnd, UINT message, std::int32_t mask);
// The SSL library reads and writes on the descriptor itself. After it has read,
// this re-enables FD_READ as Winsock's recv would; after its write had to
// wait, it asks for the FD_WRITE that Winsock would send.
void RequestReadNotification(SOCKET s);
void RequestWriteNotification(SOCKET s);

// Names: IPv4 addresses in network order (32 bits, first part in the lowest byte).
// inet_addr gives INADDR_NONE (all ones) for text that is no address.
std::uint32_t inet_addr(const std::string& text);
std::string inet_ntoa(std::uint32_t address);
// The host's addresses in the order of the lookup; nothing when unknown.
std::optional<std::vector<std::uint32_t>> gethostbyname(const std::string& name);
std::optional<std::string> gethostbyaddr(std::uint32_t address);
std::optional<std::string> gethostname();

// Tests keep name lookups off the network: while set, these answer instead of
// the system resolver. Empty functions restore it.
struct NameLookup {
    std::function<std::optional<std::vector<std::uint32_t>>(const std::string&)> byName;
    std::function<std::optional<std::string>(std::uint32_t)> byAddress;
};
void SetNameLookupForTesting(NameLookup lookup);

} // namespace ornbrook::winsock
