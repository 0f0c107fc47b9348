#include "gui/safety_settings.h"

#include <QSettings>

#include "common/private_files.h"

#include "common/connection_base.h"

namespace kj {

namespace {
constexpr const char* kBackup = "safety/backup";
constexpr const char* kReadTwice = "safety/readTwice";

QString pathText(const std::filesystem::path& path) { return QString::fromStdU16String(path.u16string()); }
}  // namespace

std::filesystem::path settingsFile() { return dataFolder() / "korvel-jig.ini"; }

SafetySettings SafetySettings::load(const std::filesystem::path& file) {
    SafetySettings settings;
    settings.file = file;
    const QSettings stored(pathText(file), QSettings::IniFormat);
    settings.backup = stored.value(kBackup, settings.backup).toBool();
    settings.readTwice = stored.value(kReadTwice, settings.readTwice).toBool();
    return settings;
}

void SafetySettings::save() const {
    if (file.empty()) return;
    std::error_code ec;
    makePrivateFolders(file.parent_path(), ec);
    {
        QSettings stored(pathText(file), QSettings::IniFormat);
        stored.setValue(kBackup, backup);
        stored.setValue(kReadTwice, readTwice);
    }
    makePrivateFile(file);
}

}  // namespace kj
