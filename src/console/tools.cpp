#include "common/registry.h"
#include "console/console.h"

namespace kj::cli {

namespace {

// Help lines and option lines under a synopsis line.
constexpr size_t kIndent = 4;
constexpr size_t kHelpColumn = 31;

std::string indented(std::string_view text) {
    std::string lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        lines += std::string(kIndent, ' ') + std::string(text.substr(at, end - at)) + "\n";
        at = end + 1;
    }
    return lines;
}

}  // namespace

std::vector<const Tool*> tools() {
    return inFamilyPlaces<Tool>([](const Tool& tool) { return tool.family; });
}

const Tool* toolNamed(std::string_view name) {
    for (const Tool* tool : Registry<Tool>::entries()) {
        if (tool->name() == name) return tool;
    }
    return nullptr;
}

std::vector<const Option*> actionOptions(const Action& action) {
    std::vector<const Option*> all(action.options.begin(), action.options.end());
    all.insert(all.end(), action.own.begin(), action.own.end());
    return all;
}

const Action* actionNamed(const Tool& tool, std::string_view name) {
    const auto it = std::find_if(tool.actions.begin(), tool.actions.end(),
                                 [&](const Action& action) { return action.name == name; });
    return it == tool.actions.end() ? nullptr : &*it;
}

Arguments actionArguments(const Tool& tool, std::string_view action, std::vector<std::string> args) {
    const Action* named = actionNamed(tool, action);
    if (!named) throw UsageError{"unknown " + std::string(tool.name()) + " action \"" + std::string(action) + "\""};
    const auto options = actionOptions(*named);
    OptionReader reader(std::move(args));
    reader.allow(options);
    Arguments given;
    reader.readAll(given);
    requireOptions(options, given);
    return given;
}

std::string toolUsage(const Tool& tool) {
    std::string text = "usage:\n";
    for (const Action& action : tool.actions) {
        const auto options = actionOptions(action);
        const std::string optionText = synopsis(options);
        std::string line = "  korvel-cli " + std::string(tool.name());
        for (const std::string_view part : {action.name, std::string_view(optionText), action.words})
            if (!part.empty()) line += " " + std::string(part);
        text += line + "\n" + indented(action.help) + optionLines(options, kIndent, kHelpColumn);
    }
    return text;
}

}  // namespace kj::cli
