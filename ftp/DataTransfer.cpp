#include "ftp/DataTransfer.h"

#include "ftp/FtpReplies.h"
#include "ftp/TlsContext.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>

namespace ornbrook {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

} // namespace

DataTransfer::DataTransfer(DataLink link) : link_(std::move(link)) {}

Deadline DataTransfer::StepDeadline(std::chrono::milliseconds step) const {
    return std::min(SteadyClock::now() + step, link_.Overall);
}

DataTransfer::Step DataTransfer::Lost(ErrorKind kind, std::string reason, int code) {
    controlLost_ = true;
    return Error{kind, std::move(reason), code};
}

bool DataTransfer::Listen() {
    SocketAddress local = link_.Control.Socket().LocalAddress();
    local.SetPort(0);
    listener_ = TcpSocket::ListenOn(local);
    return listener_.IsOpen();
}

Result<void> DataTransfer::Connect(std::uint16_t port) {
    SocketAddress target = link_.Peer;
    target.SetPort(port);
    int error = 0;
    TcpSocket socket = TcpSocket::ConnectTo(
        target, WaitLimit{StepDeadline(link_.Timeouts.DataConnect), link_.StopFd}, error);
    if (!socket.IsOpen()) {
        controlLost_ = true;
        return Error{ErrorKind::Connection,
                     "no data connection: " + ConnectProblem(error, link_.Timeouts.DataConnect)};
    }
    data_ = FtpStream(std::move(socket));
    return {};
}

Result<FtpReply> DataTransfer::Run(ByteSink* sink, ByteSource* source) {
    sink_ = sink;
    source_ = source;
    chunk_.assign(ChunkSize, '\0');
    replyDeadline_ = StepDeadline(link_.Timeouts.Reply);
    dataDeadline_ =
        StepDeadline(data_.IsOpen() ? link_.Timeouts.DataIdle : link_.Timeouts.DataConnect);
    for (;;) {
        if (Step end = TakeReplies())
            return *end;
        if (finalSeen_ && dataDone_)
            return finalReply_;
        if (Step end = SecureWhenDue())
            return *end;
        Deadline deadline;
        if (Step end = NextDeadline(deadline))
            return *end;
        Readiness ready;
        if (Step end = Wait(deadline, ready))
            return *end;
        if (Step end = Dispatch(ready))
            return *end;
    }
}

// The replies received so far, up to the final one.
DataTransfer::Step DataTransfer::TakeReplies() {
    if (finalSeen_)
        return std::nullopt;
    FtpReply reply;
    switch (link_.Control.TakeFinalReply(reply, preliminary_)) {
    case FtpControl::Status::NeedMore:
        return std::nullopt;
    case FtpControl::Status::Stuck:
        return Lost(ErrorKind::Protocol, PreliminaryFloodText());
    case FtpControl::Status::Reply:
        break;
    default:
        return Lost(ErrorKind::Protocol, "malformed reply");
    }
    finalSeen_ = true;
    finalReply_ = reply;
    if (reply.IsPositive())
        return std::nullopt;
    if (reply.Code == 421)
        return Lost(ErrorKind::Connection, reply.Summary(), reply.Code);
    // 425: the server could not open our active data connection.
    if (reply.Code == 425 && listener_.IsOpen() && !data_.IsOpen() && !dataDone_)
        fallBack_ = Fallback::Refused;
    Error refusal = Refusal(reply);
    // Once the transfer has begun, a negative reply breaks it off.
    if (preliminary_ > 0 || moved_)
        refusal.Kind = ErrorKind::Connection;
    return refusal;
}

// Under PROT P a data connection speaks TLS as the client, whichever side
// opened it (RFC 4217 12.3), resuming the control connection's session.
// Servers start TLS on a data connection once the transfer has begun, which
// they announce with 1xx; a ClientHello before that may be taken for the end
// of the connection.
DataTransfer::Step DataTransfer::SecureWhenDue() {
    const bool awaitingTls = link_.Tls && data_.IsOpen() && !data_.IsSecure();
    if (!awaitingTls || (preliminary_ == 0 && !finalSeen_))
        return std::nullopt;
    if (!data_.BeginTls(*link_.Tls, link_.Host, link_.Control.Stream().Session()))
        return Lost(ErrorKind::Connection,
                    "TLS unavailable on the data connection: " + data_.Problem());
    return std::nullopt;
}

