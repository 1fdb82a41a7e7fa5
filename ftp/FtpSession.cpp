#include "ftp/FtpSession.h"

#include "base/Text_Code.h"
#include "diag/Debug_Modul.h"
#include "ftp/CertificateTrust.h"
#include "ftp/FtpReplies.h"
#include "ftp/LocalFiles.h"
#include "ftp/StopSignal.h"
#include "ftp/TlsContext.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace ornbrook {

SessionBounds SessionBounds::For(std::chrono::milliseconds length, const StopSignal* stop) {
    return {SteadyClock::now() + length, length, stop};
}

FtpSession::FtpSession(SessionBounds bounds, TlsMode tls)
    : bounds_(bounds), timeouts_(CurrentFtpTimeouts()), limits_(CurrentFtpLimits()), tlsMode_(tls) {
}

FtpSession::~FtpSession() = default;

void FtpSession::Rebind(SessionBounds bounds) {
    bounds_ = bounds;
    if (control_)
        control_->SetStopFd(StopFd());
}

int FtpSession::StopFd() const {
    return bounds_.Stop ? bounds_.Stop->Fd() : -1;
}

Deadline FtpSession::StepDeadline(std::chrono::milliseconds step) const {
    return std::min(SteadyClock::now() + step, bounds_.Overall);
}

WaitLimit FtpSession::StepLimit(std::chrono::milliseconds step) const {
    return {StepDeadline(step), StopFd()};
}

void FtpSession::Close() {
    control_.reset();
    protectData_ = false;
    passive_ = epsvRefused_ = false;
    type_ = 0;
}

Error FtpSession::Lost(Error why) {
    Close();
    // A wait that ended because the check was stopped or ran out of time says so,
    // whatever step it was in.
    if (bounds_.Stop && bounds_.Stop->Stopped())
        why = {ErrorKind::Stopped, "stopped"};
    else if (SteadyClock::now() >= bounds_.Overall)
        why = {ErrorKind::TimedOut, "timed out after " + Seconds(bounds_.OverallLength)};
    return why;
}

FtpSession::Step FtpSession::ReadFinal(FtpReply& reply, Deadline deadline) {
    switch (control_->ReadFinalReply(reply, deadline)) {
    case FtpControl::Status::Reply:
        break;
    case FtpControl::Status::NeedMore:
        return Lost({ErrorKind::TimedOut, "no reply in " + Seconds(timeouts_.Reply)});
    case FtpControl::Status::Closed:
        return Lost({ErrorKind::Connection, "connection closed by the server"});
    case FtpControl::Status::Reset:
        return Lost({ErrorKind::Connection, "connection reset by the server"});
    case FtpControl::Status::Broken:
        return Lost({ErrorKind::Protocol, "malformed reply"});
    case FtpControl::Status::Stuck:
        return Lost({ErrorKind::Protocol, PreliminaryFloodText()});
    }
    // 421: the server is closing the control connection (RFC 959 4.2).
    if (reply.Code == 421)
        return Lost({ErrorKind::Connection, reply.Summary(), reply.Code});
    return reply;
}

FtpSession::Step FtpSession::Command(const std::string& line, FtpReply& reply) {
    if (!control_)
        return Error{ErrorKind::Connection, "not connected"};
    if (HasLineBreakOrNul(line))
        return Error{ErrorKind::Invalid, "line break in a command"};
    if (!control_->Send(line, StepDeadline(timeouts_.Reply)))
        return Lost({ErrorKind::Connection, "could not send"});
    return ReadFinal(reply, StepDeadline(timeouts_.Reply));
}

FtpSession::Step FtpSession::Prepare(const std::string& host, std::int32_t port,
                                     const std::string& user, const std::string& pass) {
    Close();
    certificate_.reset();
    // A line break would end the command early and smuggle in another one.
    if (HasLineBreakOrNul(host) || HasLineBreakOrNul(user) || HasLineBreakOrNul(pass))
        return Error{ErrorKind::Invalid, "line break in the login"};
    if (port == 0)
        port = tlsMode_ == TlsMode::Implicit ? 990 : 21;
    if (port < 1 || port > 65535)
        return Error{ErrorKind::Connection, "no such port"};
    if (host.empty())
        return Error{ErrorKind::Connection, "no host name"};
    host_ = host;
    port_ = port;
    user_ = user;
    pass_ = pass;
    directory_.clear();
    facts_ = RecallServer(host_, port_);
    SetDataMode(dataMode_);
    return FtpReply{};
}

