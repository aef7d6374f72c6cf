#include "PeResources.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "PeLayout.h"
#include "ZoSysUtils.h"

using namespace PeLayout;

namespace {

// A directory whose entries fan out to millions of resources is damage, not a
// real file; stop long before it costs time or memory.
constexpr size_t kMaxResources = 100000;
constexpr uint32_t kMaxPackageSize = 0x7FFFFFFFu;
constexpr size_t kCopyChunk = 1 << 20;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }
bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// A field of one data directory entry, in the optional header.
uint32_t DirField(bool is64, uint32_t index, uint32_t field)
{
    return Opt::DataDirectories(is64) + index * DataDir::Size + field;
}

[[noreturn]] void Fail(const char* text) { throw EPeFormatError(FromUtf8(text)); }

class TMemorySource : public TByteSource {
public:
    explicit TMemorySource(TBytes bytes) : bytes_(std::move(bytes)) {}
    uint64_t Size() const override { return bytes_.size(); }
    void ReadAt(uint64_t offset, void* buffer, size_t count) const override
    {
        if (offset > bytes_.size() || count > bytes_.size() - offset) Fail("read past the end of the file");
        if (count) std::memcpy(buffer, bytes_.data() + offset, count);
    }

private:
    TBytes bytes_;
};

class TViewSource : public TByteSource {
public:
    TViewSource(const uint8_t* data, uint64_t size) : data_(data), size_(size) {}
    uint64_t Size() const override { return size_; }
    void ReadAt(uint64_t offset, void* buffer, size_t count) const override
    {
        if (offset > size_ || count > size_ - offset) Fail("read past the end of the file");
        if (count) std::memcpy(buffer, data_ + offset, count);
    }

private:
    const uint8_t* data_;
    uint64_t size_;
};

class TFileSource : public TByteSource {
public:
    explicit TFileSource(const WideString& fileName) : file_(fileName, TFileStream::fmOpenRead)
    {
        size_ = static_cast<uint64_t>(file_.Size());
    }
    uint64_t Size() const override { return size_; }
    void ReadAt(uint64_t offset, void* buffer, size_t count) const override
    {
        if (offset > size_ || count > size_ - offset) Fail("read past the end of the file");
        file_.SetPosition(static_cast<int64_t>(offset));
        if (file_.Read(buffer, count) != count) Fail("the file could not be read");
    }

private:
    mutable TFileStream file_;
    uint64_t size_ = 0;
};

// The PE checksum: 16-bit words summed with the carries folded back in, plus
// the file length. Chunks may be added in any split as long as they come in order.
class TCheckSummer {
public:
    explicit TCheckSummer(uint64_t checkSumOffset) : skip_(checkSumOffset) {}
    void Add(const uint8_t* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i, ++pos_) {
            uint8_t b = (pos_ >= skip_ && pos_ < skip_ + 4) ? 0 : data[i];
            sum_ += (pos_ & 1) ? static_cast<uint32_t>(b) << 8 : b;
            if (pos_ & 1) sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
        }
    }
    uint32_t Finish() const
    {
        uint64_t s = sum_;  // an odd final byte is a word with a zero high byte
        s = (s & 0xFFFF) + (s >> 16);
        s = (s & 0xFFFF) + (s >> 16);
        return static_cast<uint32_t>(s + pos_);
    }

private:
    uint64_t skip_;
    uint64_t pos_ = 0;
    uint64_t sum_ = 0;
};

}  // namespace

uint32_t PeCheckSum(const uint8_t* data, size_t size, size_t checkSumOffset)
{
    TCheckSummer summer(checkSumOffset);
    summer.Add(data, size);
    return summer.Finish();
}

std::unique_ptr<TByteSource> MemorySource(TBytes bytes) { return std::make_unique<TMemorySource>(std::move(bytes)); }
std::unique_ptr<TByteSource> ViewSource(const uint8_t* data, uint64_t size)
{
    return std::make_unique<TViewSource>(data, size);
}
std::unique_ptr<TByteSource> FileSource(const WideString& fileName) { return std::make_unique<TFileSource>(fileName); }

WideString TPeSection::NameText() const
{
    WideString text;
    for (char c : Name) {
        if (c == 0) break;
        text += static_cast<char16_t>(static_cast<unsigned char>(c));
    }
    return text;
}

// ---- Names ---------------------------------------------------------------------

TResName::TResName(const WideString& name) : name_(WideUpperCase(name))
{
    if (name_.empty()) Fail("a resource name cannot be empty");
    if (name_.size() > 0xFFFF) Fail("a resource name cannot be longer than 65535 characters");
}

WideString TResName::ToString() const
{
    if (!IsId()) return name_;
    WideString text = u"#";
    text += IntToStr(id_);
    return text;
}

bool operator<(const TResName& a, const TResName& b)
{
    if (a.IsId() != b.IsId()) return !a.IsId();
    if (a.IsId()) return a.id_ < b.id_;
    return a.name_ < b.name_;
}

