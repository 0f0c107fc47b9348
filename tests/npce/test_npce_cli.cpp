// korvel-cli npce, the built program against korvel-progsim on a pseudo-terminal:
// a read, the write of what it read, the size gate, and a failed verification.
#include <gtest/gtest.h>

#include "npce_fixture.h"
#include "sim/npce_chip.h"
#include "support/cli_support.h"
#include "support/process.h"

namespace kjtest {
namespace {

class NpceCliProgram : public ::testing::Test {
protected:
    // A simulated NPCE programmer with the given fault flags.
    void serve(std::vector<std::string> flags) {
        flags.insert(flags.begin(), {KJ_PROGSIM, "--family", "NPCE"});
        sim_ = std::make_unique<Server>(flags);
        const std::string line = sim_->readLine();
        ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;
        port_ = line.substr(5);
    }
    CommandResult npce(std::vector<std::string> args) {
        args.insert(args.begin(), {KJ_CLI, "--port", port_, "npce"});
        return runCommand(args);
    }

    ScratchDir dir_;
    std::unique_ptr<Server> sim_;
    std::string port_;
    const std::string path_ = dir_.file("n.bin");
    // The programmer's own verify, then the read-back.
    Lines written(const Bytes& image) const {
        return {"Verify ...", "Nuvoton chip is programmed succesfully!", kStamp, "Read-back: reading the chip ...",
                doneLine("Read-back", image)};
    }
};

TEST_F(NpceCliProgram, ReadsTheFlashAndWritesItBackAFileOfAnotherSizeOnlyWhenForced) {
    serve({});
    CommandResult r = npce({"read", "--output", path_});
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes pattern = kjsim::NpceChip::patternImage();
    EXPECT_EQ(maskTimes(r.lines()), join({npceReadLines(path_), {imageLine("Read", pattern), "PASSED"}}));
    EXPECT_EQ(readFile(path_), pattern);

    r = npce({"write", "--input", path_, "--no-backup"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(maskTimes(r.lines()),
              join({{imageLine("File", pattern)}, npceWriteLines(path_), written(pattern), {"PASSED"}}));

    // Refused before the link opens unless forced.
    writeFile(path_, npceRandomImage(1000, 3));
    r = npce({"write", "--input", path_});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("holds 1000 bytes"), std::string::npos) << r.err;
    r = npce({"write", "--input", path_, "--any-size", "--no-backup"});
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes padded = readFile(path_);
    padded.resize(kNpceImage, 0xFF);
    EXPECT_EQ(maskTimes(r.lines()),
              join({{imageLine("File", readFile(path_))}, npceWriteLines(path_), written(padded), {"PASSED"}}));
}

TEST_F(NpceCliProgram, AFailedVerificationIsAFailure) {
    serve({"--npce-corrupt-byte", "70000"});
    writeFile(path_, npceRandomImage(kNpceImage, 2));
    CommandResult r = npce({"write", "--input", path_, "--no-backup"});
    EXPECT_EQ(r.status, 1) << r.err;
    // The programmer's verify says only that it is wrong; the read-back says where.
    const Lines lines = maskTimes(r.lines());
    const Lines verified = join({{imageLine("File", readFile(path_))},
                                 npceWriteLines(path_),
                                 {"Verify ...", "*** Data is written incorrectly ***", kStamp}});
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(std::min(lines.size(), verified.size()))),
              verified);
    EXPECT_EQ(lines.back(), "FAILED: the chip differs from the file at 0x11170; bytes that differ: 1");
}

}  // namespace
}  // namespace kjtest
