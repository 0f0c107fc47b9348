// The keyboard connector tester: the programmer scans the 32 connector lines
// and reports the closed pairs; each reported pair toggles its cell. The scan
// runs whole on a worker that keeps its own 100 ms pace; the front end only
// shows what it reports.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/frontend.h"
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

struct LinePair {
    int a = 0;
    int b = 0;
    bool operator==(const LinePair&) const = default;
};

// The number in the name of the pair's cell, "Shape" + (a - 1) * 32 + b;
// 0 when the pair names no cell (a >= b, or a line out of 1..32).
int cellNumber(int a, int b);

// The pairs a report names, from its start up to its first '&', in report
// order. A '>' starts a group: its first byte is line a, each further byte a
// partner b. Pairs that name no cell are left out.
std::vector<LinePair> reportPairs(std::span<const uint8_t> report);

enum class CellColour { Aqua, Red, Yellow };
inline constexpr Rgb kAqua{0, 255, 255};

// Red when reported while not red, yellow when reported while red.
constexpr CellColour toggled(CellColour colour) {
    return colour == CellColour::Red ? CellColour::Yellow : CellColour::Red;
}
Rgb toRgb(CellColour colour);
const char* colourName(CellColour colour);

// The 496 colours for a front end that has no shapes to keep them in.
class CellColours {
public:
    CellColours() { clear(); }
    // The pair must name a cell.
    CellColour toggle(int a, int b);
    CellColour colour(int a, int b) const { return colours_[static_cast<size_t>(cellNumber(a, b))]; }
    void clear() { colours_.fill(CellColour::Aqua); }

private:
    std::array<CellColour, kKeyboardLines * kKeyboardLines + 1> colours_;
};

// How a pair is named to the user: "1-2".
std::string pairText(int a, int b);

// The pairs a scan reported, each once, and the line that lists them in line
// order when the scan ends: "Closed pairs: 1-2 3-4", or "Closed pairs: none".
class ClosedPairs {
public:
    void add(int a, int b) { pairs_.insert({a, b}); }
    void clear() { pairs_.clear(); }
    std::string line() const;

private:
    std::set<std::pair<int, int>> pairs_;
};

// What the scan needs from its front end besides the log: the cells and the
// mute box. Called from the worker; neither may make it wait for a window.
class KeyboardPanel {
public:
    virtual ~KeyboardPanel() = default;
    // Reads the cell's colour and sets the toggled one as one step, so that a
    // Clear cannot come between.
    virtual void toggleCell(int a, int b) = 0;
    virtual bool soundMuted() = 0;
};

class KeyboardTester {
public:
    KeyboardTester(Bridge& bridge, Frontend& ui, KeyboardPanel& panel);
    ~KeyboardTester();
    KeyboardTester(const KeyboardTester&) = delete;
    KeyboardTester& operator=(const KeyboardTester&) = delete;

    // START SCAN: the scan runs whole on its worker. False when the click is
    // ignored because a scan runs.
    bool startScan();
    // EXIT during a scan: the worker ends after the report it waits for or
    // works on, or at once while it waits for the next tick.
    void requestStop();
    bool stopRequested() const { return op_.stopRequested(); }
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
    void scan();
    void scanReports(Io first);
    Io receiveReport(bool& overlong);
    Io showReport();
    bool awaitTick();
    void endScan(Io io);

    Frontend& ui_;
    KeyboardPanel& panel_;
    std::mutex tickMutex_;
    std::condition_variable tickCv_;
    bool ticked_ = false;
    std::chrono::steady_clock::time_point firstTick_;  // the worker's alone
    std::atomic<bool> waiting_{false};
    std::atomic<bool> pacing_{false};
    std::atomic<bool> began_{false};
    std::vector<uint8_t> report_;  // the accumulator, at most kReportCapacity bytes
    // Last: destroyed first, it waits for its worker while the state it uses still stands.
    Operation op_;
};

}  // namespace kj
