// korvel-cli npce, the built program against korvel-progsim on a pseudo-terminal:
// a read and the write of what it read, a failed verification, and the size gate.
#include <gtest/gtest.h>

#include "npce_fixture.h"
#include "support/process.h"

namespace kjtest {
namespace {

class NpceCliProgram : public ::testing::Test {
protected:
    // A simulated NPCE programmer with the given fault flags; its port.
    std::string serve(std::vector<std::string> flags) {
        std::vector<std::string> args{KJ_PROGSIM, "--family", "NPCE"};
        args.insert(args.end(), flags.begin(), flags.end());
        sim_ = std::make_unique<Server>(args);
        const std::string line = sim_->readLine();
        EXPECT_EQ(line.rfind("PORT ", 0), 0u) << line;
        return line.size() > 5 ? line.substr(5) : "";
    }
    CommandResult cli(const std::string& port, std::vector<std::string> args) {
        args.insert(args.begin(), {KJ_CLI, "--port", port, "npce"});
        CommandResult r = runCommand(args);
        r.out = [&] {
            std::string masked;
            for (const auto& line : maskTimes(r.lines())) masked += line + "\n";
            return masked;
        }();
        return r;
    }

    ScratchDir dir_;
    std::unique_ptr<Server> sim_;
};

std::string text(const Lines& lines) {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
}

TEST_F(NpceCliProgram, ReadsTheFlashAndWritesItBack) {
    const std::string port = serve({});
    const std::string path = dir_.file("n.bin");
    CommandResult r = cli(port, {"read", "--output", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, text(npceReadLines(path)));
    EXPECT_EQ(readFile(path), kjsim::NpceChip::patternImage());

    r = cli(port, {"write", "--input", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, text(join({npceWriteLines(path),
                                {"Verify ...", "Nuvoton chip is programmed succesfully!", kStamp}})));
}

TEST_F(NpceCliProgram, AFailedVerificationAndAnOddSizeAreFailures) {
    const std::string port = serve({"--npce-corrupt-byte", "70000"});
    const std::string path = dir_.file("n.bin");
    writeFile(path, npceRandomImage(kNpceImage, 2));
    CommandResult r = cli(port, {"write", "--input", path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, text(join({npceWriteLines(path), {"Verify ...", "*** Data is written incorrectly ***", kStamp}})));

    // Refused before the link opens unless forced.
    writeFile(path, npceRandomImage(1000, 3));
    r = cli(port, {"write", "--input", path});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("holds 1000 bytes"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kjtest
