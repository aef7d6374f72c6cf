// The codec of every embedded resource and the expansion of path constants,
// with the program-wide values the expansion reads.
#pragma once

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
    // What a script, an agreement text, an icon, the package index or
    // "Uninstall.da1" may decode to; past it the data is taken as damaged
    // (a few megabytes of zlib can claim gigabytes).
    static constexpr size_t kMaxDecodedBytes = size_t{256} << 20;
    // "{pf}", "{group}", "{desktop}", "{app}", "{srcexe}", then "\\" -> "\".
    static WideString ExpandConstants(const WideString& text);
};

// XOR with (i mod 255) over the buffer, counting i from the buffer's first byte.
void ScrambleBytes(uint8_t* data, size_t size);

// Folder values, computed by InitFolderValues at start-up.
extern WideString ProgramFilesDir;
extern WideString DesktopDir;
extern WideString CommonProgramsDir;
// Set by the installation driver.
extern WideString AppTitleValue;
extern WideString InstallDir;

void InitFolderValues();
