#include "ftp/FtpSession.h"

#include "base/Text_Code.h"
#include "ftp/CertificateTrust.h"
#include "ftp/ListingParser.h"
#include "ftp/StopSignal.h"
#include "ftp/TlsContext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <poll.h>

namespace ornbrook {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;
// A server that keeps answering "wait" is stuck, not busy.
constexpr int MaxPreliminaryReplies = 100;

bool ReadNumber(std::string_view text, std::size_t& pos, unsigned& value, unsigned max) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 6)
        value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    return pos > start && value <= max;
}

// "229 Entering Extended Passive Mode (|||port|)" (RFC 2428 3).
bool ParseEpsvPort(std::string_view text, std::uint16_t& port) {
    auto pos = text.find('(');
    if (pos == std::string_view::npos || pos + 4 >= text.size())
        return false;
    const char d = text[pos + 1];
    if (text[pos + 2] != d || text[pos + 3] != d)
        return false;
    pos += 4;
    unsigned value = 0;
    if (!ReadNumber(text, pos, value, 65535) || value == 0 || pos >= text.size() || text[pos] != d)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)" (RFC 959 4.1.2). Only the port is
// used: the data connection goes to the control connection's peer, whatever
// address the reply names.
bool ParsePasvPort(std::string_view text, std::uint16_t& port) {
    auto pos = text.find_first_of("0123456789");
    if (pos == std::string_view::npos)
        return false;
    unsigned parts[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                return false;
            ++pos;
        }
        if (!ReadNumber(text, pos, parts[i], 255))
            return false;
    }
    const unsigned value = parts[4] * 256 + parts[5];
    if (value == 0)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

std::string PortCommand(const SocketAddress& address) {
    const std::string port = std::to_string(address.Port());
    if (address.Family() == AF_INET) {
        // RFC 959: PORT h1,h2,h3,h4,p1,p2
        return "PORT " + ReplaceAll(address.HostText(), ".", ",") + "," +
               std::to_string(address.Port() / 256) + "," + std::to_string(address.Port() % 256);
    }
    // RFC 2428 2: EPRT |2|address|port|
    return "EPRT |2|" + address.HostText() + "|" + port + "|";
}

// "120 s"; lengths that are no whole seconds (shortened ones) in milliseconds.
std::string Seconds(std::chrono::milliseconds length) {
    if (length.count() % 1000 != 0)
        return std::to_string(length.count()) + " ms";
    return std::to_string(length.count() / 1000) + " s";
}

// What a failed connect means to the user.
std::string ConnectProblem(int error, std::chrono::milliseconds timeout) {
    switch (error) {
    case ECONNREFUSED:
        return "connection refused";
    case ETIMEDOUT:
        return "no answer in " + Seconds(timeout);
    case EHOSTUNREACH:
        return "host unreachable";
    case ENETUNREACH:
        return "network unreachable";
    default:
        return LowerCase(std::strerror(error));
    }
}

FtpResult Refusal(const FtpReply& reply) {
    return FtpResult::Fail(reply.Code, reply.Summary());
}

// A refused login that asks for TLS: 534 is refusal by policy (RFC 4217 12);
// others say it in their text ("530 Non-anonymous sessions must use
// encryption.", "421 Sorry, cleartext sessions ... are not accepted").
bool AsksForTls(const FtpResult& refusal) {
    int code = refusal.Code;
    if (code == 0 && refusal.Message.size() > 3 && refusal.Message[3] == ' ')
        code = std::atoi(refusal.Message.substr(0, 3).c_str());
    if (code == 534)
        return true;
    if (code != 421 && code != 521 && code != 530 && code != 533 && code != 550)
        return false;
    const std::string text = LowerCase(refusal.Message);
    for (const char* word : {"tls", "ssl", "encrypt", "secure", "cleartext"}) {
        if (text.find(word) != std::string::npos)
            return true;
    }
    return false;
}

