#include "net/ADomainCache.h"

#include "base/Clock.h"

#include <gtest/gtest.h>

namespace ornbrook {
namespace {

TEST(DomainCache, AnEntryLivesExactlyTwoHoursAndAWrongAgeCountsAsExpired) {
    ManualClock clock(5);
    ADomainCache cache;
    cache.AddDomain("host", 42);
    clock.Advance(7200000);
    EXPECT_EQ(cache.GetDomainIP("host"), 42);
    clock.Advance(1);
    EXPECT_EQ(cache.GetDomainIP("host"), -1);

    clock.Set(0xFFFFFF00u);
    cache.AddDomain("wraps", 1);
    clock.Set(0x00000100u); // 512 ms later, across the wrap
    EXPECT_EQ(cache.GetDomainIP("wraps"), 1);
    cache.AddDomain("back", 2);
    clock.Set(0x00000050u); // earlier than the entry
    EXPECT_EQ(cache.GetDomainIP("back"), -1);
}

TEST(DomainCache, NamesIgnoreCaseAndAnAddAgainOnlyRenewsTheTime) {
    ManualClock clock(1000);
    ADomainCache cache;
    cache.AddDomain("Example.ORG", 0x0100007F);
    EXPECT_EQ(cache.GetDomainIP("EXAMPLE.org"), 0x0100007F);
    clock.Advance(7000000);
    cache.AddDomain("example.org", 0x0200007F); // known: the old address stays
    EXPECT_EQ(cache.Domains().size(), 2u);
    clock.Advance(7000000); // 14,000,000 after the first add, 7,000,000 after the renewal
    EXPECT_EQ(cache.GetDomainIP("example.org"), 0x0100007F);
    EXPECT_EQ(cache.GetDomainIP("other.org"), -1);
}

TEST(DomainCache, RemovalMovesTheLastEntryIntoTheGapAndExpiredEntriesGo) {
    ManualClock clock(0);
    ADomainCache cache;
    cache.RemoveBadDomain("nothing"); // no entry: nothing happens
    cache.AddDomain("a", 1);
    cache.AddDomain("b", 2);
    cache.AddDomain("c", 3);
    cache.RemoveBadDomain("A");
    ASSERT_EQ(cache.Domains().size(), 3u); // entry 0 is never used
    EXPECT_EQ(cache.Domains()[1].Name, "c");
    EXPECT_EQ(cache.Domains()[2].Name, "b");

    // Both expire; the one moved into the gap of the other must go as well.
    clock.Advance(7200001);
    cache.AddDomain("new", 4);
    EXPECT_EQ(cache.Domains().size(), 2u);
    EXPECT_EQ(cache.GetDomainIP("new"), 4);
}

} // namespace
} // namespace ornbrook
