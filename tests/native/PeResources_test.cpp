#include <gtest/gtest.h>

#include <cstring>

#include "PeResources.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace {

// Small programs made by the real MinGW linker and resource compiler
// (tests/native/data/make-pe-fixtures.sh): PE32+ with the resource section
// last, PE32, and PE32+ with debug sections and a symbol table after it.
TBytes Fixture(const char* name)
{
    std::string bytes = ReadFileBytes(std::filesystem::path(ZO_SOURCE_DIR) / "tests/native/data" / name);
    return TBytes(bytes.begin(), bytes.end());
}

TBytes Text(const std::string& s) { return TBytes(s.begin(), s.end()); }

uint32_t Get32(const TBytes& b, size_t at) { uint32_t v; std::memcpy(&v, &b[at], 4); return v; }

const TPeSection* SectionNamed(const TPeImage& pe, const char16_t* name)
{
    const TPeSection* found = nullptr;
    for (const auto& s : pe.Sections())
        if (s.NameText() == name) found = &s;  // the last one: a new resource section is appended
    return found;
}

class PeFixtures : public ::testing::TestWithParam<const char*> {};

TEST_P(PeFixtures, ReadsWhatTheResourceCompilerWrote)
{
    TPeImage pe = TPeImage::FromBytes(Fixture(GetParam()));
    EXPECT_EQ(pe.Is64(), std::string(GetParam()) != "tiny32.exe");
    EXPECT_EQ(pe.CheckSum(), pe.ComputeCheckSum()) << "the linker's checksum is the one we compute";

    const TPeResource* hello = pe.Find(pe::kRcData, u"hello");
    ASSERT_NE(hello, nullptr) << "string names are found in any letter case";
    EXPECT_EQ(hello->Name.Name(), u"HELLO");
    EXPECT_EQ(pe.ReadResource(*hello), Text("hello, resources"));
    const TPeResource* seven = pe.Find(pe::kRcData, 7);
    ASSERT_NE(seven, nullptr);
    EXPECT_EQ(pe.ReadResource(*seven), (TBytes{1, 0, 2, 0, 3, 0}));
    ASSERT_NE(pe.Find(pe::kManifest, 1), nullptr);
    ASSERT_NE(pe.Find(pe::kVersion, 1), nullptr);
    EXPECT_EQ(pe.Find(pe::kRcData, 8), nullptr);

    // Directory order: within RCDATA the named resource precedes the numbered one.
    auto rcdata = pe.ResourcesOfType(pe::kRcData);
    ASSERT_EQ(rcdata.size(), 2u);
    EXPECT_FALSE(rcdata[0]->Name.IsId());
    EXPECT_TRUE(rcdata[1]->Name.IsId());
}

TEST_P(PeFixtures, RewritesResourcesAndKeepsEverythingElse)
{
    const TBytes original = Fixture(GetParam());
    TPeImage before = TPeImage::FromBytes(original);
    TPeImage pe = TPeImage::FromBytes(original);
    pe.SetResource(pe::kRcData, u"{54682d66-def6-4e5b-8ab5-70ffdf2c0e3a}", Text("script"));
    pe.SetResource(pe::kRcData, u"HELLO", Text("replaced"));
    EXPECT_EQ(pe.RemoveResource(pe::kRcData, 7), 1u);
    TBytes big = RandomBytes(300000, 5);
    pe.SetResource(pe::kRcData, 300, big);
    const TBytes saved = pe.Save();

    TPeImage after = TPeImage::FromBytes(saved);
    EXPECT_EQ(after.CheckSum(), after.ComputeCheckSum());
    EXPECT_EQ(after.ReadResource(*after.Find(pe::kRcData, u"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}")),
              Text("script"));
    EXPECT_EQ(after.ReadResource(*after.Find(pe::kRcData, u"HELLO")), Text("replaced"));
    EXPECT_EQ(after.ReadResource(*after.Find(pe::kRcData, 300)), big);
    EXPECT_EQ(after.Find(pe::kRcData, 7), nullptr);
    // The manifest and the version information travel unchanged.
    for (uint16_t type : {pe::kManifest, pe::kVersion})
        EXPECT_EQ(after.ReadResource(*after.Find(type, 1)), before.ReadResource(*before.Find(type, 1)));

    // Every other section keeps its bytes and address.
    for (const TPeSection& s : before.Sections()) {
        if (s.NameText() == u".rsrc") continue;
        const TPeSection* t = SectionNamed(after, s.NameText().c_str());
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->VirtualAddress, s.VirtualAddress);
        EXPECT_TRUE(std::equal(original.begin() + s.RawPointer, original.begin() + s.RawPointer + s.RawSize,
                               saved.begin() + t->RawPointer));
    }
    // The resource directory is the new section; the image size covers it.
    const TPeSection* rsrc = SectionNamed(after, u".rsrc");
    ASSERT_NE(rsrc, nullptr);
    EXPECT_EQ(after.ResourceRva(), rsrc->VirtualAddress);
    EXPECT_EQ(after.ResourceSize(), rsrc->VirtualSize);
    EXPECT_EQ(rsrc->RawSize % 512, 0u);
    EXPECT_EQ(rsrc->RawPointer % 4096, 0u) << "on a page boundary, so the loader can map it";
    EXPECT_GE(after.SizeOfImage(), rsrc->VirtualAddress + rsrc->VirtualSize);
    EXPECT_EQ(after.SizeOfImage() % 0x1000, 0u);
    uint32_t top = 0;
    for (const auto& s : after.Sections()) top = std::max(top, s.VirtualAddress);
    EXPECT_EQ(top, rsrc->VirtualAddress) << "the rebuilt resource section is the last one";
}

