#include <algorithm>
#include <gtest/gtest.h>

#include "FileDataClasses.h"
#include "LicenseText.h"
#include "SetupFn.h"
#include "TestSupport.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace {

TBytes Decode(std::span<const uint8_t> image)
{
    TMemoryStream s(TBytes(image.begin(), image.end()));
    TSetupfn::DecodeStream(&s);
    return s.Bytes();
}

// A block in which the images do not lie in index order and one is shared.
struct TSampleBlock {
    TBytes block;
    std::vector<TBytes> contents;
};

TSampleBlock MakeBlock()
{
    TSampleBlock b;
    b.contents = {RandomBytes(5000, 1), {}, RandomBytes(70000, 3)};
    TMemoryStream out;
    out.WriteString("prefix");  // the block starts where the writer starts
    TFileDataBlockWriter writer(out);
    writer.AddFile(u"{C}", b.contents[2].data(), b.contents[2].size());
    writer.AddFile(u"{A}", b.contents[0].data(), b.contents[0].size());
    writer.AddFile(u"{B}", b.contents[1].data(), b.contents[1].size());
    const TFileData* a = writer.Index().Items(1);
    writer.AddRecord(u"{a}", a->Offset, a->Bytes);
    int64_t length = writer.Finish();
    EXPECT_EQ(length + 6, out.Size());
    b.block.assign(out.Bytes().begin() + 6, out.Bytes().end());
    return b;
}

// A block whose index is the given list, with images of the given length in front.
TBytes BlockWithIndex(const TFileDataList& index, size_t imageBytes)
{
    TMemoryStream s;
    index.SaveToStream(s);
    TSetupfn::EncodeStream(&s);
    TBytes block(imageBytes + s.Bytes().size(), 0xAB);
    std::copy(s.Bytes().begin(), s.Bytes().end(), block.begin() + static_cast<ptrdiff_t>(imageBytes));
    uint32_t n = static_cast<uint32_t>(s.Size());
    for (int i = 0; i < 4; ++i) block.push_back(static_cast<uint8_t>(n >> (8 * i)));
    return block;
}

std::string LoadError(const TBytes& block)
{
    try {
        TFileDataList list;
        list.LoadFromBlock(block.data(), block.size());
    } catch (const EPackageError& e) {
        return e.what();
    }
    return "none";
}

}  // namespace

TEST(FileDataBlock, WrittenBlockLoadsWithEveryImage)
{
    TSampleBlock b = MakeBlock();
    TFileDataList list;
    list.LoadFromBlock(b.block.data(), b.block.size());
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(Decode(list.FindByGUID(u"{A}")->Image.Bytes()), b.contents[0]);
    EXPECT_EQ(Decode(list.FindByGUID(u"{B}")->Image.Bytes()), b.contents[1]);
    EXPECT_EQ(Decode(list.FindByGUID(u"{C}")->Image.Bytes()), b.contents[2]);
    EXPECT_EQ(list.FindByGUID(u"{a}")->Image.Bytes(), list.FindByGUID(u"{A}")->Image.Bytes());
    EXPECT_EQ(list.FindByGUID(u"{C}")->Offset, 0);
    // Keys compare exactly.
    EXPECT_EQ(list.IndexOfGUID(u"{A}"), 1);
    EXPECT_EQ(list.IndexOfGUID(u"{a}"), 3);
    EXPECT_EQ(list.IndexOfGUID(u"{D}"), -1);
    EXPECT_EQ(list.FindByGUID(u""), nullptr);
}

TEST(FileDataBlock, IndexOnlyLoadLeavesTheImagesInTheBlock)
{
    TSampleBlock b = MakeBlock();
    TFileDataList list;
    list.LoadIndexFromBlock(b.block.data(), b.block.size());
    ASSERT_EQ(list.Count(), 4);
    for (const TFileData* r : list) EXPECT_EQ(r->Image.Size(), 0);
    std::span<const uint8_t> image = TFileDataList::ImageOf(*list.FindByGUID(u"{C}"), b.block.data(), b.block.size());
    EXPECT_EQ(image.data(), b.block.data());
    EXPECT_EQ(Decode(image), b.contents[2]);
}

