// Backup names: what they say survives a round trip, and nothing a technician
// keeps in the folder is taken for one of them, since pruning trusts the parse.
#include <gtest/gtest.h>

#include "common/backup_name.h"

using namespace kj;

namespace {
bool same(const BackupName& a, const BackupName& b) {
    return a.stamp == b.stamp && a.job == b.job && a.tool == b.tool && a.before == b.before && a.sha8 == b.sha8;
}
}  // namespace

TEST(BackupName, EveryFormComesBackAsItWasWritten) {
    const struct {
        BackupName name;
        std::string text;
    } cases[] = {
        {{"20261209-013455", "", "kb90xx", "write", "0123abcd"}, "20261209-013455-kb90xx-before-write-0123abcd.bin"},
        {{"20261209-013455", "LA-1234", "kb90xx", "erase", "ffffffff"},
         "20261209-013455-LA-1234-kb90xx-before-erase-ffffffff.bin"},
        // A job may end like a tool and hold "-before-" itself.
        {{"20261209-013455", "x-kb90xx-before-write", "kb90xx", "restore", "00000000"},
         "20261209-013455-x-kb90xx-before-write-kb90xx-before-restore-00000000.bin"},
        {{"20261209-013455", "a", "test-connect", "write", "9a9a9a9a"},
         "20261209-013455-a-test-connect-before-write-9a9a9a9a.bin"},
        // The earlier release's plain name: no job, and what it came before is unknown.
        {{"20240101-000000", "", "mec16", "", "0123abcd"}, "20240101-000000-0123abcd.bin"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatBackupName(c.name), c.text);
        const auto parsed = parseBackupName(c.text, c.name.tool);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_TRUE(same(*parsed, c.name)) << c.text;
    }
    EXPECT_EQ(stampTime("20261209-013455"), "2026-12-09 01:34:55");
}

TEST(BackupName, WhatIsNotOursIsNotTakenForABackup) {
    for (const char* name : {
             "customer-42-original.bin",
             "notes.txt",
             "20261209-013455-npce-before-write-0123abcd.bin",         // another tool's
             "20261209-013455-reading.bin",                            // a read cut short
             ".20261209-013455-0123abcd.bin.kj-12345",                 // a temporary
             "20261209-013455-kb90xx-before-flash-0123abcd.bin",       // no such step
             "20261209-013455-kb90xx-write-0123abcd.bin",              // "before" missing
             "20261209-013455-kb90xx-before-write-0123ABCD.bin",       // upper-case hash
             "20261209-013455-kb90xx-before-write-0123abc.bin",        // short hash
             "20261209-013455--kb90xx-before-write-0123abcd.bin",      // an empty job
             "20261209-013455-LA 1-kb90xx-before-write-0123abcd.bin",  // a job no label could be
             "20261209-013455-..-kb90xx-before-write-0123abcd.bin",
             "2026120-0134550-0123abcd.bin",
             "20261209-013455-0123abcd.BIN",
             "20261209-013455-0123abcd.bin.bak",
             "x20261209-013455-0123abcd.bin",
         }) {
        EXPECT_FALSE(parseBackupName(name, "kb90xx")) << name;
    }
}

TEST(BackupName, ALabelKeepsOnlyWhatAFileNameTakesEverywhere) {
    EXPECT_EQ(safeLabel("LA-1234_b.2"), "LA-1234_b.2");
    EXPECT_EQ(safeLabel("Плата 7/8"), "______7_8");  // a Cyrillic letter is one character
    EXPECT_EQ(safeLabel("a\\b:c*d?\"e<f>|\n\x1b"), "a_b_c_d__e_f____");
    EXPECT_EQ(safeLabel(""), "");
    EXPECT_EQ(safeLabel("."), "_");
    EXPECT_EQ(safeLabel(".."), "__");
    EXPECT_EQ(safeLabel("../x"), ".._x");
    EXPECT_EQ(safeLabel(std::string(100, 'x')), std::string(kMaxLabel, 'x'));
    EXPECT_EQ(safeLabel(std::string(70, 'x') + "Ж"), std::string(kMaxLabel, 'x'));
}
