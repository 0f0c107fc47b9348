#include "common/command_line.h"

#include <algorithm>
#include <numeric>

namespace kj {

namespace {

bool named(const Arguments::Given& given, std::string_view name) { return given.option && given.option->name == name; }

// How the usage and the record name an option with its value.
std::string spelt(const Option& option) {
    std::string text(option.name);
    if (option.valueAfterEquals) return text + "[=" + std::string(option.value) + "]";
    if (!option.value.empty()) text += " " + std::string(option.value);
    return text;
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

// "-o": one dash and one letter, as flashrom's options are.
bool isShortForm(std::string_view arg) { return arg.size() == 2 && arg[0] == '-' && arg[1] != '-'; }

}  // namespace

std::vector<std::string> Arguments::values(std::string_view name) {
    std::vector<std::string> found;
    for (const auto& given : given_)
        if (named(given, name)) found.push_back(given.text);
    std::erase_if(given_, [&](const Given& given) { return named(given, name); });
    return found;
}

std::optional<std::string> Arguments::value(std::string_view name) {
    auto all = values(name);
    if (all.empty()) return std::nullopt;
    return all.back();
}

bool Arguments::flag(std::string_view name) {
    return std::erase_if(given_, [&](const Given& g) { return named(g, name); }) > 0;
}

long Arguments::number(std::string_view name, long min, long max) {
    const auto text = value(name);
    if (!text) throw UsageError{std::string(name) + " is required"};
    return parseNumber(std::string(name), *text, min, max);
}

std::optional<std::string> Arguments::word() {
    const auto it = std::find_if(given_.begin(), given_.end(), [](const Given& given) { return !given.option; });
    if (it == given_.end()) return std::nullopt;
    std::string word = std::move(it->text);
    given_.erase(it);
    return word;
}

bool Arguments::has(std::string_view name) const {
    return std::any_of(given_.begin(), given_.end(), [&](const Given& given) { return named(given, name); });
}

std::optional<std::string> Arguments::peek(std::string_view name) const {
    const auto it =
        std::find_if(given_.rbegin(), given_.rend(), [&](const Given& given) { return named(given, name); });
    if (it == given_.rend()) return std::nullopt;
    return it->text;
}

void Arguments::finish() const {
    if (given_.empty()) return;
    const Given& first = given_.front();
    throw UsageError{"unexpected argument: " + (first.option ? std::string(first.option->name) : first.text)};
}

std::string Arguments::text() const {
    std::string text;
    for (const auto& given : given_) {
        if (!given.option) {
            text += " " + given.text;
        } else if (given.option->valueAfterEquals) {
            text += " " + std::string(given.option->name) + (given.text.empty() ? "" : "=" + given.text);
        } else {
            text += " " + std::string(given.option->name) + (given.option->value.empty() ? "" : " " + given.text);
        }
    }
    return text;
}

long parseNumber(const std::string& what, const std::string& text, long min, long max) {
    size_t used = 0;
    long n = 0;
    try {
        n = std::stol(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || n < min || n > max) {
        throw UsageError{what + " must be a number from " + std::to_string(min) + " to " + std::to_string(max)};
    }
    return n;
}

void OptionReader::allow(OptionList options) { allowed_.insert(allowed_.end(), options.begin(), options.end()); }

void OptionReader::suggest(OptionList options) { suggested_.insert(suggested_.end(), options.begin(), options.end()); }

const Option* OptionReader::find(std::string_view arg) const {
    for (const Option* option : allowed_) {
        if (option->name == arg || (option->shortName && isShortForm(arg) && arg[1] == option->shortName))
            return option;
    }
    return nullptr;
}

// A one-letter option is most likely the long one of that letter ("-o" for
// "--output"); anything else, the one spelt nearest.
void OptionReader::unknown(std::string_view name) const {
    std::vector<std::string> candidates;
    if (isShortForm(name)) {
        for (const Option* option : allowed_)
            if (option->name.size() > 2 && option->name.substr(2, 1) == name.substr(1))
                candidates.emplace_back(option->name);
        throw UsageError{"unknown option \"" + std::string(name) + "\"" +
                         (candidates.empty() ? "" : "; did you mean \"" + candidates.front() + "\"?")};
    }
    for (const auto* list : {&allowed_, &suggested_})
        for (const Option* option : *list)
            if (option->name != name) candidates.emplace_back(option->name);
    throw UsageError{"unknown option \"" + std::string(name) + "\"" + didYouMean(name, candidates)};
}

std::optional<std::string> OptionReader::next(Arguments& into) {
    if (atEnd()) return std::nullopt;
    std::string arg = args_[next_++];
    // "-" is a word: standard input.
    if (arg.size() < 2 || arg[0] != '-') return arg;
    std::optional<std::string> attached;
    if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
        attached = arg.substr(eq + 1);
        arg.resize(eq);
    }
    const Option* option = find(arg);
    if (!option) unknown(arg);
    std::string value;
    if (option->valueAfterEquals) {
        value = attached.value_or("");
    } else if (option->value.empty()) {
        if (attached) throw UsageError{arg + " takes no value"};
    } else if (attached) {
        value = std::move(*attached);
    } else if (atEnd()) {
        throw UsageError{arg + " needs a " + std::string(option->value)};
    } else {
        value = args_[next_++];  // whatever it looks like
    }
    into.add(*option, std::move(value));
    if (option->alone) next_ = args_.size();
    return std::nullopt;
}

void OptionReader::readAll(Arguments& into) {
    while (!atEnd())
        if (auto word = next(into)) into.addWord(std::move(*word));
}

void requireOptions(OptionList options, const Arguments& given) {
    for (const Option* option : options)
        if (option->required && !given.has(option->name)) throw UsageError{spelt(*option) + " is required"};
}

std::string optionLines(OptionList options, size_t indent, size_t column) {
    std::string text;
    for (const Option* option : options) {
        if (option->hidden) continue;
        std::string head(indent, ' ');
        if (option->shortName) head += std::string{'-', option->shortName} + ", ";
        head += spelt(*option);
        if (option->help.empty()) {
            text += head + "\n";
            continue;
        }
        head.resize(std::max(head.size() + 1, column), ' ');
        std::string help(option->help);
        for (size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += column + 1)
            help.insert(at + 1, column, ' ');
        text += head + help + "\n";
    }
    return text;
}

std::string synopsis(OptionList options) {
    std::string text;
    for (const Option* option : options) {
        if (option->hidden || option->alone) continue;
        std::string part = option->required ? spelt(*option) : "[" + spelt(*option) + "]";
        if (option->repeats) part += "...";
        text += (text.empty() ? "" : " ") + part;
    }
    return text;
}

std::string didYouMean(std::string_view word, const std::vector<std::string>& candidates) {
    constexpr size_t kClose = 2;
    for (const auto& candidate : candidates) {
        if (editDistance(word, candidate) <= kClose) return "; did you mean \"" + candidate + "\"?";
    }
    return {};
}

}  // namespace kj
