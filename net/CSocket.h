#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"
#include "net/SocketData.h"
#include "platform/MessageWindows.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace ornbrook {

class ATimer;
struct SockAddrIn;

// One TCP endpoint driven by socket notifications on a hidden window: a client
// (Connect), a listener (Listen) or the server side of one accepted connection
// (Accept), optionally over SSL through the SSL library (net/SslWrapper.h).
// Nothing blocks but an SSL client's Connect: its TCP connect (within TimeOut)
// and its handshake. Failures come as the Error event, not as exceptions.
//
// Ownership: made only through Create. The socket registry (SocketModule.h)
// holds a reference from creation until Cancel, so the owner calls Cancel
// before letting go; after Cancel no notification reaches the object.
//
// Events: C++ cannot have a method and an event both named Connect, so the
// events live in the member Events, in their numbering order:
//   subscriptions += socket->Events.Connect.Connect([] { ... });
//   subscriptions += socket->Events.DataArrival.Connect([](const SocketBytes& b, const std::string&
//   ip) {});
// They are raised synchronously from inside the notification (and, on the SSL
// client path, from inside Connect); handlers may call back into the object. A
// connection that a Closed or Error handler opens is not closed after it.
//
// User-interface thread only.
class CSocket final : public std::enable_shared_from_this<CSocket> {
public:
    // Connection states.
    static constexpr std::int32_t StateClosed = 1;
    static constexpr std::int32_t StateListening = 2;
    static constexpr std::int32_t StateConnecting = 3;
    static constexpr std::int32_t StateConnected = 4;

    // The events, numbered 1 to 7 in this order.
    struct EventSet {
        Event<> Connect;                                                                        // 1
        Event<> Closed;                                                                         // 2
        Event<> SendComplete;                                                                   // 3
        Event<const SocketBytes& /*BinData*/, const std::string& /*RemoteHostIP*/> DataArrival; // 4
        Event<const std::string& /*LineData*/, const std::string& /*RemoteHostIP*/>
            LineDataArrival;                                                     // 5
        Event<std::int32_t /*Error*/, const std::string& /*Description*/> Error; // 6
        Event<> ConnectionRequest;                                               // 7
    };

    // A new closed socket, already in the registry.
    static std::shared_ptr<CSocket> Create();
    ~CSocket();
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;

    // Properties, readable and writable. The runtime reads SocketHandle, State,
    // SSLHandle and WindowProcOld.
    std::int32_t SocketHandle = 0;    // 0: no socket
    std::int32_t State = StateClosed; // 1 closed, 2 listening, 3 connecting, 4 connected
    std::int32_t LocalPort = 0;       // bound before connecting when >= 1; listen port;
                                      // the real local port once connected or listening
    std::string RemoteHost;           // peer address, dotted
    std::int32_t RemotePort = 0;      // peer port; 0 until connected
    std::string LineSeparator;        // empty: byte mode; otherwise line mode
    bool SSLEnable = false;           // SSL on Connect and Accept
    std::string SSLCipher;            // filled when an SSL connection is established
    std::string SSLSubject;
    std::string SSLIssuer;
    std::string SSLServerCertificate; // server side of SSL: certificate file
    std::string SSLServerKey;         // server side of SSL: key file
    bool SSLTrusted = false;          // client side: peer certificate verified
    std::string SSLCAFile;            // client side: CA file for the handshake
    std::int16_t TimeOut = 5000;      // ms for a connect, and for an accepted SSL
                                      // connection's handshake; 0: no limit
    WndProc WindowProcOld;            // the notification window's procedure before hooking
    std::int32_t SSLHandle = 0;       // SSL session; 0: none
    HWND WindowHandle = 0;            // hidden notification window; 0: none

