// The package: what an installer file carries, as both the packaging tool
// (which writes it) and the installer (which reads it) understand it.
//
//   installer.exe (PE32 / PE32+)
//   +-- the stub's own code and resources (icon, manifest, version)
//   +-- RCDATA FullScriptResource     encoded script XML (full package), or
//   |   RCDATA OnlineScriptResource   encoded script XML (online installer)
//   +-- RCDATA FileDataResource       the file-data block (full package only):
//   |     [image 0][image 1]...[image n-1][encoded index][N: int32 LE]
//   |     each image is one product file encoded on its own, at its Offset and
//   |     Bytes long; the index (TFileDataList as XML, encoded) names each image
//   |     by the GUID a file entry gives as ResID; N is the index's length.
//   |     Offsets count from the block's first byte; the block stays below 2 GiB.
//   +-- RCDATA FullDigestResource     the online installer only: the 32-byte
//   |     SHA-256 image digest (PeDigest.h) of the full installer its build made,
//   |     stored as is; the download must have exactly this digest
//   +-- RCDATA <BaseInfo.IconResID>   encoded PNG of the product icon
//   +-- RCDATA <BaseInfo.LicenseResID> encoded agreement text
//
// Encoded: a zlib stream (RFC 1950; level 9, 15-bit window, memory level 8),
// then every byte XORed with (i mod 255), i counting from the stream's first
// byte (TSetupfn::EncodeStream / DecodeStream, TZoSysfn::CompressStream).
//
// Resource names are 8-bit strings, braces included; the resource compiler
// stores them upper-case and the loader finds them in any case.
#pragma once

#include <cstdint>

#define ZO_FULL_SCRIPT_GUID "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}"
#define ZO_ONLINE_SCRIPT_GUID "{F907FF9D-0131-45D9-9469-A2CD78FB4793}"
#define ZO_FILE_DATA_GUID "{24B4534B-E580-4F42-BEAB-A2818FDE92C0}"
#define ZO_FULL_DIGEST_GUID "{8E0B6C52-3A77-4D1E-9F2B-5C41D7A0E6F3}"

inline constexpr const char* FullScriptResource = ZO_FULL_SCRIPT_GUID;
inline constexpr const char* OnlineScriptResource = ZO_ONLINE_SCRIPT_GUID;
inline constexpr const char* FileDataResource = ZO_FILE_DATA_GUID;
inline constexpr const char* FullDigestResource = ZO_FULL_DIGEST_GUID;

// The same names as UTF-16, for the PE reader and writer.
inline constexpr const char16_t* FullScriptResourceW = u"" ZO_FULL_SCRIPT_GUID;
inline constexpr const char16_t* OnlineScriptResourceW = u"" ZO_ONLINE_SCRIPT_GUID;
inline constexpr const char16_t* FileDataResourceW = u"" ZO_FILE_DATA_GUID;
inline constexpr const char16_t* FullDigestResourceW = u"" ZO_FULL_DIGEST_GUID;

// The side of the installer's product picture at 100 %, in pixels: the ready
// icon (SetWindowIcon of PeIcon.h) holds it at the scales displays use.
inline constexpr uint32_t ProductPictureSide = 96;
