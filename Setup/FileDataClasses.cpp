// The package index and the file-data block it describes.
#include "FileDataClasses.h"

#include <cstring>
#include <limits>

#include "SetupFn.h"
#include "ZoSysUtils.h"

ZO_PUBLISHED(TFileData, TXmlPersistent,
    ZO_PROP(TFileData, Bytes),
    ZO_PROP(TFileData, GUID),
    ZO_PROP(TFileData, Offset))

ZO_PUBLISHED(TFileDataList, TXmlObjectList)

namespace {

constexpr int64_t kMaxBlock = std::numeric_limits<int32_t>::max();

[[noreturn]] void RaiseBadBlock(const WideString& what)
{
    throw EPackageError(u"Damaged file data block: " + what);
}

void CheckRecord(const TFileData& r, size_t blockSize)
{
    if (r.Offset < 0 || r.Bytes < 0 ||
        static_cast<uint64_t>(r.Offset) + static_cast<uint64_t>(r.Bytes) > blockSize)
        RaiseBadBlock(FormatText(u"the image %s (offset %s, %s bytes) lies outside the block of %s bytes",
                                 {r.GUID, IntToStr(r.Offset), IntToStr(r.Bytes), IntToStr(static_cast<int64_t>(blockSize))}));
}

}  // namespace

void TFileDataList::LoadIndexFromBlock(const uint8_t* block, size_t size)
{
    Clear();
    if (!block || size < 4)
        RaiseBadBlock(FormatText(u"%s bytes are too few for the index length", {IntToStr(static_cast<int64_t>(size))}));
    const uint8_t* t = block + size - 4;
    int32_t n = static_cast<int32_t>(static_cast<uint32_t>(t[0]) | static_cast<uint32_t>(t[1]) << 8 |
                                     static_cast<uint32_t>(t[2]) << 16 | static_cast<uint32_t>(t[3]) << 24);
    if (n < 0 || static_cast<size_t>(n) > size - 4)
        RaiseBadBlock(FormatText(u"the index length %s does not fit the block of %s bytes",
                                 {IntToStr(n), IntToStr(static_cast<int64_t>(size))}));
    TMemoryStream index(DecodeBytes({t - n, static_cast<size_t>(n)}));
    LoadFromStream(index);
    for (const TFileData* r : *this) CheckRecord(*r, size);
}

void TFileDataList::LoadFromBlock(const uint8_t* block, size_t size)
{
    LoadIndexFromBlock(block, size);
    for (TFileData* r : *this) {
        std::span<const uint8_t> image = ImageOf(*r, block, size);
        r->Image.Clear();
        r->Image.Bytes().assign(image.begin(), image.end());
    }
}

std::span<const uint8_t> TFileDataList::ImageOf(const TFileData& record, const uint8_t* block, size_t size)
{
    CheckRecord(record, size);
    return {block + record.Offset, static_cast<size_t>(record.Bytes)};
}

int TFileDataList::IndexOfGUID(const WideString& key) const
{
    for (int i = 0; i < Count(); ++i)
        if (Items(i)->GUID == key) return i;
    return -1;
}

TFileData* TFileDataList::FindByGUID(const WideString& key) const
{
    int i = IndexOfGUID(key);
    return i < 0 ? nullptr : Items(i);
}

// ---- Writing a block ------------------------------------------------------------------

TFileDataBlockWriter::TFileDataBlockWriter(TStream& output) : output_(output) {}

TFileData* TFileDataBlockWriter::AddEncodedImage(const WideString& guid, const uint8_t* data, size_t size)
{
    ZO_ASSERT(!finished_, "Installer/FileDataClasses");
    if (static_cast<uint64_t>(length_) + size > static_cast<uint64_t>(kMaxBlock))
        throw EPackageError(u"The file data block would reach 2 GiB");
    TFileData* r = AddRecord(guid, static_cast<int32_t>(length_), 0);
    if (size) output_.WriteBuffer(data, size);
    r->Bytes = static_cast<int32_t>(size);
    length_ += static_cast<int64_t>(size);
    return r;
}

TFileData* TFileDataBlockWriter::AddFile(const WideString& guid, const uint8_t* data, size_t size)
{
    TMemoryStream encoded(TBytes(data, data + size));
    TSetupfn::EncodeStream(&encoded);
    return AddEncodedImage(guid, encoded.Memory(), static_cast<size_t>(encoded.Size()));
}

TFileData* TFileDataBlockWriter::AddRecord(const WideString& guid, int32_t offset, int32_t bytes)
{
    if (offset < 0 || bytes < 0 || static_cast<int64_t>(offset) + bytes > length_)
        throw EPackageError(FormatText(u"The image %s does not lie in the part of the block written so far", {guid}));
    TFileData* r = index_.Add();
    r->GUID = guid;
    r->Offset = offset;
    r->Bytes = bytes;
    return r;
}

int64_t TFileDataBlockWriter::Finish()
{
    ZO_ASSERT(!finished_, "Installer/FileDataClasses");
    finished_ = true;
    TMemoryStream index;
    index_.SaveToStream(index);
    TSetupfn::EncodeStream(&index);
    int64_t n = index.Size();
    if (length_ + n + 4 > kMaxBlock) throw EPackageError(u"The file data block would reach 2 GiB");
    output_.WriteBuffer(index.Memory(), static_cast<size_t>(n));
    uint32_t u = static_cast<uint32_t>(n);
    uint8_t trailer[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                          static_cast<uint8_t>(u >> 24)};
    output_.WriteBuffer(trailer, 4);
    length_ += n + 4;
    return length_;
}
