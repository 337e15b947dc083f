#include "log/KXLoger_v20_2.h"

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "platform/Dialogs.h"
#include "platform/Strings.h"
#include "system/KXSysTools_v20_2.h"

namespace {

// The writer thread running on this thread, if any: a final failure on the writer
// thread must not wait for the writer thread.
thread_local const TKXLogerThread* CurrentWriterThread = nullptr;

constexpr size_t WriterThreadStackSize = 4194304;

// Clears the writer's NewFile flag however GetFileName leaves.
class TNewFileClearer {
public:
    explicit TNewFileClearer(TKXLogerWriter& W) : FWriter(W) {}
    ~TNewFileClearer() { FWriter.SetNewFile(false); }
    TNewFileClearer(const TNewFileClearer&) = delete;
    TNewFileClearer& operator=(const TNewFileClearer&) = delete;

private:
    TKXLogerWriter& FWriter;
};

}  // namespace

// ---- TKXLogerWriter ----

TKXLogerWriter::TKXLogerWriter(TKXLoger* ALoger) : FLoger(ALoger) {}

std::string TKXLogerWriter::CurrentName() const {
    std::lock_guard<std::mutex> g(FNameLock);
    return FCurrentName;
}

void TKXLogerWriter::SetCurrentName(std::string Value) {
    std::lock_guard<std::mutex> g(FNameLock);
    FCurrentName = std::move(Value);
}

void TKXLogerWriter::Flush() {
    try {
        FLoger->TakeBuffer();
        if (!FBuffer.empty()) WriteWithRetry();
    } catch (const std::exception& E) {
        FLoger->HandleError(E);
    } catch (...) {
        FLoger->HandleError(EKXLoger("Unknown error"));
    }
}

bool TKXLogerWriter::HasData() { return !FBuffer.empty() || FLoger->BufferSize() > 0; }

std::string TKXLogerWriter::GetFileName() {
    TNewFileClearer clear(*this);
    const bool newFile = NewFile();
    if (newFile && FLoger->OnGetFileName()) {
        if (CurrentName().empty()) SetCurrentName(FLoger->FileName());
        std::string current = CurrentName();
        std::string result = current;
        FLoger->OnGetFileName()(FLoger, current, result);
        return result;
    }
    const uint8_t period = FLoger->FileNamePeriod();
    std::string current = CurrentName();
    if (period == 0 && !newFile && !current.empty()) return current;

    bool due = newFile || current.empty() || period >= 4;
    if (period >= 1 && period <= 3) {
        TDateTime today = DateOf(Now());
        if (!due) due = today != FLastDate;
        FLastDate = today;
    }
    if (!due) return current;

    std::string name = FLoger->ExpandFileName(FLoger->FileName());
    // Never append to a file that holds data from elsewhere (an earlier run, another
    // program): take the first free numbered name beside it instead.
    if (!IsFileEmpty(name)) name = UniqueFileName(name);
    SetCurrentName(name);
    return name;
}

bool TKXLogerWriter::IsNewFile(const std::string& Name) {
    try {
        return IsFileEmpty(Name);
    } catch (...) {
        return true;
    }
}

void TKXLogerWriter::WriteToFile() {
    const std::string name = GetFileName();
    SetCurrentName(name);
    const bool isNew = IsNewFile(name);
    if (isNew) {
        std::string dir = ExcludeTrailingPathDelimiter(ExtractFilePath(name));
        if (!dir.empty() && !ForceDirectories(dir)) {
            int code = errno;
            throw EKXLoger("Error create directory \"" + dir + "\" : " + SysErrorMessage(code));
        }
    }
    try {
        TFileStream file(name, isNew ? TFileStream::Mode::Create : TFileStream::Mode::OpenWrite);
        if (isNew) {
            if (FLoger->WriteBOM()) file.Write(UTF8BOM);
            if (FLoger->OnNewFile()) FLoger->OnNewFile()(FLoger, file);
        } else {
            file.Seek(0, SEEK_END);
        }
        file.Write(FBuffer);
        FBuffer.clear();
        if (FLoger->MaxFileSize() > 0) SetNewFile(file.Size() >= FLoger->MaxFileSize());
        file.Close();
    } catch (const std::exception& E) {
        throw EKXLoger("Error write to file \"" + CurrentName() + "\": " + ExceptionMessage(E));
    } catch (...) {
        throw EKXLoger("Error write to file \"" + CurrentName() + "\": Unknown error");
    }
}

