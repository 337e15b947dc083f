#include "platform/Object.h"

#include <cxxabi.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <typeindex>

std::string TypeDisplayName(const std::type_info& type) {
    // Demangling is not free and log senders ask for it on every entry: keep a cache.
    static std::shared_mutex lock;
    static std::map<std::type_index, std::string> cache;
    {
        std::shared_lock<std::shared_mutex> read(lock);
        auto it = cache.find(type);
        if (it != cache.end()) return it->second;
    }
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
    // Drop namespaces, but not inside template arguments.
    auto angle = name.find('<');
    auto scope = name.rfind("::", angle == std::string::npos ? std::string::npos : angle);
    if (scope != std::string::npos) name.erase(0, scope + 2);
    std::unique_lock<std::shared_mutex> write(lock);
    return cache.emplace(type, name).first->second;
}

TObject::~TObject() = default;

std::string TObject::ClassName() const { return TypeDisplayName(typeid(*this)); }

Exception::Exception(std::string message) : FMessage(std::move(message)) {}

std::string ExceptionClassName(const std::exception& e) {
    if (auto* own = dynamic_cast<const Exception*>(&e)) return own->ClassName();
    return TypeDisplayName(typeid(e));
}

std::string ExceptionMessage(const std::exception& e) {
    if (auto* own = dynamic_cast<const Exception*>(&e)) return own->Message();
    return e.what();
}

std::string SysErrorMessage(int code) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not be in buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return text ? text : std::string();
}

EOSError::EOSError(int code, const std::string& context)
    : Exception(context.empty() ? SysErrorMessage(code) : context + ": " + SysErrorMessage(code)),
      FErrorCode(code) {}
