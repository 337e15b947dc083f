#include <gtest/gtest.h>

#include <dlfcn.h>
#include <limits.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/ProgramInfo.h"

namespace {

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// A library loaded for one test and released afterwards.
class TLoadedLib {
public:
    explicit TLoadedLib(const char* path) : FHandle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
    ~TLoadedLib() {
        if (FHandle) dlclose(FHandle);
    }
    TLoadedLib(const TLoadedLib&) = delete;
    TLoadedLib& operator=(const TLoadedLib&) = delete;
    void* Handle() const { return FHandle; }

private:
    void* FHandle;
};

TEST(ProgramInfo, ProgramAndThisModuleAreTheTestProgramFile) {
    std::string program = ProgramFileName();
    ASSERT_FALSE(program.empty());
    EXPECT_EQ(program[0], '/');
    EXPECT_EQ(program, RealPath("/proc/self/exe"));
    // The platform layer is linked into the program, so this code lives in the program file.
    EXPECT_EQ(ThisModuleFileName(), program);
}

TEST(ProgramInfo, ProgramHandleIsTheImageStartAndNamesTheProgram) {
    uintptr_t handle = ProgramModuleHandle();
    ASSERT_NE(handle, 0u);
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&ProgramModuleHandle), &info), 0);
    EXPECT_EQ(handle, reinterpret_cast<uintptr_t>(info.dli_fbase));
    EXPECT_EQ(LoadedModulePath(handle), ProgramFileName());
    EXPECT_EQ(LoadedModulePath(0), "");
    EXPECT_EQ(LoadedModulePath(handle + 1), "");
}

TEST(ProgramInfo, LoadedLibraryIsFoundByHandleAndByName) {
    const std::string path = KEXO_VERSIONED_LIB;
    const std::string file = path.substr(path.rfind('/') + 1);
    EXPECT_EQ(LoadedModulePathByName(file), "") << "not loaded yet";
    {
        TLoadedLib lib(KEXO_VERSIONED_LIB);
        ASSERT_NE(lib.Handle(), nullptr) << dlerror();
        void* symbol = dlsym(lib.Handle(), "kexo_fixture_answer");
        ASSERT_NE(symbol, nullptr);
        Dl_info info{};
        ASSERT_NE(dladdr(symbol, &info), 0);
        EXPECT_EQ(LoadedModulePath(reinterpret_cast<uintptr_t>(info.dli_fbase)), path);

        struct {
            std::string name;
            std::string expected;
        } cases[] = {
            {file, path},
            {Upper(file), path},
            {path, path},
            {path.substr(0, path.rfind('/')) + "/./" + file, path},
            {"/nowhere/" + file, ""},
            {file + ".1", ""},
            {"", ""},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(LoadedModulePathByName(c.name), c.expected);
        }
        // Libraries the loader brought in by itself are found by their file name as well.
        std::string libc = LoadedModulePathByName("libc.so.6");
        ASSERT_FALSE(libc.empty());
        EXPECT_EQ(libc[0], '/');
    }
    EXPECT_EQ(LoadedModulePathByName(file), "") << "released";
}

TEST(ProgramInfo, ThreadIdsAreTheKernelsOwn) {
    // The first thread of a process has the process id as its thread id.
    EXPECT_EQ(CurrentThreadID(), CurrentProcessID());
    EXPECT_EQ(CurrentProcessID(), static_cast<uint64_t>(getpid()));
    uint64_t other = 0;
    std::thread t([&] { other = CurrentThreadID(); });
    t.join();
    EXPECT_NE(other, 0u);
    EXPECT_NE(other, CurrentThreadID());
}

TEST(ProgramInfo, MachineAndSystemFacts) {
    std::string host = HostComputerName();
    EXPECT_FALSE(host.empty());
    EXPECT_EQ(host.find('\0'), std::string::npos);

    TOSInfo os = GetOSInfo();
    utsname u{};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_FALSE(os.distribution.empty());
    EXPECT_EQ(os.distribution.find('"'), std::string::npos) << "quotes of os-release are removed";
    EXPECT_EQ(os.kernelRelease, u.release);
    EXPECT_EQ(os.process64, sizeof(void*) == 8);
    if (os.process64) {
        EXPECT_TRUE(os.os64);
    }
}

}  // namespace
