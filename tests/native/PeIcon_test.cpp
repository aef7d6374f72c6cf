#include <gtest/gtest.h>
#include <zlib.h>

#include "PeIcon.h"
#include "PeVersion.h"
#include "TestSupport.h"
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
