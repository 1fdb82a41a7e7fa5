#include "sftp/SftpSession.h"

#include "base/Text_Code.h"
#include "ftp/FtpReplies.h"
#include "ftp/StopSignal.h"
#include "ftp/TcpSocket.h"
#include "sftp/SshHome.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ornbrook {

namespace {

using Clock = std::chrono::steady_clock;

// libssh wants its library state made once before sessions run on threads.
void InitLibssh() {
    static std::once_flag once;
    std::call_once(once, [] { ssh_init(); });
}

// Without brackets; whether it is an IPv6 address.
std::string BareHost(const std::string& host, bool& ipv6) {
    std::string bare = host;
    if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']')
        bare = bare.substr(1, bare.size() - 2);
    ipv6 = bare.find(':') != std::string::npos;
    return bare;
}

// A host libssh would split or misread ("user@host", blanks, a path) is no host.
bool PlausibleHost(const std::string& host) {
    if (host.empty())
        return false;
    return std::none_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= ' ' || u == 0x7f || c == '@' || c == '/' || c == '[' || c == ']';
    });
}

// Paths set before the connection are expanded by libssh ("%d" and the like).
std::string Unexpanded(const std::string& path) {
    return path.empty() ? std::string("/dev/null") : ReplaceAll(path, "%", "%%");
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::string MethodNames(int methods) {
    std::vector<std::string> names;
    if (methods & SSH_AUTH_METHOD_PUBLICKEY)
        names.emplace_back("publickey");
    if (methods & SSH_AUTH_METHOD_PASSWORD)
        names.emplace_back("password");
    if (methods & SSH_AUTH_METHOD_INTERACTIVE)
        names.emplace_back("keyboard-interactive");
    if (methods & SSH_AUTH_METHOD_GSSAPI_MIC)
        names.emplace_back("gssapi-with-mic");
    if (methods & SSH_AUTH_METHOD_HOSTBASED)
        names.emplace_back("hostbased");
    return names.empty() ? std::string("none") : Joined(names);
}

// A connection to the user's SSH agent ($SSH_AUTH_SOCK); -1 when there is none.
int ConnectAgent() {
    const char* path = std::getenv("SSH_AUTH_SOCK");
    sockaddr_un address{};
    if (!path || !*path || std::strlen(path) >= sizeof address.sun_path)
        return -1;
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

// The passphrase callback of a key import: asked means the key is encrypted.
// We never ask the user: a background check has no one to ask.
int RefusePassphrase(const char*, char*, size_t, int, int, void* asked) {
    *static_cast<bool*>(asked) = true;
    return -1;
}

RemoteType TypeOf(const sftp_attributes_struct& a) {
    switch (a.type) {
    case SSH_FILEXFER_TYPE_REGULAR:
        return RemoteType::File;
    case SSH_FILEXFER_TYPE_DIRECTORY:
        return RemoteType::Folder;
    case SSH_FILEXFER_TYPE_SYMLINK:
        return RemoteType::Link;
    default:
        return RemoteType::Other;
    }
}

} // namespace

SftpBounds SftpBounds::For(std::chrono::milliseconds length, const StopSignal* stop) {
    return {Clock::now() + length, length, stop};
}

std::string SftpRemotePath(const std::string& path) {
    // draft-ietf-secsh-filexfer-02 6.2: a path without a leading slash is
    // relative to the user's default directory, which servers make the home.
    if (path == "/~")
        return ".";
    if (path.rfind("/~/", 0) == 0)
        return path.size() == 3 ? "." : path.substr(3);
    return path.empty() ? "/" : path;
}

SftpSession::SftpSession(SftpBounds bounds)
    : bounds_(bounds), timeouts_(CurrentFtpTimeouts()), limits_(CurrentFtpLimits()) {
    InitLibssh();
}

SftpSession::~SftpSession() {
    Release();
}

void SftpSession::Rebind(SftpBounds bounds) {
    bounds_ = bounds;
    // The next check's settings, as a fresh session would take them.
    timeouts_ = CurrentFtpTimeouts();
    limits_ = CurrentFtpLimits();
    watch_.SetStop(StopFd());
}

bool SftpSession::IsOpen() const {
    return ssh_ && sftp_ && !watch_.WasCut() && ssh_is_connected(ssh_);
}

int SftpSession::StopFd() const {
    return bounds_.Stop ? bounds_.Stop->Fd() : -1;
}

bool SftpSession::Stopped() const {
    return bounds_.Stop && bounds_.Stop->Stopped();
}

Clock::time_point SftpSession::StepDeadline() const {
    return std::min(Clock::now() + timeouts_.Reply, bounds_.Overall);
}

Error SftpSession::Reason(SocketWatch::End end, bool bounded) const {
    if (Stopped() || end == SocketWatch::End::Stopped)
        return {ErrorKind::Stopped, "stopped"};
    if (bounded && Clock::now() >= bounds_.Overall)
        return {ErrorKind::TimedOut, "timed out after " + Seconds(bounds_.OverallLength)};
    if (end == SocketWatch::End::TimedOut)
        return {ErrorKind::TimedOut, "no reply in " + Seconds(timeouts_.Reply)};
    if (!ssh_)
        return {ErrorKind::Connection, "connection lost"};
    std::string text = ssh_get_error(ssh_);
    // libssh's own words for a connection the server ended.
    if (!ssh_is_connected(ssh_) || text.find("disconnected") != std::string::npos ||
        text.find("EOF") != std::string::npos)
        return {ErrorKind::Connection, "connection closed by the server"};
    if (text.rfind("SFTP server: ", 0) == 0)
        text.erase(0, 13);
    // libssh's sentences ("Invalid sftp packet size!") as a reason after ": ".
    while (!text.empty() && (text.back() == '!' || text.back() == '.'))
        text.pop_back();
    if (text.empty())
        return {ErrorKind::Connection, "connection lost"};
    if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
        std::islower(static_cast<unsigned char>(text[1])))
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return {ErrorKind::Connection, text};
}

