// Portable reader and writer of the resources of a PE32 or PE32+ file, without
// any Windows API: lists, reads, adds, replaces and removes resources, and
// rebuilds the resource section so that the Windows loader finds them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ZoStream.h"
#include "ZoTypes.h"

// Anything that is not a well-formed PE file, or a change it cannot take.
ZO_DECLARE_ERROR(EPeFormatError, Exception);

namespace pe {
constexpr uint16_t kIcon = 3;
constexpr uint16_t kRcData = 10;
constexpr uint16_t kGroupIcon = 14;
constexpr uint16_t kVersion = 16;
constexpr uint16_t kManifest = 24;
}  // namespace pe

// A resource type or name: a 16-bit number or a string. Strings are kept
// upper-case (ASCII letters), as the resource compiler stores them and as the
// loader compares them.
class TResName {
public:
    TResName() = default;
    TResName(uint16_t id) : id_(id) {}  // NOLINT: numbers convert, as in MAKEINTRESOURCE
    TResName(const WideString& name);   // NOLINT
    TResName(const char16_t* name) : TResName(WideString(name)) {}  // NOLINT

    bool IsId() const { return name_.empty(); }
    uint16_t Id() const { return id_; }
    const WideString& Name() const { return name_; }
    // "#10" for a number, the name otherwise.
    WideString ToString() const;

    // Directory order: names first (by UTF-16 code units), then numbers.
    friend bool operator<(const TResName& a, const TResName& b);
    friend bool operator==(const TResName& a, const TResName& b) { return a.id_ == b.id_ && a.name_ == b.name_; }

private:
    uint16_t id_ = 0;
    WideString name_;
};

struct TPeResource {
    TResName Type;
    TResName Name;
    uint16_t Language = 0;
    uint32_t CodePage = 0;
    uint32_t Size = 0;
    // Where the bytes are: set for added or replaced resources; otherwise
    // they are read from the source file at SourceOffset.
    std::optional<TBytes> Data;
    uint64_t SourceOffset = 0;
};

// Random access to the bytes of a file being read.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly count bytes at offset or raises EPeFormatError.
    virtual void ReadAt(uint64_t offset, void* buffer, size_t count) const = 0;
};

std::unique_ptr<TByteSource> MemorySource(TBytes bytes);
// Bytes someone else keeps alive (a mapped view) for as long as the source lives.
std::unique_ptr<TByteSource> ViewSource(const uint8_t* data, uint64_t size);
// Raises EFOpenError when the file cannot be opened.
std::unique_ptr<TByteSource> FileSource(const WideString& fileName);

// Writes the data of the one resource whose size is known only once written
// (the product-file block), straight into the output.
struct TStreamedResource {
    TResName Type;
    TResName Name;
    uint16_t Language = 0;
    // Writes the bytes at the output's position and returns their count.
    std::function<uint64_t(TStream& out)> Write;
};

struct TPeSection {
    char Name[8];
    uint32_t VirtualSize, VirtualAddress, RawSize, RawPointer, Characteristics;
    WideString NameText() const;
};

class TPeImage {
public:
    // Parses headers, sections and the resource directory; raises
    // EPeFormatError naming what is wrong.
    explicit TPeImage(std::unique_ptr<TByteSource> source);
    static TPeImage FromBytes(TBytes bytes) { return TPeImage(MemorySource(std::move(bytes))); }
    static TPeImage FromFile(const WideString& fileName) { return TPeImage(FileSource(fileName)); }

    TPeImage(TPeImage&&) = default;
    TPeImage& operator=(TPeImage&&) = default;

    bool Is64() const { return is64_; }
    uint16_t Machine() const { return machine_; }
    uint16_t Subsystem() const { return subsystem_; }
    uint64_t FileSize() const { return source_->Size(); }
    // An Authenticode signature is present (the security directory is not empty).
    bool IsSigned() const { return securitySize_ != 0; }
    uint32_t CheckSum() const { return checkSum_; }
    uint32_t SizeOfImage() const { return sizeOfImage_; }
    uint32_t ResourceRva() const { return resourceRva_; }
    uint32_t ResourceSize() const { return resourceSize_; }
    uint32_t SymbolTable() const { return symbolTable_; }
    const std::vector<TPeSection>& Sections() const { return sections_; }
    // The checksum the file's bytes call for.
    uint32_t ComputeCheckSum() const;

    // Sorted by type, name, language: the order of the resource directory.
    const std::vector<TPeResource>& Resources() const { return resources_; }
    // The resource of that type and name, language neutral first, else the
    // lowest language; null when there is none.
    const TPeResource* Find(const TResName& type, const TResName& name) const;
    std::vector<const TPeResource*> ResourcesOfType(const TResName& type) const;
    TBytes ReadResource(const TPeResource& resource) const;
    // Reads part of a resource's bytes, for resources too big to hold.
    void ReadResourcePart(const TPeResource& resource, uint64_t offset, void* buffer, size_t count) const;

    // Adds the resource, or replaces the data of every language of it (a
    // single one keeps its language).
    void SetResource(const TResName& type, const TResName& name, TBytes data, uint16_t language = 0);
    // Removes every language of the resource; returns how many went.
    size_t RemoveResource(const TResName& type, const TResName& name);

    // Raises EPeFormatError when the file cannot take a rebuilt resource
    // section: signed, damaged section table, no room for a section header.
    void CheckWritable() const;
    // Writes the file with its rebuilt resource section; the streamed resource,
    // when given, is placed last. Refuses a signed file.
    TBytes Save() const;
    void SaveToFile(const WideString& fileName, const TStreamedResource* streamed = nullptr) const;

private:
    struct Layout;
    struct Placement;

    uint64_t RvaToOffset(uint32_t rva, uint32_t size) const;
    // The resource section's index when it can be rebuilt where it is (last
    // in the file and in memory), else -1; lastRawEnd: end of the sections' data.
    int InPlaceSection(uint64_t* lastRawEnd) const;
    void ParseHeaders();
    void ParseResources();
    // Writing, in its steps: where each part of the new resource section goes,
    // where the section goes in the file, the directory's bytes, the section
    // itself, the headers' new sizes and the checksum over the finished file.
    void Write(TStream& out, const TStreamedResource* streamed) const;
    Layout LayOut(const TStreamedResource* streamed) const;
    Placement Place() const;
    void FillDirectory(Layout& layout, uint32_t rsrcRva) const;
    uint64_t WriteResourceSection(TStream& out, const Layout& layout, const TStreamedResource* streamed) const;
    void PatchHeaders(TBytes& headers, Placement& place, uint64_t sectionSize, uint64_t rawSize) const;
    void WriteCheckSum(TStream& out, uint64_t fileStart, uint64_t fileEnd) const;

    std::unique_ptr<TByteSource> source_;
    bool is64_ = false;
    uint16_t machine_ = 0, subsystem_ = 0;
    uint32_t peOffset_ = 0, optOffset_ = 0, optSize_ = 0, sectionTable_ = 0;
    uint32_t sectionAlignment_ = 0, fileAlignment_ = 0, sizeOfHeaders_ = 0, checkSum_ = 0, sizeOfImage_ = 0;
    uint32_t numberOfDirs_ = 0, resourceRva_ = 0, resourceSize_ = 0, securitySize_ = 0;
    uint32_t symbolTable_ = 0;
    std::vector<TPeSection> sections_;
    std::vector<TPeResource> resources_;
};

// The PE checksum of a whole file image whose checksum field lies at
// checkSumOffset (that field counts as zero).
uint32_t PeCheckSum(const uint8_t* data, size_t size, size_t checkSumOffset);
