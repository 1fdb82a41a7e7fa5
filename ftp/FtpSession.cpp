#include "ftp/FtpSession.h"

#include "base/Text_Code.h"
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

FtpResult FtpSession::Lost(std::string reason) {
    Close();
    // A wait that ended because the check was stopped or ran out of time says so,
    // whatever step it was in.
    if (bounds_.Stop && bounds_.Stop->Stopped())
        reason = "stopped";
    else if (SteadyClock::now() >= bounds_.Overall)
        reason = "timed out after " + Seconds(bounds_.OverallLength);
    return FtpResult::Fail(0, std::move(reason));
}

FtpResult FtpSession::ReadFinal(FtpReply& reply, Deadline deadline) {
    switch (control_->ReadFinalReply(reply, deadline)) {
    case FtpControl::Status::Reply:
        break;
    case FtpControl::Status::NeedMore:
        return Lost("no reply in " + Seconds(timeouts_.Reply));
    case FtpControl::Status::Closed:
        return Lost("connection closed by the server");
    case FtpControl::Status::Reset:
        return Lost("connection reset by the server");
    case FtpControl::Status::Broken:
        return Lost("malformed reply");
    case FtpControl::Status::Stuck:
        return Lost(PreliminaryFloodText());
    }
    // 421: the server is closing the control connection (RFC 959 4.2).
    if (reply.Code == 421)
        return Lost(reply.Summary());
    return FtpResult::Pass(reply.Code, reply.Text);
}

FtpResult FtpSession::Command(const std::string& line, FtpReply& reply) {
    if (!control_)
        return FtpResult::Fail(0, "not connected");
    if (HasLineBreakOrNul(line))
        return FtpResult::Fail(0, "line break in a command");
    if (!control_->Send(line, StepDeadline(timeouts_.Reply)))
        return Lost("could not send");
    return ReadFinal(reply, StepDeadline(timeouts_.Reply));
}

FtpResult FtpSession::Prepare(const std::string& host, std::int32_t port, const std::string& user,
                              const std::string& pass) {
    Close();
    certificate_.reset();
    certificateRejected_ = false;
    // A line break would end the command early and smuggle in another one.
    if (HasLineBreakOrNul(host) || HasLineBreakOrNul(user) || HasLineBreakOrNul(pass))
        return FtpResult::Fail(0, "line break in the login");
    if (port == 0)
        port = tlsMode_ == TlsMode::Implicit ? 990 : 21;
    if (port < 1 || port > 65535)
        return FtpResult::Fail(0, "no such port");
    if (host.empty())
        return FtpResult::Fail(0, "no host name");
    host_ = host;
    port_ = port;
    user_ = user;
    pass_ = pass;
    directory_.clear();
    facts_ = RecallServer(host_, port_);
    passive_ = facts_.PassiveOnly;
    return FtpResult::Pass();
}

FtpResult FtpSession::Open(const std::string& host, std::int32_t port, const std::string& user,
                           const std::string& pass) {
    if (auto r = Prepare(host, port, user, pass); !r.Ok)
        return r;
    if (auto r = Greet(true); !r.Ok)
        return r;
    const bool anonymous = user.empty() && pass.empty();
    if (auto r = Login(anonymous ? "anonymous" : user, anonymous ? AnonymousPassword : pass);
        !r.Ok) {
        if (tlsMode_ == TlsMode::None && AsksForTls(r))
            r.Message += " (this server wants TLS: try ftpes://)";
        if (IsOpen())
            Quit();
        return r;
    }
    if (tlsMode_ != TlsMode::None) {
        if (auto r = ProtectData(); !r.Ok) {
            if (IsOpen())
                Quit();
            return r;
        }
    }
    if (!facts_.FeaturesKnown) {
        ReadFeatures();
        if (!IsOpen())
            return FtpResult::Fail(0, "connection closed by the server");
        RememberFacts();
    }
    if (facts_.Utf8) {
        // Servers that list UTF8 in FEAT take this option; some send names in
        // their own code page until they get it.
        FtpReply reply;
        if (auto r = Command("OPTS UTF8 ON", reply); !r.Ok)
            return r;
    }
    return FtpResult::Pass(230, "logged in");
}

FtpResult FtpSession::FetchCertificate(const std::string& host, std::int32_t port) {
    if (tlsMode_ == TlsMode::None)
        return FtpResult::Fail(0, "no TLS in a plain FTP URL");
    if (auto r = Prepare(host, port, {}, {}); !r.Ok)
        return r;
    FtpResult r = Greet(false);
    if (IsOpen())
        Quit();
    return r;
}

