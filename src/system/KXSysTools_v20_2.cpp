#include "system/KXSysTools_v20_2.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <map>
#include <memory>
#include <vector>

#include "platform/Environment.h"
#include "platform/FileVersion.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/ProgramInfo.h"
#include "platform/Strings.h"

namespace {

const char* const kConfigVarNames[] = {
    "cvpPID",         "cvpDate",       "cvpTime",      "cvpDateTime", "cvpExeName",
    "cvpMachineName", "cvpLibName",    "cvpFullExeName", "cvpFullLibName", "cvpDocuments",
    "cvpLibrary",     "cvpPublic",     "cvpDownloads",
};
constexpr int kConfigVarCount = static_cast<int>(sizeof kConfigVarNames / sizeof kConfigVarNames[0]);

std::string FormattedNow(std::string_view option, const char* defaultPattern) {
    return FormatDateTime(option.empty() ? std::string_view(defaultPattern) : option, Now());
}

// The full path, or its folder when the option asks for it ("Dir", any case); a fourth
// character that is a path delimiter keeps the trailing delimiter.
std::string PathWithOption(const std::string& path, std::string_view option) {
    if (option.size() < 3 || !StartsText("Dir", option)) return path;
    if (option.size() >= 4 && IsPathDelimiter(option[3])) return ExtractFilePath(path);
    return ExtractFileDir(path);
}

// Formats with `precision` significant digits in the general format: fixed notation while
// the value has at most `precision` integer digits and is not below 0.00001, scientific
// ("1.5E20", "1E-6") otherwise; no trailing zeros. The decimal separator is always '.', so
// log texts do not depend on the user's locale.
std::string GeneralFloatText(double value, int precision) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    if (value == 0) return "0";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, precision - 1);
    std::string s(buf, res.ptr);
    bool negative = false;
    if (!s.empty() && s[0] == '-') {
        negative = true;
        s.erase(0, 1);
    }
    auto e = s.find('e');
    int exponent = std::atoi(s.c_str() + e + 1);
    std::string digits;
    for (size_t i = 0; i < e; ++i) {
        if (s[i] != '.') digits += s[i];
    }
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= precision || exponent < -5) {
        out += digits[0];
        if (digits.size() > 1) out += "." + digits.substr(1);
        out += "E" + std::to_string(exponent);
    } else if (exponent >= 0) {
        size_t intDigits = static_cast<size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits + std::string(intDigits - digits.size(), '0');
        } else {
            out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
        }
    } else {
        out += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    }
    return out;
}

std::string UnsignedText(uint64_t v) { return std::to_string(v); }

const char* VarTypeName(uint16_t type) {
    switch (type) {
    case varEmpty: return "varEmpty";
    case varNull: return "varNull";
    case varSmallint: return "varSmallint";
    case varInteger: return "varInteger";
    case varSingle: return "varSingle";
    case varDouble: return "varDouble";
    case varCurrency: return "varCurrency";
    case varDate: return "varDate";
    case varOleStr: return "varOleStr";
    case varDispatch: return "varDispatch";
    case varError: return "varError";
    case varBoolean: return "varBoolean";
    case varVariant: return "varVariant";
    case varUnknown: return "varUnknown";
    case varShortInt: return "varShortInt";
    case varByte: return "varByte";
    case varWord: return "varWord";
    case varLongWord: return "varLongWord";
    case varInt64: return "varInt64";
    case varUInt64: return "varUInt64";
    case varString: return "varString";
    case varUString: return "varUString";
    default: return nullptr;
    }
}

std::string VarTypeText(uint16_t type) {
    if (const char* name = VarTypeName(type)) return name;
    if (type & varArray) {
        const char* element = VarTypeName(static_cast<uint16_t>(type & ~varArray));
        return std::string("varArray of ") + (element ? element : "unknown type");
    }
    return "unknown type";
}

// ---- library search -------------------------------------------------------------------

// The ELF class and machine of this program: the loader takes only libraries that match.
bool ReadElfKind(const std::string& path, unsigned char& elfClass, uint16_t& machine) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    unsigned char h[20];
    struct stat st{};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && pread(fd, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h);
    close(fd);
    if (!ok || std::memcmp(h, "\x7f" "ELF", 4) != 0) return false;
    elfClass = h[4];
    machine = h[5] == 2 ? static_cast<uint16_t>(h[18] << 8 | h[19]) : static_cast<uint16_t>(h[19] << 8 | h[18]);
    return true;
}

