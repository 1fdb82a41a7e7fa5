#include "net/CSocket.h"

#include "base/NumberText.h"
#include "net/SocketModule.h"
#include "net/SslWrapper.h"
#include "net/WinsockApi.h"
#include "platform/ATimer.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <arpa/inet.h>
#include <fstream>

namespace ornbrook {

namespace {

constexpr std::int32_t ClientMask =
    winsock::FD_READ | winsock::FD_WRITE | winsock::FD_CONNECT | winsock::FD_CLOSE; // 0x33
constexpr std::int32_t ServerMask =
    winsock::FD_READ | winsock::FD_WRITE | winsock::FD_ACCEPT | winsock::FD_CLOSE; // 0x2B

// Winsock runs while any window or call holds it.
void HoldWinsock() {
    if (WinsockUsers() == 0 && winsock::WSAStartup(0x0101) != 0)
        WriteLog("Winsock Error: Winsock is not installed or Setup properly.");
    ++WinsockUsers();
}

void ReleaseWinsock() {
    if (WinsockUsers() <= 0)
        return;
    if (--WinsockUsers() == 0)
        winsock::WSACleanup();
}

SockAddrIn InetAddress(std::int32_t port, std::uint32_t address) {
    SockAddrIn record;
    ClearSockAddr(record);
    record.family = winsock::FamilyInet;
    record.port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
    record.address = address;
    return record;
}

// One of the SSL library's descriptive texts, read through a 1000-character buffer.
std::string SslText(std::int32_t (*call)(std::int32_t, char*, std::int32_t), std::int32_t session) {
    char buffer[1000] = {};
    call(session, buffer, sizeof buffer);
    return std::string(buffer, std::find(std::begin(buffer), std::end(buffer), '\0'));
}

std::string SplitFirst(std::string& text, const std::string& separator) {
    const auto at = text.find(separator);
    if (at == std::string::npos) {
        std::string whole = std::move(text);
        text.clear();
        return whole;
    }
    std::string first = text.substr(0, at);
    text.erase(0, at + separator.size());
    return first;
}

// The bytes SendData writes for a value that is not bytes already.
SocketBytes MadeBytes(const SocketData& data, const std::string& lineSeparator) {
    if (data.GetKind() == SocketData::Kind::Text) {
        const std::string text = data.Text() + lineSeparator;
        return SocketBytes(text.begin(), text.end());
    }
    // Other values go out as their text form in 16-bit units, low byte first.
    const QString text = QString::fromUtf8(data.Text());
    SocketBytes bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()) * 2);
    for (const QChar c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c.unicode() & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c.unicode() >> 8));
    }
    return bytes;
}

} // namespace

std::shared_ptr<CSocket> CSocket::Create() {
    std::shared_ptr<CSocket> socket(new CSocket());
    socket->ReconnectTimer = ATimer::Create();
    socket->ReconnectTimer->SetResolution(30000);
    socket->ReconnectTimer->SetDelay(100);
    std::weak_ptr<CSocket> weak = socket;
    socket->timerSubscription_ = socket->ReconnectTimer->Timer.Connect([weak] {
        if (const auto self = weak.lock())
            self->ReconnectTimer_Timer();
    });
    SocketRegistry().push_back(socket);
    return socket;
}

CSocket::~CSocket() = default;

// Connect, Listen and Accept each open a fresh window here for what they open.
void CSocket::OpenNotifyWindow() {
    ++openings_;
    if (WindowHandle != 0)
        CloseNotifyWindow(); // never two windows, never a lost Winsock hold
    HoldWinsock();
    WindowHandle = CreateWindowExA("static", "tst");
    WindowProcOld = SetSocketWindowProc(WindowHandle, {});
}

void CSocket::CloseNotifyWindow() {
    if (WindowHandle == 0)
        return;
    SetSocketWindowProc(WindowHandle, WindowProcOld);
    WindowProcOld = nullptr;
    DestroyWindow(WindowHandle);
    WindowHandle = 0;
    ReleaseWinsock();
}