FtpSession::Step FtpSession::Open(const std::string& host, std::int32_t port,
                                  const std::string& user, const std::string& pass) {
    if (auto r = Prepare(host, port, user, pass); !r)
        return r;
    if (auto r = Greet(true); !r)
        return r;
    const bool anonymous = user.empty() && pass.empty();
    if (auto r = Login(anonymous ? "anonymous" : user, anonymous ? AnonymousPassword : pass); !r) {
        Error refusal = std::move(r).error();
        if (tlsMode_ == TlsMode::None && AsksForTls(refusal))
            refusal.Message += " (this server wants TLS: try ftpes://)";
        if (IsOpen())
            Quit();
        return refusal;
    }
    if (tlsMode_ != TlsMode::None) {
        if (auto r = ProtectData(); !r) {
            if (IsOpen())
                Quit();
            return r;
        }
    }
    if (!facts_.FeaturesKnown) {
        ReadFeatures();
        if (!IsOpen())
            return Error{ErrorKind::Connection, "connection closed by the server"};
        RememberFacts();
    }
    if (facts_.Utf8) {
        // Servers that list UTF8 in FEAT take this option; some send names in
        // their own code page until they get it.
        FtpReply reply;
        if (auto r = Command("OPTS UTF8 ON", reply); !r)
            return r;
    }
    return FtpReply{230, "logged in"};
}

FtpSession::Step FtpSession::FetchCertificate(const std::string& host, std::int32_t port) {
    if (tlsMode_ == TlsMode::None)
        return Error{ErrorKind::Untrusted, "no TLS in a plain FTP URL"};
    if (auto r = Prepare(host, port, {}, {}); !r)
        return r;
    Step r = Greet(false);
    if (IsOpen())
        Quit();
    return r;
}

// Connects, reads the greeting and secures the control connection as the mode
// says: implicit TLS before the greeting, explicit TLS right after it.
FtpSession::Step FtpSession::Greet(bool judgeCertificate) {
    if (auto r = Connect(host_, port_); !r)
        return r;
    if (tlsMode_ == TlsMode::Implicit) {
        if (auto r = SecureControl(judgeCertificate); !r)
            return r;
    }
    FtpReply greeting;
    if (auto r = ReadFinal(greeting, StepDeadline(timeouts_.Reply)); !r) {
        // No reply at all, or bytes that are none: a server of implicit TLS
        // waits for our handshake, or answers with a TLS record.
        Error why = std::move(r).error();
        if (tlsMode_ == TlsMode::None && greeting.Code == 0 && why.Kind != ErrorKind::Stopped)
            why.Message += " (this may be an ftps:// server)";
        return why;
    }
    if (!greeting.IsPositive())
        return Lost(Refusal(greeting));
    if (tlsMode_ != TlsMode::Explicit)
        return greeting;
    FtpReply reply;
    if (auto r = Command("AUTH TLS", reply); !r)
        return r;
    // 234 accepts (RFC 4217 4.1). Anything else means no TLS here, and a login
    // in the clear is no substitute for it.
    if (reply.Code != 234) {
        Quit();
        return Error{ErrorKind::Refused, "no TLS: " + reply.Summary(), reply.Code};
    }
    // Bytes that came after the reply were not protected by what follows.
    if (control_->HoldsUnread())
        return Lost({ErrorKind::Protocol, "unexpected reply before the TLS handshake"});
    return SecureControl(judgeCertificate);
}

// The TLS handshake on the control connection, then the certificate's judgement
// before a single byte of the login goes out.
FtpSession::Step FtpSession::SecureControl(bool judgeCertificate) {
    if (!tls_)
        tls_ = std::make_unique<TlsContext>();
    FtpStream& stream = control_->Stream();
    if (!tls_->IsValid() || !stream.BeginTls(*tls_, host_, TlsSession()))
        return Lost({ErrorKind::Connection,
                     "TLS unavailable: " + (tls_->IsValid() ? stream.Problem() : TakeTlsError())});
    const WaitLimit limit = StepLimit(timeouts_.Reply);
    for (bool done = false; !done;) {
        switch (stream.Handshake()) {
        case FtpStream::Step::Done:
            done = true;
            break;
        case FtpStream::Step::Failed:
            return Lost({ErrorKind::Connection, "TLS handshake failed: " + stream.Problem()});
        case FtpStream::Step::WouldBlock:
            if (WaitFor(stream.Fd(), stream.PollEvents(POLLIN), limit) != WaitResult::Ready)
                return Lost(
                    {ErrorKind::TimedOut, "no TLS handshake in " + Seconds(timeouts_.Reply)});
            break;
        }
    }
    certificate_ = stream.PeerCertificate(ServerKey(host_, port_));
    if (!certificate_)
        return Lost({ErrorKind::Untrusted, "the server showed no certificate"});
    const std::string trustFile = judgeCertificate ? CurrentCertificateTrustFile() : "";
    // The user's trust settles it; the system's verdict is not needed then.
    if (judgeCertificate &&
        TrustedFingerprint(certificate_->Server, trustFile) == certificate_->Fingerprint)
        return FtpReply{};
    certificate_->Untrusted = stream.SystemDoubts();
    if (!judgeCertificate ||
        JudgeCertificate(*certificate_, trustFile) == CertificateVerdict::Trusted)
        return FtpReply{};
    // Nothing has been said over this connection yet, and nothing will be.
    Close();
    return Error{ErrorKind::Untrusted, RejectionMessage(*certificate_)};
}

