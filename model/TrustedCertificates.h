#pragma once

#include "ftp/CertificateFacts.h"
#include "sftp/HostKeyTrust.h"

#include <string>

namespace ornbrook {

// The certificates the user has trusted for servers the system's trusted
// certificates do not vouch for: trustedcerts.dat beside the data file.
std::string TrustedCertificatesFileName();

// Trusts the certificate for its server from now on, in place of any other (see
// StoreCertificateTrust). Throws FileError when the file cannot be written.
void TrustCertificate(const CertificateFacts& facts);

// The SFTP host keys the user has trusted here: knownhosts.dat beside the data
// file (the user's own ~/.ssh/known_hosts is only read).
std::string KnownHostsFileName();

// Trusts the host key for its host and port from now on, in place of any other
// (see StoreHostKeyTrust). Throws FileError when the file cannot be written.
void TrustHostKey(const HostKeyFacts& facts);

// Keeps a damaged trust file (a line that IsTrustLine or IsKnownHostsLine
// refuses) aside, KeepDamagedCopy, and writes it again with the lines that can
// be read. Returns what the user must be told, a line per damaged file; empty
// when both were sound or their damage was told before.
std::string KeepDamagedTrustFiles();

} // namespace ornbrook
