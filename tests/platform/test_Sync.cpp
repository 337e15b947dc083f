#include "platform/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/MainThreadPump.h"

// ---------------------------------------------------------------------------------------
// One thread: states and what a wait does to them

TEST(Event, WaitLeavesManualEventsSetAndResetsAutoEvents) {
    struct Case {
        bool manualReset;
        bool initial;
        TWaitResult firstWait;
        bool setAfterWait;
    } cases[] = {
        {true, false, TWaitResult::wrTimeout, false},
        {true, true, TWaitResult::wrSignaled, true},
        {false, false, TWaitResult::wrTimeout, false},
        {false, true, TWaitResult::wrSignaled, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "manual " << c.manualReset << " initial " << c.initial);
        TEvent e(c.manualReset, c.initial);
        EXPECT_EQ(e.IsSet(), c.initial);
        EXPECT_EQ(e.WaitFor(0), c.firstWait);
        EXPECT_EQ(e.IsSet(), c.setAfterWait);
        e.SetEvent();
        EXPECT_EQ(e.WaitFor(1), TWaitResult::wrSignaled);
        e.ResetEvent();
        EXPECT_FALSE(e.IsSet());
        EXPECT_EQ(e.WaitFor(1), TWaitResult::wrTimeout);
    }
}

TEST(Event, WaitForMultipleOnSetEvents) {
    TEvent manual0(true), auto1(false), manual2(true);
    std::vector<TEvent*> all{&manual0, &auto1, &manual2};

    EXPECT_EQ(WaitForMultiple(all, false, 0), -1);
    EXPECT_EQ(WaitForMultiple(all, false, 3), -1);

    // Any: the lowest set index wins; an auto-reset event is consumed by the wait it ends.
    auto1.SetEvent();
    manual2.SetEvent();
    EXPECT_EQ(WaitForMultiple(all, false, 0), 1);
    EXPECT_FALSE(auto1.IsSet());
    EXPECT_EQ(WaitForMultiple(all, false, 0), 2);
    EXPECT_TRUE(manual2.IsSet());

    // All, with one missing: a time-out that takes nothing, not even the set auto event.
    auto1.SetEvent();
    EXPECT_EQ(WaitForMultiple(all, true, 3), -1);
    EXPECT_TRUE(auto1.IsSet());

    manual0.SetEvent();
    EXPECT_EQ(WaitForMultiple(all, true, 0), 0);
    EXPECT_TRUE(manual0.IsSet());
    EXPECT_FALSE(auto1.IsSet());
    EXPECT_TRUE(manual2.IsSet());
}

TEST(Event, WaitForMultipleRefusesBadLists) {
    EXPECT_EQ(WaitForMultiple({}, false, INFINITE_WAIT), -1);
    EXPECT_EQ(WaitForMultiple({}, true, INFINITE_WAIT), -1);
    TEvent e(true, true);
    EXPECT_THROW(WaitForMultiple({&e, nullptr}, false, 0), Exception);
}

// ---------------------------------------------------------------------------------------
// Waiters that sleep while another thread sets the events

TEST(EventConcurrency, SleepingWaitForAnyEndsWithTheEventThatWasSet) {
    TEvent e0, e1, e2(false), ready;
    std::atomic<int> result{-2};
    std::thread waiter([&] {
        ready.SetEvent();
        result = WaitForMultiple({&e0, &e1, &e2}, false, kTestWaitMs);
    });
    ready.WaitFor(kTestWaitMs);
    e2.SetEvent();
    waiter.join();
    EXPECT_EQ(result.load(), 2);
    EXPECT_FALSE(e2.IsSet());  // auto-reset, taken by the waiter
}

TEST(EventConcurrency, SleepingWaitForAllEndsOnlyWhenAllAreSet) {
    TEvent e0, e1, e2, ready;
    std::atomic<int> result{-2};
    std::atomic<int> setAtReturn{0};
    std::thread waiter([&] {
        ready.SetEvent();
        result = WaitForMultiple({&e0, &e1, &e2}, true, kTestWaitMs);
        setAtReturn = e0.IsSet() + e1.IsSet() + e2.IsSet();
    });
    ready.WaitFor(kTestWaitMs);
    e0.SetEvent();
    e1.SetEvent();
    std::this_thread::yield();
    e1.ResetEvent();  // a set that was taken back does not count
    e2.SetEvent();
    e1.SetEvent();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(setAtReturn.load(), 3);
}

TEST(EventConcurrency, AutoResetEventReleasesOneWaiterPerSet) {
    TEvent gate(false), woke(false);
    std::atomic<int> released{0};
    auto wait = [&] {
        if (gate.WaitFor(kTestWaitMs) == TWaitResult::wrSignaled) ++released;
        woke.SetEvent();
    };
    std::thread a(wait), b(wait);
    gate.SetEvent();
    ASSERT_EQ(woke.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
    EXPECT_EQ(released.load(), 1);
    EXPECT_FALSE(gate.IsSet());
    gate.SetEvent();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 2);
}

TEST(EventConcurrency, PingPongLosesNoWakeUp) {
    // Two threads hand a turn back and forth with auto-reset events; a lost wake-up or a
    // set that wakes nobody ends in a time-out.
    const int rounds = 2000;
    TEvent ping(false), pong(false);
    std::atomic<int> timeouts{0};
    std::thread other([&] {
        for (int i = 0; i < rounds; ++i) {
            if (WaitForMultiple({&ping}, false, kTestWaitMs) != 0) ++timeouts;
            pong.SetEvent();
        }
    });
    for (int i = 0; i < rounds; ++i) {
        ping.SetEvent();
        if (pong.WaitFor(kTestWaitMs) != TWaitResult::wrSignaled) ++timeouts;
    }
    other.join();
    EXPECT_EQ(timeouts.load(), 0);
}

TEST(EventConcurrency, ManyWaitersOnOneManualEventAllWake) {
    TEvent go;
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 8; ++i)
        waiters.emplace_back([&] {
            TEvent own;  // each waits for its own event as well as the shared one
            if (WaitForMultiple({&own, &go}, false, kTestWaitMs) == 1) ++woke;
        });
    go.SetEvent();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woke.load(), 8);
}