// True for an ELF file built for another kind of machine or word size (a 32-bit library
// in /lib, for one): the loader passes over it and searches on.
bool IsForeignElf(const std::string& path) {
    static const auto self = [] {
        std::pair<unsigned char, uint16_t> k{0, 0};
        if (!ReadElfKind(ProgramFileName(), k.first, k.second)) k = {0, 0};
        return k;
    }();
    unsigned char c = 0;
    uint16_t m = 0;
    if (self.first == 0 || !ReadElfKind(path, c, m)) return false;
    return c != self.first || m != self.second;
}

// The folders the loader searches for this program, in its order (LD_LIBRARY_PATH, the
// program's run paths, the system folders).
std::vector<std::string> LoaderSearchFolders() {
    std::vector<std::string> result;
    void* self = dlopen(nullptr, RTLD_LAZY);
    if (!self) return result;
    Dl_serinfo size{};
    if (dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
        std::unique_ptr<unsigned char[]> storage(new unsigned char[size.dls_size]);
        auto* info = reinterpret_cast<Dl_serinfo*>(storage.get());
        std::memcpy(info, &size, sizeof size);
        if (dlinfo(self, RTLD_DI_SERINFO, info) == 0) {
            for (unsigned i = 0; i < info->dls_cnt; ++i) {
                if (info->dls_serpath[i].dls_name) result.emplace_back(info->dls_serpath[i].dls_name);
            }
        }
    }
    dlclose(self);
    return result;
}

// The loader's built-in folders: /lib, /usr/lib, their 32/64/x32 forms and their
// multiarch subfolders (/usr/lib/x86_64-linux-gnu).
bool IsSystemLibraryFolder(std::string_view dir) {
    if (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    if (dir.rfind("/usr", 0) == 0) dir.remove_prefix(4);
    if (dir.rfind("/lib", 0) != 0) return false;
    dir.remove_prefix(4);
    for (std::string_view suffix : {"32", "64", "x32"}) {
        if (dir.rfind(suffix, 0) == 0) {
            dir.remove_prefix(suffix.size());
            break;
        }
    }
    if (dir.empty()) return true;
    if (dir[0] != '/') return false;
    dir.remove_prefix(1);
    auto mark = dir.find("-linux-");
    if (mark == std::string_view::npos || mark == 0 || mark + 7 >= dir.size()) return false;
    for (char c : dir) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
    }
    return true;
}

uint32_t Le32(const std::string& b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

// Looks the name up in the loader's cache (/etc/ld.so.cache, written by ldconfig from the
// folders of /etc/ld.so.conf). Every offset is checked: the file is not ours.
std::string FindInLoaderCache(const std::string& fileName) {
    std::string cache;
    try {
        if (FileSize("/etc/ld.so.cache") > (64 << 20)) return {};
        cache = ReadWholeFile("/etc/ld.so.cache");
    } catch (const std::exception&) {
        return {};
    }
    static const char kOld[] = "ld.so-1.7.0";
    static const char kNew[] = "glibc-ld.so.cache1.1";
    size_t start = 0;
    if (cache.compare(0, sizeof kOld - 1, kOld) == 0 && cache.size() >= 16) {
        // The old table comes first; the new one follows it, aligned to 8 bytes.
        uint64_t n = Le32(cache, 12);
        start = static_cast<size_t>(std::min<uint64_t>((16 + n * 12 + 7) / 8 * 8, cache.size()));
    }
    if (cache.size() < start + 48 || cache.compare(start, sizeof kNew - 1, kNew) != 0) return {};
    const uint64_t count = Le32(cache, start + 20);
    const size_t entries = start + 48;
    auto stringAt = [&](uint32_t offset) -> std::string {
        size_t at = start + offset;
        if (at >= cache.size()) return {};
        size_t end = cache.find('\0', at);
        return end == std::string::npos ? std::string() : cache.substr(at, end - at);
    };
    for (uint64_t i = 0; i < count; ++i) {
        size_t at = entries + static_cast<size_t>(i) * 24;
        if (at + 24 > cache.size()) break;
        // Entries for optional processor-specific builds are only used when the CPU has the
        // features; the plain entry of the same name is always there as well.
        bool plain = Le32(cache, at + 16) == 0 && Le32(cache, at + 20) == 0;
        if (!plain || stringAt(Le32(cache, at + 4)) != fileName) continue;
        std::string path = stringAt(Le32(cache, at + 8));
        if (!path.empty() && FileExists(path) && !IsForeignElf(path)) return path;
    }
    return {};
}

}  // namespace

