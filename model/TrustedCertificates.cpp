#include "model/TrustedCertificates.h"

#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "ftp/CertificateTrust.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ornbrook {

std::string TrustedCertificatesFileName() {
    return ProgramDir + "trustedcerts.dat";
}

void TrustCertificate(const CertificateFacts& facts) {
    // The window and a command-line --trust may both rewrite the file: each
    // rewrite holds the program directory, so neither loses the other's line.
    const int dir = ::open(ProgramDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0)
        ::flock(dir, LOCK_EX);
    std::string problem;
    const bool stored = StoreCertificateTrust(facts, TrustedCertificatesFileName(), problem);
    if (dir >= 0)
        ::close(dir);
    if (!stored)
        throw FileError(TrustedCertificatesFileName(), problem);
}

} // namespace ornbrook
