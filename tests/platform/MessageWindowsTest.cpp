#include "platform/MessageWindows.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace ornbrook;

namespace {

struct Received {
    HWND hwnd;
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Received&) const = default;
};

// A window whose procedure records every message and answers 7.
class RecordingWindow {
public:
    RecordingWindow() : hwnd(CreateWindowExA("static", "tst")) {
        SetWindowLongA(hwnd, GWL_WNDPROC, [this](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
            got.push_back({h, m, w, l});
            return 7;
        });
    }
    ~RecordingWindow() { DestroyWindow(hwnd); }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    std::size_t Count(UINT uMsg, WPARAM wParam) const {
        std::size_t n = 0;
        for (const auto& r : got)
            n += r.uMsg == uMsg && r.wParam == wParam ? 1 : 0;
        return n;
    }

    HWND hwnd;
    std::vector<Received> got;
};

} // namespace

TEST(MessageWindows, HandlesAndReplaceableProcedures) {
    const HWND a = CreateWindowExA("static", "tst");
    const HWND b = CreateWindowExA("static", "tst");
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    EXPECT_NE(a, b);
    EXPECT_TRUE(IsWindow(a));
    EXPECT_EQ(SendMessage(a, WM_USER, 1, 2), 0); // the default procedure

    const WndProc def = SetWindowLongA(
        a, GWL_WNDPROC, [](HWND, UINT, WPARAM w, LPARAM l) { return static_cast<LRESULT>(w) + l; });
    ASSERT_TRUE(def);
    EXPECT_EQ(SendMessage(a, WM_USER, 40, 2), 42);
    EXPECT_EQ(SendMessage(b, WM_USER, 40, 2), 0); // other windows keep their own
    EXPECT_EQ(CallWindowProcA(def, a, WM_USER, 40, 2), 0);
    EXPECT_EQ(CallWindowProcA({}, a, WM_USER, 40, 2), 0);

    // Putting the old one back returns the one it replaces.
    const WndProc mine = SetWindowLongA(a, GWL_WNDPROC, def);
    EXPECT_EQ(CallWindowProcA(mine, a, WM_USER, 1, 1), 2);
    EXPECT_EQ(SendMessage(a, WM_USER, 40, 2), 0);

    // Other indexes and dead windows change nothing.
    EXPECT_FALSE(SetWindowLongA(a, -21, mine));
    EXPECT_EQ(SendMessage(a, WM_USER, 40, 2), 0);
    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_FALSE(DestroyWindow(a));
    EXPECT_FALSE(IsWindow(a));
    EXPECT_FALSE(SetWindowLongA(a, GWL_WNDPROC, mine));
    EXPECT_EQ(SendMessage(a, WM_USER, 40, 2), 0);
    EXPECT_FALSE(PostMessage(a, WM_USER, 0, 0));
    EXPECT_EQ(SetTimer(a, 1, 10), 0u);
    EXPECT_TRUE(DestroyWindow(b));
    EXPECT_NE(CreateWindowExA("static", ""), a); // not reused at once
}

TEST(MessageWindows, PostedMessagesArriveLaterInOrder) {
    RecordingWindow w1;
    RecordingWindow w2;
    // The socket library's notification: message 2000, socket, event | error << 16.
    const LPARAM connectRefused = 0x10 | (10061 << 16);
    ASSERT_TRUE(PostMessage(w1.hwnd, 2000, 5, connectRefused));
    ASSERT_TRUE(PostMessage(w2.hwnd, 2000, 6, 1));
    ASSERT_TRUE(PostMessage(w1.hwnd, 2000, 5, 2));
    EXPECT_TRUE(w1.got.empty()); // nothing before the event loop runs

    // From another thread as well, after the ones posted before.
    std::thread poster([&] {
        for (WPARAM i = 100; i < 110; ++i)
            PostMessage(w1.hwnd, WM_USER, i, 0);
    });
    poster.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w1.got.size() == 12; }, 5000));
    EXPECT_EQ(w1.got[0], (Received{w1.hwnd, 2000, 5, connectRefused}));
    EXPECT_EQ(w1.got[1], (Received{w1.hwnd, 2000, 5, 2}));
    for (WPARAM i = 0; i < 10; ++i)
        EXPECT_EQ(w1.got[2 + i].wParam, 100 + i);
    ASSERT_EQ(w2.got.size(), 1u);
    EXPECT_EQ(w2.got[0], (Received{w2.hwnd, 2000, 6, 1}));
}

TEST(MessageWindows, DestroyDropsPendingMessagesAndTimers) {
    RecordingWindow keep;
    const HWND gone = CreateWindowExA("static", "tst");
    int deliveredToGone = 0;
    SetWindowLongA(gone, GWL_WNDPROC, [&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
        ++deliveredToGone;
        return 0;
    });
    PostMessage(gone, WM_USER, 1, 0);
    ASSERT_EQ(SetTimer(gone, 9, 10), 9u);
    ASSERT_EQ(SetTimer(keep.hwnd, 9, 10), 9u);
    ASSERT_TRUE(DestroyWindow(gone));
    EXPECT_FALSE(KillTimer(gone, 9));
    PostMessage(keep.hwnd, WM_USER, 1, 0);
    // By the time the other window has had its message and two ticks, a live
    // timer of the same interval would have ticked too.
    ASSERT_TRUE(QTest::qWaitFor([&] { return keep.Count(WM_TIMER, 9) >= 2; }, 5000));
    EXPECT_EQ(keep.Count(WM_USER, 1), 1u);
    EXPECT_EQ(deliveredToGone, 0);
}