namespace {
bool ResourceOrder(const TPeResource& a, const TPeResource& b)
{
    if (!(a.Type == b.Type)) return a.Type < b.Type;
    if (!(a.Name == b.Name)) return a.Name < b.Name;
    return a.Language < b.Language;
}
}  // namespace

// ---- Reading ---------------------------------------------------------------------

TPeImage::TPeImage(std::unique_ptr<TByteSource> source) : source_(std::move(source))
{
    ParseHeaders();
    ParseResources();
}

void TPeImage::ParseHeaders()
{
    const uint64_t size = source_->Size();
    if (size < Dos::Size) Fail("not a PE file: too short for an MZ header");
    uint8_t dos[Dos::Size];
    source_->ReadAt(0, dos, sizeof dos);
    if (dos[0] != 'M' || dos[1] != 'Z') Fail("not a PE file: no MZ header");
    peOffset_ = Get32(dos + Dos::PeHeaderOffset);
    if (uint64_t(peOffset_) + Coff::Size > size) Fail("not a PE file: the PE header lies past the end of the file");
    uint8_t coff[Coff::Size];
    source_->ReadAt(peOffset_, coff, sizeof coff);
    if (std::memcmp(coff, "PE\0\0", 4) != 0) Fail("not a PE file: no PE signature");
    machine_ = Get16(coff + Coff::Machine);
    uint16_t sectionCount = Get16(coff + Coff::NumberOfSections);
    symbolTable_ = Get32(coff + Coff::PointerToSymbolTable);
    optSize_ = Get16(coff + Coff::SizeOfOptionalHeader);
    optOffset_ = peOffset_ + Coff::Size;
    if (sectionCount == 0 || sectionCount > Section::MaxCount) Fail("damaged PE file: implausible number of sections");
    if (uint64_t(optOffset_) + optSize_ > size) Fail("damaged PE file: the optional header is cut off");
    if (optSize_ < 2) Fail("damaged PE file: no optional header");
    TBytes opt(optSize_);
    source_->ReadAt(optOffset_, opt.data(), opt.size());
    uint16_t magic = Get16(opt.data() + Opt::Magic);
    if (magic == Opt::Magic64)
        is64_ = true;
    else if (magic != Opt::Magic32)
        Fail("not a PE32 or PE32+ file: unknown optional header magic");
    const uint32_t dirsAt = Opt::DataDirectories(is64_);
    if (optSize_ < dirsAt) Fail("damaged PE file: the optional header is too short");
    sectionAlignment_ = Get32(&opt[Opt::SectionAlignment]);
    fileAlignment_ = Get32(&opt[Opt::FileAlignment]);
    sizeOfHeaders_ = Get32(&opt[Opt::SizeOfHeaders]);
    checkSum_ = Get32(&opt[Opt::CheckSum]);
    sizeOfImage_ = Get32(&opt[Opt::SizeOfImage]);
    subsystem_ = Get16(&opt[Opt::Subsystem]);
    numberOfDirs_ = std::min<uint32_t>(
        {Get32(&opt[dirsAt - Opt::NumberOfRvaAndSizes]), (optSize_ - dirsAt) / DataDir::Size, DataDir::MaxCount});
    if (!IsPowerOfTwo(fileAlignment_) || !IsPowerOfTwo(sectionAlignment_) || sectionAlignment_ < fileAlignment_)
        Fail("damaged PE file: invalid section or file alignment");
    if (numberOfDirs_ > DataDir::Resource) {
        resourceRva_ = Get32(&opt[DirField(is64_, DataDir::Resource, DataDir::Rva)]);
        resourceSize_ = Get32(&opt[DirField(is64_, DataDir::Resource, DataDir::Bytes)]);
    }
    if (numberOfDirs_ > DataDir::Security) securitySize_ = Get32(&opt[DirField(is64_, DataDir::Security, DataDir::Bytes)]);

    sectionTable_ = optOffset_ + optSize_;
    if (uint64_t(sectionTable_) + uint64_t(Section::Size) * sectionCount > size)
        Fail("damaged PE file: the section table is cut off");
    TBytes table(uint64_t(Section::Size) * sectionCount);
    source_->ReadAt(sectionTable_, table.data(), table.size());
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint8_t* h = &table[uint64_t(Section::Size) * i];
        TPeSection s{};
        std::memcpy(s.Name, h + Section::Name, Section::NameSize);
        s.VirtualSize = Get32(h + Section::VirtualSize);
        s.VirtualAddress = Get32(h + Section::VirtualAddress);
        s.RawSize = Get32(h + Section::SizeOfRawData);
        s.RawPointer = Get32(h + Section::PointerToRawData);
        s.Characteristics = Get32(h + Section::Characteristics);
        if (s.RawSize != 0 && uint64_t(s.RawPointer) + s.RawSize > size)
            Fail("damaged PE file: a section extends past the end of the file");
        sections_.push_back(s);
    }
}

