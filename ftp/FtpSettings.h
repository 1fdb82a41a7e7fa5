#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace ornbrook {

// Every wait of an FTP session has a deadline, so a silent server ends a check
// with an error instead of a hang. Seconds, not minutes: the window waits.
struct FtpTimeouts {
    std::chrono::milliseconds Connect{std::chrono::seconds(10)};
    std::chrono::milliseconds Reply{std::chrono::seconds(20)};
    std::chrono::milliseconds DataConnect{std::chrono::seconds(10)};
    // Longest pause between two pieces of a transfer.
    std::chrono::milliseconds DataIdle{std::chrono::seconds(20)};
    // One check as a whole, from the name lookup to the end of the listing,
    // whatever the server does: trickling data, endless "wait" replies.
    std::chrono::milliseconds Check{std::chrono::seconds(120)};
};

// Memory stays bounded whatever a server sends; exceeding a cap fails the request.
struct FtpLimits {
    std::size_t ReplyLine = 8 * 1024;
    std::size_t Reply = 64 * 1024;
    std::size_t ListingLine = 64 * 1024;
    std::size_t ListingNames = 500'000;
    std::size_t ListingBytes = 64 * 1024 * 1024;
};

// The values a new session takes; tests shorten them.
FtpTimeouts CurrentFtpTimeouts();
void SetFtpTimeouts(const FtpTimeouts& timeouts);
FtpLimits CurrentFtpLimits();
void SetFtpLimits(const FtpLimits& limits);

// The file of certificates the user trusts (see CertificateTrust.h) that new
// sessions consult; empty for none.
std::string CurrentCertificateTrustFile();
void SetCertificateTrustFile(const std::string& fileName);

// The file of SSH host keys the user trusts (knownhosts.dat) that new SFTP
// sessions consult beside ~/.ssh/known_hosts; empty for none.
std::string CurrentHostKeyTrustFile();
void SetHostKeyTrustFile(const std::string& fileName);

} // namespace ornbrook
