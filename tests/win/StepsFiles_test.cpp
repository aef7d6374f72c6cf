// The file step: product files from the package's file-data block onto disk.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "SetupFn.h"
#include "StepsTestSupport.h"
#include "ZoSysUtils.h"

namespace {

std::string Bytes(size_t size, uint32_t seed)
{
    TBytes b = RandomBytes(size, seed);
    return std::string(b.begin(), b.end());
}

std::string Encoded(const std::string& plain)
{
    TMemoryStream s(TBytes(plain.begin(), plain.end()));
    TSetupfn::EncodeStream(&s);
    return s.ToString();
}

std::string Decoded(const std::string& encoded)
{
    std::string out;
    DecodeImage({reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size()},
                [&](const uint8_t* p, size_t n) { out.append(reinterpret_cast<const char*>(p), n); });
    return out;
}

std::string FileText(const WideString& path) { return ReadFileBytes(std::filesystem::path(W(path))); }

// Holds a file open without sharing, as a running program holds its files.
// (A read-only attribute does not stop the administrator the tests run as.)
TUniqueFile Lock(const WideString& path)
{
    return TUniqueFile(CreateFileW(W(path), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

class FileStep : public ::testing::Test {
protected:
    void SetUp() override { InstallDir = folder.Wide() + u"\\app\\"; }
    void TearDown() override { InstallDir.clear(); }

    TTempFolder folder;
    TTestPackage package;
    TSetupScript script;
    TFakeView view;
};

}  // namespace

TEST(ImageDecoding, NeverDecodesPastTheSizeItsEntryGives)
{
    const std::string plain = Bytes(5000, 3), encoded = Encoded(plain);
    TFileImage image{reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size()};
    EXPECT_EQ(DecodeImage(image, nullptr, 5000), 5000u);
    size_t written = 0;
    EXPECT_THROW(DecodeImage(image, [&](const uint8_t*, size_t n) { written += n; }, 4999), EDecompressionError);
    EXPECT_LE(written, 4999u) << "bytes past the limit reached the file";
}

TEST(ImageDecoding, StreamsAnySizeBackToTheEncodedBytes)
{
    // Sizes around the decoder's input and output chunks and the key's period.
    for (size_t size : {size_t(1), size_t(254), size_t(255), size_t(256), size_t(65535), size_t(65536),
                        size_t(65537), size_t(262145), size_t(3 * 1024 * 1024 + 7)}) {
        std::string plain = size % 2 ? Bytes(size, static_cast<uint32_t>(size)) : std::string(size, 'z');
        EXPECT_EQ(Decoded(Encoded(plain)), plain) << size;
    }
    EXPECT_EQ(Decoded(""), "");
    // Bytes after the end of the zlib stream are not part of the image.
    EXPECT_EQ(Decoded(Encoded("abc") + "trailing"), "abc");
}

TEST(ImageDecoding, RejectsDamagedAndTruncatedImages)
{
    std::string good = Encoded(Bytes(200000, 7));
    std::string flipped = good;
    flipped[0] ^= 0x40;
    std::string middle = good;
    middle[middle.size() / 2] ^= 0xFF;
    for (const std::string& bad : {flipped, middle, good.substr(0, good.size() / 2), good.substr(0, 3),
                                   std::string("plainly not an image")})
        EXPECT_THROW(Decoded(bad), EDecompressionError);
}

TEST_F(FileStep, InstallsEveryFileWithItsDateEmptyFilesAndSubFolders)
{
    double date = EncodeDateTime({2021, 3, 14, 15, 9, 26, 0});
    std::string big = Bytes(1500000, 1), text(70000, 'q');
    AddFileEntry(script, package, u"{app}", u"big.bin", big, date);
    AddFileEntry(script, package, u"{app}\\", u"bin\\deep\\x.dll", text, date + 1);  // trailing "\" not doubled
    AddFileEntry(script, package, u"{app}data", u"empty.txt", "", date);
    // Two entries with the same key get the same image.
    TSetupFile* copy = script.FileList->Add();
    copy->Assign(script.FileList->Items(0));
    copy->SourceMask = u"again.bin";

    TInstallSequence sequence(script, package.Module(), view, {});
    sequence.InstallFiles();

    EXPECT_EQ(FileText(InstallDir + u"big.bin"), big);
    EXPECT_EQ(FileText(InstallDir + u"again.bin"), big);
    EXPECT_EQ(FileText(InstallDir + u"bin\\deep\\x.dll"), text);
    ASSERT_TRUE(std::filesystem::exists(W(InstallDir + u"data\\empty.txt")));
    EXPECT_EQ(FileText(InstallDir + u"data\\empty.txt"), "");

    EXPECT_NEAR(FileWriteTime(InstallDir + u"big.bin"), date, 1.0 / 86400);
    EXPECT_NEAR(FileWriteTime(InstallDir + u"bin\\deep\\x.dll"), date + 1, 1.0 / 86400);

    EXPECT_EQ(view.position, 4);
    EXPECT_EQ(view.pumps, 4);
    ASSERT_EQ(view.details.size(), 4u);
    EXPECT_EQ(view.details[1], InstallDir + u"bin\\deep\\x.dll");
    EXPECT_TRUE(view.failures.empty());
}

TEST_F(FileStep, ADateOfZeroKeepsTheMomentOfWriting)
{
    AddFileEntry(script, package, u"{app}", u"now.txt", "content", 0);
    TInstallSequence(script, package.Module(), view, {}).InstallFiles();
    EXPECT_NEAR(FileWriteTime(InstallDir + u"now.txt"), NowLocal(), 60.0 / 86400);
}

TEST_F(FileStep, ATargetInUseAsksAndFollowsTheAnswer)
{
    AddFileEntry(script, package, u"{app}", u"locked.txt", "new content");
    AddFileEntry(script, package, u"{app}", u"next.txt", "next");
    WideString target = InstallDir + u"locked.txt";
    ForceDirs(InstallDir);
    WriteFileBytes(std::filesystem::path(W(target)), "old content");
    HMODULE module = package.Module();

    // Ignore: the old file stays and the next entry follows.
    TUniqueFile lock = Lock(target);
    ASSERT_TRUE(lock);
    view.onCopyFailure = [](const WideString&) { return int(mrIgnore); };
    TInstallSequence(script, module, view, {}).InstallFiles();
    ASSERT_EQ(view.failures.size(), 1u);
    EXPECT_EQ(view.failures[0].path, target);
    EXPECT_NE(view.failures[0].reason.find(u"Cannot create file \"" + target + u"\"."), WideString::npos);
    lock.Reset();
    EXPECT_EQ(FileText(target), "old content");
    EXPECT_EQ(FileText(InstallDir + u"next.txt"), "next");

    // Retry once the file is free: it is written.
    lock = Lock(target);
    view.failures.clear();
    view.onCopyFailure = [&](const WideString&) {
        lock.Reset();
        return int(mrRetry);
    };
    TInstallSequence(script, module, view, {}).InstallFiles();
    EXPECT_EQ(view.failures.size(), 1u);
    EXPECT_EQ(FileText(target), "new content");

    // Abort ends the process with 0, nothing undone.
    lock = Lock(target);
    view.onCopyFailure = [](const WideString&) { return int(mrAbort); };
    try {
        TInstallSequence(script, module, view, {}).InstallFiles();
        FAIL() << "the process should have ended";
    } catch (const TProcessEnded& e) {
        EXPECT_EQ(e.code, ecSuccess);
    }
}

TEST_F(FileStep, SilentRunRetriesThenEndsWithItsExitCodeAndOneLine)
{
    AddFileEntry(script, package, u"{app}", u"locked.txt", "new");
    WideString target = InstallDir + u"locked.txt";
    ForceDirs(InstallDir);
    WriteFileBytes(std::filesystem::path(W(target)), "old");
    view.silent = true;
    TInstallSequence sequence(script, package.Module(), view, {});
    sequence.silentRetryPauseMs = 1;
    TUniqueFile lock = Lock(target);
    {
        TCapturedOutput out;
        try {
            sequence.InstallFiles();
            FAIL() << "the process should have ended";
        } catch (const TProcessEnded& e) {
            EXPECT_EQ(e.code, ecFileNotWritten);
        }
        EXPECT_NE(out.Text().find("locked.txt"), std::string::npos);
    }
    EXPECT_TRUE(view.failures.empty());  // no dialog without a person
    lock.Reset();
    EXPECT_EQ(FileText(target), "old");

    // A file that frees up between attempts is written.
    lock = Lock(target);
    sequence.silentRetryPauseMs = 300;
    std::thread release([&] {
        Sleep(100);
        lock.Reset();
    });
    sequence.InstallFiles();
    release.join();
    EXPECT_EQ(FileText(target), "new");
}

TEST_F(FileStep, DamagedPackagesStopWithAClearMessageAndTouchNothing)
{
    ForceDirs(InstallDir);
    WriteFileBytes(std::filesystem::path(W(InstallDir + u"a.txt")), "old");

    {  // an entry whose key is not in the index
        TSetupScript s;
        AddFileEntry(s, package, u"{app}", u"a.txt", "new")->ResID = u"{00000000-0000-0000-0000-000000000000}";
        TInstallSequence sequence(s, package.Module(), view, {});
        try {
            sequence.InstallFiles();
            FAIL();
        } catch (const EPackageError& e) {
            EXPECT_NE(e.Message().find(u"a.txt"), WideString::npos);
        }
    }
    {  // an image that does not decode: over an old file, and as a new file
        TTestPackage damaged;
        TSetupScript s;
        std::string image = Encoded(Bytes(300000, 3));
        image[image.size() / 2] ^= 0x55;
        WideString key = damaged.AddRawImage(image);
        for (const char16_t* name : {u"a.txt", u"fresh.txt"}) {
            TSetupFile* entry = s.FileList->Add();
            entry->DestDir = u"{app}";
            entry->SourceMask = name;
            entry->FileBytes = 300000;
            entry->ResID = key;
        }
        HMODULE module = damaged.Module();
        try {
            TInstallSequence(s, module, view, {}).InstallFiles();
            FAIL();
        } catch (const EPackageError& e) {
            EXPECT_NE(e.Message().find(u"a.txt"), WideString::npos);
        }
        s.FileList->Delete(0);
        EXPECT_THROW(TInstallSequence(s, module, view, {}).InstallFiles(), EPackageError);
        EXPECT_FALSE(std::filesystem::exists(W(InstallDir + u"fresh.txt")));  // no part of a file left
    }
    {  // an index that does not decode, and a block too short for its trailer
        for (TBytes block : {TBytes{1, 2, 3, 4, 5, 6, 7, 8, 4, 0, 0, 0}, TBytes{9, 9}}) {
            TTestPackage broken;
            TSetupScript s;
            AddFileEntry(s, broken, u"{app}", u"a.txt", "");
            EXPECT_THROW(TInstallSequence(s, broken.ModuleWithBlock(block), view, {}).InstallFiles(), EPackageError);
        }
    }
    EXPECT_EQ(FileText(InstallDir + u"a.txt"), "old");
    EXPECT_TRUE(view.failures.empty());
}
