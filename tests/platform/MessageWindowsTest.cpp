#include "platform/MessageWindows.h"

#include "platform/WinMessages.h"

#include <QTest>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace ornbrook;

namespace {

using Trace = std::vector<std::string>;

std::string Note(const std::string& who, UINT m, WPARAM w, LPARAM l) {
    return who + " " + std::to_string(m) + " " + std::to_string(w) + " " + std::to_string(l);
}

// Windows whose procedures answer 7 and note each message in one trace, and
// watchers that note what they see in the same trace.
class Windows : public ::testing::Test {
protected:
    void TearDown() override {
        for (const HWND hwnd : made_)
            DestroyWindow(hwnd);
    }
    HWND Recording(const std::string& name) {
        const HWND hwnd = made_.emplace_back(CreateWindowExA("static", "tst"));
        SetWindowLongA(hwnd, GWL_WNDPROC,
                       [this, hwnd, name](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                           EXPECT_EQ(h, hwnd);
                           trace_.push_back(Note(name, m, w, l));
                           return 7;
                       });
        return hwnd;
    }
    std::shared_ptr<WinMessages> Watcher(HWND hwnd, const std::string& name) {
        auto watcher = WinMessages::Create();
        watcher->SetHwnd(hwnd);
        subscriptions_ +=
            watcher->WinMessage.Connect([this, hwnd, name](HWND h, UINT m, WPARAM w, LPARAM l) {
                EXPECT_EQ(h, hwnd);
                trace_.push_back(Note(name, m, w, l));
            });
        return watcher;
    }
    long Count(const std::string& note) const {
        return std::count(trace_.begin(), trace_.end(), note);
    }
    Trace Take() { return std::exchange(trace_, {}); }
    static bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

    std::vector<HWND> made_;
    Trace trace_;
    Subscriptions subscriptions_;
};

} // namespace

TEST_F(Windows, HandlesProceduresAndDeadWindows) {
    const HWND a = CreateWindowExA("static", "tst");
    const HWND b = Recording("b");
    ASSERT_NE(a, 0);
    ASSERT_NE(a, b);
    EXPECT_EQ(SendMessage(a, WM_USER, 1, 2), 0); // the default procedure
    SetWindowLongA(a, GWL_WNDPROC,
                   [](HWND, UINT, WPARAM w, LPARAM l) { return static_cast<LRESULT>(w) + l; });
    EXPECT_EQ(SendMessage(a, WM_USER, 40, 2), 42);
    EXPECT_EQ(SendMessage(b, WM_USER, 40, 2), 7);         // other windows keep their own
    EXPECT_FALSE(SetWindowLongA(a, -21, DefWindowProcA)); // only GWL_WNDPROC

    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_FALSE(IsWindow(a));
    EXPECT_EQ(SendMessage(a, WM_USER, 40, 2), 0);
    EXPECT_FALSE(PostMessage(a, WM_USER, 0, 0));
    EXPECT_EQ(SetTimer(a, 1, 10), 0u);
    EXPECT_NE(CreateWindowExA("static", ""), a); // not reused at once

    // The procedure object must survive its window's end inside its own call.
    const HWND self = CreateWindowExA("static", "tst");
    const std::string captured = "still here";
    SetWindowLongA(self, GWL_WNDPROC, [captured](HWND h, UINT, WPARAM, LPARAM) -> LRESULT {
        DestroyWindow(h);
        return static_cast<LRESULT>(captured.size());
    });
    EXPECT_EQ(SendMessage(self, WM_USER, 0, 0), 10);
    EXPECT_FALSE(IsWindow(self));
}

TEST_F(Windows, PostedMessagesArriveLaterInOrderFromAnyThread) {
    const HWND w1 = Recording("w1");
    const HWND w2 = Recording("w2");
    // The socket library's notification: message 2000, socket, event | error << 16.
    const LPARAM connectRefused = 0x10 | (10061 << 16);
    ASSERT_TRUE(PostMessage(w1, 2000, 5, connectRefused));
    ASSERT_TRUE(PostMessage(w2, 2000, 6, 1));
    ASSERT_TRUE(PostMessage(w1, 2000, 5, 2));
    EXPECT_TRUE(trace_.empty()); // nothing before the event loop runs

    // Another thread may only post, and its messages come after the earlier ones.
    HWND made = -1;
    UINT_PTR timer = 1;
    LRESULT sent = -1;
    std::thread other([&] {
        made = CreateWindowExA("static", "tst");
        timer = SetTimer([](HWND, UINT, UINT_PTR, std::uint32_t) {}, 10);
        sent = SendMessage(w1, WM_USER, 99, 0);
        for (WPARAM i = 100; i < 110; ++i)
            PostMessage(w1, WM_USER, i, 0);
    });
    other.join();
    EXPECT_EQ(made, 0);
    EXPECT_EQ(timer, 0u);
    EXPECT_EQ(sent, 0);
    Trace expected{Note("w1", 2000, 5, connectRefused), Note("w2", 2000, 6, 1),
                   Note("w1", 2000, 5, 2)};
    for (WPARAM i = 100; i < 110; ++i)
        expected.push_back(Note("w1", WM_USER, i, 0));
    ASSERT_TRUE(WaitFor([&] { return trace_.size() == expected.size(); }));
    EXPECT_EQ(Take(), expected);
}

