// korvel-jig's command line, read before the toolkit starts: help, version and
// mistakes need no display.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/process.h"

namespace {

using kjtest::runCommand;

class JigOptions : public ::testing::Test {
protected:
    // As in a terminal without a desktop: a toolkit started here would abort.
    void SetUp() override {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
    }
};

TEST_F(JigOptions, HelpAndVersionNeedNoDisplay) {
    const auto help = runCommand({KJ_JIG, "--help"});
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(
        help.out.rfind("Usage: korvel-jig [--simulate[=fresh]] [--port PATH]... [--trace FILE] [--job TEXT]\n", 0), 0u)
        << help.out;
    EXPECT_NE(help.out.find("--version"), std::string::npos);
    EXPECT_EQ(help.err, "");

    const auto shortHelp = runCommand({KJ_JIG, "--simulate", "-h"});
    EXPECT_EQ(shortHelp.status, 0);
    EXPECT_EQ(shortHelp.out, help.out);

    const auto version = runCommand({KJ_JIG, "--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "korvel-jig 4.9\n");
}

TEST_F(JigOptions, MistakesAreNamedWithExitTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{KJ_JIG, "--simulat"}, "korvel-jig: unknown option \"--simulat\"; did you mean \"--simulate\"?\n"},
        {{KJ_JIG, "--simulate", "extra"}, "korvel-jig: unexpected argument: extra\n"},
        {{KJ_JIG, "--port"}, "korvel-jig: --port needs a PATH\n"},
    };
    for (const auto& [args, first] : cases) {
        const auto run = runCommand(args);
        EXPECT_EQ(run.status, 2) << args.back();
        EXPECT_EQ(run.out, "") << args.back();
        EXPECT_EQ(run.err.rfind(first + "Usage: korvel-jig", 0), 0u) << run.err;
    }
}

}  // namespace
