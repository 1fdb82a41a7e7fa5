#include "ftp/FtpSession.h"

#include "diag/Text_Code.h"
#include "ftp/ListingParser.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include <poll.h>

namespace ornbrook {

namespace {

constexpr std::size_t ChunkSize = 64 * 1024;

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

} // namespace

FtpSession::FtpSession() : timeouts_(CurrentFtpTimeouts()), limits_(CurrentFtpLimits()) {}

FtpSession::~FtpSession() = default;

void FtpSession::Close() {
    control_.reset();
    machineListing_ = utf8_ = passive_ = epsvRefused_ = false;
    type_ = 0;
}

FtpResult FtpSession::Lost(std::string message) {
    Close();
    return FtpResult::Fail(0, std::move(message));
}

FtpResult FtpSession::ReadFinal(FtpReply& reply, Deadline deadline) {
    for (;;) {
        switch (control_->ReadReply(reply, deadline)) {
        case FtpControl::Status::Reply:
            break;
        case FtpControl::Status::NeedMore:
            return Lost("no reply in time");
        case FtpControl::Status::Closed:
            return Lost("control connection closed");
        case FtpControl::Status::Broken:
            return Lost("malformed reply");
        }
        if (reply.IsPreliminary())
            continue;
        // 421: the server is closing the control connection (RFC 959 4.2).
        if (reply.Code == 421)
            return Lost("421 " + reply.Text);
        return FtpResult::Pass(reply.Code, reply.Text);
    }
}

FtpResult FtpSession::Command(const std::string& line, FtpReply& reply) {
    if (!control_)
        return FtpResult::Fail(0, "not connected");
    if (HasLineBreakOrNul(line))
        return FtpResult::Fail(0, "line break in a command");
    if (!control_->Send(line, ReplyDeadline()))
        return Lost("could not send");
    return ReadFinal(reply, ReplyDeadline());
}

FtpResult FtpSession::Open(const std::string& host, std::int32_t port, const std::string& user,
                           const std::string& pass) {
    Close();
    // A line break would end the command early and smuggle in another one.
    if (HasLineBreakOrNul(host) || HasLineBreakOrNul(user) || HasLineBreakOrNul(pass))
        return FtpResult::Fail(0, "line break in the login");
    if (port == 0)
        port = 21;
    if (port < 1 || port > 65535 || host.empty())
        return FtpResult::Fail(0, "no such host or port");
    const auto addresses = ResolveHost(host, static_cast<std::uint16_t>(port));
    if (addresses.empty())
        return FtpResult::Fail(0, "unknown host");
    TcpSocket socket;
    for (const auto& address : addresses) {
        socket = TcpSocket::ConnectTo(address, SteadyClock::now() + timeouts_.Connect);
        if (socket.IsOpen())
            break;
    }
    if (!socket.IsOpen())
        return FtpResult::Fail(0, "could not connect");
    peer_ = socket.PeerAddress();
    control_ = std::make_unique<FtpControl>(std::move(socket), limits_);

    FtpReply greeting;
    if (auto r = ReadFinal(greeting, ReplyDeadline()); !r.Ok)
        return r;
    if (!greeting.IsPositive())
        return Lost(std::to_string(greeting.Code) + " " + greeting.Text);
    if (auto r = Login(user.empty() && pass.empty() ? "anonymous" : user,
                       user.empty() && pass.empty() ? AnonymousPassword : pass);
        !r.Ok) {
        if (IsOpen())
            Quit();
        return r;
    }
    ReadFeatures();
    if (!IsOpen())
        return FtpResult::Fail(0, "control connection lost");
    if (utf8_) {
        // RFC 2640 names the option; servers that list UTF8 accept it.
        FtpReply reply;
        if (auto r = Command("OPTS UTF8 ON", reply); !r.Ok)
            return r;
    }
    if (machineListing_) {
        // Only the type fact is needed (RFC 3659 7.9); fewer facts are less work
        // for the server and fewer bytes. A refusal changes nothing.
        FtpReply reply;
        if (auto r = Command("OPTS MLST type;", reply); !r.Ok)
            return r;
    }
    return FtpResult::Pass(230, "logged in");
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
        return FtpResult::Fail(reply.Code, reply.Text);
    return FtpResult::Pass(reply.Code, reply.Text);
}

void FtpSession::ReadFeatures() {
    FtpReply reply;
    if (!Command("FEAT", reply).Ok || !reply.IsPositive())
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
            machineListing_ = true;
        if (name == "UTF8")
            utf8_ = true;
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

FtpResult FtpSession::ChangeDir(const std::string& path) {
    if (HasLineBreakOrNul(path))
        return FtpResult::Fail(0, "line break in the path");
    FtpReply reply;
    if (auto r = Command("CWD " + path, reply); !r.Ok)
        return r;
    if (!reply.IsPositive())
        return FtpResult::Fail(reply.Code, reply.Text);
    return FtpResult::Pass(reply.Code, reply.Text);
}

FtpResult FtpSession::SetType(char type) {
    if (type_ == type)
        return FtpResult::Pass();
    FtpReply reply;
    if (auto r = Command(std::string("TYPE ") + type, reply); !r.Ok)
        return r;
    if (!reply.IsPositive())
        return FtpResult::Fail(reply.Code, reply.Text);
    type_ = type;
    return FtpResult::Pass(reply.Code, reply.Text);
}

FtpResult FtpSession::List(std::vector<std::string>& names) {
    names.clear();
    for (;;) {
        ListingParser parser(machineListing_, limits_);
        DataStream stream;
        stream.Receive = [&parser](std::string_view data) { return parser.Feed(data); };
        FtpResult r = Transfer(machineListing_ ? "MLSD" : "NLST", 'A', stream);
        if (!r.Ok) {
            // Several servers answer the listing of an empty directory so.
            if (r.Refused && (r.Code == 450 || r.Code == 550))
                return FtpResult::Pass(r.Code, r.Message);
            // A server that announced MLST but does not know MLSD.
            if (r.Refused && machineListing_ && (r.Code == 500 || r.Code == 502) && IsOpen()) {
                machineListing_ = false;
                continue;
            }
            return r;
        }
        if (!parser.Finish())
            return FtpResult::Fail(0, "listing beyond the caps");
        names = parser.TakeNames();
        return r;
    }
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
    if (!control_)
        return;
    const Deadline deadline = SteadyClock::now() + timeouts_.Quit;
    FtpReply reply;
    if (control_->Send("QUIT", deadline))
        control_->ReadReply(reply, deadline);
    Close();
}

FtpResult FtpSession::Transfer(const std::string& command, char type, DataStream& stream) {
    if (!control_)
        return FtpResult::Fail(0, "not connected");
    if (auto r = SetType(type); !r.Ok)
        return r;
    if (!passive_) {
        bool fallBack = false;
        FtpResult r = TransferActive(command, stream, fallBack);
        if (!fallBack || !IsOpen())
            return r;
        // The server cannot reach us (NAT, firewall): passive from now on.
        passive_ = true;
    }
    return TransferPassive(command, stream);
}

FtpResult FtpSession::TransferActive(const std::string& command, DataStream& stream,
                                     bool& fallBack) {
    // Listen where the server already reaches us: the control connection's local address.
    SocketAddress local = control_->Socket().LocalAddress();
    local.SetPort(0);
    TcpSocket listener = TcpSocket::ListenOn(local);
    if (!listener.IsOpen()) {
        fallBack = true;
        return FtpResult::Fail(0, "could not listen");
    }
    FtpReply reply;
    if (auto r = Command(PortCommand(listener.LocalAddress()), reply); !r.Ok)
        return r;
    if (!reply.IsPositive()) {
        fallBack = true;
        return FtpResult::Fail(reply.Code, reply.Text);
    }
    if (!control_->Send(command, ReplyDeadline()))
        return Lost("could not send");
    return Exchange(std::move(listener), TcpSocket(), stream, &fallBack);
}

FtpResult FtpSession::TransferPassive(const std::string& command, DataStream& stream) {
    std::uint16_t port = 0;
    if (auto r = EnterPassive(port); !r.Ok)
        return r;
    SocketAddress target = peer_;
    target.SetPort(port);
    TcpSocket data = TcpSocket::ConnectTo(target, SteadyClock::now() + timeouts_.DataConnect);
    if (!data.IsOpen())
        return Lost("could not open the data connection");
    if (!control_->Send(command, ReplyDeadline()))
        return Lost("could not send");
    return Exchange(TcpSocket(), std::move(data), stream, nullptr);
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
    return FtpResult::Fail(reply.Code, reply.Text);
}

// Runs one transfer after its command was sent: waits for the data connection
// (accepting it only from the control connection's peer), moves the data, and
// keeps reading the control connection all the while, since a server may answer
// 425, 426 or 421 at any time, or 226 before the data has arrived.
FtpResult FtpSession::Exchange(TcpSocket listener, TcpSocket data, DataStream& stream,
                               bool* fallBack) {
    const bool upload = static_cast<bool>(stream.Produce);
    auto now = SteadyClock::now();
    Deadline replyDeadline = now + timeouts_.Reply;
    Deadline dataDeadline = now + (data.IsOpen() ? timeouts_.DataIdle : timeouts_.DataConnect);
    bool started = false;
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
                started = true;
                continue;
            }
            finalSeen = true;
            finalReply = reply;
            if (reply.IsPositive())
                continue;
            if (reply.Code == 421)
                return Lost("421 " + reply.Text);
            // 425: the server could not open our active data connection.
            if (fallBack && reply.Code == 425 && !data.IsOpen() && !dataDone)
                *fallBack = true;
            FtpResult r = FtpResult::Fail(reply.Code, reply.Text);
            r.Refused = !started && !moved;
            return r;
        }
        if (finalSeen && dataDone)
            return FtpResult::Pass(finalReply.Code, finalReply.Text);

