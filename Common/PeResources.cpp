#include "PeResources.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "ZoSysUtils.h"

namespace {

constexpr uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr uint32_t kNameFlag = 0x80000000u;
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
    if (size < 64) Fail("not a PE file: too short for an MZ header");
    uint8_t dos[64];
    source_->ReadAt(0, dos, sizeof dos);
    if (dos[0] != 'M' || dos[1] != 'Z') Fail("not a PE file: no MZ header");
    peOffset_ = Get32(dos + 0x3C);
    if (uint64_t(peOffset_) + 24 > size) Fail("not a PE file: the PE header lies past the end of the file");
    uint8_t coff[24];
    source_->ReadAt(peOffset_, coff, sizeof coff);
    if (std::memcmp(coff, "PE\0\0", 4) != 0) Fail("not a PE file: no PE signature");
    machine_ = Get16(coff + 4);
    uint16_t sectionCount = Get16(coff + 6);
    symbolTable_ = Get32(coff + 12);
    optSize_ = Get16(coff + 20);
    optOffset_ = peOffset_ + 24;
    if (sectionCount == 0 || sectionCount > 96) Fail("damaged PE file: implausible number of sections");
    if (uint64_t(optOffset_) + optSize_ > size) Fail("damaged PE file: the optional header is cut off");
    if (optSize_ < 2) Fail("damaged PE file: no optional header");
    TBytes opt(optSize_);
    source_->ReadAt(optOffset_, opt.data(), opt.size());
    uint16_t magic = Get16(opt.data());
    if (magic == 0x20B)
        is64_ = true;
    else if (magic != 0x10B)
        Fail("not a PE32 or PE32+ file: unknown optional header magic");
    const uint32_t dirsAt = is64_ ? 112 : 96;
    if (optSize_ < dirsAt) Fail("damaged PE file: the optional header is too short");
    sectionAlignment_ = Get32(&opt[32]);
    fileAlignment_ = Get32(&opt[36]);
    sizeOfHeaders_ = Get32(&opt[60]);
    checkSum_ = Get32(&opt[64]);
    sizeOfImage_ = Get32(&opt[56]);
    subsystem_ = Get16(&opt[68]);
    numberOfDirs_ = std::min<uint32_t>({Get32(&opt[dirsAt - 4]), (optSize_ - dirsAt) / 8, 16u});
    if (!IsPowerOfTwo(fileAlignment_) || !IsPowerOfTwo(sectionAlignment_) || sectionAlignment_ < fileAlignment_)
        Fail("damaged PE file: invalid section or file alignment");
    if (numberOfDirs_ > 2) {
        resourceRva_ = Get32(&opt[dirsAt + 16]);
        resourceSize_ = Get32(&opt[dirsAt + 20]);
    }
    if (numberOfDirs_ > 4) securitySize_ = Get32(&opt[dirsAt + 36]);

