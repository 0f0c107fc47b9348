#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>

#include "common/text.h"
#include "console/console.h"
#include "console/console_win.h"

namespace kj::cli {

namespace {

// Every wait of an operation is bounded; this only keeps the command from
// outliving a worker that could not end.
constexpr std::chrono::hours kOperationBound{24};

std::atomic<Operation*> g_operation{nullptr};
std::atomic<OnInterrupt> g_policy{OnInterrupt::Abort};
std::atomic<int> g_interrupts{0};

constexpr char kRunsToTheEnd[] = "\nkorvel-cli: the write runs to its end; press Ctrl-C again to abandon it\n";

// Only lock-free atomic loads and stores, write(2) and _exit(2) here.
extern "C" void onInterrupt(int signal) {
    const int count = ++g_interrupts;
    Operation* operation = g_operation.load();
    // Nothing reaches the programmer now: the command ends as a shell expects.
    if (!operation) ::_exit(kExitSignalBase + signal);
    OnInterrupt policy = count == 1 ? g_policy.load() : OnInterrupt::Abort;
    // Until the first command that changes the chip, nothing is lost by stopping at once.
    if (policy == OnInterrupt::RunToTheEnd && !operation->chipTouched()) policy = OnInterrupt::Abort;
    switch (policy) {
        case OnInterrupt::Abort: operation->abort(); break;
        case OnInterrupt::Stop: operation->requestStop(); break;
        case OnInterrupt::RunToTheEnd:
            [[maybe_unused]] auto n = ::write(STDERR_FILENO, kRunsToTheEnd, sizeof kRunsToTheEnd - 1);
            break;
    }
}

}  // namespace

void installInterruptHandlers() {
    g_interrupts = 0;
#ifdef _WIN32
    installConsoleHandler(onInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked call returns at once
    // A closed terminal or a dropped session ends a command as SIGTERM does.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    // A reader that went away (| head) must not end a write half-way: the lines are dropped instead.
    ::signal(SIGPIPE, SIG_IGN);
#endif
}

// A Ctrl-C before an operation is watched has ended the command already; one
// that came while it was watched has had its effect and is not taken again.
void watchInterrupts(Operation* operation, OnInterrupt policy) {
    g_policy = policy;
    g_operation = operation;
}

bool interruptedOnce() { return g_interrupts.load() > 0; }

int awaitEnd(Operation& operation, OnInterrupt policy) {
    watchInterrupts(&operation, policy);
    operation.waitIdle(kOperationBound);
    watchInterrupts(nullptr, policy);
    return operation.lastSucceeded() ? kExitSuccess : kExitFailure;
}

// A command is explicit: it asks nothing, and the net is on unless it says otherwise.
void takeBackupOptions(ImageTool& tool, Options& options, const std::optional<std::string>& input) {
    const bool none = options.flag("--no-backup");
    const auto file = options.value("--backup");
    if (none && file) throw UsageError{"--backup FILE and --no-backup exclude each other"};
    if (file && file->empty()) throw UsageError{"--backup needs a FILE"};
    if (file) checkBackupPath(*file, options.has("--force"), input);
    tool.safety.on = true;
    tool.safety.backup = !none;
    tool.safety.backupFile = file.value_or("");
}

std::string gateOption(bool given, std::string_view name, bool force) {
    if (given) return std::string(name);
    if (!force) return {};
    std::cerr << "korvel-cli: note: --force here stands for " << name
              << "; --force will only mean replacing an output in the next release\n";
    return "--force";
}

namespace {

// --input FILE, checked before the link opens.
Input inputOption(Options& options) {
    const auto path = options.value("--input");
    if (!path || path->empty()) throw UsageError{"--input FILE is required"};
    return inputFile(*path);
}

}  // namespace

int readImage(Context& context, ImageTool& tool, Options& options, OnInterrupt policy, bool extended) {
    tool.safety.on = true;
    tool.safety.readTwice = options.flag("--read-twice");
    context.ui.outputFile = outputPath(options);
    context.ui.imageBytes = tool.family().imageSize;
    options.finish();
    watchInterrupts(&tool.operation(), policy);
    tool.startRead(extended);
    return awaitEnd(tool.operation(), policy);
}

int writeImage(Context& context, ImageTool& tool, Options& options) {
    const Input input = inputOption(options);
    takeBackupOptions(tool, options, input.path);
    tool.safety.verify = !options.flag("--no-verify");
    const bool force = options.flag("--force");
    const bool anySize = options.flag("--any-size");
    const bool allowBlank = options.flag("--allow-blank");
    const Family& family = tool.family();
    if (!isImageSize(family, input.size)) {
        context.ui.anySize = gateOption(anySize, "--any-size", force);
        if (context.ui.anySize.empty()) {
            throw UsageError{input.path + " holds " + std::to_string(input.size) + " bytes; the " +
                             std::string(family.name) + " image is " + std::to_string(family.imageSize) +
                             "; add --any-size to write it anyway"};
        }
    }
    if (input.blank) {
        context.ui.allowBlank = gateOption(allowBlank, "--allow-blank", force);
        if (context.ui.allowBlank.empty()) {
            throw UsageError{input.path + " is blank: every byte is " + hexUpper(*input.blank, 2) +
                             "h; add --allow-blank to write it anyway"};
        }
    }
    options.finish();
    context.ui.inputFile = input.path;
    context.ui.imageBytes = family.imageSize;
    // A flash half written is worse than one written to its end, in every family.
    watchInterrupts(&tool.operation(), OnInterrupt::RunToTheEnd);
    tool.startWrite();
    return awaitEnd(tool.operation(), OnInterrupt::RunToTheEnd);
}

int verifyImage(Context& context, ImageTool& tool, Options& options) {
    tool.safety.on = true;
    const Input input = inputOption(options);
    options.finish();
    context.ui.inputFile = input.path;
    context.ui.imageBytes = tool.family().imageSize;
    watchInterrupts(&tool.operation(), OnInterrupt::Abort);
    tool.startVerify();
    return awaitEnd(tool.operation(), OnInterrupt::Abort);
}

int eraseChip(ImageTool& tool, Options& options, bool extended) {
    takeBackupOptions(tool, options, std::nullopt);
    options.flag("--force");
    options.finish();
    watchInterrupts(&tool.operation(), OnInterrupt::RunToTheEnd);
    tool.startErase(extended);
    return awaitEnd(tool.operation(), OnInterrupt::RunToTheEnd);
}

// A backup is the chip's image: a file of another size is none, and a blank
// one (a clip without contact reads so) goes back only when asked for.
int restoreImage(Context& context, ImageTool& tool, Options& options) {
    const auto backup = options.value("--backup");
    const bool allowBlank = options.flag("--allow-blank");
    options.finish();
    const Family& family = tool.family();
    if (backup) {
        const Input input = inputFile(*backup);
        if (!isImageSize(family, input.size)) {
            throw UsageError{input.path + " holds " + std::to_string(input.size) + " bytes; the " +
                             std::string(family.name) + " image is " + std::to_string(family.imageSize) +
                             ": it is no backup of this chip"};
        }
        if (input.blank && !allowBlank) {
            throw UsageError{input.path + " is blank: every byte is " + hexUpper(*input.blank, 2) +
                             "h; add --allow-blank to restore it anyway"};
        }
    }
    if (allowBlank) context.ui.allowBlank = "--allow-blank";
    tool.safety.on = true;
    context.ui.imageBytes = family.imageSize;
    watchInterrupts(&tool.operation(), OnInterrupt::RunToTheEnd);
    tool.startRestore(backup);
    return awaitEnd(tool.operation(), OnInterrupt::RunToTheEnd);
}

int imageAction(Context& context, ImageTool& tool, const std::string& action, Options& options,
                OnInterrupt readPolicy) {
    if (action == "read") return readImage(context, tool, options, readPolicy);
    if (action == "verify") return verifyImage(context, tool, options);
    if (action == "restore") return restoreImage(context, tool, options);
    return writeImage(context, tool, options);
}

}  // namespace kj::cli
