#include "model/TrustedCertificates.h"

#include "base/FileIO_Code.h"
#include "base/FileReplacement.h"
#include "base/ProgramGlobals.h"
#include "ftp/CertificateTrust.h"
#include "model/DamagedFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>

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
class ProgramDirHeld final {
public:
    ProgramDirHeld() : dir_(::open(ProgramDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (dir_ >= 0)
            ::flock(dir_, LOCK_EX);
    }
    ~ProgramDirHeld() {
        if (dir_ >= 0)
            ::close(dir_);
    }
    ProgramDirHeld(const ProgramDirHeld&) = delete;
    ProgramDirHeld& operator=(const ProgramDirHeld&) = delete;

private:
    int dir_;
};

template <typename Store> void StoreHoldingProgramDir(const std::string& fileName, Store store) {
    const ProgramDirHeld held;
    std::string problem;
    if (!store(fileName, problem))
        throw FileError(fileName, problem);
}

// One trust file: kept aside and written with its sound lines when a line is
// not; what to tell, or nothing.
std::string KeepDamaged(const std::string& fileName, bool (*sound)(std::string_view),
                        const char* lost) {
    const ProgramDirHeld held;
    std::ifstream in(fileName, std::ios::binary);
    if (!in)
        return {};
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::string kept;
    std::size_t damaged = 0;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        const std::string_view line = std::string_view(text).substr(from, end - from);
        if (sound(line))
            kept.append(line).append("\n");
        else
            ++damaged;
        from = end + 1;
    }
    if (damaged == 0)
        return {};
    const std::string name = fileName.substr(fileName.rfind('/') + 1);
    try {
        const std::string keptAs = KeepDamagedCopy(fileName);
        FileReplacement file(fileName);
        file.Write(kept);
        file.Commit();
        if (keptAs.empty())
            return {};
        return name + " is damaged: " + std::to_string(damaged) +
               " of its lines could not be read, " + lost + ". The file as it was is kept as " +
               keptAs + ".";
    } catch (const FileError& error) {
        return std::string(error.what()) + "; " + name + " is damaged and stays as it is.";
    }
}
} // namespace

std::string KeepDamagedTrustFiles() {
    std::string notice;
    for (const std::string& told :
         {KeepDamaged(TrustedCertificatesFileName(), &IsTrustLine,
                      "so the servers they named are no longer trusted"),
          KeepDamaged(KnownHostsFileName(), &IsKnownHostsLine,
                      "so the host keys they held are no longer trusted")}) {
        if (!told.empty())
            notice += (notice.empty() ? "" : "\n") + told;
    }
    return notice;
}

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
