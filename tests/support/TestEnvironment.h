#pragma once
// Environment variables in tests: set for one test and put back afterwards, and the
// per-process %AppData% folder that keeps the machine's own host ini file out of a test.

#include <map>
#include <optional>
#include <string>

#include "support/TempDir.h"

// Sets variables for one test and puts the old values back afterwards.
class TEnvGuard {
public:
    TEnvGuard() = default;
    TEnvGuard(const TEnvGuard&) = delete;
    TEnvGuard& operator=(const TEnvGuard&) = delete;
    ~TEnvGuard();
    // nullopt removes the variable.
    void Set(const std::string& name, std::optional<std::string> value);

private:
    std::map<std::string, std::optional<std::string>> FSaved;
};

// %AppData% of this test process, set before the host ini file name is first computed (it
// is fixed from then on), so no test sees the machine's own settings. Each call sets the
// variable again, so a test that pointed it elsewhere can come back.
const TTempDir& ProcessAppData();