// Connects, reads the greeting and secures the control connection as the mode
// says: implicit TLS before the greeting, explicit TLS right after it.
FtpResult FtpSession::Greet(bool judgeCertificate) {
    if (auto r = Connect(host_, port_); !r.Ok)
        return r;
    if (tlsMode_ == TlsMode::Implicit) {
        if (auto r = SecureControl(judgeCertificate); !r.Ok)
            return r;
    }
    FtpReply greeting;
    if (auto r = ReadFinal(greeting, StepDeadline(timeouts_.Reply)); !r.Ok) {
        // No reply at all, or bytes that are none: a server of implicit TLS
        // waits for our handshake, or answers with a TLS record.
        if (tlsMode_ == TlsMode::None && greeting.Code == 0 && r.Message != "stopped")
            r.Message += " (this may be an ftps:// server)";
        return r;
    }
    if (!greeting.IsPositive())
        return Lost(greeting.Summary());
    if (tlsMode_ != TlsMode::Explicit)
        return FtpResult::Pass();
    FtpReply reply;
    if (auto r = Command("AUTH TLS", reply); !r.Ok)
        return r;
    // 234 accepts (RFC 4217 4.1). Anything else means no TLS here, and a login
    // in the clear is no substitute for it.
    if (reply.Code != 234) {
        Quit();
        return FtpResult::Fail(reply.Code, "no TLS: " + reply.Summary());
    }
    // Bytes that came after the reply were not protected by what follows.
    if (control_->HoldsUnread())
        return Lost("unexpected reply before the TLS handshake");
    return SecureControl(judgeCertificate);
}

// The TLS handshake on the control connection, then the certificate's judgement
// before a single byte of the login goes out.
FtpResult FtpSession::SecureControl(bool judgeCertificate) {
    if (!tls_)
        tls_ = std::make_unique<TlsContext>();
    FtpStream& stream = control_->Stream();
    if (!tls_->IsValid() || !stream.BeginTls(*tls_, host_, TlsSession()))
        return Lost("TLS unavailable: " + (tls_->IsValid() ? stream.Problem() : TakeTlsError()));
    const WaitLimit limit = StepLimit(timeouts_.Reply);
    for (bool done = false; !done;) {
        switch (stream.Handshake()) {
        case FtpStream::Step::Done:
            done = true;
            break;
        case FtpStream::Step::Failed:
            return Lost("TLS handshake failed: " + stream.Problem());
        case FtpStream::Step::WouldBlock:
            if (WaitFor(stream.Fd(), stream.PollEvents(POLLIN), limit) != WaitResult::Ready)
                return Lost("no TLS handshake in " + Seconds(timeouts_.Reply));
            break;
        }
    }
    certificate_ = stream.PeerCertificate(ServerKey(host_, port_));
    if (!certificate_)
        return Lost("the server showed no certificate");
    const std::string trustFile = judgeCertificate ? CurrentCertificateTrustFile() : "";
    // The user's trust settles it; the system's verdict is not needed then.
    if (judgeCertificate &&
        TrustedFingerprint(certificate_->Server, trustFile) == certificate_->Fingerprint)
        return FtpResult::Pass();
    certificate_->Untrusted = stream.SystemDoubts();
    if (!judgeCertificate ||
        JudgeCertificate(*certificate_, trustFile) == CertificateVerdict::Trusted)
        return FtpResult::Pass();
    certificateRejected_ = true;
    // Nothing has been said over this connection yet, and nothing will be.
    Close();
    return FtpResult::Fail(0, RejectionMessage(*certificate_));
}

// RFC 4217 9: PBSZ 0 must come before PROT, and PROT P protects every data
// connection from now on. A server that will not has no clear listing from us.
FtpResult FtpSession::ProtectData() {
    for (const char* command : {"PBSZ 0", "PROT P"}) {
        FtpReply reply;
        if (auto r = Command(command, reply); !r.Ok)
            return r;
        if (!reply.IsPositive())
            return Refusal(reply);
    }
    protectData_ = true;
    return FtpResult::Pass();
}

FtpResult FtpSession::Connect(const std::string& host, std::int32_t port) {
    std::string problem;
    TcpSocket socket =
        TcpSocket::ConnectToHost(host, static_cast<std::uint16_t>(port), timeouts_.Connect,
                                 bounds_.Overall, StopFd(), problem);
    if (!socket.IsOpen())
        return Lost(problem);
    peer_ = socket.PeerAddress();
    control_ = std::make_unique<FtpControl>(FtpStream(std::move(socket)), limits_, StopFd());
    return FtpResult::Pass();
}

