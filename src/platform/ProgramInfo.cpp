#include "platform/ProgramInfo.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

// Image start of a module: the address its first loadable segment is mapped at. For a
// position-independent image dlpi_addr alone is that address; for a fixed-address program
// dlpi_addr is 0 and the segment's own address is the start.
uintptr_t ImageStart(const dl_phdr_info* info) {
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) return info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
    }
    return info->dlpi_addr;
}

struct TModuleEntry {
    uintptr_t start = 0;
    std::string path;  // "" for the program itself (the loader gives it no name)
    bool isProgram = false;
};

std::vector<TModuleEntry> LoadedModules() {
    std::vector<TModuleEntry> result;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto& list = *static_cast<std::vector<TModuleEntry>*>(data);
            TModuleEntry e;
            e.start = ImageStart(info);
            e.isProgram = list.empty();  // the loader always reports the program first
            e.path = info->dlpi_name ? info->dlpi_name : "";
            list.push_back(std::move(e));
            return 0;
        },
        &result);
    return result;
}

// A module's path as a full path. The loader keeps the name it was given; a library
// loaded by a relative path is resolved against the current folder. Names without a
// folder (the kernel's vDSO) are not files.
std::string FullModulePath(const TModuleEntry& e) {
    if (e.isProgram) return ProgramFileName();
    if (e.path.empty() || e.path.find('/') == std::string::npos) return {};
    if (e.path[0] == '/') return e.path;
    char buf[PATH_MAX];
    if (realpath(e.path.c_str(), buf)) return buf;
    return {};
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string_view FileNamePart(std::string_view path) {
    auto p = path.find_last_of("/\\");
    return p == std::string_view::npos ? path : path.substr(p + 1);
}

// Value of one os-release line "KEY=value", with shell quoting removed.
std::string UnquoteOsReleaseValue(std::string_view v) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else out += c;
        } else if (c == '\\' && i + 1 < v.size()) {
            out += v[++i];
        } else if (quote == '"') {
            if (c == '"') quote = 0;
            else out += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string DistributionName() {
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(file);
        if (!in) continue;
        std::string line, pretty, name;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("PRETTY_NAME=", 0) == 0) pretty = UnquoteOsReleaseValue(line.substr(12));
            else if (line.rfind("NAME=", 0) == 0) name = UnquoteOsReleaseValue(line.substr(5));
        }
        if (!pretty.empty()) return pretty;
        if (!name.empty()) return name;
    }
    return "Linux";
}

}  // namespace

std::string ProgramFileName() {
    std::vector<char> buf(PATH_MAX);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

std::string ThisModuleFileName() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ThisModuleFileName), &info) && info.dli_fname && info.dli_fname[0]) {
        std::string name = info.dli_fname;
        // The loader names the program itself by the name it was started with.
        if (info.dli_fbase == reinterpret_cast<void*>(ProgramModuleHandle()) || name.find('/') == std::string::npos)
            return ProgramFileName();
        if (name[0] != '/') {
            char buf[PATH_MAX];
            if (realpath(name.c_str(), buf)) return buf;
        }
        return name;
    }
    return ProgramFileName();
}

uintptr_t ProgramModuleHandle() {
    auto modules = LoadedModules();
    return modules.empty() ? 0 : modules.front().start;
}

std::string LoadedModulePath(uintptr_t handle) {
    if (handle == 0) return {};
    for (const auto& m : LoadedModules()) {
        if (m.start == handle) return FullModulePath(m);
    }
    return {};
}

std::string LoadedModulePathByName(std::string_view name) {
    if (name.empty()) return {};
    bool withFolder = name.find_first_of("/\\") != std::string_view::npos;
    for (const auto& m : LoadedModules()) {
        std::string path = FullModulePath(m);
        if (path.empty()) continue;
        if (withFolder ? SameTextAscii(path, name) : SameTextAscii(FileNamePart(path), name)) return path;
    }
    if (withFolder) {
        // The same file under another spelling of its folder (links, "..").
        char wanted[PATH_MAX];
        if (!realpath(std::string(name).c_str(), wanted)) return {};
        for (const auto& m : LoadedModules()) {
            std::string path = FullModulePath(m);
            char real[PATH_MAX];
            if (!path.empty() && realpath(path.c_str(), real) && std::strcmp(real, wanted) == 0) return path;
        }
    }
    return {};
}

uint64_t CurrentProcessID() { return static_cast<uint64_t>(getpid()); }

uint64_t CurrentThreadID() { return static_cast<uint64_t>(syscall(SYS_gettid)); }

std::string HostComputerName() {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

TOSInfo GetOSInfo() {
    TOSInfo info;
    info.distribution = DistributionName();
    info.process64 = sizeof(void*) == 8;
    utsname u{};
    if (uname(&u) == 0) {
        info.kernelRelease = u.release;
        std::string machine = u.machine;
        // The kernel's machine name tells the system's word size, whatever this process is.
        info.os64 = machine.find("64") != std::string::npos || machine == "s390x";
    }
    // A 64-bit process cannot run on a 32-bit system, whatever uname says.
    if (info.process64) info.os64 = true;
    return info;
}
