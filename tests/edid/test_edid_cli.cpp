// korvel-cli edid as a technician runs it: the simulated programmer for read
// and write, sample panel images for decode, and the usage errors.
#include <gtest/gtest.h>

#include <fstream>

#include "common/text.h"
#include "edid_fixture.h"
#include "sim/eeprom_chip.h"
#include "support/cli_support.h"
#include "support/process.h"

namespace kjtest {
namespace {

const fs::path kSamples = fs::path(KJ_TEST_DATA) / "edid";

Bytes sampleImage(const std::string& stem) {
    std::ifstream in(kSamples / (stem + ".hex"));
    Bytes bytes;
    for (std::string pair; in >> pair;) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

// A short file's missing blocks are not judged: they would only be padding.
Lines summaryOf(Bytes file) {
    if (file.size() > kj::kEdidImageSize) file.resize(kj::kEdidImageSize);
    return kj::describeEdid(kj::decodeEdid(file));
}

class EdidCli : public testing::Test {
protected:
    static CommandResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), KJ_CLI);
        return runCommand(std::move(args));
    }
    ScratchDir dir_;
};

TEST_F(EdidCli, SimulatedReadShowsTheDumpAndSavesWhatDecodeDescribes) {
    const auto path = dir_.file("e.bin");

    const CommandResult read = cli({"--simulate", "edid", "read", "--output", path});

    ASSERT_EQ(read.status, 0) << read.out << read.err;
    const Bytes image = kjsim::builtInPanelEdid();
    EXPECT_EQ(read.lines(), join({kLinkLines,
                                  {"Reading EEPROM ...", "Reading from the EEPROM is completed successfully."},
                                  kj::hexDump(image),
                                  {"", "Save the file: ", path, imageLine("Read", image), "PASSED"}}));
    EXPECT_EQ(readFile(path), image);
    EXPECT_NE(read.err.find("EDID info:"), std::string::npos);

    const CommandResult decode = cli({"edid", "decode", path});
    EXPECT_EQ(decode.status, 0);
    EXPECT_EQ(decode.lines(), kj::describeEdid(kj::decodeEdid(image)));
    EXPECT_EQ(decode.err, "");
}

TEST_F(EdidCli, ABadImageIsRefusedUnlessFixedOrWrittenAsIs) {
    const auto path = dir_.file("bad.bin");
    writeFile(path, badChecksumImage());
    const std::string goodRow7 = kj::hexDump(kjsim::builtInPanelEdid())[8];
    const std::string badRow7 = kj::hexDump(badChecksumImage())[8];

    const CommandResult refused = cli({"--simulate", "edid", "write", "--input", path});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.out, "");  // before the link opened
    EXPECT_NE(refused.err.find("--fix-checksum"), std::string::npos);
    EXPECT_NE(refused.err.find("--as-is"), std::string::npos);

    const CommandResult asIs = cli({"--simulate", "edid", "write", "--input", path, "--as-is"});
    EXPECT_EQ(asIs.status, 0) << asIs.out << asIs.err;
    EXPECT_NE(asIs.err.find("Write as it is"), std::string::npos) << asIs.err;
    const Lines asIsLines = asIs.lines();
    EXPECT_NE(std::find(asIsLines.begin(), asIsLines.end(), badRow7), asIsLines.end());
    EXPECT_NE(std::find(asIsLines.begin(), asIsLines.end(), "Writing data to EEPROM is completed successfully."),
              asIsLines.end());
    EXPECT_EQ(tail(asIsLines, 2), (Lines{doneLine("Read-back", badChecksumImage()), "PASSED"}));

    const CommandResult fixed = cli({"--simulate", "edid", "write", "--input", path, "--fix-checksum"});
    EXPECT_EQ(fixed.status, 0) << fixed.out << fixed.err;
    EXPECT_EQ(fixed.err.find("Write as it is"), std::string::npos);
    const Lines fixedLines = fixed.lines();
    EXPECT_NE(std::find(fixedLines.begin(), fixedLines.end(), goodRow7), fixedLines.end());
    // The read-back is held against what was written: the image with its checksums fixed.
    EXPECT_EQ(tail(fixedLines, 2), (Lines{doneLine("Read-back", kjsim::builtInPanelEdid()), "PASSED"}));
    EXPECT_EQ(readFile(path), badChecksumImage());  // the file itself is left alone
}

TEST_F(EdidCli, DecodeReadsBinaryAndHexTextAlike) {
    for (const std::string stem : {"AUO102D_0918037108B0", "AUO42EB_F726DCFD0007"}) {
        SCOPED_TRACE(stem);
        const Bytes file = sampleImage(stem);
        ASSERT_FALSE(file.empty());
        const auto path = dir_.file(stem + ".bin");
        writeFile(path, file);
        // edid-decode's hex dump as it is, and the same bytes as xrandr --verbose shows them.
        std::string xrandr = "HDMI-1 connected\n\tEDID: \n";
        for (size_t i = 0; i < file.size(); i += 16) {
            xrandr += "\t\t";
            for (size_t j = i; j < i + 16 && j < file.size(); ++j) xrandr += kj::hexUpper(file[j], 2);
            xrandr += "\n";
        }
        xrandr += "\tBrightness: 1.0\n";
        const auto xrandrPath = dir_.file(stem + ".xrandr");
        writeFile(xrandrPath, Bytes(xrandr.begin(), xrandr.end()));

        for (const auto& input : {path, (kSamples / (stem + ".hex")).string(), xrandrPath}) {
            const CommandResult run = cli({"edid", "decode", input});
            EXPECT_EQ(run.status, 0) << input;
            EXPECT_EQ(run.lines(), summaryOf(file)) << input;
            const bool noted = run.err.find("holds " + std::to_string(file.size()) + " bytes") != std::string::npos;
            EXPECT_EQ(noted, file.size() != kj::kEdidImageSize) << input;
        }
    }
    const auto empty = dir_.file("empty.bin");
    writeFile(empty, {});
    const auto text = dir_.file("text.txt");
    writeFile(text, Bytes{'n', 'o', ' ', 'e', 'd', 'i', 'd', '\n'});
    for (const auto& input : {empty, text}) {
        const CommandResult run = cli({"edid", "decode", input});
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_EQ(run.out, "") << input;
    }
}

TEST_F(EdidCli, DecodeOfAMissingFileFails) {
    const CommandResult run = cli({"edid", "decode", dir_.file("missing.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("missing.bin: No such file or directory"), std::string::npos);
    EXPECT_EQ(run.out, "");
}

TEST_F(EdidCli, UsageErrorsComeBeforeTheLinkIsOpened) {
    const auto existing = dir_.file("existing.bin");
    writeFile(existing, Bytes(10, 1));
    const std::vector<std::vector<std::string>> cases{
        {"--simulate", "edid"},
        {"--simulate", "edid", "erase"},
        {"--simulate", "edid", "decode"},
        {"--simulate", "edid", "read"},
        {"--simulate", "edid", "read", "--output", existing},
        {"--simulate", "edid", "write"},
        {"--simulate", "edid", "write", "--input", existing, "--fix-checksums"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.back());
        const CommandResult run = cli(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");  // not even the device count
    }
    const CommandResult noAction = cli({"edid"});
    EXPECT_EQ(
        noAction.err,
        "korvel-cli: edid needs an action: read, write, verify, restore, decode\nTry 'korvel-cli edid --help'.\n");
    const CommandResult help = cli({"edid", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--fix-checksum"), std::string::npos);
    EXPECT_EQ(readFile(existing), Bytes(10, 1));
}

}  // namespace
}  // namespace kjtest
