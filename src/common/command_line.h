// One grammar for every program's command line. Options are declared once, as
// rows of a table, and the same rows read the arguments and write the usage
// lines: "--name VALUE" or "--name=VALUE", flags, one-letter short forms, and
// words (a tool, an action, a file) between them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kj {

// What a command line got wrong; the program says it and exits with 2.
struct UsageError {
    std::string message;
};

struct Option {
    std::string_view name;          // "--output"; a toolkit's own may have one dash ("-platform")
    std::string_view value{};       // what follows it, as the usage names it ("FILE"); empty: nothing
    std::string_view help{};        // lines after the first are indented under it
    char shortName = 0;             // 'r': "-r" stands for it
    bool required = false;          // the command refuses to run without it
    bool repeats = false;           // each one given counts
    bool valueAfterEquals = false;  // its value is optional, and only as --name=VALUE
    bool alone = false;             // --help, --version: what follows is not read
    bool hidden = false;            // read, never listed: a toolkit's own
};

using OptionList = std::span<const Option* const>;

// What a command line gave, in order: each option under its declared name,
// with its value, and the words between them. The command takes what it uses;
// finish() refuses what is left.
class Arguments {
public:
    struct Given {
        const Option* option = nullptr;  // null: a word
        std::string text;                // the option's value, or the word
    };

    void add(const Option& option, std::string value) { given_.push_back({&option, std::move(value)}); }
    void addWord(std::string word) { given_.push_back({nullptr, std::move(word)}); }
    const std::vector<Given>& given() const { return given_; }

    // Each takes what it returns. The last one given counts.
    std::optional<std::string> value(std::string_view name);
    std::vector<std::string> values(std::string_view name);
    bool flag(std::string_view name);
    // A required "--name N" within [min, max].
    long number(std::string_view name, long min, long max);
    // The first word.
    std::optional<std::string> word();
    // Whether it is there, and its value, leaving both for whoever takes them.
    bool has(std::string_view name) const;
    std::optional<std::string> peek(std::string_view name) const;
    // Fails on anything not taken by now.
    void finish() const;
    // What is left, as it would be typed: " --input a.bin --no-verify".
    std::string text() const;

private:
    std::vector<Given> given_;
};

// A number within [min, max], or a usage error naming `what`.
long parseNumber(const std::string& what, const std::string& text, long min, long max);

// Reads a command line left to right against the options in force, which
// may grow as it goes (once a word has named a tool, an action).
class OptionReader {
public:
    explicit OptionReader(std::vector<std::string> args) : args_(std::move(args)) {}

    // Read from now on.
    void allow(OptionList options);
    // Only offered when an unknown option is met ("did you mean").
    void suggest(OptionList options);

    bool atEnd() const { return next_ >= args_.size(); }
    // The argument that comes next, unread; empty at the end.
    std::string upcoming() const { return atEnd() ? std::string() : args_[next_]; }
    // Reads one argument: an option in force, with its value, into `into`; or a
    // word, which it returns. An option not in force is a usage error that
    // names it, with the nearest one known.
    std::optional<std::string> next(Arguments& into);
    // Reads to the end, words into `into` too.
    void readAll(Arguments& into);
    // The option in force that `arg` names ("-r", "--output"); null when none does.
    const Option* find(std::string_view arg) const;

private:
    [[noreturn]] void unknown(std::string_view name) const;

    std::vector<std::string> args_;
    size_t next_ = 0;
    std::vector<const Option*> allowed_;
    std::vector<const Option*> suggested_;
};

// Fails naming the first required option of `options` that was not given.
void requireOptions(OptionList options, const Arguments& given);

// "  -r, --output FILE          what it does", one line per row (hidden ones
// aside), the help in a column of its own and its further lines under it.
std::string optionLines(OptionList options, size_t indent = 2, size_t column = 29);
// "--output FILE [--read-twice] [--port PATH]...": the rows as a synopsis
// names them, --help and --version and hidden ones aside.
std::string synopsis(OptionList options);

// `word` and the nearest of `candidates` as a hint: "; did you mean "read"?", or nothing.
std::string didYouMean(std::string_view word, const std::vector<std::string>& candidates);

}  // namespace kj
