#pragma once
// Facts about the running program, its modules and the machine.

#include <cstdint>
#include <string>
#include <string_view>

std::string ProgramFileName();          // full path of the program file (/proc/self/exe)
std::string ThisModuleFileName();       // full path of the module holding this code
uintptr_t ProgramModuleHandle();        // load address of the program image
// Full path of the loaded module whose image starts at `handle`; "" when none.
std::string LoadedModulePath(uintptr_t handle);
// Full path of a loaded module found by its file name (with or without folder,
// without regard to case); "" when none is loaded.
std::string LoadedModulePathByName(std::string_view name);

uint64_t CurrentProcessID();
uint64_t CurrentThreadID();            // the kernel's thread id
std::string HostComputerName();        // host name; "" when it cannot be read

struct TOSInfo {
    std::string distribution;   // PRETTY_NAME of os-release, else "Linux"
    std::string kernelRelease;  // uname -r
    bool os64 = false;          // the operating system is 64-bit
    bool process64 = false;     // this process is 64-bit
};
TOSInfo GetOSInfo();
