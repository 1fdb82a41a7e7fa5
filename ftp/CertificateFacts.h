#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ornbrook {

// What a TLS server showed of itself: enough for the user to decide whether to
// trust it, and for the program to recognise it again.
struct CertificateFacts {
    // The server as the URL names it (ServerKey): what a trust is for.
    std::string Server;
    std::string Subject;
    std::string Issuer;
    // "2025-01-31 12:00:00 UTC"
    std::string ValidFrom;
    std::string ValidUntil;
    // SHA-256 of the whole certificate, "AB:CD:..." (32 bytes in hex).
    std::string Fingerprint;
    // Why the system's trusted certificates do not vouch for it ("self-signed",
    // "issued for another host name"); empty when they do.
    std::string Untrusted;
    // Another certificate is trusted for Server.
    bool Changed = false;

    bool operator==(const CertificateFacts&) const = default;
};

// "host:port" with the host in lower case (host names are not case-sensitive,
// RFC 4343) and an IPv6 address in brackets; port 0 stands for itself.
std::string ServerKey(const std::string& host, std::int32_t port);

// The facts as labelled lines in the order a user reads them: server, subject,
// issuer, validity, fingerprint, and why the system does not vouch for it.
std::vector<std::pair<std::string, std::string>> DescribeCertificate(const CertificateFacts& facts);

} // namespace ornbrook
