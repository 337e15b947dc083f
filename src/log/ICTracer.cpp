#include "log/ICTracer.h"

#include "platform/Strings.h"
#include "system/KXSysTools_v20_2.h"

TICTracer::TICTracer(const std::string& ALogType, const std::string& AHeaderID)
    : FLogType(ALogType), FHeaderID(AHeaderID) {
    // Dispatched on the actual class when a file is created, so a derived header is used.
    SetOnNewFile([this](TKXLoger* Sender, TFileStream& Stream) { WriteHeader(Sender, Stream); });
    FFullName = ExeFileName();
    if (StartsText("\\\\?\\", FFullName)) FFullName.erase(0, 4);
    FVersion = GetFileVersion(FFullName);
    FBuildTime = FormatDateTime("yyyy.mm.dd hh:nn:ss", FileDate(FFullName));
    SetOnError([this](TKXLoger* Sender, const std::exception& E) { WriteErrorLog(Sender, E); });
}

TICTracer::~TICTracer() {
    // The handlers point at this object: drain while it is still whole.
    Shutdown();
}

std::string TICTracer::GetHeader() {
    std::string text;
    text += FLogType + ":" + LineEnd;
    text += "  LogType:      " + FLogType + LineEnd;
    text += "  Full name:    " + FFullName + LineEnd;
    text += "  Version:      " + FVersion + LineEnd;
    text += "  Build time:   " + FBuildTime + LineEnd;
    text += "  ID:           " + FHeaderID + LineEnd;
    return text;
}

void TICTracer::WriteHeader(TKXLoger* Sender, TFileStream& Stream) {
    std::string text;
    if (FOnGetHeader) FOnGetHeader(this, text);
    else text = GetHeader();
    std::string record = FormatTime(Now()) + VersionInfo + "\\" + std::to_string(text.size()) + LineEnd;
    record += text;
    Stream.Write(record);
}

std::string TICTracer::FormatPart(const std::string& Label, const std::string& Value) {
    std::string part;
    part.reserve(Label.size() + Value.size() + 4);
    part += '[';
    part += Label;
    part += LabelSeparator;
    part += Value;
    part += ']';
    return part;
}

std::string TICTracer::FormatEntryHead(const std::string& TraceIDText, const std::string& DataIDText, int Size) {
    std::string head = FormatTime(Now());
    if (!TraceIDText.empty()) {
        head += FormatPart(TraceID, TraceIDText);
    } else if (FOnGetTraceID) {
        std::string text;
        FOnGetTraceID(this, text);
        head += FormatPart(TraceID, text);
    }
    if (!DataIDText.empty()) {
        if (Size > 0) head += FormatPart(DataID, DataIDText) + std::to_string(Size) + LineEnd;
        else head += DataIDText + LineEnd;
    } else {
        if (Size > 0) head += std::to_string(Size);
        head += LineEnd;
    }
    return head;
}

void TICTracer::WriteEntry(const std::string& Head, const void* Data, int64_t Length) {
    if (!Active()) return;
    TKXLockGuard hold(*this);
    // A final failure of the previous record may have switched the log off meanwhile.
    if (!Active()) return;
    WriteBuffer(Head.data(), static_cast<int64_t>(Head.size()));
    if (Length > 0) {
        WriteBuffer(Data, Length);
        WriteBuffer(LineEnd, 2);
    }
    if (Synchronous()) Writer()->Flush();
}

std::string TICTracer::FormatTime(TDateTime Moment) {
    return FormatDateTime("[yyyy.mm.dd hh:nn:ss:zzz]", Moment);
}

std::string TICTracer::FormatValue(const std::string& Name, const std::string& Value, const std::string& Indent) {
    if (Value.find(LineEnd) == std::string::npos) return Name + ": " + Value;
    std::string indented = PrefixLines(Value, Indent, LineEnd);
    return Name + ":#" + std::to_string(Indent.size()) + "\\" + std::to_string(indented.size()) + LineEnd + indented;
}

std::string TICTracer::ErrorLogFileName() const {
    return ExpandPathVars("%Temp%\\Kexo\\" + ClassName() + "\\Error.log");
}

void TICTracer::WriteErrorLog(TKXLoger* Sender, const std::exception& E) {
    try {
        std::string path = ErrorLogFileName();
        if (!ForceDirectories(ExtractFileDir(path))) return;
        AppendLineToFile(path, FormatTime(Now()) + "->Error write to file \"" + CurrentFileName() + "\" : " +
                                   ExceptionMessage(E));
    } catch (...) {
        // The error log is the last resort: a failure here has nowhere left to go.
    }
}
