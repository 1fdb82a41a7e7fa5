#include "platform/ATimer.h"

#include "base/Clock.h"
#include "base/FileIO_Code.h"
#include "base/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "platform/Timer_Modul.h"
#include "tests/support/TempProgramDir.h"

#include <QTest>
#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>
#include <tuple>

using namespace ornbrook;
using ornbrook::test::ReadBytes;
using ornbrook::test::TempProgramDir;

namespace {

class TimerTest : public ::testing::Test {
protected:
    void SetUp() override {
        DebugActive = true;
        Unloading = false;
        InitDebug();
        ShowDebugForm(); // timings and live objects are counted from here on
        InitTimers();
    }
    void TearDown() override {
        InitDebug();
        DebugActive = false;
    }

    // A started timer and its number. The long default delay leaves its ticks to Tick.
    static std::pair<std::shared_ptr<ATimer>, std::int32_t> Started(std::int32_t delay = 1000000) {
        auto timer = ATimer::Create();
        timer->SetDelay(delay);
        timer->StartTimer();
        for (const auto& [number, t] : Timers()) {
            if (t == timer)
                return {timer, number};
        }
        return {timer, 0};
    }
    static void Tick(std::int32_t number) {
        TimerCallback(0, WM_TIMER, static_cast<UINT_PTR>(number), 0);
    }

    TempProgramDir dir_;
};

} // namespace

TEST_F(TimerTest, TicksWithoutMakeUpAndOutlivesItsOwnerUntilItsHandlerStopsIt) {
    auto [timer, number] = Started(10);
    std::weak_ptr<ATimer> alive = timer;
    int ticks = 0;
    bool stop = false;
    Subscriptions subs;
    subs += timer->Timer.Connect([&] {
        ++ticks;
        if (stop)
            alive.lock()->StoppTimer();
    });
    timer->StartTimer(); // running: nothing
    ASSERT_NE(number, 0);
    EXPECT_EQ(Timers().size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks > 0; }, 5000));
    // A busy event loop misses several intervals, then gets at most one tick.
    const int beforeBusy = ticks;
    QThread::msleep(60);
    QCoreApplication::processEvents();
    EXPECT_LE(ticks, beforeBusy + 1);

    stop = true;
    timer.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.expired(); }, 5000));
    EXPECT_TRUE(Timers().empty());
    EXPECT_FALSE(KillTimer(0, static_cast<UINT_PTR>(number))); // the system timer is gone
    EXPECT_EQ(LiveCount("ATimer"), 0);
    const int stoppedAt = ticks;
    auto [later, laterNumber] = Started(10);
    EXPECT_NE(laterNumber, number); // numbers are not handed out again at once
    int waited = 0;
    subs += later->Timer.Connect([&] { ++waited; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return waited >= 3; }, 5000));
    later->StoppTimer();
    EXPECT_EQ(ticks, stoppedAt);
}

TEST_F(TimerTest, NestedEventsAreGuardedAndTimed) {
    ManualClock clock(500);
    auto [outer, a] = Started();
    auto [inner, b] = Started();
    int outerTicks = 0;
    std::string seenInside;
    Subscriptions subs;
    subs += outer->Timer.Connect([&, &a = a, &b = b] {
        ++outerTicks;
        clock.Advance(10);
        Tick(a); // the same timer while its event is open: dropped
        Tick(b);
    });
    subs += inner->Timer.Connect([&] {
        seenInside = BusyTimers();
        clock.Advance(5);
    });
    Tick(a);
    EXPECT_EQ(outerTicks, 1);
    EXPECT_EQ(seenInside, "|" + std::to_string(a) + "|" + std::to_string(b) + "|");
    EXPECT_EQ(BusyTimers(), "|");

    // Both events are timed under one name: 5 ms inside 15 ms.
    ASSERT_EQ(Prozesse().size(), 2u);
    const ProzessInfo row = Prozesse()[1];
    EXPECT_EQ(row.Name, "Event ATimer_Timer");
    EXPECT_EQ(std::tuple(row.Anzahl, row.Gesammt, row.Laengste), std::tuple(2, 20, 15));
    outer->StoppTimer();
    inner->StoppTimer();
}

TEST_F(TimerTest, ThrowingHandlerLosesItsTicksButStaysRunning) {
    EnableProzessInfo(); // without DEBUGFILE every line goes to depth 0
    const std::string info = dir_.File("debugfile.prozessinfo.0");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { throw std::runtime_error("boom"); }, "Fehler 440: boom"},
        {[] { throw std::system_error(13, std::generic_category(), "denied"); },
         "Fehler 13: denied: Permission denied"},
        {[] { throw 42; }, "Fehler 440: unknown error"},
    };
    auto [bystander, other] = Started();
    for (const auto& [fail, line] : cases) {
        DeleteFileIfExists(info);
        auto [timer, number] = Started();
        Subscriptions subs;
        subs += timer->Timer.Connect([&fail = fail] { fail(); });
        Tick(number);
        EXPECT_TRUE(timer->IsRunning()) << line;
        EXPECT_EQ(Timers().count(number), 1u);
        EXPECT_FALSE(KillTimer(0, static_cast<UINT_PTR>(number))); // no further ticks
        EXPECT_EQ(BusyTimers(), "|");
        EXPECT_EQ(ReadBytes(info), "TimerID = " + std::to_string(number) + "\r\n" + line + "\r\n");
        timer->StoppTimer();
        EXPECT_FALSE(timer->IsRunning());
    }
    EXPECT_TRUE(KillTimer(0, static_cast<UINT_PTR>(other))); // other timers never noticed
    bystander->StoppTimer();

    // A tick whose number has no timer is an error of its own.
    DeleteFileIfExists(info);
    Tick(999999);
    EXPECT_EQ(ReadBytes(info), "TimerID = 999999\r\nFehler 441: timer not registered\r\n");
    EXPECT_EQ(BusyTimers(), "|");
}
