#include "log/KXThreads_v20_2.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(KXThreadSafetyClass, TheHolderMayTakeTheLockAgain) {
    TKXThreadSafetyClass obj;
    obj.Lock();
    obj.Lock();  // a plain mutex would hang here
    obj.Unlock();
    obj.Unlock();
    SUCCEED();
}

TEST(KXThreadSafetyClassConcurrency, TheLockExcludesOtherThreads) {
    TKXThreadSafetyClass obj;
    long counter = 0;  // deliberately unsynchronised apart from the lock under test
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                TKXLockGuard hold(obj);
                TKXLockGuard again(obj);
                ++counter;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);
}

}  // namespace
