// korvel-cli keyboard scan: in process against a scripted programmer, and the
// built program against the pseudo-terminal simulator.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "console/console.h"
#include "keyboard_fixture.h"
#include "link/port_list.h"
#include "support/process.h"
#include "support/scratch.h"

using namespace kjtest;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> withLinkLines(std::vector<std::string> after) {
    auto lines = kKeyboardLinkLines;
    lines.insert(lines.end(), after.begin(), after.end());
    return lines;
}

const std::vector<std::string> kExampleRed = {"1-2 red", "1-5 red", "3-4 red"};
const std::vector<std::string> kExampleShort = {"1-2 short?", "1-5 short?", "3-4 short?"};
const std::vector<std::string> kExampleYellow = {"1-2 yellow", "1-5 yellow", "3-4 yellow"};

class KeyboardCli : public ::testing::Test {
protected:
    struct ScanRun {
        int status = -1;
        std::vector<std::string> out;
    };

    KeyboardCli() { kj::cli::installInterruptHandlers(); }
    ~KeyboardCli() override { std::signal(SIGINT, SIG_DFL); }

    ScanRun scan(std::vector<std::string> args) {
        kj::cli::Options options = kj::cli::actionArguments(*kj::cli::toolNamed("keyboard"), "scan", std::move(args));
        kj::cli::Context context{[this](std::string_view family) {
                                     families.emplace_back(family);
                                     return bench.bridge();
                                 },
                                 ui};
        ScanRun run;
        testing::internal::CaptureStdout();
        run.status = kj::cli::toolNamed("keyboard")->run(context, "scan", options);
        run.out = linesOf(testing::internal::GetCapturedStdout());
        return run;
    }

    KeyboardBench bench;
    kj::cli::ConsoleFrontend ui;
    std::vector<std::string> families;
};

TEST_F(KeyboardCli, PrintsTheLinkLinesThenEveryToggleUntilTheTimeIsUp) {
    bench.script({kNothing, kExampleReport, kExampleReport});

    const ScanRun run = scan({"--seconds", "1"});

    EXPECT_EQ(run.status, 0);
    auto expected = withLinkLines(kExampleRed);
    expected.insert(expected.end(), kExampleYellow.begin(), kExampleYellow.end());
    expected.push_back("Closed pairs: 1-2 1-5 3-4");
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(families, (std::vector<std::string>{"V41"}));
    // One request per clock tick after the first, the sound after each report, 'Q' at the end.
    EXPECT_TRUE(std::regex_match(bench.written(), std::regex("BuUIUIU*Q"))) << bench.written();
    EXPECT_FALSE(bench.slot->isOpen());
}

// The pairs of the first report are marked as shorts.
TEST_F(KeyboardCli, NoSoundAndCtrlCEndTheScanNormally) {
    bench.script({kExampleReport});
    std::thread ctrlC([&] {
        // After the first report has been shown, the second one has been asked for.
        waitFor([&] { return bench.chip().requests() >= 2; });
        std::raise(SIGINT);
    });

    const ScanRun run = scan({"--no-sound"});
    ctrlC.join();

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, withLinkLines({"1-2 short?", "1-5 short?", "3-4 short?",
                                      "Closed pairs: 1-2 short? 1-5 short? 3-4 short?"}));
    EXPECT_EQ(bench.chip().beeps(), 0u);
    EXPECT_TRUE(std::regex_match(bench.written(), std::regex("BuU+Q"))) << bench.written();
    EXPECT_FALSE(bench.slot->isOpen());
}

TEST_F(KeyboardCli, LostProgrammerFails) {
    bench.bench.programmer->faults.hangUpAtStep = 3;  // instead of the answer to the first 'U'
    bench.script({kExampleReport, kExampleReport});

    const ScanRun run = scan({"--seconds", "30"});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              withLinkLines({"1-2 short?", "1-5 short?", "3-4 short?", "Connection with the programmer is lost.",
                             "Closed pairs: 1-2 short? 1-5 short? 3-4 short?"}));
    EXPECT_FALSE(bench.slot->isOpen());
}

// A saved profile names the keys of the pairs, and the keys not pressed are
// listed at the end.
TEST_F(KeyboardCli, ProfileNamesKeysAndListsThoseNotPressed) {
    ScratchDir data;
    DataHome home(data.path());
    std::filesystem::create_directories(data.path() / "korvel-jig" / "keyboards");
    std::ofstream(data.path() / "korvel-jig" / "keyboards" / "Test_G1.txt") << "Esc=1-2\nF1=1-5\nQ=3-4\nW=7-9\nbad\n";
    bench.script({kNothing, {'>', 1, 2, '&'}, {'>', 3, 4, '&'}});

    const ScanRun run = scan({"--profile", "Test G1", "--seconds", "1"});

    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, withLinkLines({"Keyboard Test_G1: 4 keys; 1 bad line of its file skipped.", "Esc (1-2) red",
                                      "Q (3-4) red", "Closed pairs: Esc (1-2) Q (3-4)", "Keys not pressed: F1 W"}));
}

TEST_F(KeyboardCli, NoProgrammerFails) {
    kj::cli::Options options = kj::cli::actionArguments(*kj::cli::toolNamed("keyboard"), "scan", {"--seconds", "1"});
    kj::cli::Context context{[](std::string_view) { return std::make_unique<kjsim::SimBridge>(); }, ui};
    testing::internal::CaptureStdout();
    EXPECT_EQ(kj::cli::toolNamed("keyboard")->run(context, "scan", options), 1);
    EXPECT_EQ(linesOf(testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"VCOM port is not found on the machine!", std::string(kj::kNoPortFix)}));
}

TEST_F(KeyboardCli, UsageErrorsComeBeforeTheLink) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"scan", {"--seconds", "0"}}, {"scan", {"--seconds", "2s"}}, {"scan", {"--seconds"}},
        {"scan", {"--sound"}},        {"scan", {"extra"}},           {"scan", {"--profile", "No such model"}},
    };
    for (const auto& [action, args] : cases) {
        kj::cli::Context context{[this](std::string_view family) {
                                     families.emplace_back(family);
                                     return bench.bridge();
                                 },
                                 ui};
        const kj::cli::Tool& tool = *kj::cli::toolNamed("keyboard");
        EXPECT_THROW(
            {
                kj::cli::Options options = kj::cli::actionArguments(tool, action, args);
                tool.run(context, action, options);
            },
            kj::cli::UsageError)
            << action;
    }
    EXPECT_TRUE(families.empty());
    EXPECT_TRUE(bench.written().empty());
}

TEST(KeyboardCliProgram, ScanAgainstTheSimulatorPrintsToggles) {
    Server sim({KJ_PROGSIM});
    const std::string line = sim.readLine();
    ASSERT_EQ(line.rfind("PORT ", 0), 0u) << line;

    const auto run = runCommand({KJ_CLI, "--port", line.substr(5), "keyboard", "scan", "--seconds", "1"});

    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = run.lines();
    ASSERT_GT(lines.size(), kKeyboardLinkLines.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 8), kKeyboardLinkLines);
    EXPECT_EQ(lines[8], "1-2 red");  // the first report of the simulated keyboard
    const std::regex toggle(R"(([1-9]|[12][0-9]|3[0-1])-([2-9]|[12][0-9]|3[0-2]) (red|yellow))");
    for (size_t i = 8; i + 1 < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], toggle)) << lines[i];
    EXPECT_EQ(lines.back().rfind("Closed pairs: 1-2", 0), 0u) << lines.back();
}

}  // namespace
