// What an operation needs from whatever shows it: the window or the command line.
// The core calls these from the window thread or from a worker; a window's
// implementation carries each call out on its own thread and waits for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kj {

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void log(std::string_view line) = 0;
    virtual void clearLog() = 0;
};

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

inline constexpr Rgb kLime{0, 255, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kYellow{255, 255, 0};

struct FileDialogSpec {
    enum class Kind { Save, Open };
    Kind kind = Kind::Save;
    std::string title;
    std::string filter;  // "description|pattern|description|pattern"
    std::string defaultName;
    std::string defaultExt;
};

class Frontend : public LogSink {
public:
    virtual void setGaugeColour(Rgb colour) = 0;
    virtual void setGaugeProgress(int value, int maximum) = 0;
    // The chosen path, or nothing when the user did not confirm a file.
    virtual std::optional<std::string> chooseFile(const FileDialogSpec& spec) = 0;
    virtual void errorBox(std::string_view text) = 0;
    // Buttons follow the operation: disabled as its name says, enabled at its end.
    virtual void operationStarted(std::string_view name) = 0;
    virtual void operationEnded() = 0;
};

}  // namespace kj
