#include "log/KXPluginLogerBase.h"

#include <algorithm>

#include "platform/Files.h"
#include "platform/ProgramInfo.h"
#include "platform/Strings.h"
#include "system/KXSysTools_v20_2.h"

namespace {

constexpr const char* TraceTypeNames[] = {
    "ttStartExecFunction", "ttEndExecFunction", "ttMessage", "ttError",
    "ttSetProperty",       "ttGetProperty",     "ttCreate",  "ttDestroy",
};

const std::string Indent1 = " ";

// "0x" and the calling thread's id; asking the kernel once per thread keeps a system call
// out of every record.
const std::string& ThreadIDText() {
    thread_local const std::string text = "0x" + IntToHex(CurrentThreadID(), 4);
    return text;
}

}  // namespace

std::string TraceTypeToString(TKXLogerTraceType TraceType) {
    const size_t index = static_cast<size_t>(TraceType);
    if (index >= std::size(TraceTypeNames)) {
        throw EKXPluginLoger(Format("Wrong TraceType %d on TraceTypeToString", static_cast<int>(TraceType)));
    }
    return std::string(TraceTypeNames[index] + 2);
}

// ---- TPluginICTracer ----

TPluginICTracer::~TPluginICTracer() {
    // A file created while draining must still get the full header.
    Shutdown();
}

std::string TPluginICTracer::GetHeader() {
    std::string text = TICTracer::GetHeader();
    text += "  Host Name:    " + ComputerName() + LineEnd;
    text += "  OS Version:   " + OSDescription() + LineEnd;
    return text;
}

// ---- TKXPluginLogerBase ----

TKXPluginLogerBase::TKXPluginLogerBase() {
    // A constructor dispatches to the class being built: this is always our own tracer.
    FTracer = CreateTracer();
    if (FTracer) {
        FTracer->SetErrorAction(1);
        FTracer->SetSynchronous(true);
        FTracer->SetDeactivateOnError(true);
    }
}

TKXPluginLogerBase::~TKXPluginLogerBase() { FTracer.reset(); }

std::unique_ptr<TICTracer> TKXPluginLogerBase::CreateTracer() {
    return std::make_unique<TPluginICTracer>("KexoPluginTracer", std::to_string(ProgramModuleHandle()));
}

bool TKXPluginLogerBase::IsActive() {
    if (!FTracer) return false;
    if (!Opened()) Open();
    return Opened() && FTracer->Active();
}

void TKXPluginLogerBase::Open() {
    if (Opened()) return;
    // Two threads making their first report at once open the log once.
    TKXLockGuard hold(*this);
    if (Opened()) return;
    struct TMarkOpened {
        std::atomic<bool>& Flag;
        ~TMarkOpened() { Flag.store(true, std::memory_order_release); }
    } mark{FOpened};
    if (!FTracer || FTracer->Active()) return;
    std::string name = GetLogFileName();
    if (name.empty()) return;
    SetTracerFileName(name);
    FTracer->SetActive(true);
}

std::string TKXPluginLogerBase::IniFileNameFor(const std::string& ProgramFile) {
    std::string program = ProgramFile;
    if (StartsText("\\\\?\\", program)) program.erase(0, 4);
    std::string beside = ChangeFileExt(program, ".ini");
    if (FileExists(beside)) return beside;
    std::string folder = IncludeTrailingPathDelimiter(ExpandPathVars(PluginIniFolder));
    return NormalizePath(folder + ExtractFileName(beside));
}

std::string TKXPluginLogerBase::GetIniFileName() {
    static const std::string name = IniFileNameFor(ExeFileName());
    return name;
}

std::string TKXPluginLogerBase::GetIniSection() { return "Log"; }

std::string TKXPluginLogerBase::GetIniKey() { return "FileName"; }

std::string TKXPluginLogerBase::GetLogFileName() {
    try {
        std::string ini = GetIniFileName();
        if (!FileExists(ini)) return {};
        return IniReadString(ini, GetIniSection(), GetIniKey(), "");
    } catch (...) {
        return {};
    }
}

void TKXPluginLogerBase::SetTracerFileName(const std::string& Name) {
    if (Name.empty() || !FTracer || FTracer->Active()) return;
    // Variables are replaced here, once: the file is decided once per run, not by date.
    FTracer->SetFileName(NormalizePath(ExpandPathVars(Name)));
}

std::string TKXPluginLogerBase::TracerFileName() const { return FTracer ? FTracer->FileName() : std::string(); }

std::string TKXPluginLogerBase::GetObjectText(const TObject* Obj) {
    if (!Obj) return {};
    return Obj->ClassName() + "(0x" + IntToHex(reinterpret_cast<uintptr_t>(Obj), 4) + ")";
}

namespace {
// The ObjectInfo value for an object text ("" without an object).
std::string ObjectParamOf(const std::string& objectText) {
    return objectText.empty() ? std::string() : "Object=\"" + objectText + "\"";
}
}  // namespace

std::string TKXPluginLogerBase::GetObjectParam(const TObject* Obj) { return ObjectParamOf(GetObjectText(Obj)); }

