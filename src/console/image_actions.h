// The actions every image tool shares, and their options, declared once: a
// tool lists them in its table, with its own options where it has some.
#pragma once

#include "console/console.h"

namespace kj::cli {

inline constexpr Option kOutputOption{
    .name = "--output", .value = "FILE", .help = "the file the chip is read into", .shortName = 'r', .required = true};
inline constexpr Option kReadTwiceOption{.name = "--read-twice",
                                         .help = "read the chip twice and compare, against a clip that slips"};
inline constexpr Option kForceOption{.name = "--force", .help = "replace an existing file (--output, --backup FILE)"};
// -w FILE and -v FILE stand for "write --input FILE" and "verify --input FILE".
inline constexpr Option kWriteInputOption{
    .name = "--input", .value = "FILE", .help = "the image to write", .shortName = 'w', .required = true};
inline constexpr Option kVerifyInputOption{.name = "--input",
                                           .value = "FILE",
                                           .help = "the image to compare the chip with",
                                           .shortName = 'v',
                                           .required = true};
inline constexpr Option kNoBackupOption{.name = "--no-backup", .help = "do not back the chip up first"};
inline constexpr Option kBackupToOption{
    .name = "--backup", .value = "FILE", .help = "back the chip up into FILE instead of the backups folder"};
inline constexpr Option kNoVerifyOption{.name = "--no-verify",
                                        .help = "do not read the chip back; the verdict is a WARNING"};
inline constexpr Option kAnySizeOption{.name = "--any-size", .help = "write a file of another size than the image's"};
inline constexpr Option kAllowBlankOption{.name = "--allow-blank", .help = "write a blank file (every byte the same)"};
inline constexpr Option kBackupFromOption{
    .name = "--backup",
    .value = "FILE",
    .help =
        "the backup to write back; without it, the firmware the board came in\n"
        "with: the oldest backup of --job, else the newest not taken after a failure",
};

inline constexpr const Option* kReadOptions[] = {&kOutputOption, &kReadTwiceOption, &kForceOption};
inline constexpr const Option* kWriteOptions[] = {&kWriteInputOption, &kNoBackupOption, &kBackupToOption,
                                                  &kForceOption,      &kNoVerifyOption, &kAnySizeOption,
                                                  &kAllowBlankOption};
inline constexpr const Option* kVerifyOptions[] = {&kVerifyInputOption};
inline constexpr const Option* kEraseOptions[] = {&kNoBackupOption, &kBackupToOption, &kForceOption};
inline constexpr const Option* kRestoreOptions[] = {&kBackupFromOption, &kAllowBlankOption};

inline constexpr Action kRead{.name = "read", .options = kReadOptions, .help = "reads the chip into FILE"};
inline constexpr Action kWrite{
    .name = "write",
    .options = kWriteOptions,
    .help = "backs the chip up, writes the file into it and reads it back",
};
inline constexpr Action kVerify{
    .name = "verify",
    .options = kVerifyOptions,
    .help = "reads the chip and compares it with the file; writes nothing",
};
inline constexpr Action kErase{.name = "erase", .options = kEraseOptions, .help = "erases the chip after a backup"};
inline constexpr Action kRestore{
    .name = "restore",
    .options = kRestoreOptions,
    .help =
        "writes a backup back as a write does: a backup of the chip as it is now\n"
        "first, then the write and the read-back; asks nothing",
};

}  // namespace kj::cli
