#include <gtest/gtest.h>

#include <functional>

#include "PeIcon.h"
#include "ProjectBuilder.h"
#include "ProjectCheck.h"
#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

// A project written by hand, as a user would, with its icon and files.
const char kProject[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<TSetupScript>\n"
    "    <BaseInfo AppTitle=\"Zo\" GUID=\"{6A1D3C3E-2B1F-4F7A-9E55-0C0FFEE00002}\" IconFile=\"icon.png\" Version=\"1.0\"/>\n"
    "    <FileList>\n"
    "        <Items>\n"
    "            <TSetupFile DestDir=\"{app}\" IncludeSubPath=\"True\" SourceMask=\"*.*\" SourcePath=\"{Src}\"/>\n"
    "        </Items>\n"
    "    </FileList>\n"
    "    <ShortCutList>\n"
    "        <Items>\n"
    "            <TSetupShortCut DstFile=\"{app}\\a.txt\" Name=\"{AppTitle} {Version}\" SaveDir=\"{desktop}\"/>\n"
    "        </Items>\n"
    "    </ShortCutList>\n"
    "    <VarList>\n"
    "        <Items>\n"
    "            <TSetupVar VarName=\"{Src}\" VarValue=\"files\"/>\n"
    "        </Items>\n"
    "    </VarList>\n"
    "</TSetupScript>\n";

struct THandWritten {
    TTempFolder dir;
    TBuildOptions options;

    THandWritten()
    {
        TBytes rgba(16 * 16 * 4, 0x80);
        TBytes png = EncodePng(16, 16, rgba.data());
        WriteFileBytes(dir.Path() / "icon.png", std::string(png.begin(), png.end()));
        fs::create_directories(dir.Path() / "files" / "sub");
        WriteFileBytes(dir.Path() / "files" / "a.txt", "a");
        WriteFileBytes(dir.Path() / "files" / "sub" / "b.txt", "b");
        options.ProjectFile = dir.Wide("p.xml");
        options.OutputDir = dir.Wide("out");
        options.StubFile = FromUtf8(std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe");
    }
    void Write(const std::string& text) { WriteFileBytes(dir.Path() / "p.xml", text); }
    // The build's error ("" when it builds), and whether it wrote anything.
    std::string Error(bool* wroteSomething = nullptr)
    {
        std::string error;
        try {
            TProjectBuilder::Build(options);
        } catch (const Exception& e) {
            error = e.what();
        }
        std::error_code ec;
        bool wrote = false;
        for (const auto& e : fs::recursive_directory_iterator(dir.Path() / "out", ec)) wrote |= e.is_regular_file();
        if (wroteSomething) *wroteSomething = wrote;
        return error;
    }
};

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// "LINE:COLUMN" of the first byte of marker in the ASCII text (its end when marker is empty).
std::string PlaceOf(const std::string& text, const std::string& marker)
{
    size_t at = marker.empty() ? text.size() : text.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    int line = 1, column = 1;
    for (size_t i = 0; i < at && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

TEST(PackagerCheck, HandWrittenProjectBuildsWithBaseInfoAsItsVariables)
{
    THandWritten p;
    p.Write(kProject);
    EXPECT_EQ(p.Error(), "");
    auto script = TProjectBuilder::LoadProject(p.options.ProjectFile);
    EXPECT_EQ(script->FileList->Count(), 2);
    EXPECT_EQ(script->ShortCutList->Items(0)->Name, u"Zo 1.0") << "{AppTitle} and {Version} come from BaseInfo";
    EXPECT_EQ(script->VarList->FindVar(u"{MainExeName}"), nullptr) << "no made-up defaults";

    // --var sets a variable the project has, or one BaseInfo gives.
    script = TProjectBuilder::LoadProject(p.options.ProjectFile, nullptr, {{u"{Version}", u"2.0"}});
    EXPECT_EQ(script->ShortCutList->Items(0)->Name, u"Zo 2.0");
    EXPECT_EQ(script->BaseInfo->Version, u"2.0") << "the product's version is the same one";
}

// Every mistake is one line "FILE:LINE:COLUMN: what", at the place to fix,
// and the build writes nothing.
TEST(PackagerCheck, EachMistakeIsOneLineAtItsPlaceAndWritesNothing)
{
    struct Case {
        const char* what;
        std::string text;
        std::string marker;  // where the error points; empty: the end of the file
        const char* says;
        std::vector<std::pair<WideString, WideString>> vars = {};
    };
    const std::string P = kProject;
    const Case cases[] = {
        {"end tag of another element", Replaced(P, "</FileList>", "</FileLst>"), "</FileLst>",
         "the end tag </FileLst> does not match <FileList> of line 4, column 5"},
        {"no root end tag", Replaced(P, "</TSetupScript>\n", ""), "", "the file ends inside <TSetupScript>"},
        {"missing closing quote", Replaced(P, "SourceMask=\"*.*\"", "SourceMask=\"*.*"), "{Src}\"/>",
         "the value of SourceMask (\"*.* SourcePath=\") is followed by '{' without a space: a quote may be missing"},
        {"misspelt attribute", Replaced(P, "SourceMask=", "SourceMsk="), "SourceMsk",
         "unknown attribute SourceMsk of <TSetupFile> (did you mean SourceMask?)"},
        {"unknown element", Replaced(Replaced(P, "<FileList>", "<FileLsit>"), "</FileList>", "</FileLsit>"), "<FileLsit>",
         "unknown element <FileLsit> in <TSetupScript> (did you mean FileList?)"},
        {"item of another class", Replaced(P, "<TSetupVar ", "<TSetupFile "), "<TSetupFile VarName",
         "<VarList> holds <TSetupVar> elements, not <TSetupFile>"},
        {"not a Boolean", Replaced(P, "IncludeSubPath=\"True\"", "IncludeSubPath=\"yes\""), "IncludeSubPath",
         "IncludeSubPath=\"yes\" is not a Boolean: write True or False"},
        {"text in an element", Replaced(P, "<FileList>", "<FileList>oops"), "<FileList>", "text inside <FileList>"},
        {"empty title", Replaced(P, "AppTitle=\"Zo\"", "AppTitle=\" \""), "AppTitle", "AppTitle is empty"},
        {"unknown language", Replaced(P, "Version=\"1.0\"", "Version=\"1.0\" Language=\"fr-FR\""), "Language",
         "Language=\"fr-FR\" is no language of the installer: write zh-CN, en-US or auto"},
        {"ftp download", Replaced(P, "Version=\"1.0\"", "Version=\"1.0\" FullDownloadUrl=\"ftp://zo/x.exe\""),
         "FullDownloadUrl", "FullDownloadUrl \"ftp://zo/x.exe\" is not an http:// or https:// address"},
        {"variable that is not there", P, "<VarList>", "--var {Nope}: the project has no variable {Nope}",
         {{u"{Nope}", u"1"}}},
        {"typo of {app}", Replaced(P, "DestDir=\"{app}\"", "DestDir=\"{ap}\\bin\""), "DestDir",
         "{ap} is no path constant"},
        {"unknown variable in a source path", Replaced(P, "SourcePath=\"{Src}\"", "SourcePath=\"{Scr}\""), "SourcePath",
         "{Scr} is no path constant"},
        {"folder Windows cannot hold", Replaced(P, "DestDir=\"{app}\"", "DestDir=\"{app}\\a|b\""), "DestDir",
         "\"a|b\" holds the character |"},
        {"device name as a shortcut", Replaced(P, "Name=\"{AppTitle} {Version}\"", "Name=\"con\""), "Name=\"con\"",
         "the shortcut file con.lnk is the name of the device CON"},
        {"folder ending in a dot", Replaced(P, "SaveDir=\"{desktop}\"", "SaveDir=\"{desktop}\\Zo.\""), "SaveDir",
         "\"Zo.\" ends in a dot"},
        {"title too long for the version resource",
         Replaced(P, "AppTitle=\"Zo\"", "AppTitle=\"" + std::string(40000, 'T') + "\""), "AppTitle",
         "AppTitle is 40000 characters long: the installer's version resource"},
        {"version with words", Replaced(P, "Version=\"1.0\"", "Version=\"1.2 beta\""), "Version=",
         "Version \"1.2 beta\" is not a version"},
        {"version as a placeholder", Replaced(P, "Version=\"1.0\"", "Version=\"{Version}\""), "Version=",
         "Version \"{Version}\" is not a version"},
        {"version part past 65535", Replaced(P, "Version=\"1.0\"", "Version=\"1.65536\""), "Version=",
         "is not a version"},
        {"not a project", "<html><body/></html>", "<html>", "not a zosetup project: its root element is <html>"},
        {"not XML", "\x89PNG\r\n\x1a\n", "", "not an XML document"},
    };
    for (const Case& c : cases) {
        THandWritten p;
        p.Write(c.text);
        p.options.Variables = c.vars;
        bool wrote = true;
        const std::string error = p.Error(&wrote);
        const std::string place = c.text[0] == '\x89' ? "1:1" : PlaceOf(c.text, c.marker);
        const std::string expected = ToUtf8(p.options.ProjectFile) + ":" + place + ": ";
        EXPECT_EQ(error.substr(0, expected.size()), expected) << c.what << ": " << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.what << ": one line";
        EXPECT_FALSE(wrote) << c.what;
    }
}

TEST(PackagerCheck, FilesWindowsCannotHoldAreRefusedByName)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows cannot hold such a file in the first place";
#endif
    THandWritten p;
    p.Write(kProject);
    WriteFileBytes(p.dir.Path() / "files" / "sub" / "what?.txt", "?");
    const std::string error = p.Error();
    EXPECT_NE(error.find("p.xml:" + PlaceOf(kProject, "SourceMask") + ": the file "), std::string::npos) << error;
    EXPECT_NE(error.find("what?.txt cannot be installed: \"what?.txt\" holds the character ?"), std::string::npos) << error;
}

TEST(PackagerCheck, WindowsNamesAndPathConstants)
{
    for (const char16_t* ok : {u"a.txt", u"说明.txt", u"CONSOLE", u"COM10", u"x.con", u"..", u"{app}"})
        EXPECT_EQ(WindowsNameProblem(ok), u"") << ToUtf8(ok);
    for (const char16_t* bad : {u"a<b", u"a>b", u"a:b", u"a\"b", u"a/b", u"a\\b", u"a|b", u"a?b", u"a*b", u"a\tb",
                                u"end.", u"end ", u"CON", u"prn.txt", u"Aux", u"NUL .x", u"com1", u"LPT9.log", u"COM\u00B9"})
        EXPECT_NE(WindowsNameProblem(bad), u"") << ToUtf8(bad);

    EXPECT_EQ(InstallPathProblem(u"{app}\\bin\\x64"), u"");
    EXPECT_EQ(InstallPathProblem(u"C:\\Tools\\Zo"), u"") << "a drive's colon is no name's";
    EXPECT_EQ(InstallPathProblem(u"\\\\server\\share\\Zo"), u"");
    EXPECT_EQ(InstallPathProblem(u"{PF}\\\\Zo\\"), u"") << "doubled and trailing separators collapse";
    EXPECT_NE(InstallPathProblem(u"{app}\\a:b"), u"");
    EXPECT_NE(InstallPathProblem(u"{app}\\nul\\x"), u"");

    EXPECT_EQ(UnknownConstant(u"{app}\\{PF}\\{Group}{desktop}{srcexe}"), u"");
    EXPECT_EQ(UnknownConstant(u"Software\\Classes\\CLSID\\{6A1D3C3E-2B1F-4F7A-9E55-0C0FFEE00002}"), u"")
        << "a GUID is no placeholder";
    EXPECT_EQ(UnknownConstant(u"{\"json\":1} {} {1x}"), u"");
    EXPECT_EQ(UnknownConstant(u"{app}\\{ap}"), u"{ap}");
    EXPECT_EQ(UnknownConstant(u"{GRÖSSE}"), u"{GRÖSSE}");
}

#ifndef _WIN32
TEST(PackagerCheck, APackedLinkLeadingOutOfTheProjectIsAWarning)
{
    THandWritten p;
    p.Write(kProject);
    TTempFolder elsewhere;
    WriteFileBytes(elsewhere.Path() / "secret.txt", "s");
    fs::create_symlink(elsewhere.Path() / "secret.txt", p.dir.Path() / "files" / "out.txt");
    fs::create_symlink(p.dir.Path() / "files" / "a.txt", p.dir.Path() / "files" / "in.txt");
    const TBuildResult r = TProjectBuilder::Build(p.options);
    ASSERT_EQ(r.Warnings.size(), 1u);
    EXPECT_NE(ToUtf8(r.Warnings[0]).find("out.txt is a link to " + fs::canonical(elsewhere.Path()).string() +
                                         "/secret.txt, outside the project"),
              std::string::npos)
        << ToUtf8(r.Warnings[0]);
}
#endif

// An online installer named like one of the build's inputs is no danger when
// no online installer is built.
TEST(PackagerCheck, OnlineNameMattersOnlyWhenTheOnlineInstallerIsBuilt)
{
    THandWritten p;
    p.options.OutputDir.clear();
    p.Write(Replaced(kProject, "Version=\"1.0\"", "Version=\"1.0\" MiniSetupFile=\"icon.png\""));
    const std::string icon = ReadFileBytes(p.dir.Path() / "icon.png");
    EXPECT_EQ(p.Error(), "");
    EXPECT_EQ(ReadFileBytes(p.dir.Path() / "icon.png"), icon);
    EXPECT_TRUE(fs::exists(p.dir.Path() / "p-setup.exe"));

    p.Write(Replaced(kProject, "Version=\"1.0\"",
                     "Version=\"1.0\" MiniSetupFile=\"icon.png\" BuildMiniSetup=\"True\" FullDownloadUrl=\"https://zo/x\""));
    EXPECT_NE(p.Error().find("icon.png: the installer would overwrite a file the build reads"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(p.dir.Path() / "icon.png"), icon);
}

}  // namespace
