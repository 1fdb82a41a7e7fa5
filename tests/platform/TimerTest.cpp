#include "platform/ATimer.h"

#include "app/FileIO_Code.h"
#include "app/ProgramGlobals.h"
#include "diag/Debug_Modul.h"
#include "platform/Clock.h"
#include "platform/Timer_Modul.h"
#include "tests/support/TempProgramDir.h"

#include <QTest>
#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>

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

    static std::int32_t NumberOf(const std::shared_ptr<ATimer>& timer) {
        for (const auto& [number, t] : Timers()) {
            if (t == timer)
                return number;
        }
        return 0;
    }

    // A system timer of its own, for waiting "long enough" without writing
    // process info lines.
    struct Metronome {
        Metronome()
            : number(SetTimer([this](HWND, UINT, UINT_PTR, std::uint32_t) { ++ticks; }, 10)) {}
        ~Metronome() { KillTimer(0, number); }
        Metronome(const Metronome&) = delete;
        Metronome& operator=(const Metronome&) = delete;
        void WaitTicks(int n) {
            const int until = ticks + n;
            ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= until; }, 5000));
        }
        UINT_PTR number;
        int ticks = 0;
    };

    TempProgramDir dir_;
};

} // namespace

TEST_F(TimerTest, StartStopAndLifetime) {
    auto timer = ATimer::Create();
    EXPECT_EQ(LiveCount("ATimer"), 1);
    timer->SetDelay(10);
    timer->SetResolution(30000);
    int ticks = 0;
    timer->Timer.Connect([&] { ++ticks; });
    EXPECT_FALSE(timer->IsRunning());
    timer->StoppTimer(); // stopped: nothing
    timer->StartTimer();
    const std::int32_t number = NumberOf(timer);
    timer->StartTimer(); // running: nothing
    EXPECT_TRUE(timer->IsRunning());
    ASSERT_EQ(Timers().size(), 1u);
    EXPECT_NE(number, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));

    // A running timer outlives its owner's reference.
    std::weak_ptr<ATimer> alive = timer;
    timer.reset();
    ASSERT_FALSE(alive.expired());
    alive.lock()->StoppTimer();
    EXPECT_TRUE(alive.expired());
    EXPECT_TRUE(Timers().empty());
    EXPECT_FALSE(KillTimer(0, static_cast<UINT_PTR>(number))); // the system timer is gone
    EXPECT_EQ(LiveCount("ATimer"), 0);

    const int stoppedAt = ticks;
    Metronome m;
    m.WaitTicks(3);
    EXPECT_EQ(ticks, stoppedAt);
}

TEST_F(TimerTest, BusyGuardText) {
    EXPECT_EQ(BusyTimers(), "|");
    MarkTimerBusy(12);
    MarkTimerBusy(34);
    EXPECT_EQ(BusyTimers(), "|12|34|");
    EXPECT_TRUE(IsTimerBusy(12));
    EXPECT_FALSE(IsTimerBusy(1)); // a number is never found inside another
    EXPECT_FALSE(IsTimerBusy(2));
    EXPECT_FALSE(IsTimerBusy(123));
    UnmarkTimerBusy(12);
    EXPECT_EQ(BusyTimers(), "|34|");
    UnmarkTimerBusy(34);
    EXPECT_EQ(BusyTimers(), "|");
    MarkTimerBusy(5);
    InitTimers();
    EXPECT_EQ(BusyTimers(), "|");
}

