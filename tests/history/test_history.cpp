// The history and the backup index: rows kept whole and found by their
// filters, the listing of what is really in the backups folders, the backup a
// restore takes, and a database that cannot be opened.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/backup_name.h"
#include "common/history.h"
#include "support/scratch.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace kj;
using namespace kj::history;
namespace fs = std::filesystem;

namespace {

class History : public testing::Test {
protected:
    kjtest::ScratchDir dir{"history"};
    Store store{dir.path()};

    // A backup file in its tool's folder, as the image driver leaves it.
    std::string placeBackup(const BackupName& name, const std::string& content = "image") {
        const fs::path folder = store.backupFolder(name.tool);
        fs::create_directories(folder);
        const fs::path path = folder / formatBackupName(name);
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }
    // A backup taken and entered into the index; whether it is suspect.
    bool takeBackup(const BackupName& name) {
        const std::string path = placeBackup(name);
        auto added = store.addBackup({.path = path,
                                      .time = stampTime(name.stamp),
                                      .job = name.job,
                                      .tool = name.tool,
                                      .before = name.before,
                                      .chipId = "KB9012",
                                      .size = 5,
                                      .sha256 = std::string(64, 'a')});
        EXPECT_TRUE(added) << added.error();
        return added && added->suspect == true;
    }
    void record(const std::string& job, const std::string& action, const std::string& verdict) {
        auto added = store.addOperation({.job = job, .tool = "kb90xx", .action = action, .verdict = verdict});
        EXPECT_TRUE(added) << added.error();
    }
    std::vector<std::string> listedPaths(const BackupFilter& filter) {
        auto listed = store.backups(filter);
        EXPECT_TRUE(listed) << listed.error();
        std::vector<std::string> paths;
        if (listed)
            for (const auto& b : *listed) paths.push_back(fs::path(b.path).filename().string());
        return paths;
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(History, RowsComeBackWholeNewestFirstAndByTheirFilters) {
    const OperationRow failed{.time = "2026-12-08 23:59:59",
                              .job = "LA-1234",
                              .tool = "kb90xx",
                              .action = "write",
                              .chipId = "KB9012 rev. A",
                              .file = dir.file("new, \"fixed\".bin"),
                              .size = 131072,
                              .crc32 = "cbf43926",
                              .sha256 = std::string(64, 'e'),
                              .backup = dir.file("backup.bin"),
                              .verdict = "FAILED",
                              .reason = "the chip differs from the file at 0x02A51; bytes that differ: 3"};
    ASSERT_TRUE(store.addOperation(failed));
    ASSERT_TRUE(store.addOperation({.time = "2026-12-09 01:00:00", .job = "LA-77", .tool = "npce", .action = "read"}));
    ASSERT_TRUE(store.addOperation(
        {.time = "2026-12-09 02:00:00", .job = "LA-1234", .tool = "kb90xx", .action = "restore", .file = "dump.bin"}));

    const auto all = store.operations();
    ASSERT_TRUE(all) << all.error();
    ASSERT_EQ(all->size(), 3u);
    EXPECT_EQ(operationFields((*all)[2]), operationFields(failed));
    EXPECT_EQ((*all)[0].action, "restore");
    // A name given relative is kept as the file it named.
    EXPECT_EQ(fs::path((*all)[0].file), fs::absolute("dump.bin"));
    EXPECT_EQ((*all)[1].size, std::nullopt);

    const auto count = [&](const OperationFilter& filter) {
        auto rows = store.operations(filter);
        return rows ? rows->size() : size_t{999};
    };
    EXPECT_EQ(count({.job = "LA-1234"}), 2u);
    EXPECT_EQ(count({.tool = "npce"}), 1u);
    EXPECT_EQ(count({.since = "2026-12-09"}), 2u);
    EXPECT_EQ(count({.job = "LA-1234", .tool = "kb90xx", .since = "2026-12-09"}), 1u);
    EXPECT_FALSE(store.operations({.since = "2026-12-9"}));
    // What a row could not mean is refused, not kept.
    EXPECT_FALSE(store.addOperation({.tool = "kb90xx", .action = "flash"}));
    EXPECT_FALSE(store.addOperation({.tool = "kb90xx", .action = "write", .verdict = "passed"}));
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(store.databaseFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(History, TheListingIsTheBackupFilesThereWithWhatTheIndexSays) {
    const BackupName indexed{"20261209-013455", "LA-1234", "kb90xx", "write", "0123abcd"};
    ASSERT_FALSE(takeBackup(indexed));
    const std::string indexedPath = store.backupFolder("kb90xx").string() + "/" + formatBackupName(indexed);
    ASSERT_TRUE(store.settleBackup(indexedPath, "new.bin", "FAILED"));
    placeBackup({"20261209-020000", "LA-1234", "kb90xx", "erase", "11111111"});  // no row
    placeBackup({"20240101-000000", "", "kb90xx", "", "22222222"});              // an earlier release's
    placeBackup({"20261210-000000", "", "npce", "write", "33333333"});
    // Beside them, what only looks like a backup or is not one at all.
    const fs::path kb = store.backupFolder("kb90xx");
    for (const char* foreign :
         {"customer-42-original.bin", "notes.txt", "20261209-013455-npce-before-write-0123abcd.bin"})
        std::ofstream(kb / foreign) << "mine";
    fs::create_directories(kb / "old");
    std::ofstream(kb / "old" / "20261211-000000-44444444.bin") << "deeper";
#ifndef _WIN32
    fs::create_symlink(kb / formatBackupName(indexed), kb / "20261212-000000-55555555.bin");
#endif

    EXPECT_EQ(listedPaths({.tool = "kb90xx"}),
              (Names{"20261209-020000-LA-1234-kb90xx-before-erase-11111111.bin",
                     "20261209-013455-LA-1234-kb90xx-before-write-0123abcd.bin", "20240101-000000-22222222.bin"}));
    EXPECT_EQ(listedPaths({}).size(), 4u);
    EXPECT_EQ(listedPaths({.tool = "kb90xx", .job = "LA-1234"}).size(), 2u);
    EXPECT_EQ(listedPaths({.tool = "mec16"}), Names{});

    const auto listed = store.backups({.tool = "kb90xx"});
    ASSERT_TRUE(listed);
    EXPECT_EQ(backupFields((*listed)[1]),
              (Names{"2026-12-09 01:34:55", "LA-1234", "kb90xx", "write", "FAILED", "KB9012", "5", std::string(64, 'a'),
                     fs::absolute(indexedPath).lexically_normal().string()}));
    EXPECT_EQ(fs::absolute((*listed)[1].writtenFile), fs::absolute("new.bin"));
    const auto unknown = backupFields((*listed)[0]);
    EXPECT_EQ((Names{unknown[3], unknown[4], unknown[5], unknown[7]}),
              (Names{"erase", "unknown", "unknown", "unknown"}));
    EXPECT_EQ(backupFields((*listed)[2])[3], "unknown");
    EXPECT_FALSE(store.settleBackup(kb.string() + "/nothing.bin", "new.bin", "PASSED"));
}

TEST_F(History, ARestoreTakesTheFirmwareTheBoardCameInWith) {
    // Another board, written fine the day before.
    EXPECT_FALSE(takeBackup({"20261208-100000", "LA-9999", "kb90xx", "write", "00000000"}));
    record("LA-9999", "write", "PASSED");
    // This board: the first write fails, and every backup after it holds a broken chip.
    EXPECT_FALSE(takeBackup({"20261209-010000", "LA-1234", "kb90xx", "write", "11111111"}));
    record("LA-1234", "write", "FAILED");
    record("LA-1234", "verify", "PASSED");  // only what changes the chip counts
    EXPECT_TRUE(takeBackup({"20261209-010500", "LA-1234", "kb90xx", "write", "22222222"}));
    record("LA-1234", "erase", "FAILED");
    EXPECT_TRUE(takeBackup({"20261209-011000", "LA-1234", "kb90xx", "write", "33333333"}));
    // A failure of one job says nothing of another's chip.
    EXPECT_FALSE(takeBackup({"20261209-011500", "LA-9999", "kb90xx", "restore", "44444444"}));

    const auto ofJob = store.restoreChoice("kb90xx", "LA-1234");
    ASSERT_TRUE(ofJob) << ofJob.error();
    EXPECT_EQ(fs::path(ofJob->backup.path).filename(), "20261209-010000-LA-1234-kb90xx-before-write-11111111.bin");
    EXPECT_EQ(ofJob->reason, "the oldest backup of job LA-1234, taken 2026-12-09 01:00:00 before a write");

    const auto newest = store.restoreChoice("kb90xx");
    ASSERT_TRUE(newest) << newest.error();
    EXPECT_EQ(newest->reason, "the newest backup not marked suspect, taken 2026-12-09 01:15:00 before a restore");
    record("LA-9999", "restore", "FAILED");
    EXPECT_TRUE(takeBackup({"20261209-012000", "LA-9999", "kb90xx", "write", "55555555"}));
    EXPECT_EQ(store.restoreChoice("kb90xx")->reason,
              "the newest backup not marked suspect, taken 2026-12-09 01:15:00 before a restore");
    // A file the index does not know is not marked suspect.
    placeBackup({"20261209-013000", "LA-1234", "kb90xx", "erase", "66666666"});
    EXPECT_EQ(store.restoreChoice("kb90xx")->reason,
              "the newest backup not marked suspect, taken 2026-12-09 01:30:00 before an erase, not in the index");
    // A passed write clears the doubt for the next backup.
    record("LA-1234", "write", "PASSED");
    EXPECT_FALSE(takeBackup({"20261209-014000", "LA-1234", "kb90xx", "write", "77777777"}));

    EXPECT_EQ(store.restoreChoice("npce").error(), "no backup of npce");
    EXPECT_EQ(store.restoreChoice("kb90xx", "LA-5").error(), "no backup of kb90xx for job LA-5");
    const std::vector<Backup> allSuspect{{.tool = "kb90xx", .suspect = true}};
    EXPECT_EQ(chooseRestore(allSuspect, "kb90xx", "").error(), "every backup of kb90xx is marked suspect");
}

TEST_F(History, ADatabaseThatCannotBeOpenedIsSaidAndNothingElseHappens) {
    fs::create_directories(store.databaseFile());  // a folder in the way
    for (const auto& error : {store.addOperation({.tool = "kb90xx", .action = "read"}).error(),
                              store.operations().error(), store.backups().error()}) {
        EXPECT_NE(error.find(store.databaseFile().string()), std::string::npos) << error;
        EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
    }
    fs::remove(store.databaseFile());
    std::ofstream(store.databaseFile()) << std::string(4096, 'x');
    EXPECT_NE(store.operations().error().find("not a database"), std::string::npos) << store.operations().error();

    Store onAFile{store.databaseFile()};
    EXPECT_NE(onAFile.operations().error().find("cannot create the data folder"), std::string::npos);
#ifndef _WIN32
    if (::geteuid() != 0) {
        const fs::path locked = dir.path() / "locked";
        fs::create_directories(locked);
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
        Store readOnly{locked};
        const auto added = readOnly.addOperation({.tool = "kb90xx", .action = "read"});
        EXPECT_NE(added.error().find("Permission denied"), std::string::npos) << added.error();
        fs::permissions(locked, fs::perms::owner_all);
    }
#endif
}

TEST(HistoryCsv, FieldsAreQuotedOnlyWhereTheyMustBe) {
    const std::string csv = csvText({"file", "reason"}, {{"plain.bin", "with, comma"},
                                                         {"say \"hi\".bin", "two\r\nlines"},
                                                         {"lf\nonly", "cr\ronly"},
                                                         {"Плата.bin", ""}});
    EXPECT_EQ(csv,
              "file,reason\r\n"
              "plain.bin,\"with, comma\"\r\n"
              "\"say \"\"hi\"\".bin\",\"two\r\nlines\"\r\n"
              "\"lf\nonly\",\"cr\ronly\"\r\n"
              "Плата.bin,\r\n");
}
