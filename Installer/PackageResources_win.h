// Access to the encoded RCDATA resources of an installer file: the program's
// own module from start-up on, or a downloaded full package mapped read-only
// through the one handle that wrote and verified it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <span>

#include "PackageFormat.h"
#include "PeResources.h"
#include "ZoStream.h"
#include "ZoTypes.h"
#include "ZoWinHandles_win.h"

// Where resources are read, not owned: a module the system loaded, or the
// portable reader over a mapped view. Cheap to copy; the owner outlives it.
class TPackageResources {
public:
    TPackageResources() = default;
    TPackageResources(HMODULE module) : module_(module) {}  // NOLINT: a loaded module is one
    TPackageResources(const TPeImage* image, const uint8_t* view) : image_(image), view_(view) {}

    explicit operator bool() const { return module_ || image_; }
    // True when an RCDATA resource of that name is there; nothing is copied.
    bool Has(const WideString& name) const;
    // The resource's bytes where they lie (mapped, never copied). Raises
    // EResNotFound "Resource %s not found" when absent.
    std::span<const uint8_t> Raw(const WideString& name) const;

private:
    HMODULE module_ = nullptr;
    const TPeImage* image_ = nullptr;
    const uint8_t* view_ = nullptr;
};

// The owner behind a TPackageResources: the own module (never freed), or a
// package file with its mapping and, for a download, the private folder it
// lies in. Released in that order, so a file opened delete-on-close goes
// before its folder, which then goes too.
class TPackageModule {
public:
    TPackageModule() = default;
    TPackageModule(TPackageModule&& other) noexcept { *this = std::move(other); }
    TPackageModule& operator=(TPackageModule&& other) noexcept;
    ~TPackageModule() { Reset(); }

    // The module the system started (GetModuleHandleW(nullptr)): whatever the
    // command line calls it, it is the file that runs.
    static TPackageModule Own();
    // Maps the whole file read-only through its handle (which needs read
    // access) and parses its resources; raises EPeFormatError for a file
    // that is no PE image. file and folder are held to the end.
    static TPackageModule MapFile(TUniqueFile file, TUniqueFile folder = TUniqueFile());

    TPackageResources Resources() const;
    // The mapped file's bytes (empty for a loaded module).
    std::span<const uint8_t> FileBytes() const { return {static_cast<const uint8_t*>(view_.Get()), static_cast<size_t>(size_)}; }
    explicit operator bool() const { return module_ || image_; }
    // A file mapped here (a download), not the module the system loaded.
    bool IsMappedFile() const { return image_ != nullptr; }
    // Gives everything up: the file and its folder go now.
    void Reset() noexcept;

private:
    HMODULE module_ = nullptr;
    TUniqueFile folder_;
    TUniqueFile file_;
    TUniqueHandle mapping_;
    TUniqueView view_;
    uint64_t size_ = 0;
    std::unique_ptr<TPeImage> image_;
};

// True when the resources hold an RCDATA resource of that name.
bool HasPackageResource(TPackageResources module, const AnsiString& name);
// target := the decoded resource. Raises EResNotFound "Resource %s not found"
// when absent; decoding errors propagate.
bool ReadPackageResource(TPackageResources module, const WideString& name, TMemoryStream* target);
