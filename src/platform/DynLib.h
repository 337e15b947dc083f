#pragma once
// Dynamic libraries: open a module by path or bare file name, look up its exports, release
// it, and name the file a loaded module came from. Failures answer with none/false and
// leave the loader's text in a per-thread "last error", the way the system's last error
// works: a later success does not clear it. Loading, releasing and reading module data are
// serialised among the calls of this layer.

#include <string>
#include <string_view>

// Opaque handle of one opening of a module; nullptr is "none". Every successful
// DynLibOpen is matched by one DynLibClose.
struct TDynLibModule;
using TDynLibHandle = TDynLibModule*;

// Opens a module and resolves all its symbols at once, so a library with an unresolved
// reference fails here instead of at its first call.
// - A name with a folder part ('/' or '\', which counts as '/') is opened as written.
// - A bare file name is looked for first in the program's own folder; when a file of that
//   name is there, that file is the answer (its error, if it cannot be loaded). Otherwise
//   the system loader searches its usual places.
// - An empty name fails with EINVAL.
TDynLibHandle DynLibOpen(std::string_view name);

// The export with exactly this name (case-sensitive); nullptr when the module has none.
void* DynLibSymbol(TDynLibHandle handle, std::string_view name);

// Typed form of DynLibSymbol for function exports:
//   auto fn = DynLibProc<int32_t (*)()>(h, "WS_Initialize");
template <class TProc>
TProc DynLibProc(TDynLibHandle handle, std::string_view name) {
    return reinterpret_cast<TProc>(DynLibSymbol(handle, name));
}

// Releases one opening; the module leaves memory when its last opening is released.
// False (with the last error set) when the loader refuses, or for a none handle.
bool DynLibClose(TDynLibHandle handle);

// Full path of the file the module was loaded from (the program's path for the program
// itself); "" for a none handle. A module opened by a relative path is reported with the
// current folder prepended.
std::string DynLibPath(TDynLibHandle handle);

// Full path of the loaded module whose image holds `address` (code or data); "" when no
// module holds it.
std::string DynLibPathOfAddress(const void* address);

// Where a bare file name would be looked for first: the program's own folder with the name
// appended; "" when the program's path is unknown or the name has a folder part.
std::string DynLibProgramFolderCandidate(std::string_view fileName);

// The calling thread's last failure in this layer: the system error number behind it and
// the loader's text. The number is known only where the file system tells it (a file named
// with its folder that is missing or unreadable: ENOENT, EACCES, ...; EINVAL for an empty
// name or a none handle); it is 0 when the loader refused a file or searched in vain.
int DynLibLastErrorCode();
std::string DynLibLastErrorMessage();

// Text for an error number: 0 stands for the calling thread's last failure of this layer
// (its loader text, which names the file and the reason); otherwise the system's text for
// that number.
std::string DynLibErrorMessage(int code);