void CSocket::RaiseError(std::int32_t number, const std::string& description) {
    ProzessScope scope("Event CSocket_Error");
    Events.Error.Raise(number, description);
}

void CSocket::RaiseClosed() {
    ProzessScope scope("Event CSocket_Closed");
    Events.Closed.Raise();
}

void CSocket::Fail(std::int32_t number, const std::string& description) {
    Disconnect();
    RaiseError(number, description);
}

void CSocket::Connect(const std::string& Host, std::int32_t Port) {
    const auto self = shared_from_this();
    ProzessScope scope("CSocket_Connect");
    if (SocketHandle != 0)
        Disconnect();
    OpenNotifyWindow();
    SocketHandle = 0;
    SSLHandle = 0;
    RemotePort = 0;
    State = StateConnecting;
    SSLCipher.clear();
    SSLSubject.clear();
    SSLIssuer.clear();
    SSLTrusted = false;

    SockAddrIn remote = InetAddress(Port, 0);
    if (remote.port == 0xFFFF)
        return Fail(1, "bad port");
    const std::int32_t address = GetIpOfHost(Host);
    if (address == -1)
        return Fail(2, "host not found");
    remote.address = static_cast<std::uint32_t>(address);

    const winsock::SOCKET handle =
        winsock::socket(winsock::FamilyInet, winsock::TypeStream, winsock::ProtocolTcp);
    if (handle <= 0)
        return Fail(3, "no sockethandle");
    SocketHandle = handle;

    if (LocalPort >= 1) {
        const SockAddrIn local = InetAddress(LocalPort, 0);
        if (local.port == 0xFFFF)
            return Fail(4, "invalid socket");
        if (winsock::bind(SocketHandle, &local, sizeof local) != 0)
            return Fail(5, "error on binding");
    }

    if (SSLEnable) {
        if (!ConnectWithinTimeOut(remote))
            return Fail(7, "error on connecting");
        SSLHandle = ssl_init_client(SocketHandle, SSLCAFile);
        if (SSLHandle == 0)
            return Fail(8, "error on initializing ssl");
        WindowProc(winsock::FD_CONNECT, SocketData());
        if (winsock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage, ClientMask) !=
            0)
            return Fail(6, "error on WSAAsyncSelect");
        SSLTrusted = SSLHandle != 0 && ssl_getverify(SSLHandle) == 0;
    } else {
        if (winsock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage, ClientMask) !=
            0)
            return Fail(6, "error on WSAAsyncSelect");
        // Completion or failure comes as FD_CONNECT.
        winsock::connect(SocketHandle, &remote, sizeof remote);
        if (TimeOut > 0)
            SetTimer(WindowHandle, static_cast<UINT_PTR>(SocketHandle), static_cast<UINT>(TimeOut));
    }
    ReconnectCount = 0;
    LastHost = Host;
    LastPort = Port;
}

void CSocket::Listen() {
    const auto self = shared_from_this();
    ProzessScope scope("CSocket_Listen");
    if (SocketHandle != 0)
        Disconnect();
    OpenNotifyWindow();
    SocketHandle = 0;
    RemoteHost.clear();
    RemotePort = 0;

    const SockAddrIn local = InetAddress(LocalPort, htonl(0));
    if (local.port == 0xFFFF) {
        CloseNotifyWindow();
        return Fail(4, "invalid socket");
    }
    const winsock::SOCKET handle =
        winsock::socket(winsock::FamilyInet, winsock::TypeStream, winsock::ProtocolTcp);
    if (handle <= 0)
        return Fail(3, "no sockethandle");
    SocketHandle = handle;
    if (winsock::bind(SocketHandle, &local, sizeof local) != 0)
        return Fail(5, "error on binding");
    if (winsock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage, ServerMask) != 0)
        return Fail(6, "error on WSAAsyncSelect");
    if (winsock::listen(SocketHandle, 5) != 0)
        return Fail(10, "error on listening");
    State = StateListening;
    LocalPort = GetLocalPort(SocketHandle);
}

