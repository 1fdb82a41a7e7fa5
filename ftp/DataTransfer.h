#pragma once

#include "base/Result.h"
#include "ftp/CertificateFacts.h"
#include "ftp/FtpControl.h"
#include "ftp/FtpSettings.h"
#include "ftp/FtpStream.h"
#include "ftp/TcpSocket.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ornbrook {

class TlsContext;

// Where the bytes of a listing or a download go, piece by piece as they arrive.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False stops the transfer: the sink takes no more (full, or cannot write).
    virtual bool Take(std::string_view bytes) = 0;
};

// Where the bytes of an upload come from.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills up to size bytes: the count, 0 at the end, negative on a read error.
    virtual long Fill(char* buffer, std::size_t size) = 0;
};

// What a data connection needs of the session it belongs to.
struct DataLink {
    FtpControl& Control;
    // The control connection's peer: the only host a data connection may come
    // from or go to.
    SocketAddress Peer;
    FtpTimeouts Timeouts;
    Deadline Overall = Deadline::max();
    int StopFd = -1;
    // Under PROT P, the control connection's TLS context, host name and
    // certificate; a null context means data in the clear.
    const TlsContext* Tls = nullptr;
    std::string Host;
    const CertificateFacts* Certificate = nullptr;
    // How a transfer that stalls is told: a listing's data "stalled", a
    // download has "no data".
    const char* Stall = "data stalled for ";
};

// One data connection (RFC 959 3.2) from its setup to its end: active (we
// listen, the server connects) or passive (we connect), secured with TLS under
// PROT P, bytes moved to a sink or from a source, and the control connection
// read all the while, since a server may answer 425, 426 or 421 at any time, or
// 226 before the data has arrived. The session sends the commands (PORT or
// EPRT, EPSV or PASV, the transfer command); this object owns the connection.
class DataTransfer final {
public:
    explicit DataTransfer(DataLink link);
    DataTransfer(const DataTransfer&) = delete;
    DataTransfer& operator=(const DataTransfer&) = delete;

    // Active: listens where the server already reaches us, the control
    // connection's local address; false when it cannot.
    bool Listen();
    // The address PORT or EPRT announces.
    SocketAddress ListenAddress() const { return listener_.LocalAddress(); }
    // Passive: connects to port on the control connection's peer.
    Result<void> Connect(std::uint16_t port);
    // After the transfer command was sent: waits for the data connection
    // (accepted only from the control connection's peer), moves the bytes into
    // sink, or out of source for an upload, and reads the final reply. A
    // negative reply before the transfer began is Refused.
    Result<FtpReply> Run(ByteSink* sink, ByteSource* source);

    // After a failure: the control connection is out of step or gone, and the
    // session must close it.
    bool ControlLost() const { return controlLost_; }
    // Why an active transfer should be tried passive instead.
    enum class Fallback { None, Refused, NeverArrived };
    Fallback FallBack() const { return fallBack_; }

private:
    struct Readiness {
        bool Control = false;
        bool Listener = false;
        bool Data = false;
    };
    // Each step returns an outcome when the transfer has ended, none to go on.
    using Step = std::optional<Result<FtpReply>>;

    Step Lost(ErrorKind kind, std::string reason, int code = 0);
    Step TakeReplies();
    Step SecureWhenDue();
    Step NextDeadline(Deadline& deadline);
    Step Wait(Deadline deadline, Readiness& ready);
    Step Dispatch(const Readiness& ready);
    void Accept();
    Step Handshake();
    Step ReceiveSome();
    Step SendSome();
    void EndOfData();
    Deadline StepDeadline(std::chrono::milliseconds step) const;

    DataLink link_;
    TcpSocket listener_;
    FtpStream data_;
    bool controlLost_ = false;
    Fallback fallBack_ = Fallback::None;

    ByteSink* sink_ = nullptr;
    ByteSource* source_ = nullptr;
    Deadline replyDeadline_;
    Deadline dataDeadline_;
    int preliminary_ = 0;
    bool moved_ = false;
    bool finalSeen_ = false;
    bool dataDone_ = false;
    FtpReply finalReply_;
    std::string chunk_;
    std::size_t outStart_ = 0;
    std::size_t outEnd_ = 0;
};

} // namespace ornbrook
