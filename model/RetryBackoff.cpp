#include "model/RetryBackoff.h"

#include <algorithm>

namespace ornbrook {

namespace {

constexpr std::uint64_t Hour = 3'600'000;
constexpr std::uint64_t Day = 24 * Hour;

} // namespace

std::uint32_t RetryBackoff::Wait(int failures, std::uint32_t period, bool loginRefused) {
    const std::uint64_t longest = std::max<std::uint64_t>(loginRefused ? Day : Hour, period);
    // Past 2^32 periods every wait is the longest one.
    const int doublings = std::clamp(failures, 0, 32);
    return static_cast<std::uint32_t>(
        std::min(static_cast<std::uint64_t>(period) << doublings, longest));
}

void RetryBackoff::Ended(const std::string& url, std::uint32_t asked, bool periodic,
                         const std::optional<Error>& failure) {
    if (!failure || failure->Kind == ErrorKind::Cut || failure->Kind == ErrorKind::Stopped) {
        failing_.erase(url);
        return;
    }
    Failures& failures = failing_[url];
    failures.Count = periodic ? failures.Count + 1 : 1;
    failures.Asked = asked;
    failures.LoginRefused = failure->Kind == ErrorKind::LoginRefused;
}

std::optional<std::uint32_t> RetryBackoff::NextTry(const std::string& url,
                                                   std::uint32_t period) const {
    const auto it = failing_.find(url);
    if (it == failing_.end())
        return std::nullopt;
    return it->second.Asked + Wait(it->second.Count, period, it->second.LoginRefused);
}

} // namespace ornbrook
