#include "platform/Strings.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {
inline char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
inline char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::string UpperCase(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = UpperChar(c);
    return r;
}

std::string LowerCase(std::string_view s) {
    std::string r(s);
    for (auto& c : r) c = LowerChar(c);
    return r;
}

int CompareText(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(UpperChar(a[i]));
        unsigned char y = static_cast<unsigned char>(UpperChar(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

std::string TrimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && IsBlank(s[n - 1])) --n;
    return std::string(s.substr(0, n));
}

std::string Trim(std::string_view s) {
    size_t i = 0, n = s.size();
    while (i < n && IsBlank(s[i])) ++i;
    while (n > i && IsBlank(s[n - 1])) --n;
    return std::string(s.substr(i, n - i));
}

bool StartsText(std::string_view prefix, std::string_view s) {
    return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

bool EndsText(std::string_view suffix, std::string_view s) {
    return s.size() >= suffix.size() && SameText(s.substr(s.size() - suffix.size()), suffix);
}

size_t FindText(std::string_view s, std::string_view sub, size_t from) {
    if (sub.empty()) return from <= s.size() ? from : std::string_view::npos;
    if (s.size() < sub.size()) return std::string_view::npos;
    for (size_t i = from; i + sub.size() <= s.size(); ++i) {
        if (SameText(s.substr(i, sub.size()), sub)) return i;
    }
    return std::string_view::npos;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", digits < 0 ? 0 : (digits > 16 ? 16 : digits),
                  static_cast<unsigned long long>(value));
    return buf;
}

bool TryStrToInt64(std::string_view s, int64_t& value) {
    if (s.empty()) return false;
    size_t i = 0;
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        i = 1;
    }
    if (i >= s.size()) return false;
    uint64_t acc = 0;
    const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    for (; i < s.size(); ++i) {
        char c = s[i];
        if (c < '0' || c > '9') return false;
        unsigned d = static_cast<unsigned>(c - '0');
        if (acc > (limit - d) / 10) return false;
        acc = acc * 10 + d;
    }
    value = negative ? static_cast<int64_t>(0 - acc) : static_cast<int64_t>(acc);
    return true;
}

bool TryStrToInt(std::string_view s, int& value) {
    int64_t v = 0;
    if (!TryStrToInt64(s, v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

int StrToIntDef(std::string_view s, int def) {
    int v = 0;
    return TryStrToInt(s, v) ? v : def;
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, fmt, args);
    }
    va_end(args);
    return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0, i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    if (from.empty()) return s;
    size_t pos = 0;
    while ((pos = s.find(from, pos)) != std::string::npos) {
        s.replace(pos, from.size(), to);
        pos += to.size();
    }
    return s;
}

// ---- TStringList ----

int TStringList::Add(std::string s) {
    FItems.push_back(std::move(s));
    return Count() - 1;
}

void TStringList::Insert(int index, std::string s) {
    if (index < 0 || index > Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    FItems.insert(FItems.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    FItems.erase(FItems.begin() + index);
}

void TStringList::AddStrings(const TStringList& other) {
    FItems.insert(FItems.end(), other.FItems.begin(), other.FItems.end());
}

int TStringList::IndexOf(std::string_view s) const {
    for (int i = 0; i < Count(); ++i)
        if (SameText(FItems[static_cast<size_t>(i)], s)) return i;
    return -1;
}

std::string TStringList::Names(int index) const {
    const std::string& line = (*this)[index];
    auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = (*this)[index];
    auto eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& line = FItems[static_cast<size_t>(i)];
        auto eq = line.find('=');
        if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name)) return i;
    }
    return -1;
}

std::string TStringList::Values(std::string_view name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line = std::string(name) + "=" + std::string(value);
    if (i < 0)
        Add(std::move(line));
    else
        FItems[static_cast<size_t>(i)] = std::move(line);
}

std::string TStringList::Text() const {
    std::string out;
    for (const auto& s : FItems) {
        out += s;
        out += CRLF;
    }
    return out;
}

void TStringList::SetText(std::string_view text) { FItems = SplitLines(text); }

std::string TStringList::DelimitedText() const {
    if (FItems.size() == 1 && FItems[0].empty()) return std::string(2, FQuoteChar);
    std::string out;
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (i) out += FDelimiter;
        const std::string& s = FItems[i];
        bool quote = false;
        for (char c : s) {
            if (IsBlank(c) || c == FQuoteChar || c == FDelimiter) {
                quote = true;
                break;
            }
        }
        if (!quote) {
            out += s;
            continue;
        }
        out += FQuoteChar;
        for (char c : s) {
            out += c;
            if (c == FQuoteChar) out += c;
        }
        out += FQuoteChar;
    }
    return out;
}

void TStringList::SetDelimitedText(std::string_view text) {
    FItems.clear();
    size_t i = 0, n = text.size();
    auto skipBlanks = [&] {
        while (i < n && IsBlank(text[i])) ++i;
    };
    skipBlanks();
    while (i < n) {
        std::string item;
        if (text[i] == FQuoteChar) {
            ++i;
            while (i < n) {
                if (text[i] == FQuoteChar) {
                    if (i + 1 < n && text[i + 1] == FQuoteChar) {
                        item += FQuoteChar;
                        i += 2;
                        continue;
                    }
                    ++i;  // closing quote
                    break;
                }
                item += text[i++];
            }
        } else {
            while (i < n && !IsBlank(text[i]) && text[i] != FDelimiter) item += text[i++];
        }
        FItems.push_back(std::move(item));
        skipBlanks();
        if (i < n && text[i] == FDelimiter) {
            ++i;
            skipBlanks();
            // A delimiter at the very end stands for a final empty entry.
            if (i >= n) FItems.emplace_back();
        }
    }
}
