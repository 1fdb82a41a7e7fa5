#include "ftp/FtpControl.h"

#include <atomic>
#include <cctype>
#include <utility>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace ornbrook {

namespace {

std::atomic<std::uint64_t> repliesRead{0};

// "NNN" followed by a space, a hyphen or nothing; codes run from 1xx to 5xx.
bool ParseCodeLine(const std::string& line, int& code, char& separator) {
    if (line.size() < 3 || line[0] < '1' || line[0] > '5')
        return false;
    for (int i = 0; i < 3; ++i)
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return false;
    separator = line.size() > 3 ? line[3] : ' ';
    if (separator != ' ' && separator != '-')
        return false;
    code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return true;
}

// Servers write replies without TCP_NODELAY, so one that follows another
// unanswered one (226 after 150, a reply after TLS session tickets) waits
// until we acknowledge the first; our delayed ACK would hold it back 40 ms.
// Asking for an ACK at once after every read and write keeps it moving.
void AckAtOnce(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof(one));
}

} // namespace

std::string OneLine(std::string_view text, std::size_t maxBytes) {
    std::string line;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\t') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else if (u >= 0x20 && u != 0x7F) {
            line += c;
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    if (line.size() <= maxBytes)
        return line;
    // Back off to the start of a UTF-8 sequence, so the cut never splits one.
    std::size_t n = maxBytes;
    while (n > 0 && (static_cast<unsigned char>(line[n]) & 0xC0) == 0x80)
        --n;
    line.resize(n);
    return line;
}

std::uint64_t FtpControl::RepliesReadInProcess() {
    return repliesRead;
}

std::string FtpReply::Summary() const {
    return OneLine(std::to_string(Code) + " " + Text);
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

FtpControl::FtpControl(FtpStream stream, const FtpLimits& limits, int stopFd)
    : stream_(std::move(stream)), limits_(limits), stopFd_(stopFd) {}

bool FtpControl::Send(std::string_view line, Deadline deadline) {
    if (HasLineBreakOrNul(line) || !stream_.IsOpen())
        return false;
    std::string wire(line);
    wire += "\r\n";
    const bool sent = stream_.SendAll(wire, WaitLimit{deadline, stopFd_});
    AckAtOnce(stream_.Fd());
    return sent;
}

void FtpControl::SendWithoutWaiting(std::string_view line) {
    if (HasLineBreakOrNul(line) || !stream_.IsOpen())
        return;
    const std::string wire = std::string(line) + "\r\n";
    stream_.WriteSome(wire.data(), wire.size());
}

FtpControl::Status FtpControl::ReadFinalReply(FtpReply& reply, Deadline deadline) {
    for (int preliminary = 0;;) {
        const Status taken = TakeFinalReply(reply, preliminary);
        if (taken != Status::NeedMore)
            return taken;
        if (stream_.WaitReadable(WaitLimit{deadline, stopFd_}) != WaitResult::Ready)
            return Status::NeedMore;
        const Status read = ReadAvailable();
        if (read != Status::NeedMore)
            return read;
    }
}

FtpControl::Status FtpControl::ReadAvailable() {
    if (!stream_.IsOpen())
        return Status::Closed;
    char chunk[16 * 1024];
    const long n = stream_.ReadSome(chunk, sizeof(chunk));
    AckAtOnce(stream_.Fd());
    if (n == 0 || n == FtpStream::Cut)
        return Status::Closed;
    if (n == FtpStream::Reset)
        return Status::Reset;
    if (n == TcpSocket::Failed)
        return Status::Broken;
    if (n > 0)
        buffer_.append(chunk, static_cast<std::size_t>(n));
    return Status::NeedMore;
}

FtpControl::Status FtpControl::TakeFinalReply(FtpReply& reply, int& preliminary) {
    for (;;) {
        const Status status = TakeBufferedReply(reply);
        if (status != Status::Reply || !reply.IsPreliminary())
            return status;
        if (++preliminary > MaxPreliminaryReplies)
            return Status::Stuck;
    }
}

FtpControl::Status FtpControl::TakeBufferedReply(FtpReply& reply) {
    for (;;) {
        const auto lf = buffer_.find('\n', scanFrom_);
        if (lf == std::string::npos) {
            scanFrom_ = buffer_.size();
            // An endless line ends the conversation before it fills memory.
            return buffer_.size() > limits_.ReplyLine ? Status::Broken : Status::NeedMore;
        }
        if (lf > limits_.ReplyLine)
            return Status::Broken;
        std::string line = buffer_.substr(0, lf);
        buffer_.erase(0, lf + 1);
        scanFrom_ = 0;
        // CRLF ends a line (RFC 959); a bare LF is accepted as well.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const Status status = AddLine(line, reply);
        if (status != Status::NeedMore)
            return status;
    }
}

FtpControl::Status FtpControl::AddLine(const std::string& line, FtpReply& reply) {
    // Telnet text never carries NUL; a reply with one is not FTP.
    if (line.find('\0') != std::string::npos)
        return Status::Broken;
    pendingBytes_ += line.size() + 1;
    if (pendingBytes_ > limits_.Reply)
        return Status::Broken;
    int code = 0;
    char separator = ' ';
    const bool codeLine = ParseCodeLine(line, code, separator);
    if (!inReply_) {
        if (!codeLine)
            return Status::Broken;
        pending_ = FtpReply{code, line.size() > 4 ? line.substr(4) : std::string()};
        if (separator == '-') {
            inReply_ = true;
            return Status::NeedMore;
        }
    } else {
        // A multi-line reply ends with a line of the same code and a space (RFC 959 4.2).
        pending_.Text += '\n';
        const bool last = codeLine && code == pending_.Code && separator == ' ';
        pending_.Text += last ? (line.size() > 4 ? line.substr(4) : std::string()) : line;
        if (!last)
            return Status::NeedMore;
    }
    inReply_ = false;
    pendingBytes_ = 0;
    ++repliesRead;
    reply = std::move(pending_);
    pending_ = FtpReply{};
    return Status::Reply;
}

} // namespace ornbrook
