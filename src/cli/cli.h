// The command-line front end: one operation of one window per run. Standard
// output carries exactly the lines the window's log would show.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "common/frontend.h"
#include "link/bridge.h"

namespace kj::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Thrown by the option parser; main prints it with the tool's usage and exits 2.
struct UsageError {
    std::string message;
};

// The options after TOOL ACTION.
class Options {
public:
    explicit Options(std::vector<std::string> args) : args_(std::move(args)) {}
    // "--name VALUE"; the last one counts.
    std::optional<std::string> value(const std::string& name);
    std::vector<std::string> values(const std::string& name);
    bool flag(const std::string& name);
    // A required "--name N" within [min, max].
    long number(const std::string& name, long min, long max);
    // The first argument when it is not an option, taken off.
    std::optional<std::string> positional();
    // Fails on anything not taken by now.
    void finish() const;

private:
    std::vector<std::string> args_;
};

// The Frontend of a command: log lines to stdout, progress to stderr, files
// from --input/--output instead of dialogs, error boxes to stderr.
class CliFrontend : public Frontend {
public:
    std::optional<std::string> inputFile;
    std::optional<std::string> outputFile;

    void log(std::string_view line) override;
    void clearLog() override {}
    void setGaugeColour(Rgb) override {}
    void setGaugeProgress(int value, int maximum) override;
    std::optional<std::string> chooseFile(const FileDialogSpec& spec) override;
    void errorBox(std::string_view text) override;
    void operationStarted(std::string_view) override {}
    void operationEnded() override;

private:
    bool barShown_ = false;
};

struct Context {
    BridgeFactory bridges;
    CliFrontend& ui;
    // Set by Ctrl-C.
    std::atomic<bool>& interrupted;
};

// Checks an --output FILE: an existing file is replaced only with --force.
std::string outputPath(Options& options);
std::string inputPath(Options& options);

using ToolRun = int (*)(Context& context, const std::string& action, Options& options);

struct Tool {
    const char* name;
    ToolRun run;
    const char* usage;
};

int runTestConnect(Context&, const std::string& action, Options&);
int runEdid(Context&, const std::string& action, Options&);
int runKeyboard(Context&, const std::string& action, Options&);
int runKb90xx(Context&, const std::string& action, Options&);

}  // namespace kj::cli