Error SftpSession::Fail(const std::string& step, Error why, bool lost) {
    if (lost)
        Release();
    why.Message = step + ": " + why.Message;
    return why;
}

Error SftpSession::Fail(const std::string& step, SocketWatch::End end, bool bounded) {
    Error why = Judge(step, end, bounded);
    if (why.Kind != ErrorKind::Refused)
        Release();
    return why;
}

Error SftpSession::Judge(const std::string& step, SocketWatch::End end, bool bounded) const {
    Error why = Reason(end, bounded);
    // A status reply of the server refuses one request; the session goes on.
    const bool refused = end == SocketWatch::End::None && !watch_.WasCut() && ssh_ && sftp_ &&
                         ssh_get_error_code(ssh_) == SSH_REQUEST_DENIED && ssh_is_connected(ssh_);
    if (refused) {
        why.Kind = ErrorKind::Refused;
        switch (sftp_get_error(sftp_)) {
        case SSH_FX_NO_SUCH_FILE:
        case SSH_FX_NO_SUCH_PATH:
            why.Message = "no such file or folder";
            break;
        case SSH_FX_PERMISSION_DENIED:
            why.Message = "permission denied";
            break;
        default:
            break;
        }
    }
    why.Message = step + ": " + why.Message;
    return why;
}

