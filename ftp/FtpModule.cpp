#include "ftp/FtpModule.h"

#include "base/NumberText.h"
#include "base/Text_Code.h"

#include <algorithm>

namespace ornbrook {

namespace {

std::int32_t DefaultPort(const std::string& scheme) {
    const std::string s = LowerCase(scheme);
    if (s == "http")
        return 80;
    if (s == "ftp" || s == "ftpes")
        return 21;
    if (s == "ftps")
        return 990;
    if (s == "telnet")
        return 23;
    return 0;
}

// RFC 3986 2.1: "%" and two hex digits stand for one byte; a "%" that is not
// followed by two hex digits stays as it is.
std::string PercentDecoded(std::string_view text) {
    const auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            decoded += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

} // namespace

TlsMode TlsModeOf(const std::string& scheme) {
    const std::string s = LowerCase(scheme);
    if (s == "ftpes")
        return TlsMode::Explicit;
    if (s == "ftps")
        return TlsMode::Implicit;
    return TlsMode::None;
}

FtpURL ParseURL(const std::string& url) {
    FtpURL result;
    std::string rest = url;

    const auto colon = rest.find(':');
    if (colon == std::string::npos) {
        result.Scheme = "file";
    } else {
        result.Scheme = rest.substr(0, colon);
        rest.erase(0, colon + 1);
        if (StartsWith(rest, "//"))
            rest.erase(0, 2);
    }

    // Decoded only once cut into its pieces, so that an encoded "/", "@" or
    // ":" stays inside the piece it was written in.
    const auto slash = rest.find('/');
    if (slash == std::string::npos) {
        result.Path = "/";
    } else {
        result.Path = PercentDecoded(std::string_view(rest).substr(slash));
        rest.erase(slash);
    }

    std::string hostPart = rest;
    const auto at = rest.rfind('@');
    if (at != std::string::npos) {
        hostPart = rest.substr(at + 1);
        const std::string_view userInfo = std::string_view(rest).substr(0, at);
        const auto split = userInfo.find(':');
        result.User = PercentDecoded(userInfo.substr(0, split));
        if (split != std::string_view::npos)
            result.Pass = PercentDecoded(userInfo.substr(split + 1));
    }

    // "[v6address]" (RFC 3986 3.2.2) holds colons of its own.
    std::size_t portFrom = 0;
    const auto close = hostPart.find(']');
    const bool bracketed = StartsWith(hostPart, "[") && close != std::string::npos &&
                           (close + 1 == hostPart.size() || hostPart[close + 1] == ':');
    if (bracketed)
        portFrom = close + 1;
    const auto portColon = hostPart.find(':', portFrom);
    result.Host = bracketed ? hostPart.substr(1, close - 1) : hostPart.substr(0, portColon);
    if (portColon == std::string::npos) {
        result.Port = DefaultPort(result.Scheme);
    } else {
        // Out of the 32-bit range: a port that every connection attempt refuses.
        result.Port =
            ToInt32(RoundHalfEven(TextToNumber(hostPart.substr(portColon + 1)))).value_or(-1);
    }
    return result;
}

std::string MaskedURL(const std::string& url) {
    // The same cuts as ParseURL: scheme, then the host part up to the first "/",
    // its user information up to the last "@", the password after the first ":".
    std::size_t start = 0;
    if (const auto colon = url.find(':'); colon != std::string::npos) {
        start = colon + 1;
        if (url.compare(start, 2, "//") == 0)
            start += 2;
    }
    const std::size_t hostEnd = std::min(url.find('/', start), url.size());
    const auto at = hostEnd == start ? std::string::npos : url.rfind('@', hostEnd - 1);
    if (at != std::string::npos && at >= start) {
        const auto split = url.find(':', start);
        if (split == std::string::npos || split >= at || split + 1 == at)
            return url;
        return url.substr(0, split + 1) + "***" + url.substr(at);
    }
    // No "@" before the first "/": a password typed with a raw "/" cut the URL
    // there ("ftp://bob:pa/ss@host/"). What stands where a port would, and is
    // no number, is taken for the start of such a password, which runs to the
    // last "@" before the next "/".
    std::size_t colonFrom = start;
    if (url.compare(start, 1, "[") == 0)
        colonFrom = std::min(url.find(']', start), hostEnd);
    const auto split = url.find(':', colonFrom);
    if (split >= hostEnd)
        return url;
    const std::string port = url.substr(split + 1, hostEnd - split - 1);
    const auto firstAt = url.find('@', hostEnd);
    if ((!port.empty() && port.find_first_not_of("0123456789") == std::string::npos) ||
        firstAt == std::string::npos)
        return url;
    const std::size_t end = std::min(url.find('/', firstAt), url.size());
    return url.substr(0, split + 1) + "***" + url.substr(url.rfind('@', end - 1));
}

} // namespace ornbrook