DataTransfer::Step DataTransfer::NextDeadline(Deadline& deadline) {
    const auto now = SteadyClock::now();
    if (listener_.IsOpen() && now >= dataDeadline_) {
        // The server took PORT but its connection never came (a firewall
        // dropped it). The control connection is out of step now.
        fallBack_ = Fallback::NeverArrived;
        return Lost(ErrorKind::TimedOut,
                    "no data connection in " + Seconds(link_.Timeouts.DataConnect));
    }
    deadline = dataDone_ ? replyDeadline_ : dataDeadline_;
    const bool awaitingFirstReply = preliminary_ == 0 && !finalSeen_;
    if (awaitingFirstReply)
        deadline = std::min(deadline, replyDeadline_);
    if (now < deadline)
        return std::nullopt;
    if (dataDone_ || awaitingFirstReply)
        return Lost(ErrorKind::TimedOut, "no reply in " + Seconds(link_.Timeouts.Reply));
    return Lost(ErrorKind::TimedOut, link_.Stall + Seconds(link_.Timeouts.DataIdle));
}

// Waits until the control connection, the listener or the data connection can
// go on, or the deadline; ready stays all false when nothing can.
DataTransfer::Step DataTransfer::Wait(Deadline deadline, Readiness& ready) {
    FtpControl& control = link_.Control;
    // Bytes TLS has decrypted already are never announced by poll.
    const bool controlBuffered = !finalSeen_ && control.Stream().Buffered();
    const bool dataBuffered = data_.IsOpen() && data_.Buffered();
    pollfd fds[4] = {};
    int count = 0;
    int controlAt = -1;
    int listenerAt = -1;
    int dataAt = -1;
    if (!finalSeen_)
        fds[controlAt = count++] = {control.Socket().Fd(), control.Stream().PollEvents(POLLIN), 0};
    if (listener_.IsOpen())
        fds[listenerAt = count++] = {listener_.Fd(), POLLIN, 0};
    // Nothing is read from a data connection that is still to be secured.
    if (data_.IsOpen() && (!link_.Tls || data_.IsSecure())) {
        const short wanted = source_ && !data_.Handshaking() ? POLLOUT : POLLIN;
        fds[dataAt = count++] = {data_.Fd(), data_.PollEvents(wanted), 0};
    }
    const int stopAt = count;
    if (link_.StopFd >= 0)
        fds[count++] = {link_.StopFd, POLLIN, 0};
    const int timeout = controlBuffered || dataBuffered ? 0 : MillisecondsUntil(deadline);
    const int n = ::poll(fds, static_cast<nfds_t>(count), timeout);
    if (n < 0 && errno != EINTR)
        return Lost(ErrorKind::Connection, "poll failed");
    if (n <= 0 && !controlBuffered && !dataBuffered)
        return std::nullopt;
    if (stopAt < count && fds[stopAt].revents != 0)
        return Lost(ErrorKind::Stopped, "stopped");
    ready.Control = controlAt >= 0 && (fds[controlAt].revents != 0 || controlBuffered);
    ready.Listener = listenerAt >= 0 && fds[listenerAt].revents != 0;
    ready.Data = dataAt >= 0 && (fds[dataAt].revents != 0 || dataBuffered);
    return std::nullopt;
}

