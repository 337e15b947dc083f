#pragma once
// The logger core: producers append bytes to a buffer under the logger's lock, and a
// writer moves them to the log file in batches, either at once on the producer's thread
// (synchronous mode) or from a writer thread of its own (threaded mode). The writer picks
// the file (name template, date-dependent names, size limit, never appending to a file
// that holds data from elsewhere), creates folders and new files, repeats failed attempts
// and reports a final failure.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "log/KXThreads_v20_2.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/Thread.h"

// Line end of every log text.
inline constexpr const char* LineEnd = "\r\n";
// The UTF-8 byte order mark that starts every new log file.

class EKXLoger : public Exception {
public:
    using Exception::Exception;
};

class TKXLoger;
class TKXLogerThread;

using TKXLogerErrorEvent = std::function<void(TKXLoger* Sender, const std::exception& E)>;
using TKXLogerNewFileEvent = std::function<void(TKXLoger* Sender, TFileStream& Stream)>;
using TKXLogerExpandFileNameEvent = std::function<void(const std::string& Template, std::string& Result)>;
using TKXLogerGetFileNameEvent =
    std::function<void(TKXLoger* Sender, const std::string& CurrentName, std::string& Result)>;

// Moves the logger's buffered bytes to the file. Its fields belong to the thread that
// flushes: the writer thread, or a producer that holds the logger's lock.
class TKXLogerWriter : public TObject {
public:
    explicit TKXLogerWriter(TKXLoger* ALoger);

    // One pass: take the logger's buffer and write it; a failure goes to HandleError.
    void Flush();
    bool HasData();

    // Steps of Flush.
    std::string GetFileName();
    bool IsNewFile(const std::string& Name);
    void WriteToFile();
    void WriteWithRetry();

    TKXLoger* Loger() const { return FLoger; }
    bool NewFile() const { return FNewFile.load(); }
    void SetNewFile(bool Value) { FNewFile.store(Value); }
    std::string CurrentName() const;
    void SetCurrentName(std::string Value);
    TDateTime LastDate() const { return FLastDate; }
    void SetLastDate(TDateTime Value) { FLastDate = Value; }
    std::string& Buffer() { return FBuffer; }

private:
    TKXLoger* FLoger;       // not owned
    TDateTime FLastDate = -1;  // no date decided yet
    std::atomic<bool> FNewFile{true};
    mutable std::mutex FNameLock;  // CurrentName is also read by other threads
    std::string FCurrentName;
    std::string FBuffer;
};

// Shared between a logger and its writer thread, so that neither outlives what the other
// still touches: the thread frees itself, the logger may be destroyed right after the stop.
struct TKXLogerThreadControl {
    std::mutex Mutex;
    std::condition_variable Changed;
    TKXLogerThread* Thread = nullptr;  // the logger's WriterThread
    uint64_t ThreadID = 0;
};

// The writer thread of threaded mode. It frees itself when its run ends.
class TKXLogerThread : public TThread {
public:
    TKXLogerThread(TKXLogerWriter* AWriter, std::shared_ptr<TKXLogerThreadControl> AControl);

    TKXLogerWriter* Writer() const { return FWriter; }
    // Time an idle writer sleeps before it looks for new bytes again.
    static constexpr int IdleMs = 100;

protected:
    void Execute() override;

private:
    TKXLogerWriter* FWriter;  // not owned
    std::shared_ptr<TKXLogerThreadControl> FControl;
};

class TKXLoger : public TKXThreadSafetyClass {
public:
    TKXLoger();
    ~TKXLoger() override;

    virtual void SetOnGetFileName(TKXLogerGetFileNameEvent Event);
    // Appends Count bytes to Buffer. Takes no lock: the caller holds Lock for a group of
    // calls that must stay together.
    virtual void WriteBuffer(const void* Bytes, int64_t Count);
    virtual void SetDefaults();
    virtual std::string ExpandFileName(const std::string& Template);

    void SetFileName(const std::string& Value);
    void SetActive(bool Value);
    void SetSynchronous(bool Value);

    int64_t BufferSize();
    void TakeBuffer();
    std::string CurrentFileName() const;
    void HandleError(const std::exception& E);
    void StartThread();
    void StopThread();

    // Properties.
    uint8_t FileNamePeriod() const { return FFileNamePeriod.load(); }
    bool Active() const { return FActive.load(); }
    bool Synchronous() const { return FSynchronous.load(); }
    const std::string& FileName() const { return FFileName; }
    std::string LastError() const;
    void SetLastError(std::string Value);

    uint8_t ErrorAction() const { return FErrorAction; }
    void SetErrorAction(uint8_t Value) { FErrorAction = Value; }
    int RetryCount() const { return FRetryCount; }
    void SetRetryCount(int Value) { FRetryCount = Value; }
    int RetryDelay() const { return FRetryDelay; }
    void SetRetryDelay(int Value) { FRetryDelay = Value; }
    int MaxFileSize() const { return FMaxFileSize; }
    void SetMaxFileSize(int Value) { FMaxFileSize = Value; }
    bool WriteBOM() const { return FWriteBOM; }
    void SetWriteBOM(bool Value) { FWriteBOM = Value; }
    bool DeactivateOnError() const { return FDeactivateOnError; }
    void SetDeactivateOnError(bool Value) { FDeactivateOnError = Value; }

    const TKXLogerErrorEvent& OnError() const { return FOnError; }
    void SetOnError(TKXLogerErrorEvent Event) { FOnError = std::move(Event); }
    const TKXLogerNewFileEvent& OnNewFile() const { return FOnNewFile; }
    void SetOnNewFile(TKXLogerNewFileEvent Event) { FOnNewFile = std::move(Event); }
    const TKXLogerExpandFileNameEvent& OnExpandFileName() const { return FOnExpandFileName; }
    void SetOnExpandFileName(TKXLogerExpandFileNameEvent Event) { FOnExpandFileName = std::move(Event); }
    const TKXLogerGetFileNameEvent& OnGetFileName() const { return FOnGetFileName; }

    TKXLogerWriter* Writer() const { return FWriter.get(); }
    TKXLogerThread* WriterThread() const;

    // The finest date or time unit a file name template names (0 none ... 6 second).
    static uint8_t TemplatePeriod(std::string_view Template);

protected:
    // Switches the logger off and waits for the writer thread to drain. A class that
    // installs handlers on itself calls it first in its destructor, so the draining thread
    // never reaches a half-destroyed object.
    void Shutdown();

private:
    std::atomic<uint8_t> FFileNamePeriod{0};
    std::atomic<bool> FActive{false};
    TKXLogerErrorEvent FOnError;
    uint8_t FErrorAction = 1;
    mutable std::mutex FErrorLock;
    std::string FLastError;
    std::string FFileName;
    int FRetryCount = 5;
    int FRetryDelay = 500;
    int FMaxFileSize = 0;
    std::atomic<bool> FSynchronous{false};
    bool FWriteBOM = true;
    TKXLogerNewFileEvent FOnNewFile;
    TKXLogerExpandFileNameEvent FOnExpandFileName;
    bool FDeactivateOnError = true;
    TKXLogerGetFileNameEvent FOnGetFileName;
    std::string FBuffer;
    std::unique_ptr<TKXLogerWriter> FWriter;
    std::shared_ptr<TKXLogerThreadControl> FThreadControl;
};
