#pragma once

#include "ftp/CertificateFacts.h"

#include <optional>
#include <string>
#include <string_view>

namespace ornbrook {

// Certificates the user trusts although the system's trusted certificates do
// not vouch for them: a text file, owner-only, of one line per server,
// "host:port FINGERPRINT". A trust binds one certificate to one server.

enum class CertificateVerdict { Trusted, NotTrusted, Changed };

// A server with a trusted fingerprint must show exactly that certificate, even
// when the system would vouch for another: a certificate is never swapped
// silently. Any other server's certificate is trusted when the system vouches
// for it. Sets facts.Changed. A missing or unreadable file trusts nothing.
CertificateVerdict JudgeCertificate(CertificateFacts& facts, const std::string& trustFile);

// Why a check refuses the certificate, with its fingerprint so that the user can
// compare it with what the server's owner says.
std::string RejectionMessage(const CertificateFacts& facts);

// The fingerprint trusted for the server (ServerKey), if any.
std::optional<std::string> TrustedFingerprint(const std::string& server,
                                              const std::string& trustFile);

// Whether a line of a trust file is one this program writes, or blank:
// "host:port FINGERPRINT", the SHA-256 fingerprint as 32 pairs of hex digits
// between colons. Anything else was damaged: its server is not trusted.
bool IsTrustLine(std::string_view line);

// Trusts the certificate for its server from now on, in place of any other. A
// certificate the system vouches for needs no line: the server's line goes
// instead. The file is replaced whole, so a check reading it at the same time
// sees the old or the new one. False with the reason when it cannot be written.
bool StoreCertificateTrust(const CertificateFacts& facts, const std::string& trustFile,
                           std::string& problem);

} // namespace ornbrook