    sectionTable_ = optOffset_ + optSize_;
    if (uint64_t(sectionTable_) + 40ull * sectionCount > size) Fail("damaged PE file: the section table is cut off");
    TBytes table(40ull * sectionCount);
    source_->ReadAt(sectionTable_, table.data(), table.size());
    for (uint16_t i = 0; i < sectionCount; ++i) {
        const uint8_t* h = &table[40ull * i];
        TPeSection s{};
        std::memcpy(s.Name, h, 8);
        s.VirtualSize = Get32(h + 8);
        s.VirtualAddress = Get32(h + 12);
        s.RawSize = Get32(h + 16);
        s.RawPointer = Get32(h + 20);
        s.Characteristics = Get32(h + 36);
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
        uint8_t head[16];
        readAt(offset, head, 16);
        uint32_t count = uint32_t(Get16(head + 12)) + Get16(head + 14);
        visited += count;
        if (visited > kMaxResources) Fail("damaged resource directory: too many entries");
        std::vector<std::pair<uint32_t, uint32_t>> entries(count);
        if (count) {
            TBytes raw(8ull * count);
            readAt(offset + 16, raw.data(), static_cast<uint32_t>(raw.size()));
            for (uint32_t i = 0; i < count; ++i) entries[i] = {Get32(&raw[8ull * i]), Get32(&raw[8ull * i + 4])};
        }
        return entries;
    };
    auto readName = [&](uint32_t field) -> TResName {
        if (!(field & kNameFlag)) {
            if (field > 0xFFFF) Fail("damaged resource directory: invalid resource number");
            return TResName(static_cast<uint16_t>(field));
        }
        uint32_t at = field & ~kNameFlag;
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
        if (!(typeDir & kSubdirectoryFlag)) Fail("damaged resource directory: a type entry is not a directory");
        TResName type = readName(typeField);
        for (auto [nameField, nameDir] : readTable(typeDir & ~kSubdirectoryFlag)) {
            if (!(nameDir & kSubdirectoryFlag)) Fail("damaged resource directory: a name entry is not a directory");
            TResName name = readName(nameField);
            for (auto [langField, dataAt] : readTable(nameDir & ~kSubdirectoryFlag)) {
                if (dataAt & kSubdirectoryFlag) Fail("damaged resource directory: too many levels");
                if (langField > 0xFFFF) Fail("damaged resource directory: invalid language");
                uint8_t entry[16];
                readAt(dataAt, entry, 16);
                TPeResource r;
                r.Type = type;
                r.Name = name;
                r.Language = static_cast<uint16_t>(langField);
                r.Size = Get32(entry + 4);
                r.CodePage = Get32(entry + 8);
                uint32_t rva = Get32(entry);
                if (r.Size != 0)
                    r.SourceOffset = RvaToOffset(rva, r.Size);
                resources_.push_back(std::move(r));
            }
        }
    }
    std::stable_sort(resources_.begin(), resources_.end(), ResourceOrder);
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
    std::vector<Entry> entries;  // in directory order
    TBytes directory;            // tables, strings and data entries
    uint32_t fixedEnd = 0;       // end of the data known before writing
    int streamedIndex = -1;
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
    if (uint64_t(sectionTable_) + 40ull * sections_.size() > sizeOfHeaders_)
        Fail("damaged PE file: the section table lies outside the headers");
    uint64_t vaFloor = sizeOfHeaders_;
    for (const TPeSection& s : sections_) {
        if (s.RawSize != 0 && s.RawPointer < sizeOfHeaders_) Fail("damaged PE file: a section overlaps the headers");
        if (s.VirtualAddress < vaFloor || s.VirtualAddress % sectionAlignment_ != 0)
            Fail("damaged PE file: sections overlap or are out of order");
        vaFloor = uint64_t(s.VirtualAddress) + std::max<uint64_t>(std::max(s.VirtualSize, s.RawSize), 1);
    }
    if (InPlaceSection(nullptr) < 0) {
        uint64_t end = sectionTable_ + 40ull * (sections_.size() + 1);
        uint64_t firstRaw = sizeOfHeaders_;
        for (const TPeSection& s : sections_)
            if (s.RawSize) firstRaw = std::min<uint64_t>(firstRaw, s.RawPointer);
        if (end > firstRaw) Fail("the headers have no room for another section");
    }
}