Result<void> SftpSession::Connect(const SftpTarget& target) {
    Release();
    notes_.clear();
    hostKey_.reset();
    const std::string step = "could not connect";
    const auto failed = [&](std::string reason) {
        return Fail(step, {ErrorKind::Connection, std::move(reason)}, true);
    };
    if (Stopped())
        return Fail(step, {ErrorKind::Stopped, "stopped"}, true);
    bool ipv6 = false;
    const std::string host = BareHost(target.Host, ipv6);
    if (!PlausibleHost(host))
        return failed(host.empty() ? "no host" : "invalid host name");
    const std::int32_t port = target.Port == 0 ? 22 : target.Port;
    if (port < 1 || port > 65535)
        return failed("invalid port " + std::to_string(target.Port));
    const std::string user = target.User.empty() ? LocalUserName() : target.User;
    if (user.empty())
        return failed("no user name");

    auto socket = TcpSocket::ConnectToHost(host, static_cast<std::uint16_t>(port),
                                           timeouts_.Connect, bounds_.Overall, StopFd());
    if (!socket)
        return Fail(step,
                    Stopped() || Clock::now() < bounds_.Overall ? std::move(socket).error()
                                                                : Reason({}),
                    true);
    socket_ = socket->Release();
    if (!watch_.Start(socket_, StopFd()))
        return failed(LowerCase(std::strerror(errno)));

    ssh_ = ssh_new();
    if (!ssh_)
        return failed("out of memory");
    const std::string libsshHost = ipv6 ? "[" + host + "]" : host;
    const int portNumber = port;
    const int fd = socket_;
    const bool no = false;
    // libssh's own wait for the key exchange is a backstop behind the watch's.
    const long seconds =
        static_cast<long>(std::chrono::ceil<std::chrono::seconds>(timeouts_.Reply).count()) + 5;
    // Every path is set, so that libssh never looks for a home directory in the
    // password database; and the user's ssh_config is not read: a check
    // connects where its URL says, with no proxy command.
    const std::string sshDir = UserSshDirectory();
    if (ssh_options_set(ssh_, SSH_OPTIONS_HOST, libsshHost.c_str()) != SSH_OK)
        return failed("invalid host name");
    if (ssh_options_set(ssh_, SSH_OPTIONS_PORT, &portNumber) != SSH_OK ||
        ssh_options_set(ssh_, SSH_OPTIONS_USER, user.c_str()) != SSH_OK ||
        ssh_options_set(ssh_, SSH_OPTIONS_SSH_DIR,
                        sshDir.empty() ? "/nonexistent" : sshDir.c_str()) != SSH_OK ||
        // Key types on file in either file come first in the key exchange, so a
        // known server shows the key the user has, not another of its keys.
        ssh_options_set(ssh_, SSH_OPTIONS_KNOWNHOSTS, Unexpanded(target.TrustFile).c_str()) !=
            SSH_OK ||
        ssh_options_set(ssh_, SSH_OPTIONS_GLOBAL_KNOWNHOSTS,
                        Unexpanded(UserKnownHostsFile()).c_str()) != SSH_OK ||
        ssh_options_set(ssh_, SSH_OPTIONS_PROCESS_CONFIG, &no) != SSH_OK ||
        ssh_options_set(ssh_, SSH_OPTIONS_TIMEOUT, &seconds) != SSH_OK ||
        ssh_options_set(ssh_, SSH_OPTIONS_FD, &fd) != SSH_OK)
        return failed(ssh_get_error(ssh_));

    int rc = SSH_ERROR;
    SocketWatch::End end{};
    const bool watched = Watched([&] { rc = ssh_connect(ssh_); }, end);
    // From here libssh holds the socket (it closes it itself on some errors);
    // Release lets it go through libssh, never twice.
    socket_ = -1;
    if (!watched || rc != SSH_OK)
        return Fail(step, end);

    const std::string server = (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    hostKey_ = JudgeHostKey(ssh_, server, target.TrustFile, UserKnownHostsFile());
    if (hostKey_->Verdict != HostKeyVerdict::Trusted)
        return Fail(step, {ErrorKind::Untrusted, HostKeyProblem(*hostKey_)}, true);
    return {};
}

Result<void> SftpSession::FetchHostKey(const SftpTarget& target) {
    Result<void> connected = Connect(target);
    const bool judged = hostKey_ && !hostKey_->Fingerprint.empty();
    Release();
    if (judged)
        return {};
    return connected;
}

Result<void> SftpSession::Open(const SftpTarget& target) {
    if (auto r = Connect(target); !r)
        return r;
    const std::string user = target.User.empty() ? LocalUserName() : target.User;
    if (auto r = Authenticate(user, target.Password); !r)
        return r;
    return StartSftp();
}

Result<bool> SftpSession::TryKeys(std::vector<std::string>& tried, int& methods) {
    const std::string dir = UserSshDirectory();
    if (dir.empty())
        return false;
    for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        if (!(methods & SSH_AUTH_METHOD_PUBLICKEY))
            break;
        const std::string file = dir + "/" + name;
        struct stat st {};
        // A regular file only: reading a FIFO put there would wait for ever.
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        bool asked = false;
        ssh_key key = nullptr;
        if (ssh_pki_import_privkey_file(file.c_str(), nullptr, RefusePassphrase, &asked, &key) !=
            SSH_OK) {
            notes_.push_back(asked ? "encrypted key skipped: " + file
                                   : "unreadable key skipped: " + file);
            WriteLog("SFTP: " + notes_.back());
            continue;
        }
        if (std::find(tried.begin(), tried.end(), "publickey") == tried.end())
            tried.emplace_back("publickey");
        int rc = SSH_AUTH_ERROR;
        SocketWatch::End end{};
        const bool watched = Watched([&] { rc = ssh_userauth_publickey(ssh_, nullptr, key); }, end);
        ssh_key_free(key);
        if (watched && rc == SSH_AUTH_SUCCESS)
            return true;
        if (!watched || rc == SSH_AUTH_ERROR)
            return Fail("could not connect", end);
        if (rc == SSH_AUTH_PARTIAL)
            methods = ssh_userauth_list(ssh_, nullptr);
    }
    return false;
}

