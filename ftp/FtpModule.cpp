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

    const auto slash = rest.find('/');
    if (slash == std::string::npos) {
        result.Path = "/";
    } else {
        result.Path = rest.substr(slash);
        rest.erase(slash);
    }

    std::string hostPart = rest;
    const auto at = rest.rfind('@');
    if (at != std::string::npos) {
        hostPart = rest.substr(at + 1);
        const std::string userInfo = rest.substr(0, at);
        const auto split = userInfo.find(':');
        if (split == std::string::npos) {
            result.User = userInfo;
        } else {
            result.User = userInfo.substr(0, split);
            result.Pass = userInfo.substr(split + 1);
        }
    }

    const auto portColon = hostPart.find(':');
    if (portColon == std::string::npos) {
        result.Host = hostPart;
        result.Port = DefaultPort(result.Scheme);
    } else {
        result.Host = hostPart.substr(0, portColon);
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
    const auto at = url.rfind('@', hostEnd == 0 ? 0 : hostEnd - 1);
    if (at == std::string::npos || at < start || at >= hostEnd)
        return url;
    const auto split = url.find(':', start);
    if (split == std::string::npos || split >= at || split + 1 == at)
        return url;
    return url.substr(0, split + 1) + "***" + url.substr(at);
}

} // namespace ornbrook