std::string CSocket::LocalIP() const {
    // Without a name (or one that does not resolve) the name lookup would only
    // give the all-ones address.
    const std::string name = GetLocalHostOfSocket(SocketHandle);
    const std::int32_t address = name.empty() ? -1 : GetIpOfHost(name);
    return address != -1 ? IpToText(address) : GetLocalIP(SocketHandle);
}

void CSocket::Accept(CSocket& MyServer) {
    const auto self = shared_from_this();
    if (SocketHandle != 0)
        Disconnect(); // an open socket here would be lost otherwise
    SSLEnable = MyServer.SSLEnable;
    SSLServerCertificate = MyServer.SSLServerCertificate;
    SSLServerKey = MyServer.SSLServerKey;
    OpenNotifyWindow();

    const winsock::SOCKET handle = winsock::accept(MyServer.SocketHandle, nullptr, nullptr);
    if (handle == winsock::INVALID_SOCKET || handle == 0) {
        Disconnect();
        return;
    }
    SocketHandle = handle;

    // The accepted socket inherits the listener's window; its notifications move to
    // this object's own window so that they outlive the listener.
    if (winsock::WSAAsyncSelect(SocketHandle, WindowHandle, SocketNotifyMessage, ServerMask) != 0) {
        Disconnect();
        return;
    }
    if (SSLEnable) {
        const std::int32_t session =
            ssl_init_server(SocketHandle, SSLServerCertificate, SSLServerKey);
        if (session <= 100) {
            Disconnect();
            return;
        }
        // A client that says nothing must not hold the thread: the handshake
        // goes on from the notifications, within TimeOut, and the connection
        // counts as established once it is done.
        SSLHandle = session;
        State = StateConnecting;
        if (TimeOut > 0)
            SetTimer(WindowHandle, static_cast<UINT_PTR>(SocketHandle), static_cast<UINT>(TimeOut));
        ContinueHandshake();
        return;
    }
    RemoteHost = GetPeerIP(SocketHandle);
    RemotePort = GetPeerPort(SocketHandle);
    if (SocketHandle != 0)
        State = StateConnected;
}

void CSocket::Disconnect() {
    ProzessScope scope("CSocket_Disconnect");
    // A retry still to come would undo this, or replace what Connect, Listen or
    // Accept open next (a retry waits only while its failed socket is open, so
    // each of them comes through here).
    if (ReconnectTimer)
        ReconnectTimer->StoppTimer();
    State = StateClosed;
    LocalPort = 0;
    if (SocketHandle != 0) {
        if (SSLHandle != 0) {
            ssl_cleanup(SSLHandle);
            SSLHandle = 0;
        }
        KillTimer(WindowHandle, static_cast<UINT_PTR>(SocketHandle));
        winsock::closesocket(SocketHandle);
        SocketHandle = 0;
    }
    pending_.clear();
    pendingSent_ = 0;
    unread_.clear();
    unreadNext_ = 0;
    unreadEnd_ = 0;
    CloseNotifyWindow();
}

void CSocket::Cancel() {
    const auto self = shared_from_this();
    Disconnect();
    auto& registry = SocketRegistry();
    const auto it = std::find(registry.begin(), registry.end(), self);
    if (it != registry.end())
        registry.erase(it);
    if (ReconnectTimer) {
        ReconnectTimer->StoppTimer();
        ReconnectTimer.reset();
    }
}

