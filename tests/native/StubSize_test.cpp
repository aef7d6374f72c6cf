#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

// The programs every package carries: each stays within the budget written
// beside the benchmark, so that a heavier stub is a decision, not an accident.
// A build that has not been made is skipped (only the native one may exist).
TEST(StubSize, EachProgramStaysWithinItsBudget)
{
    const std::filesystem::path root = ZO_SOURCE_DIR;
    std::ifstream budgets(root / "bench" / "stub-budgets.txt");
    ASSERT_TRUE(budgets) << "bench/stub-budgets.txt";
    std::string line;
    int checked = 0, listed = 0;
    while (std::getline(budgets, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string program;
        uintmax_t budget = 0;
        ASSERT_TRUE(fields >> program >> budget) << line;
        ++listed;
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(root / program, error);
        if (error) continue;
        EXPECT_LE(size, budget) << program << " is " << size << " bytes, past its budget of " << budget;
        ++checked;
    }
    EXPECT_EQ(listed, 4);
    if (checked == 0) GTEST_SKIP() << "no Windows build to weigh";
}
