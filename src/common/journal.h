// The record kept of every operation: each log line of either program, with
// its time and its tool, appended to one file a day in the data folder's
// logs/. Off until started; a line that cannot be written is dropped, never
// allowed to stop an operation, and the first such failure is said once.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kj::journal {

// Keeps this many days' files; older ones are removed when it starts.
inline constexpr size_t kDaysKept = 90;

std::filesystem::path defaultFolder();  // <data folder>/logs
void start(const std::filesystem::path& folder = defaultFolder());
void stop();
// "YYYY-MM-DD hh:mm:ss.mmm TOOL [JOB] | TEXT", control characters escaped,
// written whole in one append so that programs recording at once never tear
// a line. The first time the record cannot be written, why; nothing otherwise.
std::optional<std::string> line(std::string_view tool, std::string_view job, std::string_view text);

}  // namespace kj::journal
