#pragma once
// Threads on pthreads, and the main thread's queue of synchronous calls.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Object.h"

// The thread whose calls are served by CheckSynchronize: the process's first thread
// unless SetMainThread was called.
bool IsMainThread();
uint64_t MainThreadID();
void SetMainThread();  // makes the calling thread the main thread

// Runs `call` on the main thread and waits for it. On the main thread it runs at once.
// An exception raised by `call` reaches the caller.
void Synchronize(const std::function<void()>& call);
// Runs the queued synchronous calls (main thread only); waits up to timeoutMs for the
// first one when none is queued. True when at least one call ran.
bool CheckSynchronize(int timeoutMs = 0);
// Called (on the queuing thread) each time a call is queued, so an event loop can wake up.
void SetWakeMainThread(std::function<void()> wake);

void SleepMs(int ms);

class TThread : public TObject {
public:
    // createSuspended: the thread starts with Start(). stackSize 0: the system default.
    explicit TThread(bool createSuspended, size_t stackSize = 0);
    // Destroying a thread object that still runs terminates and waits for it first.
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    // Waits for the end of Execute and gives ReturnValue. On the main thread it keeps
    // serving synchronous calls while it waits. Not for free-on-terminate threads.
    int WaitFor();
    // A thread that frees itself deletes its object once Execute returned.
    void SetFreeOnTerminate(bool value) { FFreeOnTerminate.store(value); }
    bool FreeOnTerminate() const { return FFreeOnTerminate.load(); }
    uint64_t ThreadID() const { return FThreadID.load(); }

    // Called on the thread itself after Execute, before it is freed.
    std::function<void(TThread*)> OnTerminate;

protected:
    virtual void Execute() = 0;
    void SetReturnValue(int value) { FReturnValue = value; }
    // Exception that escaped Execute, if any (its message is kept for the owner).
    const std::string& FatalMessage() const { return FFatalMessage; }

private:
    static void* ThreadProc(void* self);
    void CreateHandle();

    size_t FStackSize;
    bool FStarted = false;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FFreeOnTerminate{false};
    std::atomic<uint64_t> FThreadID{0};
    int FReturnValue = 0;
    std::string FFatalMessage;
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};