const char* ConfigVarParamName(TConfigVarParam p) {
    int i = static_cast<int>(p);
    return i >= 0 && i < kConfigVarCount ? kConfigVarNames[i] : "";
}

// ---- path variables ---------------------------------------------------------------------

std::string ExpandPathVars(std::string_view text) {
    std::string result;
    std::string name;
    bool open = false;
    for (char c : text) {
        if (c == '%') {
            if (open) result += ResolveConfigVar(name);
            name.clear();
            open = !open;
        } else if (open) {
            name += c;
        } else {
            result += c;
        }
    }
    if (open) result += "%" + name;
    return result;
}

std::string ResolveConfigVar(std::string_view name) {
    std::string_view variable = name, option;
    auto bar = name.find('|');
    if (bar != std::string_view::npos) {
        variable = name.substr(0, bar);
        option = name.substr(bar + 1);
    }
    int which = -1;
    for (int i = 0; i < kConfigVarCount; ++i) {
        if (SameText(kConfigVarNames[i] + 3, variable)) {
            which = i;
            break;
        }
    }
    switch (which) {
    case cvpPID: return UnsignedText(CurrentProcessID());
    case cvpDate: return FormattedNow(option, "yyyymmdd");
    case cvpTime: return FormattedNow(option, "hhnnss");
    case cvpDateTime: return FormattedNow(option, "yyyymmdd_hhnnss");
    case cvpExeName: return ExtractFileBaseName(ExeFileName());
    case cvpMachineName: return ComputerName();
    case cvpLibName: return ExtractFileBaseName(ModuleFileName());
    case cvpFullExeName: return PathWithOption(ExeFileName(), option);
    case cvpFullLibName: return PathWithOption(ModuleFileName(), option);
    default: return ExpandEnvironment("%" + std::string(variable) + "%");
    }
}

std::string ExpandEnvironment(std::string_view text) {
    auto zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    std::string result;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%') {
            result += text[i++];
            continue;
        }
        auto close = text.find('%', i + 1);
        if (close == std::string_view::npos) {
            result.append(text.substr(i));
            break;
        }
        std::string value;
        if (close > i + 1 && GetEnvVar(text.substr(i + 1, close - i - 1), value)) {
            result += value;
            i = close + 1;
        } else {
            // Left as written; its closing "%" may open the next name.
            result.append(text.substr(i, close - i));
            i = close;
        }
    }
    return result;
}

// ---- modules and machine ----------------------------------------------------------------

std::string ExeFileName() { return ProgramFileName(); }

std::string ModuleFileName() { return ThisModuleFileName(); }

std::string ModulePath(uintptr_t handle) { return Trim(LoadedModulePath(handle)); }

std::string ModuleFileNameByName(std::string_view name) { return Trim(LoadedModulePathByName(name)); }

uintptr_t MainModuleHandle() { return ProgramModuleHandle(); }

std::string ComputerName() { return HostComputerName(); }

bool IsWindows64() {
    TOSInfo info = GetOSInfo();
    return info.os64 && !info.process64;
}

std::string WindowsVersionText(int major, int minor, int build, std::string_view servicePack) {
    std::string text;
    if (major == 5) {
        if (minor == 0) text = "Windows 2000";
        else if (minor == 1) text = "Windows XP";
        else if (minor == 2) text = "Windows XP64";
    } else if (major == 6) {
        if (minor == 0) text = "Vista";
        else if (minor == 1) text = "Windows 7";
        else if (minor == 2) text = "Windows 8";
        else if (minor == 3) text = "Windows 8.1";
    } else if (major == 10) {
        text = "Windows 10";
    } else {
        text = Format("%d.%d", major, minor);
    }
    text += " Build " + std::to_string(build);
    if (!servicePack.empty()) text += " (" + std::string(servicePack) + ")";
    return text;
}

std::string OSVersionText() {
    TOSInfo info = GetOSInfo();
    if (info.kernelRelease.empty()) return info.distribution;
    return info.distribution + " Kernel " + info.kernelRelease;
}

std::string OSDescription() {
    // The bitness of the operating system itself: a 64-bit program on a 64-bit system is
    // described as 64-bit, not only a 32-bit one.
    return Format("%s %d-bit", OSVersionText().c_str(), GetOSInfo().os64 ? 64 : 32);
}

std::string GetFileVersion(std::string_view fileName) {
    std::map<std::string, std::string> values;
    if (!ReadVersionRecord(NormalizePath(fileName), values)) return "0.0.0.0";
    auto it = values.find("FileVersion");
    return it == values.end() ? std::string() : it->second;
}

