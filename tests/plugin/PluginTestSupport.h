#pragma once
// Helpers of the plugin bridge tests: the host log of the test program switched on into a
// temporary file and read back entry by entry, and the plugin installed under its real
// name in a folder the library manager searches.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "log/LogRecords.h"
#include "log/U_LogFile.h"
#include "platform/Files.h"
#include "support/TempDir.h"
#include "support/TestEnvironment.h"

// One entry record of the host log.
struct TLogEntry {
    std::string Head;
    std::string Body;

    bool Has(const std::string& part) const { return Head.find(part) != std::string::npos; }
    bool IsError() const { return Has("[DataID: Error]"); }
    // The one-line "Value: " of a message or error entry.
    std::string Value() const {
        static const std::string label = "Value: ";
        if (Body.compare(0, label.size(), label) != 0) return {};
        return Body.substr(label.size(), Body.find("\r\n") - label.size());
    }
    // The class named by the TraceID part ("" without a sender).
    std::string SenderClass() const {
        static const std::string label = "[TraceID: ";
        size_t at = Head.find(label);
        if (at == std::string::npos) return {};
        at += label.size();
        return Head.substr(at, Head.find('(', at) - at);
    }
};

// The host log of this program, on from the first use to the end of the program; each
// capture sees only the entries written after it was made.
class THostLogCapture {
public:
    THostLogCapture() : FStart(std::max<int64_t>(0, FileSize(File()))) {}

    static const std::string& File() {
        static const std::string file = [] {
            // No host ini file of the machine's own may switch the log elsewhere.
            ProcessAppData();
            static TTempDir dir;
            std::string name = dir.File("host.log");
            THostLoger* log = GetHostLog();
            log->SetTracerFileName(name);
            log->Tracer()->SetActive(true);
            // The file and its header record exist before the first capture starts counting.
            HostLog(nullptr, "Plugin bridge tests");
            return name;
        }();
        return file;
    }

    std::vector<TLogEntry> Entries() const {
        std::string text = ReadWholeFile(File());
        std::vector<std::string> records, bodies;
        std::string error;
        ParseLogRecords(text, static_cast<size_t>(FStart), records, bodies, error);
        std::vector<TLogEntry> out;
        for (size_t i = 0; i < records.size(); ++i)
            out.push_back(TLogEntry{records[i].substr(0, records[i].find("\r\n")), bodies[i]});
        return out;
    }

    // The values of the message and error entries, in order.
    std::vector<std::string> Values() const {
        std::vector<std::string> out;
        for (const TLogEntry& e : Entries())
            if (e.Has("[DataID: Message]") || e.IsError()) out.push_back(e.Value());
        return out;
    }

    // The first entry whose value is `value`; none when absent.
    const TLogEntry* Find(const std::vector<TLogEntry>& entries, const std::string& value) const {
        for (const TLogEntry& e : entries)
            if (e.Value() == value) return &e;
        return nullptr;
    }

private:
    int64_t FStart;
};

// A folder holding one library under the plugin's file name, copied from `source`. A fresh
// folder per copy: the loader keeps a library it has mapped, and a new path is a new file.
class TInstalledPlugin {
public:
    TInstalledPlugin(const std::string& source, const std::string& fileName) {
        FPath = FDir.File(fileName);
        std::filesystem::copy_file(source, FPath);
    }
    const std::string& Folder() const { return FDir.Path(); }
    const std::string& Path() const { return FPath; }

private:
    TTempDir FDir;
    std::string FPath;
};
