#include "ftp/CertificateTrust.h"

#include "base/FileIO_Code.h"
#include "base/FileReplacement.h"
#include "base/Text_Code.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include <unistd.h>

namespace ornbrook {

namespace {

struct TrustLine {
    std::string Raw;
    std::string Server;
    std::string Fingerprint;
};

// Every line as it stands (a line the program does not understand is kept, not
// lost), with the server and fingerprint of those it does.
std::vector<TrustLine> ReadLines(const std::string& trustFile) {
    std::vector<TrustLine> lines;
    std::ifstream in(trustFile, std::ios::binary);
    std::string raw;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        TrustLine line{raw, {}, {}};
        const std::string text = TrimSpaces(raw);
        if (const auto blank = text.find(' '); blank != std::string::npos) {
            line.Server = LowerCase(text.substr(0, blank));
            line.Fingerprint = UpperCase(TrimSpaces(text.substr(blank + 1)));
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

bool IsTrustLine(std::string_view line) {
    if (line.ends_with('\r'))
        line.remove_suffix(1);
    const std::string text = TrimSpaces(std::string(line));
    if (text.empty())
        return true;
    const auto blank = text.find(' ');
    if (blank == std::string::npos || text.find(':') >= blank ||
        std::any_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
        return false;
    const std::string fingerprint = TrimSpaces(text.substr(blank + 1));
    constexpr std::size_t Sha256Bytes = 32;
    if (fingerprint.size() != 3 * Sha256Bytes - 1)
        return false;
    for (std::size_t i = 0; i < fingerprint.size(); ++i) {
        const bool colon = i % 3 == 2;
        if (colon ? fingerprint[i] != ':'
                  : !std::isxdigit(static_cast<unsigned char>(fingerprint[i])))
            return false;
    }
    return true;
}

std::optional<std::string> TrustedFingerprint(const std::string& server,
                                              const std::string& trustFile) {
    if (trustFile.empty())
        return std::nullopt;
    const std::string key = LowerCase(server);
    std::optional<std::string> found;
    for (const TrustLine& line : ReadLines(trustFile)) {
        if (line.Server == key)
            found = line.Fingerprint;
    }
    return found;
}

CertificateVerdict JudgeCertificate(CertificateFacts& facts, const std::string& trustFile) {
    facts.Changed = false;
    if (const auto trusted = TrustedFingerprint(facts.Server, trustFile)) {
        if (*trusted == facts.Fingerprint)
            return CertificateVerdict::Trusted;
        facts.Changed = true;
        return CertificateVerdict::Changed;
    }
    return facts.Untrusted.empty() ? CertificateVerdict::Trusted : CertificateVerdict::NotTrusted;
}

std::string RejectionMessage(const CertificateFacts& facts) {
    if (facts.Changed)
        return "certificate changed, not the one trusted for " + facts.Server + ": SHA-256 " +
               facts.Fingerprint;
    return "certificate not trusted (" + facts.Untrusted + ") SHA-256 " + facts.Fingerprint;
}

bool StoreCertificateTrust(const CertificateFacts& facts, const std::string& trustFile,
                           std::string& problem) {
    const auto fail = [&problem](int error) {
        problem = std::strerror(error);
        return false;
    };
    // Lines that cannot be read cannot be kept: better no change than a loss.
    if (::access(trustFile.c_str(), F_OK) == 0 && ::access(trustFile.c_str(), R_OK) != 0)
        return fail(errno);
    const std::string key = LowerCase(facts.Server);
    std::string text;
    for (const TrustLine& line : ReadLines(trustFile)) {
        if (line.Server != key)
            text += line.Raw + "\r\n";
    }
    if (!facts.Untrusted.empty())
        text += key + " " + facts.Fingerprint + "\r\n";

    try {
        ReplaceFile(trustFile, text);
    } catch (const FileError& error) {
        problem = error.Cause();
        return false;
    }
    return true;
}

} // namespace ornbrook
