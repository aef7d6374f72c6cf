#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "BuildProgress.h"
#include "TestSupport.h"

namespace {

std::string Contents(FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

// What the file holds once it holds text, waiting for it as long as a loaded machine may take.
std::string WaitFor(const std::filesystem::path& file, const std::string& text)
{
    std::string found;
    for (int i = 0; i < 1000 && found.find(text) == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        found = ReadFileBytes(file);
    }
    return found;
}

// Off a terminal the lines come by themselves, whether or not the
// compression reports anything; each says how far the build is.
TEST(BuildProgress, OffATerminalALineComesEveryIntervalOnItsOwn)
{
    TTempFolder dir;
    const auto log = dir.Path() / "log.txt";
    FILE* f = std::fopen(log.string().c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string text;
    {
        TBuildProgress progress(f, false, std::chrono::milliseconds(20));
        text = WaitFor(log, "zosetup-pack: reading the project and its files, 0 s\n");
        EXPECT_NE(text.find("zosetup-pack: reading the project and its files, 0 s\n"), std::string::npos) << text;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        progress.Update(15 << 20, 60 << 20);
        text = WaitFor(log, " left, ");
        progress.Stop();
    }
    std::fclose(f);
    EXPECT_NE(text.find("zosetup-pack: compressing,  25%  15.0 MB of 60.0 MB  "), std::string::npos) << text;
    EXPECT_NE(text.find(" MB/s  "), std::string::npos) << text;
    EXPECT_NE(text.find(" s left, "), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos) << "no bar in a log";
}

TEST(BuildProgress, OnATerminalTheBarShowsThroughputAndTimeLeftAndIsClearedAtTheEnd)
{
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    TBuildProgress progress(f, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    progress.Update(16 << 20, 64 << 20);
    progress.Stop();
    progress.Stop();
    const std::string text = Contents(f);
    std::fclose(f);
    EXPECT_EQ(text.rfind("\r[#######.......................]  25%  16.0 MB of 64.0 MB  ", 0), 0u) << text;
    EXPECT_NE(text.find(" MB/s  "), std::string::npos) << text;
    EXPECT_NE(text.find(" left "), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\r') << "the bar is wiped before the summary";
    EXPECT_EQ(text.find('\n'), std::string::npos);

    EXPECT_EQ(SizeText(512), "512 bytes");
    EXPECT_EQ(CountText(1, "program to run", "programs to run"), "1 program to run");
    EXPECT_EQ(CountText(0, "file", "files"), "0 files");
    EXPECT_EQ(DurationText(125), "2 min 05 s");
}

}  // namespace
