// The built korvel-cli ite: what it refuses before the link opens, and its
// actions against korvel-progsim on a pty.
#include <gtest/gtest.h>

#include "ite_fixture.h"
#include "sim/ite_chip.h"
#include "support/cli_support.h"
#include "support/process.h"

namespace kjtest {
namespace {

std::string writeText(const ScratchDir& dir, const std::string& name, const std::string& text) {
    writeFile(dir.file(name), Bytes(text.begin(), text.end()));
    return dir.file(name);
}

const std::string kBoard =
    "Y KB_pins=24 PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 BUSY=9 STB=10 AFD=11 "
    "INIT=12 SLIN=13 KSI4=14 KSI5=15\n";

// A link tried on this port would log its own lines: none may show.
TEST(IteCliProgram, RefusesWhatItCannotDoBeforeTheLinkOpens) {
    ScratchDir dir;
    const auto cli = [](std::vector<std::string> args) {
        args.insert(args.begin(), {KJ_CLI, "--port", "/nonexistent/port", "ite"});
        return runCommand(args);
    };
    const std::string twoLines = writeText(dir, "two.txt", "A PD0=1\nB PD0=2\n");
    const std::string shortImage = writeText(dir, "short.bin", "0123456789");
    const std::vector<std::vector<std::string>> usage = {
        {"apply"},
        {"apply", "--pins", "PD0=1", "--board", "1"},
        {"apply", "--pins", "PD0=33"},
        {"apply", "--pins", "PD0=1,,PD1=2"},
        {"apply", "--base", twoLines, "--board", "3"},
        {"check", "--force"},
        {"write", "--input", shortImage},
    };
    for (const auto& args : usage) {
        const auto run = cli(args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_EQ(run.out, "") << args.back();
    }
    // The base's own lines, as the window logs them.
    const std::string lines = writeText(dir, "base.txt", "X PD0=1 PD1=2\n");
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"apply", "--base", lines, "--board", "1"}, "Не найдена информация по номеру ножки для PD2 !"},
        {{"apply", "--base", dir.file("none.txt"), "--board", "1"},
         "Файл [none.txt] в папке " + dir.path().string() + " со значениями не найден ! Прочтите инструкцию."},
    };
    for (const auto& [args, line] : refused) {
        const auto run = cli(args);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.lines(), Lines{line});
    }
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

    const auto reversed = cli({"apply", "--base=" + writeText(dir, "base.txt", kBoard), "--board", "1", "--reversed"});
    ASSERT_EQ(reversed.status, 0) << reversed.err;
    EXPECT_NE(reversed.err.find("routing: PD0=24 PD1=23 "), std::string::npos) << reversed.err;
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
    writeFile(dir.file("changed.bin"), image);
    const auto write = cli({"write", "--input", dir.file("changed.bin")});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(tail(write.lines(), 2), (Lines{doneLine("Проверка", image, ": готово, ", " байт"), "PASSED"}));
    ASSERT_EQ(cli({"read", "--output", dir.file("second.bin")}).status, 0);
    EXPECT_EQ(readFile(dir.file("second.bin")), image);
}

}  // namespace
}  // namespace kjtest