// RFC 4217 9: PBSZ 0 must come before PROT, and PROT P protects every data
// connection from now on. A server that will not has no clear listing from us.
FtpSession::Step FtpSession::ProtectData() {
    FtpReply reply;
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        if (auto r = Command(command, reply); !r)
            return r;
        if (!reply.IsPositive())
            return Refusal(reply);
    }
    protectData_ = true;
    return reply;
}

FtpSession::Step FtpSession::Connect(const std::string& host, std::int32_t port) {
    auto socket = TcpSocket::ConnectToHost(host, static_cast<std::uint16_t>(port),
                                           timeouts_.Connect, bounds_.Overall, StopFd());
    if (!socket)
        return Lost(std::move(socket).error());
    peer_ = socket->PeerAddress();
    control_ = std::make_unique<FtpControl>(FtpStream(std::move(*socket)), limits_, StopFd());
    return FtpReply{};
}

FtpSession::Step FtpSession::Login(const std::string& user, const std::string& pass) {
    FtpReply reply;
    if (auto r = Command("USER " + user, reply); !r)
        return r;
    if (reply.IsIntermediate()) {
        if (auto r = Command("PASS " + pass, reply); !r)
            return r;
    }
    // 332 asks for an account, which a URL cannot give.
    if (!reply.IsPositive()) {
        Error refusal = Refusal(reply);
        refusal.Kind = ErrorKind::LoginRefused;
        return refusal;
    }
    return reply;
}

FtpSession::Step FtpSession::Reconnect() {
    const std::string directory = directory_;
    if (auto r = Open(host_, port_, user_, pass_); !r || directory.empty())
        return r;
    return ChangeDir(directory);
}

void FtpSession::ReadFeatures() {
    FtpReply reply;
    if (!Command("FEAT", reply))
        return;
    facts_.FeaturesKnown = true;
    if (!reply.IsPositive())
        return;
    ReadFeatureReply(reply.Text, facts_);
}

void FtpSession::RememberFacts() const {
    RememberServer(host_, port_, facts_);
}

FtpSession::Step FtpSession::ChangeDir(const std::string& path) {
    if (HasLineBreakOrNul(path))
        return Error{ErrorKind::Invalid, "line break in the path"};
    FtpReply reply;
    if (auto r = Command("CWD " + path, reply); !r)
        return r;
    if (!reply.IsPositive())
        return Refusal(reply);
    directory_ = path;
    return reply;
}

FtpSession::Step FtpSession::SetType(char type) {
    // A new session transfers in ASCII (RFC 959 3.1.1.1), so a listing needs no TYPE.
    if (type_ == type || (type_ == 0 && type == 'A'))
        return FtpReply{};
    FtpReply reply;
    if (auto r = Command(std::string("TYPE ") + type, reply); !r)
        return r;
    if (!reply.IsPositive())
        return Refusal(reply);
    type_ = type;
    return reply;
}

FtpSession::Step FtpSession::Retrieve(const std::string& remoteFile, const std::string& localFile) {
    if (HasLineBreakOrNul(remoteFile))
        return Error{ErrorKind::Invalid, "line break in the file name"};
    FileSink sink(localFile);
    return sink.Finish(Transfer("RETR " + remoteFile, 'I', &sink, nullptr));
}

