#include "net/SocketModule.h"

#include "base/ProgramGlobals.h"
#include "net/ADomainCache.h"
#include "net/CSocket.h"
#include "net/SslWrapper.h"
#include "net/WinsockApi.h"

#include <arpa/inet.h>
#include <array>
#include <exception>
#include <fstream>

namespace ornbrook {

namespace {

struct ErrorText {
    std::int32_t number;
    const char* text;
};

constexpr std::array errorTexts{
    ErrorText{10004, "Interrupted system call."},
    ErrorText{10009, "Bad file number."},
    ErrorText{10013, "Permission Denied."},
    ErrorText{10014, "Bad Address."},
    ErrorText{10022, "Invalid Argument."},
    ErrorText{10024, "Too many open files."},
    ErrorText{10035, "Operation would block."},
    ErrorText{10036, "Operation now in progress."},
    ErrorText{10037, "Operation already in progress."},
    ErrorText{10038, "Socket operation on nonsocket."},
    ErrorText{10039, "Destination address required."},
    ErrorText{10040, "Message too long."},
    ErrorText{10041, "Protocol wrong type for socket."},
    ErrorText{10042, "Protocol not available."},
    ErrorText{10043, "Protocol not supported."},
    ErrorText{10044, "Socket type not supported."},
    ErrorText{10045, "Operation not supported on socket."},
    ErrorText{10046, "Protocol family not supported."},
    ErrorText{10047, "Address family not supported by protocol family."},
    ErrorText{10048, "Address already in use."},
    ErrorText{10049, "Can't assign requested address."},
    ErrorText{10050, "Network is down."},
    ErrorText{10051, "Network is unreachable."},
    ErrorText{10052, "Network dropped connection."},
    ErrorText{10053, "Software caused connection abort."},
    ErrorText{10054, "Connection reset by peer."},
    ErrorText{10055, "No buffer space available."},
    ErrorText{10056, "Socket is already connected."},
    ErrorText{10057, "Socket is not connected."},
    ErrorText{10058, "Can't send after socket shutdown."},
    ErrorText{10059, "Too many references: can't splice."},
    ErrorText{10060, "Connection timed out."},
    ErrorText{10061, "Connection refused."},
    ErrorText{10062, "Too many levels of symbolic links."},
    ErrorText{10063, "File name too long."},
    ErrorText{10064, "Host is down."},
    ErrorText{10065, "No route to host."},
    ErrorText{10066, "Directory not empty."},
    ErrorText{10067, "Too many processes."},
    ErrorText{10068, "Too many users."},
    ErrorText{10069, "Disk quota exceeded."},
    ErrorText{10070, "Stale NFS file handle."},
    ErrorText{10071, "Too many levels of remote in path."},
    ErrorText{10091, "Network subsystem is unusable."},
    ErrorText{10092, "Winsock DLL cannot support this application."},
    ErrorText{10093, "Winsock not Initized."},
    ErrorText{10101, "Disconnect."},
    ErrorText{11001, "Host not found."},
    ErrorText{11002, "Nonauthoritative host not found."},
    ErrorText{11003, "Nonrecoverable error."},
    ErrorText{11004, "Valid name, no data record of requested type."},
};

// The object a message is for: the last registered socket with that handle.
std::shared_ptr<CSocket> FindSocket(WPARAM handle) {
    std::shared_ptr<CSocket> found;
    for (const auto& socket : SocketRegistry()) {
        if (socket &&
            static_cast<WPARAM>(static_cast<std::uint32_t>(socket->SocketHandle)) == handle)
            found = socket;
    }
    return found;
}

void Dispatch(CSocket& socket, HWND hwnd, UINT uMsg, WPARAM wParam, std::int16_t event,
              std::int16_t error) {
    if (uMsg == WM_TIMER) {
        KillTimer(hwnd, wParam);
        if (socket.State == CSocket::StateConnecting)
            socket.WindowProc(0, SocketData("Timeout"));
        return;
    }
    if (uMsg != SocketNotifyMessage)
        return;
    switch (event) {
    case winsock::FD_READ: {
        const auto handle = static_cast<winsock::SOCKET>(wParam);
        // A handler may close the socket: what it holds is looked at afresh.
        const auto open = [&] { return socket.SocketHandle == static_cast<std::int32_t>(handle); };
        // An accepted SSL connection's handshake takes the bytes first; those
        // that came with its last flight are read below.
        if (socket.InHandshake())
            socket.WindowProc(winsock::FD_READ, SocketData());
        while (open() && !socket.InHandshake()) {
            SocketBytes piece = socket.ReadPiece();
            if (piece.empty())
                break;
            socket.WindowProc(winsock::FD_READ, SocketData(std::move(piece)));
        }
        if (socket.SSLHandle != 0 && open()) {
            // A broken session stays broken, and the bytes it left unread would
            // wake the socket again and again: the connection ends here.
            if (ssl_geterror(socket.SSLHandle) != 0)
                socket.WindowProc(0, SocketData(GetWinsockErrorText(winsock::WSAECONNABORTED)));
            else
                winsock::RequestReadNotification(handle);
        }
        break;
    }
    case winsock::FD_WRITE:
    case winsock::FD_ACCEPT:
    case winsock::FD_CLOSE:
        socket.WindowProc(event, SocketData::Number(0));
        break;
    case winsock::FD_CONNECT:
        if (error != 0)
            socket.WindowProc(0,
                              SocketData(GetWinsockErrorText(static_cast<std::uint16_t>(error))));
        else
            socket.WindowProc(winsock::FD_CONNECT, SocketData::Number(0));
        break;
    default:
        break;
    }
}

// The four bytes of an address in memory order, each as a decimal number.
std::string DottedBytes(std::uint32_t a) {
    return std::to_string(a & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) + "." +
           std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 24) & 0xFF);
}

} // namespace

