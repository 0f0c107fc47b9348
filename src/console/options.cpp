#include <algorithm>
#include <filesystem>

#include "common/image_file.h"
#include "console/console.h"

namespace kj::cli {

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

Input inputFile(const std::string& path) {
    std::string error;
    const auto head = readFileHead(path, kBlankCheckBytes, error);
    if (!head) throw UsageError{fileProblem(path, error)};
    Input input{path, head->size, std::nullopt};
    const auto& bytes = head->bytes;
    if (!bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [&](uint8_t b) { return b == bytes.front(); }))
        input.blank = bytes.front();
    return input;
}

}  // namespace kj::cli
