#pragma once
// Reads a log file back into its parts: byte order mark, header record and whole entry
// records. Anything that does not fit the layout is reported, so a torn or interleaved
// record fails the test that reads it.

#include <regex>
#include <string>
#include <vector>

struct TLogFileParts {
    bool Valid = false;
    std::string Error;           // what did not fit, when not Valid
    std::string HeaderLine;      // "[time]VersionInfo\<n>" without CR LF
    std::string HeaderText;      // the n bytes after it
    std::string Rest;            // everything after the header record
    std::vector<std::string> Records;  // each whole: head line, CR LF, [body, CR LF]
    std::vector<std::string> Bodies;   // the counted body of each record ("" when none)
};

// Reads whole entry records from `pos` to the end of `bytes`, each with its counted body.
// False, with the reason in `error`, at the first thing that does not fit the layout; the
// records before it are kept.
inline bool ParseLogRecords(const std::string& bytes, size_t pos, std::vector<std::string>& records,
                            std::vector<std::string>& bodies, std::string& error) {
    auto fail = [&](std::string why, size_t at) {
        error = why + " at byte " + std::to_string(at);
        return false;
    };
    while (pos < bytes.size()) {
        size_t start = pos;
        size_t eol = bytes.find("\r\n", pos);
        if (eol == std::string::npos) return fail("unterminated head line", pos);
        std::string head = bytes.substr(pos, eol - pos);
        if (head.size() < 25 || head[0] != '[' || head[24] != ']') return fail("head without time stamp", pos);
        size_t lastBracket = head.rfind(']');
        std::string digits = head.substr(lastBracket + 1);
        if (digits.find_first_not_of("0123456789") != std::string::npos) return fail("bad size", pos);
        pos = eol + 2;
        std::string body;
        if (!digits.empty()) {
            size_t size = std::stoul(digits);
            if (pos + size + 2 > bytes.size()) return fail("short body", pos);
            body = bytes.substr(pos, size);
            pos += size;
            if (bytes.compare(pos, 2, "\r\n") != 0) return fail("no empty line after body", pos);
            pos += 2;
        }
        records.push_back(bytes.substr(start, pos - start));
        bodies.push_back(body);
    }
    return true;
}

// parseRecords false: stop after the header record (entries of a free form).
inline TLogFileParts ParseLogFile(const std::string& bytes, bool parseRecords = true) {
    TLogFileParts out;
    auto fail = [&](std::string why, size_t at) {
        out.Error = why + " at byte " + std::to_string(at);
        return out;
    };
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) return fail("no byte order mark", 0);
    size_t pos = 3;
    size_t eol = bytes.find("\r\n", pos);
    if (eol == std::string::npos) return fail("no header line", pos);
    out.HeaderLine = bytes.substr(pos, eol - pos);
    static const std::regex headerLine(R"(^\[\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3}\]VersionInfo\\(\d+)$)");
    std::smatch m;
    if (!std::regex_match(out.HeaderLine, m, headerLine)) return fail("bad header line", pos);
    size_t headerSize = std::stoul(m[1].str());
    pos = eol + 2;
    if (pos + headerSize > bytes.size()) return fail("short header", pos);
    out.HeaderText = bytes.substr(pos, headerSize);
    pos += headerSize;
    out.Rest = bytes.substr(pos);
    if (!parseRecords) {
        out.Valid = true;
        return out;
    }

    if (!ParseLogRecords(bytes, pos, out.Records, out.Bodies, out.Error)) return out;
    out.Valid = true;
    return out;
}

// Replaces what differs from run to run: time stamps, thread ids and object addresses.
inline std::string NormalizeLogText(const std::string& text) {
    static const std::regex time(R"(\[\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3}\])");
    static const std::regex thread(R"(ThreadID: 0x[0-9A-F]{4,})");
    static const std::regex address(R"(\(0x[0-9A-F]{4,}\))");
    std::string s = std::regex_replace(text, time, "[TIME]");
    s = std::regex_replace(s, thread, "ThreadID: 0xTHREAD");
    return std::regex_replace(s, address, "(0xADDR)");
}

// The records of a file, all joined, or the parse error.
inline std::string RecordsText(const std::string& bytes) {
    TLogFileParts parts = ParseLogFile(bytes);
    if (!parts.Valid) return "<" + parts.Error + ">";
    std::string all;
    for (const auto& r : parts.Records) all += r;
    return all;
}
