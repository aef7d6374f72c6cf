// zosetup-pack manifest: what it writes is a winget manifest the published
// schemas accept, and it tells winget about every exit code the README lists.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "PeResources.h"
#include "TestSupport.h"
#include "ZoHash.h"

namespace fs = std::filesystem;

#ifndef _WIN32

namespace {

// The winget schemas lie beside the work tree on every development and CI machine.
const fs::path kSchemas = fs::path(ZO_SOURCE_DIR) / ".." / "shared" / "winget";

int Shell(const std::string& commands, const fs::path& log)
{
    const std::string line = "bash -c '" + commands + "' >'" + log.string() + "' 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The non-zero codes of the README's first exit-code table: the installer's.
std::vector<std::string> ReadmeInstallerCodes()
{
    const std::string readme = ReadFileBytes(fs::path(ZO_SOURCE_DIR) / "README.md");
    const size_t from = readme.find("| Exit code | Meaning |", readme.find("## The installer"));
    const std::string table = readme.substr(from, readme.find("\n\n", from) - from);
    std::vector<std::string> codes;
    const std::regex row(R"(\n\| (\d+) \|)");
    for (std::sregex_iterator it(table.begin(), table.end(), row), end; it != end; ++it)
        if ((*it)[1] != "0") codes.push_back((*it)[1]);
    return codes;
}

}  // namespace

TEST(PackagerManifest, WritesAWingetManifestTheSchemasAcceptWithEveryExitCode)
{
    TTempFolder dir;
    const fs::path p = dir.Path();
    // A stub asking for the administrator, as ours do, so that a scope can change it.
    TPeImage stub = TPeImage::FromFile(ZO_SOURCE_DIR u"/tests/native/data/tiny64.exe");
    const std::string level = "<assembly><trustInfo><security><requestedPrivileges><requestedExecutionLevel "
                              "level=\"requireAdministrator\"/></requestedPrivileges></security></trustInfo></assembly>";
    stub.SetResource(pe::kManifest, 1, TBytes(level.begin(), level.end()), 1033);
    stub.SaveToFile(dir.Wide("stub.exe"));
    const std::string tool = ZO_PACK_TOOL;
    ASSERT_EQ(Shell("cd \"" + p.string() + "\" && \"" + tool + "\" new Hi.xml && sed -i \"s/CompanyName=\\\"[^\\\"]*\\\"/CompanyName=\\\"Zo Soft\\\"/\" Hi.xml"
                    " && \"" + tool + "\" build Hi.xml --stub stub.exe --uninstaller stub.exe --var Version=2.5.0.7 -q"
                    " && \"" + tool + "\" manifest Hi-setup.exe --id ZoSoft.Hi --url https://example.com/Hi-setup.exe -o m"
                    // An installer whose user chooses the scope: one entry for each.
                    " && sed \"s/InstallScope=\\\"[a-z]*\\\"/InstallScope=\\\"either\\\"/\" Hi.xml >Both.xml"
                    " && \"" + tool + "\" build Both.xml --stub stub.exe --uninstaller stub.exe -o b -q"
                    " && \"" + tool + "\" manifest b/*.exe --id ZoSoft.Both --url https://example.com/B.exe -o m",
                    p / "log"),
              0)
        << ReadFileBytes(p / "log");
    const std::string installer = ReadFileBytes(p / "m" / "ZoSoft.Hi.installer.yaml");
    EXPECT_NE(installer.find("PackageVersion: \"2.5.0.7\""), std::string::npos) << installer;
    EXPECT_NE(installer.find("Architecture: x64"), std::string::npos);
    const std::string setup = ReadFileBytes(p / "Hi-setup.exe");
    std::string sha = DigestToHex(TZoSha256::Of(setup.data(), setup.size()));
    for (char& c : sha) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_NE(installer.find("InstallerSha256: " + sha), std::string::npos);
    EXPECT_NE(installer.find("Scope: machine"), std::string::npos);
    const std::string both = ReadFileBytes(p / "m" / "ZoSoft.Both.installer.yaml");
    EXPECT_NE(both.find("Scope: user\n"), std::string::npos) << both;
    EXPECT_NE(both.find("Custom: /ALLUSERS\n  ElevationRequirement: elevatesSelf"), std::string::npos) << both;
    const std::vector<std::string> codes = ReadmeInstallerCodes();
    EXPECT_GE(codes.size(), 7u);
    for (const std::string& code : codes)
        EXPECT_NE(installer.find("InstallerReturnCode: " + code + "\n"), std::string::npos) << "exit code " << code;

    if (!fs::is_directory(kSchemas)) GTEST_SKIP() << "skipped the schema check: no winget schemas in " << kSchemas;
    EXPECT_EQ(Shell("python3 \"" + std::string(ZO_SOURCE_DIR) + "/tests/native/winget_validate.py\" \"" +
                        kSchemas.string() + "\" \"" + p.string() + "\"/m/*.yaml",
                    p / "check"),
              0)
        << ReadFileBytes(p / "check");
}

#endif
