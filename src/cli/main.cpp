// korvel-cli: one operation of one window, without the windows.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <iterator>
#include <numeric>
#include <sstream>

#include "common/backup_name.h"
#include "common/journal.h"
#include "common/private_files.h"
#include "console/console.h"
#include "link/bridge_choice.h"
#include "link/wire_trace.h"
#include "operation/family.h"
#include "sim/simulated_bridges.h"

namespace kj::cli {

namespace {

void printUsage(std::FILE* to) {
    std::fputs(
        "usage: korvel-cli [--port PATH]... [--simulate] [--trace FILE] TOOL ACTION [options]\n"
        "       korvel-cli TOOL --help | --help | --version\n"
        "  --port PATH   use this serial port instead of the FTDI ports found (may be repeated)\n"
        "  --simulate    work with the built-in simulated programmer\n"
        "  --trace FILE  append every byte to and from the programmer, and the log lines, to FILE\n"
        "  --job TEXT    the board or job worked on: in the record, the backups' names and the history\n"
        "                (or set KORVEL_TRACE=FILE)\n"
        "  --version     print the version and exit\n"
        "Options take their value as --name VALUE or --name=VALUE.\n"
        "tools:\n",
        to);
    for (const Tool* tool : tools())
        std::fprintf(to, "  %.*s\n", static_cast<int>(tool->name.size()), tool->name.data());
    std::fputs(
        "Log lines go to standard output, progress and errors to standard error.\n"
        "Before a write or an erase the chip is backed up into <data folder>/backups/TOOL/;\n"
        "every operation's lines are kept in <data folder>/logs/YYYY-MM-DD.log. The data\n"
        "folder is $XDG_DATA_HOME/korvel-jig (~/.local/share/korvel-jig), on Windows\n"
        "%APPDATA%\\korvel-jig.\n"
        "Exit status: 0 success, 1 failure, 2 usage error.\n",
        to);
}

void printToolUsage(const Tool& tool, std::FILE* to) {
    std::fprintf(to, "usage:\n");
    std::string usage(tool.usage);
    size_t at = 0;
    for (size_t end; (end = usage.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = usage.substr(at, end - at);
        std::fprintf(to, "  %s%s\n", line.starts_with(" ") ? "" : "korvel-cli ", line.c_str());
    }
}

// A usage line's second word names an action when it is a lower-case word:
// "history [--job TEXT]" and "backups [TOOL]" have none.
bool isActionWord(const std::string& word) {
    return !word.empty() && std::islower(static_cast<unsigned char>(word[0]));
}

// The second word of each usage line that does not start with a blank, where it is an action.
std::vector<std::string> actionsOf(const Tool& tool) {
    std::vector<std::string> actions;
    std::string usage(tool.usage);
    size_t at = 0;
    for (size_t end; (end = usage.find('\n', at)) != std::string::npos; at = end + 1) {
        if (usage[at] == ' ') continue;
        const size_t first = usage.find(' ', at);
        const size_t second = usage.find_first_of(" \n", first + 1);
        if (first >= end) continue;
        std::string word = usage.substr(first + 1, std::min(second, end) - first - 1);
        if (isActionWord(word)) actions.push_back(std::move(word));
    }
    return actions;
}

// The options of an action's usage lines ("--output" in "kb90xx read --output
// FILE [--force]"), each with whether a value follows it (an upper-case word).
std::vector<std::pair<std::string, bool>> optionsOf(const Tool& tool, const std::string& action) {
    std::vector<std::pair<std::string, bool>> options;
    std::string usage(tool.usage);
    size_t at = 0;
    for (size_t end; (end = usage.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string line = usage.substr(at, end - at);
        std::replace_if(
            line.begin(), line.end(), [](char c) { return std::strchr("[]()|", c) != nullptr; }, ' ');
        std::istringstream words(line);
        std::vector<std::string> word{std::istream_iterator<std::string>(words), {}};
        if (line.starts_with(" ") || word.empty()) continue;
        const size_t first = word.size() > 1 && isActionWord(word[1]) ? 2 : 1;
        if ((first == 2 ? word[1] : std::string()) != action) continue;
        for (size_t i = first; i < word.size(); ++i) {
            if (!word[i].starts_with("--")) continue;
            const bool takesValue = i + 1 < word.size() && std::isupper(static_cast<unsigned char>(word[i + 1][0]));
            options.emplace_back(word[i], takesValue);
        }
    }
    return options;
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string didYouMean(std::string_view word, const std::vector<std::string>& candidates) {
    constexpr size_t kClose = 2;
    for (const auto& candidate : candidates) {
        if (editDistance(word, candidate) <= kClose) return "; did you mean \"" + candidate + "\"?";
    }
    return {};
}

const Tool& findTool(const std::string& name) {
    std::vector<std::string> names;
    for (const Tool* tool : tools()) {
        if (name == tool->name) return *tool;
        names.emplace_back(tool->name);
    }
    throw UsageError{"unknown tool \"" + name + "\"" + didYouMean(name, names)};
}

// A tool without actions leaves its arguments to itself.
std::string checkedAction(const Tool& tool, Options& options) {
    const auto actions = actionsOf(tool);
    if (actions.empty()) return {};
    const auto action = options.positional();
    const std::string name(tool.name);
    if (!action)
        throw UsageError{name + " needs an action: " + [&] {
            std::string list;
            for (const auto& a : actions) list += (list.empty() ? "" : ", ") + a;
            return list;
        }()};
    if (std::find(actions.begin(), actions.end(), *action) == actions.end()) {
        throw UsageError{"unknown " + name + " action \"" + *action + "\"" + didYouMean(*action, actions)};
    }
    return *action;
}

// An option the action does not know is named before any check that needs
// another one could blame its absence.
void refuseUnknownOptions(const Tool& tool, const std::string& action, const Options& options) {
    const auto known = optionsOf(tool, action);
    std::vector<std::string> names;
    for (const auto& option : known) names.push_back(option.first);
    const auto& args = options.remaining();
    for (size_t i = 0; i < args.size(); ++i) {
        if (!args[i].starts_with("--")) continue;
        const auto it = std::find_if(known.begin(), known.end(), [&](const auto& o) { return o.first == args[i]; });
        if (it == known.end()) throw UsageError{"unknown option \"" + args[i] + "\"" + didYouMean(args[i], names)};
        if (it->second) ++i;  // its value, whatever it looks like
    }
}

std::string g_hint = "korvel-cli --help";

// What the record says was asked for.
std::string commandLineOf(const Options& options) {
    std::string text;
    for (const auto& arg : options.remaining()) text += " " + arg;
    return text;
}

int run(std::vector<std::string> args) {
    Options options(std::move(args));
    BridgeChoice choice;
    choice.simulate = options.flag("--simulate");
    choice.ports = options.values("--port");
    const auto tracePath = options.value("--trace");
    const auto job = options.value("--job");
    if (job && safeLabel(*job).empty()) throw UsageError{"--job needs a TEXT"};
    const auto toolName = options.positional();
    if (!toolName) {
        if (options.flag("--version")) {
            std::puts("korvel-cli 4.9");
            return kExitSuccess;
        }
        if (options.flag("--help") || options.flag("-h")) {
            printUsage(stdout);
            return kExitSuccess;
        }
        throw UsageError{"no tool given"};
    }
    const Tool& tool = findTool(*toolName);
    g_hint = "korvel-cli " + std::string(tool.name) + " --help";
    if (options.flag("--help") || options.flag("-h")) {
        printToolUsage(tool, stdout);
        return kExitSuccess;
    }
    const std::string action = checkedAction(tool, options);
    refuseUnknownOptions(tool, action, options);
    if (std::string error; !trace::startFromOptions(tracePath.value_or(""), error))
        throw UsageError{"--trace: " + error};
    ConsoleFrontend ui;
    ui.tool = tool.name;
    ui.jobLabel = safeLabel(job.value_or(""));
    ui.language = tool.family ? tool.family->language : Language::English;
    const auto tightened = tightenDataFolder();
    journal::start();
    if (tightened) {
        std::cerr << "korvel-cli: " << *tightened << '\n';
        journal::line(ui.tool, ui.jobLabel, *tightened);
    }
    if (const auto problem = journal::line(
            ui.tool, ui.jobLabel, "korvel-cli " + std::string(tool.name) + " " + action + commandLineOf(options)))
        std::cerr << "korvel-cli: warning: " << *problem << '\n';
    Context context{trace::traced(choice.simulate ? kjsim::simulatedBridges() : portBridges(choice.ports)), ui};
    installInterruptHandlers();
    return tool.run(context, action, options);
}

}  // namespace
}  // namespace kj::cli

int main(int argc, char** argv) {
    using namespace kj::cli;
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "korvel-cli: " << e.message << "\nTry '" << g_hint << "'.\n";
        return kExitUsage;
    }
}
