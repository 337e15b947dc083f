#include "support/TestEnvironment.h"

#include <cstdlib>

void TEnvGuard::Set(const std::string& name, std::optional<std::string> value) {
    if (!FSaved.count(name)) {
        const char* old = std::getenv(name.c_str());
        FSaved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}

TEnvGuard::~TEnvGuard() {
    for (auto& [name, value] : FSaved) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

const TTempDir& ProcessAppData() {
    static TTempDir dir;
    setenv("AppData", dir.Path().c_str(), 1);
    return dir;
}
