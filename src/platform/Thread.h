#pragma once
// Threads on pthreads, and the main thread's queue of synchronous calls.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Object.h"

class TEvent;

// Misuse of a thread object (starting it twice, waiting for itself, ...).
class EThread : public Exception {
public:
    using Exception::Exception;
};

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
// Waits until one of the events is set, up to timeoutMs (INFINITE_WAIT: no limit), and gives
// its index, or -1 on a time-out. On the main thread it serves synchronous calls meanwhile,
// so a worker that synchronizes cannot deadlock against the waiting main thread.
int WaitForSynchronizing(const std::vector<TEvent*>& events, int timeoutMs);

void SleepMs(int ms);

// A thread whose body is the virtual Execute. An exception escaping Execute ends the thread,
// not the process; its message stays in FatalMessage.
//
// Created running (createSuspended false), the thread starts inside TThread's constructor,
// so Execute may be entered while a derived constructor still runs. A derived class
// therefore passes createSuspended true and calls Start() at the end of its own constructor
// (or leaves that to its creator).
class TThread : public TObject {
public:
    // createSuspended: the thread starts with Start(). stackSize 0: the system default.
    explicit TThread(bool createSuspended, size_t stackSize = 0);
    // Destroying a thread object that still runs terminates and waits for it first. This runs
    // after the derived part is gone: a derived class whose Execute uses its own fields calls
    // Terminate() and WaitFor() in its own destructor. A thread never started leaves nothing.
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a suspended thread; ThreadID() is known when it returns. Raises EThread when the
    // thread was started already, EOSError when the system refuses a thread.
    void Start();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    // Waits for the end of Execute and gives ReturnValue. On the main thread it keeps
    // serving synchronous calls while it waits. Raises EThread for a free-on-terminate
    // thread, a thread never started, and a thread waiting for itself.
    int WaitFor();
    // A thread that frees itself deletes its object once Execute returned (and its pthread is
    // detached); nobody may touch the object after Start() then.
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
    void WaitForEnd();  // waits and joins, without the checks of WaitFor

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
