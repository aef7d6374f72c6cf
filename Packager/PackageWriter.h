// Writes the product-file block of a full installer: each file's image in the
// package codec, then the encoded index and its 4-byte trailer. Images are
// compressed on a pool of threads, in chunks, and written in input order as
// they finish, so memory holds only the chunks in flight and the output does
// not depend on the number of threads.
#pragma once

#include <functional>
#include <vector>

#include "ZoStream.h"
#include "ZoTypes.h"

struct TPackInput {
    WideString FileName;  // on the build machine
    WideString GUID;      // the key its file entry gives as ResID
    uint64_t Size = 0;    // as found when scanning; another size when read is an error
};

struct TPackTotals {
    uint64_t Files = 0;     // images written
    uint64_t BytesIn = 0;   // plain bytes read
    uint64_t BlockSize = 0; // bytes of the block, index and trailer included
};

class TPackageBlockWriter {
public:
    static constexpr size_t kDefaultChunk = 1 << 20;
    // Offsets and lengths in the block are signed 32-bit.
    static constexpr uint64_t kBlockLimit = 0x7FFFFFFF;
    // threads: compressing threads (at least 1); chunk: plain bytes per piece
    // of work. The output depends on chunk, never on threads.
    explicit TPackageBlockWriter(unsigned threads, size_t chunk = kDefaultChunk, uint64_t limit = kBlockLimit);

    // Writes the block for the files (empty files get no image) at the
    // output's position. progress, when set, receives the plain bytes done
    // so far. Raises EInOutError for a file that cannot be read or changed,
    // EPackageError for a block that would reach 2 GiB.
    TPackTotals Write(const std::vector<TPackInput>& files, TStream& out,
                      const std::function<void(uint64_t)>& progress = {}) const;

private:
    unsigned threads_;
    size_t chunk_;
    uint64_t limit_;
};