void TKXLogerWriter::WriteWithRetry() {
    const int count = FLoger->RetryCount();
    for (int attempt = 1; attempt <= count; ++attempt) {
        try {
            WriteToFile();
            return;
        } catch (const std::exception& E) {
            if (attempt == count) {
                FLoger->HandleError(E);
            } else {
                SleepMs(FLoger->RetryDelay());
                // A file held by another program must not block the log: decide anew.
                SetNewFile(true);
            }
        }
    }
}

// ---- TKXLogerThread ----

TKXLogerThread::TKXLogerThread(TKXLogerWriter* AWriter, std::shared_ptr<TKXLogerThreadControl> AControl)
    : TThread(true, WriterThreadStackSize), FWriter(AWriter), FControl(std::move(AControl)) {}

void TKXLogerThread::Execute() {
    CurrentWriterThread = this;
    try {
        // A stop request is honoured only once everything pending has been written.
        while (!Terminated() || FWriter->HasData()) {
            FWriter->Flush();
            if (!FWriter->HasData() && !Terminated()) {
                std::unique_lock<std::mutex> lk(FControl->Mutex);
                FControl->Changed.wait_for(lk, std::chrono::milliseconds(IdleMs), [this] { return Terminated(); });
            }
        }
    } catch (...) {
    }
    CurrentWriterThread = nullptr;
    // Last touch of the logger's state: after this the logger may be gone.
    std::lock_guard<std::mutex> g(FControl->Mutex);
    FControl->Thread = nullptr;
    FControl->Changed.notify_all();
}

// ---- TKXLoger ----

TKXLoger::TKXLoger()
    : FWriter(std::make_unique<TKXLogerWriter>(this)), FThreadControl(std::make_shared<TKXLogerThreadControl>()) {
    SetDefaults();
}

TKXLoger::~TKXLoger() { Shutdown(); }

void TKXLoger::Shutdown() {
    SetActive(false);
    // Also when a final failure already switched the logger off: its thread may still be
    // on its way out and must be gone before the writer is freed.
    StopThread();
}

void TKXLoger::SetDefaults() {
    FFileNamePeriod = 0;
    FActive = false;
    FOnError = nullptr;
    FErrorAction = 1;
    SetLastError({});
    FFileName = "C:\\Log.log";
    FRetryCount = 5;
    FRetryDelay = 500;
    FMaxFileSize = 0;
    FSynchronous = false;
    FWriteBOM = true;
    FOnNewFile = nullptr;
    FOnExpandFileName = nullptr;
    FDeactivateOnError = true;
    FOnGetFileName = nullptr;
}

void TKXLoger::SetOnGetFileName(TKXLogerGetFileNameEvent Event) { FOnGetFileName = std::move(Event); }

void TKXLoger::WriteBuffer(const void* Bytes, int64_t Count) {
    if (Count > 0) FBuffer.append(static_cast<const char*>(Bytes), static_cast<size_t>(Count));
}

int64_t TKXLoger::BufferSize() {
    TKXLockGuard g(*this);
    return static_cast<int64_t>(FBuffer.size());
}

void TKXLoger::TakeBuffer() {
    TKXLockGuard g(*this);
    FWriter->Buffer().swap(FBuffer);
    FBuffer.clear();
}

std::string TKXLoger::ExpandFileName(const std::string& Template) {
    if (FOnExpandFileName) {
        std::string result = Template;
        FOnExpandFileName(Template, result);
        return result;
    }
    return ExpandPathVars(Template);
}

std::string TKXLoger::CurrentFileName() const { return FWriter->CurrentName(); }

std::string TKXLoger::LastError() const {
    std::lock_guard<std::mutex> g(FErrorLock);
    return FLastError;
}

void TKXLoger::SetLastError(std::string Value) {
    std::lock_guard<std::mutex> g(FErrorLock);
    FLastError = std::move(Value);
}

