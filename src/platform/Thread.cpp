#include "platform/Thread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "platform/Sync.h"

namespace {

// The kernel's id of the calling thread. Kept here rather than taken from the program-info
// unit so that the thread layer stands on its own.
uint64_t OwnThreadID() {
    thread_local const uint64_t id = static_cast<uint64_t>(::syscall(SYS_gettid));
    return id;
}

// 0: the process's first thread (its id equals the process id).
std::atomic<uint64_t> gMainThreadID{0};

// One call handed to the main thread. It lives on the caller's stack: the caller blocks
// until `done`, and the main thread lets go of it when it sets `done` (so that everything
// the request holds, the caught exception too, is released by the caller alone).
struct TSyncRequest {
    const std::function<void()>* call = nullptr;
    std::exception_ptr error;
    bool done = false;
    std::mutex lock;
    std::condition_variable doneChanged;
};

struct TSyncQueue {
    std::mutex lock;  // taken before the events' lock, never after it
    std::deque<TSyncRequest*> queue;
    TEvent pending{true, false};  // set while the queue holds calls
    std::mutex wakeLock;
    std::function<void()> wake;
};

// Never destroyed: worker threads may still synchronize while the process exits.
TSyncQueue& SyncQueue() {
    static auto* queue = new TSyncQueue;
    return *queue;
}

}  // namespace

bool IsMainThread() { return OwnThreadID() == MainThreadID(); }

uint64_t MainThreadID() {
    uint64_t id = gMainThreadID.load();
    return id != 0 ? id : static_cast<uint64_t>(::getpid());
}

void SetMainThread() { gMainThreadID.store(OwnThreadID()); }

void Synchronize(const std::function<void()>& call) {
    if (IsMainThread()) {
        call();
        return;
    }
    TSyncQueue& q = SyncQueue();
    TSyncRequest request;
    request.call = &call;
    {
        std::lock_guard<std::mutex> lock(q.lock);
        q.queue.push_back(&request);
        q.pending.SetEvent();
    }
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(q.wakeLock);
        wake = q.wake;
    }
    if (wake) {
        // The call is queued already and the main thread will find it on its next look;
        // a failing wake-up must not leave this thread without an answer.
        try {
            wake();
        } catch (...) {
        }
    }
    {
        std::unique_lock<std::mutex> lock(request.lock);
        request.doneChanged.wait(lock, [&] { return request.done; });
    }
    if (request.error) std::rethrow_exception(request.error);
}

bool CheckSynchronize(int timeoutMs) {
    if (!IsMainThread()) return false;
    TSyncQueue& q = SyncQueue();
    if (timeoutMs != 0) q.pending.WaitFor(timeoutMs);
    bool ran = false;
    // One call at a time, so that a call which runs a nested loop (a modal dialog) can serve
    // the calls queued behind it.
    for (;;) {
        TSyncRequest* request;
        {
            std::lock_guard<std::mutex> lock(q.lock);
            if (q.queue.empty()) {
                q.pending.ResetEvent();
                break;
            }
            request = q.queue.front();
            q.queue.pop_front();
            if (q.queue.empty()) q.pending.ResetEvent();
        }
        try {
            (*request->call)();
        } catch (...) {
            request->error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(request->lock);
            request->done = true;
            request->doneChanged.notify_all();
        }  // the caller may return and free the request from here on
        ran = true;
    }
    return ran;
}

void SetWakeMainThread(std::function<void()> wake) {
    TSyncQueue& q = SyncQueue();
    std::lock_guard<std::mutex> lock(q.wakeLock);
    q.wake = std::move(wake);
}

int WaitForSynchronizing(const std::vector<TEvent*>& events, int timeoutMs) {
    if (!IsMainThread() || events.empty()) return WaitForMultiple(events, false, timeoutMs);
    std::vector<TEvent*> list = events;
    list.push_back(&SyncQueue().pending);
    const bool infinite = timeoutMs < 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
    for (;;) {
        int remaining = INFINITE_WAIT;
        if (!infinite) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            remaining = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        int index = WaitForMultiple(list, false, remaining);
        if (index < 0) return -1;
        if (static_cast<size_t>(index) < events.size()) return index;
        CheckSynchronize(0);
    }
}

void SleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// ---------------------------------------------------------------------------------------

struct TThread::Impl {
    // Lives on the stack of Start(): the new thread may free its object as soon as it runs,
    // so the hand-over must not use the object's memory.
    struct StartGate {
        std::mutex lock;
        std::condition_variable changed;
        bool handleKnown = false;
        bool idKnown = false;
    };

