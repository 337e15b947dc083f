#include "platform/Sync.h"

#include <algorithm>
#include <chrono>

// One sleeping thread. It sits in the waiter list of every event it waits for, so whichever
// of them is set wakes exactly this thread and no other.
struct TEventWaiter {
    std::condition_variable wake;
};

namespace {

// The lock of every event's state and waiter list. One lock for all events is what makes a
// wait for all of several events atomic (no event can be taken by another waiter between
// looking at the first and the last), and events are set rarely enough for it not to matter.
// Never destroyed: threads still running at exit may set or wait for events.
std::mutex& EventLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

// Looks at the events under the lock; consumes auto-reset events when the wait is satisfied.
int TryAcquire(const std::vector<TEvent*>& events, bool waitAll, bool (*isSet)(TEvent*),
               void (*consume)(TEvent*)) {
    if (waitAll) {
        for (TEvent* e : events)
            if (!isSet(e)) return -1;
        for (TEvent* e : events) consume(e);
        return 0;
    }
    for (size_t i = 0; i < events.size(); ++i) {
        if (isSet(events[i])) {
            consume(events[i]);
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

TEvent::TEvent(bool manualReset, bool initialState) : FManualReset(manualReset), FState(initialState) {}

TEvent::~TEvent() = default;

void TEvent::SetEvent() {
    std::lock_guard<std::mutex> lock(EventLock());
    FState = true;
    for (TEventWaiter* w : FWaiters) w->wake.notify_one();
}

void TEvent::ResetEvent() {
    std::lock_guard<std::mutex> lock(EventLock());
    FState = false;
}

bool TEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(EventLock());
    return FState;
}

TWaitResult TEvent::WaitFor(int timeoutMs) {
    return WaitForMultiple({this}, false, timeoutMs) == 0 ? TWaitResult::wrSignaled : TWaitResult::wrTimeout;
}

int WaitForMultiple(const std::vector<TEvent*>& events, bool waitAll, int timeoutMs) {
    for (TEvent* e : events)
        if (!e) throw Exception("WaitForMultiple: the list of events holds a null event");
    if (events.empty()) return -1;

    // Friends' access, spelt out once for the helper above.
    auto isSet = [](TEvent* e) { return e->FState; };
    auto consume = [](TEvent* e) {
        if (!e->FManualReset) e->FState = false;
    };

    std::unique_lock<std::mutex> lock(EventLock());
    int result = TryAcquire(events, waitAll, isSet, consume);
    if (result >= 0 || timeoutMs == 0) return result;

    TEventWaiter waiter;
    for (TEvent* e : events) e->FWaiters.push_back(&waiter);
    struct Unregister {
        const std::vector<TEvent*>& events;
        TEventWaiter* waiter;
        ~Unregister() {
            for (TEvent* e : events) {
                auto it = std::find(e->FWaiters.begin(), e->FWaiters.end(), waiter);
                if (it != e->FWaiters.end()) e->FWaiters.erase(it);
            }
        }
    } unregister{events, &waiter};

    const bool infinite = timeoutMs < 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    for (;;) {
        if (infinite) {
            waiter.wake.wait(lock);
        } else if (waiter.wake.wait_until(lock, deadline) == std::cv_status::timeout) {
            return TryAcquire(events, waitAll, isSet, consume);
        }
        result = TryAcquire(events, waitAll, isSet, consume);
        if (result >= 0) return result;
    }
}