TEST_P(PeFixtures, RepackingReplacesTheResourceSectionInPlace)
{
    TPeImage first = TPeImage::FromBytes(Fixture(GetParam()));
    first.SetResource(pe::kRcData, u"A", RandomBytes(5000, 1));
    TPeImage second = TPeImage::FromBytes(first.Save());
    second.SetResource(pe::kRcData, u"A", RandomBytes(100, 2));
    const TBytes twice = second.Save();
    TPeImage third = TPeImage::FromBytes(twice);
    EXPECT_EQ(third.Sections().size(), second.Sections().size()) << "no second resource section";
    EXPECT_LT(twice.size(), second.FileSize()) << "the smaller resource shrinks the file";
    EXPECT_EQ(third.ReadResource(*third.Find(pe::kRcData, u"A")), RandomBytes(100, 2));
    EXPECT_EQ(third.CheckSum(), third.ComputeCheckSum());
}

INSTANTIATE_TEST_SUITE_P(Linked, PeFixtures, ::testing::Values("tiny64.exe", "tiny32.exe", "tiny64-debug.exe"));

TEST(PeResources, MovesTheSymbolTableBehindTheNewSection)
{
    const TBytes original = Fixture("tiny64-debug.exe");
    TPeImage before = TPeImage::FromBytes(original);
    ASSERT_NE(before.SymbolTable(), 0u);
    TPeImage pe = TPeImage::FromBytes(original);
    pe.SetResource(pe::kRcData, u"X", RandomBytes(10000, 3));
    const TBytes saved = pe.Save();
    TPeImage after = TPeImage::FromBytes(saved);
    EXPECT_EQ(after.Sections().size(), before.Sections().size() + 1);
    size_t tail = original.size() - before.SymbolTable();
    ASSERT_EQ(saved.size() - after.SymbolTable(), tail);
    EXPECT_TRUE(std::equal(original.begin() + before.SymbolTable(), original.end(), saved.begin() + after.SymbolTable()));
}

TEST(PeResources, StreamsTheLastResourceStraightIntoTheFile)
{
    TTempFolder dir;
    TPeImage pe = TPeImage::FromBytes(Fixture("tiny64.exe"));
    pe.SetResource(pe::kRcData, u"SMALL", Text("s"));
    const TBytes payload = RandomBytes(3 << 20, 9);
    TStreamedResource streamed{pe::kRcData, u"{24B4534B-E580-4F42-BEAB-A2818FDE92C0}", 0, [&](TStream& out) {
                                   for (size_t at = 0; at < payload.size(); at += 65536)
                                       out.WriteBuffer(&payload[at], std::min<size_t>(65536, payload.size() - at));
                                   return uint64_t(payload.size());
                               }};
    pe.SaveToFile(dir.Wide("out.exe"), &streamed);
    TPeImage after = TPeImage::FromFile(dir.Wide("out.exe"));
    const TPeResource* block = after.Find(pe::kRcData, u"{24B4534B-E580-4F42-BEAB-A2818FDE92C0}");
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->Size, payload.size());
    EXPECT_EQ(after.ReadResource(*block), payload);
    EXPECT_EQ(after.ReadResource(*after.Find(pe::kRcData, u"SMALL")), Text("s"));
    EXPECT_EQ(after.CheckSum(), after.ComputeCheckSum());
    uint8_t tail[16];
    after.ReadResourcePart(*block, payload.size() - 16, tail, 16);
    EXPECT_EQ(0, std::memcmp(tail, &payload[payload.size() - 16], 16));
}

