#include "platform/Thread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/MainThreadPump.h"
#include "platform/Sync.h"

namespace {

uint64_t KernelThreadID() { return static_cast<uint64_t>(::syscall(SYS_gettid)); }

// Restores the process's wake-up hook and main thread whatever a test did to them.
class SyncFixture : public ::testing::Test {
protected:
    void TearDown() override {
        SetWakeMainThread(nullptr);
        SetMainThread();
    }
};

// A thread that tells the test when its object is destroyed, whichever thread does it.
class TReportingThread : public TThread {
public:
    TReportingThread(TEvent& destroyed, std::function<void(TReportingThread&)> body)
        : TThread(true), FDestroyed(destroyed), FBody(std::move(body)) {}
    ~TReportingThread() override { FDestroyed.SetEvent(); }

protected:
    void Execute() override { FBody(*this); }

private:
    TEvent& FDestroyed;
    std::function<void(TReportingThread&)> FBody;
};

}  // namespace

// ---------------------------------------------------------------------------------------
// Thread objects

TEST(ThreadConcurrency, SuspendedThreadRunsAfterStartAndGivesItsReturnValue) {
    std::atomic<bool> ran{false};
    std::atomic<uint64_t> bodyThread{0};
    TFuncThread thread([&](TFuncThread& self) {
        ran = true;
        bodyThread = KernelThreadID();
        self.SetReturnValue(42);
    });
    EXPECT_EQ(thread.ThreadID(), 0u);
    EXPECT_FALSE(thread.Finished());
    EXPECT_FALSE(ran.load());

    thread.Start();
    EXPECT_NE(thread.ThreadID(), 0u);  // known as soon as Start returns
    EXPECT_NE(thread.ThreadID(), KernelThreadID());
    EXPECT_EQ(thread.WaitFor(), 42);
    EXPECT_TRUE(ran.load());
    EXPECT_TRUE(thread.Finished());
    EXPECT_EQ(bodyThread.load(), thread.ThreadID());
    EXPECT_EQ(thread.WaitFor(), 42);  // a second wait finds it finished
}

