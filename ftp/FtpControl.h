#pragma once

#include "ftp/FtpSettings.h"
#include "ftp/FtpStream.h"

#include <cstdint>
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
    // Code and text as one line fit for a message: "550 No such directory."
    std::string Summary() const;
};

// Server text made fit for a message: lines joined by blanks, control characters
// dropped, cut to at most maxBytes without splitting a UTF-8 sequence.
std::string OneLine(std::string_view text, std::size_t maxBytes = 200);

// The command/reply conversation on the control connection. Replies that arrive
// before they are asked for stay in the buffer for the next read.
class FtpControl final {
public:
    // stopFd (-1 for none) ends every wait at once when it becomes readable.
    FtpControl(FtpStream stream, const FtpLimits& limits, int stopFd = -1);
    FtpControl(const FtpControl&) = delete;
    FtpControl& operator=(const FtpControl&) = delete;

    // Replies before the final one (1xx) that one command may bring; a server
    // that keeps answering "wait" beyond this is stuck, not busy.
    static constexpr int MaxPreliminaryReplies = 100;

    // Reset: the server reset the connection. Stuck: more preliminary replies
    // than MaxPreliminaryReplies.
    enum class Status { Reply, NeedMore, Closed, Reset, Broken, Stuck };

    // Sends one command line; CR, LF or NUL inside it would smuggle in a second
    // command, so such a line is refused unsent.
    bool Send(std::string_view line, Deadline deadline);
    // Sends what the socket takes at once, waiting for nothing (a farewell).
    void SendWithoutWaiting(std::string_view line);
    // The next final reply (2xx to 5xx), preliminary ones passed over; NeedMore
    // when the wait ended.
    Status ReadFinalReply(FtpReply& reply, Deadline deadline);
    // The next final reply from the bytes already received, without waiting;
    // preliminary counts the preliminary replies passed over so far.
    Status TakeFinalReply(FtpReply& reply, int& preliminary);
    // Reads what the socket holds now (after poll said it is readable).
    Status ReadAvailable();

    const TcpSocket& Socket() const { return stream_.Socket(); }
    FtpStream& Stream() { return stream_; }
    // Bytes received and not yet taken as a whole reply.
    bool HoldsUnread() const { return !buffer_.empty() || inReply_; }
    void SetStopFd(int stopFd) { stopFd_ = stopFd; }
    // Replies read by every control connection of the process so far: what a
    // benchmark compares with other clients' waits.
    static std::uint64_t RepliesReadInProcess();

private:
    Status TakeBufferedReply(FtpReply& reply);
    Status AddLine(const std::string& line, FtpReply& reply);

    FtpStream stream_;
    FtpLimits limits_;
    int stopFd_;
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