TEST_F(TimerTest, NestedEventsAndTheBusyGuard) {
    ManualClock clock(500);
    auto outer = ATimer::Create();
    auto inner = ATimer::Create();
    // Long delays: only the calls below deliver ticks.
    outer->SetDelay(1000000);
    inner->SetDelay(1000000);
    outer->StartTimer();
    inner->StartTimer();
    const std::int32_t a = NumberOf(outer);
    const std::int32_t b = NumberOf(inner);
    const auto tick = [](std::int32_t n) {
        TimerCallback(0, WM_TIMER, static_cast<UINT_PTR>(n), 0);
    };

    int outerTicks = 0;
    std::string seenInside;
    outer->Timer.Connect([&] {
        ++outerTicks;
        clock.Advance(10);
        tick(a); // the same timer while its event is open: dropped
        tick(b);
    });
    inner->Timer.Connect([&] {
        seenInside = BusyTimers();
        clock.Advance(5);
    });
    tick(a);
    EXPECT_EQ(outerTicks, 1);
    EXPECT_EQ(seenInside, "|" + std::to_string(a) + "|" + std::to_string(b) + "|");
    EXPECT_EQ(BusyTimers(), "|");

    // Both events timed under one name: 5 ms inside 15 ms.
    const auto rows = Prozesse();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Name, "Event ATimer_Timer");
    EXPECT_EQ(rows[1].Anzahl, 2);
    EXPECT_EQ(rows[1].Gesammt, 20);
    EXPECT_EQ(rows[1].Laengste, 15);
    outer->StoppTimer();
    inner->StoppTimer();
}

TEST_F(TimerTest, ThrowingHandlerLosesItsTicksButStaysRunning) {
    EnableProzessInfo(); // without DEBUGFILE every line goes to depth 0
    struct Case {
        std::function<void()> fail;
        std::string line;
    };
    const std::vector<Case> cases{
        {[] { throw std::runtime_error("boom"); }, "Fehler 440: boom"},
        {[] { throw std::system_error(13, std::generic_category(), "denied"); },
         "Fehler 13: denied: Permission denied"},
        {[] { throw 42; }, "Fehler 440: unknown error"},
    };
    Metronome m;
    for (const auto& c : cases) {
        DeleteFileIfExists(dir_.File("debugfile.prozessinfo.0"));
        auto timer = ATimer::Create();
        timer->SetDelay(10);
        int ticks = 0;
        timer->Timer.Connect([&] {
            ++ticks;
            c.fail();
        });
        timer->StartTimer();
        const std::int32_t number = NumberOf(timer);
        ASSERT_TRUE(QTest::qWaitFor([&] { return ticks == 1; }, 5000));
        m.WaitTicks(3);
        EXPECT_EQ(ticks, 1) << c.line;
        EXPECT_TRUE(timer->IsRunning());
        EXPECT_EQ(NumberOf(timer), number);
        EXPECT_FALSE(KillTimer(0, static_cast<UINT_PTR>(number))); // killed by the failure
        EXPECT_EQ(BusyTimers(), "|");
        EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozessinfo.0")),
                  "TimerID = " + std::to_string(number) + "\r\n" + c.line + "\r\n");
        timer->StoppTimer();
        EXPECT_FALSE(timer->IsRunning());
    }
    // Other timers never noticed.
    EXPECT_TRUE(KillTimer(0, m.number));
    m.number = 0;

    // A tick whose number has no timer is an error of its own.
    DeleteFileIfExists(dir_.File("debugfile.prozessinfo.0"));
    TimerCallback(0, WM_TIMER, 999999, 0);
    EXPECT_EQ(ReadBytes(dir_.File("debugfile.prozessinfo.0")),
              "TimerID = 999999\r\nFehler 441: timer not registered\r\n");
    EXPECT_EQ(BusyTimers(), "|");
}

TEST_F(TimerTest, HandlerStopsItsTimerAndOwnerLetsGo) {
    auto timer = ATimer::Create();
    std::weak_ptr<ATimer> alive = timer;
    timer->SetDelay(10);
    int ticks = 0;
    timer->Timer.Connect([&] {
        ++ticks;
        alive.lock()->StoppTimer();
    });
    timer->StartTimer();
    timer.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alive.expired(); }, 5000));
    Metronome m;
    m.WaitTicks(3);
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(Timers().empty());
}
