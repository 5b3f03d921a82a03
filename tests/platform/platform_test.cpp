#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/auto_reset_event.h"
#include "platform/tick_count.h"

TEST(AutoResetEvent, EachSignalWakesExactlyOneWait) {
    CAutoResetEvent event;
    EXPECT_FALSE(event.Wait(1));
    event.Set();
    event.Set();  // setting twice still wakes only one wait
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(1));

    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = event.Wait(CAutoResetEvent::kInfinite); });
    event.Set();
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST(TickCount, AdvancesInMilliseconds) {
    uint32_t start = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    uint32_t elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 5000u);
}