Result<void> SftpSession::Authenticate(const std::string& user, const std::string& password) {
    const std::string step = "could not connect";
    if (Stopped())
        return Fail(step, {ErrorKind::Stopped, "stopped"}, true);
    // "none" first (RFC 4252 5.2): it tells which methods the server takes.
    int rc = SSH_AUTH_ERROR;
    SocketWatch::End end{};
    if (!Watched([&] { rc = ssh_userauth_none(ssh_, nullptr); }, end) || rc == SSH_AUTH_ERROR)
        return Fail(step, end);
    if (rc == SSH_AUTH_SUCCESS)
        return {};
    int methods = ssh_userauth_list(ssh_, nullptr);
    const int offered = methods;
    std::vector<std::string> tried;

    // The agent's socket is ours to connect, so that the watch can cut it too: a
    // libssh agent request waits without limit (an agent that asks its user to
    // confirm each use may wait long).
    const int agent = (methods & SSH_AUTH_METHOD_PUBLICKEY) ? ConnectAgent() : -1;
    if (agent >= 0 && (!watch_.Also(agent) || ssh_set_agent_socket(ssh_, agent) != SSH_OK))
        ::close(agent);
    else if (agent >= 0) {
        tried.emplace_back("publickey");
        // A cut ends the agent's wait and the connection with it.
        if (!Watched([&] { rc = ssh_userauth_agent(ssh_, nullptr); }, end) ||
            (rc == SSH_AUTH_ERROR && !ssh_is_connected(ssh_)))
            return Fail(step, end);
        if (rc == SSH_AUTH_SUCCESS)
            return {};
        if (rc == SSH_AUTH_PARTIAL)
            methods = ssh_userauth_list(ssh_, nullptr);
    }

    Result<bool> keys = TryKeys(tried, methods);
    if (!keys)
        return std::move(keys).error();
    if (*keys)
        return {};

    if (!password.empty() && (methods & SSH_AUTH_METHOD_PASSWORD)) {
        tried.emplace_back("password");
        if (!Watched([&] { rc = ssh_userauth_password(ssh_, nullptr, password.c_str()); }, end) ||
            rc == SSH_AUTH_ERROR)
            return Fail(step, end);
        if (rc == SSH_AUTH_SUCCESS)
            return {};
    } else if (!password.empty() && (methods & SSH_AUTH_METHOD_INTERACTIVE)) {
        tried.emplace_back("keyboard-interactive");
        const auto answer = [&] {
            rc = ssh_userauth_kbdint(ssh_, nullptr, nullptr);
            // A few rounds of prompts at most: a server that keeps asking wants
            // more than a password (a one-time code) and gets no more answers.
            for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
                const int prompts = ssh_userauth_kbdint_getnprompts(ssh_);
                for (int i = 0; i < prompts; ++i) {
                    char echo = 0;
                    ssh_userauth_kbdint_getprompt(ssh_, static_cast<unsigned>(i), &echo);
                    // A hidden answer is the password, a shown one the user's name.
                    ssh_userauth_kbdint_setanswer(ssh_, static_cast<unsigned>(i),
                                                  echo ? user.c_str() : password.c_str());
                }
                rc = ssh_userauth_kbdint(ssh_, nullptr, nullptr);
            }
        };
        if (!Watched(answer, end) || rc == SSH_AUTH_ERROR)
            return Fail(step, end);
        if (rc == SSH_AUTH_SUCCESS)
            return {};
    }

    std::string reason = tried.empty()
                             ? "authentication failed (nothing to try; the server takes " +
                                   MethodNames(offered) + ")"
                             : "authentication failed (" + Joined(tried) + ")";
    for (const std::string& note : notes_)
        reason += "; " + note;
    return Fail("login refused", {ErrorKind::LoginRefused, reason}, true);
}

