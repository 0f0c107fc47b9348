// The command line's side of every tool: its options, its front end (log lines
// to standard output, progress and questions to standard error), Ctrl-C, and
// the read and write actions that every image tool shares.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/frontend.h"
#include "link/bridge.h"
#include "operation/image_tool.h"

namespace kj::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// A command ended by a signal while no operation ran: 128 + the signal, as a shell reports it.
inline constexpr int kExitSignalBase = 128;

// Thrown by the option parser and the input checks; main prints it and exits 2.
struct UsageError {
    std::string message;
};

// The options after TOOL ACTION: "--name VALUE" or "--name=VALUE", flags, and
// positional arguments.
class Options {
public:
    explicit Options(std::vector<std::string> args);
    // The last one counts.
    std::optional<std::string> value(const std::string& name);
    std::vector<std::string> values(const std::string& name);
    bool flag(const std::string& name);
    // Whether it is there, and its value, leaving both for whoever takes them.
    bool has(const std::string& name) const;
    std::optional<std::string> peek(const std::string& name) const;
    // A required "--name N" within [min, max].
    long number(const std::string& name, long min, long max);
    // The first argument when it is not an option, taken off.
    std::optional<std::string> positional();
    // Fails on anything not taken by now.
    void finish() const;
    // What is not taken yet, in order.
    const std::vector<std::string>& remaining() const { return args_; }

private:
    std::vector<std::string> args_;
};

// A number within [min, max], or a usage error naming `what`.
long parseNumber(const std::string& what, const std::string& text, long min, long max);

// The front end of a command: log lines to stdout, progress to stderr (on a
// terminal, redrawn only when what it shows changes), files from the options
// instead of dialogs, error boxes to stderr.
class ConsoleFrontend : public Frontend {
public:
    std::optional<std::string> inputFile;
    std::optional<std::string> outputFile;
    // The option that allows a file of another size than the chip's, or a
    // blank one, as given; empty: not allowed.
    std::string anySize;
    std::string allowBlank;
    size_t imageBytes = 0;  // what a full gauge stands for, for the rate; 0: no rate
    std::string tool;       // the record's name for the lines
    std::string jobLabel;   // --job, already safe for a file name
    std::string job() const override { return jobLabel; }
    Language language = Language::English;  // the tool's, for its error boxes

    void log(std::string_view line) override;
    void clearLog() override {}
    void setGaugeColour(Rgb colour, int gauge = 0) override;
    void setGaugeProgress(int value, int maximum, int gauge = 0) override;
    std::optional<std::string> chooseFile(const FileDialogSpec& spec) override;
    void errorBox(std::string_view text) override;
    bool confirm(std::string_view question, Ask about) override;
    // The command line answers a question with several answers beforehand: `answer`, when set.
    std::optional<size_t> choose(std::string_view question, const std::vector<std::string>& answers) override;
    void show(const std::any& event) override {
        if (onEvent) onEvent(event);
    }
    // What a tool prints of its family's events; unset: nothing.
    std::function<void(const std::any&)> onEvent;
    std::optional<size_t> answer;
    void operationStarted(std::string_view) override;
    void operationEnded() override;
    void showVerdict(const Verdict& verdict) override;

private:
    void clearBar();
    bool barShown_ = false;
    int shownFill_ = -1;
    int shownPercent_ = -1;
    long shownTenths_ = -1;
    Rgb phase_ = kLime;
    std::chrono::steady_clock::time_point phaseStart_ = std::chrono::steady_clock::now();
};

// What Ctrl-C (and SIGTERM) does to the running operation.
enum class OnInterrupt {
    Abort,        // it ends at once, with the failure end byte
    Stop,         // the window's stop; a second Ctrl-C aborts
    RunToTheEnd,  // the window's stop does nothing here: say so once; a second Ctrl-C aborts
};

// Installs the handlers of SIGINT, SIGTERM and SIGHUP (without restarting
// interrupted calls), with no interrupt counted yet, and ignores SIGPIPE. While
// no operation is watched, any of them ends the command at once.
void installInterruptHandlers();
// The operation that Ctrl-C reaches until it is cleared with nullptr.
void watchInterrupts(Operation* operation, OnInterrupt policy);
bool interruptedOnce();

struct Context {
    BridgeFactory bridges;
    ConsoleFrontend& ui;
};

// The checks made before any link opens: an --output that may be written (an
// existing file, FIFO or device only with --force; a disk or a terminal never)
// and an --input that can be read.
std::string outputPath(Options& options);
struct Input {
    std::string path;
    uint64_t size = 0;
    std::optional<uint8_t> blank;  // the byte a blank file holds throughout
};
Input inputFile(Options& options);
// A --backup FILE is checked as an output (an existing one only with
// `force`), and is never the write's input, by whatever name.
void checkBackupPath(const std::string& path, bool force, const std::optional<std::string>& input);

// Runs an operation that has been started to its end; 0 when it succeeded.
int awaitEnd(Operation& operation, OnInterrupt policy = OnInterrupt::Abort);

// TOOL read --output FILE [--force] and TOOL write --input FILE of an image
// tool; a write refuses a file whose size is not the chip's without
// --any-size, and a blank one without --allow-blank. Until the first command
// that changes the chip Ctrl-C stops a write at once; from then on the first
// only warns and a second one abandons it. A read takes --read-twice (and
// `extended`: the chip's extra block too); a write --no-backup, --backup FILE
// and --no-verify.
int readImage(Context& context, ImageTool& tool, Options& options, OnInterrupt policy = OnInterrupt::Abort,
              bool extended = false);
int writeImage(Context& context, ImageTool& tool, Options& options);
// TOOL verify --input FILE: reads the chip and compares; writes nothing.
int verifyImage(Context& context, ImageTool& tool, Options& options);
// An erase, after a backup (--no-backup, --backup FILE).
int eraseChip(ImageTool& tool, Options& options, bool extended = false);
// "read", "verify", else "write".
int imageAction(Context& context, ImageTool& tool, const std::string& action, Options& options,
                OnInterrupt readPolicy = OnInterrupt::Abort);

using ToolRun = int (*)(Context& context, const std::string& action, Options& options);

struct Tool {
    std::string_view name{};
    std::string_view usage{};  // its actions, one per line
    ToolRun run = nullptr;
    const Family* family = nullptr;  // its place in the list; none: before the families
};

// Every registered tool: the ones without a family first, then in the families' places.
std::vector<const Tool*> tools();
const Tool* toolNamed(std::string_view name);

}  // namespace kj::cli
