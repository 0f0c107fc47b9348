// The record of operations and the data folder around it: lines stay whole
// and start only where the program starts one, a record that cannot be kept
// says so once, and a board owner's data is the user's alone.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "common/journal.h"
#include "common/private_files.h"
#include "support/scratch.h"

namespace kjtest {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> recordLines(const fs::path& folder) {
    std::vector<std::string> lines;
    for (const auto& day : fs::directory_iterator(folder)) {
        std::ifstream in(day.path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    return lines;
}

// Two programs record long lines at once; a name with a newline, a carriage
// return and a terminal's escape in it stays on its line.
TEST(Record, LinesStayWholeAndStartOnlyWhereTheProgramStartsOne) {
    ScratchDir dir;
    const fs::path folder = dir.path() / "logs";
    constexpr int kLines = 20;
    constexpr size_t kLong = 200 * 1024;
    std::vector<pid_t> writers;
    for (const char fill : {'a', 'b'}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            kj::journal::start(folder);
            for (int i = 0; i < kLines; ++i) kj::journal::line("kb90xx", "LA-1234", std::string(kLong, fill));
            ::_exit(0);
        }
        writers.push_back(pid);
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    kj::journal::start(folder);
    kj::journal::line("kb90xx", "", "Save the file: a\nkb90xx | PASSED\r\x1b[31m.bin");
    kj::journal::stop();

    const auto lines = recordLines(folder);
    ASSERT_EQ(lines.size(), 2u * kLines + 1);
    for (const auto& line : lines) {
        const size_t text = line.find(" | ");
        ASSERT_NE(text, std::string::npos) << line.substr(0, 80);
        if (line.size() - text - 3 != kLong) continue;
        const char fill = line[text + 3];
        EXPECT_EQ(line.find_first_not_of(fill, text + 3), std::string::npos) << "a line torn by another";
    }
    EXPECT_TRUE(lines.back().ends_with("kb90xx | Save the file: a\\x0Akb90xx | PASSED\\x0D\\x1B[31m.bin"))
        << lines.back();
}

TEST(Record, ARecordThatCannotBeWrittenIsSaidOnce) {
    ScratchDir dir;
    writeFile(dir.file("logs"), {1});  // a file where the folder should be
    kj::journal::start(dir.path() / "logs");
    const auto problem = kj::journal::line("ite", "", "first");
    ASSERT_TRUE(problem.has_value());
    EXPECT_NE(problem->find((dir.path() / "logs").string()), std::string::npos) << *problem;
    EXPECT_FALSE(kj::journal::line("ite", "", "second").has_value());
    kj::journal::stop();
}

// Whatever the umask made of them before, once.
TEST(DataFolder, IsMadeTheUsersAloneOnce) {
    ScratchDir dir;
    DataHome home(dir.path());
    const fs::path data = dir.path() / "korvel-jig";
    fs::create_directories(data / "backups" / "kb90xx");
    writeFile((data / "backups" / "kb90xx" / "old.bin").string(), {1});
    fs::permissions(data, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(data / "backups" / "kb90xx" / "old.bin",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    const auto line = kj::tightenDataFolder();
    ASSERT_TRUE(line.has_value());
    EXPECT_NE(line->find(data.string()), std::string::npos) << *line;
    EXPECT_EQ(fs::status(data).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(data / "backups").permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(data / "backups" / "kb90xx" / "old.bin").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(kj::tightenDataFolder().has_value());
}

}  // namespace
}  // namespace kjtest
