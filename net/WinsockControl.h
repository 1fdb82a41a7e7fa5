#pragma once

#include "base/Event.h"
#include "diag/Debug_Modul.h"

#include <QObject>

#include <cstdint>
#include <string>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace ornbrook {

// One TCP or UDP endpoint with the members of the classic Winsock control, over
// Qt Network. It is a client (Connect), a listener (Listen) that offers each
// incoming connection through ConnectionRequest for another control to Accept,
// or a UDP endpoint (Bind, or Connect to fix the peer).
//
// Methods called in the wrong state or with bad arguments throw WinsockError.
// Everything that happens on the wire later arrives as an event, never inside the
// method call that started it. Handlers may Close the control; the sockets that
// Close lets go are deleted from the event loop, so closing from a handler is safe.
// Data are byte strings, passed through unchanged.
class WinsockControl final : public QObject {
public:
    // Protocol values.
    static constexpr std::int32_t sckTCPProtocol = 0;
    static constexpr std::int32_t sckUDPProtocol = 1;

    // State values.
    static constexpr std::int32_t sckClosed = 0;
    static constexpr std::int32_t sckOpen = 1;
    static constexpr std::int32_t sckListening = 2;
    static constexpr std::int32_t sckConnectionPending = 3;
    static constexpr std::int32_t sckResolvingHost = 4;
    static constexpr std::int32_t sckHostResolved = 5;
    static constexpr std::int32_t sckConnecting = 6;
    static constexpr std::int32_t sckConnected = 7;
    static constexpr std::int32_t sckClosing = 8;
    static constexpr std::int32_t sckError = 9;

    explicit WinsockControl(QObject* parent = nullptr);
    ~WinsockControl() override;
    WinsockControl(const WinsockControl&) = delete;
    WinsockControl& operator=(const WinsockControl&) = delete;

    // Changeable only while closed.
    std::int32_t Protocol() const { return protocol_; }
    void SetProtocol(std::int32_t protocol);
    // The port of the open socket; while closed, the port to listen on or bind to
    // (0: the system chooses).
    std::int32_t LocalPort() const;
    void SetLocalPort(std::int32_t port);
    std::int32_t RemotePort() const { return remotePort_; }
    void SetRemotePort(std::int32_t port);
    std::string RemoteHost() const { return remoteHost_; }
    void SetRemoteHost(std::string host) { remoteHost_ = std::move(host); }
    // Dotted address of the connected peer, or of the sender of the last datagram read.
    std::string RemoteHostIP() const { return remoteHostIP_; }
    // Local address of the connection; this machine's address otherwise.
    std::string LocalIP() const;
    // The platform socket, -1 when there is none.
    std::int32_t SocketHandle() const;
    std::int32_t State() const { return state_; }

    // TCP: connects to RemoteHost:RemotePort (Connect event, or Error). UDP: fixes
    // the peer for SendData and opens the socket; no event.
    void Connect();
    void Connect(const std::string& host, std::int32_t port);
    // TCP: listens on LocalPort on every IPv4 address.
    void Listen();
    // UDP: opens the socket on the port on every IPv4 address.
    void Bind(std::int32_t localPort);
    // TCP: takes over the connection offered by a ConnectionRequest.
    void Accept(std::int32_t requestID);
    // TCP: sends on the connection. UDP: sends one datagram to RemoteHost:RemotePort
    // (RemoteHostIP when RemoteHost is empty), binding first when closed.
    // SendComplete follows.
    void SendData(const std::string& data);
    // Reads up to maxLen waiting bytes (all when negative). UDP: the next datagram,
    // and its sender becomes RemoteHostIP and RemotePort.
    std::string GetData(std::int32_t maxLen = -1);
    // Closes whatever is open; no event.
    void Close();

    struct EventList {
        Event<> Connect;
        // The peer closed the connection (State is sckClosing until Close).
        Event<> Close;
        Event<std::int32_t> ConnectionRequest;
        // Bytes (TCP) or datagram size (UDP) waiting.
        Event<std::int32_t> DataArrival;
        Event<> SendComplete;
        Event<std::int32_t, std::string> Error;
    };
    EventList Events;

private:
    void RequireClosed() const;
    void AttachTcp(QTcpSocket* socket);
    void ReleaseSockets();
    void RaiseError(std::int32_t number);
    void RaiseSendCompleteLater();
    void OnTcpConnected();
    void OnTcpDisconnected();
    void OnTcpError(int error);
    void OnTcpReadyRead();
    void OnTcpBytesWritten();
    void OnNewConnection();
    void OnUdpReadyRead();

    LiveObject live_{"WinsockControl"};
    std::int32_t protocol_ = sckTCPProtocol;
    std::int32_t state_ = sckClosed;
    std::int32_t localPort_ = 0;
    std::int32_t remotePort_ = 0;
    std::string remoteHost_;
    std::string remoteHostIP_;
    QTcpSocket* tcp_ = nullptr;
    QTcpServer* server_ = nullptr;
    QUdpSocket* udp_ = nullptr;
    bool sendPending_ = false;
    // Counts Close calls, so that work queued for an earlier socket is dropped.
    std::uint64_t generation_ = 0;
    std::uint64_t datagramsRead_ = 0;
};

} // namespace ornbrook
