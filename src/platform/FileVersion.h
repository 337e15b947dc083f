#pragma once
// The version record that this project puts into the files it builds
// (kexo_add_version_record in cmake/KexoBuild.cmake): a ".kexo_version" ELF section of
// NUL-terminated "Key=Value" strings, read back from the file on disk.

#include <map>
#include <string>
#include <string_view>

// False when the file cannot be read, is not an ELF file or has no record.
bool ReadVersionRecord(std::string_view fileName, std::map<std::string, std::string>& values);
