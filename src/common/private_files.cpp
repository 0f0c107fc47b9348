#include "common/private_files.h"

#include "common/connection_base.h"

namespace kj {

namespace fs = std::filesystem;

#ifdef _WIN32
bool makePrivateFolders(const fs::path& folder, std::error_code& ec) {
    fs::create_directories(folder, ec);
    return !ec;
}
void makePrivateFile(const fs::path&) {}
std::optional<std::string> tightenDataFolder() { return std::nullopt; }
#else
namespace {

constexpr fs::perms kFolder = fs::perms::owner_all;
constexpr fs::perms kFile = fs::perms::owner_read | fs::perms::owner_write;
constexpr fs::perms kOthers = fs::perms::group_all | fs::perms::others_all;

bool inside(const fs::path& path, const fs::path& folder) {
    const auto rel = path.lexically_normal().lexically_relative(folder.lexically_normal());
    return !rel.empty() && *rel.begin() != "..";
}

// True when `path` had bits for others that are gone now.
bool restrict(const fs::path& path, const fs::file_status& status, fs::perms to) {
    if ((status.permissions() & kOthers) == fs::perms::none) return false;
    std::error_code ec;
    fs::permissions(path, to, ec);
    return !ec;
}

}  // namespace

bool makePrivateFolders(const fs::path& folder, std::error_code& ec) {
    const fs::path data = dataFolder();
    fs::create_directories(folder, ec);
    if (ec) return false;
    for (fs::path at = folder; at == data || inside(at, data); at = at.parent_path()) {
        std::error_code statError;
        restrict(at, fs::symlink_status(at, statError), kFolder);
        if (at == data) break;
    }
    return true;
}

void makePrivateFile(const fs::path& file) {
    std::error_code ec;
    if (inside(file, dataFolder())) fs::permissions(file, kFile, ec);
}

std::optional<std::string> tightenDataFolder() {
    const fs::path data = dataFolder();
    std::error_code ec;
    const auto top = fs::symlink_status(data, ec);
    if (ec || !fs::is_directory(top)) return std::nullopt;
    size_t changed = restrict(data, top, kFolder) ? 1 : 0;
    for (auto it = fs::recursive_directory_iterator(data, ec); !ec && it != fs::end(it); it.increment(ec)) {
        std::error_code statError;
        const auto status = it->symlink_status(statError);
        if (statError) continue;
        if (fs::is_directory(status)) changed += restrict(it->path(), status, kFolder);
        if (fs::is_regular_file(status)) changed += restrict(it->path(), status, kFile);
    }
    if (changed == 0) return std::nullopt;
    return "The data folder " + data.string() + " could be read by others: " + std::to_string(changed) +
           " of its folders and files are now the user's alone (0700, 0600).";
}
#endif

}  // namespace kj
