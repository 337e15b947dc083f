#pragma once
// The lock base of every lockable object of the logging classes.

#include "platform/Object.h"
#include "platform/Sync.h"

// Owns one re-entrant critical section: a thread that holds it may take it again, which
// the logger relies on when a producer flushes inside its own hold.
class TKXThreadSafetyClass : public TObject {
public:
    TKXThreadSafetyClass() = default;
    ~TKXThreadSafetyClass() override;
    TKXThreadSafetyClass(const TKXThreadSafetyClass&) = delete;
    TKXThreadSafetyClass& operator=(const TKXThreadSafetyClass&) = delete;

    virtual void Lock();
    virtual void Unlock();

private:
    TCriticalSection FLock;
};

// Holds an object's lock for a scope.
class TKXLockGuard {
public:
    explicit TKXLockGuard(TKXThreadSafetyClass& obj) : FObj(obj) { FObj.Lock(); }
    ~TKXLockGuard() { FObj.Unlock(); }
    TKXLockGuard(const TKXLockGuard&) = delete;
    TKXLockGuard& operator=(const TKXLockGuard&) = delete;

private:
    TKXThreadSafetyClass& FObj;
};
