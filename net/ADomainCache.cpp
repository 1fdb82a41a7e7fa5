#include "net/ADomainCache.h"

#include "base/Clock.h"

#include <algorithm>
#include <cctype>

namespace ornbrook {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::int32_t Now() {
    return static_cast<std::int32_t>(timeGetTime());
}

} // namespace

ADomainCache::ADomainCache() : Domains_(1) {}

std::size_t ADomainCache::Find(const std::string& lowerName) const {
    for (std::size_t i = 1; i < Domains_.size(); ++i) {
        if (Domains_[i].Name == lowerName)
            return i;
    }
    return 0;
}

std::int32_t ADomainCache::GetDomainIP(const std::string& HostName) {
    RemoveExpired();
    const std::size_t i = Find(Lower(HostName));
    return i == 0 ? -1 : Domains_[i].IP;
}

void ADomainCache::AddDomain(const std::string& HostName, std::int32_t address) {
    RemoveExpired();
    const std::string name = Lower(HostName);
    if (const std::size_t i = Find(name); i != 0) {
        Domains_[i].Time = Now();
        return;
    }
    Domains_.push_back(DomainEntry{name, address, Now()});
}

void ADomainCache::RemoveBadDomain(const std::string& HostName) {
    if (const std::size_t i = Find(Lower(HostName)); i != 0)
        RemoveEntry(i);
}

void ADomainCache::RemoveExpired() {
    std::size_t i = 1;
    while (i < Domains_.size()) {
        const std::int32_t age = ClockDiff(static_cast<std::uint32_t>(Now()),
                                           static_cast<std::uint32_t>(Domains_[i].Time));
        if (age > Lifetime || age < 0)
            RemoveEntry(i); // position i now holds what was the last entry
        else
            ++i;
    }
}

void ADomainCache::RemoveEntry(std::size_t index) {
    Domains_[index] = Domains_.back();
    Domains_.pop_back();
}

} // namespace ornbrook