    pthread_t handle{};
    bool created = false;  // a pthread exists (or existed) for this object
    std::mutex joinLock;
    bool joined = false;  // joined or detached
    TEvent finished{true, false};
    StartGate* gate = nullptr;
};

TThread::TThread(bool createSuspended, size_t stackSize) : FStackSize(stackSize), FImpl(std::make_unique<Impl>()) {
    if (!createSuspended) Start();
}

TThread::~TThread() {
    if (!FImpl || !FImpl->created) return;
    {
        std::lock_guard<std::mutex> lock(FImpl->joinLock);
        if (FImpl->joined) return;
        if (pthread_equal(pthread_self(), FImpl->handle)) {
            // Freed from its own body: nobody is left to join it.
            pthread_detach(FImpl->handle);
            FImpl->joined = true;
            return;
        }
    }
    Terminate();
    WaitForEnd();
}

void TThread::Start() {
    if (FStarted) throw EThread("Cannot call Start on a running or finished thread");
    CreateHandle();
}

void TThread::CreateHandle() {
    pthread_attr_t attr;
    int rc = pthread_attr_init(&attr);
    if (rc != 0) throw EOSError(rc, "pthread_attr_init");
    struct AttrGuard {
        pthread_attr_t* attr;
        ~AttrGuard() { pthread_attr_destroy(attr); }
    } attrGuard{&attr};
    if (FStackSize != 0) {
        size_t size = std::max<size_t>(FStackSize, static_cast<size_t>(PTHREAD_STACK_MIN));
        long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0) size = (size + page - 1) / page * page;
        rc = pthread_attr_setstacksize(&attr, size);
        if (rc != 0) throw EOSError(rc, "pthread_attr_setstacksize");
    }

    Impl::StartGate gate;
    FImpl->gate = &gate;
    pthread_t handle;
    rc = pthread_create(&handle, &attr, &TThread::ThreadProc, this);
    if (rc != 0) {
        FImpl->gate = nullptr;
        throw EOSError(rc, "pthread_create");
    }
    std::unique_lock<std::mutex> lock(gate.lock);
    FImpl->handle = handle;
    FImpl->created = true;
    FStarted = true;
    gate.handleKnown = true;
    gate.changed.notify_all();
    gate.changed.wait(lock, [&] { return gate.idKnown; });
    // From here on the object may be gone already (a thread that frees itself).
}

void* TThread::ThreadProc(void* arg) {
    auto* self = static_cast<TThread*>(arg);
    {
        Impl::StartGate* gate = self->FImpl->gate;
        std::unique_lock<std::mutex> lock(gate->lock);
        gate->changed.wait(lock, [&] { return gate->handleKnown; });
        self->FImpl->gate = nullptr;
        self->FThreadID.store(OwnThreadID());
        gate->idKnown = true;
        gate->changed.notify_all();
    }

    // The thread's boundary: nothing that escapes the body may end the process.
    try {
        self->Execute();
    } catch (const std::exception& e) {
        std::string message = ExceptionMessage(e);
        self->FFatalMessage = message.empty() ? ExceptionClassName(e) : message;
    } catch (...) {
        self->FFatalMessage = "Unknown exception";
    }
    try {
        if (self->OnTerminate) self->OnTerminate(self);
    } catch (const std::exception& e) {
        if (self->FFatalMessage.empty()) self->FFatalMessage = ExceptionMessage(e);
    } catch (...) {
        if (self->FFatalMessage.empty()) self->FFatalMessage = "Unknown exception";
    }

    self->FFinished.store(true);
    if (self->FFreeOnTerminate.load()) {
        {
            std::lock_guard<std::mutex> lock(self->FImpl->joinLock);
            pthread_detach(pthread_self());
            self->FImpl->joined = true;
        }
        delete self;
        return nullptr;
    }
    self->FImpl->finished.SetEvent();
    return nullptr;
}

int TThread::WaitFor() {
    if (FFreeOnTerminate.load()) throw EThread("Cannot call WaitFor on a thread that frees itself");
    if (!FStarted) throw EThread("Cannot call WaitFor on a thread that was not started");
    if (pthread_equal(pthread_self(), FImpl->handle)) throw EThread("A thread cannot wait for itself");
    WaitForEnd();
    return FReturnValue;
}

void TThread::WaitForEnd() {
    WaitForSynchronizing({&FImpl->finished}, INFINITE_WAIT);
    std::lock_guard<std::mutex> lock(FImpl->joinLock);
    if (!FImpl->joined) {
        pthread_join(FImpl->handle, nullptr);
        FImpl->joined = true;
    }
}
