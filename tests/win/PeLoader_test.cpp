// What the portable writer and the packaging tool produce, read back by the
// Windows loader itself: LoadLibraryExW as an image resource, FindResourceA,
// LoadResource, the version API and the icon extractor.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "FileDataClasses.h"
#include "PeIcon.h"
#include "PeResources.h"
#include "ProjectBuilder.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

class TModule {
public:
    explicit TModule(const WideString& file)
        : h_(LoadLibraryExW(reinterpret_cast<LPCWSTR>(file.c_str()), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
    {
    }
    ~TModule()
    {
        if (h_) FreeLibrary(h_);
    }
    TModule(const TModule&) = delete;
    TModule& operator=(const TModule&) = delete;
    HMODULE Get() const { return h_; }

private:
    HMODULE h_;
};

// The resource's bytes as the loader gives them; nullopt when it finds none.
std::optional<TBytes> Loaded(HMODULE module, const char* name, LPCSTR type = MAKEINTRESOURCEA(10))
{
    HRSRC found = FindResourceA(module, name, type);
    if (!found) return std::nullopt;
    HGLOBAL loaded = LoadResource(module, found);
    const uint8_t* p = static_cast<const uint8_t*>(LockResource(loaded));
    DWORD size = SizeofResource(module, found);
    if (!p && size) return std::nullopt;
    return TBytes(p, p + size);
}

TBytes Decoded(TBytes encoded)
{
    TMemoryStream s{std::move(encoded)};
    TSetupfn::DecodeStream(&s);
    return std::move(s.Bytes());
}

WideString Fixture(const char* name) { return FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/" + name); }

DWORD RunAndWait(const WideString& exe)
{
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + std::wstring(reinterpret_cast<const wchar_t*>(exe.c_str())) + L"\"";
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0xFFFFFFFF;
    WaitForSingleObject(pi.hProcess, 20000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

class PeLoader : public ::testing::TestWithParam<const char*> {};

TEST_P(PeLoader, FindsEveryResourceTheWriterAddsAndTheProgramStillRuns)
{
    TTempFolder dir;
    TPeImage pe = TPeImage::FromFile(Fixture(GetParam()));
    const TBytes script = RandomBytes(3000, 1), icon = RandomBytes(900, 2), block = RandomBytes(2 << 20, 3);
    pe.SetResource(pe::kRcData, u"{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}", script);
    pe.SetResource(pe::kRcData, u"{c396b0ef-0793-51e2-ae96-fa5b07ffe4b0}", icon);
    pe.SetResource(pe::kRcData, u"HELLO", TBytes{'n', 'e', 'w'});
    TStreamedResource streamed{pe::kRcData, u"{24B4534B-E580-4F42-BEAB-A2818FDE92C0}", 0, [&](TStream& out) {
                                   out.WriteBuffer(block.data(), block.size());
                                   return uint64_t(block.size());
                               }};
    const WideString file = dir.Wide("written.exe");
    pe.SaveToFile(file, &streamed);

    {
        TModule m(file);
        ASSERT_NE(m.Get(), nullptr) << "the loader refused the file: " << GetLastError();
        EXPECT_EQ(Loaded(m.Get(), "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}"), script);
        EXPECT_EQ(Loaded(m.Get(), "{C396B0EF-0793-51E2-AE96-FA5B07FFE4B0}"), icon);
        EXPECT_EQ(Loaded(m.Get(), "{c396b0ef-0793-51e2-ae96-fa5b07ffe4b0}"), icon) << "names are found in any case";
        EXPECT_EQ(Loaded(m.Get(), "{24B4534B-E580-4F42-BEAB-A2818FDE92C0}"), block);
        EXPECT_EQ(Loaded(m.Get(), "hello"), (TBytes{'n', 'e', 'w'}));
        EXPECT_EQ(Loaded(m.Get(), MAKEINTRESOURCEA(7)), (TBytes{1, 0, 2, 0, 3, 0}));
        EXPECT_TRUE(Loaded(m.Get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)).has_value()) << "the manifest stays";
        EXPECT_FALSE(Loaded(m.Get(), "{F907FF9D-0131-45D9-9469-A2CD78FB4793}").has_value());
    }
    if (TPeImage::FromFile(file).Is64()) {
        EXPECT_EQ(RunAndWait(file), 7u) << "the rewritten program runs";
    }
}

INSTANTIATE_TEST_SUITE_P(Linked, PeLoader, ::testing::Values("tiny64.exe", "tiny64-debug.exe", "tiny32.exe"));

TEST(PeLoaderTool, BuiltInstallerDecodesToTheProjectThroughTheLoader)
{
    TTempFolder dir;
    TBytes rgba(48 * 48 * 4, 0xC0);
    const TBytes png = EncodePng(48, 48, rgba.data());
    WriteFileBytes(dir.Path() / "icon.png", std::string(png.begin(), png.end()));
    WriteFileBytes(dir.Path() / "license.txt", std::string("\xFF\xFE" "a\0b\0", 6));
    fs::create_directories(dir.Path() / "files" / "sub");
    const TBytes big = RandomBytes(1500000, 4);
    WriteFileBytes(dir.Path() / "files" / "big.bin", std::string(big.begin(), big.end()));
    WriteFileBytes(dir.Path() / "files" / "sub" / "small.txt", "small");

    TSetupScript project;
    project.BaseInfo->GUID = u"{11111111-2222-3333-4444-555555555555}";
    project.BaseInfo->AppTitle = u"Zo 演示";
    project.BaseInfo->Version = u"3.1.4.1";
    project.BaseInfo->ProductName = u"Zo 演示产品";
    project.BaseInfo->IconFile = u"icon.png";
    project.BaseInfo->LicenseFile = u"license.txt";
    project.BaseInfo->FullSetupFile = u"setup.exe";
    TSetupFile* f = project.FileList->Add();
    f->SourcePath = u"files";
    f->SourceMask = u"*.*";
    f->IncludeSubPath = true;
    f->DestDir = u"{app}";
    project.SaveToFile(dir.Wide("p.xml"));
    TBuildOptions options;
    options.ProjectFile = dir.Wide("p.xml");
    options.StubFile = Fixture("tiny64-debug.exe");
    TBuildResult built = TProjectBuilder::Build(options);

    TModule m(built.FullSetup);
    ASSERT_NE(m.Get(), nullptr);
    auto scriptBytes = Loaded(m.Get(), "{54682D66-DEF6-4E5B-8AB5-70FFDF2C0E3A}");
    ASSERT_TRUE(scriptBytes.has_value());
    TMemoryStream xml{Decoded(*scriptBytes)};
    TSetupScript script;
    script.LoadFromStream(xml);
    ASSERT_EQ(script.FileList->Count(), 2);
    EXPECT_EQ(script.FileList->Items(1)->SourceMask, u"sub\\small.txt");
    EXPECT_EQ(Decoded(*Loaded(m.Get(), ToUtf8(script.BaseInfo->IconResID).c_str())), png);
    EXPECT_EQ(Decoded(*Loaded(m.Get(), ToUtf8(script.BaseInfo->LicenseResID).c_str())), (TBytes{0xFF, 0xFE, 'a', 0, 'b', 0}));

    // The installer's own reading of the file block.
    TFileDataList index;
    index.LoadFromModule(m.Get());
    TFileData* image = index.FindByGUID(script.FileList->Items(0)->ResID);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Decoded(image->Image.Bytes()), big);

    // The version information and the icon, as Explorer reads them.
    const wchar_t* path = reinterpret_cast<const wchar_t*>(built.FullSetup.c_str());
    DWORD ignored = 0, size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));
    wchar_t* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\080404b0\\ProductName", reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(WideString(reinterpret_cast<const char16_t*>(product)), u"Zo 演示产品");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00030001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00040001u);
    HICON large = nullptr;
    ASSERT_EQ(ExtractIconExW(path, 0, &large, nullptr, 1), 1u) << "Explorer finds the icon";
    ICONINFO iconInfo{};
    ASSERT_TRUE(GetIconInfo(large, &iconInfo));
    BITMAP bm{};
    GetObjectW(iconInfo.hbmColor ? iconInfo.hbmColor : iconInfo.hbmMask, sizeof bm, &bm);
    EXPECT_GT(bm.bmWidth, 0);
    if (iconInfo.hbmColor) DeleteObject(iconInfo.hbmColor);
    if (iconInfo.hbmMask) DeleteObject(iconInfo.hbmMask);
    DestroyIcon(large);
}

}  // namespace
