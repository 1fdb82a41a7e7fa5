#pragma once

#include "base/Result.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ornbrook {

// How long the periodic schedule leaves a URL alone after its checks failed:
// a server that cannot be reached or refuses the login is not asked again at
// every period, which is how accounts get locked and addresses banned. After
// one failure the next periodic check comes 2 periods later, then 4, 8 ...,
// at most an hour (a day after a refused login, which asking again cannot
// fix), never sooner than one period. Times are on the millisecond clock
// (base/Clock.h). URLs are known by their text: an edited URL starts afresh.
class RetryBackoff final {
public:
    // The wait before the next periodic check after `failures` failures in a
    // row (0: one period).
    static std::uint32_t Wait(int failures, std::uint32_t period, bool loginRefused);

    // A check of url, asked for at `asked`, ended. A periodic one that failed
    // doubles the wait; one asked for by hand counts from one failure again; a
    // success (a cut listing is one: the server answered) ends the backoff.
    void Ended(const std::string& url, std::uint32_t asked, bool periodic,
               const std::optional<Error>& failure);
    // When the schedule may check url next, for a schedule of `period`; none
    // when it is not held back.
    std::optional<std::uint32_t> NextTry(const std::string& url, std::uint32_t period) const;

private:
    struct Failures {
        std::uint32_t Asked = 0;
        int Count = 0;
        bool LoginRefused = false;
    };
    std::map<std::string, Failures> failing_;
};

} // namespace ornbrook
