#include "platform/Environment.h"

#include <cstdlib>

#include "platform/Strings.h"

extern char** environ;

namespace {
bool Lookup(std::string_view name, std::string& value) {
    std::string key(name);
    if (const char* v = std::getenv(key.c_str())) {
        value = v;
        return true;
    }
    for (char** e = environ; e && *e; ++e) {
        std::string_view entry(*e);
        auto eq = entry.find('=');
        if (eq != std::string_view::npos && SameText(entry.substr(0, eq), name)) {
            value = std::string(entry.substr(eq + 1));
            return true;
        }
    }
    return false;
}

bool LookupNonEmpty(const char* name, std::string& value) {
    const char* v = std::getenv(name);
    if (!v || !*v) return false;
    value = v;
    return true;
}
}  // namespace

bool GetEnvVar(std::string_view name, std::string& value) {
    if (name.empty()) return false;
    if (SameText(name, "AppData")) {
        if (Lookup(name, value) && !value.empty()) return true;
        if (LookupNonEmpty("XDG_CONFIG_HOME", value)) return true;
        std::string home;
        if (LookupNonEmpty("HOME", home)) {
            value = home + "/.config";
            return true;
        }
        return false;
    }
    if (SameText(name, "Temp") || SameText(name, "Tmp")) {
        const bool tmpFirst = SameText(name, "Tmp");
        if (LookupNonEmpty(tmpFirst ? "TMP" : "TEMP", value) || LookupNonEmpty(tmpFirst ? "TEMP" : "TMP", value) ||
            LookupNonEmpty("TMPDIR", value))
            return true;
        value = "/tmp";
        return true;
    }
    return Lookup(name, value);
}

std::string GetEnvVar(std::string_view name) {
    std::string v;
    return GetEnvVar(name, v) ? v : std::string();
}
