#include "sftp/HostKeyTrust.h"

#include "base/FileIO_Code.h"
#include "base/FileReplacement.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include <libssh/libssh.h>
#include <unistd.h>

namespace ornbrook {

namespace {

// The name ssh-keygen -l gives a key type, in brackets after the fingerprint.
std::string KeyTypeName(ssh_key key) {
    switch (ssh_key_type(key)) {
    case SSH_KEYTYPE_ED25519:
        return "ED25519";
    case SSH_KEYTYPE_ECDSA:
    case SSH_KEYTYPE_ECDSA_P256:
    case SSH_KEYTYPE_ECDSA_P384:
    case SSH_KEYTYPE_ECDSA_P521:
        return "ECDSA";
    case SSH_KEYTYPE_RSA:
        return "RSA";
    case SSH_KEYTYPE_DSS:
        return "DSA";
    case SSH_KEYTYPE_SK_ECDSA:
        return "ECDSA-SK";
    case SSH_KEYTYPE_SK_ED25519:
        return "ED25519-SK";
    default:
        const char* name = ssh_key_type_to_char(ssh_key_type(key));
        return name ? name : "unknown";
    }
}

std::string Sha256Fingerprint(ssh_key key) {
    unsigned char* hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK)
        return {};
    // libssh writes it as OpenSSH does: "SHA256:" and base64 without padding.
    char* text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    std::string fingerprint = text ? text : "";
    ssh_string_free_char(text);
    return fingerprint;
}

// The host field of a known_hosts line: whose key it is.
std::string HostField(const std::string& line) {
    return line.substr(0, line.find_first_of(" \t"));
}

} // namespace

std::string HostKeyProblem(const HostKeyFacts& facts) {
    const std::string key = facts.KeyType + " " + facts.Fingerprint;
    if (facts.Verdict == HostKeyVerdict::Changed)
        return "host key changed: " + key + ", not the key in " + facts.OldKeyFile;
    return "host key unknown: " + key;
}

bool IsKnownHostsLine(std::string_view line) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    std::vector<std::string> fields;
    for (std::size_t at = 0; at < line.size();) {
        const auto c = static_cast<unsigned char>(line[at]);
        if (c == ' ' || c == '\t') {
            ++at;
            continue;
        }
        if (fields.empty() && c == '#')
            return true;
        const std::size_t end = std::min(line.find_first_of(" \t", at), line.size());
        fields.emplace_back(line.substr(at, end - at));
        at = end;
    }
    if (fields.empty())
        return true;
    const bool control = std::any_of(line.begin(), line.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
    });
    if (control || fields.size() < 3)
        return false;
    const ssh_keytypes_e type = ssh_key_type_from_name(fields[1].c_str());
    ssh_key key = nullptr;
    if (type == SSH_KEYTYPE_UNKNOWN ||
        ssh_pki_import_pubkey_base64(fields[2].c_str(), type, &key) != SSH_OK)
        return false;
    ssh_key_free(key);
    return true;
}

bool StoreHostKeyTrust(const HostKeyFacts& facts, const std::string& trustFile,
                       std::string& problem) {
    const auto fail = [&problem](int error) {
        problem = std::strerror(error);
        return false;
    };
    const std::string host = HostField(facts.KnownHostsLine);
    if (host.empty() || facts.KnownHostsLine.find('\n') != std::string::npos) {
        problem = "no host key to trust";
        return false;
    }
    // Lines that cannot be read cannot be kept: better no change than a loss.
    if (::access(trustFile.c_str(), F_OK) == 0 && ::access(trustFile.c_str(), R_OK) != 0)
        return fail(errno);
    std::string text;
    {
        std::ifstream in(trustFile, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (HostField(line) != host)
                text += line + "\n";
        }
    }
    text += facts.KnownHostsLine + "\n";

    try {
        ReplaceFile(trustFile, text);
    } catch (const FileError& error) {
        problem = error.Cause();
        return false;
    }
    return true;
}

HostKeyFacts JudgeHostKey(ssh_session session, const std::string& server,
                          const std::string& trustFile, const std::string& knownHostsFile) {
    HostKeyFacts facts;
    facts.Server = server;
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(session, &key) != SSH_OK)
        return facts;
    facts.KeyType = KeyTypeName(key);
    facts.Fingerprint = Sha256Fingerprint(key);
    ssh_key_free(key);
    char* line = nullptr;
    if (ssh_session_export_known_hosts_entry(session, &line) == SSH_OK && line) {
        facts.KnownHostsLine = line;
        while (!facts.KnownHostsLine.empty() &&
               (facts.KnownHostsLine.back() == '\n' || facts.KnownHostsLine.back() == '\r'))
            facts.KnownHostsLine.pop_back();
    }
    ssh_string_free_char(line);

    // One file at a time, so that a verdict can name its file. Set after the key
    // exchange, the paths are taken as they stand.
    for (const std::string* file : {&trustFile, &knownHostsFile}) {
        if (file->empty() || ::access(file->c_str(), F_OK) != 0)
            continue;
        ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, file->c_str());
        ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null");
        switch (ssh_session_is_known_server(session)) {
        case SSH_KNOWN_HOSTS_OK:
            facts.Verdict = HostKeyVerdict::Trusted;
            return facts;
        case SSH_KNOWN_HOSTS_CHANGED:
        case SSH_KNOWN_HOSTS_OTHER:
            facts.Verdict = HostKeyVerdict::Changed;
            facts.OldKeyFile = *file;
            return facts;
        default:
            // Unknown there, or the file could not be read: nothing trusted.
            break;
        }
    }
    facts.Verdict = HostKeyVerdict::Unknown;
    return facts;
}

} // namespace ornbrook
