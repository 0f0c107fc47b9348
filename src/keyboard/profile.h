// Keyboard profiles: which pair of connector lines each key of one keyboard
// model closes, learnt once and kept as a text file of "KEY=a-b" lines in the
// data folder's keyboards/.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kj {

struct LinePair {
    int a = 0;
    int b = 0;
    bool operator==(const LinePair&) const = default;
    auto operator<=>(const LinePair&) const = default;
};

// How a pair is named to the user: "1-2".
std::string pairText(LinePair pair);

struct KeyPair {
    std::string key;
    LinePair pair;
};

struct KeyboardProfile {
    std::string model;
    std::vector<KeyPair> keys;  // in the order they were learnt
    // The key that closes the pair; empty when none of this keyboard's does.
    std::string keyOf(LinePair pair) const;
};

// A pair as a scan names it: "Esc (1-2)" with the key that closes it, else "1-2".
std::string pairName(LinePair pair, std::string_view key);

// The keys of a laptop keyboard, in the order a learner is asked for them.
const std::vector<std::string>& laptopKeys();

// The file name a model is kept under: letters, digits, '-', '_' and '.' as
// they are, anything else (and a leading '.') as '_'.
std::string profileFileName(std::string_view model);
std::filesystem::path profileFolder();  // <data folder>/keyboards
std::filesystem::path profilePath(std::string_view model);

// The saved models, by name, in order.
std::vector<std::string> savedProfiles();

struct LoadedProfile {
    KeyboardProfile profile;
    int badLines = 0;  // skipped: not "KEY=a-b", a pair that names no cell, a key or a pair seen before
};
// Nothing, with `error` saying why, when there is no such profile or it cannot be read.
std::optional<LoadedProfile> loadProfile(std::string_view model, std::string& error);
// Its lines from a profile file's text.
LoadedProfile parseProfile(std::string_view model, std::string_view text);
// Writes the profile under its model's name; false, with `error` saying why, when it cannot.
bool saveProfile(const KeyboardProfile& profile, std::string& error);

}  // namespace kj
