// Where things lie in a PE32 / PE32+ file: the offsets the resource reader and
// writer share (PeResources.cpp), named once. All fields are little-endian.
//
//   file:   DOS header ("MZ"; e_lfanew at 0x3C) ... "PE\0\0" | COFF header |
//           optional header (standard fields, Windows fields, data directories) |
//           section table (40 bytes a section) ... section bodies ... overlay
//   .rsrc:  directory tables (types -> names -> languages), name strings,
//           data entries (RVA, size, code page), then the resources' bytes
#pragma once

#include <cstdint>

namespace PeLayout {

namespace Dos {
inline constexpr uint32_t Size = 64;          // what is read of the DOS header
inline constexpr uint32_t PeHeaderOffset = 0x3C;  // e_lfanew
}  // namespace Dos

// The COFF file header, counted from the "PE\0\0" signature.
namespace Coff {
inline constexpr uint32_t Machine = 4;
inline constexpr uint32_t NumberOfSections = 6;
inline constexpr uint32_t PointerToSymbolTable = 12;
inline constexpr uint32_t SizeOfOptionalHeader = 20;
inline constexpr uint32_t Size = 24;  // the signature and the header: the optional header follows
}  // namespace Coff

// The optional header, counted from its magic.
namespace Opt {
inline constexpr uint16_t Magic32 = 0x10B;
inline constexpr uint16_t Magic64 = 0x20B;
inline constexpr uint32_t Magic = 0;
inline constexpr uint32_t SizeOfInitializedData = 8;
inline constexpr uint32_t SectionAlignment = 32;
inline constexpr uint32_t FileAlignment = 36;
inline constexpr uint32_t SizeOfImage = 56;
inline constexpr uint32_t SizeOfHeaders = 60;
inline constexpr uint32_t CheckSum = 64;
inline constexpr uint32_t Subsystem = 68;
// The data directories, and the count before them; PE32+ has four 64-bit
// fields (image base and the stack and heap sizes) where PE32 has 32-bit ones
// and no BaseOfData: 16 bytes more in all.
inline constexpr uint32_t DataDirectories32 = 96;
inline constexpr uint32_t DataDirectories64 = 112;
inline constexpr uint32_t NumberOfRvaAndSizes = 4;  // before the directories
inline constexpr uint32_t DataDirectories(bool is64) { return is64 ? DataDirectories64 : DataDirectories32; }
static_assert(DataDirectories64 == DataDirectories32 + 16);
}  // namespace Opt

// One data directory entry: RVA and size.
namespace DataDir {
inline constexpr uint32_t Size = 8;
inline constexpr uint32_t Rva = 0;
inline constexpr uint32_t Bytes = 4;
inline constexpr uint32_t Resource = 2;  // the resource table's index
inline constexpr uint32_t Security = 4;  // the Authenticode signature's (its "RVA" is a file offset)
inline constexpr uint32_t MaxCount = 16;
}  // namespace DataDir

// One entry of the section table.
namespace Section {
inline constexpr uint32_t Name = 0;  // 8 bytes, zero-padded
inline constexpr uint32_t NameSize = 8;
inline constexpr uint32_t VirtualSize = 8;
inline constexpr uint32_t VirtualAddress = 12;
inline constexpr uint32_t SizeOfRawData = 16;
inline constexpr uint32_t PointerToRawData = 20;
inline constexpr uint32_t Characteristics = 36;
inline constexpr uint32_t Size = 40;
inline constexpr uint32_t MaxCount = 96;
inline constexpr uint32_t InitializedData = 0x40;
inline constexpr uint32_t Readable = 0x40000000;
}  // namespace Section

// The resource directory.
namespace Rsrc {
// A directory table: 16 bytes of header, then its entries.
inline constexpr uint32_t NumberOfNamedEntries = 12;
inline constexpr uint32_t NumberOfIdEntries = 14;
inline constexpr uint32_t TableSize = 16;
// An entry: the name (a number, or NameFlag | the offset of a counted UTF-16
// string) and the target (SubdirectoryFlag | a table's offset, or a data
// entry's offset), both counted from the directory's start.
inline constexpr uint32_t EntryName = 0;
inline constexpr uint32_t EntryTarget = 4;
inline constexpr uint32_t EntrySize = 8;
inline constexpr uint32_t NameFlag = 0x80000000u;
inline constexpr uint32_t SubdirectoryFlag = 0x80000000u;
// A data entry: the resource's RVA, size and code page, and 4 reserved bytes.
inline constexpr uint32_t DataRva = 0;
inline constexpr uint32_t DataSize = 4;
inline constexpr uint32_t DataCodePage = 8;
inline constexpr uint32_t DataEntrySize = 16;
// Where the writer aligns the data entries and each resource's bytes.
inline constexpr uint32_t DataEntryAlignment = 4;
inline constexpr uint32_t DataAlignment = 8;
}  // namespace Rsrc

}  // namespace PeLayout
