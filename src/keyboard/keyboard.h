// The keyboard connector tester: the programmer scans the 32 connector lines
// and reports the closed pairs; each reported pair toggles its cell, but one
// closed from the first report on, which is a short. The scan runs whole on a
// worker that keeps its own 100 ms pace and decides every colour; the front
// end only shows what it reports.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "common/frontend.h"
#include "keyboard/profile.h"
#include "operation/operation.h"

namespace kj {

namespace keyboard {
extern const Family kFamily;
}

inline constexpr int kKeyboardLines = 32;
inline constexpr int kKeyboardCells = kKeyboardLines * (kKeyboardLines - 1) / 2;
inline constexpr size_t kReportCapacity = 1024;
inline constexpr Millis kScanTickInterval{100};
inline constexpr const char* kKeyboardScanning = "Keyboard";

// Commands of the scan and the marks of a report.
inline constexpr uint8_t kStartScan = 'u';
inline constexpr uint8_t kNextReport = 'U';
inline constexpr uint8_t kSoundSignal = 'I';
inline constexpr uint8_t kEndScan = 'Q';
inline constexpr uint8_t kGroupMark = '>';
inline constexpr uint8_t kReportEnd = '&';

// The number in the name of the pair's cell, "Shape" + (a - 1) * 32 + b;
// 0 when the pair names no cell (a >= b, or a line out of 1..32).
int cellNumber(int a, int b);

// The pairs a report names, from its start up to its first '&', in report
// order. A '>' starts a group: its first byte is line a, each further byte a
// partner b. Pairs that name no cell are left out.
std::vector<LinePair> reportPairs(std::span<const uint8_t> report);

// Short: closed already in the scan's first report, before anyone could
// press a key, so a short in the keyboard or its connector.
enum class CellColour { Aqua, Red, Yellow, Short };
inline constexpr Rgb kAqua{0, 255, 255};
inline constexpr Rgb kFuchsia{255, 0, 255};

// Red when reported while not red, yellow when reported while red.
constexpr CellColour toggled(CellColour colour) {
    return colour == CellColour::Red ? CellColour::Yellow : CellColour::Red;
}
Rgb toRgb(CellColour colour);
// "aqua", "red", "yellow", "short?".
const char* colourName(CellColour colour);

class CellColours {
public:
    CellColours() { clear(); }
    // The pair must name a cell.
    CellColour colour(LinePair pair) const { return colours_[index(pair)]; }
    void set(LinePair pair, CellColour colour) { colours_[index(pair)] = colour; }
    void clear() { colours_.fill(CellColour::Aqua); }

private:
    static size_t index(LinePair pair) { return static_cast<size_t>(cellNumber(pair.a, pair.b)); }
    std::array<CellColour, kKeyboardLines * kKeyboardLines + 1> colours_;
};

namespace keyboard {

// What the scan shows besides its lines, in order with them.
// A cell took a new colour; `key` is the key that closes its pair, if known.
struct CellEvent {
    LinePair pair;
    CellColour colour;
    std::string key;
};
// Every cell is aqua again.
struct CellsCleared {};
// The next entry of the list of closed pairs: a pair the first time it closes
// in a scan, or, learning, once its key is learnt. "Esc (1-2)", "1-2 short?".
struct PairClosed {
    std::string text;
    bool isShort = false;
};
// The profile's keys not pressed yet in this scan, in the profile's order.
struct KeysLeft {
    std::vector<std::string> keys;
};
// Learning: the key to press next; empty once every key has been asked for.
struct LearnPrompt {
    std::string key;
};
// A learnt profile was saved under this model's name.
struct ProfileSaved {
    std::string model;
};

// What a scan has seen, for its front end: the 496 colours, the pairs closed
// at its first report, the pairs closed since it began, and the keys they
// belong to. Learning, each new pair is the key asked for. Every change and
// the event that shows it are one step, so that a Clear on the window thread
// and a report on the worker are shown in the order they were made; a front
// end showing an event must not call back into the board.
class ScanBoard {
public:
    explicit ScanBoard(Frontend& ui) : ui_(ui) {}

