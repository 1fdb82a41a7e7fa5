#include "net/WinsockControl.h"

#include "net/WinsockError.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>
#include <map>

namespace ornbrook {

namespace {

// Connections that a listener has offered through ConnectionRequest and that no
// control has accepted yet, by request identifier (the socket handle). Any control
// may accept them, as with the original control, so the table is process-wide.
std::map<std::int32_t, QPointer<QTcpSocket>>& PendingConnections() {
    static std::map<std::int32_t, QPointer<QTcpSocket>> pending;
    return pending;
}

std::string AddressText(const QHostAddress& address) {
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    if (isIPv4)
        return QHostAddress(ipv4).toString().toStdString();
    return address.toString().toStdString();
}

bool ValidPort(std::int32_t port) {
    return port >= 0 && port <= 65535;
}

// This machine's first IPv4 address that is not loopback.
std::string MachineAddress() {
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            return AddressText(address);
    }
    return "127.0.0.1";
}

// The first IPv4 address of a dotted address or host name; null when there is none.
QHostAddress ResolveIPv4(const std::string& host) {
    QHostAddress address;
    if (address.setAddress(QString::fromStdString(host)))
        return address;
    for (const QHostAddress& candidate :
         QHostInfo::fromName(QString::fromStdString(host)).addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
            return candidate;
    }
    return {};
}

} // namespace

WinsockControl::WinsockControl(QObject* parent) : QObject(parent) {}

WinsockControl::~WinsockControl() {
    ReleaseSockets();
}

void WinsockControl::SetProtocol(std::int32_t protocol) {
    RequireClosed();
    if (protocol != sckTCPProtocol && protocol != sckUDPProtocol)
        throw WinsockError(WinsockErrorNumber::InvalidPropertyValue);
    protocol_ = protocol;
}

std::int32_t WinsockControl::LocalPort() const {
    if (server_)
        return server_->serverPort();
    if (udp_)
        return udp_->localPort();
    if (tcp_ && tcp_->localPort() != 0)
        return tcp_->localPort();
    return localPort_;
}

void WinsockControl::SetLocalPort(std::int32_t port) {
    RequireClosed();
    if (!ValidPort(port))
        throw WinsockError(WinsockErrorNumber::InvalidPropertyValue);
    localPort_ = port;
}

void WinsockControl::SetRemotePort(std::int32_t port) {
    if (!ValidPort(port))
        throw WinsockError(WinsockErrorNumber::InvalidPropertyValue);
    remotePort_ = port;
}

std::string WinsockControl::LocalIP() const {
    if (tcp_ && tcp_->state() == QAbstractSocket::ConnectedState)
        return AddressText(tcp_->localAddress());
    return MachineAddress();
}

std::int32_t WinsockControl::SocketHandle() const {
    qintptr handle = -1;
    if (tcp_)
        handle = tcp_->socketDescriptor();
    else if (server_)
        handle = server_->socketDescriptor();
    else if (udp_)
        handle = udp_->socketDescriptor();
    return static_cast<std::int32_t>(handle);
}

void WinsockControl::Connect(const std::string& host, std::int32_t port) {
    if (protocol_ == sckTCPProtocol)
        RequireClosed();
    SetRemoteHost(host);
    SetRemotePort(port);
    Connect();
}

void WinsockControl::Connect() {
    if (protocol_ == sckUDPProtocol) {
        if (state_ == sckClosed)
            Bind(localPort_);
        return;
    }
    RequireClosed();
    if (remoteHost_.empty() || remotePort_ == 0)
        throw WinsockError(WinsockErrorNumber::InvalidArg);
    auto* socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    AttachTcp(socket);
    state_ = QHostAddress().setAddress(QString::fromStdString(remoteHost_)) ? sckConnecting
                                                                            : sckResolvingHost;
    // Qt may report a refused loopback connection inside connectToHost; starting
    // from the event loop keeps every outcome out of this call.
    const auto generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, socket, generation] {
            if (generation != generation_ || tcp_ != socket)
                return;
            if (localPort_ != 0 &&
                !socket->bind(QHostAddress::AnyIPv4, static_cast<quint16>(localPort_))) {
                RaiseError(WinsockErrorFromQt(socket->error()));
                return;
            }
            socket->connectToHost(QString::fromStdString(remoteHost_),
                                  static_cast<quint16>(remotePort_), QIODevice::ReadWrite,
                                  QAbstractSocket::IPv4Protocol);
        },
        Qt::QueuedConnection);
}

