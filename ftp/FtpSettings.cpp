#include "ftp/FtpSettings.h"

#include <mutex>

namespace ornbrook {

namespace {

std::mutex settingsMutex;
FtpTimeouts timeoutsInUse;
FtpLimits limitsInUse;
std::string trustFileInUse;
std::string hostKeyFileInUse;

} // namespace

FtpTimeouts CurrentFtpTimeouts() {
    const std::lock_guard lock(settingsMutex);
    return timeoutsInUse;
}

void SetFtpTimeouts(const FtpTimeouts& timeouts) {
    const std::lock_guard lock(settingsMutex);
    timeoutsInUse = timeouts;
}

FtpLimits CurrentFtpLimits() {
    const std::lock_guard lock(settingsMutex);
    return limitsInUse;
}

void SetFtpLimits(const FtpLimits& limits) {
    const std::lock_guard lock(settingsMutex);
    limitsInUse = limits;
}

std::string CurrentCertificateTrustFile() {
    const std::lock_guard lock(settingsMutex);
    return trustFileInUse;
}

void SetCertificateTrustFile(const std::string& fileName) {
    const std::lock_guard lock(settingsMutex);
    trustFileInUse = fileName;
}

std::string CurrentHostKeyTrustFile() {
    const std::lock_guard lock(settingsMutex);
    return hostKeyFileInUse;
}

void SetHostKeyTrustFile(const std::string& fileName) {
    const std::lock_guard lock(settingsMutex);
    hostKeyFileInUse = fileName;
}

} // namespace ornbrook