uint64_t TPeImage::RvaToOffset(uint32_t rva, uint32_t size) const
{
    for (const TPeSection& s : sections_) {
        if (rva >= s.VirtualAddress && uint64_t(rva) - s.VirtualAddress + size <= s.RawSize)
            return uint64_t(s.RawPointer) + (rva - s.VirtualAddress);
    }
    if (uint64_t(rva) + size <= sizeOfHeaders_ && uint64_t(rva) + size <= source_->Size()) return rva;
    Fail("damaged resource directory: it points outside the file's sections");
}

void TPeImage::ParseResources()
{
    if (resourceRva_ == 0 || resourceSize_ == 0) return;
    const uint32_t base = resourceRva_;
    size_t visited = 0;

    auto readAt = [&](uint32_t offset, void* buffer, uint32_t count) {
        if (uint64_t(base) + offset > 0xFFFFFFFFull) Fail("damaged resource directory: offset out of range");
        source_->ReadAt(RvaToOffset(base + offset, count), buffer, count);
    };
    // Entries of one directory table: (name-or-id field, offset field).
    auto readTable = [&](uint32_t offset) {
        uint8_t head[Rsrc::TableSize];
        readAt(offset, head, Rsrc::TableSize);
        uint32_t count = uint32_t(Get16(head + Rsrc::NumberOfNamedEntries)) + Get16(head + Rsrc::NumberOfIdEntries);
        visited += count;
        if (visited > kMaxResources) Fail("damaged resource directory: too many entries");
        std::vector<std::pair<uint32_t, uint32_t>> entries(count);
        if (count) {
            TBytes raw(uint64_t(Rsrc::EntrySize) * count);
            readAt(offset + Rsrc::TableSize, raw.data(), static_cast<uint32_t>(raw.size()));
            for (uint32_t i = 0; i < count; ++i) {
                const uint8_t* e = &raw[uint64_t(Rsrc::EntrySize) * i];
                entries[i] = {Get32(e + Rsrc::EntryName), Get32(e + Rsrc::EntryTarget)};
            }
        }
        return entries;
    };
    auto readName = [&](uint32_t field) -> TResName {
        if (!(field & Rsrc::NameFlag)) {
            if (field > 0xFFFF) Fail("damaged resource directory: invalid resource number");
            return TResName(static_cast<uint16_t>(field));
        }
        uint32_t at = field & ~Rsrc::NameFlag;
        uint8_t len[2];
        readAt(at, len, 2);
        uint16_t n = Get16(len);
        if (n == 0) Fail("damaged resource directory: empty resource name");
        TBytes raw(2ull * n);
        readAt(at + 2, raw.data(), static_cast<uint32_t>(raw.size()));
        WideString name(n, u'\0');
        for (uint16_t i = 0; i < n; ++i) name[i] = static_cast<char16_t>(Get16(&raw[2ull * i]));
        return TResName(name);
    };

    for (auto [typeField, typeDir] : readTable(0)) {
        if (!(typeDir & Rsrc::SubdirectoryFlag)) Fail("damaged resource directory: a type entry is not a directory");
        TResName type = readName(typeField);
        for (auto [nameField, nameDir] : readTable(typeDir & ~Rsrc::SubdirectoryFlag)) {
            if (!(nameDir & Rsrc::SubdirectoryFlag)) Fail("damaged resource directory: a name entry is not a directory");
            TResName name = readName(nameField);
            for (auto [langField, dataAt] : readTable(nameDir & ~Rsrc::SubdirectoryFlag)) {
                if (dataAt & Rsrc::SubdirectoryFlag) Fail("damaged resource directory: too many levels");
                if (langField > 0xFFFF) Fail("damaged resource directory: invalid language");
                uint8_t entry[Rsrc::DataEntrySize];
                readAt(dataAt, entry, Rsrc::DataEntrySize);
                TPeResource r;
                r.Type = type;
                r.Name = name;
                r.Language = static_cast<uint16_t>(langField);
                r.Size = Get32(entry + Rsrc::DataSize);
                r.CodePage = Get32(entry + Rsrc::DataCodePage);
                uint32_t rva = Get32(entry + Rsrc::DataRva);
                if (r.Size != 0)
                    r.SourceOffset = RvaToOffset(rva, r.Size);
                resources_.push_back(std::move(r));
            }
        }
    }
    // A stable sort, through a sort of the entries' places (the library's
    // stable sort brings its merge code for this one type).
    std::vector<uint32_t> order(resources_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    SortPlaces(order, [](const void* context, uint32_t a, uint32_t b) {
        const auto& resources = *static_cast<const std::vector<TPeResource>*>(context);
        const TPeResource& x = resources[a];
        const TPeResource& y = resources[b];
        if (ResourceOrder(x, y)) return true;
        return !ResourceOrder(y, x) && a < b;
    }, &resources_);
    std::vector<TPeResource> sorted;
    sorted.reserve(order.size());
    for (uint32_t i : order) sorted.push_back(std::move(resources_[i]));
    resources_ = std::move(sorted);
    // The same type, name and language twice: the loader sees the first.
    resources_.erase(std::unique(resources_.begin(), resources_.end(),
                                 [](const TPeResource& a, const TPeResource& b) {
                                     return a.Type == b.Type && a.Name == b.Name && a.Language == b.Language;
                                 }),
                     resources_.end());
}

const TPeResource* TPeImage::Find(const TResName& type, const TResName& name) const
{
    const TPeResource* found = nullptr;
    for (const TPeResource& r : resources_) {
        if (!(r.Type == type) || !(r.Name == name)) continue;
        if (r.Language == 0) return &r;
        if (!found) found = &r;
    }
    return found;
}

std::vector<const TPeResource*> TPeImage::ResourcesOfType(const TResName& type) const
{
    std::vector<const TPeResource*> list;
    for (const TPeResource& r : resources_)
        if (r.Type == type) list.push_back(&r);
    return list;
}

TBytes TPeImage::ReadResource(const TPeResource& resource) const
{
    if (resource.Data) return *resource.Data;
    TBytes data(resource.Size);
    if (!data.empty()) source_->ReadAt(resource.SourceOffset, data.data(), data.size());
    return data;
}

void TPeImage::ReadResourcePart(const TPeResource& resource, uint64_t offset, void* buffer, size_t count) const
{
    if (offset > resource.Size || count > resource.Size - offset) Fail("read past the end of a resource");
    if (count == 0) return;
    if (resource.Data)
        std::memcpy(buffer, resource.Data->data() + offset, count);
    else
        source_->ReadAt(resource.SourceOffset + offset, buffer, count);
}

uint32_t TPeImage::ComputeCheckSum() const
{
    TCheckSummer summer(optOffset_ + 64);
    TBytes chunk(kCopyChunk);
    for (uint64_t at = 0, size = source_->Size(); at < size;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - at));
        source_->ReadAt(at, chunk.data(), n);
        summer.Add(chunk.data(), n);
        at += n;
    }
    return summer.Finish();
}

