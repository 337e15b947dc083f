#pragma once
// Path variables, module and machine facts, value-to-text and small file routines.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/Object.h"
#include "platform/Values.h"

// Names of the built-in path variables (written without the "cvp" prefix: %PID%, %Date%).
enum TConfigVarParam {
    cvpPID, cvpDate, cvpTime, cvpDateTime, cvpExeName, cvpMachineName, cvpLibName,
    cvpFullExeName, cvpFullLibName, cvpDocuments, cvpLibrary, cvpPublic, cvpDownloads,
};
// "cvpPID", ... in declaration order.
const char* ConfigVarParamName(TConfigVarParam p);

// Path variables.
std::string ExpandPathVars(std::string_view text);
std::string ResolveConfigVar(std::string_view name);
std::string ExpandEnvironment(std::string_view text);

// Modules and machine.
std::string ExeFileName();
std::string ModuleFileName();
std::string ModulePath(uintptr_t handle);
std::string ModuleFileNameByName(std::string_view name);
uintptr_t MainModuleHandle();
std::string ComputerName();
// True when a 32-bit process runs on a 64-bit system.
bool IsWindows64();
// The version text of a system with the given version numbers (table-tested naming).
std::string WindowsVersionText(int major, int minor, int build, std::string_view servicePack);
std::string OSVersionText();
// The version text and the bitness of the operating system ("... 64-bit").
std::string OSDescription();
std::string GetFileVersion(std::string_view fileName);
std::string FindInSearchPath(std::string_view fileName);

// Files.
// The value of FileDate for a file that does not exist.
inline constexpr TDateTime MissingFileDate = -693593.99999999;
TDateTime FileDate(std::string_view fileName);
bool IsFileEmpty(std::string_view fileName);
std::string ReadFileText(std::string_view fileName);
void AppendLineToFile(std::string_view fileName, std::string_view text);
std::string UniqueFileName(std::string_view fileName);
std::string IniReadString(std::string_view fileName, std::string_view section, std::string_view key,
                          std::string_view def);

// Text.
std::string BoolText(bool value);
// 1-based position of sub in text at or after from, without regard to case; 0 when none.
int PosText(std::string_view sub, std::string_view text, int from = 1);
std::string CutFirst(std::string& text, std::string_view separator);
struct TExtractResult {
    std::string value;
    int startPos = 0;  // just after the start mark; 0 when there is none
    int endPos = 0;    // position of the value's last character
};
TExtractResult ExtractBetween(std::string_view text, std::string_view startMark, std::string_view endMark,
                              int from = 1);
std::string PrefixLines(std::string_view text, std::string_view prefix, std::string_view separator);

// The platform's default conversions of numbers to text.
std::string FloatToText(double value);        // general format, up to 15 significant digits
std::string CurrencyToText(TCurrency value);  // at most four decimals

std::string ValueToText(const TVarRec& value);
std::string VariantToText(const TVariant& value);

// Raised by VariantToText for a variant type without a text.
class EVariantError : public Exception {
public:
    using Exception::Exception;
};
