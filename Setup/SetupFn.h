// The codec of every embedded resource and the expansion of path constants,
// with the program-wide values the expansion reads.
#pragma once

#include <span>

#include "SetupProject.h"
#include "ZoCodec.h"
#include "ZoStream.h"
#include "ZoTypes.h"

class TSetupfn {
public:
    TSetupfn() = delete;
    // Replaces the stream's whole content by its encoded form (zlib level 9,
    // then XOR with i mod 255); position 0 afterwards.
    static void EncodeStream(TMemoryStream* stream);
    // The inverse; raises EDecompressionError "Error" on damaged data, and
    // one naming the ceiling for data that would decode past maxBytes.
    static void DecodeStream(TMemoryStream* stream, size_t maxBytes = kMaxDecodedBytes);
    // EncodeStream in stored blocks (ZoCodec::Store): what the installer writes,
    // read by the same decoder.
    static void EncodeStreamStored(TMemoryStream* stream);
    // What a script, an agreement text, an icon, the package index or
    // "Uninstall.da1" may decode to; past it the data is taken as damaged
    // (a few megabytes of zlib can claim gigabytes).
    static constexpr size_t kMaxDecodedBytes = size_t{256} << 20;
    // "{pf}", "{group}", "{desktop}", "{app}", "{srcexe}", then "\\" -> "\".
    static WideString ExpandConstants(const WideString& text);
};

// Decodes an encoded image (a product file as it lies in the package) piece by
// piece into sink, so a file of any size needs only a fixed amount of memory.
// sink may be empty to check the image without output. Returns the decoded
// size; raises EDecompressionError "Error" for damaged data. The output never
// passes limit (an entry's FileBytes): past it, EDecompressionError.
uint64_t DecodeImage(std::span<const uint8_t> image, const ZoCodec::TSink& sink, uint64_t limit = UINT64_MAX);
// The decoded bytes of an encoded piece that is not to be changed in place.
TBytes DecodeBytes(std::span<const uint8_t> encoded);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\" + guid + suffix: the
// uninstall key ("_mw" ours, "_is1" an earlier kind), below UninstallRoot().
WideString UninstallKeyPath(const WideString& guid, const WideString& suffix);
// Where the registration lives for the scope PerUserInstall names.
TRegRootKey UninstallRoot();

// Folder values, computed by InitFolderValues at start-up.
extern WideString ProgramFilesDir;
extern WideString DesktopDir;
extern WideString CommonProgramsDir;
// The current user's own: %LOCALAPPDATA%\Programs (no trailing backslash, as
// ProgramFilesDir) and the user's start menu programs (with one).
extern WideString UserProgramFilesDir;
extern WideString UserProgramsDir;
// Set by the installation driver.
extern WideString AppTitleValue;
extern WideString InstallDir;
// The installation is the current user's alone: {pf} and {group} expand to
// the user's folders, and the registration lives below HKEY_CURRENT_USER.
extern bool PerUserInstall;

void InitFolderValues();
