// What an operation needs from whatever shows it: the window or the command line.
// The core calls these from the window thread or from a worker. Updates never
// make a worker wait for the window: a window carries them out on its own thread
// in the order issued. Only the calls that return the user's answer wait.
#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

inline constexpr Rgb kBlack{0, 0, 0};
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
    std::string startFolder{};          // where it opens; empty: where the front end likes
    std::vector<std::string> places{};  // folders offered beside the files, such as the backups
};

// Where an image operation stands between its start and its end: the user's
// own step, or one the net around it takes.
enum class Phase { Read, Backup, BlankCheck, Erase, Write, ReadBack, SecondRead };

// What a yes/no question is about, for a front end that answers from its
// options rather than asks.
enum class Ask {
    Destroy,     // before a write or an erase
    ImageSize,   // a file whose size is not the chip's
    BlankImage,  // a file that is one repeated byte
    BlankChip,   // a chip that reads as one repeated byte before it is changed
    EraseFirst,  // a flash to be erased before the write
};

// How an image operation ended, shown apart from its lines as well as in them.
struct Verdict {
    enum class Kind { Passed, Failed, Warning };
    Kind kind = Kind::Passed;
    std::string reason{};  // what failed or needs a look; empty when it passed
    std::string backup{};  // the backup taken before the chip was changed, when one was

    // "PASSED", "FAILED: reason", "WARNING: reason".
    std::string text() const;
};

class Frontend : public LogSink {
public:
    // Gauges are numbered from 0; most windows have one.
    virtual void setGaugeColour(Rgb colour, int gauge = 0) = 0;
    // Called as often as the operation likes: a front end shows it at a sane rate
    // and always ends on the last value.
    virtual void setGaugeProgress(int value, int maximum, int gauge = 0) = 0;
    // The chosen path, or nothing when the user did not confirm a file.
    virtual std::optional<std::string> chooseFile(const FileDialogSpec& spec) = 0;
    virtual void errorBox(std::string_view text) = 0;
    // A yes/no question asked before something that cannot be undone; true to go on.
    virtual bool confirm(std::string_view question, Ask about) = 0;
    // A question with several answers, given by their captions; the index of
    // the one chosen, or nothing when the question was dismissed.
    virtual std::optional<size_t> choose(std::string_view question, const std::vector<std::string>& answers) = 0;
    // What only one family shows, of a type its folder defines (an EEPROM's
    // summary, a protection lamp, a keyboard cell); in order with the lines.
    virtual void show(const std::any& event) = 0;
    // Buttons follow the operation: disabled as its name says, enabled at its end.
    virtual void operationStarted(std::string_view name) = 0;
    virtual void operationEnded() = 0;
    // A worker runs (true) or has ended (false): from the click, before the
    // operation has a name, until after its last line.
    virtual void busy(bool) {}
    // The end of an image operation, after its last line.
    virtual void showVerdict(const Verdict&) {}
    // An image operation goes into its next phase.
    virtual void phase(Phase) {}
    // The board or job the user works on, as a file name may hold it; empty: none.
    virtual std::string job() const { return {}; }
};

inline std::string Verdict::text() const {
    switch (kind) {
        case Kind::Passed: return "PASSED";
        case Kind::Failed: return "FAILED: " + reason;
        case Kind::Warning: return "WARNING: " + reason;
    }
    return {};
}

}  // namespace kj
