// The package index: where each encoded file image lies in the file-data block
// (its layout is drawn in PackageFormat.h).
#pragma once

#include <cstdint>
#include <span>

#include "PackageFormat.h"
#include "ZoStream.h"
#include "ZoXmlUtils.h"


class TFileData : public TXmlPersistent {
    ZO_PERSISTENT_CLASS(TFileData)
public:
    int32_t Bytes = 0;   // length of the encoded image
    WideString GUID;     // the key file entries give as ResID
    int32_t Offset = 0;  // position of the image in the block

    // The encoded image once loaded with the images (not published).
    TMemoryStream Image;
};

class TFileDataList : public TXmlTypedList<TFileData> {
    ZO_PERSISTENT_CLASS(TFileDataList)
public:
    // Loads the index and copies every record's image. Raises EPackageError for
    // a block too short for its trailer or index, or a record outside the
    // block, and the codec's or the XML layer's errors for a damaged index.
    void LoadFromBlock(const uint8_t* block, size_t size);
    // Loads and checks the index only; the images stay in the block, to be
    // taken with ImageOf when needed.
    void LoadIndexFromBlock(const uint8_t* block, size_t size);
    // The record's encoded image inside the block (checked against its end).
    static std::span<const uint8_t> ImageOf(const TFileData& record, const uint8_t* block, size_t size);

    // Windows: the block of the module's FileDataResource (mapped, not copied);
    // raises EResNotFound when the module has none. module is an HMODULE.
    static std::span<const uint8_t> ModuleBlock(void* module);
    // Windows: LoadFromBlock (withImages) or LoadIndexFromBlock over ModuleBlock.
    bool LoadFromModule(void* module, bool withImages = true);

    // Index of the first record whose GUID equals key exactly; -1 if none.
    int IndexOfGUID(const WideString& key) const;
    TFileData* FindByGUID(const WideString& key) const;
};

// The producer side: appends encoded images to an output stream and finishes
// the block with the encoded index and its 4-byte trailer. The block starts at
// the output's position when the writer is made.
class TFileDataBlockWriter {
public:
    explicit TFileDataBlockWriter(TStream& output);
    TFileDataBlockWriter(const TFileDataBlockWriter&) = delete;
    TFileDataBlockWriter& operator=(const TFileDataBlockWriter&) = delete;

    // Appends an image already encoded with the package codec; returns its record.
    TFileData* AddEncodedImage(const WideString& guid, const uint8_t* data, size_t size);
    // Encodes the content with the package codec and appends it.
    TFileData* AddFile(const WideString& guid, const uint8_t* data, size_t size);
    // Records an image that already lies in the block (a shared one, say).
    TFileData* AddRecord(const WideString& guid, int32_t offset, int32_t bytes);
    // Writes the encoded index and the trailer; returns the block's length.
    int64_t Finish();

    const TFileDataList& Index() const { return index_; }
    int64_t Length() const { return length_; }  // block bytes written so far

private:
    TStream& output_;
    TFileDataList index_;
    int64_t length_ = 0;
    bool finished_ = false;
};
