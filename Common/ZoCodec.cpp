#include "ZoCodec.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ZoSysUtils.h"

namespace ZoCodec {
namespace {

constexpr size_t kInChunk = 64 * 1024, kOutChunk = 256 * 1024;
constexpr size_t kMaxOutput = 0x7FFFFFFF;  // package sizes are 32-bit signed
// A key run of 64 periods, plus one period so that it can start at any phase:
// the XOR then runs over long plain arrays, which the compiler does a word at a time.
constexpr size_t kKeyRun = kKeyPeriod * 64;

// Built on first use, on the heap: as a constant the compiler would store its
// 16 KB in every program.
const uint8_t* Key()
{
    static const std::vector<uint8_t> key = [] {
        std::vector<uint8_t> k(kKeyRun + kKeyPeriod);
        for (size_t i = 0; i < k.size(); ++i) k[i] = static_cast<uint8_t>(i % kKeyPeriod);
        return k;
    }();
    return key.data();
}

size_t RoundUp256(size_t n) { return (n + 255) & ~static_cast<size_t>(255); }

[[noreturn]] void Damaged() { throw EDecompressionError(u"Error"); }

// One inflate: input in pieces, output into whatever room the caller gives.
class TInflater {
public:
    TInflater()
    {
        if (inflateInit(&z_) != Z_OK) Damaged();
    }
    ~TInflater() { inflateEnd(&z_); }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    bool NeedsInput() const { return z_.avail_in == 0; }
    void Input(const uint8_t* data, size_t size)
    {
        z_.next_in = const_cast<Bytef*>(data);
        z_.avail_in = static_cast<uInt>(size);
    }
    // The bytes produced into out (room > 0).
    size_t Run(uint8_t* out, size_t room)
    {
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(room);
        int rc = inflate(&z_, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) Damaged();
        size_t produced = room - z_.avail_out;
        // No progress although input and room were there: the data cannot go on.
        if (rc == Z_BUF_ERROR && produced == 0 && z_.avail_in != 0) Damaged();
        finished_ = rc == Z_STREAM_END;
        return produced;
    }
    bool Finished() const { return finished_; }

private:
    z_stream z_{};
    bool finished_ = false;
};

// Feeds the inflater the next piece of encoded, unscrambled into buffer when
// asked; the end of the input before the end of the stream is damage.
class TEncodedInput {
public:
    TEncodedInput(std::span<const uint8_t> encoded, bool scrambled)
        : encoded_(encoded), scrambled_(scrambled), buffer_(scrambled ? kInChunk : 0)
    {
    }
    void Feed(TInflater& inflater)
    {
        if (offset_ == encoded_.size()) Damaged();  // truncated
        const size_t n = std::min(scrambled_ ? kInChunk : size_t(1) << 30, encoded_.size() - offset_);
        const uint8_t* piece = encoded_.data() + offset_;
        if (scrambled_) {
            Scramble(buffer_.data(), piece, n, offset_);
            piece = buffer_.data();
        }
        inflater.Input(piece, n);
        offset_ += n;
    }

private:
    std::span<const uint8_t> encoded_;
    bool scrambled_;
    std::vector<uint8_t> buffer_;
    size_t offset_ = 0;
};

}  // namespace

void Scramble(uint8_t* dst, const uint8_t* src, size_t size, size_t phase)
{
    const uint8_t* key = Key() + phase % kKeyPeriod;
    // Each run is a whole number of periods, so every run starts at the same phase.
    for (size_t done = 0; done < size; done += kKeyRun) {
        const size_t n = std::min(kKeyRun, size - done);
        uint8_t* d = dst + done;
        const uint8_t* s = src + done;
        // Eight bytes at a time: the installers are built for size, and the
        // compiler then leaves a byte loop alone (150 MB: 120 ms against 35 ms).
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t word, k;
            std::memcpy(&word, s + i, 8);
            std::memcpy(&k, key + i, 8);
            word ^= k;
            std::memcpy(d + i, &word, 8);
        }
        for (; i < n; ++i) d[i] = static_cast<uint8_t>(s[i] ^ key[i]);
    }
}