        Deadline deadline = dataDone ? replyDeadline : dataDeadline;
        if (!started && !finalSeen)
            deadline = std::min(deadline, replyDeadline);
        if (SteadyClock::now() >= deadline)
            return Lost("timeout during the transfer");

        pollfd fds[3] = {};
        int count = 0;
        int controlAt = -1;
        int listenerAt = -1;
        int dataAt = -1;
        if (!finalSeen)
            fds[controlAt = count++] = {control_->Socket().Fd(), POLLIN, 0};
        if (listener.IsOpen())
            fds[listenerAt = count++] = {listener.Fd(), POLLIN, 0};
        if (data.IsOpen())
            fds[dataAt = count++] = {data.Fd(), static_cast<short>(upload ? POLLOUT : POLLIN), 0};
        const int ready = ::poll(fds, static_cast<nfds_t>(count), MillisecondsUntil(deadline));
        if (ready < 0 && errno != EINTR)
            return Lost("poll failed");
        if (ready <= 0)
            continue;
        now = SteadyClock::now();

        if (controlAt >= 0 && fds[controlAt].revents != 0) {
            const auto status = control_->ReadAvailable();
            if (status == FtpControl::Status::Closed)
                return Lost("control connection closed");
            if (status == FtpControl::Status::Broken)
                return Lost("control connection broken");
        }
        if (listenerAt >= 0 && fds[listenerAt].revents != 0) {
            SocketAddress from;
            TcpSocket accepted = listener.Accept(from);
            // Anyone else could inject a listing or steal an upload: close it.
            if (accepted.IsOpen() && from.SameHost(peer_)) {
                data = std::move(accepted);
                listener.Close();
                dataDeadline = now + timeouts_.DataIdle;
            }
        }
        if (dataAt < 0 || fds[dataAt].revents == 0 || !data.IsOpen())
            continue;
        if (!upload) {
            const long got = data.ReadSome(chunk.data(), chunk.size());
            if (got == TcpSocket::Failed)
                return Lost("data connection broken");
            if (got > 0) {
                moved = true;
                dataDeadline = now + timeouts_.DataIdle;
                if (!stream.Receive(std::string_view(chunk.data(), static_cast<std::size_t>(got))))
                    return Lost("transfer stopped by the receiver");
            } else if (got == 0) {
                data.Close();
                dataDone = true;
                replyDeadline = now + timeouts_.Reply;
            }
            continue;
        }
        if (outStart == outEnd) {
            const long made = stream.Produce(chunk.data(), chunk.size());
            if (made < 0)
                return Lost("could not read the local file");
            if (made == 0) {
                // Closing the data connection marks the end of the file (RFC 959 3.3).
                data.Close();
                dataDone = true;
                replyDeadline = now + timeouts_.Reply;
                continue;
            }
            outStart = 0;
            outEnd = static_cast<std::size_t>(made);
        }
        const long sent = data.WriteSome(chunk.data() + outStart, outEnd - outStart);
        if (sent == TcpSocket::Failed)
            return Lost("data connection broken");
        if (sent > 0) {
            moved = true;
            outStart += static_cast<std::size_t>(sent);
            dataDeadline = now + timeouts_.DataIdle;
        }
    }
}

} // namespace ornbrook