Result<void> SftpSession::StartSftp() {
    const std::string step = "could not connect";
    SocketWatch::End end{};
    if (!Watched([&] { sftp_ = sftp_new(ssh_); }, end) || !sftp_)
        return Fail(step, end);
    int rc = SSH_ERROR;
    if (!Watched([&] { rc = sftp_init(sftp_); }, end) || rc != SSH_OK)
        return Fail(step, end);
    return {};
}

Result<std::vector<RemoteEntry>> SftpSession::List(const std::string& path) {
    if (!IsOpen())
        return Fail("could not list dir", {ErrorKind::Connection, "not connected"}, true);
    if (Stopped())
        return Fail("could not change dir", {ErrorKind::Stopped, "stopped"}, true);

    sftp_dir dir = nullptr;
    SocketWatch::End end{};
    const std::string remote = SftpRemotePath(path);
    if (!Watched([&] { dir = sftp_opendir(sftp_, remote.c_str()); }, end) || !dir) {
        Error why = Judge("could not change dir", end);
        if (dir)
            CloseHandle(dir);
        if (why.Kind != ErrorKind::Refused)
            Release();
        return why;
    }

    std::vector<RemoteEntry> found;
    std::size_t bytes = 0;
    const std::size_t perEntry = sizeof(RemoteEntry);
    bool sawSelf = false, sawParent = false;
    for (;;) {
        sftp_attributes a = nullptr;
        const bool watched = Watched([&] { a = sftp_readdir(sftp_, dir); }, end);
        if (!watched || !a) {
            if (watched && sftp_dir_eof(dir))
                break;
            if (a)
                sftp_attributes_free(a);
            Error why = Judge("could not list dir", end);
            CloseHandle(dir);
            if (why.Kind != ErrorKind::Refused)
                Release();
            return why;
        }
        // A directory read gives the folder itself and its parent once each;
        // another entry of such a name is the server's doing, and is judged
        // (and refused) with the rest.
        const std::string name = a->name ? a->name : "";
        if ((name == "." && !sawSelf) || (name == ".." && !sawParent)) {
            if (const RemoteType type = TypeOf(*a);
                type != RemoteType::File && type != RemoteType::Link) {
                (name == "." ? sawSelf : sawParent) = true;
                sftp_attributes_free(a);
                continue;
            }
        }
        bytes += name.size() + perEntry;
        if (found.size() >= limits_.ListingNames || bytes > limits_.ListingBytes ||
            name.size() > limits_.ListingLine) {
            sftp_attributes_free(a);
            CloseHandle(dir);
            return Fail("could not list dir", {ErrorKind::Protocol, "listing beyond the caps"},
                        false);
        }
        RemoteEntry entry;
        entry.Name = name;
        entry.Type = TypeOf(*a);
        if (a->flags & SSH_FILEXFER_ATTR_SIZE)
            entry.Size = a->size;
        if (a->flags & SSH_FILEXFER_ATTR_ACMODTIME)
            entry.Modified = static_cast<std::int64_t>(a->mtime);
        found.push_back(std::move(entry));
        sftp_attributes_free(a);
    }
    // The listing is whole; a failed close only costs the session.
    CloseHandle(dir);
    return found;
}