void CSocket::WindowProc(std::int32_t WSAEvent, const SocketData& Data) {
    const auto self = shared_from_this();
    switch (WSAEvent) {
    case 0:
        if (InHandshake()) {
            Disconnect(); // the handshake's time limit, closed as its failures are
            break;
        }
        if (State == StateConnecting) {
            RemoveCachedDomain(LastHost);
            if (ReconnectCount == 0) {
                if (ReconnectTimer)
                    ReconnectTimer->StartTimer();
                return;
            }
        }
        {
            const bool wasConnected = State == StateConnected;
            const auto opened = openings_;
            RaiseError(0, Data.Text());
            // An established connection that fails has ended, too; unless the
            // handler closed it or opened another.
            if (wasConnected && openings_ == opened && SocketHandle != 0)
                RaiseClosed();
            if (openings_ == opened)
                Disconnect();
        }
        break;
    case winsock::FD_READ: {
        if (InHandshake()) {
            ContinueHandshake(); // the runtime leaves its bytes to the handshake
            break;
        }
        ProzessScope scope("Event CSocket_DataArrival");
        if (LineSeparator.empty())
            Events.DataArrival.Raise(Data.Bytes(), RemoteHost);
        else
            SplitLines(Data.Bytes());
        break;
    }
    case winsock::FD_WRITE:
        if (InHandshake()) {
            ContinueHandshake();
            break;
        }
        // SendComplete means that everything handed to SendData is out.
        if (SendPending()) {
            ProzessScope scope("Event CSocket_SendComplete");
            Events.SendComplete.Raise();
        }
        break;
    case winsock::FD_ACCEPT: {
        ProzessScope scope("Event CSocket_ConnectionRequest");
        Events.ConnectionRequest.Raise();
        break;
    }
    case winsock::FD_CONNECT: {
        if (RemotePort != 0)
            break;
        RemoteHost = GetPeerIP(SocketHandle);
        RemotePort = GetPeerPort(SocketHandle);
        if (SSLHandle > 0) {
            SSLCipher = SslText(ssl_getcipher, SSLHandle);
            SSLSubject = SslText(ssl_getsubject, SSLHandle);
            SSLIssuer = SslText(ssl_getissuer, SSLHandle);
        }
        LocalPort = GetLocalPort(SocketHandle);
        State = StateConnected;
        ProzessScope scope("Event CSocket_Connect");
        Events.Connect.Raise();
        break;
    }
    case winsock::FD_CLOSE: {
        if (InHandshake()) {
            Disconnect(); // the client left before the handshake was done
            break;
        }
        const auto opened = openings_;
        RaiseClosed();
        if (openings_ == opened)
            Disconnect();
        break;
    }
    default:
        break;
    }
}

bool CSocket::InHandshake() const {
    return SSLHandle != 0 && State == StateConnecting;
}

void CSocket::ContinueHandshake() {
    switch (ssl_handshake(SSLHandle)) {
    case SslHandshakeDone:
        KillTimer(WindowHandle, static_cast<UINT_PTR>(SocketHandle));
        RemoteHost = GetPeerIP(SocketHandle);
        RemotePort = GetPeerPort(SocketHandle);
        State = StateConnected;
        // FD_WRITE brings SendComplete, after what SendData kept meanwhile.
        winsock::RequestWriteNotification(SocketHandle);
        break;
    case SslHandshakeWantsRead:
        break; // FD_READ comes when the client's bytes do
    case SslHandshakeWantsWrite:
        winsock::RequestWriteNotification(SocketHandle);
        break;
    default:
        Disconnect(); // closed without an event, as every server-side SSL failure
        break;
    }
}

