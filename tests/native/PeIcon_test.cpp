#include <gtest/gtest.h>
#include <zlib.h>

#include "PeIcon.h"
#include "PeVersion.h"
#include "TestSupport.h"
#include "ZoChecksums.h"
#include "ZoSysUtils.h"

namespace {

TBytes Fixture(const char* name)
{
    std::string bytes = ReadFileBytes(std::filesystem::path(ZO_SOURCE_DIR) / "tests/native/data" / name);
    return TBytes(bytes.begin(), bytes.end());
}

TBytes Png(uint32_t w, uint32_t h)
{
    std::vector<uint8_t> rgba(size_t(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 7);
    return EncodePng(w, h, rgba.data());
}

std::string PngError(const TBytes& png)
{
    try {
        CheckPng(png);
        return "valid";
    } catch (const EImageError& e) {
        return e.what();
    }
}

// Rewrites one chunk's checksum after a change, so only the change is wrong.
void FixCrc(TBytes& png, size_t chunkAt)
{
    uint32_t len = (png[chunkAt] << 24) | (png[chunkAt + 1] << 16) | (png[chunkAt + 2] << 8) | png[chunkAt + 3];
    uint32_t crc = static_cast<uint32_t>(crc32(0, &png[chunkAt + 4], 4 + len));
    for (int i = 0; i < 4; ++i) png[chunkAt + 8 + len + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

// The programs' own checksums stand in for zlib's: the same values for lengths
// around zlib's strides and the Adler-32 reduction block, from any start, and
// when continued piece by piece.
TEST(SmallChecksums, AgreeWithZlib)
{
    std::vector<uint8_t> data(12000, 0xFF);
    for (size_t size : {size_t(0), size_t(1), size_t(15), size_t(16), size_t(5552), size_t(5553), data.size()}) {
        for (uint32_t start : {1u, 0xFFF0FFF0u, 0x12345678u})
            EXPECT_EQ(ZoAdler32(start, data.data(), size), adler32_z(start, data.data(), size)) << size << " " << start;
    }
    EXPECT_EQ(ZoAdler32(ZoAdler32(1, data.data(), 7000), data.data() + 7000, 5000), adler32_z(1, data.data(), data.size()));

    data.resize(1031);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + (i >> 3));
    for (size_t size : {size_t(0), size_t(1), size_t(3), size_t(4), size_t(7), size_t(8), size_t(33), data.size()}) {
        EXPECT_EQ(ZoCrc32(0, data.data(), size), crc32(0, data.data(), static_cast<uInt>(size))) << size;
        EXPECT_EQ(ZoCrc32(0xDEADBEEF, data.data(), size), crc32(0xDEADBEEF, data.data(), static_cast<uInt>(size))) << size;
    }
    uint32_t pieces = ZoCrc32(ZoCrc32(0, data.data(), 500), data.data() + 500, data.size() - 500);
    EXPECT_EQ(pieces, crc32(0, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(ZoCrc32(0, reinterpret_cast<const uint8_t*>("IEND"), 4), 0xAE426082u);
}

TEST(PngCheck, AcceptsWholeImagesAndNamesWhatIsWrongWithOthers)
{
    TBytes good = Png(48, 32);
    TPngInfo info = CheckPng(good);
    EXPECT_EQ(info.Width, 48u);
    EXPECT_EQ(info.Height, 32u);
    EXPECT_EQ(info.ColorType, 6);

    EXPECT_EQ(PngError(TBytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0}), "not a valid PNG image: no PNG signature");
    EXPECT_EQ(PngError(TBytes(good.begin(), good.end() - 12)), "not a valid PNG image: cut off before its end chunk");
    TBytes flipped = good;
    flipped[good.size() / 2] ^= 1;
    EXPECT_EQ(PngError(flipped), "not a valid PNG image: a chunk checksum does not match (damaged file)");
    TBytes taller = good;
    taller[8 + 8 + 7] = 33;  // height 33: one row of data missing
    FixCrc(taller, 8);
    EXPECT_EQ(PngError(taller), "not a valid PNG image: the image data is cut off");
    TBytes huge = good;
    huge[8 + 8 + 2] = 0x20;  // width 0x200030
    FixCrc(huge, 8);
    EXPECT_EQ(PngError(huge), "the icon image is larger than 4096 x 4096 pixels");
    TBytes depth = good;
    depth[8 + 8 + 8] = 3;
    FixCrc(depth, 8);
    EXPECT_EQ(PngError(depth), "not a valid PNG image: bad bit depth");
}

TEST(ExplorerIcon, ReplacesTheFirstGroupWithThePngAndReadsBack)
{
    TPeImage pe = TPeImage::FromBytes(Fixture("tiny64.exe"));
    EXPECT_TRUE(ExplorerIcon(pe).empty());
    const TBytes small = Png(32, 32), large = Png(256, 256);
    SetExplorerIcon(pe, small);
    TPeImage once = TPeImage::FromBytes(pe.Save());
    auto icon = ExplorerIcon(once);
    ASSERT_EQ(icon.size(), 1u);
    EXPECT_EQ(icon[0].Width, 32u);
    EXPECT_EQ(icon[0].BitCount, 32);
    EXPECT_EQ(icon[0].Image, small);

    // A second icon replaces the first: one group, one image, no orphans.
    SetExplorerIcon(once, large);
    TPeImage twice = TPeImage::FromBytes(once.Save());
    icon = ExplorerIcon(twice);
    ASSERT_EQ(icon.size(), 1u);
    EXPECT_EQ(icon[0].Width, 256u);
    EXPECT_EQ(icon[0].Image, large);
    EXPECT_EQ(twice.ResourcesOfType(pe::kGroupIcon).size(), 1u);
    EXPECT_EQ(twice.ResourcesOfType(pe::kIcon).size(), 1u);

    EXPECT_THROW(SetExplorerIcon(twice, TBytes{1, 2, 3}), EImageError);
}

// A PNG of the given header values and raw (filtered) rows, with a palette and
// transparency chunk when given.
TBytes RawPng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colourType, const TBytes& rows, const TBytes& plte = {},
              const TBytes& trns = {})
{
    TBytes png{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, const TBytes& body) {
        for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(body.size() >> s));
        size_t at = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), body.begin(), body.end());
        uint32_t crc = static_cast<uint32_t>(crc32(0, &png[at], static_cast<uInt>(4 + body.size())));
        for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(crc >> s));
    };
    TBytes header;
    for (uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8) header.push_back(uint8_t(v >> s));
    header.insert(header.end(), {depth, colourType, 0, 0, 0});
    chunk("IHDR", header);
    if (!plte.empty()) chunk("PLTE", plte);
    if (!trns.empty()) chunk("tRNS", trns);
    uLongf packedSize = compressBound(static_cast<uLong>(rows.size()));
    TBytes packed(packedSize);
    compress(packed.data(), &packedSize, rows.data(), static_cast<uLong>(rows.size()));
    packed.resize(packedSize);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return png;
}

