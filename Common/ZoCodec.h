// The package codec's two layers, written once: zlib at fixed settings (level 9,
// deflate, 15-bit window, memory level 8, default strategy) and the scrambling
// (byte i XORed with i mod 255). TZoSysfn::CompressStream/DecompressStream,
// TSetupfn::EncodeStream/DecodeStream, the installer's file writer, the package
// index and the packaging tool's chunked encoder all rest on it.
//
// Decoding is one streaming inflater: input is taken in pieces (unscrambled
// piece by piece when asked) and output is handed over in pieces, so a file of
// any size needs a fixed amount of memory. Damaged, truncated or foreign data
// raises EDecompressionError "Error"; bytes after the end of the zlib stream
// are ignored.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ZoFnRef.h"
#include "ZoTypes.h"

namespace ZoCodec {

inline constexpr int kLevel = 9;
inline constexpr int kWindowBits = 15;
inline constexpr int kMemLevel = 8;
// The zlib header those settings give (RFC 1950: deflate, 32 KiB window, level 9).
inline constexpr uint8_t kZlibHeader[2] = {0x78, 0xDA};
// The scrambling key runs 0, 1, ..., 254 and starts again: period 255, not 256.
inline constexpr size_t kKeyPeriod = 255;

// XORs size bytes with the key from phase on: byte i with (phase + i) mod 255.
// dst may be src.
void Scramble(uint8_t* dst, const uint8_t* src, size_t size, size_t phase = 0);
inline void Scramble(uint8_t* data, size_t size, size_t phase = 0) { Scramble(data, data, size, phase); }

// A whole zlib stream of the bytes, made in one pass (empty input: empty output).
// Raises ECompressionError "Error".
TBytes Deflate(const uint8_t* data, size_t size);

// The same as a zlib stream any inflater reads, in stored blocks: for the
// programs, which write small data files and so carry no deflater.
TBytes Store(const uint8_t* data, size_t size);

// One piece of a zlib stream made in chunks: raw deflate of input, its matches
// reaching back into dictionary (the previous chunk's last 32 KiB), ending on a
// byte boundary so that pieces join, or finishing the stream when last. Header
// and trailer are the caller's (kZlibHeader, Adler32Trailer).
TBytes DeflatePiece(const TBytes& input, const TBytes& dictionary, bool last);
// The four bytes that end a zlib stream: its Adler-32, big-endian.
std::array<uint8_t, 4> Adler32Trailer(uint32_t adler);

// Where decoded bytes go, piece by piece.
using TSink = TFnRef<void(const uint8_t* data, size_t size)>;

// Inflates a zlib stream; scrambled input is unscrambled as it is read (the key
// counting from encoded's first byte). sink may be empty to check the data
// without output. Returns the decoded size. Output past limit bytes raises
// TooLarge(limit) before any of it reaches the sink.
uint64_t Decode(std::span<const uint8_t> encoded, bool scrambled, const TSink& sink, uint64_t limit = UINT64_MAX);

// Inflates a zlib stream into out (replacing its content), growing it by
// doubling; output that would reach 2 GiB is an error like damaged data, and
// output past limit bytes TooLarge(limit). out is empty after any error.
void InflateInto(std::span<const uint8_t> zlibStream, TBytes& out, size_t limit = SIZE_MAX);

// The error for data that decodes to more than its ceiling, naming the ceiling
// ("256 MiB", or a count of bytes).
EDecompressionError TooLarge(uint64_t limit);

}  // namespace ZoCodec
