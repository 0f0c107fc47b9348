// korvel-cli ite: what is refused before the link opens, a base line that
// cannot be used, and the built program against korvel-progsim on a pty.
#include <gtest/gtest.h>

#include <sstream>

#include "console/console.h"
#include "families.h"
#include "ite_fixture.h"
#include "sim/sim_bridge.h"
#include "support/process.h"

namespace kjtest {
namespace {

class IteCli : public ::testing::Test {
protected:
    IteCli() : bench_(kjsim::makeBench(iteBench())), slot_(kjsim::SimSlot::programmer(bench_.programmer)) {}

    // The exit status (2 for a usage error) and standard output.
    std::pair<int, Lines> run(const std::string& action, std::vector<std::string> args) {
        kj::cli::Options options(std::move(args));
        kj::cli::Context context{[this](std::string_view family) -> std::unique_ptr<kj::Bridge> {
                                     families_.emplace_back(family);
                                     return std::make_unique<kjsim::SimBridge>(std::vector{slot_});
                                 },
                                 ui_};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        int status = kj::cli::kExitUsage;
        try {
            status = kj::ite::kCliTool.run(context, action, options);
        } catch (const kj::cli::UsageError&) {
        }
        std::istringstream out(testing::internal::GetCapturedStdout());
        testing::internal::GetCapturedStderr();
        Lines lines;
        for (std::string line; std::getline(out, line);) lines.push_back(line);
        return {status, maskTimes(lines)};
    }
    std::string base(const std::string& text) {
        const std::string path = dir_.file("base.txt");
        writeFile(path, Bytes(text.begin(), text.end()));
        return path;
    }

    ScratchDir dir_;
    kjsim::Bench bench_;
    std::shared_ptr<kjsim::SimSlot> slot_;
    kj::cli::ConsoleFrontend ui_;
    std::vector<std::string> families_;
};

TEST_F(IteCli, RefusesWhatItCannotDoBeforeTheLinkOpens) {
    const std::string twoLines = base("A PD0=1\nB PD0=2\n");
    const std::string shortImage = dir_.file("short.bin");
    writeFile(shortImage, Bytes(10, 0));
    const std::vector<std::pair<std::string, std::vector<std::string>>> usage = {
        {"apply", {}},
        {"apply", {"--pins", "PD0=1", "--board", "1"}},
        {"apply", {"--pins", "PD0=33"}},
        {"apply", {"--pins", "PD0=1,,PD1=2"}},
        {"apply", {"--pins", "PD0=1", "--reversed"}},
        {"apply", {"--base", twoLines, "--board", "3"}},
        {"apply", {"--base", twoLines, "--board", "x"}},
        {"check", {"--force"}},
        {"write", {"--input", shortImage}},
        {"read", {}},
    };
    for (const auto& [action, args] : usage) EXPECT_EQ(run(action, args).first, 2) << action << " " << args.size();
    // The base's own lines, as the window logs them; nothing reaches the programmer.
    const std::string lines = base("X PD0=1 PD1=2\nY KB_pins=40 PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 "
                                   "BUSY=9 STB=10 AFD=11 INIT=12 SLIN=13 KSI4=14 KSI5=15\n");
    EXPECT_EQ(run("apply", {"--base", lines, "--board", "1"}),
              (std::pair<int, Lines>{1, {"Не найдена информация по номеру ножки для PD2 !"}}));
    EXPECT_EQ(run("apply", {"--base", lines, "--board", "2", "--reversed"}),
              (std::pair<int, Lines>{1, {"Неверное количество контактов разьема клавиатуры (23 < допустимо < 33)!"}}));
    EXPECT_EQ(run("apply", {"--base", dir_.file("none.txt"), "--board", "1"}),
              (std::pair<int, Lines>{1, {"Файл [MB connection IT85XX.txt] в корне диска C: со значениями не найден ! "
                                         "Прочтите инструкцию."}}));
    EXPECT_TRUE(slot_->written().empty());
}

TEST_F(IteCli, AppliesAReversedBoardAndChecksTheController) {
    const std::string lines = base("Y KB_pins=24 PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 BUSY=9 STB=10 "
                                   "AFD=11 INIT=12 SLIN=13 KSI4=14 KSI5=15\n");
    const auto [status, out] = run("apply", {"--base=" + lines, "--board", "1", "--reversed"});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.back(), "Настройки все отправлены.");
    EXPECT_EQ(bench_.ite->routing().at("d0"), 24);
    EXPECT_EQ(bench_.ite->routing().at("K5"), 10);
    EXPECT_EQ(run("check", {}).first, 0);
    bench_.ite->noController = true;
    EXPECT_EQ(run("check", {}).first, 1);
    EXPECT_EQ(families_, (Lines{"ITE", "ITE", "ITE"}));
}

TEST(IteCliProgram, ApplyCheckReadAndWriteThroughTheSimulator) {
    ScratchDir dir;
    Server sim({KJ_PROGSIM, "--family", "ITE"});
    const std::string line = sim.readLine();
    ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;
    const std::string port = line.substr(5);
    const auto cli = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {KJ_CLI, "--port", port, "ite"});
        return runCommand(args);
    };

    const auto apply = cli({"apply", "--pins", "PD0=1,PD1=2"});
    ASSERT_EQ(apply.status, 0) << apply.err;
    EXPECT_EQ(apply.lines().back(), "Настройки все отправлены.");
    const auto check = cli({"check"});
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.lines().back(), "Найден ID мульта -> 8512 ревизия -> 03");

    const std::string first = dir.file("first.bin");
    ASSERT_EQ(cli({"read", "--output", first}).status, 0);
    EXPECT_EQ(readFile(first), kjsim::IteChip::patternImage());
    // Sparse, so that the write stays short: a byte in each 4 KiB, each after a skipped run.
    Bytes image(kIteImage, 0xFF);
    for (size_t i = 5; i < image.size(); i += 4096) image[i] = static_cast<uint8_t>(i >> 12);
    const std::string changed = dir.file("changed.bin");
    writeFile(changed, image);
    const auto write = cli({"write", "--input", changed});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(write.lines().back().rfind("Текущее время  ", 0), 0u);
    const std::string second = dir.file("second.bin");
    ASSERT_EQ(cli({"read", "--output", second}).status, 0);
    EXPECT_EQ(readFile(second), image);
}

}  // namespace
}  // namespace kjtest