TEST(FileDataBlock, TheIndexIsAnEncodedListDocument)
{
    TSampleBlock b = MakeBlock();
    uint32_t n = b.block[b.block.size() - 4] | b.block[b.block.size() - 3] << 8;
    TBytes index(b.block.end() - 4 - n, b.block.end() - 4);
    std::string xml(reinterpret_cast<const char*>(Decode(index).data()), Decode(index).size());
    EXPECT_TRUE(xml.starts_with("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<TFileDataList>\r\n    <Items>\r\n"
                                "        <TFileData Bytes=\""))
        << xml;
    EXPECT_NE(xml.find("GUID=\"{C}\" Offset=\"0\"/>"), std::string::npos);
}

TEST(FileDataBlock, DamagedBlocksRaiseClearErrors)
{
    EXPECT_EQ(LoadError({1, 2, 3}), "Damaged file data block: 3 bytes are too few for the index length");
    EXPECT_EQ(LoadError({0xFF, 0xFF, 0xFF, 0xFF}),
              "Damaged file data block: the index length -1 does not fit the block of 4 bytes");
    EXPECT_EQ(LoadError({1, 0, 0, 0}), "Damaged file data block: the index length 1 does not fit the block of 4 bytes");

    TFileDataList index;
    TFileData* r = index.Add();
    r->GUID = u"{X}";
    r->Offset = 10;
    r->Bytes = 5;
    TBytes ok = BlockWithIndex(index, 15);
    EXPECT_EQ(LoadError(ok), "none");
    r->Offset = 0;
    r->Bytes = static_cast<int32_t>(ok.size()) + 1;
    EXPECT_EQ(LoadError(BlockWithIndex(index, 15)),
              "Damaged file data block: the image {X} (offset 0, " + std::to_string(ok.size() + 1) +
                  " bytes) lies outside the block of " + std::to_string(ok.size()) + " bytes");
    r->Bytes = 1;
    r->Offset = -1;
    EXPECT_NE(LoadError(BlockWithIndex(index, 15)), "none");
    r->Offset = 0x7FFFFFFF;
    r->Bytes = 0x7FFFFFFF;
    EXPECT_NE(LoadError(BlockWithIndex(index, 15)), "none");

    // An index that is not an encoded stream fails in the codec.
    TBytes garbage = {9, 9, 9, 9, 9, 4, 0, 0, 0};
    TFileDataList list;
    EXPECT_THROW(list.LoadFromBlock(garbage.data(), garbage.size()), EDecompressionError);
}

TEST(FileDataBlock, WriterRefusesRecordsOutsideWhatItWrote)
{
    TMemoryStream out;
    TFileDataBlockWriter writer(out);
    uint8_t bytes[3] = {1, 2, 3};
    writer.AddEncodedImage(u"{A}", bytes, 3);
    EXPECT_THROW(writer.AddRecord(u"{B}", 1, 3), EPackageError);
    EXPECT_THROW(writer.AddRecord(u"{B}", -1, 1), EPackageError);
    writer.AddRecord(u"{B}", 1, 2);
    EXPECT_EQ(writer.Length(), 3);
    writer.Finish();
    TFileDataList list;
    list.LoadFromBlock(out.Memory(), static_cast<size_t>(out.Size()));
    EXPECT_EQ(list.FindByGUID(u"{B}")->Image.Bytes(), (TBytes{2, 3}));
}

// ---- Agreement text ------------------------------------------------------------------

