#pragma once
// The logger core specialised for trace files: the identity of the program, the header
// record at the top of every new file, whole entry records handed to the core in one
// piece, the two text formatters of the entry layout, and the error log in the user's
// temporary folder that records every batch which failed all its write attempts.

#include <functional>
#include <string>

#include "log/KXLoger_v20_2.h"

// Labels of the header and entry records.
inline constexpr const char* VersionInfo = "VersionInfo";
inline constexpr const char* TraceID = "TraceID";
inline constexpr const char* DataID = "DataID";
inline constexpr const char* LabelSeparator = ": ";

class TICTracer;
using TICTracerTextEvent = std::function<void(TICTracer* Sender, std::string& Text)>;

class TICTracer : public TKXLoger {
public:
    TICTracer(const std::string& ALogType, const std::string& AHeaderID);
    ~TICTracer() override;

    // Installed as OnNewFile: writes the header record to a newly created file.
    virtual void WriteHeader(TKXLoger* Sender, TFileStream& Stream);
    virtual std::string GetHeader();
    // A generic head builder: time stamp, optional TraceID part, DataID part and size.
    virtual std::string FormatEntryHead(const std::string& TraceIDText, const std::string& DataIDText, int Size);

    // Hands one entry record to the core: Head, then Length bytes of Data and CR LF.
    void WriteEntry(const std::string& Head, const void* Data, int64_t Length);

    // "[yyyy.mm.dd hh:nn:ss:zzz]"
    static std::string FormatTime(TDateTime Moment);
    // Name ": " Value, or the counted form Name ":#" <indent length> "\" <byte length>
    // CR LF <indented value> for a value of several lines.
    static std::string FormatValue(const std::string& Name, const std::string& Value, const std::string& Indent);
    // A bracketed part of a head line: "[" Label ": " Value "]".
    static std::string FormatPart(const std::string& Label, const std::string& Value);

    // Installed as OnError: one line in the error log.
    void WriteErrorLog(TKXLoger* Sender, const std::exception& E);
    // The error log of this tracer class, path variables expanded.
    std::string ErrorLogFileName() const;

    const std::string& LogType() const { return FLogType; }
    const std::string& HeaderID() const { return FHeaderID; }
    const std::string& Version() const { return FVersion; }
    const std::string& FullName() const { return FFullName; }
    const std::string& BuildTime() const { return FBuildTime; }
    void SetOnGetHeader(TICTracerTextEvent Event) { FOnGetHeader = std::move(Event); }
    void SetOnGetTraceID(TICTracerTextEvent Event) { FOnGetTraceID = std::move(Event); }

private:
    std::string FLogType;
    std::string FHeaderID;
    std::string FVersion;
    std::string FFullName;
    std::string FBuildTime;
    TICTracerTextEvent FOnGetHeader;
    TICTracerTextEvent FOnGetTraceID;
};
