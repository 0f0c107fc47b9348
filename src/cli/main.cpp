// korvel-cli: one operation of one window, without the windows.
#include <cstdio>
#include <iostream>

#include "common/journal.h"
#include "common/private_files.h"
#include "console/console.h"
#include "link/bridge_choice.h"
#include "link/program_options.h"
#include "link/wire_trace.h"
#include "sim/simulated_bridges.h"

namespace kj::cli {

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: korvel-cli %s TOOL ACTION [options]\n"
                 "       korvel-cli TOOL --help | --help | --version\n",
                 synopsis(kProgramOptions).c_str());
    std::fputs(optionLines(kProgramOptions).c_str(), to);
    std::fputs(
        "Options take their value as --name VALUE or --name=VALUE, and may come anywhere.\n"
        "-r FILE, -w FILE and -v FILE stand for \"read --output FILE\", \"write --input FILE\"\n"
        "and \"verify --input FILE\": korvel-cli TOOL -r FILE.\n"
        "tools (korvel-cli TOOL --help names their actions):\n",
        to);
    for (const Tool* tool : tools()) {
        const std::string name(tool->name());
        std::fprintf(to, "  %s\n", name.c_str());
    }
    std::fputs(
        "Log lines go to standard output, progress and errors to standard error.\n"
        "Before a write or an erase the chip is backed up into <data folder>/backups/TOOL/;\n"
        "every operation's lines are kept in <data folder>/logs/YYYY-MM-DD.log. The data\n"
        "folder is $XDG_DATA_HOME/korvel-jig (~/.local/share/korvel-jig), on Windows\n"
        "%APPDATA%\\korvel-jig.\n"
        "Exit status: 0 success, 1 failure, 2 usage error.\n",
        to);
}

const Tool& findTool(const std::string& name) {
    std::vector<std::string> names;
    for (const Tool* tool : tools()) {
        if (name == tool->name()) return *tool;
        names.emplace_back(tool->name());
    }
    throw UsageError{"unknown tool \"" + name + "\"" + didYouMean(name, names)};
}

const Action& checkedAction(const Tool& tool, const std::string& word) {
    if (const Action* action = actionNamed(tool, word)) return *action;
    std::vector<std::string> names;
    for (const Action& action : tool.actions) names.emplace_back(action.name);
    throw UsageError{"unknown " + std::string(tool.name()) + " action \"" + word + "\"" + didYouMean(word, names)};
}

// The action whose option `arg` is the short form of ("-r"), which stands for both.
const Action* actionOfShortForm(const Tool& tool, const std::string& arg) {
    if (arg.size() != 2 || arg[0] != '-') return nullptr;
    for (const Action& action : tool.actions) {
        for (const Option* option : actionOptions(action))
            if (option->shortName == arg[1]) return &action;
    }
    return nullptr;
}

// The action word, or a short option in its place ("kb90xx -r FILE"); the
// program's options may come before either. Null when none is given.
const Action* readAction(const Tool& tool, OptionReader& reader, Arguments& given) {
    if (tool.actions.size() == 1 && tool.actions.front().name.empty()) return &tool.actions.front();
    std::vector<const Option*> all;
    for (const Action& action : tool.actions) {
        const auto options = actionOptions(action);
        all.insert(all.end(), options.begin(), options.end());
    }
    reader.suggest(all);
    while (!reader.atEnd()) {
        if (const Action* action = actionOfShortForm(tool, reader.upcoming())) return action;
        if (const auto word = reader.next(given)) return &checkedAction(tool, *word);
    }
    return nullptr;
}

std::string actionList(const Tool& tool) {
    std::string list;
    for (const Action& action : tool.actions) list += (list.empty() ? "" : ", ") + std::string(action.name);
    return list;
}

// Words where the action takes none are refused before anything starts.
void refuseWords(const Action& action, const Arguments& given) {
    if (!action.words.empty()) return;
    for (const auto& arg : given.given())
        if (!arg.option) throw UsageError{"unexpected argument: " + arg.text};
}

std::string g_hint = "korvel-cli --help";

int run(std::vector<std::string> args) {
    OptionReader reader(std::move(args));
    reader.allow(kProgramOptions);
    Arguments given;
    std::optional<std::string> toolName;
    while (!toolName && !reader.atEnd()) toolName = reader.next(given);
    if (!toolName) {
        const ProgramOptions program = takeProgramOptions(given);
        if (program.version) {
            std::puts("korvel-cli 4.9");
            return kExitSuccess;
        }
        if (program.help) {
            printUsage(stdout);
            return kExitSuccess;
        }
        throw UsageError{"no tool given"};
    }
    const Tool& tool = findTool(*toolName);
    const std::string name(tool.name());
    g_hint = "korvel-cli " + name + " --help";
    const Action* action = readAction(tool, reader, given);
    if (action) reader.allow(actionOptions(*action));
    reader.readAll(given);
    const ProgramOptions program = takeProgramOptions(given);
    if (program.help) {
        std::fputs(toolUsage(tool).c_str(), stdout);
        return kExitSuccess;
    }
    if (program.version) {
        std::puts("korvel-cli 4.9");
        return kExitSuccess;
    }
    if (!action) throw UsageError{name + " needs an action: " + actionList(tool)};
    requireOptions(actionOptions(*action), given);
    refuseWords(*action, given);
    if (std::string error; !trace::startFromOptions(program.tracePath, error)) throw UsageError{"--trace: " + error};
    ConsoleFrontend ui;
    ui.tool = name;
    ui.jobLabel = program.job;
    ui.language = tool.family ? tool.family->language : Language::English;
    const auto tightened = tightenDataFolder();
    journal::start();
    if (tightened) {
        std::cerr << "korvel-cli: " << *tightened << '\n';
        journal::line(ui.tool, ui.jobLabel, *tightened);
    }
    const std::string asked = "korvel-cli " + name + (action->name.empty() ? "" : " " + std::string(action->name));
    if (const auto problem = journal::line(ui.tool, ui.jobLabel, asked + given.text()))
        std::cerr << "korvel-cli: warning: " << *problem << '\n';
    const BridgeChoice& choice = program.bridges;
    Context context{trace::traced(choice.simulate ? kjsim::simulatedBridges(choice.fresh) : portBridges(choice.ports)),
                    ui};
    installInterruptHandlers();
    return tool.run(context, std::string(action->name), given);
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