// ---- Changing --------------------------------------------------------------------

void TPeImage::SetResource(const TResName& type, const TResName& name, TBytes data, uint16_t language)
{
    if (data.size() > kMaxPackageSize) Fail("a resource cannot reach 2 GiB");
    std::vector<TPeResource*> same;
    for (TPeResource& r : resources_)
        if (r.Type == type && r.Name == name) same.push_back(&r);
    if (same.size() == 1) language = same.front()->Language;
    RemoveResource(type, name);
    TPeResource r;
    r.Type = type;
    r.Name = name;
    r.Language = language;
    r.Size = static_cast<uint32_t>(data.size());
    r.Data = std::move(data);
    resources_.insert(std::upper_bound(resources_.begin(), resources_.end(), r, ResourceOrder), std::move(r));
}

size_t TPeImage::RemoveResource(const TResName& type, const TResName& name)
{
    size_t before = resources_.size();
    std::erase_if(resources_, [&](const TPeResource& r) { return r.Type == type && r.Name == name; });
    return before - resources_.size();
}

// ---- Writing ---------------------------------------------------------------------

namespace {

// Output that can be read back, for the checksum over the finished file.
class TReadWriteFile : public TStream {
public:
    explicit TReadWriteFile(const WideString& fileName) : name_(fileName)
    {
        file_ = OpenFile(fileName, "w+b");
        if (!file_)
            throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {fileName, FromUtf8(std::strerror(errno))}));
    }
    size_t Read(void* buffer, size_t count) override { return std::fread(buffer, 1, count, file_.get()); }
    size_t Write(const void* buffer, size_t count) override { return std::fwrite(buffer, 1, count, file_.get()); }
    int64_t Size() const override
    {
        std::fflush(file_.get());
        int64_t here = Tell();
        Seek(0, SEEK_END);
        int64_t size = Tell();
        Seek(here, SEEK_SET);
        return size;
    }
    int64_t Position() const override { return Tell(); }
    void SetPosition(int64_t position) override { Seek(position, SEEK_SET); }
    void Close()
    {
        std::FILE* f = file_.release();
        bool ok = std::fflush(f) == 0;
        ok = std::fclose(f) == 0 && ok;
        if (!ok) throw EStreamError(FormatText(u"Cannot write file \"%s\".", {name_}));
    }

private:
    int64_t Tell() const
    {
#ifdef _WIN32
        return _ftelli64(file_.get());
#else
        return ftello(file_.get());
#endif
    }
    void Seek(int64_t at, int whence) const
    {
#ifdef _WIN32
        _fseeki64(file_.get(), at, whence);
#else
        fseeko(file_.get(), at, whence);
#endif
    }
    WideString name_;
    UniqueFile file_;
};

