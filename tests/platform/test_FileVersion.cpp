#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/FileVersion.h"
#include "support/TempDir.h"

namespace {

using TValues = std::map<std::string, std::string>;

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Builds a minimal ELF file by hand: header, section-name table, an optional record
// section and the section header table, in either class and byte order.
struct TElfLayout {
    bool is64 = true;
    bool bigEndian = false;
    bool extendedNumbering = false;  // section count and name-table index in section 0
    bool withRecord = true;
    std::string record = std::string("FileVersion=3.1.4.1\0FileDescription=hand made\0", 46);
};

void Put(std::string& b, size_t at, size_t width, uint64_t v, bool big) {
    for (size_t i = 0; i < width; ++i) {
        size_t idx = big ? at + width - 1 - i : at + i;
        b[idx] = static_cast<char>((v >> (8 * i)) & 0xff);
    }
}

std::string BuildElf(const TElfLayout& s) {
    const size_t ehsize = s.is64 ? 64 : 52, shentsize = s.is64 ? 64 : 40;
    const std::string names = std::string("\0.shstrtab\0.kexo_version\0", 25);
    std::string b(ehsize, '\0');
    b[0] = 0x7f, b[1] = 'E', b[2] = 'L', b[3] = 'F';
    b[4] = s.is64 ? 2 : 1;
    b[5] = s.bigEndian ? 2 : 1;
    b[6] = 1;
    const size_t namesAt = b.size();
    b += names;
    const size_t recordAt = b.size();
    if (s.withRecord) b += s.record;
    while (b.size() % 8) b += '\0';
    const size_t shoff = b.size();
    const uint64_t count = s.withRecord ? 3 : 2;
    b.append(count * shentsize, '\0');
    auto section = [&](size_t index, uint32_t name, uint32_t type, uint64_t offset, uint64_t size, uint32_t link) {
        size_t at = shoff + index * shentsize;
        Put(b, at, 4, name, s.bigEndian);
        Put(b, at + 4, 4, type, s.bigEndian);
        if (s.is64) {
            Put(b, at + 24, 8, offset, s.bigEndian);
            Put(b, at + 32, 8, size, s.bigEndian);
            Put(b, at + 40, 4, link, s.bigEndian);
        } else {
            Put(b, at + 16, 4, offset, s.bigEndian);
            Put(b, at + 20, 4, size, s.bigEndian);
            Put(b, at + 24, 4, link, s.bigEndian);
        }
    };
    section(0, 0, 0, 0, s.extendedNumbering ? count : 0, s.extendedNumbering ? 1 : 0);
    section(1, 1, 3 /* SHT_STRTAB */, namesAt, names.size(), 0);
    if (s.withRecord) section(2, 11, 1 /* SHT_PROGBITS */, recordAt, s.record.size(), 0);
    const size_t base = s.is64 ? 58 : 46;
    Put(b, s.is64 ? 40 : 32, s.is64 ? 8 : 4, shoff, s.bigEndian);
    Put(b, base, 2, shentsize, s.bigEndian);
    Put(b, base + 2, 2, s.extendedNumbering ? 0 : count, s.bigEndian);
    Put(b, base + 4, 2, s.extendedNumbering ? 0xffff : 1, s.bigEndian);
    return b;
}

TEST(FileVersion, RecordOfABuiltLibraryIsReadFromItsFile) {
    TValues values;
    ASSERT_TRUE(ReadVersionRecord(KEXO_VERSIONED_LIB, values));
    EXPECT_EQ(values["FileVersion"], "1.2.3.4");
    EXPECT_EQ(values["ProductVersion"], "1.2.3.4");
    EXPECT_EQ(values["FileDescription"], "Kexo fixture module");
}

TEST(FileVersion, HandMadeFilesOfEachClassAndByteOrder) {
    struct {
        bool is64, big, extended;
    } cases[] = {
        {true, false, false}, {true, true, false}, {false, false, false},
        {false, true, false}, {true, false, true}, {false, true, true},
    };
    TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "64=" << c.is64 << " big=" << c.big << " ext=" << c.extended);
        TElfLayout layout;
        layout.is64 = c.is64, layout.bigEndian = c.big, layout.extendedNumbering = c.extended;
        TValues values;
        ASSERT_TRUE(ReadVersionRecord(dir.Write("made.so", BuildElf(layout)), values));
        EXPECT_EQ(values, (TValues{{"FileVersion", "3.1.4.1"}, {"FileDescription", "hand made"}}));
    }
}