TEST_F(Windows, WindowTimersTickUntilKilledOrTheWindowGoes) {
    const HWND w = Recording("w");
    const HWND gone = Recording("gone");
    EXPECT_EQ(SetTimer(w, 0, 10), 0u); // identifier 0 is refused
    ASSERT_EQ(SetTimer(w, 7, 10), 7u);
    ASSERT_EQ(SetTimer(w, 7, 10), 7u); // restarts the same timer, no second one
    ASSERT_EQ(SetTimer(w, 8, 10), 8u);
    ASSERT_EQ(SetTimer(gone, 8, 10), 8u);
    PostMessage(gone, WM_USER, 1, 0);
    ASSERT_TRUE(DestroyWindow(gone)); // drops its timers and pending messages
    EXPECT_FALSE(KillTimer(gone, 8));
    const std::string seven = Note("w", WM_TIMER, 7, 0);
    const std::string eight = Note("w", WM_TIMER, 8, 0);
    ASSERT_TRUE(WaitFor([&] { return Count(seven) >= 2 && Count(eight) >= 2; }));
    EXPECT_TRUE(KillTimer(w, 7));
    EXPECT_FALSE(KillTimer(w, 7));

    const long sevens = Count(seven);
    const long eights = Count(eight);
    ASSERT_TRUE(WaitFor([&] { return Count(eight) >= eights + 3; }));
    EXPECT_EQ(Count(seven), sevens);
    EXPECT_EQ(Count(seven) + Count(eight), static_cast<long>(trace_.size()));
}

// A watcher sees each message after the window's own procedure and cannot change
// its result; a second watcher of the window is refused; Unhook, also from inside
// the watcher's own handler or after the window's end, puts the procedure back.
TEST_F(Windows, WatchersHookOneAtATimeAndUnhookCleanly) {
    const HWND hwnd = Recording("proc");
    auto w = Watcher(hwnd, "w");
    std::weak_ptr<WinMessages> alive = w;
    w->Hook();
    w->Hook(); // installs once
    auto second = Watcher(hwnd, "second");
    second->Hook();
    EXPECT_FALSE(second->IsHooked());
    second->Unhook(); // must not remove the first one's hook
    EXPECT_FALSE(w->SetHwnd(hwnd + 1000));
    w.reset();
    ASSERT_FALSE(alive.expired()); // the hook keeps its watcher
    {
        const Subscription throwing = alive.lock()->WinMessage.Connect(
            [](HWND, UINT, WPARAM, LPARAM) { throw std::runtime_error("boom"); });
        EXPECT_EQ(SendMessage(hwnd, 1024, 5, -3), 7);
        PostMessage(hwnd, 2000, 9, 0x20);
        ASSERT_TRUE(WaitFor([&] { return trace_.size() == 4; }));
    }
    EXPECT_EQ(Take(), (Trace{"proc 1024 5 -3", "w 1024 5 -3", "proc 2000 9 32", "w 2000 9 32"}));

    const Subscription unhook = alive.lock()->WinMessage.Connect(
        [alive](HWND, UINT, WPARAM, LPARAM) { alive.lock()->Unhook(); });
    EXPECT_EQ(SendMessage(hwnd, 5, 0, 0), 7);
    EXPECT_TRUE(alive.expired());
    // The procedure in place is the window's own again, not a forwarder.
    const WndProc current = SetWindowLongA(hwnd, GWL_WNDPROC, DefWindowProcA);
    EXPECT_EQ(CallWindowProcA(current, hwnd, 6, 0, 0), 7);
    EXPECT_EQ(Take(), (Trace{"proc 5 0 0", "w 5 0 0", "proc 6 0 0"}));
    SetWindowLongA(hwnd, GWL_WNDPROC, current);

    second->Hook(); // free now
    DestroyWindow(hwnd);
    second->Unhook(); // harmless after the window's end
    EXPECT_FALSE(second->IsHooked());
    // Left hooked on purpose: the program may end with a watcher in place.
    Watcher(Recording("kept"), "left at exit")->Hook();
}
