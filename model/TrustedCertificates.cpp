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

std::string KnownHostsFileName() {
    return ProgramDir + "knownhosts.dat";
}

namespace {
// The window and a command-line --trust may both rewrite a trust file: each
// rewrite holds the program directory, so neither loses the other's line.
template <typename Store> void StoreHoldingProgramDir(const std::string& fileName, Store store) {
    const int dir = ::open(ProgramDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0)
        ::flock(dir, LOCK_EX);
    std::string problem;
    const bool stored = store(fileName, problem);
    if (dir >= 0)
        ::close(dir);
    if (!stored)
        throw FileError(fileName, problem);
}
} // namespace

void TrustCertificate(const CertificateFacts& facts) {
    StoreHoldingProgramDir(TrustedCertificatesFileName(),
                           [&](const std::string& file, std::string& problem) {
                               return StoreCertificateTrust(facts, file, problem);
                           });
}

void TrustHostKey(const HostKeyFacts& facts) {
    StoreHoldingProgramDir(KnownHostsFileName(),
                           [&](const std::string& file, std::string& problem) {
                               return StoreHostKeyTrust(facts, file, problem);
                           });
}

} // namespace ornbrook