FtpResult FtpSession::Login(const std::string& user, const std::string& pass) {
    FtpReply reply;
    if (auto r = Command("USER " + user, reply); !r.Ok)
        return r;
    if (reply.IsIntermediate()) {
        if (auto r = Command("PASS " + pass, reply); !r.Ok)
            return r;
    }
    // 332 asks for an account, which a URL cannot give.
    if (!reply.IsPositive())
        return Refusal(reply);
    return FtpResult::Pass(reply.Code, reply.Text);
}

FtpResult FtpSession::Reconnect() {
    const std::string directory = directory_;
    if (auto r = Open(host_, port_, user_, pass_); !r.Ok)
        return r;
    if (directory.empty())
        return FtpResult::Pass();
    return ChangeDir(directory);
}

void FtpSession::ReadFeatures() {
    FtpReply reply;
    if (!Command("FEAT", reply).Ok)
        return;
    facts_.FeaturesKnown = true;
    if (!reply.IsPositive())
        return;
    ReadFeatureReply(reply.Text, facts_);
}

void FtpSession::RememberFacts() const {
    RememberServer(host_, port_, facts_);
}

FtpResult FtpSession::ChangeDir(const std::string& path) {
    if (HasLineBreakOrNul(path))
        return FtpResult::Fail(0, "line break in the path");
    FtpReply reply;
    if (auto r = Command("CWD " + path, reply); !r.Ok)
        return r;
    if (!reply.IsPositive())
        return Refusal(reply);
    directory_ = path;
    return FtpResult::Pass(reply.Code, reply.Text);
}

FtpResult FtpSession::SetType(char type) {
    // A new session transfers in ASCII (RFC 959 3.1.1.1), so a listing needs no TYPE.
    if (type_ == type || (type_ == 0 && type == 'A'))
        return FtpResult::Pass();
    FtpReply reply;
    if (auto r = Command(std::string("TYPE ") + type, reply); !r.Ok)
        return r;
    if (!reply.IsPositive())
        return Refusal(reply);
    type_ = type;
    return FtpResult::Pass(reply.Code, reply.Text);
}

FtpResult FtpSession::Retrieve(const std::string& remoteFile, const std::string& localFile) {
    if (HasLineBreakOrNul(remoteFile))
        return FtpResult::Fail(0, "line break in the file name");
    FileSink sink(localFile);
    FtpResult r = Transfer("RETR " + remoteFile, 'I', &sink, nullptr);
    return sink.Finish(std::move(r));
}

FtpResult FtpSession::Store(const std::string& localFile, const std::string& remoteFile) {
    if (HasLineBreakOrNul(remoteFile))
        return FtpResult::Fail(0, "line break in the file name");
    FileSource source(localFile);
    if (!source.IsOpen())
        return FtpResult::Fail(0, "could not read the local file");
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
            startedOver_ = true;
            length_ = 0;
            if (::ftruncate(fd_, 0) != 0) {
                problem_ = std::strerror(errno);
                return false;
            }
        }
        return true;
    }
    std::uint64_t Length() const { return length_; }
    bool StartedOver() const { return startedOver_; }
    bool Overrun() const { return overrun_; }
    const std::string& Problem() const { return problem_; }

private:
    int fd_;
    std::uint64_t length_;
    std::optional<std::uint64_t> limit_;
    const bool& resumed_;
    const DownloadProgress& progress_;
    bool begun_ = false;
    bool startedOver_ = false;
    bool overrun_ = false;
    std::string problem_;
};

} // namespace

DownloadOutcome FtpSession::Download(const std::string& remoteFile, int fd, std::uint64_t offset,
                                     std::optional<std::uint64_t> limit,
                                     const DownloadProgress& progress,
                                     std::chrono::milliseconds idle) {
    DownloadOutcome outcome;
    outcome.Length = offset;
    if (HasLineBreakOrNul(remoteFile)) {
        outcome.Message = "line break in the file name";
        return outcome;
    }
    // Only a lack of bytes ends a download in time; the stop signal stays.
    const SessionBounds before = bounds_;
    const FtpTimeouts timeouts = timeouts_;
    bounds_.Overall = Deadline::max();
    timeouts_.DataIdle = idle;
    restAt_ = facts_.RestStream ? offset : 0;
    restTaken_ = false;
    DownloadSink sink(fd, offset, limit, restTaken_, progress);
    FtpResult r = Transfer("RETR " + remoteFile, 'I', &sink, nullptr);
    restAt_ = 0;
    bounds_ = before;
    timeouts_ = timeouts;
    // A file of no bytes is whole all the same: what a partial one held goes.
    if (r.Ok)
        sink.Begin();
    if (sink.Overrun())
        r = FtpResult::Fail(0, OverrunMessage(*limit));
    else if (!sink.Problem().empty())
        r = FtpResult::Fail(0, "cannot write the local file: " + LowerCase(sink.Problem()));
    else if (!r.Ok && r.Message.rfind("data stalled for ", 0) == 0)
        r.Message = "no data for " + Seconds(idle);
    outcome.Ok = r.Ok;
    outcome.Code = r.Code;
    outcome.Message = r.Message;
    outcome.Length = sink.Length();
    outcome.StartedOver = sink.StartedOver();
    outcome.Overrun = sink.Overrun();
    return outcome;
}

