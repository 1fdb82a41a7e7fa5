#pragma once

#include "ftp/FtpResult.h"
#include "ftp/FtpSettings.h"
#include "ftp/TcpSocket.h"

#include <string>
#include <string_view>

namespace ornbrook {

// One reply of the server (RFC 959 4.2): the code and the text of all its lines,
// joined with "\n".
struct FtpReply {
    int Code = 0;
    std::string Text;

    bool IsPreliminary() const { return Code / 100 == 1; }
    bool IsPositive() const { return Code / 100 == 2; }
    bool IsIntermediate() const { return Code / 100 == 3; }
};

// The command/reply conversation on the control connection. Replies that arrive
// before they are asked for stay in the buffer for the next read.
class FtpControl final {
public:
    FtpControl(TcpSocket socket, const FtpLimits& limits);
    FtpControl(const FtpControl&) = delete;
    FtpControl& operator=(const FtpControl&) = delete;

    enum class Status { Reply, NeedMore, Closed, Broken };

    // Sends one command line; CR, LF or NUL inside it would smuggle in a second
    // command, so such a line is refused unsent.
    bool Send(std::string_view line, Deadline deadline);
    // The next whole reply, preliminary ones included.
    Status ReadReply(FtpReply& reply, Deadline deadline);
    // A whole reply from the bytes already received, without waiting.
    Status TakeBufferedReply(FtpReply& reply);
    // Reads what the socket holds now (after poll said it is readable).
    Status ReadAvailable();

    const TcpSocket& Socket() const { return socket_; }

private:
    Status AddLine(const std::string& line, FtpReply& reply);

    TcpSocket socket_;
    FtpLimits limits_;
    std::string buffer_;
    std::size_t scanFrom_ = 0;
    // The reply being assembled from its lines.
    bool inReply_ = false;
    FtpReply pending_;
    std::size_t pendingBytes_ = 0;
};

// True when the text holds CR, LF or NUL.
bool HasLineBreakOrNul(std::string_view text);

} // namespace ornbrook