Result<Downloaded> SftpSession::Download(const std::string& path, int fd, std::uint64_t offset,
                                         std::optional<std::uint64_t> limit,
                                         const DownloadProgress& progress,
                                         std::chrono::milliseconds idle) {
    const std::string step = "could not download";
    Downloaded outcome{offset, std::nullopt};
    if (!IsOpen())
        return Fail(step, {ErrorKind::Connection, "not connected"}, true);
    if (Stopped())
        return Fail(step, {ErrorKind::Stopped, "stopped"}, true);
    // Only a lack of bytes ends a download in time: large files take theirs.
    // The watch's limit is the idle one, not the check's.
    const auto untilIdle = [idle] { return Clock::now() + idle; };
    const auto judged = [&](SocketWatch::End end) {
        if (end == SocketWatch::End::TimedOut && !Stopped())
            return Error{ErrorKind::TimedOut, step + ": no data for " + Seconds(idle)};
        return Judge(step, end, false);
    };

    sftp_file file = nullptr;
    SocketWatch::End end{};
    const std::string remote = SftpRemotePath(path);
    if (!Watched([&] { file = sftp_open(sftp_, remote.c_str(), O_RDONLY, 0); }, end, untilIdle()) ||
        !file) {
        Error why = judged(end);
        if (file)
            CloseHandle(file);
        if (why.Kind != ErrorKind::Refused)
            Release();
        return why;
    }
    sftp_attributes a = nullptr;
    Watched([&] { a = sftp_fstat(file); }, end, untilIdle());
    if (a) {
        if (a->flags & SSH_FILEXFER_ATTR_SIZE)
            outcome.RemoteSize = a->size;
        sftp_attributes_free(a);
    }
    if (outcome.RemoteSize && offset > *outcome.RemoteSize) {
        CloseHandle(file);
        return Fail(step, {ErrorKind::LocalFile, "the partial file is longer than the remote file"},
                    false);
    }

    // Several reads in flight, as OpenSSH's sftp does: one request per round
    // trip would make a distant server slow. Replies are taken in order and
    // written in order, so the local file only ever holds a whole prefix and its
    // length is where a later download resumes.
    struct Pending {
        std::uint32_t Id;
        std::uint32_t Length;
    };
    constexpr std::uint32_t Chunk = 32 * 1024;
    constexpr std::size_t InFlight = 16;
    std::deque<Pending> pending;
    std::vector<char> buffer(Chunk);
    std::uint64_t next = offset;
    bool atEnd = false;
    // After a short read the replies in flight lie beyond a gap: they are taken
    // and dropped, and reading starts again at the gap.
    bool dropping = false;
    std::optional<Error> failure;
    // The connection cannot go on after the failure.
    bool lost = false;
    const auto fail = [&](Error why, bool losing) {
        failure = std::move(why);
        lost = losing;
    };
    while (!failure) {
        while (!atEnd && !dropping && pending.size() < InFlight) {
            sftp_seek64(file, next);
            const int id = sftp_async_read_begin(file, Chunk);
            if (id < 0) {
                Error why = Judge(step, SocketWatch::End::None, false);
                fail(why, why.Kind != ErrorKind::Refused);
                break;
            }
            pending.push_back({static_cast<std::uint32_t>(id), Chunk});
            next += Chunk;
        }
        if (failure || pending.empty())
            break;
        const Pending request = pending.front();
        pending.pop_front();
        int n = SSH_ERROR;
        // Every reply is taken, also after the end: libssh would otherwise leave
        // it in the channel for the next request to trip over.
        file->eof = 0;
        if (!Watched([&] { n = sftp_async_read(file, buffer.data(), request.Length, request.Id); },
                     end, untilIdle()) ||
            n < 0) {
            Error why = judged(end);
            fail(why, why.Kind != ErrorKind::Refused);
            break;
        }
        if (dropping || atEnd) {
            if (dropping && pending.empty()) {
                dropping = false;
                next = outcome.Length;
            }
            continue;
        }
        if (n == 0) {
            if (!file->eof)
                fail({ErrorKind::Protocol, step + ": empty reply to a read"}, true);
            atEnd = true;
            continue;
        }
        // A file that grew since it was listed is not followed past the listed size.
        if (limit && static_cast<std::uint64_t>(n) > *limit - std::min(outcome.Length, *limit)) {
            n = static_cast<int>(*limit - std::min(outcome.Length, *limit));
            fail({ErrorKind::Overrun, step + ": " + OverrunMessage(*limit)}, false);
        }
        for (std::size_t done = 0; done < static_cast<std::size_t>(n);) {
            const ssize_t w = ::pwrite(fd, buffer.data() + done, static_cast<std::size_t>(n) - done,
                                       static_cast<off_t>(outcome.Length));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                fail({ErrorKind::LocalFile,
                      step + ": cannot write the local file: " + LowerCase(std::strerror(errno))},
                     false);
                break;
            }
            done += static_cast<std::size_t>(w);
            outcome.Length += static_cast<std::uint64_t>(w);
        }
        if (progress)
            progress(outcome.Length);
        if (failure)
            break;
        if (static_cast<std::uint32_t>(n) < request.Length) {
            dropping = !pending.empty();
            next = outcome.Length;
        }
    }
    // Replies still in flight are taken, so that the session is left clean for
    // the next request.
    while (!pending.empty() && !watch_.WasCut() && !lost) {
        file->eof = 0;
        int n = SSH_ERROR;
        if (!Watched(
                [&] {
                    n = sftp_async_read(file, buffer.data(), pending.front().Length,
                                        pending.front().Id);
                },
                end, untilIdle()) ||
            (n < 0 && !ssh_is_connected(ssh_)))
            break;
        pending.pop_front();
    }
    CloseHandle(file);
    if (lost)
        Release();
    if (failure)
        return std::move(*failure);
    return outcome;
}