FtpResult FtpSession::SendTransferCommand(const std::string& command) {
    if (restAt_ > 0) {
        FtpReply reply;
        if (auto r = Command("REST " + std::to_string(restAt_), reply); !r.Ok)
            return r;
        // 350: the server will start at that offset (RFC 3659 5.3); any other
        // answer leaves the transfer at its start.
        restTaken_ = reply.Code == 350;
    }
    if (!control_->Send(command, StepDeadline(timeouts_.Reply)))
        return Lost("could not send");
    return FtpResult::Pass();
}

void FtpSession::Quit() {
    // The answer to QUIT tells nothing we need; waiting for it would only hold
    // up the next check.
    if (control_)
        control_->SendWithoutWaiting("QUIT");
    Close();
}

FtpResult FtpSession::Transfer(const std::string& command, char type, ByteSink* sink,
                               ByteSource* source) {
    if (!control_)
        return FtpResult::Fail(0, "not connected");
    if (auto r = SetType(type); !r.Ok)
        return r;
    if (!passive_) {
        DataTransfer::Fallback fallBack = DataTransfer::Fallback::None;
        FtpResult r = TransferActive(command, sink, source, fallBack);
        if (fallBack == DataTransfer::Fallback::None)
            return r;
        // The server cannot reach us (NAT, firewall): passive from now on, for
        // this server and the rest of the run.
        facts_.PassiveOnly = true;
        RememberFacts();
        if (!IsOpen()) {
            // The control connection is out of step after a lost data connection.
            if (auto re = Reconnect(); !re.Ok)
                return re;
            if (auto re = SetType(type); !re.Ok)
                return re;
        }
        passive_ = true;
    }
    return TransferPassive(command, sink, source);
}

DataLink FtpSession::Link() const {
    return DataLink{*control_, peer_,
                    timeouts_, bounds_.Overall,
                    StopFd(),  protectData_ ? tls_.get() : nullptr,
                    host_,     certificate_ ? &*certificate_ : nullptr};
}

FtpResult FtpSession::TransferActive(const std::string& command, ByteSink* sink, ByteSource* source,
                                     DataTransfer::Fallback& fallBack) {
    DataTransfer transfer(Link());
    if (!transfer.Listen()) {
        fallBack = DataTransfer::Fallback::Refused;
        return FtpResult::Fail(0, "could not listen");
    }
    FtpReply reply;
    if (auto r = Command(PortCommand(transfer.ListenAddress()), reply); !r.Ok)
        return r;
    if (!reply.IsPositive()) {
        fallBack = DataTransfer::Fallback::Refused;
        return Refusal(reply);
    }
    if (auto r = SendTransferCommand(command); !r.Ok)
        return r;
    FtpResult r = transfer.Run(sink, source);
    fallBack = transfer.FallBack();
    return transfer.ControlLost() ? Lost(r.Message) : r;
}

FtpResult FtpSession::TransferPassive(const std::string& command, ByteSink* sink,
                                      ByteSource* source) {
    std::uint16_t port = 0;
    if (auto r = EnterPassive(port); !r.Ok)
        return r;
    DataTransfer transfer(Link());
    if (auto r = transfer.Connect(port); !r.Ok)
        return Lost(r.Message);
    if (auto r = SendTransferCommand(command); !r.Ok)
        return r;
    const FtpResult r = transfer.Run(sink, source);
    return transfer.ControlLost() ? Lost(r.Message) : r;
}

FtpResult FtpSession::EnterPassive(std::uint16_t& port) {
    FtpReply reply;
    if (!epsvRefused_) {
        if (auto r = Command("EPSV", reply); !r.Ok)
            return r;
        if (const auto given = EpsvPort(reply.Text); reply.Code == 229 && given) {
            port = *given;
            return FtpResult::Pass(reply.Code, reply.Text);
        }
        epsvRefused_ = true;
    }
    if (auto r = Command("PASV", reply); !r.Ok)
        return r;
    if (const auto given = PasvPort(reply.Text); reply.Code == 227 && given) {
        port = *given;
        return FtpResult::Pass(reply.Code, reply.Text);
    }
    return Refusal(reply);
}

} // namespace ornbrook