DataTransfer::Step DataTransfer::Dispatch(const Readiness& ready) {
    if (ready.Control) {
        const auto status = link_.Control.ReadAvailable();
        if (status == FtpControl::Status::Closed)
            return Lost(ErrorKind::Connection, "connection closed by the server");
        if (status == FtpControl::Status::Reset)
            return Lost(ErrorKind::Connection, "connection reset by the server");
        if (status == FtpControl::Status::Broken)
            return Lost(ErrorKind::Connection, "control connection broken");
        // Replies first: whether the data connection may end without
        // close_notify depends on whether 226 came before.
        return std::nullopt;
    }
    if (ready.Listener)
        Accept();
    if (!ready.Data || !data_.IsOpen())
        return std::nullopt;
    if (data_.Handshaking())
        return Handshake();
    return source_ ? SendSome() : ReceiveSome();
}

void DataTransfer::Accept() {
    SocketAddress from;
    TcpSocket accepted = listener_.Accept(from);
    // Anyone else could inject a listing or steal an upload: close it.
    if (accepted.IsOpen() && from.SameHost(link_.Peer)) {
        data_ = FtpStream(std::move(accepted));
        listener_.Close();
        dataDeadline_ = StepDeadline(link_.Timeouts.DataIdle);
    }
}

// A resumed session is the control connection's own. A full handshake must
// show the control connection's certificate, or someone else has answered.
DataTransfer::Step DataTransfer::Handshake() {
    const auto step = data_.Handshake();
    if (step == FtpStream::Step::Failed)
        return Lost(ErrorKind::Connection,
                    "TLS handshake on the data connection failed: " + data_.Problem());
    if (step == FtpStream::Step::Done) {
        const CertificateFacts* certificate = link_.Certificate;
        if (!data_.Resumed() &&
            !(certificate && data_.PeerFingerprint() == certificate->Fingerprint))
            return Lost(ErrorKind::Untrusted, "the data connection showed another certificate");
        dataDeadline_ = StepDeadline(link_.Timeouts.DataIdle);
    }
    return std::nullopt;
}

DataTransfer::Step DataTransfer::ReceiveSome() {
    const long got = data_.ReadSome(chunk_.data(), chunk_.size());
    if (got == FtpStream::Reset)
        return Lost(ErrorKind::Connection, "data connection reset by the server");
    if (got == FtpStream::Failed)
        return Lost(ErrorKind::Connection, "data connection broken");
    // Without close_notify the data may have been cut anywhere; only the
    // server's word that all of it was sent (226, read already) makes it whole.
    if (got == FtpStream::Cut && !(finalSeen_ && finalReply_.IsPositive()))
        return Lost(ErrorKind::Connection, "data connection cut short (no TLS close)");
    if (got > 0) {
        moved_ = true;
        dataDeadline_ = StepDeadline(link_.Timeouts.DataIdle);
        if (sink_ && !sink_->Take(std::string_view(chunk_.data(), static_cast<std::size_t>(got))))
            return Lost(ErrorKind::LocalFile, "transfer stopped by the receiver");
    } else if (got == 0 || got == FtpStream::Cut) {
        EndOfData();
    }
    return std::nullopt;
}

DataTransfer::Step DataTransfer::SendSome() {
    if (outStart_ == outEnd_) {
        const long made = source_->Fill(chunk_.data(), chunk_.size());
        if (made < 0)
            return Lost(ErrorKind::LocalFile, "could not read the local file");
        if (made == 0) {
            // Closing the data connection marks the end of the file (RFC 959
            // 3.3); over TLS, close_notify comes first (RFC 4217 10.2).
            EndOfData();
            return std::nullopt;
        }
        outStart_ = 0;
        outEnd_ = static_cast<std::size_t>(made);
    }
    const long sent = data_.WriteSome(chunk_.data() + outStart_, outEnd_ - outStart_);
    if (sent == FtpStream::Failed)
        return Lost(ErrorKind::Connection, "data connection broken");
    if (sent > 0) {
        moved_ = true;
        outStart_ += static_cast<std::size_t>(sent);
        dataDeadline_ = StepDeadline(link_.Timeouts.DataIdle);
    }
    return std::nullopt;
}

void DataTransfer::EndOfData() {
    data_.Close();
    dataDone_ = true;
    replyDeadline_ = StepDeadline(link_.Timeouts.Reply);
}

} // namespace ornbrook