TEST(ThreadConcurrency, BodySeesTerminate) {
    TEvent started, go;
    TFuncThread thread([&](TFuncThread& self) {
        started.SetEvent();
        go.WaitFor(kTestWaitMs);
        self.SetReturnValue(self.Terminated() ? 1 : 0);
    });
    thread.Start();
    ASSERT_EQ(started.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
    EXPECT_FALSE(thread.Terminated());
    thread.Terminate();
    go.SetEvent();
    EXPECT_EQ(thread.WaitFor(), 1);
}

TEST(ThreadConcurrency, DestroyingARunningThreadTerminatesAndWaitsForIt) {
    TEvent started;
    std::atomic<bool> bodyEnded{false};
    {
        // No destructor of its own, so that ~TThread alone does the stopping.
        class TLoop : public TThread {
        public:
            TLoop(TEvent& s, std::atomic<bool>& e) : TThread(true), FStarted(s), FEnded(e) {}

        protected:
            void Execute() override {
                // Once ~TThread runs, the TLoop part is gone: from then on only the TThread
                // part and locals may be touched.
                TThread* base = this;
                std::atomic<bool>& ended = FEnded;
                FStarted.SetEvent();
                while (!base->Terminated()) SleepMs(1);
                ended = true;
            }

        private:
            TEvent& FStarted;
            std::atomic<bool>& FEnded;
        };
        TLoop thread(started, bodyEnded);
        thread.Start();
        ASSERT_EQ(started.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
    }
    EXPECT_TRUE(bodyEnded.load());
}

TEST(ThreadConcurrency, ExceptionEscapingExecuteEndsOnlyTheThread) {
    struct Case {
        const char* name;
        std::function<void()> raise;
        std::string message;
    } cases[] = {
        {"own exception", [] { throw Exception("body failed"); }, "body failed"},
        {"std exception", [] { throw std::runtime_error("runtime failed"); }, "runtime failed"},
        {"not an exception", [] { throw 7; }, "Unknown exception"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFuncThread thread([&](TFuncThread& self) {
            self.SetReturnValue(5);
            c.raise();
        });
        thread.Start();
        EXPECT_EQ(thread.WaitFor(), 5);
        EXPECT_TRUE(thread.Finished());
        EXPECT_EQ(thread.FatalMessage(), c.message);
    }
}

TEST(ThreadConcurrency, ThreadThatFreesItselfIsDestroyedAfterItsBody) {
    struct Case {
        const char* name;
        bool raise;
    } cases[] = {{"normal end", false}, {"body raised", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TEvent destroyed;
        std::atomic<bool> onTerminateRan{false};
        auto* thread = new TReportingThread(destroyed, [&](TReportingThread&) {
            if (c.raise) throw Exception("failed");
        });
        thread->OnTerminate = [&](TThread*) { onTerminateRan = true; };
        thread->SetFreeOnTerminate(true);
        thread->Start();  // the object is the thread's own from here on
        EXPECT_EQ(destroyed.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
        EXPECT_TRUE(onTerminateRan.load());
    }
}

TEST(ThreadConcurrency, OnTerminateRunsOnTheThreadAfterExecute) {
    std::atomic<uint64_t> terminateThread{0};
    std::atomic<bool> bodyDone{false};
    std::atomic<bool> bodyDoneSeen{false};
    TFuncThread thread([&](TFuncThread&) { bodyDone = true; });
    thread.OnTerminate = [&](TThread*) {
        terminateThread = KernelThreadID();
        bodyDoneSeen = bodyDone.load();
    };
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(terminateThread.load(), thread.ThreadID());
    EXPECT_TRUE(bodyDoneSeen.load());
}

TEST(ThreadConcurrency, StackSizeIsGiven) {
    const size_t size = 4 * 1024 * 1024;
    std::atomic<size_t> actual{0};
    TFuncThread thread(
        [&](TFuncThread&) {
            pthread_attr_t attr;
            if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
            size_t s = 0;
            pthread_attr_getstacksize(&attr, &s);
            pthread_attr_destroy(&attr);
            actual = s;
        },
        size);
    thread.Start();
    thread.WaitFor();
    EXPECT_GE(actual.load(), size);
}

TEST(ThreadConcurrency, MisuseIsRefusedWithoutHanging) {
    {
        // Never started: WaitFor would wait forever, destruction must neither hang nor leak.
        TFuncThread never([](TFuncThread&) {});
        EXPECT_THROW(never.WaitFor(), EThread);
    }
    TFuncThread once([](TFuncThread&) {});
    once.Start();
    EXPECT_THROW(once.Start(), EThread);
    once.WaitFor();

    std::string selfWait;
    TFuncThread waitsForItself([&](TFuncThread& self) {
        try {
            self.WaitFor();
        } catch (const EThread& e) {
            selfWait = e.Message();
        }
    });
    waitsForItself.Start();
    waitsForItself.WaitFor();
    EXPECT_FALSE(selfWait.empty());
}

// ---------------------------------------------------------------------------------------
// The main thread and synchronous calls

using MainThreadConcurrency = SyncFixture;
using MainThreadSync = SyncFixture;

TEST_F(MainThreadConcurrency, IsTheProcessFirstThreadUnlessMoved) {
    EXPECT_TRUE(IsMainThread());
    EXPECT_EQ(MainThreadID(), static_cast<uint64_t>(::getpid()));

    std::atomic<bool> workerWasMain{true};
    std::atomic<bool> testWasMainMeanwhile{true};
    std::atomic<uint64_t> workerID{0};
    TEvent moved, checked;
    std::thread worker([&] {
        workerWasMain = IsMainThread();
        SetMainThread();
        workerID = KernelThreadID();
        moved.SetEvent();
        checked.WaitFor(kTestWaitMs);
    });
    ASSERT_EQ(moved.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
    testWasMainMeanwhile = IsMainThread();
    EXPECT_EQ(MainThreadID(), workerID.load());
    checked.SetEvent();
    worker.join();
    SetMainThread();

    EXPECT_FALSE(workerWasMain.load());
    EXPECT_FALSE(testWasMainMeanwhile.load());
    EXPECT_TRUE(IsMainThread());
}

TEST_F(MainThreadSync, OnTheMainThreadRunsAtOnce) {
    std::atomic<int> wakes{0};
    SetWakeMainThread([&] { ++wakes; });
    std::thread::id ranOn;
    Synchronize([&] { ranOn = std::this_thread::get_id(); });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(wakes.load(), 0);
    EXPECT_THROW(Synchronize([] { throw Exception("raised on main"); }), Exception);
    EXPECT_FALSE(CheckSynchronize(0));  // nothing was queued
}

using SynchronizeConcurrency = SyncFixture;

TEST_F(SynchronizeConcurrency, WorkerCallRunsOnTheMainThreadServedByCheckSynchronize) {
    TEvent queued;
    std::atomic<int> wakes{0};
    SetWakeMainThread([&] {
        ++wakes;
        queued.SetEvent();
    });
    const auto mainID = std::this_thread::get_id();
    std::thread::id ranOn;
    bool ranAsMain = false;
    std::atomic<bool> workerCheck{true};
    TFuncThread worker([&](TFuncThread&) {
        workerCheck = CheckSynchronize(0);  // not the main thread: serves nothing
        Synchronize([&] {
            ranOn = std::this_thread::get_id();
            ranAsMain = IsMainThread();
        });
    });
    worker.Start();
    ASSERT_EQ(queued.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
    EXPECT_TRUE(CheckSynchronize(0));
    worker.WaitFor();
    EXPECT_FALSE(workerCheck.load());
    EXPECT_EQ(ranOn, mainID);
    EXPECT_TRUE(ranAsMain);
    EXPECT_EQ(wakes.load(), 1);
}

TEST_F(SynchronizeConcurrency, CheckSynchronizeWaitsForTheFirstCall) {
    std::atomic<bool> ran{false};
    TFuncThread worker([&](TFuncThread&) { Synchronize([&] { ran = true; }); });
    worker.Start();
    EXPECT_TRUE(CheckSynchronize(kTestWaitMs));
    EXPECT_TRUE(ran.load());
    worker.WaitFor();
}

TEST_F(SynchronizeConcurrency, ExceptionOfTheCallReachesTheWorker) {
    struct Case {
        const char* name;
        std::function<void()> raise;
        std::string className;
        std::string message;
    } cases[] = {
        {"own exception", [] { throw EOSError(2, "open"); }, "EOSError", "open: No such file or directory"},
        {"std exception", [] { throw std::out_of_range("index"); }, "out_of_range", "index"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string className, message;
        TFuncThread worker([&](TFuncThread&) {
            try {
                Synchronize(c.raise);
            } catch (const std::exception& e) {
                className = ExceptionClassName(e);
                message = ExceptionMessage(e);
            }
        });
        worker.Start();
        worker.WaitFor();  // serves the call
        EXPECT_EQ(className, c.className);
        EXPECT_EQ(message, c.message);
    }
}

TEST_F(SynchronizeConcurrency, WaitForOnTheMainThreadServesTheThreadItWaitsFor) {
    // The worker cannot finish before its call ran on the main thread, which is busy waiting
    // for the worker: the wait itself has to serve the call.
    TFuncThread worker([&](TFuncThread& self) {
        int value = 0;
        Synchronize([&] { value = IsMainThread() ? 11 : -1; });
        self.SetReturnValue(value);
    });
    worker.Start();
    EXPECT_EQ(worker.WaitFor(), 11);
}

TEST_F(SynchronizeConcurrency, ManyWorkersEachCallRunsOnceOnTheMainThread) {
    const int workers = 6, callsEach = 40;
    int counter = 0;  // touched only on the main thread
    bool allOnMain = true;
    std::vector<std::unique_ptr<TFuncThread>> threads;
    for (int i = 0; i < workers; ++i) {
        threads.push_back(std::make_unique<TFuncThread>([&](TFuncThread&) {
            for (int n = 0; n < callsEach; ++n)
                Synchronize([&] {
                    ++counter;
                    allOnMain = allOnMain && IsMainThread();
                });
        }));
        threads.back()->Start();
    }
    for (auto& t : threads) t->WaitFor();
    EXPECT_EQ(counter, workers * callsEach);
    EXPECT_TRUE(allOnMain);
}

TEST_F(SynchronizeConcurrency, CallRunningANestedLoopServesTheCallsQueuedBehindIt) {
    // A modal dialog runs its own loop: calls queued behind the one showing it must be
    // served by that loop, not wait for the outer one.
    std::atomic<int> queued{0};
    TEvent bothQueued, secondRan;
    SetWakeMainThread([&] {
        if (++queued == 2) bothQueued.SetEvent();
    });
    std::vector<int> order;  // main thread only
    bool nestedServed = false;
    int calls = 0;
    auto call = [&] {
        int me = ++calls;
        order.push_back(me);
        if (me == 1) {
            nestedServed = PumpUntil(secondRan);
            order.push_back(-1);
        } else {
            secondRan.SetEvent();
        }
    };
    TFuncThread a([&](TFuncThread&) { Synchronize(call); });
    TFuncThread b([&](TFuncThread&) { Synchronize(call); });
    a.Start();
    b.Start();
    ASSERT_EQ(bothQueued.WaitFor(kTestWaitMs), TWaitResult::wrSignaled);
    EXPECT_TRUE(CheckSynchronize(0));
    a.WaitFor();
    b.WaitFor();
    EXPECT_TRUE(nestedServed);
    EXPECT_EQ(order, (std::vector<int>{1, 2, -1}));
}

TEST_F(SynchronizeConcurrency, WaitForSynchronizingReportsTheEventOrTimeOut) {
    TEvent first, second;
    std::atomic<bool> served{false};
    TFuncThread worker([&](TFuncThread&) {
        Synchronize([&] { served = true; });
        second.SetEvent();
    });
    worker.Start();
    EXPECT_EQ(WaitForSynchronizing({&first, &second}, kTestWaitMs), 1);
    EXPECT_TRUE(served.load());
    worker.WaitFor();
    EXPECT_EQ(WaitForSynchronizing({&first}, 5), -1);
}
