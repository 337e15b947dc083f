#include "log/U_LogFile.h"

#include <memory>

namespace {

// Never freed: a late report from a thread that outlives the finish must still find it,
// and a report made before this unit's statics are set up must find it too.
TCriticalSection& LogLock() {
    static TCriticalSection* const lock = new TCriticalSection;
    return *lock;
}

// Shared so that a report already inside the object keeps it alive through a finish.
std::shared_ptr<THostLoger> HostLogObject;
bool Finished = false;

std::shared_ptr<THostLoger> AcquireHostLog() {
    std::lock_guard<TCriticalSection> hold(LogLock());
    if (Finished) return nullptr;
    if (!HostLogObject) HostLogObject = std::make_shared<THostLoger>();
    return HostLogObject;
}

}  // namespace

TCriticalSection& HostLogLock() { return LogLock(); }

bool LogFinished() {
    std::lock_guard<TCriticalSection> hold(LogLock());
    return Finished;
}

void InitHostLog() {
    std::lock_guard<TCriticalSection> hold(LogLock());
    Finished = false;
    if (!HostLogObject) HostLogObject = std::make_shared<THostLoger>();
}

THostLoger* GetHostLog() {
    try {
        return AcquireHostLog().get();
    } catch (...) {
        return nullptr;
    }
}

void HostLog(const TObject* Sender, const std::string& Text, TLogKind Kind, const std::string& Detail) {
    try {
        std::shared_ptr<THostLoger> log = AcquireHostLog();
        if (!log || !log->IsActive()) return;
        if (Kind == lkNone) return;
        TKXNames names;
        if (!Detail.empty()) names.push_back(Detail);
        if (Kind == lkError) log->TraceError(Sender, Text, names, {});
        else log->TraceMessage(Sender, Text, names, {});
    } catch (...) {
        // Reporting must never break the reporter.
    }
}

void HostLogException(const TObject* Sender, const std::string& Text, const std::exception& E) {
    try {
        std::string text = "Exception " + ExceptionClassName(E) + ": " + ExceptionMessage(E);
        if (!Text.empty()) text = Text + ": " + text;
        HostLog(Sender, text, lkError);
    } catch (...) {
    }
}

void FinishHostLog() {
    std::shared_ptr<THostLoger> log;
    {
        std::lock_guard<TCriticalSection> hold(LogLock());
        if (Finished) return;
        Finished = true;
        log = std::move(HostLogObject);
        HostLogObject.reset();
        if (log) {
            try {
                log->TraceMessage(nullptr, "LOG FINISH!");
            } catch (...) {
            }
        }
    }
    // Freed here unless a report still inside the object holds it; then by that report.
    log.reset();
}
