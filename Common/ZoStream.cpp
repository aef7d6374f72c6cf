#include "ZoStream.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "ZoSysUtils.h"
#ifdef _WIN32
#include <windows.h>
#else
#include "ZoPlatform.h"
#endif

void TStream::ReadBuffer(void* buffer, size_t count)
{
    if (count != 0 && Read(buffer, count) != count) throw EReadError(u"Stream read error");
}

void TStream::WriteBuffer(const void* buffer, size_t count)
{
    if (count != 0 && Write(buffer, count) != count) throw EStreamError(u"Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    TBytes chunk(static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
    int64_t left = count;
    while (left > 0) {
        size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(chunk.size())));
        source.ReadBuffer(chunk.data(), n);
        WriteBuffer(chunk.data(), n);
        left -= static_cast<int64_t>(n);
    }
    return count;
}

size_t TMemoryStream::Read(void* buffer, size_t count)
{
    int64_t size = Size();
    if (position_ >= size || count == 0) return 0;
    size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(count), size - position_));
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += static_cast<int64_t>(n);
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count)
{
    if (count == 0) return 0;
    size_t end = static_cast<size_t>(position_) + count;
    if (end > data_.size()) data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ = static_cast<int64_t>(end);
    return count;
}

void TMemoryStream::SetSize(int64_t size)
{
    data_.resize(static_cast<size_t>(size < 0 ? 0 : size));
    if (position_ > size) position_ = size;
}

void TMemoryStream::LoadFromFile(const WideString& fileName)
{
    TFileStream file(fileName, TFileStream::fmOpenRead);
    int64_t size = file.Size();
    data_.resize(static_cast<size_t>(size));
    position_ = 0;
    file.ReadBuffer(data_.data(), data_.size());
}

void TMemoryStream::SaveToFile(const WideString& fileName) const
{
    TFileStream file(fileName, TFileStream::fmCreate);
    file.WriteBuffer(data_.data(), data_.size());
    file.Close();
}

UniqueFile OpenFile(const WideString& fileName, const char* mode)
{
#ifdef _WIN32
    const WideString wmode = WideOf(mode);
    return UniqueFile(_wfopen(reinterpret_cast<const wchar_t*>(fileName.c_str()), reinterpret_cast<const wchar_t*>(wmode.c_str())));
#else
    return UniqueFile(std::fopen(ZoPlatform::NativePath(fileName).c_str(), mode));
#endif
}

static WideString LastErrorText()
{
    return FromUtf8(std::strerror(errno));
}

TFileStream::TFileStream(const WideString& fileName, Mode mode) : fileName_(fileName)
{
    const char* how = mode == fmOpenRead ? "rb" : mode == fmCreate ? "wb" : "r+b";
    file_ = OpenFile(fileName, how);
    if (!file_) {
        if (mode == fmCreate)
            throw EFCreateError(FormatText(u"Cannot create file \"%s\". %s", {fileName, LastErrorText()}));
        throw EFOpenError(FormatText(u"Cannot open file \"%s\". %s", {fileName, LastErrorText()}));
    }
}

size_t TFileStream::Read(void* buffer, size_t count)
{
    return file_ ? std::fread(buffer, 1, count, file_.get()) : 0;
}

size_t TFileStream::Write(const void* buffer, size_t count)
{
    return file_ ? std::fwrite(buffer, 1, count, file_.get()) : 0;
}

int64_t TFileStream::Size() const
{
    if (!file_) return 0;
#ifdef _WIN32
    int64_t here = _ftelli64(file_.get());
    _fseeki64(file_.get(), 0, SEEK_END);
    int64_t size = _ftelli64(file_.get());
    _fseeki64(file_.get(), here, SEEK_SET);
#else
    int64_t here = ftello(file_.get());
    fseeko(file_.get(), 0, SEEK_END);
    int64_t size = ftello(file_.get());
    fseeko(file_.get(), here, SEEK_SET);
#endif
    return size;
}

int64_t TFileStream::Position() const
{
#ifdef _WIN32
    return file_ ? _ftelli64(file_.get()) : 0;
#else
    return file_ ? ftello(file_.get()) : 0;
#endif
}

void TFileStream::SetPosition(int64_t position)
{
    if (!file_) return;
#ifdef _WIN32
    _fseeki64(file_.get(), position, SEEK_SET);
#else
    fseeko(file_.get(), position, SEEK_SET);
#endif
}

void TFileStream::Close()
{
    if (!file_) return;
    std::FILE* f = file_.release();
    bool ok = std::fflush(f) == 0;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) throw EStreamError(FormatText(u"Cannot write file \"%s\". %s", {fileName_, LastErrorText()}));
}