void WriteZeros(TStream& out, uint64_t count)
{
    static const uint8_t zeros[4096] = {};
    while (count > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, sizeof zeros));
        out.WriteBuffer(zeros, n);
        count -= n;
    }
}

void CopyRange(const TByteSource& source, uint64_t from, uint64_t count, TStream& out)
{
    TBytes chunk(static_cast<size_t>(std::min<uint64_t>(count, kCopyChunk)));
    while (count > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(count, chunk.size()));
        source.ReadAt(from, chunk.data(), n);
        out.WriteBuffer(chunk.data(), n);
        from += n;
        count -= n;
    }
}

// Counts what the streamed resource writes, so its size is known afterwards.
class TCountingStream : public TStream {
public:
    explicit TCountingStream(TStream& target) : target_(target) {}
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* buffer, size_t count) override
    {
        size_t n = target_.Write(buffer, count);
        written_ += n;
        if (written_ > kMaxPackageSize) Fail("the resource section would reach 2 GiB");
        return n;
    }
    int64_t Size() const override { return static_cast<int64_t>(written_); }
    int64_t Position() const override { return static_cast<int64_t>(written_); }
    void SetPosition(int64_t) override { Fail("the streamed resource must be written in order"); }
    uint64_t Written() const { return written_; }

private:
    TStream& target_;
    uint64_t written_ = 0;
};

}  // namespace

// Where everything of the new resource section goes, relative to its start.
struct TPeImage::Layout {
    struct Entry {
        const TPeResource* resource = nullptr;  // null: the streamed one
        TResName type, name;
        uint16_t language = 0;
        uint32_t dataEntryAt = 0, dataAt = 0, size = 0;
    };
    struct NameGroup {
        TResName name;
        std::vector<size_t> langs;  // indexes into entries
        uint32_t tableAt = 0;
    };
    struct TypeGroup {
        TResName type;
        std::vector<NameGroup> names;
        uint32_t tableAt = 0;
    };
    std::vector<Entry> entries;  // in directory order
    std::vector<TypeGroup> types;  // the three levels: type -> name -> languages
    std::map<WideString, uint32_t> stringAt;
    uint32_t directorySize = 0;  // tables, strings and data entries
    TBytes directory;            // their bytes
    uint32_t fixedEnd = 0;       // end of the data known before writing
    int streamedIndex = -1;
};

// Where the new resource section goes in the file, and what it replaces.
struct TPeImage::Placement {
    std::vector<TPeSection> sections;  // the new section table
    uint32_t index = 0;                // the resource section's entry in it
    bool inPlace = false;              // it replaces the old resource section
    uint64_t rawPointer = 0;           // its file offset
    uint64_t copyEnd = 0;              // the old file's bytes before it end here
    uint64_t overlayStart = 0;         // the old file's data after all sections
};

uint64_t TPeImage::WriteResourceSection(TStream& out, const Layout& layout, const TStreamedResource* streamed) const
{
    const uint64_t start = out.Position();
    out.WriteBuffer(layout.directory.data(), layout.directory.size());
    uint64_t at = layout.directory.size();
    for (const Layout::Entry& e : layout.entries) {
        if (!e.resource) continue;
        WriteZeros(out, e.dataAt - at);
        if (e.resource->Data)
            out.WriteBuffer(e.resource->Data->data(), e.resource->Data->size());
        else
            CopyRange(*source_, e.resource->SourceOffset, e.size, out);
        at = uint64_t(e.dataAt) + e.size;
    }
    WriteZeros(out, layout.fixedEnd - at);
    uint64_t total = layout.fixedEnd;
    if (streamed) {
        TCountingStream counter(out);
        uint64_t reported = streamed->Write(counter);
        if (reported != counter.Written()) Fail("the streamed resource reported a wrong size");
        total += counter.Written();
        if (total > kMaxPackageSize) Fail("the resource section would reach 2 GiB");
    }
    if (out.Position() - start != total) Fail("the resource section was not written in full");
    return total;
}

int TPeImage::InPlaceSection(uint64_t* lastRawEnd) const
{
    uint64_t end = sizeOfHeaders_;
    size_t lastByVa = 0;
    for (size_t i = 0; i < sections_.size(); ++i) {
        const TPeSection& s = sections_[i];
        if (s.RawSize) end = std::max<uint64_t>(end, uint64_t(s.RawPointer) + s.RawSize);
        if (s.VirtualAddress > sections_[lastByVa].VirtualAddress) lastByVa = i;
    }
    if (lastRawEnd) *lastRawEnd = end;
    const TPeSection& s = sections_[lastByVa];
    if (resourceRva_ != 0 && s.VirtualAddress == resourceRva_ &&
        (s.RawSize == 0 || uint64_t(s.RawPointer) + s.RawSize == end))
        return static_cast<int>(lastByVa);
    return -1;
}

