// The named offsets of PeLayout.h checked against the system's own structures,
// where the compiler can see both: a wrong number fails the Windows build.
#include <windows.h>

#include <cstddef>

#include "PeLayout.h"

using namespace PeLayout;

static_assert(offsetof(IMAGE_DOS_HEADER, e_lfanew) == Dos::PeHeaderOffset);
static_assert(sizeof(IMAGE_DOS_HEADER) == Dos::Size);

constexpr uint32_t kSignature = offsetof(IMAGE_NT_HEADERS32, FileHeader);
static_assert(kSignature + offsetof(IMAGE_FILE_HEADER, Machine) == Coff::Machine);
static_assert(kSignature + offsetof(IMAGE_FILE_HEADER, NumberOfSections) == Coff::NumberOfSections);
static_assert(kSignature + offsetof(IMAGE_FILE_HEADER, PointerToSymbolTable) == Coff::PointerToSymbolTable);
static_assert(kSignature + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader) == Coff::SizeOfOptionalHeader);
static_assert(offsetof(IMAGE_NT_HEADERS32, OptionalHeader) == Coff::Size);
static_assert(offsetof(IMAGE_NT_HEADERS64, OptionalHeader) == Coff::Size);

static_assert(IMAGE_NT_OPTIONAL_HDR32_MAGIC == Opt::Magic32 && IMAGE_NT_OPTIONAL_HDR64_MAGIC == Opt::Magic64);
// The fields both kinds of optional header share lie at the same offsets.
#define ZO_CHECK_OPT(field, name)                                          \
    static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, field) == Opt::name); \
    static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, field) == Opt::name)
ZO_CHECK_OPT(Magic, Magic);
ZO_CHECK_OPT(SizeOfInitializedData, SizeOfInitializedData);
ZO_CHECK_OPT(SectionAlignment, SectionAlignment);
ZO_CHECK_OPT(FileAlignment, FileAlignment);
ZO_CHECK_OPT(SizeOfImage, SizeOfImage);
ZO_CHECK_OPT(SizeOfHeaders, SizeOfHeaders);
ZO_CHECK_OPT(CheckSum, CheckSum);
ZO_CHECK_OPT(Subsystem, Subsystem);
#undef ZO_CHECK_OPT
static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory) == Opt::DataDirectories32);
static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory) == Opt::DataDirectories64);
static_assert(offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes) + Opt::NumberOfRvaAndSizes ==
              Opt::DataDirectories32);
static_assert(offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes) + Opt::NumberOfRvaAndSizes ==
              Opt::DataDirectories64);

static_assert(sizeof(IMAGE_DATA_DIRECTORY) == DataDir::Size);
static_assert(offsetof(IMAGE_DATA_DIRECTORY, VirtualAddress) == DataDir::Rva);
static_assert(offsetof(IMAGE_DATA_DIRECTORY, Size) == DataDir::Bytes);
static_assert(IMAGE_DIRECTORY_ENTRY_RESOURCE == DataDir::Resource);
static_assert(IMAGE_DIRECTORY_ENTRY_SECURITY == DataDir::Security);
static_assert(IMAGE_NUMBEROF_DIRECTORY_ENTRIES == DataDir::MaxCount);

static_assert(sizeof(IMAGE_SECTION_HEADER) == Section::Size);
static_assert(IMAGE_SIZEOF_SHORT_NAME == Section::NameSize);
static_assert(offsetof(IMAGE_SECTION_HEADER, Name) == Section::Name);
static_assert(offsetof(IMAGE_SECTION_HEADER, Misc.VirtualSize) == Section::VirtualSize);
static_assert(offsetof(IMAGE_SECTION_HEADER, VirtualAddress) == Section::VirtualAddress);
static_assert(offsetof(IMAGE_SECTION_HEADER, SizeOfRawData) == Section::SizeOfRawData);
static_assert(offsetof(IMAGE_SECTION_HEADER, PointerToRawData) == Section::PointerToRawData);
static_assert(offsetof(IMAGE_SECTION_HEADER, Characteristics) == Section::Characteristics);
static_assert(IMAGE_SCN_CNT_INITIALIZED_DATA == Section::InitializedData && IMAGE_SCN_MEM_READ == Section::Readable);

static_assert(sizeof(IMAGE_RESOURCE_DIRECTORY) == Rsrc::TableSize);
static_assert(offsetof(IMAGE_RESOURCE_DIRECTORY, NumberOfNamedEntries) == Rsrc::NumberOfNamedEntries);
static_assert(offsetof(IMAGE_RESOURCE_DIRECTORY, NumberOfIdEntries) == Rsrc::NumberOfIdEntries);
static_assert(sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY) == Rsrc::EntrySize);
static_assert(IMAGE_RESOURCE_NAME_IS_STRING == Rsrc::NameFlag && IMAGE_RESOURCE_DATA_IS_DIRECTORY == Rsrc::SubdirectoryFlag);
static_assert(sizeof(IMAGE_RESOURCE_DATA_ENTRY) == Rsrc::DataEntrySize);
static_assert(offsetof(IMAGE_RESOURCE_DATA_ENTRY, OffsetToData) == Rsrc::DataRva);
static_assert(offsetof(IMAGE_RESOURCE_DATA_ENTRY, Size) == Rsrc::DataSize);
static_assert(offsetof(IMAGE_RESOURCE_DATA_ENTRY, CodePage) == Rsrc::DataCodePage);
