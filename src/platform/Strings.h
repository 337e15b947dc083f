#pragma once
// Text helpers and the string list. Strings hold bytes (UTF-8 text); case-insensitive
// comparisons fold the ASCII letters A-Z only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Object.h"

inline constexpr const char* CRLF = "\r\n";
// The UTF-8 byte order mark.
inline constexpr std::string_view UTF8BOM{"\xEF\xBB\xBF", 3};

std::string UpperCase(std::string_view s);  // A-Z only
std::string LowerCase(std::string_view s);  // a-z only
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);
// Removes characters with codes 0..32 at both ends (and only at one end for the L/R forms).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
bool StartsText(std::string_view prefix, std::string_view s);  // without regard to case
bool EndsText(std::string_view suffix, std::string_view s);
// Position (0-based) of sub in s at or after from, without regard to case; npos if none.
size_t FindText(std::string_view s, std::string_view sub, size_t from = 0);

std::string IntToStr(int64_t value);
// Upper-case hexadecimal with at least `digits` digits.
std::string IntToHex(uint64_t value, int digits);
// Whole-text decimal integer (optional sign, surrounding blanks rejected); def when not an int32.
int StrToIntDef(std::string_view s, int def);
bool TryStrToInt(std::string_view s, int& value);
bool TryStrToInt64(std::string_view s, int64_t& value);

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Splits on CR LF, LF or CR; a final line break does not give an empty last line.
std::vector<std::string> SplitLines(std::string_view text);
// Replaces every occurrence of `from` (non-empty) by `to`.
std::string ReplaceAll(std::string s, std::string_view from, std::string_view to);

// A list of strings in insertion order; duplicates allowed; IndexOf and the name=value
// look-ups compare without regard to case.
class TStringList : public TObject {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    const std::string& operator[](int index) const { return FItems.at(static_cast<size_t>(index)); }
    const std::string& Strings(int index) const { return (*this)[index]; }
    void SetString(int index, std::string value) { FItems.at(static_cast<size_t>(index)) = std::move(value); }

    int Add(std::string s);
    void Insert(int index, std::string s);
    void Delete(int index);
    void Clear() { FItems.clear(); }
    void Assign(const TStringList& other) { FItems = other.FItems; }
    void AddStrings(const TStringList& other);
    int IndexOf(std::string_view s) const;  // -1 when absent

    // name=value access: the name is the text before the first '='.
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;
    int IndexOfName(std::string_view name) const;
    std::string Values(std::string_view name) const;
    // Sets the value of `name`; an empty value deletes the line, as the classic list does.
    void SetValue(std::string_view name, std::string_view value);

    // Every line followed by CR LF.
    std::string Text() const;
    // Replaces the lines by the lines of `text` (CR LF, LF or CR).
    void SetText(std::string_view text);

    char Delimiter() const { return FDelimiter; }
    void SetDelimiter(char c) { FDelimiter = c; }
    char QuoteChar() const { return FQuoteChar; }
    void SetQuoteChar(char c) { FQuoteChar = c; }

    // Entries joined by the delimiter; an entry holding a character with code 0..32, the
    // quote character or the delimiter is quoted with its quote characters doubled. One
    // empty entry gives two quote characters; no entries give the empty text.
    std::string DelimitedText() const;
    // Clears the list, then splits: blanks (codes 0..32) around items are skipped and end
    // an unquoted item, as does the delimiter; a quoted item runs to its closing quote with
    // a doubled quote standing for one; two delimiters in a row give an empty entry, and a
    // delimiter at the end gives a final empty entry.
    void SetDelimitedText(std::string_view text);

    const std::vector<std::string>& Items() const { return FItems; }
    std::vector<std::string>::const_iterator begin() const { return FItems.begin(); }
    std::vector<std::string>::const_iterator end() const { return FItems.end(); }

private:
    std::vector<std::string> FItems;
    char FDelimiter = ',';
    char FQuoteChar = '"';
};
