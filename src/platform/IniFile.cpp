#include "platform/IniFile.h"

#include "platform/Files.h"

namespace {

// A line break in a name or value would write lines of its own into the file: a value taken
// from a request could open a section or set a key that nobody wrote.
void CheckSingleLine(const char* what, std::string_view text) {
    if (text.find_first_of("\r\n") != std::string_view::npos)
        throw EIniFileError(std::string("Ini ") + what + " holds a line break: \"" + std::string(text) + "\"");
}

// Reading takes a matching pair of quotes off a value and trims blanks at its ends; a value
// that this would change is kept in a pair of double quotes, so that it reads back as written.
std::string StoredValue(std::string_view value) {
    bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (quoted || Trim(value).size() != value.size()) return "\"" + std::string(value) + "\"";
    return std::string(value);
}

}  // namespace

TMemIniFile::TMemIniFile(std::string fileName) : FFileName(NormalizePath(fileName)) { Load(); }

void TMemIniFile::Load() {
    FSections.clear();
    FPreamble.clear();
    std::string text;
    try {
        if (!FileExists(FFileName)) return;
        text = ReadWholeFile(FFileName);
    } catch (const std::exception&) {
        return;  // unreadable: as if empty
    }
    // A UTF-8 byte order mark is not part of the first line.
    if (std::string_view(text).substr(0, UTF8BOM.size()) == UTF8BOM) text.erase(0, UTF8BOM.size());
    Section* current = nullptr;
    for (const std::string& raw : SplitLines(text)) {
        std::string line = Trim(raw);
        if (line.empty()) continue;  // blank lines are rewritten as section separators
        if (line.front() == '[') {
            // "[Name]", also with a comment after it, which stays with the section line.
            auto close = line.find(']');
            bool plain = line.back() == ']';
            std::string rest = close == std::string::npos ? std::string() : Trim(std::string_view(line).substr(close + 1));
            bool commented = !plain && !rest.empty() && (rest[0] == ';' || rest[0] == '#');
            if (plain || commented) {
                std::string name = Trim(std::string_view(line).substr(1, (plain ? line.size() - 1 : close) - 1));
                current = FindSection(name);
                if (!current) {
                    FSections.push_back(Section{name, {}, commented ? line : std::string()});
                    current = &FSections.back();
                }
                continue;
            }
        }
        auto eq = line.find('=');
        bool comment = line[0] == ';' || line[0] == '#';
        if (!current) {
            FPreamble.push_back(raw);
            continue;
        }
        std::string key = eq == std::string::npos ? std::string() : TrimRight(std::string_view(line).substr(0, eq));
        if (comment || key.empty()) {
            current->lines.push_back(Line{"", raw});
            continue;
        }
        std::string value = TrimLeft(std::string_view(line).substr(eq + 1));
        // The first occurrence of a key wins on reading; later duplicates are kept as they are.
        bool dup = false;
        for (const auto& l : current->lines)
            if (!l.key.empty() && SameText(l.key, key)) dup = true;
        if (dup)
            current->lines.push_back(Line{"", raw});
        else
            current->lines.push_back(Line{key, value});
    }
}

const TMemIniFile::Section* TMemIniFile::FindSection(std::string_view name) const {
    for (const auto& s : FSections)
        if (SameText(s.name, name)) return &s;
    return nullptr;
}

TMemIniFile::Section* TMemIniFile::FindSection(std::string_view name) {
    for (auto& s : FSections)
        if (SameText(s.name, name)) return &s;
    return nullptr;
}

const TMemIniFile::Line* TMemIniFile::FindKey(std::string_view section, std::string_view key) const {
    const Section* s = FindSection(section);
    if (!s) return nullptr;
    for (const auto& l : s->lines)
        if (!l.key.empty() && SameText(l.key, key)) return &l;
    return nullptr;
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    const Line* l = FindKey(section, key);
    if (!l) return std::string(def);
    const std::string& v = l->value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

int TMemIniFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    std::string v = Trim(ReadString(section, key, ""));
    if (v.empty()) return def;
    int result = 0;
    if (TryStrToInt(v, result)) return result;
    // Hexadecimal in the classic "$1F" / "0x1F" forms is a valid integer too.
    std::string_view hex;
    if (v.size() > 1 && v[0] == '$') hex = std::string_view(v).substr(1);
    else if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) hex = std::string_view(v).substr(2);
    if (hex.empty() || hex.size() > 8) return def;
    uint32_t acc = 0;
    for (char c : hex) {
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (d < 0) return def;
        acc = acc * 16 + static_cast<uint32_t>(d);
    }
    return static_cast<int>(acc);
}

bool TMemIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    std::string v = ReadString(section, key, "");
    if (v.empty()) return def;
    return v[0] == '1';
}

void TMemIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    CheckSingleLine("section", section);
    CheckSingleLine("key", key);
    CheckSingleLine("value", value);
    const std::string stored = StoredValue(value);
    Section* s = FindSection(section);
    if (!s) {
        FSections.push_back(Section{std::string(section), {}, {}});
        s = &FSections.back();
    }
    for (auto& l : s->lines) {
        if (!l.key.empty() && SameText(l.key, key)) {
            l.value = stored;
            return;
        }
    }
    s->lines.push_back(Line{std::string(key), stored});
}

void TMemIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TMemIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TMemIniFile::SectionExists(std::string_view section) const { return FindSection(section) != nullptr; }

bool TMemIniFile::ValueExists(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != nullptr;
}

void TMemIniFile::ReadSections(TStringList& out) const {
    out.Clear();
    for (const auto& s : FSections) out.Add(s.name);
}

void TMemIniFile::ReadSection(std::string_view section, TStringList& keys) const {
    keys.Clear();
    if (const Section* s = FindSection(section))
        for (const auto& l : s->lines)
            if (!l.key.empty()) keys.Add(l.key);
}

void TMemIniFile::EraseSection(std::string_view section) {
    for (auto it = FSections.begin(); it != FSections.end(); ++it) {
        if (SameText(it->name, section)) {
            FSections.erase(it);
            return;
        }
    }
}

void TMemIniFile::DeleteKey(std::string_view section, std::string_view key) {
    Section* s = FindSection(section);
    if (!s) return;
    for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
        if (!it->key.empty() && SameText(it->key, key)) {
            s->lines.erase(it);
            return;
        }
    }
}

void TMemIniFile::Clear() {
    FSections.clear();
    FPreamble.clear();
}

std::string TMemIniFile::ContentText() const {
    std::string out;
    for (const auto& p : FPreamble) out += p + CRLF;
    if (!FPreamble.empty() && !FSections.empty()) out += CRLF;
    for (size_t i = 0; i < FSections.size(); ++i) {
        if (i) out += CRLF;
        out += (FSections[i].header.empty() ? "[" + FSections[i].name + "]" : FSections[i].header) + CRLF;
        for (const auto& l : FSections[i].lines) {
            if (l.key.empty())
                out += l.value + CRLF;
            else
                out += l.key + "=" + l.value + CRLF;
        }
    }
    return out;
}

void TMemIniFile::UpdateFile() const {
    std::string dir = ExtractFileDir(FFileName);
    if (!dir.empty() && !ForceDirectories(dir))
        throw EIniFileError("Cannot create folder \"" + dir + "\": " + SysErrorMessage(errno));
    try {
        WriteFileAtomic(FFileName, ContentText());
    } catch (const EFileError& e) {
        throw EIniFileError(e.Message());
    }
}