// The installer shows its icon from these images without GDI+: each size the
// window draws, beside an untouched Explorer icon, decoding to the icon's pixels.
TEST(WindowIcon, HoldsEachSideBesideTheExplorerIconAndDecodesLikeTheImage)
{
    // 2-bit palette pixels (index 2 transparent), rows filtered Sub and Up.
    TBytes palette{255, 0, 0, 0, 255, 0, 0, 0, 255};
    TBytes rows{1, 0b00011000, 2, 0b01000000};  // indices 0, 1, 2 (Sub); then Up adds row 0: 1, 1, 2
    TRgbaImage small = DecodePng(RawPng(3, 2, 2, 3, rows, palette, TBytes{255, 255, 0}));
    EXPECT_EQ(small.Pixels, (TBytes{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 0,  //
                                    0, 255, 0, 255, 0, 255, 0, 255, 0, 0, 255, 0}));

    std::vector<uint8_t> rgba(256 * 256 * 4);
    for (size_t i = 0; i < rgba.size(); i += 4) {
        bool corner = i / 4 % 256 < 128 && i / 4 / 256 < 128;  // the top-left quarter clear
        rgba[i] = 10, rgba[i + 1] = 200, rgba[i + 2] = 30, rgba[i + 3] = corner ? 0 : 255;
    }
    const TBytes png = EncodePng(256, 256, rgba.data());
    TPeImage pe = TPeImage::FromBytes(Fixture("tiny64.exe"));
    SetExplorerIcon(pe, png);
    SetWindowIcon(pe, png, 96);
    SetWindowIcon(pe, png, 96);  // again: the same group, no images left over
    TPeImage saved = TPeImage::FromBytes(pe.Save());
    ASSERT_EQ(ExplorerIcon(saved).size(), 1u);
    EXPECT_EQ(ExplorerIcon(saved)[0].Image, png);

    const std::vector<uint32_t> sides{16, 20, 24, 32, 40, 48, 64, 96, 120, 144, 168, 192};
    EXPECT_EQ(WindowIconSides(256, 256, 96), sides);
    EXPECT_EQ(WindowIconSides(48, 48, 96).back(), 96u);  // a small icon drawn at 200 %
    const TPeResource* group = saved.Find(pe::kGroupIcon, kWindowIconGroup);
    ASSERT_TRUE(group);
    const TBytes g = saved.ReadResource(*group);
    ASSERT_EQ(g[4], sides.size());
    EXPECT_EQ(saved.ResourcesOfType(pe::kIcon).size(), sides.size() + 1);
    for (size_t i = 0; i < sides.size(); ++i) {
        const uint8_t* e = &g[6 + 14 * i];
        const TPeResource* image = saved.Find(pe::kIcon, TResName(uint16_t(e[12] | (e[13] << 8))));
        ASSERT_TRUE(image);
        TRgbaImage decoded = DecodePng(saved.ReadResource(*image));
        ASSERT_EQ(decoded.Width, sides[i]);
        ASSERT_EQ(decoded.Height, sides[i]);
        const size_t last = decoded.Pixels.size() - 4, first = 0;
        EXPECT_EQ(TBytes(&decoded.Pixels[last], &decoded.Pixels[last] + 4), (TBytes{10, 200, 30, 255})) << sides[i];
        EXPECT_EQ(decoded.Pixels[first + 3], 0) << sides[i];
    }
}

