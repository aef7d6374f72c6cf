#include <gtest/gtest.h>

#include "FileDataClasses.h"
#include "PackageWriter.h"
#include "SetupFn.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace {

TBytes Encoded(const TBytes& plain)
{
    TMemoryStream s{plain};
    TSetupfn::EncodeStream(&s);
    return s.Bytes();
}

TBytes Decoded(TBytes encoded)
{
    TMemoryStream s{std::move(encoded)};
    TSetupfn::DecodeStream(&s);
    return s.Bytes();
}

// Text, repeats and noise: data that compresses unevenly across chunks.
TBytes MixedBytes(size_t size, uint32_t seed)
{
    TBytes noise = RandomBytes(size, seed), out;
    out.reserve(size);
    const std::string line = "The installer writes every file below the destination folder.\r\n";
    for (size_t i = 0; out.size() < size; ++i) {
        if (i % 3 == 2)
            out.insert(out.end(), noise.begin() + static_cast<ptrdiff_t>(out.size()),
                       noise.begin() + static_cast<ptrdiff_t>(std::min(size, out.size() + 5000)));
        else
            for (int k = 0; k < 40 && out.size() < size; ++k) out.insert(out.end(), line.begin(), line.end());
    }
    out.resize(size);
    return out;
}

struct TPackage {
    TTempFolder dir;
    std::vector<TPackInput> inputs;
    std::vector<TBytes> contents;

    void Add(const std::string& name, TBytes content)
    {
        WriteFileBytes(dir.Path() / name, std::string(content.begin(), content.end()));
        inputs.push_back({dir.Wide(name), u"{ID-" + FromUtf8(name) + u"}", content.size()});
        contents.push_back(std::move(content));
    }
    TBytes Block(unsigned threads, size_t chunk, TPackTotals* totals = nullptr) const
    {
        TMemoryStream out;
        TPackTotals t = TPackageBlockWriter(threads, chunk).Write(inputs, out);
        if (totals) *totals = t;
        EXPECT_EQ(t.BlockSize, out.Bytes().size());
        return out.Bytes();
    }
};

TEST(PackageBlock, SmallFilesGetExactlyTheCodecsImagesAndAnIndex)
{
    TPackage p;
    p.Add("one.txt", TBytes{'x'});
    p.Add("empty.dat", {});
    p.Add("text.txt", MixedBytes(20000, 1));
    p.Add("noise.bin", RandomBytes(50000, 2));
    TPackTotals totals;
    TBytes block = p.Block(2, TPackageBlockWriter::kDefaultChunk, &totals);
    EXPECT_EQ(totals.Files, 3u);
    EXPECT_EQ(totals.BytesIn, 1u + 20000 + 50000);

    TFileDataList index;
    index.LoadFromBlock(block.data(), block.size());
    ASSERT_EQ(index.Count(), 3) << "an empty file gets no image";
    EXPECT_EQ(index.IndexOfGUID(u"{ID-empty.dat}"), -1);
    for (size_t i : {0u, 2u, 3u}) {
        TFileData* r = index.FindByGUID(p.inputs[i].GUID);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->Image.Bytes(), Encoded(p.contents[i])) << "image of " << i;
    }
}

TEST(PackageBlock, LargeFilesSplitIntoChunksDecodeWholeAndIgnoreThreadCount)
{
    TPackage p;
    p.Add("big.bin", MixedBytes(700000, 3));
    p.Add("small.txt", MixedBytes(1000, 4));
    p.Add("exact.bin", MixedBytes(3 * 65536, 5));  // a whole number of chunks
    const TBytes one = p.Block(1, 65536);
    EXPECT_EQ(p.Block(3, 65536), one) << "the output does not depend on the number of threads";
    EXPECT_EQ(p.Block(8, 65536), one);

    TFileDataList index;
    index.LoadFromBlock(one.data(), one.size());
    ASSERT_EQ(index.Count(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(index.Items(i)->GUID, p.inputs[i].GUID) << "records follow the input order";
        EXPECT_EQ(Decoded(index.Items(i)->Image.Bytes()), p.contents[i]) << "file " << i;
    }
    // Chunked compression costs next to nothing against one piece.
    EXPECT_LT(index.Items(0)->Bytes, Encoded(p.contents[0]).size() * 101 / 100);
}

TEST(PackageBlock, ReportsUnreadableChangedAndOversizedInput)
{
    TPackage p;
    p.Add("a.bin", RandomBytes(1000, 6));
    TMemoryStream out;

    std::vector<TPackInput> missing = p.inputs;
    missing[0].FileName = p.dir.Wide("gone.bin");
    EXPECT_THROW(TPackageBlockWriter(2).Write(missing, out), EFOpenError);

    for (uint64_t claimed : {999u, 1001u, 5000u}) {
        std::vector<TPackInput> changed = p.inputs;
        changed[0].Size = claimed;
        try {
            TPackageBlockWriter(2, 32768).Write(changed, out);
            ADD_FAILURE() << "a changed file went unnoticed (" << claimed << ")";
        } catch (const EInOutError& e) {
            EXPECT_NE(std::string(e.what()).find("changed while the installer was being built"), std::string::npos);
        }
    }

    try {
        TPackageBlockWriter(2, 32768, 800).Write(p.inputs, out);
        ADD_FAILURE() << "a block past its limit was written";
    } catch (const EPackageError& e) {
        EXPECT_NE(std::string(e.what()).find("2 GiB"), std::string::npos);
    }
}

}  // namespace