std::string FindInSearchPath(std::string_view fileName) {
    std::string name = NormalizePath(fileName);
    if (name.empty() || name.find('\0') != std::string::npos) return {};
    // A name with a folder is not searched for: the loader takes it as written.
    if (name.find('/') != std::string::npos) return FileExists(name) ? ExpandFileName(name) : std::string();

    auto inFolder = [&](const std::string& dir, bool loaderRules) -> std::string {
        if (dir.empty()) return {};
        std::string path = IncludeTrailingPathDelimiter(dir) + name;
        if (!FileExists(path) || (loaderRules && IsForeignElf(path))) return {};
        return ExpandFileName(path);
    };
    // The program's folder is our own first place: a file there is the answer, loadable or not.
    std::string exe = ExeFileName();
    if (!exe.empty()) {
        if (auto found = inFolder(ExtractFileDir(exe), false); !found.empty()) return found;
    }
    std::vector<std::string> folders = LoaderSearchFolders();
    // The loader asks its cache before the system's own folders.
    size_t system = folders.size();
    while (system > 0 && IsSystemLibraryFolder(folders[system - 1])) --system;
    for (size_t i = 0; i < system; ++i) {
        if (auto found = inFolder(folders[i], true); !found.empty()) return found;
    }
    if (auto found = FindInLoaderCache(name); !found.empty()) return found;
    for (size_t i = system; i < folders.size(); ++i) {
        if (auto found = inFolder(folders[i], true); !found.empty()) return found;
    }
    return {};
}

// ---- files --------------------------------------------------------------------------------

TDateTime FileDate(std::string_view fileName) {
    TDateTime result = 0;
    return FileAgeLocal(fileName, result) ? result : MissingFileDate;
}

bool IsFileEmpty(std::string_view fileName) {
    if (!FileExists(fileName)) return true;
    std::unique_ptr<TFileStream> opened;
    try {
        opened = std::make_unique<TFileStream>(fileName, TFileStream::Mode::OpenRead);
    } catch (const EFileError& e) {
        // Gone between the look and the open: as empty as a file that never was.
        if (e.ErrorCode() == ENOENT) return true;
        throw;
    }
    TFileStream& stream = *opened;
    unsigned char head[4];
    size_t got = 0;
    while (got < sizeof head) {
        size_t n = stream.Read(head + got, sizeof head - got);
        if (n == 0) break;
        got += n;
    }
    if (got == 0) return true;
    return got == UTF8BOM.size() && std::memcmp(head, UTF8BOM.data(), UTF8BOM.size()) == 0;
}

std::string ReadFileText(std::string_view fileName) {
    if (Trim(fileName).empty() || !FileExists(fileName)) return {};
    return ReadWholeFile(fileName);
}

void AppendLineToFile(std::string_view fileName, std::string_view text) {
    std::string dir = ExtractFileDir(NormalizePath(fileName));
    if (!dir.empty()) ForceDirectories(dir);
    std::string line(text);
    line += CRLF;
    // One write, so that lines of several writers never interleave.
    AppendToFile(fileName, line);
}

std::string UniqueFileName(std::string_view fileName) {
    // A folder of that name blocks the file as well as a file does.
    auto taken = [](const std::string& name) { return FileExists(name) || DirectoryExists(name); };
    std::string name(fileName);
    if (!taken(name)) return name;
    std::string stem = ExtractFilePath(name) + ExtractFileBaseName(name);
    std::string ext = ExtractFileExt(name);
    for (uint64_t n = 1;; ++n) {
        std::string candidate = stem + "_" + std::to_string(n) + ext;
        if (!taken(candidate)) return candidate;
    }
}

std::string IniReadString(std::string_view fileName, std::string_view section, std::string_view key,
                          std::string_view def) {
    TMemIniFile ini{std::string(fileName)};
    return ini.ReadString(section, key, def);
}

// ---- text ---------------------------------------------------------------------------------

std::string BoolText(bool value) { return value ? "TRUE" : "FALSE"; }