bool SaysCut(const FtpReply& reply) {
    // Pure-FTPd: "226 Output truncated to 10000 matches".
    return reply.IsPositive() && LowerCase(reply.Text).find("truncat") != std::string::npos;
}

} // namespace

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
    for (int preliminary = 0;;) {
        switch (control_->ReadReply(reply, deadline)) {
        case FtpControl::Status::Reply:
            break;
        case FtpControl::Status::NeedMore:
            return Lost("no reply in " + Seconds(timeouts_.Reply));
        case FtpControl::Status::Closed:
            return Lost("connection closed by the server");
        case FtpControl::Status::Broken:
            return Lost("malformed reply");
        }
        if (reply.IsPreliminary()) {
            if (++preliminary > MaxPreliminaryReplies)
                return Lost("more than " + std::to_string(MaxPreliminaryReplies) +
                            " preliminary replies");
            continue;
        }
        // 421: the server is closing the control connection (RFC 959 4.2).
        if (reply.Code == 421)
            return Lost(reply.Summary());
        return FtpResult::Pass(reply.Code, reply.Text);
    }
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
    if (auto r = ReadFinal(greeting, StepDeadline(timeouts_.Reply)); !r.Ok)
        return r;
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
    const auto addresses =
        ResolveHost(host, static_cast<std::uint16_t>(port), StepLimit(timeouts_.Connect), problem);
    if (addresses.empty())
        return Lost(problem);
    TcpSocket socket;
    int error = 0;
    for (const auto& address : addresses) {
        socket = TcpSocket::ConnectTo(address, StepLimit(timeouts_.Connect), error);
        if (socket.IsOpen() || error == ECANCELED || SteadyClock::now() >= bounds_.Overall)
            break;
    }
    if (!socket.IsOpen())
        return Lost(ConnectProblem(error, timeouts_.Connect));
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
    // RFC 2389 3.2: one feature per line after the first, each led by a space.
    std::string_view text = reply.Text;
    const auto firstBreak = text.find('\n');
    text = firstBreak == std::string_view::npos ? std::string_view() : text.substr(firstBreak + 1);
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string line = TrimSpaces(text.substr(0, end));
        const std::string name = UpperCase(line.substr(0, line.find(' ')));
        // RFC 3659 7.8: MLST in FEAT announces MLSD as well.
        if (name == "MLST" || name == "MLSD")
            facts_.MachineListing = true;
        if (name == "UTF8")
            facts_.Utf8 = true;
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
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

FtpResult FtpSession::ListWith(const std::string& command, ListingForm form,
                               std::vector<std::string>& names) {
    ListingParser parser(form, limits_);
    bool full = false;
    DataStream stream;
    stream.Receive = [&parser, &full](std::string_view data) {
        full = !parser.Feed(data);
        return !full;
    };
    FtpResult r = Transfer(command, 'A', stream);
    if (full || (r.Ok && !parser.Finish()))
        return FtpResult::Fail(0, "listing beyond the caps");
    if (!r.Ok)
        return r;
    names = parser.TakeNames();
    return r;
}

FtpResult FtpSession::List(std::vector<std::string>& names) {
    names.clear();
    listingCut_ = false;
    FtpResult r;
    for (;;) {
        if (facts_.MachineListing) {
            r = ListWith("MLSD", ListingForm::Machine, names);
            // A server that announced MLST but does not know MLSD. Any other refusal
            // of MLSD is a failure: an empty directory lists normally there.
            if (!r.Ok && r.Refused && (r.Code == 500 || r.Code == 502) && IsOpen()) {
                facts_.MachineListing = false;
                RememberFacts();
                continue;
            }
        } else {
            r = ListWith("NLST", ListingForm::Names, names);
            if (!r.Ok && r.Refused && (r.Code == 450 || r.Code == 550) && IsOpen())
                r = ConfirmEmptyByLongListing(r, names);
        }
        break;
    }
    if (!r.Ok) {
        names.clear();
        return r;
    }
    listingCut_ = SaysCut(FtpReply{r.Code, r.Message});
    return r;
}

FtpResult FtpSession::ListAt(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    listingCut_ = false;
    if (!CanListAt())
        return FtpResult::Fail(0, "no listing by path");
    if (HasLineBreakOrNul(path))
        return FtpResult::Fail(0, "line break in the path");
    const FtpResult r = ListWith("MLSD " + path, ListingForm::Machine, names);
    if (!r.Ok) {
        names.clear();
        return r;
    }
    listingCut_ = SaysCut(FtpReply{r.Code, r.Message});
    return r;
}

// Old servers answer NLST of an empty directory with 450 or 550 ("No files
// found"), the same codes that refuse a listing. LIST tells the two apart: an
// empty directory lists there without a single entry line.
FtpResult FtpSession::ConfirmEmptyByLongListing(const FtpResult& refusal,
                                                std::vector<std::string>& names) {
    std::vector<std::string> entries;
    const FtpResult r = ListWith("LIST", ListingForm::Long, entries);
    if (!r.Ok || !entries.empty())
        return refusal;
    names.clear();
    return r;
}