SocketBytes CSocket::ReadPiece() {
    constexpr std::int32_t Piece = 2000;
    // A system call per 2000 bytes cost more than everything else a read does:
    // a plain socket is read up to 64 KB at a time, handed out 2000 at a time.
    constexpr std::int32_t ReadAhead = 64 * 1024;
    SocketBytes piece;
    if (SSLHandle != 0) {
        piece.resize(Piece);
        const std::int32_t n = ssl_recv(SSLHandle, piece.data(), Piece);
        piece.resize(static_cast<std::size_t>(std::max(n, 0)));
        return piece;
    }
    if (unreadNext_ == unreadEnd_) {
        unread_.resize(ReadAhead);
        const std::int32_t n = winsock::recv(SocketHandle, unread_.data(), ReadAhead, 0);
        unreadNext_ = 0;
        unreadEnd_ = static_cast<std::size_t>(std::max(n, 0));
        // A handler that runs the event loop while more of it waits here gets
        // an FD_READ for it, as it would while the bytes were still unread.
        if (n > Piece)
            PostMessage(WindowHandle, SocketNotifyMessage, static_cast<WPARAM>(SocketHandle),
                        winsock::FD_READ);
    }
    const std::size_t count = std::min<std::size_t>(Piece, unreadEnd_ - unreadNext_);
    const auto from = unread_.begin() + static_cast<std::ptrdiff_t>(unreadNext_);
    piece.assign(from, from + static_cast<std::ptrdiff_t>(count));
    unreadNext_ += count;
    return piece;
}

bool CSocket::ConnectWithinTimeOut(const SockAddrIn& remote) {
    std::uint32_t mode = 1; // non-blocking, to wait with a limit
    if (winsock::ioctlsocket(SocketHandle, winsock::FionBio, &mode) != 0)
        return false;
    int result = winsock::connect(SocketHandle, &remote, sizeof remote);
    if (result != 0 && winsock::WSAGetLastError() == winsock::WSAEWOULDBLOCK)
        result = winsock::WaitForConnect(SocketHandle, TimeOut > 0 ? TimeOut : -1);
    mode = 0; // the client handshake is made on a blocking socket
    return result == 0 && winsock::ioctlsocket(SocketHandle, winsock::FionBio, &mode) == 0;
}

void CSocket::SplitLines(const SocketBytes& bytes) {
    // Texts are kept as the bytes that came; a zero byte ends the packet's text.
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    LineBuffer.append(bytes.begin(), end);
    for (;;) {
        const auto at = LineBuffer.find(LineSeparator);
        if (at == std::string::npos || LineSeparator.empty())
            break;
        const std::string line = LineBuffer.substr(0, at);
        LineBuffer.erase(0, at + LineSeparator.size());
        Events.LineDataArrival.Raise(line, RemoteHost);
    }
}

std::int32_t CSocket::SendSome(const std::uint8_t* from, std::size_t count) {
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(count, 0x7FFFFFFF));
    return SSLHandle != 0 ? ssl_send(SSLHandle, from, length)
                          : winsock::send(SocketHandle, from, length, 0);
}

bool CSocket::SendMustWait(std::int32_t sent) {
    if (sent != -1)
        return false;
    if (SSLHandle == 0)
        return winsock::WSAGetLastError() == winsock::WSAEWOULDBLOCK;
    // From a sound session -1 means a full socket. The bytes kept for FD_WRITE
    // begin where the SSL library stopped, as its next call needs.
    if (ssl_geterror(SSLHandle) != 0)
        return false;
    winsock::RequestWriteNotification(SocketHandle);
    return true;
}

