#pragma once

#include "diag/Debug_Modul.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ornbrook {

// Remembers the IPv4 address of each resolved host name for two hours, so that
// repeated connections to a host need no new lookup. Names are compared without
// regard to case. Entries expire lazily, when the cache is read or added to; an
// age that the wrapping millisecond clock makes negative counts as expired, so a
// wrap never keeps an entry alive.
class ADomainCache final {
public:
    static constexpr std::int32_t Lifetime = 7200000; // ms

    struct DomainEntry {
        std::string Name; // lower case
        std::int32_t IP = -1;
        std::int32_t Time = 0; // clock when added or last confirmed
    };

    ADomainCache();
    ADomainCache(const ADomainCache&) = delete;
    ADomainCache& operator=(const ADomainCache&) = delete;

    // The cached address, or -1.
    std::int32_t GetDomainIP(const std::string& HostName);
    // Adds the name; a name already cached only has its time renewed.
    void AddDomain(const std::string& HostName, std::int32_t address);
    void RemoveBadDomain(const std::string& HostName);

    // Entry 0 is never a host; hosts are entries 1 and up.
    const std::vector<DomainEntry>& Domains() const { return Domains_; }

private:
    void RemoveExpired();
    void RemoveEntry(std::size_t index);
    std::size_t Find(const std::string& lowerName) const;

    LiveObject live_{"ADomainCache"};
    std::vector<DomainEntry> Domains_;
};

} // namespace ornbrook
