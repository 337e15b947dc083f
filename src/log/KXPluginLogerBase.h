#pragma once
// The object that program code talks to when it traces: it owns a tracer, finds its log
// file name in the host ini file, opens the log on first use and turns a trace call (who,
// what kind of event, a text, named parameters and values) into one entry record.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log/ICTracer.h"
#include "log/KXThreads_v20_2.h"
#include "platform/Values.h"

enum TKXLogerTraceType : uint8_t {
    ttStartExecFunction = 0,
    ttEndExecFunction = 1,
    ttMessage = 2,
    ttError = 3,
    ttSetProperty = 4,
    ttGetProperty = 5,
    ttCreate = 6,
    ttDestroy = 7,
};

// The type's name without its "tt" prefix; raises EKXPluginLoger for a value outside the
// enumeration.
std::string TraceTypeToString(TKXLogerTraceType TraceType);

class EKXPluginLoger : public Exception {
public:
    using Exception::Exception;
};

// Labels of the entry head.
inline constexpr const char* ObjectInfo = "ObjectInfo";
inline constexpr const char* ThreadID = "ThreadID";
// Per-user folder of the host ini file when none lies beside the program.
inline constexpr const char* PluginIniFolder = "%AppData%\\Kexo\\KexoPlugin";

// A tracer whose header also names the computer and the operating system.
class TPluginICTracer : public TICTracer {
public:
    using TICTracer::TICTracer;
    ~TPluginICTracer() override;
    std::string GetHeader() override;
};

using TKXNames = std::vector<std::string>;
using TKXValues = std::vector<TVarRec>;

class TKXPluginLogerBase : public TKXThreadSafetyClass {
public:
    TKXPluginLogerBase();
    ~TKXPluginLogerBase() override;

    // True when entries are written; the first call opens the log.
    virtual bool IsActive();
    virtual std::string GetObjectParam(const TObject* Obj);
    virtual std::string GetObjectText(const TObject* Obj);
    virtual std::unique_ptr<TICTracer> CreateTracer();
    virtual void Open();
    // The host ini file: beside the program when it exists there, otherwise the same name
    // in the per-user folder. Fixed when first computed.
    static std::string GetIniFileName();
    static std::string GetIniSection();
    static std::string GetIniKey();
    // The configured log file name; empty when there is none (no log).
    static std::string GetLogFileName();
    virtual void Trace(const TObject* Sender, TKXLogerTraceType TraceType, const std::string& Text,
                       const TKXNames& Names, const TKXValues& Values);

    // The ini rule applied to a given program file, without the caching of GetIniFileName.
    static std::string IniFileNameFor(const std::string& ProgramFile);

    void SetTracerFileName(const std::string& Name);
    std::string TracerFileName() const;
    TICTracer* Tracer() const { return FTracer.get(); }
    bool Opened() const { return FOpened.load(std::memory_order_acquire); }

    // The parameter list of an entry: one value line per position, indented by one space.
    std::string FormatParams(const TKXNames& Names, const TKXValues& Values);
    std::string FormatArgValue(const TVarRec& V);
    // The whole record for a trace call: head line (with body size) and body.
    struct TRecord {
        std::string Head;
        std::string Body;
    };
    TRecord BuildRecord(const TObject* Sender, TKXLogerTraceType TraceType, const std::string& Text,
                        const TKXNames& Names, const TKXValues& Values);

    void TraceMessage(const TObject* Sender, const std::string& Text);
    void TraceMessage(const TObject* Sender, const std::string& Text, const TKXNames& Names, const TKXValues& Values);
    void TraceError(const TObject* Sender, const std::string& Text);
    void TraceError(const TObject* Sender, const std::string& Text, const TKXNames& Names, const TKXValues& Values);
    void TraceStart(const TObject* Sender, const std::string& Text);
    void TraceStart(const TObject* Sender, const std::string& Text, const TKXNames& Names, const TKXValues& Values);
    void TraceResult(const TObject* Sender, const std::string& Text, const TVarRec& Value);

private:
    std::unique_ptr<TICTracer> FTracer;
    std::atomic<bool> FOpened{false};
};
