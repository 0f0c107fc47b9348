#include "gui/safety_settings.h"

#include <QSettings>

#include "common/private_files.h"

#include "common/connection_base.h"

namespace kj {

namespace {
constexpr const char* kBackup = "safety/backup";
constexpr const char* kReadTwice = "safety/readTwice";
constexpr const char* kJob = "job/label";

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

namespace {
// Each value into the file as it is, the rest left alone.
template <class Set>
void store(const std::filesystem::path& file, Set set) {
    if (file.empty()) return;
    std::error_code ec;
    makePrivateFolders(file.parent_path(), ec);
    {
        QSettings stored(pathText(file), QSettings::IniFormat);
        set(stored);
    }
    makePrivateFile(file);
}
}  // namespace

void SafetySettings::save() const {
    store(file, [this](QSettings& stored) {
        stored.setValue(kBackup, backup);
        stored.setValue(kReadTwice, readTwice);
    });
}

std::string loadJob(const std::filesystem::path& file) {
    if (file.empty()) return {};
    return QSettings(pathText(file), QSettings::IniFormat).value(kJob).toString().toStdString();
}

void saveJob(const std::filesystem::path& file, const std::string& job) {
    store(file, [&](QSettings& stored) { stored.setValue(kJob, QString::fromStdString(job)); });
}

}  // namespace kj