namespace {

TBytes Bytes(std::initializer_list<int> prefix, const std::string& body = "")
{
    TBytes out;
    for (int b : prefix) out.push_back(static_cast<uint8_t>(b));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

TBytes Utf16(const WideString& text, bool bigEndian)
{
    TBytes out = bigEndian ? TBytes{0xFE, 0xFF} : TBytes{0xFF, 0xFE};
    for (char16_t c : text) {
        uint8_t lo = static_cast<uint8_t>(c), hi = static_cast<uint8_t>(c >> 8);
        out.push_back(bigEndian ? hi : lo);
        out.push_back(bigEndian ? lo : hi);
    }
    return out;
}

}  // namespace

TEST(LicenseText, EveryEncodingGivesTheSameText)
{
    const WideString expected = u"用户协议\r\n第二行\r\n";
    EXPECT_EQ(DecodeLicenseText(Bytes({0xEF, 0xBB, 0xBF}, "用户协议\r\n第二行")), expected);
    EXPECT_EQ(DecodeLicenseText(Utf16(u"用户协议\n第二行\n", false)), expected);
    EXPECT_EQ(DecodeLicenseText(Utf16(u"用户协议\r第二行", true)), expected);
#ifndef _WIN32
    ZoPlatform::SetAnsiCodePage(936);
    EXPECT_EQ(DecodeLicenseText(Bytes({0xD3, 0xC3, 0xBB, 0xA7, 0xD0, 0xAD, 0xD2, 0xE9, '\n', 0xB5, 0xDA, 0xB6, 0xFE,
                                       0xD0, 0xD0})),
              expected);
    ZoPlatform::SetAnsiCodePage(1252);
#endif
    EXPECT_EQ(DecodeLicenseText(Bytes({}, "plain\r\nascii")), u"plain\r\nascii\r\n");
}

TEST(LicenseText, LineBreaksAndShortInputs)
{
    EXPECT_EQ(DecodeLicenseText(Bytes({})), u"");
    EXPECT_EQ(DecodeLicenseText(Bytes({0xFF, 0xFE})), u"");
    EXPECT_EQ(DecodeLicenseText(Bytes({0xFF, 0xFE, 0x41})), u"");  // fewer than two bytes after the mark
    EXPECT_EQ(DecodeLicenseText(Bytes({0xFF, 0xFE, 0x41, 0x00, 0x42})), u"A\r\n");  // odd final byte ignored
    EXPECT_EQ(DecodeLicenseText(Bytes({0xEF, 0xBB, 0xBF})), u"");
    // One break each: CR LF, CR, LF, U+2028, and any of them followed by U+2028.
    EXPECT_EQ(DecodeLicenseText(Utf16(u"a\r\n\u2028b\r\u2028c\n\u2028d\u2028e\n\nf", false)),
              u"a\r\nb\r\nc\r\nd\r\ne\r\n\r\nf\r\n");
    EXPECT_EQ(DecodeLicenseText(Utf16(u"\n\r", false)), u"\r\n\r\n");
    EXPECT_EQ(DecodeLicenseText(Utf16(u"x\u2028\u2028y", false)), u"x\r\n\r\ny\r\n");
}

#ifdef _WIN32
#include "ZoWinHandles_win.h"

namespace {
struct ResourceUpdateTraits {  // a pending update is discarded unless committed
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { EndUpdateResourceW(h, TRUE); }
};
}  // namespace

// The block as a resource of a real module: a copy of this test program with
// the resource added, opened as a data file.
TEST(FileDataBlock, LoadsFromAModuleResource)
{
    TSampleBlock b = MakeBlock();
    TTempFolder dir;
    WideString exe = dir.Wide("with-block.exe");
    auto w = [](const WideString& s) { return reinterpret_cast<LPCWSTR>(s.c_str()); };
    ASSERT_TRUE(CopyFileW(w(ZoPlatform::ModuleFileName()), w(exe), FALSE));
    TUniqueAny<HANDLE, ResourceUpdateTraits> update(BeginUpdateResourceW(w(exe), FALSE));
    ASSERT_TRUE(update);
    WideString name = FromUtf8(FileDataResource);
    ASSERT_TRUE(UpdateResourceW(update.Get(), MAKEINTRESOURCEW(10), w(name), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                b.block.data(), static_cast<DWORD>(b.block.size())));
    ASSERT_TRUE(EndUpdateResourceW(update.Release(), FALSE));

    {
        TUniqueModule module(LoadLibraryExW(w(exe), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(module);
        TFileDataList all;
        EXPECT_TRUE(all.LoadFromModule(module.Get()));
        EXPECT_EQ(Decode(all.FindByGUID(u"{C}")->Image.Bytes()), b.contents[2]);
        TFileDataList index;
        EXPECT_TRUE(index.LoadFromModule(module.Get(), false));
        EXPECT_EQ(index.FindByGUID(u"{C}")->Image.Size(), 0);
        std::span<const uint8_t> block = TFileDataList::ModuleBlock(module.Get());
        EXPECT_EQ(Decode(TFileDataList::ImageOf(*index.FindByGUID(u"{A}"), block.data(), block.size())), b.contents[0]);
    }

    // A module without the resource.
    TFileDataList none;
    try {
        none.LoadFromModule(GetModuleHandleW(nullptr));
        FAIL();
    } catch (const EResNotFound& e) {
        EXPECT_STREQ(e.what(), "Resource {24B4534B-E580-4F42-BEAB-A2818FDE92C0} not found");
    }
}
#endif
