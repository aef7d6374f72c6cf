// Byte streams: a memory buffer with a position, and files opened by UTF-16 name.
#pragma once

#include <cstdio>
#include <memory>

#include "ZoTypes.h"

class TStream {
public:
    virtual ~TStream() = default;
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    virtual void SetPosition(int64_t position) = 0;
    // The stream as a memory stream (whose bytes can be read where they lie), or null.
    virtual class TMemoryStream* AsMemoryStream() { return nullptr; }

    // Reads exactly count bytes or raises EReadError "Stream read error".
    void ReadBuffer(void* buffer, size_t count);
    // Writes exactly count bytes or raises EStreamError "Stream write error".
    void WriteBuffer(const void* buffer, size_t count);
    void WriteString(const AnsiString& bytes) { WriteBuffer(bytes.data(), bytes.size()); }
    // Copies count bytes (all from position 0 when count is 0) from source.
    int64_t CopyFrom(TStream& source, int64_t count);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(TBytes bytes) : data_(std::move(bytes)) {}

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Size() const override { return static_cast<int64_t>(data_.size()); }
    int64_t Position() const override { return position_; }
    void SetPosition(int64_t position) override { position_ = position < 0 ? 0 : position; }
    TMemoryStream* AsMemoryStream() override { return this; }

    void SetSize(int64_t size);
    void Clear() { data_.clear(); position_ = 0; }
    uint8_t* Memory() { return data_.data(); }
    const uint8_t* Memory() const { return data_.data(); }
    TBytes& Bytes() { return data_; }
    const TBytes& Bytes() const { return data_; }
    AnsiString ToString() const { return AnsiString(data_.begin(), data_.end()); }

    void LoadFromFile(const WideString& fileName);
    void SaveToFile(const WideString& fileName) const;

private:
    TBytes data_;
    int64_t position_ = 0;
};

struct FileCloser {
    void operator()(std::FILE* f) const { if (f) std::fclose(f); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file by UTF-16 name with an fopen mode ("rb", "wb", "r+b").
UniqueFile OpenFile(const WideString& fileName, const char* mode);

class TFileStream : public TStream {
public:
    enum Mode { fmOpenRead, fmCreate, fmOpenReadWrite };
    // Raises EFOpenError "Cannot open file "%s". %s" or EFCreateError
    // "Cannot create file "%s". %s" with the system's reason.
    TFileStream(const WideString& fileName, Mode mode);

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Size() const override;
    int64_t Position() const override;
    void SetPosition(int64_t position) override;
    // Flushes and closes, raising on a failed write-back (a full disk).
    void Close();

private:
    WideString fileName_;
    UniqueFile file_;
};
