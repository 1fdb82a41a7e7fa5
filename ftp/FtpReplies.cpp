#include "ftp/FtpReplies.h"

#include "base/Text_Code.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace ornbrook {

namespace {

// A decimal number of at most six digits that is no larger than max.
bool ReadNumber(std::string_view text, std::size_t& pos, unsigned& value, unsigned max) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 6)
        value = value * 10 + static_cast<unsigned>(text[pos++] - '0');
    return pos > start && value <= max;
}

} // namespace

std::optional<std::uint16_t> EpsvPort(std::string_view text) {
    auto pos = text.find('(');
    if (pos == std::string_view::npos || pos + 4 >= text.size())
        return std::nullopt;
    const char d = text[pos + 1];
    if (text[pos + 2] != d || text[pos + 3] != d)
        return std::nullopt;
    pos += 4;
    unsigned value = 0;
    if (!ReadNumber(text, pos, value, 65535) || value == 0 || pos >= text.size() || text[pos] != d)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> PasvPort(std::string_view text) {
    auto pos = text.find_first_of("0123456789");
    if (pos == std::string_view::npos)
        return std::nullopt;
    unsigned parts[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',')
                return std::nullopt;
            ++pos;
        }
        if (!ReadNumber(text, pos, parts[i], 255))
            return std::nullopt;
    }
    const unsigned value = parts[4] * 256 + parts[5];
    if (value == 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
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

void ReadFeatureReply(std::string_view text, ServerFacts& facts) {
    // RFC 2389 3.2: one feature per line after the first, each led by a space.
    const auto firstBreak = text.find('\n');
    text = firstBreak == std::string_view::npos ? std::string_view() : text.substr(firstBreak + 1);
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string line = TrimSpaces(text.substr(0, end));
        const std::string name = UpperCase(line.substr(0, line.find(' ')));
        // RFC 3659 7.8: MLST in FEAT announces MLSD as well.
        if (name == "MLST" || name == "MLSD")
            facts.MachineListing = true;
        if (name == "UTF8")
            facts.Utf8 = true;
        if (name == "REST" && UpperCase(TrimSpaces(line.substr(4))) == "STREAM")
            facts.RestStream = true;
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

// 534 is refusal by policy (RFC 4217 12); others say it in their text ("530
// Non-anonymous sessions must use encryption.", "421 Sorry, cleartext sessions
// ... are not accepted").
bool AsksForTls(const Error& refusal) {
    const int code = refusal.Code;
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

bool SaysFailed(const FtpReply& reply) {
    // vsftpd: "226 Transfer done (but failed to open directory)."
    return reply.IsPositive() && LowerCase(reply.Text).find("fail") != std::string::npos;
}

std::optional<std::int64_t> MdtmSeconds(std::string_view text) {
    // RFC 3659 2.3: time-val = 14DIGIT [ "." 1*DIGIT ], always UTC.
    if (const std::size_t dot = text.find('.'); dot != std::string_view::npos)
        text = text.substr(0, dot);
    if (text.size() != 14 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i)
            value = value * 10 + (text[i] - '0');
        return value;
    };
    std::tm parts{};
    parts.tm_year = number(0, 4) - 1900;
    parts.tm_mon = number(4, 2) - 1;
    parts.tm_mday = number(6, 2);
    parts.tm_hour = number(8, 2);
    parts.tm_min = number(10, 2);
    parts.tm_sec = number(12, 2);
    if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday < 1 || parts.tm_mday > 31 ||
        parts.tm_hour > 23 || parts.tm_min > 59 || parts.tm_sec > 60)
        return std::nullopt;
    return static_cast<std::int64_t>(::timegm(&parts));
}

bool IsUnknownCommand(const Error& refusal) {
    return refusal.Kind == ErrorKind::Refused && (refusal.Code == 500 || refusal.Code == 502);
}

Error Refusal(const FtpReply& reply) {
    return {ErrorKind::Refused, reply.Summary(), reply.Code};
}

std::string Seconds(std::chrono::milliseconds length) {
    if (length.count() % 1000 != 0)
        return std::to_string(length.count()) + " ms";
    return std::to_string(length.count() / 1000) + " s";
}

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

std::string PreliminaryFloodText() {
    return "more than " + std::to_string(FtpControl::MaxPreliminaryReplies) +
           " preliminary replies";
}

} // namespace ornbrook
