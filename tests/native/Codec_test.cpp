#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "SetupFn.h"
#include "TestSupport.h"
#include "ZoCodec.h"
#include "ZoSysUtils.h"

namespace {

TBytes ZlibAt(const TBytes& plain, int level)
{
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    TBytes out(size);
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TBytes Scrambled(TBytes bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= static_cast<uint8_t>(i % 255);
    return bytes;
}

TBytes Encode(const TBytes& plain)
{
    TMemoryStream s{plain};
    TSetupfn::EncodeStream(&s);
    EXPECT_EQ(s.Position(), 0);
    return s.Bytes();
}

TBytes Decode(const TBytes& encoded)
{
    TMemoryStream s{encoded};
    s.SetPosition(3);  // the whole content counts, whatever the position
    TSetupfn::DecodeStream(&s);
    EXPECT_EQ(s.Position(), 0);
    return s.Bytes();
}

}  // namespace

TEST(Codec, EmptyStaysEmptyBothWays)
{
    EXPECT_TRUE(Encode({}).empty());
    EXPECT_TRUE(Decode({}).empty());
}

TEST(Codec, EncodingIsZlibLevel9ThenXorWithPeriod255)
{
    for (size_t size : {1u, 254u, 255u, 256u, 257u, 70000u}) {
        TBytes plain = RandomBytes(size, static_cast<uint32_t>(size));
        TBytes encoded = Encode(plain);
        EXPECT_EQ(encoded, Scrambled(ZlibAt(plain, 9))) << size;
        EXPECT_EQ(Decode(encoded), plain) << size;
        EXPECT_EQ(Encode(plain), encoded) << "deterministic";
    }
}

TEST(Codec, StoredEncodingIsAZlibStreamAnyInflaterReads)
{
    // Block edges: one byte, one block exactly, one past it, several blocks.
    for (size_t size : {1u, 65535u, 65536u, 200000u}) {
        TBytes plain = RandomBytes(size, static_cast<uint32_t>(size));
        TMemoryStream s{plain};
        TSetupfn::EncodeStreamStored(&s);
        EXPECT_EQ(Decode(s.Bytes()), plain) << size;
        TBytes zlib = Scrambled(s.Bytes());
        uLongf plainSize = static_cast<uLongf>(size);
        TBytes inflated(size);
        EXPECT_EQ(uncompress(inflated.data(), &plainSize, zlib.data(), static_cast<uLong>(zlib.size())), Z_OK) << size;
        EXPECT_EQ(inflated, plain) << size;
    }
    TMemoryStream empty;
    TSetupfn::EncodeStreamStored(&empty);
    EXPECT_TRUE(empty.Bytes().empty());
}

TEST(Codec, KeyByteAtOffsets255And510IsZero)
{
    TBytes zeros(600, 0);
    ZoCodec::Scramble(zeros.data(), zeros.size());
    EXPECT_EQ(zeros[0], 0);
    EXPECT_EQ(zeros[254], 254);
    EXPECT_EQ(zeros[255], 0);
    EXPECT_EQ(zeros[256], 1);
    EXPECT_EQ(zeros[510], 0);
}

TEST(Codec, DecodesAnyConformingZlibStream)
{
    TBytes plain(100000);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>("installer "[i % 10]);
    for (int level : {0, 1, 6}) EXPECT_EQ(Decode(Scrambled(ZlibAt(plain, level))), plain) << level;
}

TEST(Codec, HighlyCompressedDataDecodes)
{
    TBytes plain(20 << 20, 'x');  // 20 MiB of one byte: grows the output buffer many times
    EXPECT_EQ(Decode(Encode(plain)), plain);
}

TEST(Codec, DamagedOrTruncatedOrForeignDataFailsWithError)
{
    TBytes plain = RandomBytes(5000, 7);
    TBytes encoded = Encode(plain);

    TBytes firstByte = encoded;
    firstByte[0] ^= 0x55;
    TBytes truncated(encoded.begin(), encoded.begin() + static_cast<long>(encoded.size() / 2));
    TBytes unscrambled = ZlibAt(plain, 9);
    for (const TBytes& bad : {firstByte, truncated, unscrambled, TBytes{1, 2, 3}}) {
        try {
            Decode(bad);
            FAIL() << "decoded damaged data";
        } catch (const EDecompressionError& e) {
            EXPECT_EQ(e.Message(), u"Error");
        }
    }
}

TEST(Codec, FailedDecodeLeavesUnscrambledBytes)
{
    TBytes encoded = Encode(RandomBytes(1000, 3));
    encoded[0] ^= 0xFF;
    TMemoryStream s{encoded};
    EXPECT_THROW(TSetupfn::DecodeStream(&s), EDecompressionError);
    EXPECT_EQ(s.Bytes(), Scrambled(encoded));
}

TEST(Codec, CompressPairEmptiesTargetFirst)
{
    TMemoryStream source{TBytes{'a', 'b', 'c'}}, target{TBytes(100, 9)};
    TZoSysfn::CompressStream(&source, &target);
    TMemoryStream back;
    TZoSysfn::DecompressStream(&target, &back);
    EXPECT_EQ(back.ToString(), "abc");
    TMemoryStream empty;
    TZoSysfn::CompressStream(&empty, &target);
    EXPECT_EQ(target.Size(), 0);
    EXPECT_THROW(TZoSysfn::CompressStream(nullptr, &target), EAssertionFailed);
}

namespace {

// The encoded form of a zlib stream of `size` zeros, made piece by piece: a
// bomb of a few hundred kilobytes that claims hundreds of megabytes.
TBytes EncodedZeros(size_t size)
{
    z_stream z{};
    deflateInit(&z, 1);
    TBytes zeros(1 << 20), out, piece(1 << 16);
    for (size_t left = size;;) {
        size_t n = std::min(left, zeros.size());
        left -= n;
        z.next_in = zeros.data();
        z.avail_in = static_cast<uInt>(n);
        int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int rc;
        do {
            z.next_out = piece.data();
            z.avail_out = static_cast<uInt>(piece.size());
            rc = deflate(&z, flush);
            out.insert(out.end(), piece.data(), piece.data() + (piece.size() - z.avail_out));
        } while (z.avail_out == 0);
        if (rc == Z_STREAM_END) break;
    }
    deflateEnd(&z);
    return Scrambled(std::move(out));
}

}  // namespace

TEST(Codec, StopsDecodingAtItsCeilingWithADamagedDataError)
{
    // Exactly the ceiling decodes; one byte more does not.
    TMemoryStream fits{Encode(TBytes(1000, 'a'))};
    TSetupfn::DecodeStream(&fits, 1000);
    EXPECT_EQ(fits.Size(), 1000);
    TMemoryStream over{Encode(TBytes(1001, 'a'))};
    try {
        TSetupfn::DecodeStream(&over, 1000);
        FAIL() << "decoded past its ceiling";
    } catch (const EDecompressionError& e) {
        EXPECT_STREQ(e.what(), "Damaged data: it decodes to more than 1000 bytes.");
    }

    // A script, agreement or Uninstall.da1 stops at 256 MiB: a bomb fails
    // after that much output rather than after gigabytes.
    TBytes bomb = EncodedZeros((size_t{256} << 20) + 1);
    EXPECT_LT(bomb.size(), 2u << 20);
    TMemoryStream s{std::move(bomb)};
    try {
        TSetupfn::DecodeStream(&s);
        FAIL() << "the bomb decoded";
    } catch (const EDecompressionError& e) {
        EXPECT_STREQ(e.what(), "Damaged data: it decodes to more than 256 MiB.");
    }

    // The streaming decoder stops at its ceiling before handing anything past it on.
    TBytes encoded = Encode(TBytes(300000, 'b'));
    uint64_t handed = 0;
    EXPECT_EQ(ZoCodec::Decode(encoded, true, nullptr, 300000), 300000u);
    EXPECT_THROW(ZoCodec::Decode(encoded, true, [&](const uint8_t*, size_t n) { handed += n; }, 299999),
                 EDecompressionError);
    EXPECT_LE(handed, 299999u);
}

TEST(Codec, ScramblingFromAPhaseContinuesTheKey)
{
    // Pieces scrambled with their offset as phase join into the whole's scrambling.
    TBytes plain = RandomBytes(40000, 11);
    TBytes whole = Scrambled(plain), pieces = plain;
    for (size_t at = 0, step = 1; at < pieces.size(); at += step, step = step * 3 + 7) {
        size_t n = std::min(step, pieces.size() - at);
        ZoCodec::Scramble(pieces.data() + at, n, at);
    }
    EXPECT_EQ(pieces, whole);
    TBytes copy(plain.size());
    ZoCodec::Scramble(copy.data(), plain.data(), plain.size(), 0);
    EXPECT_EQ(copy, whole);
}

TEST(Codec, StreamingDecodeGivesTheSameBytesInPieces)
{
    // Larger than one input and one output piece, so both wrap around.
    TBytes plain = RandomBytes(300000, 5);
    plain.insert(plain.end(), 700000, 'z');
    TBytes encoded = Encode(plain);
    TBytes got;
    size_t calls = 0;
    uint64_t size = DecodeImage(encoded, [&](const uint8_t* data, size_t n) {
        got.insert(got.end(), data, data + n);
        ++calls;
    });
    EXPECT_EQ(size, plain.size());
    EXPECT_EQ(got, plain);
    EXPECT_GT(calls, 1u);
    EXPECT_EQ(DecodeImage(encoded, nullptr), plain.size());  // a check alone
    EXPECT_EQ(DecodeBytes(encoded), plain);
    EXPECT_EQ(DecodeImage({}, nullptr), 0u);
}

TEST(Codec, StreamingDecodeRefusesWhatTheStreamDecodeRefuses)
{
    TBytes encoded = Encode(RandomBytes(200000, 9));
    TBytes truncated(encoded.begin(), encoded.end() - 1);
    TBytes damaged = encoded;
    damaged[encoded.size() / 2] ^= 0x40;
    for (const TBytes& bad : {truncated, damaged, TBytes{0x78}}) {
        EXPECT_THROW(DecodeImage(bad, nullptr), EDecompressionError);
        EXPECT_THROW(Decode(bad), EDecompressionError);
    }
    // What follows the end of the stream is not looked at, by either.
    TBytes trailing = Encode({'a', 'b'});
    trailing.push_back(0x99);
    EXPECT_EQ(DecodeBytes(trailing), (TBytes{'a', 'b'}));
    EXPECT_EQ(Decode(trailing), (TBytes{'a', 'b'}));
}

TEST(Codec, ChunkedPiecesJoinIntoTheOneCallStream)
{
    // The packaging tool's form of an image that fits one chunk: header, one
    // finishing piece, trailer; byte for byte the whole-buffer encoding.
    TBytes plain = RandomBytes(5000, 2);
    plain.insert(plain.end(), 5000, 'q');
    TBytes image(ZoCodec::kZlibHeader, ZoCodec::kZlibHeader + 2);
    TBytes piece = ZoCodec::DeflatePiece(plain, {}, true);
    image.insert(image.end(), piece.begin(), piece.end());
    auto trailer = ZoCodec::Adler32Trailer(static_cast<uint32_t>(adler32(1, plain.data(), plain.size())));
    image.insert(image.end(), trailer.begin(), trailer.end());
    EXPECT_EQ(image, ZoCodec::Deflate(plain.data(), plain.size()));

    // Two pieces, the second reaching back into the first.
    TBytes first(plain.begin(), plain.begin() + 6000), second(plain.begin() + 6000, plain.end());
    TBytes joined(ZoCodec::kZlibHeader, ZoCodec::kZlibHeader + 2);
    for (const TBytes& p : {ZoCodec::DeflatePiece(first, {}, false), ZoCodec::DeflatePiece(second, first, true)})
        joined.insert(joined.end(), p.begin(), p.end());
    joined.insert(joined.end(), trailer.begin(), trailer.end());
    TBytes back;
    ZoCodec::InflateInto(joined, back);
    EXPECT_EQ(back, plain);
}