TEST(VersionResource, RoundTripsAndReadsTheResourceCompilersForm)
{
    TVersionInfo info;
    info.FileVersion = {2, 5, 1, 300};
    info.ProductVersion = {2, 5, 1, 300};
    info.Strings = {{u"CompanyName", u"Zo 软件"}, {u"FileDescription", u"演示安装程序"}, {u"FileVersion", u"2.5.1.300"},
                    {u"LegalCopyright", u""}, {u"ProductName", u"Zo Demo"}};
    TBytes built = BuildVersionResource(info);
    EXPECT_EQ(built.size() % 4, 0u);
    EXPECT_EQ(built[0] | (built[1] << 8), static_cast<int>(built.size())) << "the root length covers everything";
    TVersionInfo back = ParseVersionResource(built);
    EXPECT_EQ(back.FileVersion, info.FileVersion);
    EXPECT_EQ(back.Language, 0x0804);
    EXPECT_EQ(back.CodePage, 1200);
    EXPECT_EQ(back.Strings, info.Strings);

    TPeImage tiny = TPeImage::FromBytes(Fixture("tiny64.exe"));
    TVersionInfo compiled = ParseVersionResource(tiny.ReadResource(*tiny.Find(pe::kVersion, 1)));
    EXPECT_EQ(compiled.FileVersion, (std::array<uint16_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(compiled.Language, 0x0409);
    ASSERT_NE(compiled.Find(u"FileDescription"), nullptr);
    EXPECT_EQ(*compiled.Find(u"FileDescription"), u"tiny");

    for (size_t n = 0; n < built.size(); n += 3) {  // truncated: an error, never a crash
        try {
            ParseVersionResource(TBytes(built.begin(), built.begin() + n));
        } catch (const EPeFormatError&) {
        }
    }
}

}  // namespace
