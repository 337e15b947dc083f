#pragma once
// An ini file loaded once and kept in memory. Sections and keys match without regard to
// case; unknown sections and keys keep their place when the file is written back.
// UpdateFile replaces the file atomically (temporary file in the same folder, then rename)
// and creates the folder when it is missing.

#include <string>
#include <vector>

#include "platform/Object.h"
#include "platform/Strings.h"

class EIniFileError : public Exception {
public:
    using Exception::Exception;
};

class TMemIniFile : public TObject {
public:
    // Loads the file when it exists; a missing or unreadable file gives an empty content.
    explicit TMemIniFile(std::string fileName);

    const std::string& FileName() const { return FFileName; }

    // A value enclosed in a matching pair of double or single quotes is read without them.
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // Missing, empty or not a decimal 32-bit integer: def.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;
    // Empty or missing: def; otherwise true exactly when the first character is '1'.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    // Raises EIniFileError, changing nothing, for a line break in the section, key or value.
    // A value that reading would change (enclosed in quotes, blanks at its ends) is stored
    // in a pair of double quotes, so that it reads back as written.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int value);
    void WriteBool(std::string_view section, std::string_view key, bool value);  // "1" / "0"

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    void ReadSections(TStringList& out) const;
    void ReadSection(std::string_view section, TStringList& keys) const;
    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);
    void Clear();

    // The whole content as file text (sections separated by an empty line, CR LF).
    std::string ContentText() const;
    // Writes the content to the file; raises EIniFileError when the folder cannot be
    // created or the file cannot be written. The file is never left half-written.
    void UpdateFile() const;

private:
    struct Line {
        std::string key;    // empty for a comment or other line kept as is
        std::string value;  // or the raw line when key is empty
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
        std::string header;  // the section line as read when a comment follows the name
    };
    const Section* FindSection(std::string_view name) const;
    Section* FindSection(std::string_view name);
    const Line* FindKey(std::string_view section, std::string_view key) const;
    void Load();

    std::string FFileName;
    std::vector<Section> FSections;
    std::vector<std::string> FPreamble;  // lines before the first section
};
