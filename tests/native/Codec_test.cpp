#include <gtest/gtest.h>
#include <zlib.h>

#include "SetupFn.h"
#include "TestSupport.h"
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

TEST(Codec, KeyByteAtOffsets255And510IsZero)
{
    TBytes zeros(600, 0);
    ScrambleBytes(zeros.data(), zeros.size());
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
}
