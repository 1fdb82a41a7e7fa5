#pragma once

#include <string>
#include <string_view>

struct ssh_session_struct;

namespace ornbrook {

// Host keys the user trusts for SFTP servers. Two files speak: the user's own
// ~/.ssh/known_hosts (read only; plain and hashed entries) and our trust file
// (knownhosts.dat beside the watch list: OpenSSH known_hosts lines, owner-only,
// replaced whole). Where our file holds a key for a host and port, that key
// decides, so a key the user trusted anew here is not overruled by an old line
// in known_hosts.

enum class HostKeyVerdict { Trusted, Unknown, Changed };

// A server's host key as the user sees it, and what trusting it writes.
struct HostKeyFacts {
    // "host:port", an IPv6 address in brackets, as the trust question names it.
    std::string Server;
    // As ssh-keygen -l names it: "ED25519", "ECDSA", "RSA", ...
    std::string KeyType;
    // "SHA256:" and the unpadded base64 of the key's SHA-256, as ssh-keygen -l
    // prints it.
    std::string Fingerprint;
    HostKeyVerdict Verdict = HostKeyVerdict::Unknown;
    // For Changed: the file that holds the key the server no longer shows.
    std::string OldKeyFile;
    // The known_hosts line that trusts this key for this host and port.
    std::string KnownHostsLine;
};

// Why a check refuses the key: "host key unknown: ED25519 SHA256:..." or "host
// key changed: ED25519 SHA256:..., not the key in FILE".
std::string HostKeyProblem(const HostKeyFacts& facts);

// Whether a line of a known_hosts file can be read: blank, a comment, or its
// hosts, a key type and a key libssh accepts. Anything else was damaged: the
// key it held is not trusted.
bool IsKnownHostsLine(std::string_view line);

// Trusts the key for its host and port from now on, in place of any other line
// our file holds for them; lines of other servers (and lines we do not
// understand) stay. The file is replaced whole and is owner-only, so a check
// reading it meanwhile sees the old or the new one. False with the reason when
// it cannot be read or written.
bool StoreHostKeyTrust(const HostKeyFacts& facts, const std::string& trustFile,
                       std::string& problem);

// For SftpSession: the key of a session whose key exchange is done, judged
// against our trust file first and then the user's known_hosts (either may be
// empty or missing). A key of another type than the one on file counts as
// changed: the server no longer shows the key the user accepted.
HostKeyFacts JudgeHostKey(ssh_session_struct* session, const std::string& server,
                          const std::string& trustFile, const std::string& knownHostsFile);

} // namespace ornbrook
