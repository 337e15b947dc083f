#include "MainThreadPump.h"

bool PumpUntil(TEvent& event, int timeoutMs) { return WaitForSynchronizing({&event}, timeoutMs) == 0; }

TFuncThread::TFuncThread(std::function<void(TFuncThread&)> body, size_t stackSize)
    : TThread(true, stackSize), FBody(std::move(body)) {}

TFuncThread::~TFuncThread() {
    if (ThreadID() != 0 && !FreeOnTerminate()) {
        Terminate();
        WaitFor();
    }
}

void TFuncThread::Execute() {
    struct SetDone {
        TEvent& done;
        ~SetDone() { done.SetEvent(); }
    } setDone{Done};
    FBody(*this);
}
