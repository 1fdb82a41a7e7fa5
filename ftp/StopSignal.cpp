#include "ftp/StopSignal.h"

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ornbrook {

StopSignal::StopSignal() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

StopSignal::~StopSignal() {
    if (fd_ >= 0)
        ::close(fd_);
}

void StopSignal::Stop() {
    stopped_ = true;
    // Never read back: the counter stays non-zero, so every later poll wakes too.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd_, &one, sizeof one);
}

bool StopSignal::Stopped() const {
    return stopped_;
}

} // namespace ornbrook