TEST(PeResources, RefusesToBreakASignature)
{
    TBytes bytes = Fixture("tiny64.exe");
    TPeImage clean = TPeImage::FromBytes(bytes);
    EXPECT_FALSE(clean.IsSigned());
    // Security directory (entry 4) of a PE32+ optional header: offset 112 + 4 * 8.
    uint32_t opt = Get32(bytes, 0x3C) + 24;
    uint32_t certAt = static_cast<uint32_t>(bytes.size());
    std::memcpy(&bytes[opt + 112 + 32], &certAt, 4);
    uint32_t certSize = 8;
    std::memcpy(&bytes[opt + 112 + 36], &certSize, 4);
    bytes.resize(bytes.size() + 8);
    TPeImage pe = TPeImage::FromBytes(bytes);
    EXPECT_TRUE(pe.IsSigned());
    pe.SetResource(pe::kRcData, u"A", Text("a"));
    try {
        pe.Save();
        FAIL() << "a signed file was rewritten";
    } catch (const EPeFormatError& e) {
        EXPECT_NE(std::string(e.what()).find("signature"), std::string::npos) << e.what();
    }
}

TEST(PeResources, RejectsWhatIsNotAPeFileWithAClearError)
{
    auto message = [](TBytes bytes) -> std::string {
        try {
            TPeImage::FromBytes(std::move(bytes));
        } catch (const EPeFormatError& e) {
            return e.what();
        }
        return "parsed";
    };
    EXPECT_EQ(message(Text("hello")), "not a PE file: too short for an MZ header");
    EXPECT_EQ(message(TBytes(4096, 0)), "not a PE file: no MZ header");
    TBytes noPe = Fixture("tiny64.exe");
    noPe[Get32(noPe, 0x3C)] = 'X';
    EXPECT_EQ(message(noPe), "not a PE file: no PE signature");
    TBytes farPe = Fixture("tiny64.exe");
    farPe[0x3F] = 0x7F;
    EXPECT_EQ(message(farPe), "not a PE file: the PE header lies past the end of the file");

    // Two sections at one address: the file still reads, but is not rewritten.
    TBytes overlapping = Fixture("tiny64.exe");
    uint32_t secondVa = Get32(overlapping, 0x3C) + 24 + 240 + 40 + 12;
    overlapping[secondVa + 1] = 0x10;  // .rdata moves onto .text at 0x1000
    TPeImage pe = TPeImage::FromBytes(overlapping);
    try {
        pe.Save();
        ADD_FAILURE() << "a damaged section table was rewritten";
    } catch (const EPeFormatError& e) {
        EXPECT_STREQ(e.what(), "damaged PE file: sections overlap or are out of order");
    }
}

TEST(PeResources, DamagedFilesGiveErrorsNotCrashes)
{
    // Every truncation and a few thousand single-byte changes of a real file
    // either parse and read, or fail with the PE error.
    const TBytes original = Fixture("tiny64.exe");
    auto exercise = [](TBytes bytes) {
        try {
            TPeImage pe = TPeImage::FromBytes(std::move(bytes));
            for (const auto& r : pe.Resources()) pe.ReadResource(r);
            pe.SetResource(pe::kRcData, u"A", TBytes{1});
            TPeImage again = TPeImage::FromBytes(pe.Save());
            EXPECT_NE(again.Find(pe::kRcData, u"A"), nullptr);
        } catch (const EPeFormatError&) {
        }
    };
    for (size_t n = 0; n < original.size(); n += 7) exercise(TBytes(original.begin(), original.begin() + n));
    TBytes noise = RandomBytes(6000, 11);
    for (size_t i = 0; i < 1500; ++i) {
        TBytes damaged = original;
        size_t at = (noise[2 * i] | (noise[2 * i + 1] << 8)) % damaged.size();
        damaged[at] ^= static_cast<uint8_t>(1 + i % 255);
        exercise(damaged);
    }
}

TEST(PeResources, NamesCompareWithoutCaseAndSortNamesFirst)
{
    EXPECT_EQ(TResName(u"abc"), TResName(u"ABC"));
    EXPECT_EQ(TResName(u"abc").ToString(), u"ABC");
    EXPECT_EQ(TResName(10).ToString(), u"#10");
    EXPECT_TRUE(TResName(u"ZZZ") < TResName(1));
    EXPECT_TRUE(TResName(u"A") < TResName(u"B"));
    EXPECT_THROW(TResName(u""), EPeFormatError);

    TPeImage pe = TPeImage::FromBytes(Fixture("tiny32.exe"));
    pe.SetResource(pe::kRcData, u"mixed{Case}", Text("x"));
    TPeImage after = TPeImage::FromBytes(pe.Save());
    const TPeResource* r = after.Find(pe::kRcData, u"MIXED{case}");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Name.Name(), u"MIXED{CASE}");
}

TEST(PeResources, CheckSumFoldsCarriesAndCountsTheLength)
{
    // Words 0xFFFF + 0x0002 carry into 0x0002; the length 4 is added.
    const uint8_t data[] = {0xFF, 0xFF, 0x02, 0x00};
    EXPECT_EQ(PeCheckSum(data, 4, 100), 0x0002u + 4);
    // The checksum field itself does not count, an odd last byte is a low byte.
    const uint8_t odd[] = {0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x05};
    EXPECT_EQ(PeCheckSum(odd, 7, 2), 0x0001u + 0x0005u + 7);
}

}  // namespace
