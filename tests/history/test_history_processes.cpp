// The history from outside: two processes writing at once lose and tear no
// row, and korvel-cli's history and backups commands show what was kept.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "common/backup_name.h"
#include "common/connection_base.h"
#include "common/history.h"
#include "support/process.h"
#include "support/scratch.h"
#include "writer_rows.h"

using namespace kj;
using namespace kj::history;
namespace fs = std::filesystem;

namespace {
kjtest::CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), KJ_CLI);
    return kjtest::runCommand(std::move(args));
}
}  // namespace

TEST(HistoryProcesses, TwoWritersAtOnceLoseAndTearNoRow) {
    constexpr int kRows = 300;
    kjtest::ScratchDir dir{"history"};
    const std::string folder = dir.path().string();
    // Both start on a database that is not there yet.
    kjtest::Server first({KJ_HISTORY_WRITER, folder, "first", std::to_string(kRows)});
    kjtest::Server second({KJ_HISTORY_WRITER, folder, "second", std::to_string(kRows)});
    const auto bound = std::chrono::seconds(120);
    EXPECT_EQ(first.reap(bound), 0);
    EXPECT_EQ(second.reap(bound), 0);

    Store store{dir.path()};
    const auto rows = store.operations();
    ASSERT_TRUE(rows) << rows.error();
    EXPECT_EQ(rows->size(), 2u * kRows);
    std::map<std::string, int> whole;
    for (const auto& row : *rows) {
        const int i = static_cast<int>(row.size.value_or(0));
        if (operationFields(row) == operationFields(kjtest::writerRow(row.job, i)))
            ++whole[row.job + "-" + std::to_string(i)];
    }
    EXPECT_EQ(whole.size(), 2u * kRows);
}

TEST(HistoryProcesses, TheCommandsListWhatWasKept) {
    kjtest::ScratchDir dir{"history-cli"};
    kjtest::DataHome home(dir.path());
    Store store;
    ASSERT_TRUE(store.addOperation({.time = "2026-12-08 10:00:00", .job = "LA-9", .tool = "npce", .action = "read"}));
    ASSERT_TRUE(store.addOperation({.time = "2026-12-09 01:35:10",
                                    .job = "LA-1234",
                                    .tool = "kb90xx",
                                    .action = "write",
                                    .chipId = "KB9012",
                                    .file = "/boards/la,1234.bin",
                                    .size = 131072,
                                    .crc32 = "cbf43926",
                                    .sha256 = "ab",
                                    .backup = "/b/x.bin",
                                    .verdict = "FAILED",
                                    .reason = "the chip differs from the file at 0x02A51; \"3\" bytes"}));
    const auto csv = cli({"history", "--csv", "--job=LA-1234"});
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out,
              "time,job,tool,action,chip ID,file,size,CRC32,SHA-256,backup,verdict,reason\r\n"
              "2026-12-09 01:35:10,LA-1234,kb90xx,write,KB9012,\"/boards/la,1234.bin\",131072,cbf43926,ab,/b/x.bin,"
              "FAILED,\"the chip differs from the file at 0x02A51; \"\"3\"\" bytes\"\r\n");
    const auto table = cli({"history", "--since", "2026-12-08"});
    ASSERT_EQ(table.lines().size(), 3u) << table.out;
    EXPECT_EQ(table.lines()[0].find("time                 job      tool    action"), 0u) << table.out;
    EXPECT_EQ(table.lines()[2].find("2026-12-08 10:00:00  LA-9     npce    read"), 0u) << table.out;

    const fs::path folder = store.backupFolder("kb90xx");
    fs::create_directories(folder);
    const BackupName first{"20261209-013455", "LA-1234", "kb90xx", "write", "0123abcd"};
    const BackupName unindexed{"20261209-014000", "LA-1234", "kb90xx", "restore", "89abcdef"};
    for (const auto& name : {first, unindexed}) std::ofstream(folder / formatBackupName(name)) << "image";
    std::ofstream(folder / "customer-42-original.bin") << "mine";
    ASSERT_TRUE(store.addBackup({.path = (folder / formatBackupName(first)).string(),
                                 .job = "LA-1234",
                                 .tool = "kb90xx",
                                 .before = "write",
                                 .chipId = "KB9012",
                                 .size = 5,
                                 .sha256 = std::string(64, 'c')}));
    const auto backups = cli({"backups", "kb90xx", "--job", "LA-1234"});
    EXPECT_EQ(backups.status, 0) << backups.err;
    const auto lines = backups.lines();
    ASSERT_EQ(lines.size(), 3u) << backups.out;
    EXPECT_EQ(lines[0].find("time                 job      tool    before   verdict  chip ID  size  SHA-256"), 0u)
        << backups.out;
    EXPECT_EQ(lines[1].find("2026-12-09 01:40:00  LA-1234  kb90xx  restore  unknown  unknown  5     unknown"), 0u)
        << backups.out;
    EXPECT_EQ(lines[2].find("2026-12-09 01:34:55  LA-1234  kb90xx  write    unknown  KB9012   5     cccc"), 0u)
        << backups.out;
    EXPECT_TRUE(lines[2].ends_with(formatBackupName(first))) << lines[2];

    EXPECT_EQ(cli({"backups", "keyboardd"}).status, 2);
    EXPECT_EQ(cli({"history", "--since", "2026-13-01"}).status, 2);
}
