// The data folder holds a board owner's secrets: firmware with its BIOS and
// supervisor passwords and serial numbers, and a record of what was done to
// it. On POSIX its folders are the user's alone (0700) and so are its files
// (0600), whatever the umask; on Windows it stays under the user's own
// %APPDATA%, which only the user may open.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace kj {

// Creates `folder` and what is missing above it; each one made inside the
// data folder is private. False, with `ec` set, when it could not be made.
bool makePrivateFolders(const std::filesystem::path& folder, std::error_code& ec);
// A file of the data folder, the user's alone.
void makePrivateFile(const std::filesystem::path& file);
// The data folder and everything in it made private where it was not, links
// never followed. The line that says what was changed, or nothing when all
// was private already (or there is no data folder yet).
std::optional<std::string> tightenDataFolder();

}  // namespace kj
