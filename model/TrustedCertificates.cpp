#include "model/TrustedCertificates.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "ftp/CertificateTrust.h"

namespace ornbrook {

std::string TrustedCertificatesFileName() {
    return ProgramDir + "trustedcerts.dat";
}

void TrustCertificate(const CertificateFacts& facts) {
    std::string problem;
    if (!StoreCertificateTrust(facts, TrustedCertificatesFileName(), problem))
        throw FileError(TrustedCertificatesFileName(), problem);
}

} // namespace ornbrook