FtpResult FtpSession::Retrieve(const std::string& remoteFile, const std::string& localFile) {
    if (HasLineBreakOrNul(remoteFile))
        return FtpResult::Fail(0, "line break in the file name");
    // The local file is opened at the first byte, so a refused RETR leaves it alone.
    std::ofstream out;
    bool opened = false;
    DataStream stream;
    stream.Receive = [&](std::string_view data) {
        if (!opened) {
            out.open(localFile, std::ios::binary | std::ios::trunc);
            opened = true;
        }
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        return out.good();
    };
    FtpResult r = Transfer("RETR " + remoteFile, 'I', stream);
    if (r.Ok && !opened)
        out.open(localFile, std::ios::binary | std::ios::trunc);
    out.close();
    if (r.Ok && out.fail())
        r = FtpResult::Fail(0, "could not write the local file");
    if (!r.Ok && opened)
        std::remove(localFile.c_str());
    return r;
}

FtpResult FtpSession::Store(const std::string& localFile, const std::string& remoteFile) {
    if (HasLineBreakOrNul(remoteFile))
        return FtpResult::Fail(0, "line break in the file name");
    std::ifstream in(localFile, std::ios::binary);
    if (!in)
        return FtpResult::Fail(0, "could not read the local file");
    DataStream stream;
    stream.Produce = [&in](char* buffer, std::size_t size) -> long {
        in.read(buffer, static_cast<std::streamsize>(size));
        return in.bad() ? -1 : static_cast<long>(in.gcount());
    };
    return Transfer("STOR " + remoteFile, 'I', stream);
}

void FtpSession::Quit() {
    // The answer to QUIT tells nothing we need; waiting for it would only hold
    // up the next check.
    if (control_)
        control_->SendWithoutWaiting("QUIT");
    Close();
}

