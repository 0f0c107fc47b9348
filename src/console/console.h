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

#include "common/command_line.h"
#include "common/frontend.h"
#include "link/bridge.h"
#include "operation/family.h"
#include "operation/image_tool.h"

namespace kj::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// A command ended by a signal while no operation ran: 128 + the signal, as a shell reports it.
inline constexpr int kExitSignalBase = 128;

// The options after TOOL ACTION, as the grammar read them; a usage error is
// said and ends the command with kExitUsage.
using Options = Arguments;
using kj::UsageError;

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
// and an image file that can be read (--input's, or restore's --backup).
std::string outputPath(Options& options);
struct Input {
    std::string path;
    uint64_t size = 0;
    std::optional<uint8_t> blank;  // the byte a blank file holds throughout
};
Input inputFile(const std::string& path);
// A --backup FILE is checked as an output (an existing one only with
// `force`), and is never the write's input, by whatever name.
void checkBackupPath(const std::string& path, bool force, const std::optional<std::string>& input);
// The option that lets a file through a gate of a write (`name`) when it was
// given; else --force, which did so before, with a note on stderr; else nothing.
std::string gateOption(bool given, std::string_view name, bool force);

// Runs an operation that has been started to its end; 0 when it succeeded.
int awaitEnd(Operation& operation, OnInterrupt policy = OnInterrupt::Abort);

// The actions every image tool shares (their options in image_actions.h). A
// write refuses a file whose size is not the chip's without --any-size, and
// a blank one without --allow-blank. Until the first command that changes
// the chip Ctrl-C stops a write, an erase or a restore at once; from then on
// the first only warns and a second one abandons it. `extended`: the chip's
// extra block too.
int readImage(Context& context, ImageTool& tool, Options& options, OnInterrupt policy = OnInterrupt::Abort,
              bool extended = false);
int writeImage(Context& context, ImageTool& tool, Options& options);
// Reads the chip and compares; writes nothing.
int verifyImage(Context& context, ImageTool& tool, Options& options);
// An erase, after a backup.
int eraseChip(ImageTool& tool, Options& options, bool extended = false);
// A backup written back through the whole net: --backup FILE, or the one the
// history says the board came in with.
int restoreImage(Context& context, ImageTool& tool, Options& options);
// read, verify, restore, else write.
int imageAction(Context& context, ImageTool& tool, const std::string& action, Options& options,
                OnInterrupt readPolicy = OnInterrupt::Abort);

// One action of a tool: its word, the options it takes (those every tool's
// action of that name takes, then the tool's own), the words after them, and
// what it does. A tool whose one action has no name takes no action word.
struct Action {
    std::string_view name{};
    OptionList options{};
    OptionList own{};
    std::string_view words{};  // as its synopsis names them: "FILE|-"
    std::string_view help{};   // the lines under its synopsis

    // This action with a tool's own options, and its own help when given.
    constexpr Action with(OptionList extra, std::string_view text = {}) const {
        Action action = *this;
        action.own = extra;
        if (!text.empty()) action.help = text;
        return action;
    }
};

using ToolRun = int (*)(Context& context, const std::string& action, Options& options);

struct Tool {
    const Family* family = nullptr;  // what it works on: its name and its place in the list
    std::string_view ownName{};      // a tool of no family: its name; it comes before the families
    std::span<const Action> actions{};
    ToolRun run = nullptr;

    std::string_view name() const { return family ? family->name : ownName; }
};

// Every registered tool: the ones without a family first, then in the families' places.
std::vector<const Tool*> tools();
const Tool* toolNamed(std::string_view name);
const Action* actionNamed(const Tool& tool, std::string_view name);

// The options an action takes: the shared ones, then the tool's own.
std::vector<const Option*> actionOptions(const Action& action);
// What follows TOOL ACTION, read as that action's options; a usage error names
// one it does not take, or a required one that is missing.
Arguments actionArguments(const Tool& tool, std::string_view action, std::vector<std::string> args);
// "korvel-cli TOOL ACTION OPTIONS", then what it does and what each option does.
std::string toolUsage(const Tool& tool);

}  // namespace kj::cli
