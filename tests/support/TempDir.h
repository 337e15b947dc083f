#pragma once
// A fresh temporary folder per test, removed with everything in it afterwards.

#include <string>
#include <string_view>

class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // Path() + "/" + name.
    std::string File(std::string_view name) const;
    // Writes bytes to Path()/name (creating folders) and gives the full path.
    std::string Write(std::string_view name, std::string_view bytes) const;
    // Bytes of Path()/name, "" when missing.
    std::string Read(std::string_view name) const;

private:
    std::string FPath;
};