void TPeImage::CheckWritable() const
{
    if (IsSigned())
        Fail("the file carries an Authenticode signature; add resources to the unsigned file and sign afterwards");
    if (numberOfDirs_ < 3) Fail("the file has no resource directory entry in its optional header");
    // The loader wants the sections in address order, aligned, apart, and
    // after the headers; a new section placed after a damaged table would not load.
    if (uint64_t(sectionTable_) + uint64_t(Section::Size) * sections_.size() > sizeOfHeaders_)
        Fail("damaged PE file: the section table lies outside the headers");
    uint64_t vaFloor = sizeOfHeaders_;
    for (const TPeSection& s : sections_) {
        if (s.RawSize != 0 && s.RawPointer < sizeOfHeaders_) Fail("damaged PE file: a section overlaps the headers");
        if (s.VirtualAddress < vaFloor || s.VirtualAddress % sectionAlignment_ != 0)
            Fail("damaged PE file: sections overlap or are out of order");
        vaFloor = uint64_t(s.VirtualAddress) + std::max<uint64_t>(std::max(s.VirtualSize, s.RawSize), 1);
    }
    if (InPlaceSection(nullptr) < 0) {
        uint64_t end = sectionTable_ + uint64_t(Section::Size) * (sections_.size() + 1);
        uint64_t firstRaw = sizeOfHeaders_;
        for (const TPeSection& s : sections_)
            if (s.RawSize) firstRaw = std::min<uint64_t>(firstRaw, s.RawPointer);
        if (end > firstRaw) Fail("the headers have no room for another section");
    }
}

TPeImage::Layout TPeImage::LayOut(const TStreamedResource* streamed) const
{
    Layout layout;
    for (const TPeResource& r : resources_) {
        if (streamed && r.Type == streamed->Type && r.Name == streamed->Name && r.Language == streamed->Language)
            continue;
        layout.entries.push_back({&r, r.Type, r.Name, r.Language, 0, 0, r.Size});
    }
    if (streamed) {
        Layout::Entry e{nullptr, streamed->Type, streamed->Name, streamed->Language, 0, 0, 0};
        auto at = std::upper_bound(layout.entries.begin(), layout.entries.end(), e, [](const auto& a, const auto& b) {
            if (!(a.type == b.type)) return a.type < b.type;
            if (!(a.name == b.name)) return a.name < b.name;
            return a.language < b.language;
        });
        layout.streamedIndex = static_cast<int>(at - layout.entries.begin());
        layout.entries.insert(at, e);
    }

    auto& types = layout.types;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const auto& e = layout.entries[i];
        if (types.empty() || !(types.back().type == e.type)) types.push_back({e.type, {}, 0});
        auto& names = types.back().names;
        if (names.empty() || !(names.back().name == e.name)) names.push_back({e.name, {}, 0});
        names.back().langs.push_back(i);
    }

    // The tables level by level, then the name strings, then the data entries.
    auto tableSize = [](size_t entries) { return Rsrc::TableSize + Rsrc::EntrySize * static_cast<uint32_t>(entries); };
    uint32_t off = tableSize(types.size());
    for (auto& t : types) {
        t.tableAt = off;
        off += tableSize(t.names.size());
    }
    for (auto& t : types)
        for (auto& n : t.names) {
            n.tableAt = off;
            off += tableSize(n.langs.size());
        }
    auto addString = [&](const TResName& n) {
        if (n.IsId() || layout.stringAt.count(n.Name())) return;
        layout.stringAt[n.Name()] = off;
        off += 2 + 2 * static_cast<uint32_t>(n.Name().size());
    };
    for (const auto& t : types) {
        addString(t.type);
        for (const auto& n : t.names) addString(n.name);
    }
    off = static_cast<uint32_t>(AlignUp(off, Rsrc::DataEntryAlignment));
    for (auto& e : layout.entries) {
        e.dataEntryAt = off;
        off += Rsrc::DataEntrySize;
    }
    layout.directorySize = off;

    // The resources' bytes after the directory; the streamed one last.
    uint64_t dataOff = layout.directorySize;
    for (auto& e : layout.entries) {
        if (!e.resource) continue;
        dataOff = AlignUp(dataOff, Rsrc::DataAlignment);
        e.dataAt = static_cast<uint32_t>(dataOff);
        dataOff += e.size;
        if (dataOff > kMaxPackageSize) Fail("the resource section would reach 2 GiB");
    }
    layout.fixedEnd = static_cast<uint32_t>(AlignUp(dataOff, Rsrc::DataAlignment));
    if (streamed) layout.entries[layout.streamedIndex].dataAt = layout.fixedEnd;
    return layout;
}

