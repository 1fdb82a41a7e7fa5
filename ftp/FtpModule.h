#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ornbrook {

// The parts of a watched URL that a check needs to log in and reach a directory.
struct FtpURL {
    std::string Scheme;
    std::string User;
    std::string Pass;
    std::string Host;
    std::int32_t Port = 0;
    std::string Path;
};

// How a check protects its connections, chosen by the URL's scheme (letter case
// does not matter): "ftpes" asks for TLS after the greeting (AUTH TLS, RFC 4217),
// "ftps" speaks TLS from the first byte. Every other scheme is plain FTP, and a
// plain session is never upgraded behind the user's back.
enum class TlsMode { None, Explicit, Implicit };
TlsMode TlsModeOf(const std::string& scheme);

// Splits any text into an FtpURL; never fails. Pieces come off in a fixed order
// (scheme, path, user information, port), so the first "/" after the scheme ends
// the host part even inside a password. User, password and path are then
// percent-decoded (RFC 3986 2.1: "%40" is "@", "%2F" is "/"; a "%" without two
// hex digits after it stays), so that any password can be written. A host in
// brackets is an IPv6 address ("[::1]:2121"), given without them. A port text
// beyond the 32-bit range gives Port -1, which no connection accepts.
FtpURL ParseURL(const std::string& url);

// The schemes a new URL may have, in lower case: the one list that the URL
// editor, the command line and their messages read.
inline constexpr std::array<std::string_view, 4> WatchedSchemes = {"ftp", "ftpes", "ftps", "sftp"};

// The scheme of SSH's file transfer (in any letter case): such a URL is not
// checked over FTP at all.
bool IsSftpScheme(const std::string& scheme);

// A text offered as a URL to watch, judged before it enters the watch list:
// accepted with the URL to keep, or refused with the reason to tell the user.
struct NewURLJudgement {
    // The text trimmed of blanks, "ftp://" put in front of "host[:port]/path",
    // "/" after a host without a path; otherwise as typed (scheme case too).
    std::string URL;
    // Empty when accepted.
    std::string Refusal;
    bool Accepted() const { return Refusal.empty(); }
};
// Accepts scheme://[user[:password]@]host[:port][/path] with a scheme of
// WatchedSchemes (any letter case), a host name or [IPv6 address], a port from
// 1 to 65535, and no control characters anywhere (they would end an FTP command).
NewURLJudgement JudgeNewURL(const std::string& text);

// The form in which URLs are compared when one is looked up: what JudgeNewURL
// keeps, with the scheme in lower case; a text it refuses stays as it is.
std::string ComparableURL(const std::string& url);

// Whether two URLs name the same directory on the same server (host in any
// letter case, port, path with or without its last "/"), whoever logs in and
// however the connection is protected.
bool SameDirectory(const std::string& a, const std::string& b);

// The URL as it may be shown: the password is replaced by "***" where ParseURL
// would find one (written raw or percent-encoded), and also where a password
// typed with a raw "/" cut the URL short ("ftp://bob:pa/ss@host/"); every other
// byte stays as it is.
std::string MaskedURL(const std::string& url);
// The URL of a file below a watched URL, as the user may be shown it: the
// watched URL masked, then the file's relative path, percent-encoded but for
// its "/" and the characters a URL carries as they are.
std::string MaskedFileURL(const std::string& url, const std::string& name);

} // namespace ornbrook
