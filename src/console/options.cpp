#include <algorithm>
#include <filesystem>

#include "common/image_file.h"
#include "console/console.h"

namespace kj::cli {

namespace {
bool isOption(const std::string& arg) { return arg.size() > 2 && arg.starts_with("--"); }
}  // namespace

// "--name=value" is taken apart here, so that the rest sees "--name value".
Options::Options(std::vector<std::string> args) {
    for (auto& arg : args) {
        const auto eq = arg.find('=');
        if (isOption(arg) && eq != std::string::npos) {
            args_.push_back(arg.substr(0, eq));
            args_.push_back(arg.substr(eq + 1));
        } else {
            args_.push_back(std::move(arg));
        }
    }
}

std::optional<std::string> Options::value(const std::string& name) {
    auto all = values(name);
    if (all.empty()) return std::nullopt;
    return all.back();
}

std::vector<std::string> Options::values(const std::string& name) {
    std::vector<std::string> found;
    for (auto it = args_.begin(); it != args_.end();) {
        if (*it != name) {
            ++it;
            continue;
        }
        if (it + 1 == args_.end()) throw UsageError{name + " needs a value"};
        found.push_back(*(it + 1));
        it = args_.erase(it, it + 2);
    }
    return found;
}

bool Options::flag(const std::string& name) {
    const auto before = args_.size();
    args_.erase(std::remove(args_.begin(), args_.end(), name), args_.end());
    return args_.size() != before;
}

bool Options::has(const std::string& name) const { return std::find(args_.begin(), args_.end(), name) != args_.end(); }

std::optional<std::string> Options::peek(const std::string& name) const {
    const auto it = std::find(args_.rbegin(), args_.rend(), name);
    if (it == args_.rend() || it == args_.rbegin()) return std::nullopt;
    return *(it - 1);
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

long Options::number(const std::string& name, long min, long max) {
    const auto text = value(name);
    if (!text) throw UsageError{name + " is required"};
    return parseNumber(name, *text, min, max);
}

std::optional<std::string> Options::positional() {
    if (args_.empty() || isOption(args_.front())) return std::nullopt;
    std::string first = args_.front();
    args_.erase(args_.begin());
    return first;
}

void Options::finish() const {
    if (!args_.empty()) throw UsageError{"unexpected argument: " + args_.front()};
}

namespace {

// A file that may be written: a new one, or with `force` an existing file, FIFO or device.
void checkOutput(const std::string& option, const std::string& path, bool force) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto status = fs::status(pathOf(path), ec);
    if (ec && ec != std::errc::no_such_file_or_directory) throw UsageError{fileProblem(path, ec.message())};
    if (const auto refusal = outputRefusal(path, {.forced = force, .port = {}})) {
        throw UsageError{fileProblem(path, refusal->reason) +
                         (refusal->forceable ? "; add --force to write to it" : "")};
    }
    if (fs::exists(status) && fs::is_regular_file(status) && !force) {
        throw UsageError{path + " exists; add --force to replace it (" + option + ")"};
    }
}

// A write's file is at most this large; the check reads no more of it.
constexpr size_t kBlankCheckBytes = 16u << 20;

}  // namespace

std::string outputPath(Options& options) {
    const bool force = options.flag("--force");
    const auto path = options.value("--output");
    if (!path || path->empty()) throw UsageError{"--output FILE is required"};
    checkOutput("--output", *path, force);
    return *path;
}

void checkBackupPath(const std::string& path, bool force, const std::optional<std::string>& input) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (input && fs::equivalent(pathOf(path), pathOf(*input), ec)) {
        throw UsageError{"--backup " + path + " is the file to write; the backup would replace it"};
    }
    checkOutput("--backup", path, force);
}

Input inputFile(Options& options) {
    const auto path = options.value("--input");
    if (!path || path->empty()) throw UsageError{"--input FILE is required"};
    std::string error;
    const auto head = readFileHead(*path, kBlankCheckBytes, error);
    if (!head) throw UsageError{fileProblem(*path, error)};
    Input input{*path, head->size, std::nullopt};
    const auto& bytes = head->bytes;
    if (!bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes.front(); }))
        input.blank = bytes.front();
    return input;
}

}  // namespace kj::cli
