#pragma once
// Environment variables, with the folder fallbacks the host relies on:
//   AppData        -> $AppData, else $XDG_CONFIG_HOME, else $HOME/.config
//   Temp and Tmp   -> $TEMP / $TMP, else $TMPDIR, else /tmp
// Other names: the exact name first, then a name equal without regard to case.

#include <string>
#include <string_view>

// True and the value when the name is defined (through the rules above).
bool GetEnvVar(std::string_view name, std::string& value);
std::string GetEnvVar(std::string_view name);  // "" when undefined
