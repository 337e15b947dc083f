#pragma once
// Resources compiled into the program (kexo_add_resources in cmake/KexoBuild.cmake).

#include <cstddef>
#include <string_view>

struct TResourceEntry {
    const char* name;
    const unsigned char* data;
    size_t size;
};

// Called by the generated table of a target; later registrations of a name win.
bool RegisterResources(const TResourceEntry* table, size_t count);
// Finds a resource by name without regard to case.
bool FindResource(std::string_view name, std::string_view& bytes);