    // A scan begins: nothing closed yet; the cells keep their colours.
    void begin(KeyboardProfile profile);
    // Learning begins: `keys` are asked for in turn.
    void beginLearning(std::vector<std::string> keys);
    // A whole report's pairs; none for a lone '&' or a report discarded.
    void show(const std::vector<LinePair>& pairs);
    void clear();
    // Learning: the key asked for is left out; the next one is asked for.
    void skipKey();

    CellColour colour(LinePair pair) const;
    bool learning() const;
    KeyboardProfile profile() const;
    // "Closed pairs: Esc (1-2) 3-4 short?" in line order, or "Closed pairs:
    // none"; with a profile also "Keys not pressed: F1 F2", or "…: none".
    std::vector<std::string> summary() const;

private:
    bool isShort(LinePair pair) const { return shorts_.contains(pair); }
    std::optional<LinePair> learnFrom(const std::vector<LinePair>& pairs);
    void promptNext();
    std::vector<std::string> keysLeft() const;
    std::string listed(LinePair pair) const;

    Frontend& ui_;
    mutable std::mutex mutex_;
    CellColours colours_;
    KeyboardProfile profile_;
    bool firstReport_ = true;
    std::set<LinePair> shorts_;
    std::set<LinePair> closed_;
    std::optional<std::vector<std::string>> toLearn_;  // set while learning
    size_t asked_ = 0;
};

}  // namespace keyboard

class KeyboardTester {
public:
    KeyboardTester(Bridge& bridge, Frontend& ui);
    ~KeyboardTester();
    KeyboardTester(const KeyboardTester&) = delete;
    KeyboardTester& operator=(const KeyboardTester&) = delete;

    // START SCAN: the scan runs whole on its worker; a profile's keys name
    // its pairs. False when the click is ignored because a scan runs.
    bool startScan(LoadedProfile profile = {});
    // Learn: a scan that asks for each of `keys` in turn and takes the next
    // pair closed as its pair.
    bool startLearning(std::vector<std::string> keys);
    // Learning: the key asked for is left out.
    void skipKey() { board_.skipKey(); }
    // Learning: the scan ends and what it learnt is saved under `model`.
    void finishLearning(std::string model);
    // EXIT during a scan: the worker ends after the report it waits for or
    // works on, or at once while it waits for the next tick.
    void requestStop();
    bool stopRequested() const { return op_.stopRequested(); }
    // Clear: every cell aqua, during a scan as well.
    void clear() { board_.clear(); }
    // The mute box: no sound signal after a report while set.
    void setMuted(bool muted) { muted_ = muted; }
    CellColour colour(LinePair pair) const { return board_.colour(pair); }
    // The scan's clock ticks every `tickInterval` from the first request on;
    // the worker asks for the next report at the first tick after it has
    // finished the previous one.
    Millis tickInterval{kScanTickInterval};
    // Brings the next tick forward to now: for a caller that sets the pace itself.
    void tick();
    // The worker has finished a report and waits for the next tick.
    bool waitingForTick() const { return waiting_.load(); }
    // The clock runs: from the first request to the end steps of a scan.
    bool pacing() const { return pacing_.load(); }
    // The last scan got as far as its first request.
    bool began() const { return began_.load(); }

    Operation& operation() { return op_; }
    Link& link() { return op_.link(); }
    // The last scan ended on a stop request rather than a link failure.
    bool lastSucceeded() const { return op_.lastSucceeded(); }

private:
    bool launch(std::function<void()> beginBoard);
    void scan(const std::function<void()>& beginBoard);
    void scanReports(Io first);
    Io receiveReport(bool& overlong);
    Io showReport();
    bool awaitTick();
    void endScan(Io io);
    void saveLearnt();

    // First: the lines and the cells go through it, and it outlives the state its worker uses.
    Operation op_;
    Frontend& ui_;
    keyboard::ScanBoard board_;
    std::atomic<bool> muted_{false};
    std::mutex tickMutex_;
    std::condition_variable tickCv_;
    bool ticked_ = false;
    std::chrono::steady_clock::time_point firstTick_;  // the worker's alone
    std::atomic<bool> waiting_{false};
    std::atomic<bool> pacing_{false};
    std::atomic<bool> began_{false};
    std::vector<uint8_t> report_;  // the accumulator, at most kReportCapacity bytes
    std::mutex modelMutex_;
    std::string model_;  // what a learnt profile is saved as; empty: not saved
};

}  // namespace kj