FtpSession::Step FtpSession::Store(const std::string& localFile, const std::string& remoteFile) {
    if (HasLineBreakOrNul(remoteFile))
        return Error{ErrorKind::Invalid, "line break in the file name"};
    FileSource source(localFile);
    if (!source.IsOpen())
        return Error{ErrorKind::LocalFile, "could not read the local file"};
    return Transfer("STOR " + remoteFile, 'I', nullptr, &source);
}

namespace {

// Writes a download where the local file ends, and learns only at the first
// byte whether the server resumed: a server that refused REST sends the file
// from its start, and what the partial file held goes. Nothing is written past
// the limit: a server that sends more is cut off at the first byte too many.
class DownloadSink final : public ByteSink {
public:
    DownloadSink(int fd, std::uint64_t offset, std::optional<std::uint64_t> limit,
                 const bool& resumed, const DownloadProgress& progress)
        : fd_(fd), length_(offset), limit_(limit), resumed_(resumed), progress_(progress) {}

    bool Take(std::string_view bytes) override {
        if (!Begin())
            return false;
        if (limit_ && bytes.size() > *limit_ - std::min(length_, *limit_)) {
            bytes = bytes.substr(0, *limit_ - std::min(length_, *limit_));
            overrun_ = true;
        }
        while (!bytes.empty()) {
            const ssize_t w =
                ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(length_));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                problem_ = std::strerror(errno);
                return false;
            }
            length_ += static_cast<std::uint64_t>(w);
            bytes.remove_prefix(static_cast<std::size_t>(w));
        }
        if (progress_)
            progress_(length_);
        return !overrun_;
    }
    // Before the first byte, and at the end of a transfer that sent none.
    bool Begin() {
        if (begun_)
            return true;
        begun_ = true;
        if (!resumed_ && length_ > 0) {
            length_ = 0;
            if (::ftruncate(fd_, 0) != 0) {
                problem_ = std::strerror(errno);
                return false;
            }
        }
        return true;
    }
    std::uint64_t Length() const { return length_; }
    bool Overrun() const { return overrun_; }
    const std::string& Problem() const { return problem_; }

private:
    int fd_;
    std::uint64_t length_;
    std::optional<std::uint64_t> limit_;
    const bool& resumed_;
    const DownloadProgress& progress_;
    bool begun_ = false;
    bool overrun_ = false;
    std::string problem_;
};

} // namespace

Result<Downloaded> FtpSession::Download(const std::string& remoteFile, int fd, std::uint64_t offset,
                                        std::optional<std::uint64_t> limit,
                                        const DownloadProgress& progress,
                                        std::chrono::milliseconds idle) {
    if (HasLineBreakOrNul(remoteFile))
        return Error{ErrorKind::Invalid, "line break in the file name"};
    // Only a lack of bytes ends a download in time; the stop signal stays.
    const SessionBounds before = bounds_;
    const FtpTimeouts timeouts = timeouts_;
    bounds_.Overall = Deadline::max();
    timeouts_.DataIdle = idle;
    restAt_ = facts_.RestStream ? offset : 0;
    restTaken_ = false;
    stall_ = "no data for ";
    DownloadSink sink(fd, offset, limit, restTaken_, progress);
    Step r = Transfer("RETR " + remoteFile, 'I', &sink, nullptr);
    restAt_ = 0;
    stall_ = "data stalled for ";
    bounds_ = before;
    timeouts_ = timeouts;
    // A file of no bytes is whole all the same: what a partial one held goes.
    if (r)
        sink.Begin();
    if (sink.Overrun())
        return Error{ErrorKind::Overrun, OverrunMessage(*limit)};
    if (!sink.Problem().empty())
        return Error{ErrorKind::LocalFile,
                     "cannot write the local file: " + LowerCase(sink.Problem())};
    if (!r)
        return std::move(r).error();
    return Downloaded{sink.Length(), std::nullopt};
}

FtpSession::Step FtpSession::SendTransferCommand(const std::string& command) {
    FtpReply reply;
    if (restAt_ > 0) {
        if (auto r = Command("REST " + std::to_string(restAt_), reply); !r)
            return r;
        // 350: the server will start at that offset (RFC 3659 5.3); any other
        // answer leaves the transfer at its start.
        restTaken_ = reply.Code == 350;
    }
    if (!control_->Send(command, StepDeadline(timeouts_.Reply)))
        return Lost({ErrorKind::Connection, "could not send"});
    return reply;
}

void FtpSession::Quit() {
    // The answer to QUIT tells nothing we need; waiting for it would only hold
    // up the next check.
    if (control_)
        control_->SendWithoutWaiting("QUIT");
    Close();
}

