#pragma once
// Helpers for tests with real threads: the test's own thread plays the main thread and
// serves synchronous calls while it waits.

#include <cstddef>
#include <functional>

#include "platform/Sync.h"
#include "platform/Thread.h"

// Upper bound of every wait in a test, so that a fault fails the test instead of hanging it.
inline constexpr int kTestWaitMs = 30000;

// Serves synchronous calls on the calling (main) thread until `event` is set.
// False when it was not set within timeoutMs.
bool PumpUntil(TEvent& event, int timeoutMs = kTestWaitMs);

// A thread that runs a function. Created suspended: call Start().
class TFuncThread : public TThread {
public:
    explicit TFuncThread(std::function<void(TFuncThread&)> body, size_t stackSize = 0);
    // Stops and waits for a thread that still runs, before the body and Done go away.
    ~TFuncThread() override;

    using TThread::FatalMessage;
    using TThread::SetReturnValue;

    // Set when the body returned or raised. Part of the object: not for a thread that frees
    // itself (the event would go away under its waiter).
    TEvent Done;

protected:
    void Execute() override;

private:
    std::function<void(TFuncThread&)> FBody;
};
