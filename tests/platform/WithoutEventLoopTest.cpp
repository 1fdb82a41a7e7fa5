#include "platform/ATimer.h"

#include "platform/MessageWindows.h"
#include "platform/Timer_Modul.h"

#include <gtest/gtest.h>

using namespace ornbrook;

// No QCoreApplication: no window or timer can be made, and nothing pretends otherwise.
TEST(WithoutEventLoop, NothingIsCreated) {
    EXPECT_EQ(CreateWindowExA("static", "tst"), 0);
    EXPECT_EQ(SetTimer([](HWND, UINT, UINT_PTR, std::uint32_t) {}, 10), 0u);
    EXPECT_FALSE(PostMessage(1, 2000, 0, 0));
    EXPECT_EQ(SendMessage(1, 2000, 0, 0), 0);

    // A timer whose system timer cannot be made stays stopped and unregistered.
    auto a = ATimer::Create();
    auto b = ATimer::Create();
    a->StartTimer();
    b->StartTimer();
    EXPECT_FALSE(a->IsRunning());
    EXPECT_FALSE(b->IsRunning());
    EXPECT_TRUE(Timers().empty());
}
