// The packaging tool run as a user runs it: the README's quick start, line by
// line, in a fresh folder, so the README and the tool cannot drift apart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

#ifndef _WIN32

// The commands of the README's quick-start block.
std::string QuickStart()
{
    const std::string readme = ReadFileBytes(fs::path(ZO_SOURCE_DIR) / "README.md");
    size_t section = readme.find("### Quick start");
    size_t open = readme.find("```sh\n", section);
    size_t close = readme.find("```", open + 6);
    if (section == std::string::npos || open == std::string::npos || close == std::string::npos) return {};
    return readme.substr(open + 6, close - open - 6);
}

// A folder with the tool, and beside it the stub and the uninstaller it takes by default.
struct TToolBox {
    TTempFolder root;
    fs::path bin = root.Path() / "bin", work = root.Path() / "work";

    TToolBox()
    {
        fs::create_directories(bin);
        fs::create_directories(work);
        fs::copy_file(ZO_PACK_TOOL, bin / "zosetup-pack");
        fs::permissions(bin / "zosetup-pack", fs::perms::owner_all);
        const fs::path stub = fs::path(ZO_SOURCE_DIR) / "tests/native/data/tiny32.exe";  // the 32-bit default
        fs::copy_file(stub, bin / "zosetup.exe");
        fs::copy_file(stub, bin / "Uninstall.exe");
    }
    // Runs the commands with bash in the work folder; the exit code, and what they printed in output.
    int Run(const std::string& commands, std::string& output) const
    {
        WriteFileBytes(root.Path() / "run.sh", "set -e\ncd '" + work.string() + "'\n" + commands);
        const std::string log = (root.Path() / "run.log").string();
        const std::string line = "PATH='" + bin.string() + "':\"$PATH\" bash '" + (root.Path() / "run.sh").string() +
                                 "' >'" + log + "' 2>&1";
        int status = std::system(line.c_str());
        output = ReadFileBytes(log);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST(PackagerQuickStart, ReadmeQuickStartRunsAsWritten)
{
    const std::string commands = QuickStart();
    ASSERT_NE(commands.find("zosetup-pack new Hello.xml"), std::string::npos) << "the README has a quick start";
    TToolBox box;
    fs::create_directories(box.work / "path" / "to");
    WriteFileBytes(box.work / "path" / "to" / "Hello.exe", std::string(5000, 'h'));
    std::string output;
    ASSERT_EQ(box.Run(commands, output), 0) << output;
    EXPECT_NE(output.find("built Hello-setup.exe: 3 files"), std::string::npos) << output;
    EXPECT_NE(output.find("contents: 3 files"), std::string::npos) << "build and inspect count alike: " << output;
    EXPECT_EQ(ReadFileBytes(box.work / "ex" / "Hello.exe"), std::string(5000, 'h'));
    EXPECT_TRUE(fs::is_regular_file(box.work / "ex" / "Uninstall.exe"));
    EXPECT_EQ(output.find("warning"), std::string::npos) << output;
}

TEST(PackagerQuickStart, ToolWorksFromAnyFolderAndSaysWhereAProjectIsWrong)
{
    TToolBox box;
    std::string output;
    // A project in a sub-folder, named relatively and absolutely, built from elsewhere.
    ASSERT_EQ(box.Run("mkdir -p a/b c && zosetup-pack new a/b/P.xml && cd c && zosetup-pack build ../a/b/P.xml"
                      " && zosetup-pack build \"$PWD/../a/b/P.xml\" -o out/x"
                      " && zosetup-pack inspect out/x/P-setup.exe --extract e",
                      output),
              0)
        << output;
    EXPECT_TRUE(fs::is_regular_file(box.work / "a" / "b" / "P-setup.exe"));
    EXPECT_TRUE(fs::is_regular_file(box.work / "c" / "e" / "readme.txt"));
    EXPECT_NE(output.find("warning: RunList starts {app}\\P.exe, which the package does not install"), std::string::npos)
        << output;

    // One line at the place of the mistake, exit code 1, nothing written.
    const std::string broken = "printf '<TSetupScript>\\n  <BaseInfo AppTitle=\"x\"/>\\n</TSetupScrip>\\n' > Bad.xml\n";
    EXPECT_EQ(box.Run(broken + "zosetup-pack build Bad.xml", output), 1);
    EXPECT_EQ(output, "Bad.xml:3:1: the end tag </TSetupScrip> does not match <TSetupScript> of line 1, column 1\n");
    EXPECT_FALSE(fs::exists(box.work / "Bad-setup.exe"));

    EXPECT_EQ(box.Run("zosetup-pack --version", output), 0);
    EXPECT_EQ(output.rfind("zosetup-pack ", 0), 0u) << output;
}

#endif

}  // namespace
