#include "platform/Resources.h"

#include <mutex>
#include <string>
#include <vector>

namespace {

struct TRegistry {
    std::mutex lock;
    std::vector<TResourceEntry> entries;
};

// Filled from the generated tables during static initialisation, so it must exist before
// the first of them runs, whatever the order of the translation units.
TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

bool RegisterResources(const TResourceEntry* table, size_t count) {
    if (!table) return false;
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    for (size_t i = 0; i < count; ++i) {
        if (table[i].name) r.entries.push_back(table[i]);
    }
    return true;
}

bool FindResource(std::string_view name, std::string_view& bytes) {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.lock);
    // Newest first: a later registration of a name replaces the earlier one.
    for (auto it = r.entries.rbegin(); it != r.entries.rend(); ++it) {
        if (SameName(it->name, name)) {
            bytes = std::string_view(reinterpret_cast<const char*>(it->data), it->size);
            return true;
        }
    }
    return false;
}