TPeImage::Placement TPeImage::Place() const
{
    Placement place;
    const int inPlace = InPlaceSection(&place.overlayStart);
    place.sections = sections_;
    // On a page boundary in the file, so that loaders map the package's data
    // from the file instead of reading it all into private memory.
    const uint32_t rawAlignment = std::max<uint32_t>(fileAlignment_, 4096);
    if (inPlace >= 0) {
        // The resource section is the last in the file and in memory: rebuilt
        // where it is, and since nothing follows it, it may move up to a page boundary.
        place.inPlace = true;
        place.index = static_cast<uint32_t>(inPlace);
        const TPeSection& s = sections_[place.index];
        place.copyEnd = s.RawSize ? s.RawPointer : place.overlayStart;
    } else {
        // Otherwise a new last section.
        uint64_t vaEnd = 0;
        for (const TPeSection& s : sections_)
            vaEnd = std::max<uint64_t>(vaEnd, uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.RawSize));
        TPeSection s{};
        std::memcpy(s.Name, ".rsrc\0\0\0", Section::NameSize);
        s.VirtualAddress = static_cast<uint32_t>(AlignUp(vaEnd, sectionAlignment_));
        s.Characteristics = Section::InitializedData | Section::Readable;
        place.index = static_cast<uint32_t>(place.sections.size());
        place.sections.push_back(s);
        place.copyEnd = place.overlayStart;
    }
    place.rawPointer = AlignUp(place.copyEnd, rawAlignment);
    return place;
}

void TPeImage::FillDirectory(Layout& layout, uint32_t rsrcRva) const
{
    layout.directory.assign(layout.directorySize, 0);
    uint8_t* d = layout.directory.data();
    // One table: its counts, then an entry per child (names before numbers, as sorted).
    auto putTable = [&](uint32_t at, const auto& children, auto nameOf, auto targetOf) {
        uint16_t named = 0, ids = 0;
        for (const auto& c : children) (nameOf(c).IsId() ? ids : named)++;
        Put16(d + at + Rsrc::NumberOfNamedEntries, named);
        Put16(d + at + Rsrc::NumberOfIdEntries, ids);
        uint32_t p = at + Rsrc::TableSize;
        for (const auto& c : children) {
            const TResName& n = nameOf(c);
            Put32(d + p + Rsrc::EntryName, n.IsId() ? n.Id() : (Rsrc::NameFlag | layout.stringAt[n.Name()]));
            Put32(d + p + Rsrc::EntryTarget, targetOf(c));
            p += Rsrc::EntrySize;
        }
    };
    using TypeGroup = Layout::TypeGroup;
    using NameGroup = Layout::NameGroup;
    putTable(0, layout.types, [](const TypeGroup& t) -> const TResName& { return t.type; },
             [](const TypeGroup& t) { return Rsrc::SubdirectoryFlag | t.tableAt; });
    for (const TypeGroup& t : layout.types) {
        putTable(t.tableAt, t.names, [](const NameGroup& n) -> const TResName& { return n.name; },
                 [](const NameGroup& n) { return Rsrc::SubdirectoryFlag | n.tableAt; });
        for (const NameGroup& n : t.names) {
            // Languages are numbers only.
            Put16(d + n.tableAt + Rsrc::NumberOfIdEntries, static_cast<uint16_t>(n.langs.size()));
            uint32_t p = n.tableAt + Rsrc::TableSize;
            for (size_t i : n.langs) {
                Put32(d + p + Rsrc::EntryName, layout.entries[i].language);
                Put32(d + p + Rsrc::EntryTarget, layout.entries[i].dataEntryAt);
                p += Rsrc::EntrySize;
            }
        }
    }
    for (const auto& [name, at] : layout.stringAt) {
        Put16(d + at, static_cast<uint16_t>(name.size()));
        for (size_t i = 0; i < name.size(); ++i) Put16(d + at + 2 + 2 * i, static_cast<uint16_t>(name[i]));
    }
    // The streamed resource's size is known only once written: patched later.
    for (const auto& e : layout.entries) {
        Put32(d + e.dataEntryAt + Rsrc::DataRva, rsrcRva + e.dataAt);
        Put32(d + e.dataEntryAt + Rsrc::DataSize, e.size);
        Put32(d + e.dataEntryAt + Rsrc::DataCodePage, e.resource ? e.resource->CodePage : 0);
    }
}

