#include "ftp/CertificateFacts.h"

#include "base/Text_Code.h"

namespace ornbrook {

std::string ServerKey(const std::string& host, std::int32_t port) {
    // An IPv6 address in brackets, as a URL writes it: "[::1]:990".
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + LowerCase(host) + "]" : LowerCase(host)) + ":" + std::to_string(port);
}

std::vector<std::pair<std::string, std::string>>
DescribeCertificate(const CertificateFacts& facts) {
    std::vector<std::pair<std::string, std::string>> lines = {
        {"server", facts.Server},       {"subject", facts.Subject},
        {"issuer", facts.Issuer},       {"valid", facts.ValidFrom + " to " + facts.ValidUntil},
        {"SHA-256", facts.Fingerprint},
    };
    if (!facts.Untrusted.empty())
        lines.emplace_back("not trusted", facts.Untrusted);
    if (facts.Changed)
        lines.emplace_back("changed", "another certificate is trusted for " + facts.Server);
    return lines;
}

} // namespace ornbrook