uint8_t TKXLoger::TemplatePeriod(std::string_view Template) {
    static constexpr struct {
        char Letter;
        uint8_t Unit;
    } units[] = {{'S', 6}, {'N', 5}, {'H', 4}, {'D', 3}, {'M', 2}, {'Y', 1}};
    uint8_t period = 0;
    size_t pos = 0;
    for (;;) {
        size_t open = Template.find('%', pos);
        if (open == std::string_view::npos) break;
        size_t close = Template.find('%', open + 1);
        if (close == std::string_view::npos) break;
        std::string_view var = Template.substr(open + 1, close - open - 1);
        pos = close + 1;

        std::string_view name = var, format;
        if (size_t bar = var.find('|'); bar != std::string_view::npos) {
            name = var.substr(0, bar);
            format = var.substr(bar + 1);
        }
        if (format.empty()) {
            if (SameText(name, "Date")) format = "yyyymmdd";
            else if (SameText(name, "Time")) format = "hhhhss";
            else if (SameText(name, "DateTime")) format = "yyyymmdd_hhnnss";
        }
        if (format.empty()) continue;
        std::string upper = UpperCase(format);
        for (const auto& u : units) {
            if (upper.find(u.Letter) != std::string::npos) {
                if (u.Unit > period) period = u.Unit;
                break;
            }
        }
    }
    return period;
}

void TKXLoger::SetFileName(const std::string& Value) {
    if (SameText(Value, FFileName)) return;
    FFileName = Value;
    FWriter->SetNewFile(true);
    FWriter->SetCurrentName({});
    FFileNamePeriod = TemplatePeriod(Value);
}

void TKXLoger::SetActive(bool Value) {
    if (FActive.exchange(Value) == Value) return;
    if (!Value || Synchronous()) StopThread();
    else StartThread();
}

void TKXLoger::SetSynchronous(bool Value) {
    if (FSynchronous.exchange(Value) == Value) return;
    if (!Value) {
        if (Active()) StartThread();
    } else {
        // Two threads flushing through the one writer would share its file and buffer:
        // let the writer thread drain and end, from now on the producers write.
        StopThread();
    }
}

void TKXLoger::StartThread() {
    std::unique_lock<std::mutex> lk(FThreadControl->Mutex);
    if (TKXLogerThread* running = FThreadControl->Thread) {
        if (!running->Terminated() || running == CurrentWriterThread) return;
        // A thread that was asked to stop is still draining: let it finish first.
        FThreadControl->Changed.wait(lk, [this] { return FThreadControl->Thread == nullptr; });
    }
    // The thread frees itself when its run ends.
    auto* thread = new TKXLogerThread(FWriter.get(), FThreadControl);
    thread->SetFreeOnTerminate(true);
    FThreadControl->Thread = thread;
    try {
        thread->Start();
    } catch (...) {
        // No writer thread to be had: the producers write themselves rather than
        // buffering without end.
        FThreadControl->Thread = nullptr;
        delete thread;
        FSynchronous = true;
    }
}

void TKXLoger::StopThread() {
    std::shared_ptr<TKXLogerThreadControl> control = FThreadControl;
    std::unique_lock<std::mutex> lk(control->Mutex);
    TKXLogerThread* thread = control->Thread;
    if (!thread) return;
    thread->Terminate();
    control->Changed.notify_all();
    if (thread == CurrentWriterThread) return;
    control->Changed.wait(lk, [&] { return control->Thread == nullptr; });
}

TKXLogerThread* TKXLoger::WriterThread() const {
    std::lock_guard<std::mutex> g(FThreadControl->Mutex);
    return FThreadControl->Thread;
}

void TKXLoger::HandleError(const std::exception& E) {
    const std::string message = ExceptionMessage(E);
    try {
        if (FOnError) {
            FOnError(this, E);
        } else if (FErrorAction == 0) {
            MessageDlg("Object: " + ClassName(),
                       "Error write log to file \"" + FFileName + "\":" + LineEnd + message, mtError,
                       DlgButtons({mbOK}));
        } else if (FErrorAction == 1) {
            SetLastError(message);
        }
    } catch (...) {
        // A failing handler must not turn a log failure into a failure of the caller.
    }
    if (FDeactivateOnError) SetActive(false);
}
