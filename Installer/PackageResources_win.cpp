#include "PackageResources_win.h"

#include <cstring>
#include <utility>

#include "PackageResources.h"
#include "SetupFn.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

bool TPackageResources::Has(const WideString& name) const
{
    if (image_) return FindPackageResource(*image_, name) != nullptr;
    AnsiString ansiName = ZoPlatform::WideToAnsi(name);
    return module_ && FindResourceA(module_, ansiName.c_str(), MAKEINTRESOURCEA(10)) != nullptr;
}

std::span<const uint8_t> TPackageResources::Raw(const WideString& name) const
{
    if (image_) {
        const TPeResource* r = FindPackageResource(*image_, name);
        // The reader checked the resource lies in a section; the view is the whole file.
        if (r && r->SourceOffset <= image_->FileSize() && r->Size <= image_->FileSize() - r->SourceOffset)
            return {view_ + r->SourceOffset, r->Size};
    } else if (module_) {
        AnsiString ansiName = ZoPlatform::WideToAnsi(name);
        // A resource's memory belongs to the module: nothing here needs releasing.
        HRSRC info = FindResourceA(module_, ansiName.c_str(), MAKEINTRESOURCEA(10));
        HGLOBAL loaded = info ? LoadResource(module_, info) : nullptr;
        const void* data = loaded ? LockResource(loaded) : nullptr;
        if (data) return {static_cast<const uint8_t*>(data), SizeofResource(module_, info)};
    }
    throw EResNotFound(FormatText(u"Resource %s not found", {name}));
}

TPackageModule& TPackageModule::operator=(TPackageModule&& other) noexcept
{
    if (this == &other) return *this;
    Reset();
    module_ = std::exchange(other.module_, nullptr);
    folder_ = std::move(other.folder_);
    file_ = std::move(other.file_);
    mapping_ = std::move(other.mapping_);
    view_ = std::move(other.view_);
    size_ = std::exchange(other.size_, 0);
    image_ = std::move(other.image_);
    return *this;
}

void TPackageModule::Reset() noexcept
{
    // The reader before the view it reads, the file before its folder.
    image_.reset();
    size_ = 0;
    view_.Reset();
    mapping_.Reset();
    file_.Reset();
    folder_.Reset();
    module_ = nullptr;
}

TPackageModule TPackageModule::Own()
{
    TPackageModule own;
    own.module_ = GetModuleHandleW(nullptr);
    return own;
}

TPackageModule TPackageModule::MapFile(TUniqueFile file, TUniqueFile folder)
{
    TPackageModule m;
    m.folder_ = std::move(folder);
    m.file_ = std::move(file);
    LARGE_INTEGER size{};
    if (!m.file_ || !GetFileSizeEx(m.file_.Get(), &size)) throw EPeFormatError(u"the file could not be read");
    if (size.QuadPart == 0 || static_cast<uint64_t>(size.QuadPart) > SIZE_MAX)
        throw EPeFormatError(u"the file is empty or too large to map");
    m.mapping_.Reset(CreateFileMappingW(m.file_.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (m.mapping_) m.view_.Reset(MapViewOfFile(m.mapping_.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!m.view_) throw EPeFormatError(u"the file could not be mapped");
    m.size_ = static_cast<uint64_t>(size.QuadPart);
    m.image_ = std::make_unique<TPeImage>(ViewSource(static_cast<const uint8_t*>(m.view_.Get()), m.size_));
    return m;
}

TPackageResources TPackageModule::Resources() const
{
    if (image_) return TPackageResources(image_.get(), static_cast<const uint8_t*>(view_.Get()));
    return TPackageResources(module_);
}

bool HasPackageResource(TPackageResources module, const AnsiString& name) { return module.Has(FromUtf8(name)); }

bool ReadPackageResource(TPackageResources module, const WideString& name, TMemoryStream* target)
{
    std::span<const uint8_t> data = module.Raw(name);
    target->Clear();
    target->SetSize(static_cast<int64_t>(data.size()));
    if (!data.empty()) std::memcpy(target->Memory(), data.data(), data.size());
    target->SetPosition(0);
    TSetupfn::DecodeStream(target);
    return true;
}