void TPeImage::Write(TStream& out, const TStreamedResource* streamed) const
{
    CheckWritable();

    // ---- Layout of the new resource section.
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

    // Group into the three levels: type -> name -> languages.
    struct NameGroup { TResName name; std::vector<size_t> langs; };
    struct TypeGroup { TResName type; std::vector<NameGroup> names; };
    std::vector<TypeGroup> types;
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const auto& e = layout.entries[i];
        if (types.empty() || !(types.back().type == e.type)) types.push_back({e.type, {}});
        auto& names = types.back().names;
        if (names.empty() || !(names.back().name == e.name)) names.push_back({e.name, {}});
        names.back().langs.push_back(i);
    }

    uint32_t off = 16 + 8 * static_cast<uint32_t>(types.size());
    std::vector<uint32_t> typeDirAt, nameDirAt;
    for (const auto& t : types) {
        typeDirAt.push_back(off);
        off += 16 + 8 * static_cast<uint32_t>(t.names.size());
    }
    for (const auto& t : types)
        for (const auto& n : t.names) {
            nameDirAt.push_back(off);
            off += 16 + 8 * static_cast<uint32_t>(n.langs.size());
        }
    std::map<WideString, uint32_t> stringAt;
    auto addString = [&](const TResName& n) {
        if (n.IsId() || stringAt.count(n.Name())) return;
        stringAt[n.Name()] = off;
        off += 2 + 2 * static_cast<uint32_t>(n.Name().size());
    };
    for (const auto& t : types) {
        addString(t.type);
        for (const auto& n : t.names) addString(n.name);
    }
    off = static_cast<uint32_t>(AlignUp(off, 4));
    for (auto& e : layout.entries) {
        e.dataEntryAt = off;
        off += 16;
    }
    const uint32_t directorySize = off;
    uint64_t dataOff = directorySize;
    for (auto& e : layout.entries) {
        if (!e.resource) continue;
        dataOff = AlignUp(dataOff, 8);
        e.dataAt = static_cast<uint32_t>(dataOff);
        dataOff += e.size;
        if (dataOff > kMaxPackageSize) Fail("the resource section would reach 2 GiB");
    }
    layout.fixedEnd = static_cast<uint32_t>(AlignUp(dataOff, 8));
    if (streamed) layout.entries[layout.streamedIndex].dataAt = layout.fixedEnd;

    // ---- Placement: replace the resource section in place when it is the
    // last one in the file and in memory, else append a new last section.
    uint64_t lastRawEnd = 0;
    const int inPlace = InPlaceSection(&lastRawEnd);
    std::vector<TPeSection> newSections = sections_;
    uint32_t sectionIndex;
    uint64_t rsrcRaw;  // file offset of the new section
    if (inPlace >= 0) {
        sectionIndex = static_cast<uint32_t>(inPlace);
        TPeSection& s = newSections[sectionIndex];
        // Nothing follows it in the file, so it may move up to a page boundary.
        rsrcRaw = AlignUp(s.RawSize ? s.RawPointer : lastRawEnd, std::max<uint32_t>(fileAlignment_, 4096));
    } else {
        uint64_t vaEnd = 0;
        for (const TPeSection& s : sections_)
            vaEnd = std::max<uint64_t>(vaEnd, uint64_t(s.VirtualAddress) + std::max(s.VirtualSize, s.RawSize));
        TPeSection s{};
        std::memcpy(s.Name, ".rsrc\0\0\0", 8);
        s.VirtualAddress = static_cast<uint32_t>(AlignUp(vaEnd, sectionAlignment_));
        s.Characteristics = 0x40000040;  // initialised data, readable
        // On a page boundary in the file, so that loaders map the package's
        // data from the file instead of reading it all into private memory.
        rsrcRaw = AlignUp(lastRawEnd, std::max<uint32_t>(fileAlignment_, 4096));
        sectionIndex = static_cast<uint32_t>(newSections.size());
        newSections.push_back(s);
    }
    const uint32_t rsrcRva = newSections[sectionIndex].VirtualAddress;

    // Directory bytes, with the data entries' RVAs (the streamed size follows later).
    layout.directory.assign(directorySize, 0);
    uint8_t* d = layout.directory.data();
    auto putTable = [&](uint32_t at, const auto& children, auto nameOf, auto targetOf) {
        uint16_t named = 0, ids = 0;
        for (const auto& c : children) (nameOf(c).IsId() ? ids : named)++;
        Put16(d + at + 12, named);
        Put16(d + at + 14, ids);
        uint32_t p = at + 16;
        for (const auto& c : children) {
            const TResName& n = nameOf(c);
            Put32(d + p, n.IsId() ? n.Id() : (kNameFlag | stringAt[n.Name()]));
            Put32(d + p + 4, targetOf(c));
            p += 8;
        }
    };
    {
        size_t ti = 0;
        putTable(0, types, [](const TypeGroup& t) -> const TResName& { return t.type; },
                 [&](const TypeGroup&) { return kSubdirectoryFlag | typeDirAt[ti++]; });
        size_t ni = 0;
        for (size_t t = 0; t < types.size(); ++t) {
            size_t firstName = ni;
            putTable(typeDirAt[t], types[t].names, [](const NameGroup& n) -> const TResName& { return n.name; },
                     [&](const NameGroup&) { return kSubdirectoryFlag | nameDirAt[ni++]; });
            for (size_t n = 0; n < types[t].names.size(); ++n) {
                const auto& langs = types[t].names[n].langs;
                uint32_t at = nameDirAt[firstName + n];
                Put16(d + at + 14, static_cast<uint16_t>(langs.size()));
                uint32_t p = at + 16;
                for (size_t i : langs) {
                    Put32(d + p, layout.entries[i].language);
                    Put32(d + p + 4, layout.entries[i].dataEntryAt);
                    p += 8;
                }
            }
        }
        for (const auto& [name, at] : stringAt) {
            Put16(d + at, static_cast<uint16_t>(name.size()));
            for (size_t i = 0; i < name.size(); ++i) Put16(d + at + 2 + 2 * i, static_cast<uint16_t>(name[i]));
        }
        for (const auto& e : layout.entries) {
            Put32(d + e.dataEntryAt, rsrcRva + e.dataAt);
            Put32(d + e.dataEntryAt + 4, e.size);
            Put32(d + e.dataEntryAt + 8, e.resource ? e.resource->CodePage : 0);
        }
    }

    // ---- Headers as they are, to be patched once the sizes are known.
    TBytes headers(sizeOfHeaders_);
    source_->ReadAt(0, headers.data(), std::min<uint64_t>(headers.size(), source_->Size()));

    // ---- Body: everything before the resource section, the section, the overlay.
    const uint64_t fileStart = out.Position();
    out.WriteBuffer(headers.data(), headers.size());
    uint64_t copyEnd = inPlace >= 0 && sections_[sectionIndex].RawSize ? sections_[sectionIndex].RawPointer : lastRawEnd;
    CopyRange(*source_, headers.size(), copyEnd - headers.size(), out);
    WriteZeros(out, rsrcRaw - copyEnd);
    uint64_t total = WriteResourceSection(out, layout, streamed);
    uint64_t rawSize = AlignUp(total, fileAlignment_);
    WriteZeros(out, rawSize - total);
    uint64_t overlayStart = lastRawEnd;
    uint64_t newOverlayStart = rsrcRaw + rawSize;
    CopyRange(*source_, overlayStart, source_->Size() - overlayStart, out);
    const uint64_t fileEnd = out.Position();

    // ---- Patch the headers.
    TPeSection& rs = newSections[sectionIndex];
    uint32_t oldInitRaw = inPlace >= 0 && (sections_[sectionIndex].Characteristics & 0x40) ? sections_[sectionIndex].RawSize : 0;
    rs.VirtualSize = static_cast<uint32_t>(total);
    rs.RawSize = static_cast<uint32_t>(rawSize);
    rs.RawPointer = static_cast<uint32_t>(rsrcRaw);
    uint64_t imageEnd = 0;
    for (const TPeSection& s : newSections)
        imageEnd = std::max<uint64_t>(imageEnd, s.VirtualAddress + AlignUp(s.VirtualSize ? s.VirtualSize : s.RawSize,
                                                                           sectionAlignment_));
    if (imageEnd > 0xFFFFFFFFull || newOverlayStart > 0xFFFFFFFFull) Fail("the image would grow past 4 GiB");

    uint8_t* h = headers.data();
    Put16(h + peOffset_ + 6, static_cast<uint16_t>(newSections.size()));
    if (symbolTable_ != 0 && symbolTable_ >= overlayStart)
        Put32(h + peOffset_ + 12, static_cast<uint32_t>(symbolTable_ - overlayStart + newOverlayStart));
    uint8_t* opt = h + optOffset_;
    uint64_t init = Get32(opt + 8);
    init = init >= oldInitRaw ? init - oldInitRaw : 0;
    Put32(opt + 8, static_cast<uint32_t>(std::min<uint64_t>(init + rawSize, 0xFFFFFFFFull)));
    Put32(opt + 56, static_cast<uint32_t>(imageEnd));
    const uint32_t dirsAt = is64_ ? 112 : 96;
    Put32(opt + dirsAt + 16, rsrcRva);
    Put32(opt + dirsAt + 20, static_cast<uint32_t>(total));
    for (size_t i = 0; i < newSections.size(); ++i) {
        uint8_t* s = h + sectionTable_ + 40 * i;
        if (i == sectionIndex && inPlace < 0) {
            std::memset(s, 0, 40);
            std::memcpy(s, newSections[i].Name, 8);
        }
        Put32(s + 8, newSections[i].VirtualSize);
        Put32(s + 12, newSections[i].VirtualAddress);
        Put32(s + 16, newSections[i].RawSize);
        Put32(s + 20, newSections[i].RawPointer);
        Put32(s + 36, newSections[i].Characteristics);
    }
    Put32(opt + 64, 0);
    out.SetPosition(static_cast<int64_t>(fileStart));
    out.WriteBuffer(headers.data(), headers.size());
    if (streamed) {
        uint8_t size[4];
        Put32(size, static_cast<uint32_t>(total - layout.fixedEnd));
        out.SetPosition(static_cast<int64_t>(rsrcRaw + layout.entries[layout.streamedIndex].dataEntryAt + 4));
        out.WriteBuffer(size, 4);
    }

    // ---- The checksum over the finished file.
    TCheckSummer summer(optOffset_ + 64);
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
    out.SetPosition(static_cast<int64_t>(fileStart + optOffset_ + 64));
    out.WriteBuffer(sum, 4);
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