std::string TKXPluginLogerBase::FormatArgValue(const TVarRec& V) {
    switch (V.VType()) {
        case TVarRec::vtObject:
            return GetObjectParam(V.AsObject());
        case TVarRec::vtPointer:
            try {
                // Only an address whose object the caller named counts as a live object:
                // arbitrary memory cannot be examined safely.
                if (V.AsObject()) return GetObjectParam(V.AsObject());
                return "Pointer(" + IntToHex(reinterpret_cast<uintptr_t>(V.AsPointer()), 8) + ")";
            } catch (...) {
                return {};
            }
        default:
            return ValueToText(V);
    }
}

std::string TKXPluginLogerBase::FormatParams(const TKXNames& Names, const TKXValues& Values) {
    std::string out;
    const size_t count = std::max(Names.size(), Values.size());
    for (size_t i = 0; i < count; ++i) {
        std::string name = i < Names.size() ? Names[i] : "Param" + std::to_string(i + 1);
        std::string value = i < Values.size() ? FormatArgValue(Values[i]) : std::string();
        out += TICTracer::FormatValue(name, value, Indent1);
        out += LineEnd;
    }
    return out;
}

TKXPluginLogerBase::TRecord TKXPluginLogerBase::BuildRecord(const TObject* Sender, TKXLogerTraceType TraceType,
                                                            const std::string& Text, const TKXNames& Names,
                                                            const TKXValues& Values) {
    const std::string objectText = GetObjectText(Sender);

    std::string typeText;
    switch (TraceType) {
        case ttStartExecFunction:
        case ttEndExecFunction:
        case ttSetProperty:
        case ttGetProperty:
            typeText = TraceTypeToString(TraceType) + " " + Text;
            break;
        case ttMessage:
        case ttError:
            typeText = TraceTypeToString(TraceType);
            break;
        case ttCreate:
        case ttDestroy:
            typeText = TraceTypeToString(TraceType);
            // Without a sender there is no class to name.
            if (Sender) typeText += " " + Sender->ClassName();
            break;
        default:
            break;
    }

    TRecord r;
    std::string& body = r.Body;
    switch (TraceType) {
        case ttEndExecFunction:
        case ttGetProperty:
            if (!Values.empty()) body += TICTracer::FormatValue("Result", FormatArgValue(Values[0]), {}) + LineEnd;
            break;
        case ttSetProperty:
            if (!Values.empty()) body += TICTracer::FormatValue("Value", FormatArgValue(Values[0]), {}) + LineEnd;
            break;
        case ttMessage:
        case ttError:
            if (!Text.empty()) body += TICTracer::FormatValue("Value", Text, {}) + LineEnd;
            break;
        default:
            break;
    }
    switch (TraceType) {
        case ttStartExecFunction:
        case ttMessage:
        case ttError:
        case ttCreate: {
            std::string params = FormatParams(Names, Values);
            if (!params.empty()) body += TICTracer::FormatValue("Params", params, Indent1);
            break;
        }
        default:
            break;
    }

    std::string& head = r.Head;
    head = TICTracer::FormatTime(Now());
    if (!objectText.empty()) head += TICTracer::FormatPart(TraceID, objectText);
    head += TICTracer::FormatPart(ThreadID, ThreadIDText());
    head += TICTracer::FormatPart(DataID, typeText);
    head += TICTracer::FormatPart(ObjectInfo, ObjectParamOf(objectText));
    if (!body.empty()) head += std::to_string(body.size());
    head += LineEnd;
    return r;
}

void TKXPluginLogerBase::Trace(const TObject* Sender, TKXLogerTraceType TraceType, const std::string& Text,
                               const TKXNames& Names, const TKXValues& Values) {
    if (!IsActive()) return;
    TRecord r = BuildRecord(Sender, TraceType, Text, Names, Values);
    FTracer->WriteEntry(r.Head, r.Body.data(), static_cast<int64_t>(r.Body.size()));
}

void TKXPluginLogerBase::TraceMessage(const TObject* Sender, const std::string& Text) {
    if (IsActive()) Trace(Sender, ttMessage, Text, {}, {});
}

void TKXPluginLogerBase::TraceMessage(const TObject* Sender, const std::string& Text, const TKXNames& Names,
                                      const TKXValues& Values) {
    if (IsActive()) Trace(Sender, ttMessage, Text, Names, Values);
}

void TKXPluginLogerBase::TraceError(const TObject* Sender, const std::string& Text) {
    if (IsActive()) Trace(Sender, ttError, Text, {}, {});
}

void TKXPluginLogerBase::TraceError(const TObject* Sender, const std::string& Text, const TKXNames& Names,
                                    const TKXValues& Values) {
    if (IsActive()) Trace(Sender, ttError, Text, Names, Values);
}

void TKXPluginLogerBase::TraceStart(const TObject* Sender, const std::string& Text) {
    if (IsActive()) Trace(Sender, ttStartExecFunction, Text, {}, {});
}

void TKXPluginLogerBase::TraceStart(const TObject* Sender, const std::string& Text, const TKXNames& Names,
                                    const TKXValues& Values) {
    if (IsActive()) Trace(Sender, ttStartExecFunction, Text, Names, Values);
}

void TKXPluginLogerBase::TraceResult(const TObject* Sender, const std::string& Text, const TVarRec& Value) {
    if (IsActive()) Trace(Sender, ttEndExecFunction, Text, {}, {Value});
}
