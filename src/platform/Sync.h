#pragma once
// Locks and events.

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Object.h"

// A re-entrant critical section.
class TCriticalSection : public TObject {
public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }
    bool TryEnter() { return FMutex.try_lock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }
    // BasicLockable, so std::lock_guard / std::unique_lock work with it.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex FMutex;
};

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

inline constexpr int INFINITE_WAIT = -1;

struct TEventWaiter;

// An event, manual-reset unless asked otherwise. Works with WaitForMultiple.
// An auto-reset event releases one waiter per SetEvent and is reset by the wait it ends.
// All events share one lock, so a wait for several events sees their states at one instant
// and sleeps until one of them is set (no polling).
class TEvent : public TObject {
public:
    explicit TEvent(bool manualReset = true, bool initialState = false);
    ~TEvent() override;
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    bool IsSet() const;
    // Waits up to timeoutMs (INFINITE_WAIT: no limit).
    TWaitResult WaitFor(int timeoutMs = INFINITE_WAIT);

private:
    friend int WaitForMultiple(const std::vector<TEvent*>&, bool, int);
    bool FManualReset;
    bool FState;
    // Threads sleeping in a wait that includes this event (guarded by the shared lock).
    std::vector<TEventWaiter*> FWaiters;
};

// Waits until one (waitAll false) or all (waitAll true) events are set, up to timeoutMs.
// Gives the index of the event that ended the wait (0 when all were awaited), or -1 on
// a time-out, also at once for an empty list. An auto-reset event that ends the wait is
// reset. A null event in the list raises an Exception.
int WaitForMultiple(const std::vector<TEvent*>& events, bool waitAll, int timeoutMs);
