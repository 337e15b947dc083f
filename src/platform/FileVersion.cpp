#include "platform/FileVersion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// The file is read from disk by someone else's rules: every offset and size in it is
// checked against the file before use, and the tables we read are kept to sane sizes so
// that a damaged header cannot make us allocate gigabytes.
constexpr uint64_t kMaxSectionTable = 64u << 20;
constexpr uint64_t kMaxNameTable = 16u << 20;
constexpr uint64_t kMaxRecord = 1u << 20;
constexpr uint32_t kShtNobits = 8;
constexpr uint16_t kShnXindex = 0xffff;
constexpr const char* kSectionName = ".kexo_version";

class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) close(FFd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

class TElfReader {
public:
    TElfReader(int fd, uint64_t size) : FFd(fd), FSize(size) {}

    // Reads exactly `count` bytes at `offset`, which must lie inside the file.
    bool Read(uint64_t offset, uint64_t count, std::vector<unsigned char>& out) const {
        if (offset > FSize || count > FSize - offset) return false;
        out.resize(count);
        uint64_t done = 0;
        while (done < count) {
            ssize_t n = pread(FFd, out.data() + done, count - done, static_cast<off_t>(offset + done));
            if (n <= 0) return false;
            done += static_cast<uint64_t>(n);
        }
        return true;
    }

    bool big = false;  // byte order of the file
    bool is64 = false;

    uint64_t Get(const std::vector<unsigned char>& b, size_t at, size_t width) const {
        uint64_t v = 0;
        for (size_t i = 0; i < width; ++i) {
            size_t idx = big ? at + i : at + width - 1 - i;
            v = (v << 8) | b[idx];
        }
        return v;
    }

private:
    int FFd;
    uint64_t FSize;
};

struct TSection {
    uint32_t name = 0;
    uint32_t type = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t link = 0;
};

bool ParseRecord(const std::vector<unsigned char>& data, std::map<std::string, std::string>& values) {
    size_t i = 0;
    while (i < data.size()) {
        size_t end = i;
        while (end < data.size() && data[end] != 0) ++end;
        std::string entry(reinterpret_cast<const char*>(data.data()) + i, end - i);
        auto eq = entry.find('=');
        if (eq != std::string::npos && eq > 0) values[entry.substr(0, eq)] = entry.substr(eq + 1);
        i = end + 1;
    }
    return true;
}

}  // namespace

bool ReadVersionRecord(std::string_view fileName, std::map<std::string, std::string>& values) {
    values.clear();
    std::string name(fileName);
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    // Non-blocking, so that a FIFO given by mistake cannot hang us; only regular files count.
    TFd fd(open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0) return false;
    struct stat st{};
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    TElfReader r(fd.Get(), static_cast<uint64_t>(st.st_size));

    std::vector<unsigned char> hdr;
    if (!r.Read(0, 16, hdr)) return false;
    if (hdr[0] != 0x7f || hdr[1] != 'E' || hdr[2] != 'L' || hdr[3] != 'F') return false;
    if (hdr[4] != 1 && hdr[4] != 2) return false;
    if (hdr[5] != 1 && hdr[5] != 2) return false;
    r.is64 = hdr[4] == 2;
    r.big = hdr[5] == 2;
    if (!r.Read(0, r.is64 ? 64 : 52, hdr)) return false;

    uint64_t shoff = r.is64 ? r.Get(hdr, 40, 8) : r.Get(hdr, 32, 4);
    size_t base = r.is64 ? 58 : 46;
    uint64_t shentsize = r.Get(hdr, base, 2);
    uint64_t shnum = r.Get(hdr, base + 2, 2);
    uint64_t shstrndx = r.Get(hdr, base + 4, 2);
    const uint64_t minEntry = r.is64 ? 64 : 40;
    if (shoff == 0 || shentsize < minEntry) return false;

    auto decode = [&](const std::vector<unsigned char>& b, size_t at) {
        TSection s;
        s.name = static_cast<uint32_t>(r.Get(b, at, 4));
        s.type = static_cast<uint32_t>(r.Get(b, at + 4, 4));
        if (r.is64) {
            s.offset = r.Get(b, at + 24, 8);
            s.size = r.Get(b, at + 32, 8);
            s.link = static_cast<uint32_t>(r.Get(b, at + 40, 4));
        } else {
            s.offset = r.Get(b, at + 16, 4);
            s.size = r.Get(b, at + 20, 4);
            s.link = static_cast<uint32_t>(r.Get(b, at + 24, 4));
        }
        return s;
    };

    // Many sections: the real count and name-table index live in the first section header.
    if (shnum == 0 || shstrndx == kShnXindex) {
        std::vector<unsigned char> first;
        if (!r.Read(shoff, shentsize, first)) return false;
        TSection s0 = decode(first, 0);
        if (shnum == 0) shnum = s0.size;
        if (shstrndx == kShnXindex) shstrndx = s0.link;
    }
    if (shnum == 0 || shnum > kMaxSectionTable / shentsize || shstrndx >= shnum) return false;

    std::vector<unsigned char> table;
    if (!r.Read(shoff, shnum * shentsize, table)) return false;
    std::vector<TSection> sections;
    sections.reserve(shnum);
    for (uint64_t i = 0; i < shnum; ++i) sections.push_back(decode(table, i * shentsize));

    const TSection& names = sections[shstrndx];
    if (names.type == kShtNobits || names.size == 0 || names.size > kMaxNameTable) return false;
    std::vector<unsigned char> strtab;
    if (!r.Read(names.offset, names.size, strtab)) return false;

    const size_t wantLen = std::strlen(kSectionName);
    for (const auto& s : sections) {
        if (s.name >= strtab.size() || strtab.size() - s.name < wantLen + 1) continue;
        if (std::memcmp(strtab.data() + s.name, kSectionName, wantLen + 1) != 0) continue;
        if (s.type == kShtNobits || s.size > kMaxRecord) return false;
        std::vector<unsigned char> data;
        if (!r.Read(s.offset, s.size, data)) return false;
        return ParseRecord(data, values);
    }
    return false;
}
