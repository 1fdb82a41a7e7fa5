#include "ftp/FtpSettings.h"

#include <mutex>

namespace ornbrook {

namespace {

std::mutex settingsMutex;
FtpTimeouts timeoutsInUse;
FtpLimits limitsInUse;

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

} // namespace ornbrook