namespace {

// A refusal of what prepares a transfer is no refusal of its command.
Error Unprepared(Error why) {
    if (why.Kind == ErrorKind::Refused)
        why.Kind = ErrorKind::Protocol;
    return why;
}

} // namespace

FtpSession::Step FtpSession::Transfer(const std::string& command, char type, ByteSink* sink,
                                      ByteSource* source) {
    if (!control_)
        return Error{ErrorKind::Connection, "not connected"};
    if (auto r = SetType(type); !r)
        return Unprepared(std::move(r).error());
    if (!passive_) {
        DataTransfer::Fallback fallBack = DataTransfer::Fallback::None;
        Step r = TransferActive(command, sink, source, fallBack);
        if (fallBack == DataTransfer::Fallback::None || dataMode_ == DataMode::Active)
            return r;
        // The server cannot reach us (NAT, firewall): passive from now on, for
        // this server, in this run and (kept by the watch list) the next ones.
        if (!facts_.PassiveOnly)
            WriteLog(EscapedText(host_) + ":" + std::to_string(port_) +
                     ": active data connections do not arrive; passive mode from now on");
        facts_.PassiveOnly = true;
        RememberFacts();
        if (!IsOpen()) {
            // The control connection is out of step after a lost data connection.
            if (auto re = Reconnect(); !re)
                return Unprepared(std::move(re).error());
            if (auto re = SetType(type); !re)
                return Unprepared(std::move(re).error());
        }
        passive_ = true;
    }
    return TransferPassive(command, sink, source);
}

std::optional<std::int64_t> FtpSession::ModificationTime(const std::string& remoteFile) {
    FtpReply reply;
    if (!Command("MDTM " + remoteFile, reply) || reply.Code != 213)
        return std::nullopt;
    return MdtmSeconds(reply.Text);
}

void FtpSession::SetDataMode(DataMode mode) {
    dataMode_ = mode;
    passive_ = mode == DataMode::Passive || (mode == DataMode::Auto && facts_.PassiveOnly);
}

DataLink FtpSession::Link() const {
    return DataLink{*control_, peer_,
                    timeouts_, bounds_.Overall,
                    StopFd(),  protectData_ ? tls_.get() : nullptr,
                    host_,     certificate_ ? &*certificate_ : nullptr,
                    stall_};
}

FtpSession::Step FtpSession::TransferActive(const std::string& command, ByteSink* sink,
                                            ByteSource* source, DataTransfer::Fallback& fallBack) {
    DataTransfer transfer(Link());
    if (!transfer.Listen()) {
        fallBack = DataTransfer::Fallback::Refused;
        return Error{ErrorKind::Connection, "could not listen"};
    }
    FtpReply reply;
    if (auto r = Command(PortCommand(transfer.ListenAddress()), reply); !r)
        return Unprepared(std::move(r).error());
    if (!reply.IsPositive()) {
        fallBack = DataTransfer::Fallback::Refused;
        return Unprepared(Refusal(reply));
    }
    if (auto r = SendTransferCommand(command); !r)
        return Unprepared(std::move(r).error());
    Step r = transfer.Run(sink, source);
    fallBack = transfer.FallBack();
    if (!r && transfer.ControlLost())
        return Lost(std::move(r).error());
    return r;
}

FtpSession::Step FtpSession::TransferPassive(const std::string& command, ByteSink* sink,
                                             ByteSource* source) {
    std::uint16_t port = 0;
    if (auto r = EnterPassive(port); !r)
        return Unprepared(std::move(r).error());
    DataTransfer transfer(Link());
    if (auto r = transfer.Connect(port); !r)
        return Lost(std::move(r).error());
    if (auto r = SendTransferCommand(command); !r)
        return Unprepared(std::move(r).error());
    Step r = transfer.Run(sink, source);
    if (!r && transfer.ControlLost())
        return Lost(std::move(r).error());
    return r;
}

FtpSession::Step FtpSession::EnterPassive(std::uint16_t& port) {
    FtpReply reply;
    if (!epsvRefused_) {
        if (auto r = Command("EPSV", reply); !r)
            return r;
        if (const auto given = EpsvPort(reply.Text); reply.Code == 229 && given) {
            port = *given;
            return reply;
        }
        epsvRefused_ = true;
    }
    if (auto r = Command("PASV", reply); !r)
        return r;
    if (const auto given = PasvPort(reply.Text); reply.Code == 227 && given) {
        port = *given;
        return reply;
    }
    return Refusal(reply);
}

} // namespace ornbrook
