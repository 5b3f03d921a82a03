#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/auto_reset_event.h"

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
