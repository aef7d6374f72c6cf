// Helpers shared by the native tests.
#pragma once

#include <filesystem>
#include <string>

#include "ZoTypes.h"

// A fresh folder below the system's temporary folder, removed with the object.
class TTempFolder {
public:
    TTempFolder();
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // The folder as a path string of this system's own (native separators).
    WideString Wide(const std::string& name = "") const;

private:
    std::filesystem::path path_;
};

TBytes RandomBytes(size_t size, uint32_t seed);
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