void TPeImage::PatchHeaders(TBytes& headers, Placement& place, uint64_t sectionSize, uint64_t rawSize) const
{
    TPeSection& rs = place.sections[place.index];
    const uint32_t oldInitRaw =
        place.inPlace && (sections_[place.index].Characteristics & Section::InitializedData) ? sections_[place.index].RawSize : 0;
    rs.VirtualSize = static_cast<uint32_t>(sectionSize);
    rs.RawSize = static_cast<uint32_t>(rawSize);
    rs.RawPointer = static_cast<uint32_t>(place.rawPointer);
    uint64_t imageEnd = 0;
    for (const TPeSection& s : place.sections)
        imageEnd = std::max<uint64_t>(imageEnd, s.VirtualAddress + AlignUp(s.VirtualSize ? s.VirtualSize : s.RawSize,
                                                                           sectionAlignment_));
    const uint64_t newOverlayStart = place.rawPointer + rawSize;
    if (imageEnd > 0xFFFFFFFFull || newOverlayStart > 0xFFFFFFFFull) Fail("the image would grow past 4 GiB");

    uint8_t* coff = headers.data() + peOffset_;
    Put16(coff + Coff::NumberOfSections, static_cast<uint16_t>(place.sections.size()));
    // COFF symbols (a debug build's) lie in the overlay, which moves with the section.
    if (symbolTable_ != 0 && symbolTable_ >= place.overlayStart)
        Put32(coff + Coff::PointerToSymbolTable, static_cast<uint32_t>(symbolTable_ - place.overlayStart + newOverlayStart));

    uint8_t* opt = headers.data() + optOffset_;
    uint64_t init = Get32(opt + Opt::SizeOfInitializedData);
    init = init >= oldInitRaw ? init - oldInitRaw : 0;
    Put32(opt + Opt::SizeOfInitializedData, static_cast<uint32_t>(std::min<uint64_t>(init + rawSize, 0xFFFFFFFFull)));
    Put32(opt + Opt::SizeOfImage, static_cast<uint32_t>(imageEnd));
    Put32(opt + DirField(is64_, DataDir::Resource, DataDir::Rva), rs.VirtualAddress);
    Put32(opt + DirField(is64_, DataDir::Resource, DataDir::Bytes), static_cast<uint32_t>(sectionSize));
    Put32(opt + Opt::CheckSum, 0);  // computed over the finished file

    for (size_t i = 0; i < place.sections.size(); ++i) {
        const TPeSection& s = place.sections[i];
        uint8_t* h = headers.data() + sectionTable_ + Section::Size * i;
        if (i == place.index && !place.inPlace) {
            std::memset(h, 0, Section::Size);
            std::memcpy(h + Section::Name, s.Name, Section::NameSize);
        }
        Put32(h + Section::VirtualSize, s.VirtualSize);
        Put32(h + Section::VirtualAddress, s.VirtualAddress);
        Put32(h + Section::SizeOfRawData, s.RawSize);
        Put32(h + Section::PointerToRawData, s.RawPointer);
        Put32(h + Section::Characteristics, s.Characteristics);
    }
}

void TPeImage::WriteCheckSum(TStream& out, uint64_t fileStart, uint64_t fileEnd) const
{
    TCheckSummer summer(optOffset_ + Opt::CheckSum);
    TBytes chunk(kCopyChunk);
    out.SetPosition(static_cast<int64_t>(fileStart));
    for (uint64_t left = fileEnd - fileStart; left > 0;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
        out.ReadBuffer(chunk.data(), n);
        summer.Add(chunk.data(), n);
        left -= n;
    }
    uint8_t sum[4];
    Put32(sum, summer.Finish());
    out.SetPosition(static_cast<int64_t>(fileStart + optOffset_ + Opt::CheckSum));
    out.WriteBuffer(sum, 4);
}

void TPeImage::Write(TStream& out, const TStreamedResource* streamed) const
{
    CheckWritable();
    Layout layout = LayOut(streamed);
    Placement place = Place();
    FillDirectory(layout, place.sections[place.index].VirtualAddress);

    // The headers as they are, patched once the sizes are known.
    TBytes headers(sizeOfHeaders_);
    source_->ReadAt(0, headers.data(), std::min<uint64_t>(headers.size(), source_->Size()));

    // Everything before the resource section, the section, then the overlay.
    const uint64_t fileStart = out.Position();
    out.WriteBuffer(headers.data(), headers.size());
    CopyRange(*source_, headers.size(), place.copyEnd - headers.size(), out);
    WriteZeros(out, place.rawPointer - place.copyEnd);
    const uint64_t sectionSize = WriteResourceSection(out, layout, streamed);
    const uint64_t rawSize = AlignUp(sectionSize, fileAlignment_);
    WriteZeros(out, rawSize - sectionSize);
    CopyRange(*source_, place.overlayStart, source_->Size() - place.overlayStart, out);
    const uint64_t fileEnd = out.Position();

    PatchHeaders(headers, place, sectionSize, rawSize);
    out.SetPosition(static_cast<int64_t>(fileStart));
    out.WriteBuffer(headers.data(), headers.size());
    if (streamed) {
        uint8_t size[4];
        Put32(size, static_cast<uint32_t>(sectionSize - layout.fixedEnd));
        const Layout::Entry& e = layout.entries[layout.streamedIndex];
        out.SetPosition(static_cast<int64_t>(fileStart + place.rawPointer + e.dataEntryAt + Rsrc::DataSize));
        out.WriteBuffer(size, 4);
    }
    WriteCheckSum(out, fileStart, fileEnd);
    out.SetPosition(static_cast<int64_t>(fileEnd));
}

TBytes TPeImage::Save() const
{
    TMemoryStream out;
    Write(out, nullptr);
    return std::move(out.Bytes());
}

void TPeImage::SaveToFile(const WideString& fileName, const TStreamedResource* streamed) const
{
    TReadWriteFile out(fileName);
    Write(out, streamed);
    out.Close();
}