std::vector<std::shared_ptr<CSocket>>& SocketRegistry() {
    static std::vector<std::shared_ptr<CSocket>> registry;
    return registry;
}

std::int16_t& WinsockUsers() {
    static std::int16_t users = 0;
    return users;
}

ADomainCache& DomainCache() {
    static ADomainCache cache;
    return cache;
}

LRESULT SocketWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    const std::int16_t event = LoWord(static_cast<std::int32_t>(lParam));
    const std::int16_t error = HiWord(static_cast<std::int32_t>(lParam));
    if (wParam == 0)
        return 0;
    // Held for the whole message: a handler may Cancel the object.
    const std::shared_ptr<CSocket> socket = FindSocket(wParam);
    if (!socket)
        return 0;
    try {
        Dispatch(*socket, hwnd, uMsg, wParam, event, error);
    } catch (const std::exception& e) {
        WriteWindowsProcLog(std::string("WindowProcError> ") + e.what());
    } catch (...) {
        WriteWindowsProcLog("WindowProcError> unknown error");
    }
    if (socket->WindowProcOld)
        return CallWindowProcA(socket->WindowProcOld, hwnd, uMsg, wParam, lParam);
    return 0;
}

WndProc SetSocketWindowProc(HWND hwnd, WndProc proc) {
    if (!proc)
        proc = SocketWindowProc;
    return SetWindowLongA(hwnd, GWL_WNDPROC, std::move(proc));
}

std::string GetWinsockErrorText(std::int32_t number) {
    for (const auto& entry : errorTexts) {
        if (entry.number == number)
            return entry.text;
    }
    return {};
}

std::int16_t LoWord(std::int32_t value) {
    return static_cast<std::int16_t>(static_cast<std::uint32_t>(value) & 0xFFFF);
}

std::int16_t HiWord(std::int32_t value) {
    return static_cast<std::int16_t>((static_cast<std::uint32_t>(value) >> 16) & 0xFFFF);
}

std::int32_t GetIpOfHost(const std::string& host) {
    try {
        const auto dotted = static_cast<std::int32_t>(winsock::inet_addr(host));
        if (dotted != -1)
            return dotted;
        const std::int32_t cached = DomainCache().GetDomainIP(host);
        if (cached != -1)
            return cached;
        const auto addresses = winsock::gethostbyname(host);
        if (!addresses || addresses->empty())
            return -1;
        const auto address = static_cast<std::int32_t>(addresses->front());
        DomainCache().AddDomain(host, address);
        return address;
    } catch (...) {
        return -1;
    }
}

std::string IpToText(std::int32_t address) {
    try {
        std::string text = winsock::inet_ntoa(static_cast<std::uint32_t>(address));
        if (text.size() > 32)
            text.resize(32);
        return text;
    } catch (...) {
        return {};
    }
}

std::string ResolveHost(const std::string& host) {
    return IpToText(GetIpOfHost(host));
}

std::string GetHostOfIp(std::int32_t address) {
    try {
        auto name = winsock::gethostbyaddr(static_cast<std::uint32_t>(address));
        if (!name)
            return {};
        std::string text = name->substr(0, 256);
        return text.substr(0, text.find('\0'));
    } catch (...) {
        return {};
    }
}

std::string GetLocalHostName() {
    const auto name = winsock::gethostname();
    if (!name)
        return {};
    std::string text = name->substr(0, name->find('\0'));
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string GetHostAddress(const std::string& name, std::int16_t index) {
    if (index < 0)
        return {};
    const auto addresses = winsock::gethostbyname(name);
    if (!addresses || static_cast<std::size_t>(index) >= addresses->size())
        return {};
    return DottedBytes((*addresses)[static_cast<std::size_t>(index)]);
}

namespace {

SockAddrIn PeerRecord(std::int32_t socket, bool peer) {
    SockAddrIn record;
    ClearSockAddr(record);
    int length = sizeof record;
    if (peer)
        winsock::getpeername(socket, &record, &length);
    else
        winsock::getsockname(socket, &record, &length);
    return record;
}

std::int32_t PortOf(const SockAddrIn& record) {
    return static_cast<std::int32_t>(ntohs(record.port));
}

} // namespace

std::string GetPeerIP(std::int32_t socket) {
    return DottedBytes(PeerRecord(socket, true).address);
}

std::int32_t GetPeerPort(std::int32_t socket) {
    return PortOf(PeerRecord(socket, true));
}

std::string GetLocalIP(std::int32_t socket) {
    return DottedBytes(PeerRecord(socket, false).address);
}

std::string GetLocalHostOfSocket(std::int32_t socket) {
    return GetHostOfIp(static_cast<std::int32_t>(PeerRecord(socket, false).address));
}

std::int32_t GetLocalPort(std::int32_t socket) {
    return PortOf(PeerRecord(socket, false));
}

void ClearSockAddr(SockAddrIn& record) {
    record = SockAddrIn{};
}

void RemoveCachedDomain(const std::string& host) {
    DomainCache().RemoveBadDomain(host);
}

void WriteWindowsProcLog(const std::string& text) {
    try {
        std::ofstream file(ProgramDir + "windowsproclog.txt", std::ios::binary | std::ios::app);
        file << text << LineBreak;
    } catch (...) {
    }
}

} // namespace ornbrook