TEST(MessageWindows, DestroyInsideItsOwnProcedure) {
    const HWND hwnd = CreateWindowExA("static", "tst");
    std::string captured = "still here";
    SetWindowLongA(hwnd, GWL_WNDPROC, [captured](HWND h, UINT, WPARAM, LPARAM) -> LRESULT {
        DestroyWindow(h);
        // The procedure object must survive its window's end.
        return static_cast<LRESULT>(captured.size());
    });
    EXPECT_EQ(SendMessage(hwnd, WM_USER, 0, 0), 10);
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST(MessageWindows, WindowTimersDeliverTheirIdentifier) {
    RecordingWindow w;
    EXPECT_EQ(SetTimer(w.hwnd, 0, 10), 0u); // identifier 0 is refused
    ASSERT_EQ(SetTimer(w.hwnd, 7, 10), 7u);
    ASSERT_EQ(SetTimer(w.hwnd, 8, 10), 8u);
    ASSERT_EQ(SetTimer(w.hwnd, 7, 10), 7u); // restarts the same timer, no second one
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return w.Count(WM_TIMER, 7) >= 2 && w.Count(WM_TIMER, 8) >= 2; }, 5000));
    for (const auto& r : w.got) {
        EXPECT_EQ(r.hwnd, w.hwnd);
        EXPECT_EQ(r.uMsg, WM_TIMER);
        EXPECT_EQ(r.lParam, 0);
    }
    EXPECT_TRUE(KillTimer(w.hwnd, 7));
    EXPECT_FALSE(KillTimer(w.hwnd, 7));
    const std::size_t sevens = w.Count(WM_TIMER, 7);
    const std::size_t eights = w.Count(WM_TIMER, 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Count(WM_TIMER, 8) >= eights + 3; }, 5000));
    EXPECT_EQ(w.Count(WM_TIMER, 7), sevens);

    // A timer killed inside its own tick ticks once.
    const HWND once = CreateWindowExA("static", "tst");
    int ticks = 0;
    SetWindowLongA(once, GWL_WNDPROC, [&](HWND h, UINT m, WPARAM id, LPARAM) -> LRESULT {
        if (m == WM_TIMER) {
            ++ticks;
            KillTimer(h, id);
        }
        return 0;
    });
    SetTimer(once, 3, 10);
    const std::size_t before = w.Count(WM_TIMER, 8);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Count(WM_TIMER, 8) >= before + 4; }, 5000));
    EXPECT_EQ(ticks, 1);
    DestroyWindow(once);
}

TEST(SystemTimers, NumberedTicksUntilKilled) {
    std::vector<std::pair<UINT_PTR, UINT>> ticks;
    const TimerProc record = [&](HWND hwnd, UINT uMsg, UINT_PTR id, std::uint32_t) {
        EXPECT_EQ(hwnd, 0);
        ticks.emplace_back(id, uMsg);
    };
    EXPECT_EQ(SetTimer(TimerProc{}, 10), 0u);
    const UINT_PTR a = SetTimer(record, 10);
    const UINT_PTR b = SetTimer(record, 0); // clamped, not a busy loop
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    auto count = [&](UINT_PTR id) {
        return std::count(ticks.begin(), ticks.end(), std::pair<UINT_PTR, UINT>{id, WM_TIMER});
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return count(a) >= 2 && count(b) >= 2; }, 5000));
    EXPECT_EQ(count(a) + count(b), static_cast<long>(ticks.size()));
    EXPECT_TRUE(KillTimer(0, a));
    EXPECT_FALSE(KillTimer(0, a));
    const auto stopped = count(a);
    const auto running = count(b);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count(b) >= running + 3; }, 5000));
    EXPECT_EQ(count(a), stopped);
    EXPECT_TRUE(KillTimer(0, b));
    const UINT_PTR c = SetTimer(record, 10);
    EXPECT_NE(c, a); // numbers are not handed out again at once
    KillTimer(0, c);
}

TEST(SystemTimers, MissedTicksAreNotMadeUp) {
    int ticks = 0;
    const UINT_PTR id = SetTimer([&](HWND, UINT, UINT_PTR, std::uint32_t) { ++ticks; }, 10);
    // A busy event loop misses several intervals, then gets at most one tick.
    QThread::msleep(60);
    QCoreApplication::processEvents();
    EXPECT_LE(ticks, 1);
    KillTimer(0, id);
}

TEST(MessageWindows, OnlyPostingWorksFromOtherThreads) {
    RecordingWindow w;
    HWND made = -1;
    UINT_PTR timer = 1;
    LRESULT sent = -1;
    bool posted = false;
    std::thread other([&] {
        made = CreateWindowExA("static", "tst");
        timer = SetTimer([](HWND, UINT, UINT_PTR, std::uint32_t) {}, 10);
        sent = SendMessage(w.hwnd, WM_USER, 1, 0);
        posted = PostMessage(w.hwnd, WM_USER, 2, 0);
    });
    other.join();
    EXPECT_EQ(made, 0);
    EXPECT_EQ(timer, 0u);
    EXPECT_EQ(sent, 0);
    EXPECT_TRUE(posted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.Count(WM_USER, 2) == 1; }, 5000));
    EXPECT_EQ(w.Count(WM_USER, 1), 0u);
}
