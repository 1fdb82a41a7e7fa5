#pragma once

#include "base/Result.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ornbrook {

// A watched URL, split once where it enters (the data file, the window, the
// command line) and handed on whole: its text exactly as given, which parsing
// never changes, and the pieces every floor needs. Any text gives a Url (odd
// text gives odd pieces, and the check then fails); whether a text may be
// watched is JudgeNewURL's question.
//
// Pieces come off in a fixed order (scheme, path, user information, port), so
// the first "/" after the scheme ends the host part even inside a password.
// User, password and path are then percent-decoded (RFC 3986 2.1: "%40" is
// "@", "%2F" is "/"; a "%" without two hex digits after it stays), so that any
// password can be written. A host in brackets is an IPv6 address ("[::1]:2121"),
// kept without them.
class Url final {
public:
    // How a check reaches the server, by the scheme in any letter case:
    // "ftpes" asks for TLS after the greeting (AUTH TLS, RFC 4217), "ftps"
    // speaks TLS from the first byte, "sftp" is SSH's file transfer. Every
    // other scheme is plain FTP, never upgraded behind the user's back.
    enum class Protocol { Ftp, FtpExplicitTls, FtpImplicitTls, Sftp };

    Url() : Url(std::string()) {}
    explicit Url(std::string text);

    const std::string& Text() const { return text_; }
    // What stands before the first ":" as written; "file" without one.
    const std::string& Scheme() const { return scheme_; }
    Protocol Speaks() const { return protocol_; }
    bool IsSftp() const { return protocol_ == Protocol::Sftp; }
    const std::string& User() const { return user_; }
    const std::string& Pass() const { return pass_; }
    const std::string& Host() const { return host_; }
    // The port written, else the scheme's own (ftp and ftpes 21, ftps 990,
    // sftp 22, http 80, telnet 23), else 0. A text that names no port a
    // connection accepts (beyond 65535, or not led by its number) gives -1.
    std::int32_t Port() const { return port_; }
    // The port a connection goes to: 0 is the protocol's own.
    std::int32_t ConnectPort() const;
    // Always begins with "/".
    const std::string& Path() const { return path_; }

    // The text as it may be shown: the password replaced by "***" where it
    // stands (written raw or percent-encoded), also where a password typed with
    // a raw "/" cut the URL short ("ftp://bob:pa/ss@host/"); every other byte
    // as it is.
    const std::string& Masked() const { return masked_; }
    // The user information as written ("user:password"), and the position of
    // the "@" that ends it in Text(); npos when the URL has none.
    std::string_view UserInfo() const;
    std::size_t UserInfoEnd() const { return userInfoEnd_; }

    // Checks of one server share its limit: host (not case-sensitive) and port.
    std::string ServerKey() const;
    // Which logins can serve this URL: protocol, host (in any case), port, user
    // and password. Line breaks never reach a login, so they cannot make two
    // keys alike.
    std::string LoginKey() const;
    // The path of what lies `relative` below this URL's directory ("a/b").
    std::string PathBelow(std::string_view relative) const;
    // The URL of a file below this one, as the user may be shown it: masked,
    // then the file's relative path, percent-encoded but for its "/" and the
    // characters a URL carries as they are.
    std::string FileUrl(std::string_view relative) const;
    // Whether both name the same directory on the same server (host in any
    // letter case, port, path with or without its last "/"), whoever logs in
    // and however the connection is protected.
    bool SameDirectory(const Url& other) const;

private:
    friend Result<Url> JudgeNewURL(const std::string& text);

    std::string text_;
    std::string scheme_, user_, pass_, host_, path_, masked_;
    std::int32_t port_ = 0;
    Protocol protocol_ = Protocol::Ftp;
    // Where the part after "scheme:" and its "//" begins in text_, where the
    // host part begins (after the user information) and where both end (the
    // first "/" after them, or the end).
    std::size_t authority_ = 0, hostPart_ = 0, authorityEnd_ = 0;
    std::size_t userInfoEnd_ = std::string::npos;
};

// The schemes a new URL may have, in lower case: the one list that the URL
// editor, the command line and their messages read.
inline constexpr std::array<std::string_view, 4> WatchedSchemes = {"ftp", "ftpes", "ftps", "sftp"};

// A text offered as a URL to watch, judged before it enters the watch list:
// scheme://[user[:password]@]host[:port][/path] with a scheme of WatchedSchemes
// (any letter case), a host name or [IPv6 address], a port from 1 to 65535, and
// no control characters anywhere (they would end an FTP command). The URL kept
// is the text trimmed of blanks, "ftp://" put in front of "host[:port]/path",
// "/" after a host without a path; otherwise as typed (scheme case too).
// Refused as Invalid with the reason to tell the user.
Result<Url> JudgeNewURL(const std::string& text);

// The form in which URLs are compared when one is looked up: what JudgeNewURL
// keeps, with the scheme in lower case; a text it refuses stays as it is.
std::string ComparableURL(const std::string& text);

} // namespace ornbrook
