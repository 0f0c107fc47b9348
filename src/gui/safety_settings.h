// What the windows ask of the net around their image operations, kept across
// runs in the data folder.
#pragma once

#include <filesystem>
#include <string>

namespace kj {

struct SafetySettings {
    bool backup = true;            // the chip backed up before a write or an erase
    bool readTwice = false;        // every read made twice and compared
    std::filesystem::path file{};  // where they are kept; empty: not kept

    // From `file`, the defaults where it says nothing.
    static SafetySettings load(const std::filesystem::path& file);
    void save() const;
};

// The board / job label, kept beside them until it is changed; `file` empty: not kept.
std::string loadJob(const std::filesystem::path& file);
void saveJob(const std::filesystem::path& file, const std::string& job);

// <data folder>/korvel-jig.ini
std::filesystem::path settingsFile();

}  // namespace kj
