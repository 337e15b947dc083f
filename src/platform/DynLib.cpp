#include "platform/DynLib.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "platform/Files.h"
#include "platform/Object.h"
#include "platform/ProgramInfo.h"

namespace {

struct TLastError {
    int code = 0;
    std::string message;
};

// dlerror() is per thread and forgets its text once read, so the text is kept here for
// the callers that report it after more calls of their own.
thread_local TLastError LastError;

// The loader has its own lock, but it lives inside ld.so where no race detector sees it;
// the link map a module's path is read from is written by whichever thread loaded the
// module first. One lock of ours around every call that loads, releases or reads module
// data makes that hand-over visible. Recursive because a module's constructors run inside
// dlopen and may load modules of their own.
std::recursive_mutex& LoaderLock() {
    static std::recursive_mutex lock;
    return lock;
}

void SetLastError(int code, std::string message) {
    LastError.code = code;
    LastError.message = std::move(message);
}

// After a failed dl* call: the loader's text. The loader keeps errno to itself, so there
// is no system error number to go with it.
void TakeLoaderError(const char* fallback) {
    const char* text = dlerror();
    SetLastError(0, text ? text : fallback);
}

// The system error behind a failed open of a file named with its folder: dlopen keeps
// errno to itself, so ask the file system whether the file is there and readable. 0 when
// it is (the file itself is what the loader refused) or when the loader searched.
int OpenErrorCode(const std::string& name) {
    if (name.find('/') == std::string::npos) return 0;
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (::access(name.c_str(), R_OK) != 0) return errno;
    return 0;
}

TDynLibHandle OpenExactly(const std::string& name) {
    std::lock_guard<std::recursive_mutex> guard(LoaderLock());
    dlerror();
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* text = dlerror();
        SetLastError(OpenErrorCode(name), text ? text : name + ": cannot open shared object");
        return nullptr;
    }
    return static_cast<TDynLibHandle>(handle);
}

std::string AbsolutePath(const char* name) {
    if (!name || !*name) return ProgramFileName();  // the program's own link map has no name
    return ExpandFileName(name);
}

}  // namespace

std::string DynLibProgramFolderCandidate(std::string_view fileName) {
    std::string name = NormalizePath(fileName);
    if (name.empty() || name.find('/') != std::string::npos) return {};
    std::string program;
    try {
        program = ProgramFileName();
    } catch (const std::exception&) {
        return {};
    }
    std::string folder = ExtractFilePath(program);
    return folder.empty() ? std::string() : folder + name;
}

TDynLibHandle DynLibOpen(std::string_view name) {
    std::string path = NormalizePath(name);
    if (path.empty()) {
        SetLastError(EINVAL, "empty library name");
        return nullptr;
    }
    if (path.find('/') != std::string::npos) return OpenExactly(path);
    // dlopen's own search never looks beside the program, but a bare name is expected to
    // find the copy that was installed with it first.
    std::string beside = DynLibProgramFolderCandidate(path);
    if (!beside.empty() && FileExists(beside)) return OpenExactly(beside);
    return OpenExactly(path);
}

void* DynLibSymbol(TDynLibHandle handle, std::string_view name) {
    if (!handle) {
        SetLastError(EINVAL, "no library handle");
        return nullptr;
    }
    std::string exact(name);
    std::lock_guard<std::recursive_mutex> guard(LoaderLock());
    dlerror();
    void* address = dlsym(handle, exact.c_str());
    // A symbol may legitimately sit at address 0 (absolute symbols); only dlerror tells.
    if (const char* text = dlerror()) {
        SetLastError(0, text);
        return nullptr;
    }
    if (!address) SetLastError(0, "symbol " + exact + " has no address");
    return address;
}

bool DynLibClose(TDynLibHandle handle) {
    if (!handle) {
        SetLastError(EINVAL, "no library handle");
        return false;
    }
    std::lock_guard<std::recursive_mutex> guard(LoaderLock());
    dlerror();
    if (dlclose(handle) != 0) {
        TakeLoaderError("cannot close shared object");
        return false;
    }
    return true;
}

std::string DynLibPath(TDynLibHandle handle) {
    if (!handle) return {};
    struct link_map* map = nullptr;
    std::lock_guard<std::recursive_mutex> guard(LoaderLock());
    dlerror();
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) {
        TakeLoaderError("no module information");
        return {};
    }
    return AbsolutePath(map->l_name);
}

std::string DynLibPathOfAddress(const void* address) {
    Dl_info info{};
    struct link_map* map = nullptr;
    if (!address) return {};
    std::lock_guard<std::recursive_mutex> guard(LoaderLock());
    if (dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0)
        return {};
    if (map) return AbsolutePath(map->l_name);
    return info.dli_fname ? AbsolutePath(info.dli_fname) : std::string();
}

int DynLibLastErrorCode() { return LastError.code; }

std::string DynLibLastErrorMessage() { return LastError.message; }

std::string DynLibErrorMessage(int code) {
    if (code != 0) return SysErrorMessage(code);
    if (!LastError.message.empty()) return LastError.message;
    return SysErrorMessage(LastError.code);
}
