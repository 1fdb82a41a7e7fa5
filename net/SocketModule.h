#pragma once

#include "platform/MessageWindows.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ornbrook {

class ADomainCache;
class CSocket;

// The runtime beneath CSocket: the registry of live sockets, the count of open
// notification windows, the window procedure that routes socket notifications to
// their CSocket, the socket error texts and the IPv4 name and address helpers.
// User-interface thread only.

// The notification message the socket layer posts: wParam the socket handle,
// lParam the event in the low and the Winsock error number in the high 16 bits.
constexpr UINT SocketNotifyMessage = 2000;

// Every CSocket from its creation to its Cancel; the registry keeps it alive.
std::vector<std::shared_ptr<CSocket>>& SocketRegistry();
// Notification windows open in the process; Winsock is started when the first
// opens and cleaned up when the last closes.
std::int16_t& WinsockUsers();
// The resolved-name cache, made on first use.
ADomainCache& DomainCache();

// Routes a notification or a connect time-out (WM_TIMER, id = socket handle) to
// the registered CSocket with that handle (the last one wins), then passes the
// message on to the socket's previous window procedure. Never throws: an error is
// written to "windowsproclog.txt".
LRESULT SocketWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
// Installs proc (empty: SocketWindowProc) as the window's procedure; returns the
// previous one.
WndProc SetSocketWindowProc(HWND hwnd, WndProc proc);

// The English text of a Winsock error number; empty for a number not known.
std::string GetWinsockErrorText(std::int32_t number);
std::int16_t LoWord(std::int32_t value);
std::int16_t HiWord(std::int32_t value);

// IPv4 addresses are 32-bit values in network order (the first dotted part in the
// lowest byte); -1 is no address.
// A dotted address as it stands, else the domain cache, else a name lookup
// (cached). -1 when the host does not resolve.
std::int32_t GetIpOfHost(const std::string& host);
// Dotted text; empty on failure.
std::string IpToText(std::int32_t address);
// IpToText(GetIpOfHost(host)): "255.255.255.255" for a host that does not resolve.
std::string ResolveHost(const std::string& host);
// Reverse lookup; empty when there is no name.
std::string GetHostOfIp(std::int32_t address);
// This machine's name without surrounding blanks; empty on failure.
std::string GetLocalHostName();
// The index-th (0-based) address of a host, dotted; empty past the end or when
// the host is unknown.
std::string GetHostAddress(const std::string& name, std::int16_t index);
// The remote and local ends of a socket; "0.0.0.0" and 0 when there is none.
std::string GetPeerIP(std::int32_t socket);
std::int32_t GetPeerPort(std::int32_t socket);
std::string GetLocalIP(std::int32_t socket);
std::string GetLocalHostOfSocket(std::int32_t socket);
std::int32_t GetLocalPort(std::int32_t socket);

// The 16-byte IPv4 socket address record: family, port (network order), address,
// eight zero bytes.
struct SockAddrIn {
    std::uint16_t family = 0;
    std::uint16_t port = 0;
    std::uint32_t address = 0;
    std::array<std::uint8_t, 8> zero{};
};
static_assert(sizeof(SockAddrIn) == 16);
void ClearSockAddr(SockAddrIn& record);

// Drops the host from the domain cache, so the next connect looks it up afresh.
void RemoveCachedDomain(const std::string& host);
// Appends one line to "windowsproclog.txt" in the program directory; best effort.
void WriteWindowsProcLog(const std::string& text);

} // namespace ornbrook
