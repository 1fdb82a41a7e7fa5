#pragma once

#include "ftp/CertificateFacts.h"

#include <string>

namespace ornbrook {

// The certificates the user has trusted for servers the system's trusted
// certificates do not vouch for: trustedcerts.dat beside the data file.
std::string TrustedCertificatesFileName();

// Trusts the certificate for its server from now on, in place of any other (see
// StoreCertificateTrust). Throws FileError when the file cannot be written.
void TrustCertificate(const CertificateFacts& facts);

} // namespace ornbrook
