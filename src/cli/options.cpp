#include <algorithm>
#include <filesystem>

#include "cli/cli.h"

namespace kj::cli {

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

long Options::number(const std::string& name, long min, long max) {
    const auto text = value(name);
    if (!text) throw UsageError{name + " is required"};
    size_t used = 0;
    long n = 0;
    try {
        n = std::stol(*text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text->size() || n < min || n > max) {
        throw UsageError{name + " must be a number from " + std::to_string(min) + " to " + std::to_string(max)};
    }
    return n;
}

std::optional<std::string> Options::positional() {
    if (args_.empty() || args_.front().starts_with("--")) return std::nullopt;
    std::string first = args_.front();
    args_.erase(args_.begin());
    return first;
}

void Options::finish() const {
    if (!args_.empty()) throw UsageError{"unexpected argument: " + args_.front()};
}

std::string outputPath(Options& options) {
    const bool force = options.flag("--force");
    const auto path = options.value("--output");
    if (!path || path->empty()) throw UsageError{"--output FILE is required"};
    if (std::filesystem::exists(*path) && !force) {
        throw UsageError{*path + " exists; add --force to replace it"};
    }
    return *path;
}

std::string inputPath(Options& options) {
    const auto path = options.value("--input");
    if (!path || path->empty()) throw UsageError{"--input FILE is required"};
    return *path;
}

}  // namespace kj::cli