int PosText(std::string_view sub, std::string_view text, int from) {
    if (sub.empty()) return 0;
    if (from < 1) from = 1;
    const size_t start = static_cast<size_t>(from) - 1;
    if (start > text.size() || text.size() - start < sub.size()) return 0;
    size_t found = FindText(text, sub, start);
    return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

std::string CutFirst(std::string& text, std::string_view separator) {
    auto p = separator.empty() ? std::string::npos : text.find(separator);
    if (p == std::string::npos) {
        std::string all = std::move(text);
        text.clear();
        return all;
    }
    std::string head = text.substr(0, p);
    text.erase(0, p + separator.size());
    return head;
}

TExtractResult ExtractBetween(std::string_view text, std::string_view startMark, std::string_view endMark, int from) {
    TExtractResult r;
    int start = PosText(startMark, text, from);
    if (start == 0) return r;
    r.startPos = start + static_cast<int>(startMark.size());
    int end = PosText(endMark, text, r.startPos);
    if (end == 0) {
        // No end mark: no value, and a scan that continues after endPos ends instead of
        // starting over from the beginning.
        r.endPos = static_cast<int>(text.size());
        return r;
    }
    r.value = std::string(text.substr(static_cast<size_t>(r.startPos - 1), static_cast<size_t>(end - r.startPos)));
    r.endPos = end - 1;
    return r;
}

std::string PrefixLines(std::string_view text, std::string_view prefix, std::string_view separator) {
    if (text.empty() || prefix.empty() || separator.empty()) return std::string(text);
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        auto p = text.find(separator, pos);
        size_t end = p == std::string_view::npos ? text.size() : p + separator.size();
        out.append(prefix);
        out.append(text.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

std::string FloatToText(double value) { return GeneralFloatText(value, 15); }

std::string CurrencyToText(TCurrency value) {
    const bool negative = value.scaled < 0;
    // Through unsigned arithmetic, so that the most negative amount has a text as well.
    uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value.scaled) : static_cast<uint64_t>(value.scaled);
    std::string out = (negative ? "-" : "") + UnsignedText(magnitude / 10000);
    if (uint64_t frac = magnitude % 10000) {
        std::string digits = std::to_string(frac);
        digits.insert(0, 4 - digits.size(), '0');
        while (digits.back() == '0') digits.pop_back();
        out += "." + digits;
    }
    return out;
}

std::string ValueToText(const TVarRec& value) {
    auto objectText = [](const void* address, const TObject* object) {
        std::string digits = IntToHex(reinterpret_cast<uintptr_t>(address), 4);
        if (!object) return digits;
        try {
            return object->ClassName() + "(" + digits + ")";
        } catch (...) {
            return digits;
        }
    };
    switch (value.VType()) {
    case TVarRec::vtInteger:
    case TVarRec::vtInt64: return std::to_string(value.AsInt64());
    // Open by the rules; the decimal value is more use in a log than an empty text.
    case TVarRec::vtUInt64: return UnsignedText(value.AsUInt64());
    case TVarRec::vtBoolean: return BoolText(value.AsBoolean());
    case TVarRec::vtExtended: return FloatToText(value.AsDouble());
    case TVarRec::vtCurrency: return CurrencyToText(value.AsCurrency());
    case TVarRec::vtChar:
    case TVarRec::vtWideChar:
    case TVarRec::vtString:
    case TVarRec::vtPChar:
    case TVarRec::vtPWideChar:
    case TVarRec::vtAnsiString:
    case TVarRec::vtWideString:
    case TVarRec::vtUnicodeString: return value.AsText();
    case TVarRec::vtPointer:
        return objectText(value.AsPointer(), value.AsPointer() ? value.AsObject() : nullptr);
    case TVarRec::vtObject: return objectText(value.AsObject(), value.AsObject());
    case TVarRec::vtClass: return value.AsClass() ? TypeDisplayName(*value.AsClass()) : std::string();
    case TVarRec::vtInterface: return IntToHex(reinterpret_cast<uintptr_t>(value.AsPointer()), 8);
    case TVarRec::vtVariant: return VariantToText(value.AsVariant());
    }
    return {};
}

std::string VariantToText(const TVariant& value) {
    switch (value.VarType()) {
    case varEmpty:
    case varNull: return {};
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return std::to_string(value.AsInt64());
    case varUInt64: return UnsignedText(value.AsUInt64());
    // A single holds about seven significant digits; more would show the binary rounding.
    case varSingle: return GeneralFloatText(static_cast<float>(value.AsDouble()), 7);
    case varDouble: return FloatToText(value.AsDouble());
    case varCurrency: return CurrencyToText(value.AsCurrency());
    case varDate: return FormatDateTime("yyyy.mm.dd hh:nn:ss:zzz", value.AsDouble());
    case varOleStr:
    case varString:
    case varUString: return value.AsString();
    case varDispatch: return "IDispatch";
    case varBoolean: return BoolText(value.AsBoolean());
    default: break;
    }
    const uint16_t type = value.VarType();
    throw EVariantError(Format("Unsupported variant type %s (%u)", VarTypeText(type).c_str(), unsigned(type)));
}