std::int32_t CSocket::SendData(const SocketData& Data) {
    ProzessScope scope("CSocket_SendData");
    if (SocketHandle == 0)
        return 0;
    // Bytes go out from where the caller holds them; only what must wait is copied.
    const bool isBytes =
        Data.GetKind() == SocketData::Kind::Bytes || Data.GetKind() == SocketData::Kind::Byte;
    SocketBytes made = isBytes ? SocketBytes() : MadeBytes(Data, LineSeparator);
    const SocketBytes& message = isBytes ? Data.Bytes() : made;
    WriteProzessInfo("UBound(TheMsg)=" + IntToText(static_cast<std::int64_t>(message.size()) - 1));
    if (message.empty())
        return 0;
    if (!pending_.empty() || InHandshake()) {
        // Earlier bytes or the handshake still wait: these go out after them.
        if (isBytes)
            pending_.push_back(message);
        else
            pending_.push_back(std::move(made));
        return 0;
    }
    std::size_t p = 0;
    bool mustWait = false;
    while (p < message.size() && SocketHandle != 0) {
        WriteProzessInfo("p&=" + IntToText(static_cast<std::int64_t>(p)));
        const std::int32_t sent = SendSome(message.data() + p, message.size() - p);
        WriteProzessInfo("l&=" + IntToText(sent));
        if (sent > 0) {
            p += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent == -1)
            WriteProzessInfo("ERROR (response of api was -1)");
        // A full send buffer is no failure: the rest goes out at FD_WRITE.
        mustWait = SendMustWait(sent);
        break;
    }
    if (mustWait && p < message.size() && SocketHandle != 0) {
        pending_.emplace_back(message.begin() + static_cast<std::ptrdiff_t>(p), message.end());
        pendingSent_ = 0;
    }
    return 0;
}

bool CSocket::SendPending() {
    while (!pending_.empty() && SocketHandle != 0) {
        const SocketBytes& first = pending_.front();
        const std::int32_t sent =
            SendSome(first.data() + pendingSent_, first.size() - pendingSent_);
        if (sent > 0) {
            pendingSent_ += static_cast<std::size_t>(sent);
            if (pendingSent_ == first.size()) {
                pending_.pop_front();
                pendingSent_ = 0;
            }
            continue;
        }
        if (SendMustWait(sent))
            return false;
        break; // the connection failed; its close notification follows
    }
    pending_.clear();
    pendingSent_ = 0;
    return true;
}

void CSocket::SendFile(const std::string& file) {
    const auto self = shared_from_this();
    ProzessScope scope("CSocket_SendFile");
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return;
    in.seekg(0, std::ios::end);
    std::streamoff remaining = in.tellg();
    in.seekg(0, std::ios::beg);
    while (remaining > 0 && SocketHandle != 0) {
        QCoreApplication::processEvents();
        const auto piece = static_cast<std::size_t>(std::min<std::streamoff>(5000, remaining));
        SocketBytes bytes(piece);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(piece));
        if (in.gcount() <= 0)
            break;
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        remaining -= in.gcount();
        SendData(SocketData(std::move(bytes)));
    }
}

std::string CSocket::MyIP() {
    HoldWinsock();
    std::vector<std::string> addresses;
    const std::string name = GetLocalHostName();
    for (std::int16_t i = 0; i < 0x7FFF; ++i) {
        std::string address = GetHostAddress(name, i);
        if (address.empty())
            break;
        addresses.push_back(std::move(address));
    }
    ReleaseWinsock();
    return ChooseMyIP(addresses);
}

std::string CSocket::myName() {
    HoldWinsock();
    std::string name = GetLocalHostName();
    ReleaseWinsock();
    return name;
}

void CSocket::ReconnectTimer_Timer() {
    const auto self = shared_from_this();
    if (ReconnectTimer)
        ReconnectTimer->StoppTimer();
    const auto count = static_cast<std::int16_t>(ReconnectCount + 1);
    Connect(LastHost, LastPort);
    ReconnectCount = count;
}

std::string ChooseMyIP(const std::vector<std::string>& addresses) {
    std::string lastPrivate;
    std::string lastPublic;
    for (const auto& address : addresses) {
        std::string rest = address;
        const double a = TextToNumber(SplitFirst(rest, "."));
        const double b = TextToNumber(SplitFirst(rest, "."));
        const bool isPrivate = (a == 127 && b == 0) || a == 10 ||
                               (a == 172 && b >= 16 && b <= 31) || (a == 192 && b == 168);
        (isPrivate ? lastPrivate : lastPublic) = address;
    }
    return !lastPublic.empty() ? lastPublic : lastPrivate;
}

} // namespace ornbrook