void WinsockControl::Listen() {
    if (protocol_ != sckTCPProtocol)
        throw WinsockError(WinsockErrorNumber::WrongProtocol);
    RequireClosed();
    auto* server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    if (!server->listen(QHostAddress::AnyIPv4, static_cast<quint16>(localPort_))) {
        const auto number = WinsockErrorFromQt(server->serverError());
        delete server;
        throw WinsockError(number);
    }
    server_ = server;
    connect(server_, &QTcpServer::newConnection, this, &WinsockControl::OnNewConnection);
    state_ = sckListening;
}

void WinsockControl::Bind(std::int32_t localPort) {
    if (protocol_ != sckUDPProtocol)
        throw WinsockError(WinsockErrorNumber::WrongProtocol);
    RequireClosed();
    SetLocalPort(localPort);
    auto* socket = new QUdpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    // Without DontShareAddress a second bind of the same port would succeed on Linux.
    if (!socket->bind(QHostAddress::AnyIPv4, static_cast<quint16>(localPort_),
                      QAbstractSocket::DontShareAddress)) {
        const auto number = WinsockErrorFromQt(socket->error());
        delete socket;
        throw WinsockError(number);
    }
    udp_ = socket;
    connect(udp_, &QUdpSocket::readyRead, this, &WinsockControl::OnUdpReadyRead);
    state_ = sckOpen;
}

void WinsockControl::Accept(std::int32_t requestID) {
    if (protocol_ != sckTCPProtocol)
        throw WinsockError(WinsockErrorNumber::WrongProtocol);
    RequireClosed();
    auto& pending = PendingConnections();
    const auto found = pending.find(requestID);
    if (found == pending.end() || !found->second)
        throw WinsockError(WinsockErrorNumber::InvalidArg);
    QTcpSocket* socket = found->second;
    pending.erase(found);
    // The listener owns the sockets it hands out; this control takes it over.
    socket->setParent(this);
    AttachTcp(socket);
    state_ = sckConnected;
    remoteHostIP_ = AddressText(socket->peerAddress());
    remotePort_ = socket->peerPort();
    if (socket->bytesAvailable() > 0) {
        const auto generation = generation_;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_)
                    OnTcpReadyRead();
            },
            Qt::QueuedConnection);
    }
}

void WinsockControl::SendData(const std::string& data) {
    if (protocol_ == sckUDPProtocol) {
        // Without a RemoteHost of its own a UDP socket answers the last sender.
        const std::string& host = remoteHost_.empty() ? remoteHostIP_ : remoteHost_;
        if (host.empty() || remotePort_ == 0)
            throw WinsockError(WinsockErrorNumber::BadState);
        if (state_ == sckClosed)
            Bind(localPort_);
        const QHostAddress target = ResolveIPv4(host);
        if (target.isNull())
            throw WinsockError(WinsockErrorNumber::HostNotFound);
        if (udp_->writeDatagram(data.data(), static_cast<qint64>(data.size()), target,
                                static_cast<quint16>(remotePort_)) < 0)
            throw WinsockError(WinsockErrorFromQt(udp_->error()));
        RaiseSendCompleteLater();
        return;
    }
    if (state_ != sckConnected || !tcp_)
        throw WinsockError(WinsockErrorNumber::BadState);
    if (data.empty()) {
        RaiseSendCompleteLater();
        return;
    }
    sendPending_ = true;
    if (tcp_->write(data.data(), static_cast<qint64>(data.size())) < 0)
        throw WinsockError(WinsockErrorFromQt(tcp_->error()));
}

std::string WinsockControl::GetData(std::int32_t maxLen) {
    if (udp_) {
        if (!udp_->hasPendingDatagrams())
            return {};
        const qint64 size = std::max<qint64>(udp_->pendingDatagramSize(), 0);
        std::string datagram(static_cast<std::size_t>(size), '\0');
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 got = udp_->readDatagram(datagram.data(), size, &sender, &senderPort);
        ++datagramsRead_;
        if (got < 0)
            throw WinsockError(WinsockErrorFromQt(udp_->error()));
        datagram.resize(static_cast<std::size_t>(got));
        remoteHostIP_ = AddressText(sender);
        remotePort_ = senderPort;
        if (maxLen >= 0 && datagram.size() > static_cast<std::size_t>(maxLen))
            throw WinsockError(WinsockErrorNumber::MsgTooBig);
        return datagram;
    }
    if (!tcp_)
        throw WinsockError(WinsockErrorNumber::BadState);
    const qint64 available = tcp_->bytesAvailable();
    const qint64 wanted = maxLen < 0 ? available : std::min<qint64>(available, maxLen);
    std::string data(static_cast<std::size_t>(wanted), '\0');
    const qint64 got = tcp_->read(data.data(), wanted);
    if (got < 0)
        throw WinsockError(WinsockErrorFromQt(tcp_->error()));
    data.resize(static_cast<std::size_t>(got));
    return data;
}