void SftpSession::CloseHandle(sftp_dir dir) {
    bool called = false;
    int rc = SSH_ERROR;
    SocketWatch::End end{};
    Watched(
        [&] {
            called = true;
            rc = sftp_closedir(dir);
        },
        end);
    if (!called) {
        // After a cut no request may go out: without its handle, closing only
        // frees what libssh holds.
        ssh_string_free(dir->handle);
        dir->handle = nullptr;
        sftp_closedir(dir);
    }
    if (end != SocketWatch::End::None || (rc != SSH_OK && !ssh_is_connected(ssh_)))
        Release();
}

void SftpSession::CloseHandle(sftp_file file) {
    bool called = false;
    int rc = SSH_ERROR;
    SocketWatch::End end{};
    Watched(
        [&] {
            called = true;
            rc = sftp_close(file);
        },
        end);
    if (!called) {
        ssh_string_free(file->handle);
        file->handle = nullptr;
        sftp_close(file);
    }
    if (end != SocketWatch::End::None || (rc != SSH_OK && !ssh_is_connected(ssh_)))
        Release();
}

void SftpSession::Close() {
    Release();
}

void SftpSession::Release() {
    if (ssh_) {
        // A goodbye, briefly: the server may have stopped reading, or libssh
        // may have let the socket go already, and then its own limit is all that
        // ends a flush.
        const long seconds = 0;
        const long microseconds = 500'000;
        ssh_options_set(ssh_, SSH_OPTIONS_TIMEOUT, &seconds);
        ssh_options_set(ssh_, SSH_OPTIONS_TIMEOUT_USEC, &microseconds);
        watch_.Arm(Clock::now() + std::chrono::seconds(2));
        if (sftp_)
            sftp_free(sftp_);
        sftp_ = nullptr;
        // libssh closes a socket it was given only on some errors: whatever it
        // still holds is ours to close after the goodbye.
        const int held = ssh_get_fd(ssh_);
        ssh_disconnect(ssh_);
        if (held >= 0)
            ::close(held);
        watch_.Disarm();
        ssh_free(ssh_);
        ssh_ = nullptr;
    }
    watch_.Finish();
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

} // namespace ornbrook
