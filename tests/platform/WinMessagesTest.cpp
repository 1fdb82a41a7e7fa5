#include "platform/WinMessages.h"

#include "platform/WinMessages_Modul.h"

#include <QTest>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace ornbrook;

namespace {

// A window whose own procedure answers 7 and notes "proc"; watchers note theirs.
class HookTest : public ::testing::Test {
protected:
    void SetUp() override {
        hwnd_ = CreateWindowExA("static", "tst");
        SetWindowLongA(hwnd_, GWL_WNDPROC, [this](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
            trace_.push_back("proc");
            return 7;
        });
    }
    void TearDown() override { DestroyWindow(hwnd_); }

    std::shared_ptr<WinMessages> Watcher(const std::string& name) {
        auto w = WinMessages::Create();
        w->SetHwnd(hwnd_);
        w->WinMessage.Connect([this, name](HWND h, UINT m, WPARAM wp, LPARAM lp) {
            EXPECT_EQ(h, hwnd_);
            trace_.push_back(name + " " + std::to_string(m) + " " + std::to_string(wp) + " " +
                             std::to_string(lp));
        });
        return w;
    }

    std::vector<std::string> Take() { return std::exchange(trace_, {}); }

    HWND hwnd_ = 0;
    std::vector<std::string> trace_;
};

using Trace = std::vector<std::string>;

} // namespace

TEST_F(HookTest, WatcherSeesEachMessageAfterTheWindowOnce) {
    auto w = Watcher("w");
    w->Unhook(); // without Hook: nothing
    w->Hook();
    w->Hook(); // installs once
    ASSERT_TRUE(w->IsHooked());
    EXPECT_EQ(SendMessage(hwnd_, 1024, 5, -3), 7);
    EXPECT_EQ(Take(), (Trace{"proc", "w 1024 5 -3"}));

    PostMessage(hwnd_, 2000, 9, 0x20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return trace_.size() == 2; }, 5000));
    EXPECT_EQ(Take(), (Trace{"proc", "w 2000 9 32"}));
    w->Unhook();
}

TEST_F(HookTest, UnhookPutsThePreviousProcedureBack) {
    auto w = Watcher("w");
    std::weak_ptr<WinMessages> alive = w;
    w->Hook();
    w.reset();
    ASSERT_FALSE(alive.expired()); // the hook keeps its watcher
    alive.lock()->Unhook();
    EXPECT_TRUE(alive.expired());

    EXPECT_EQ(SendMessage(hwnd_, 1024, 0, 0), 7);
    EXPECT_EQ(Take(), (Trace{"proc"}));
    // The procedure in place is the window's own again, not a forwarder.
    const WndProc current = SetWindowLongA(hwnd_, GWL_WNDPROC, DefWindowProcA);
    EXPECT_EQ(CallWindowProcA(current, hwnd_, 1024, 0, 0), 7);
    EXPECT_EQ(Take(), (Trace{"proc"}));
}

TEST_F(HookTest, SecondWatcherAndHwndChangeAreRefused) {
    auto first = Watcher("first");
    auto second = Watcher("second");
    first->Hook();
    second->Hook();
    EXPECT_FALSE(second->IsHooked());
    second->Unhook(); // must not remove the first one's hook
    EXPECT_FALSE(first->SetHwnd(hwnd_ + 1000));
    EXPECT_EQ(first->hwnd(), hwnd_);
    SendMessage(hwnd_, 1, 0, 0);
    EXPECT_EQ(Take(), (Trace{"proc", "first 1 0 0"}));

    first->Unhook();
    EXPECT_TRUE(first->SetHwnd(0));
    second->Hook(); // free now
    EXPECT_TRUE(second->IsHooked());
    SendMessage(hwnd_, 2, 0, 0);
    EXPECT_EQ(Take(), (Trace{"proc", "second 2 0 0"}));
    second->Unhook();

    auto nowhere = WinMessages::Create();
    nowhere->SetHwnd(hwnd_ + 1000);
    nowhere->Hook();
    EXPECT_FALSE(nowhere->IsHooked());
}

TEST_F(HookTest, ThrowingWatcherLeavesTheResultAlone) {
    auto w = Watcher("w");
    w->WinMessage.Connect([](HWND, UINT, WPARAM, LPARAM) { throw std::runtime_error("boom"); });
    w->Hook();
    EXPECT_EQ(SendMessage(hwnd_, 3, 0, 0), 7);
    EXPECT_EQ(SendMessage(hwnd_, 4, 0, 0), 7);
    EXPECT_EQ(Take(), (Trace{"proc", "w 3 0 0", "proc", "w 4 0 0"}));
    w->Unhook();
}

TEST_F(HookTest, WatcherMayUnhookAndWindowMayGoFirst) {
    auto w = Watcher("w");
    std::weak_ptr<WinMessages> alive = w;
    w->WinMessage.Connect([alive](HWND, UINT, WPARAM, LPARAM) { alive.lock()->Unhook(); });
    w->Hook();
    w.reset();
    EXPECT_EQ(SendMessage(hwnd_, 5, 0, 0), 7);
    EXPECT_TRUE(alive.expired());
    EXPECT_EQ(SendMessage(hwnd_, 6, 0, 0), 7);
    EXPECT_EQ(Take(), (Trace{"proc", "w 5 0 0", "proc"}));

    // A window destroyed while hooked: unhooking afterwards is harmless.
    auto late = Watcher("late");
    late->Hook();
    DestroyWindow(hwnd_);
    late->Unhook();
    EXPECT_FALSE(late->IsHooked());
    hwnd_ = CreateWindowExA("static", "tst");

    // Left hooked on purpose: the program may end with a watcher in place.
    Watcher("left at exit")->Hook();
}