    // Opens a client connection to a host name or dotted address. Ports above
    // 65535 use their low 16 bits; 65535 is refused ("bad port").
    void Connect(const std::string& Host, std::int32_t Port);
    // Listens on LocalPort (0: a port the system chooses) on all local addresses.
    void Listen();
    // The host name of the local address, resolved back to a dotted address;
    // the local address itself when it has no name that resolves.
    std::string LocalIP() const;
    // Sends text, bytes or another value (see SocketData); always 0. Bytes the
    // system cannot take at once wait and go out before anything sent later.
    std::int32_t SendData(const SocketData& Data);
    // Closes the connection or listener; a retry of a failed connect that is
    // still to come is dropped.
    void Disconnect();
    // Takes the pending connection of a listener; called on a closed socket,
    // usually one made in the listener's ConnectionRequest handler. A failed
    // accept leaves this object closed, without an event. With SSL the state
    // is 3 until the handshake, which goes on as the client's bytes arrive, is
    // done (4); a handshake that fails or is not done within TimeOut closes the
    // socket without an event. No Connect event either way.
    void Accept(CSocket& MyServer);
    // Sends a whole file in 5000-byte pieces, letting pending events run between
    // them (notifications, Closed included, may arrive meanwhile).
    void SendFile(const std::string& file);
    // Entry point of the socket runtime's notifications: 0 error (Data: text),
    // 1 FD_READ (Data: bytes), 2 FD_WRITE, 8 FD_ACCEPT, 16 FD_CONNECT, 32 FD_CLOSE.
    // An error while connecting is retried once; one on an established
    // connection (a broken SSL session) raises Error, then Closed.
    void WindowProc(std::int32_t WSAEvent, const SocketData& Data);
    // This machine's best IPv4 address: the last public one, else the last
    // private one, else empty.
    std::string MyIP();
    // This machine's host name.
    std::string myName();
    // Disconnects and leaves the registry; the owner's last call.
    void Cancel();
    // An accepted SSL connection's handshake is under way; the runtime leaves
    // the socket's bytes to it.
    bool InHandshake() const;
    // The runtime's read at FD_READ: the next at most 2000 bytes that came, in
    // order; empty once the socket has no more.
    SocketBytes ReadPiece();

    EventSet Events;

private:
    CSocket() = default;

    void OpenNotifyWindow();
    void CloseNotifyWindow();
    void Fail(std::int32_t number, const std::string& description);
    void RaiseError(std::int32_t number, const std::string& description);
    void RaiseClosed();
    void ContinueHandshake();
    bool ConnectWithinTimeOut(const SockAddrIn& remote);
    void SplitLines(const SocketBytes& bytes);
    bool SendPending();
    std::int32_t SendSome(const std::uint8_t* from, std::size_t count);
    bool SendMustWait(std::int32_t sent);
    void ReconnectTimer_Timer();

    LiveObject live_{"CSocket"};
    Subscription timerSubscription_;
    std::shared_ptr<ATimer> ReconnectTimer;
    std::int16_t ReconnectCount = 0;
    std::string LastHost;
    std::int32_t LastPort = 0;
    std::string LineBuffer;
    // Counts what Connect, Listen and Accept opened, so that the Disconnect
    // after an event leaves alone a connection that the handler opened.
    std::uint64_t openings_ = 0;
    // Bytes handed to SendData that the system could not take yet, one piece
    // per call, in order; the first pendingSent_ bytes of the first are out.
    // Pieces, not one growing buffer, which copied all that waited each time it grew.
    std::deque<SocketBytes> pending_;
    std::size_t pendingSent_ = 0;
    // What a plain socket's last read brought and ReadPiece has not handed out
    // yet: unread_ from unreadNext_ to unreadEnd_.
    SocketBytes unread_;
    std::size_t unreadNext_ = 0;
    std::size_t unreadEnd_ = 0;
};

// Chooses MyIP's answer from the dotted addresses of this machine, in order.
// Private: 127.0.x.x, 10.x.x.x, 172.16-31.x.x, 192.168.x.x; the rest public.
std::string ChooseMyIP(const std::vector<std::string>& addresses);

} // namespace ornbrook