TBytes Deflate(const uint8_t* data, size_t size)
{
    TBytes out;
    if (size == 0) return out;
    z_stream z{};
    if (deflateInit2(&z, kLevel, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ECompressionError(u"Error");
    struct TEnd {
        z_stream* z;
        ~TEnd() { deflateEnd(z); }
    } end{&z};
    out.resize(RoundUp256(size + size / 10 + 12));
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    int rc;
    do {
        z.next_out = out.data() + z.total_out;
        z.avail_out = static_cast<uInt>(out.size() - z.total_out);
        rc = deflate(&z, Z_FINISH);
        if (rc < 0 && rc != Z_BUF_ERROR) throw ECompressionError(u"Error");
        if (rc != Z_STREAM_END) out.resize(out.size() + 256);
    } while (rc != Z_STREAM_END);
    out.resize(z.total_out);
    return out;
}

TBytes Store(const uint8_t* data, size_t size)
{
    TBytes out;
    if (size == 0) return out;
    constexpr size_t kBlock = 65535;  // a stored block's length is 16 bits
    out.reserve(2 + size + 5 * (size / kBlock + 1) + 4);
    out.insert(out.end(), {0x78, 0x01});  // deflate, 32 KiB window, fastest level
    for (size_t at = 0; at < size; at += kBlock) {
        const size_t n = std::min(kBlock, size - at);
        out.push_back(at + n == size ? 1 : 0);  // BFINAL on the last block, BTYPE stored
        out.insert(out.end(), {uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        out.insert(out.end(), data + at, data + at + n);
    }
    const auto trailer = Adler32Trailer(static_cast<uint32_t>(adler32_z(1, data, size)));
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

TBytes DeflatePiece(const TBytes& input, const TBytes& dictionary, bool last)
{
    z_stream z{};
    if (deflateInit2(&z, kLevel, Z_DEFLATED, -kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw ECompressionError(u"Error");
    struct TEnd {
        z_stream* z;
        ~TEnd() { deflateEnd(z); }
    } end{&z};
    if (!dictionary.empty() &&
        deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK)
        throw ECompressionError(u"Error");
    TBytes output(deflateBound(&z, static_cast<uLong>(input.size())) + 64);
    z.next_in = const_cast<Bytef*>(input.data());
    z.avail_in = static_cast<uInt>(input.size());
    const int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = output.data() + z.total_out;
        z.avail_out = static_cast<uInt>(output.size() - z.total_out);
        int r = deflate(&z, flush);
        if (r == Z_STREAM_ERROR) throw ECompressionError(u"Error");
        if (last ? r == Z_STREAM_END : (z.avail_in == 0 && z.avail_out != 0)) break;
        output.resize(output.size() + 4096);
    }
    output.resize(z.total_out);
    return output;
}

std::array<uint8_t, 4> Adler32Trailer(uint32_t adler)
{
    return {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)};
}

EDecompressionError TooLarge(uint64_t limit)
{
    constexpr uint64_t MiB = uint64_t{1} << 20;
    const WideString ceiling = limit % MiB == 0 ? IntToStr(static_cast<int64_t>(limit / MiB)) + u" MiB"
                                                : IntToStr(static_cast<int64_t>(limit)) + u" bytes";
    return EDecompressionError(u"Damaged data: it decodes to more than " + ceiling + u".");
}

uint64_t Decode(std::span<const uint8_t> encoded, bool scrambled, const TSink& sink, uint64_t limit)
{
    if (encoded.empty()) return 0;  // the encoded form of nothing is nothing
    TInflater inflater;
    TEncodedInput input(encoded, scrambled);
    std::vector<uint8_t> out(kOutChunk);
    uint64_t total = 0;
    while (!inflater.Finished()) {
        if (inflater.NeedsInput()) input.Feed(inflater);
        size_t produced = inflater.Run(out.data(), out.size());
        if (produced > limit - total) throw TooLarge(limit);
        total += produced;
        if (produced && sink) sink(out.data(), produced);
    }
    return total;
}

void InflateInto(std::span<const uint8_t> zlibStream, TBytes& out, size_t limit)
{
    out.clear();
    if (zlibStream.empty()) return;
    try {
        TInflater inflater;
        TEncodedInput input(zlibStream, false);
        // One byte of room past the ceiling shows a stream that goes on.
        const size_t room = limit < kMaxOutput ? limit + 1 : kMaxOutput;
        // Straight into the target, growing it geometrically so that a highly
        // compressed file does not cost quadratic copying.
        out.resize(std::min(room, RoundUp256(std::max<size_t>(zlibStream.size() * 2, 256))));
        size_t filled = 0;
        while (!inflater.Finished()) {
            if (inflater.NeedsInput()) input.Feed(inflater);
            if (filled == out.size()) {
                if (out.size() >= room) {
                    if (room == kMaxOutput) Damaged();
                    throw TooLarge(limit);
                }
                out.resize(std::min(room, out.size() * 2));
            }
            filled += inflater.Run(out.data() + filled, out.size() - filled);
        }
        if (filled > limit) throw TooLarge(limit);
        out.resize(filled);
    } catch (...) {
        out.clear();
        throw;
    }
}

}  // namespace ZoCodec