TEST(FileVersion, RecordEntriesWithoutKeyOrSeparatorAreSkipped) {
    TTempDir dir;
    TElfLayout layout;
    layout.record = std::string("\0\0garbage\0=nokey\0Key=a=b\0Empty=\0Tail=unterminated", 49);
    TValues values;
    ASSERT_TRUE(ReadVersionRecord(dir.Write("odd.so", BuildElf(layout)), values));
    EXPECT_EQ(values, (TValues{{"Key", "a=b"}, {"Empty", ""}, {"Tail", "unterminated"}}));
}

TEST(FileVersion, FilesWithoutARecordGiveFalse) {
    TTempDir dir;
    TElfLayout noRecord;
    noRecord.withRecord = false;
    mkfifo(dir.File("pipe").c_str(), 0600);  // must not block the reader
    struct {
        const char* what;
        std::string path;
    } cases[] = {
        {"library without record", KEXO_UNVERSIONED_LIB},
        {"hand-made ELF without record", dir.Write("plain.so", BuildElf(noRecord))},
        {"text file", dir.Write("notes.txt", "FileVersion=1.0.0.0\n")},
        {"empty file", dir.Write("empty.so", "")},
        {"ELF magic only", dir.Write("magic.so", "\x7f" "ELF")},
        {"missing file", dir.File("missing.so")},
        {"folder", dir.Path()},
        {"fifo", dir.File("pipe")},
        {"empty name", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TValues values{{"stale", "x"}};
        EXPECT_FALSE(ReadVersionRecord(c.path, values));
        EXPECT_TRUE(values.empty());
    }
}

// The section header table sits at the end of a linked file, so every cut loses it.
TEST(FileVersion, TruncatedFilesGiveFalse) {
    const std::string whole = ReadBytes(KEXO_VERSIONED_LIB);
    ASSERT_GT(whole.size(), 1000u);
    TTempDir dir;
    const size_t cuts[] = {4, 16, 20, 52, 63, 64, whole.size() / 4, whole.size() / 2, whole.size() - 64,
                           whole.size() - 1};
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut);
        TValues values;
        EXPECT_FALSE(ReadVersionRecord(dir.Write("cut.so", whole.substr(0, cut)), values));
    }
    // Cuts through a hand-made file (record and tables close together) at every length,
    // shortening one file step by step.
    const std::string made = BuildElf(TElfLayout{});
    const std::string path = dir.Write("made_cut.so", made);
    for (size_t cut = made.size(); cut-- > 0;) {
        SCOPED_TRACE(cut);
        ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(cut)), 0);
        TValues values;
        EXPECT_FALSE(ReadVersionRecord(path, values));
    }
}

// Damaged offsets, counts and sizes anywhere in the header and the section tables: the
// reader answers (true or false) without reading outside the file or allocating wildly.
TEST(FileVersion, DamagedHeadersNeverCrash) {
    TTempDir dir;
    const std::string made = BuildElf(TElfLayout{});
    const std::string lib = ReadBytes(KEXO_VERSIONED_LIB);
    const unsigned char fills[] = {0xff, 0x7f, 0x00, 0x80};
    for (const std::string* original : {&made, &lib}) {
        // The ELF header and, for the hand-made file, everything; the last section headers
        // of the linked library (its table is at the end).
        size_t tableStart = original == &made ? 0 : original->size() - 20 * 64;
        // One file, patched in place and put back after each probe.
        const std::string path = dir.Write("damaged.so", *original);
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(file.is_open());
        for (size_t at = 0; at + 4 <= original->size(); at += 4) {
            if (at >= 64 && at < tableStart) continue;
            for (unsigned char fill : fills) {
                const std::string patch(4, static_cast<char>(fill));
                file.seekp(static_cast<std::streamoff>(at));
                file.write(patch.data(), 4).flush();
                TValues values;
                (void)ReadVersionRecord(path, values);
                file.seekp(static_cast<std::streamoff>(at));
                file.write(original->data() + at, 4).flush();
            }
        }
    }
    // A few damages with a known answer.
    struct {
        const char* what;
        size_t at, width;
        uint64_t value;
    } known[] = {
        {"section table beyond the end", 40, 8, 0x7fffffffffffffffull},
        {"section table offset zero", 40, 8, 0},
        {"section header size too small", 58, 2, 8},
        {"name table index out of range", 62, 2, 40},
        {"huge section count", 60, 2, 0xfffe},
    };
    for (const auto& k : known) {
        SCOPED_TRACE(k.what);
        std::string damaged = made;
        Put(damaged, k.at, k.width, k.value, false);
        TValues values;
        EXPECT_FALSE(ReadVersionRecord(dir.Write("known.so", damaged), values));
    }
}

}  // namespace