void WinsockControl::Close() {
    ReleaseSockets();
    state_ = sckClosed;
}

void WinsockControl::RequireClosed() const {
    if (state_ != sckClosed)
        throw WinsockError(WinsockErrorNumber::InvalidOp);
}

void WinsockControl::AttachTcp(QTcpSocket* socket) {
    tcp_ = socket;
    sendPending_ = false;
    connect(socket, &QTcpSocket::connected, this, &WinsockControl::OnTcpConnected);
    connect(socket, &QTcpSocket::disconnected, this, &WinsockControl::OnTcpDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { OnTcpError(error); });
    connect(socket, &QTcpSocket::readyRead, this, &WinsockControl::OnTcpReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &WinsockControl::OnTcpBytesWritten);
    connect(socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
        if (state_ != sckResolvingHost && state_ != sckConnecting)
            return;
        if (state == QAbstractSocket::HostLookupState)
            state_ = sckResolvingHost;
        else if (state == QAbstractSocket::ConnectingState)
            state_ = sckConnecting;
    });
}

// Sockets are let go, never deleted here: Close may run inside one of their signals.
void WinsockControl::ReleaseSockets() {
    ++generation_;
    sendPending_ = false;
    if (tcp_) {
        tcp_->disconnect(this);
        // Hand what is still buffered to the system before the connection goes.
        if (tcp_->state() == QAbstractSocket::ConnectedState)
            tcp_->flush();
        tcp_->close();
        tcp_->deleteLater();
        tcp_ = nullptr;
    }
    if (server_) {
        server_->disconnect(this);
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
    if (udp_) {
        udp_->disconnect(this);
        udp_->close();
        udp_->deleteLater();
        udp_ = nullptr;
    }
}

void WinsockControl::RaiseError(std::int32_t number) {
    state_ = sckError;
    Events.Error.Raise(number, WinsockErrorText(number));
}

void WinsockControl::RaiseSendCompleteLater() {
    const auto generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == generation_)
                Events.SendComplete.Raise();
        },
        Qt::QueuedConnection);
}

void WinsockControl::OnTcpConnected() {
    state_ = sckConnected;
    remoteHostIP_ = AddressText(tcp_->peerAddress());
    Events.Connect.Raise();
}

void WinsockControl::OnTcpDisconnected() {
    if (state_ != sckConnected)
        return;
    state_ = sckClosing;
    Events.Close.Raise();
}

void WinsockControl::OnTcpError(int error) {
    const auto socketError = static_cast<QAbstractSocket::SocketError>(error);
    // The peer's orderly close is not an error; `disconnected` reports it.
    if (socketError == QAbstractSocket::RemoteHostClosedError && state_ == sckConnected)
        return;
    if (state_ == sckClosed || state_ == sckError)
        return;
    RaiseError(WinsockErrorFromQt(socketError));
}

void WinsockControl::OnTcpReadyRead() {
    if (!tcp_)
        return;
    const qint64 available = tcp_->bytesAvailable();
    if (available > 0)
        Events.DataArrival.Raise(static_cast<std::int32_t>(std::min<qint64>(available, INT32_MAX)));
}

void WinsockControl::OnTcpBytesWritten() {
    if (!tcp_ || !sendPending_ || tcp_->bytesToWrite() > 0)
        return;
    sendPending_ = false;
    Events.SendComplete.Raise();
}

void WinsockControl::OnNewConnection() {
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* socket = server_->nextPendingConnection();
        const auto requestID = static_cast<std::int32_t>(socket->socketDescriptor());
        PendingConnections()[requestID] = socket;
        Events.ConnectionRequest.Raise(requestID);
        // A request that no handler accepted is refused.
        auto& pending = PendingConnections();
        const auto left = pending.find(requestID);
        if (left != pending.end()) {
            if (QTcpSocket* refused = left->second) {
                refused->abort();
                refused->deleteLater();
            }
            pending.erase(left);
        }
    }
}

void WinsockControl::OnUdpReadyRead() {
    while (udp_ && udp_->hasPendingDatagrams()) {
        const QUdpSocket* socket = udp_;
        const auto readBefore = datagramsRead_;
        const auto size = std::max<qint64>(udp_->pendingDatagramSize(), 0);
        Events.DataArrival.Raise(static_cast<std::int32_t>(size));
        // A handler that leaves the datagram waiting gets it offered again with the next one.
        if (udp_ != socket || datagramsRead_ == readBefore)
            return;
    }
}

} // namespace ornbrook