FtpResult FtpSession::Transfer(const std::string& command, char type, DataStream& stream) {
    if (!control_)
        return FtpResult::Fail(0, "not connected");
    if (auto r = SetType(type); !r.Ok)
        return r;
    if (!passive_) {
        Fallback fallBack = Fallback::None;
        FtpResult r = TransferActive(command, stream, fallBack);
        if (fallBack == Fallback::None)
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
    return TransferPassive(command, stream);
}

FtpResult FtpSession::TransferActive(const std::string& command, DataStream& stream,
                                     Fallback& fallBack) {
    // Listen where the server already reaches us: the control connection's local address.
    SocketAddress local = control_->Socket().LocalAddress();
    local.SetPort(0);
    TcpSocket listener = TcpSocket::ListenOn(local);
    if (!listener.IsOpen()) {
        fallBack = Fallback::Refused;
        return FtpResult::Fail(0, "could not listen");
    }
    FtpReply reply;
    if (auto r = Command(PortCommand(listener.LocalAddress()), reply); !r.Ok)
        return r;
    if (!reply.IsPositive()) {
        fallBack = Fallback::Refused;
        return Refusal(reply);
    }
    if (!control_->Send(command, StepDeadline(timeouts_.Reply)))
        return Lost("could not send");
    return Exchange(std::move(listener), FtpStream(), stream, &fallBack);
}

FtpResult FtpSession::TransferPassive(const std::string& command, DataStream& stream) {
    std::uint16_t port = 0;
    if (auto r = EnterPassive(port); !r.Ok)
        return r;
    SocketAddress target = peer_;
    target.SetPort(port);
    int error = 0;
    TcpSocket data = TcpSocket::ConnectTo(target, StepLimit(timeouts_.DataConnect), error);
    if (!data.IsOpen())
        return Lost("no data connection: " + ConnectProblem(error, timeouts_.DataConnect));
    if (!control_->Send(command, StepDeadline(timeouts_.Reply)))
        return Lost("could not send");
    return Exchange(TcpSocket(), FtpStream(std::move(data)), stream, nullptr);
}

FtpResult FtpSession::EnterPassive(std::uint16_t& port) {
    FtpReply reply;
    if (!epsvRefused_) {
        if (auto r = Command("EPSV", reply); !r.Ok)
            return r;
        if (reply.Code == 229 && ParseEpsvPort(reply.Text, port))
            return FtpResult::Pass(reply.Code, reply.Text);
        epsvRefused_ = true;
    }
    if (auto r = Command("PASV", reply); !r.Ok)
        return r;
    if (reply.Code == 227 && ParsePasvPort(reply.Text, port))
        return FtpResult::Pass(reply.Code, reply.Text);
    return Refusal(reply);
}

// Runs one transfer after its command was sent: waits for the data connection
// (accepting it only from the control connection's peer), moves the data, and
// keeps reading the control connection all the while, since a server may answer
// 425, 426 or 421 at any time, or 226 before the data has arrived.
FtpResult FtpSession::Exchange(TcpSocket listener, FtpStream data, DataStream& stream,
                               Fallback* fallBack) {
    const bool upload = static_cast<bool>(stream.Produce);
    auto now = SteadyClock::now();
    Deadline replyDeadline = StepDeadline(timeouts_.Reply);
    Deadline dataDeadline =
        StepDeadline(data.IsOpen() ? timeouts_.DataIdle : timeouts_.DataConnect);
    int preliminary = 0;
    bool moved = false;
    bool finalSeen = false;
    bool dataDone = false;
    FtpReply reply;
    FtpReply finalReply;
    std::string chunk(ChunkSize, '\0');
    std::size_t outStart = 0;
    std::size_t outEnd = 0;

    for (;;) {
        while (!finalSeen) {
            const auto status = control_->TakeBufferedReply(reply);
            if (status == FtpControl::Status::NeedMore)
                break;
            if (status != FtpControl::Status::Reply)
                return Lost("malformed reply");
            if (reply.IsPreliminary()) {
                if (++preliminary > MaxPreliminaryReplies)
                    return Lost("more than " + std::to_string(MaxPreliminaryReplies) +
                                " preliminary replies");
                continue;
            }
            finalSeen = true;
            finalReply = reply;
            if (reply.IsPositive())
                continue;
            if (reply.Code == 421)
                return Lost(reply.Summary());
            // 425: the server could not open our active data connection.
            if (fallBack && reply.Code == 425 && !data.IsOpen() && !dataDone)
                *fallBack = Fallback::Refused;
            FtpResult r = Refusal(reply);
            r.Refused = preliminary == 0 && !moved;
            return r;
        }
        if (finalSeen && dataDone)
            return FtpResult::Pass(finalReply.Code, finalReply.Text);
        // Servers start TLS on a data connection once the transfer has begun,
        // which they announce with 1xx; a ClientHello before that may be taken
        // for the end of the connection.
        const bool awaitingTls = protectData_ && data.IsOpen() && !data.IsSecure();
        if (awaitingTls && (preliminary > 0 || finalSeen)) {
            if (auto r = SecureData(data); !r.Ok)
                return r;
        }

        now = SteadyClock::now();
        if (listener.IsOpen() && now >= dataDeadline) {
            // The server took PORT but its connection never came (a firewall
            // dropped it). The control connection is out of step now.
            if (fallBack)
                *fallBack = Fallback::NeverArrived;
            return Lost("no data connection in " + Seconds(timeouts_.DataConnect));
        }
        Deadline deadline = dataDone ? replyDeadline : dataDeadline;
        if (preliminary == 0 && !finalSeen)
            deadline = std::min(deadline, replyDeadline);
        if (now >= deadline) {
            if (dataDone || (preliminary == 0 && !finalSeen))
                return Lost("no reply in " + Seconds(timeouts_.Reply));
            return Lost("data stalled for " + Seconds(timeouts_.DataIdle));
        }

        // Bytes TLS has decrypted already are never announced by poll.
        const bool controlBuffered = !finalSeen && control_->Stream().Buffered();
        const bool dataBuffered = data.IsOpen() && data.Buffered();
        pollfd fds[4] = {};
        int count = 0;
        int controlAt = -1;
        int listenerAt = -1;
        int dataAt = -1;
        if (!finalSeen)
            fds[controlAt = count++] = {control_->Socket().Fd(),
                                        control_->Stream().PollEvents(POLLIN), 0};
        if (listener.IsOpen())
            fds[listenerAt = count++] = {listener.Fd(), POLLIN, 0};
        // Nothing is read from a data connection that is still to be secured.
        if (data.IsOpen() && (!protectData_ || data.IsSecure())) {
            const short wanted = upload && !data.Handshaking() ? POLLOUT : POLLIN;
            fds[dataAt = count++] = {data.Fd(), data.PollEvents(wanted), 0};
        }
        const int stopAt = count;
        if (StopFd() >= 0)
            fds[count++] = {StopFd(), POLLIN, 0};
        const int timeout = controlBuffered || dataBuffered ? 0 : MillisecondsUntil(deadline);
        const int ready = ::poll(fds, static_cast<nfds_t>(count), timeout);
        if (ready < 0 && errno != EINTR)
            return Lost("poll failed");
        if (ready <= 0 && !controlBuffered && !dataBuffered)
            continue;
        if (stopAt < count && fds[stopAt].revents != 0)
            return Lost("stopped");
        now = SteadyClock::now();

        if (controlAt >= 0 && (fds[controlAt].revents != 0 || controlBuffered)) {
            const auto status = control_->ReadAvailable();
            if (status == FtpControl::Status::Closed)
                return Lost("connection closed by the server");
            if (status == FtpControl::Status::Broken)
                return Lost("control connection broken");
            // Replies first: whether the data connection may end without
            // close_notify depends on whether 226 came before.
            continue;
        }
        if (listenerAt >= 0 && fds[listenerAt].revents != 0) {
            SocketAddress from;
            TcpSocket accepted = listener.Accept(from);
            // Anyone else could inject a listing or steal an upload: close it.
            if (accepted.IsOpen() && from.SameHost(peer_)) {
                data = FtpStream(std::move(accepted));
                listener.Close();
                dataDeadline = StepDeadline(timeouts_.DataIdle);
            }
        }
        if (dataAt < 0 || !data.IsOpen() || (fds[dataAt].revents == 0 && !dataBuffered))
            continue;
        if (data.Handshaking()) {
            const auto step = data.Handshake();
            if (step == FtpStream::Step::Failed)
                return Lost("TLS handshake on the data connection failed: " + data.Problem());
            if (step == FtpStream::Step::Done) {
                if (auto r = ConfirmDataCertificate(data); !r.Ok)
                    return r;
                dataDeadline = StepDeadline(timeouts_.DataIdle);
            }
            continue;
        }
        if (!upload) {
            const long got = data.ReadSome(chunk.data(), chunk.size());
            if (got == FtpStream::Failed)
                return Lost("data connection broken");
            // Without close_notify the data may have been cut anywhere; only the
            // server's word that all of it was sent (226, read already) makes it whole.
            if (got == FtpStream::Cut && !(finalSeen && finalReply.IsPositive()))
                return Lost("data connection cut short (no TLS close)");
            if (got > 0) {
                moved = true;
                dataDeadline = StepDeadline(timeouts_.DataIdle);
                if (!stream.Receive(std::string_view(chunk.data(), static_cast<std::size_t>(got))))
                    return Lost("transfer stopped by the receiver");
            } else if (got == 0 || got == FtpStream::Cut) {
                data.Close();
                dataDone = true;
                replyDeadline = StepDeadline(timeouts_.Reply);
            }
            continue;
        }
        if (outStart == outEnd) {
            const long made = stream.Produce(chunk.data(), chunk.size());
            if (made < 0)
                return Lost("could not read the local file");
            if (made == 0) {
                // Closing the data connection marks the end of the file (RFC 959
                // 3.3); over TLS, close_notify comes first (RFC 4217 10.2).
                data.Close();
                dataDone = true;
                replyDeadline = StepDeadline(timeouts_.Reply);
                continue;
            }
            outStart = 0;
            outEnd = static_cast<std::size_t>(made);
        }
        const long sent = data.WriteSome(chunk.data() + outStart, outEnd - outStart);
        if (sent == FtpStream::Failed)
            return Lost("data connection broken");
        if (sent > 0) {
            moved = true;
            outStart += static_cast<std::size_t>(sent);
            dataDeadline = StepDeadline(timeouts_.DataIdle);
        }
    }
}

// Under PROT P a data connection speaks TLS as the client, whichever side
// opened it (RFC 4217 12.3), resuming the control connection's session.
FtpResult FtpSession::SecureData(FtpStream& data) {
    if (!tls_ || !data.BeginTls(*tls_, host_, control_->Stream().Session()))
        return Lost("TLS unavailable on the data connection: " + data.Problem());
    return FtpResult::Pass();
}

// A resumed session is the control connection's own. A full handshake must
// show the control connection's certificate, or someone else has answered.
FtpResult FtpSession::ConfirmDataCertificate(const FtpStream& data) {
    if (data.Resumed() || (certificate_ && data.PeerFingerprint() == certificate_->Fingerprint))
        return FtpResult::Pass();
    return Lost("the data connection showed another certificate");
}

} // namespace ornbrook
