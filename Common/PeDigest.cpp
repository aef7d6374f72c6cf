#include "PeDigest.h"

#include <algorithm>

#include "PeLayout.h"
#include "ZoSysUtils.h"

namespace {

constexpr size_t kPiece = 1 << 20;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void Fail(const char* text) { throw EPeFormatError(FromUtf8(text)); }

void Read(const TByteSource& file, uint64_t offset, void* buffer, size_t count)
{
    if (offset > file.Size() || count > file.Size() - offset) Fail("the file ends inside its PE headers");
    file.ReadAt(offset, buffer, count);
}

// Hashes [from, to) of the file.
void HashRange(const TByteSource& file, uint64_t from, uint64_t to, TZoSha256& hash, TBytes& buffer)
{
    while (from < to) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(to - from, buffer.size()));
        file.ReadAt(from, buffer.data(), n);
        hash.Update(buffer.data(), n);
        from += n;
    }
}

// Where the raw data of the last section ends.
uint64_t SectionsEnd(const TByteSource& file, uint64_t table, uint16_t count)
{
    if (count > PeLayout::Section::MaxCount) Fail("the section table is too long");
    uint64_t end = table + uint64_t{count} * PeLayout::Section::Size;
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t section[PeLayout::Section::Size];
        Read(file, table + uint64_t{i} * PeLayout::Section::Size, section, sizeof section);
        const uint64_t raw = Get32(section + PeLayout::Section::SizeOfRawData);
        if (raw != 0) end = std::max(end, Get32(section + PeLayout::Section::PointerToRawData) + raw);
    }
    return end;
}

// The table is a run of WIN_CERTIFICATE entries (length, revision, type,
// then the data), each starting on an 8-byte boundary, that fills it exactly.
void CheckCertificates(const TByteSource& file, uint64_t offset, uint64_t size)
{
    if (offset % 8 != 0) Fail("the certificate table is not 8-byte aligned");
    const uint64_t end = offset + size;
    for (uint64_t at = offset; at < end;) {
        uint8_t header[8];
        if (end - at < sizeof header) Fail("the certificate table ends inside an entry");
        file.ReadAt(at, header, sizeof header);
        const uint64_t length = Get32(header);
        if (length < sizeof header || length > end - at) Fail("a certificate entry has a wrong length");
        at += (length + 7) / 8 * 8;
    }
}

}  // namespace

TPeDigestLayout PeDigestLayout(const TByteSource& file)
{
    uint8_t dos[64];
    Read(file, 0, dos, sizeof dos);
    if (dos[0] != 'M' || dos[1] != 'Z') Fail("not a PE file (no MZ header)");
    const uint64_t pe = Get32(dos + 0x3C);
    uint8_t head[24 + 112];
    Read(file, pe, head, 24 + 2);
    if (head[0] != 'P' || head[1] != 'E' || head[2] != 0 || head[3] != 0) Fail("not a PE file (no PE signature)");
    const uint64_t opt = pe + 24;
    const uint16_t optSize = Get16(head + 20);
    const uint16_t magic = Get16(head + 24);
    if (magic != 0x10B && magic != 0x20B) Fail("not a PE file (unknown optional header)");
    const bool is64 = magic == 0x20B;
    // Where the count of data-directory entries and the entries themselves begin.
    const uint32_t countAt = is64 ? 108 : 92, dirsAt = countAt + 4;
    if (optSize < dirsAt) Fail("the optional header is too short");
    Read(file, opt, head + 24, dirsAt);

    TPeDigestLayout layout;
    layout.CheckSumOffset = opt + PeLayout::Opt::CheckSum;
    const uint32_t count = Get32(head + 24 + countAt);
    constexpr uint32_t kCertEntry = PeLayout::DataDir::Security;
    if (count > kCertEntry && dirsAt + (kCertEntry + 1) * 8 <= optSize) {
        layout.HasCertEntry = true;
        layout.CertEntryOffset = opt + dirsAt + kCertEntry * 8;
        uint8_t entry[8];
        Read(file, layout.CertEntryOffset, entry, sizeof entry);
        // The certificate table's "address" is a file offset, not an RVA.
        const uint64_t offset = Get32(entry), size = Get32(entry + 4);
        if (size != 0) {
            // Only the table itself may go unhashed, so it must lie where
            // nothing is loaded from: after the headers and every section's
            // raw data, up to the end of the file.
            const uint64_t loadedEnd = std::max<uint64_t>(
                Get32(head + 24 + PeLayout::Opt::SizeOfHeaders),
                SectionsEnd(file, opt + optSize, Get16(head + PeLayout::Coff::NumberOfSections)));
            if (offset < std::max(loadedEnd, layout.CertEntryOffset + 8))
                Fail("the certificate table overlaps the headers or a section");
            if (offset > file.Size() || size != file.Size() - offset)
                Fail("the certificate table does not run to the end of the file");
            CheckCertificates(file, offset, size);
            layout.CertTableOffset = offset;
            layout.CertTableSize = size;
        }
    }
    return layout;
}

TSha256Digest PeImageDigest(const TByteSource& file)
{
    const TPeDigestLayout layout = PeDigestLayout(file);
    TZoSha256 hash;
    TBytes buffer(static_cast<size_t>(std::min<uint64_t>(kPiece, std::max<uint64_t>(file.Size(), 1))));
    uint64_t at = 0;
    auto skip = [&](uint64_t from, uint64_t length) {
        HashRange(file, at, from, hash, buffer);
        at = from + length;
    };
    skip(layout.CheckSumOffset, 4);
    if (layout.HasCertEntry) skip(layout.CertEntryOffset, 8);
    if (layout.CertTableSize) skip(layout.CertTableOffset, layout.CertTableSize);
    // The table ends the file (checked above); without one, everything after
    // the left-out fields is hashed.
    HashRange(file, at, file.Size(), hash, buffer);
    return hash.Final();
}
