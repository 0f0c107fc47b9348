#include "keyboard/keyboard.h"

#include "common/registry.h"

namespace kj {

const Family keyboard::kFamily{
    .place = 2,
    .name = "keyboard",
    .launcherButton = "Keyboard",
    .launcherCaption = "Keyboard testing",
    .firmware = "V41",
    .link = {.latencyFirst = true, .accept = "V41", .notFoundLine = kNotFoundArrowLine},
    .language = Language::English,
    .ends = {.success = "Q", .failure = "Q"},
};
KJ_REGISTER(Family, keyboard::kFamily)

namespace {
constexpr std::string_view kOverlongLine = "The programmer's report is longer than 1024 bytes and is discarded.";

// The keyboard window reports each set-up call of the link in its log.
void logSetUpStep(LogSink& log, SetUpStep step, uint32_t index) {
    switch (step) {
        case SetUpStep::Reset: log.log("COM порт сброшен."); break;
        case SetUpStep::BaudRate: log.log("Установлена скорость 921600 bps."); break;
        case SetUpStep::DataCharacteristics:
            log.log("Произведена настройка формата передачи данных.");
            log.log("Произведена настройка таймаутов.");
            break;
        case SetUpStep::LatencyTimer: log.log("Произведена настройка LatencyTimer."); break;
        case SetUpStep::Timeouts: log.log("Настроили порт " + std::to_string(index)); break;
    }
}
}  // namespace

int cellNumber(int a, int b) {
    if (a < 1 || b > kKeyboardLines || a >= b) return 0;
    return (a - 1) * kKeyboardLines + b;
}

std::vector<LinePair> reportPairs(std::span<const uint8_t> report) {
    std::vector<LinePair> pairs;
    constexpr int kUnset = -1;
    int a = kUnset;
    for (const uint8_t byte : report) {
        if (byte == kReportEnd) break;
        if (byte == kGroupMark) {
            a = kUnset;
        } else if (a == kUnset) {
            a = byte;
        } else if (cellNumber(a, byte) != 0) {
            pairs.push_back({a, byte});
        }
    }
    return pairs;
}

Rgb toRgb(CellColour colour) {
    switch (colour) {
        case CellColour::Aqua: return kAqua;
        case CellColour::Red: return kRed;
        case CellColour::Yellow: return kYellow;
    }
    return kAqua;
}

const char* colourName(CellColour colour) {
    switch (colour) {
        case CellColour::Aqua: return "aqua";
        case CellColour::Red: return "red";
        case CellColour::Yellow: return "yellow";
    }
    return "";
}

CellColour CellColours::toggle(int a, int b) {
    auto& cell = colours_[static_cast<size_t>(cellNumber(a, b))];
    cell = toggled(cell);
    return cell;
}

std::string pairText(int a, int b) { return std::to_string(a) + "-" + std::to_string(b); }

std::string ClosedPairs::line() const {
    std::string text = "Closed pairs:";
    for (const auto& [a, b] : pairs_) text += " " + pairText(a, b);
    return pairs_.empty() ? text + " none" : text;
}

KeyboardTester::KeyboardTester(Bridge& bridge, Frontend& ui, KeyboardPanel& panel)
    : ui_(ui), panel_(panel), op_(bridge, ui, keyboard::kFamily) {
    report_.reserve(kReportCapacity);
}

// The operation's own end waits for the worker; it must not sit out a tick first.
KeyboardTester::~KeyboardTester() {
    {
        std::lock_guard lock(tickMutex_);
        op_.abort();
    }
    tickCv_.notify_all();
}

bool KeyboardTester::startScan() {
    if (!op_.idle()) return false;
    began_ = false;
    return op_.launch([this] {
        scan();
        return op_.sessionOutcome() == Outcome::Succeeded;
    });
}

void KeyboardTester::scan() {
    if (!op_.openLink([this](SetUpStep step, uint32_t index) { logSetUpStep(ui_, step, index); })) return;
    op_.begin(kKeyboardScanning);
    report_.clear();
    const Io first = op_.link().send(kStartScan);
    firstTick_ = std::chrono::steady_clock::now();
    pacing_ = true;
    began_ = true;
    scanReports(first);
}

// A report that is on its way is still waited for: a silent programmer is a
// failure, even when the user has asked to stop.
void KeyboardTester::requestStop() {
    {
        std::lock_guard lock(tickMutex_);
        op_.requestStop();
    }
    tickCv_.notify_all();
}

void KeyboardTester::tick() {
    {
        std::lock_guard lock(tickMutex_);
        ticked_ = true;
    }
    tickCv_.notify_all();
}

void KeyboardTester::scanReports(Io io) {
    while (io == Io::Ok) {
        bool overlong = false;
        io = receiveReport(overlong);
        if (io != Io::Ok) break;
        if (overlong) {
            ui_.log(kOverlongLine);
        } else {
            io = showReport();
            if (io != Io::Ok) break;
        }
        if (op_.stopRequested() || !awaitTick()) break;
        report_.clear();
        io = op_.link().send(kNextReport);
    }
    endScan(io);
}

// Collects bytes until a read ends with '&'. A report that would not fit the
// accumulator is read to its end and dropped, never stored past the end.
Io KeyboardTester::receiveReport(bool& overlong) {
    std::vector<uint8_t> piece;
    for (;;) {
        piece.clear();
        Link& link = op_.link();
        if (auto io = link.readSome(piece, kReportCapacity, link.timeouts.reply); io != Io::Ok) return io;
        // Bytes said to be queued that cannot be read: the device is gone.
        if (piece.empty()) return Io::Lost;
        if (report_.size() + piece.size() > kReportCapacity) {
            overlong = true;
            report_.clear();
        }
        if (!overlong) report_.insert(report_.end(), piece.begin(), piece.end());
        if (piece.back() == kReportEnd) return Io::Ok;
    }
}

Io KeyboardTester::showReport() {
    const bool onlyEnd = report_.size() <= 1;
    if (onlyEnd) return Io::Ok;
    for (const auto& pair : reportPairs(report_)) panel_.toggleCell(pair.a, pair.b);
    if (panel_.soundMuted()) return Io::Ok;
    return op_.link().send(kSoundSignal);
}

// Sleeps until the clock's next tick, a tick brought forward or a stop; false
// on a stop.
bool KeyboardTester::awaitTick() {
    const auto sinceFirst = std::chrono::steady_clock::now() - firstTick_;
    const auto nextTick = firstTick_ + (sinceFirst / tickInterval + 1) * tickInterval;
    std::unique_lock lock(tickMutex_);
    ticked_ = false;
    waiting_ = true;
    tickCv_.wait_until(lock, nextTick, [this] { return ticked_ || op_.stopRequested(); });
    waiting_ = false;
    return !op_.stopRequested();
}

void KeyboardTester::endScan(Io io) {
    const bool failed = io != Io::Ok && io != Io::Stopped;
    if (failed) op_.logFailure(io);
    pacing_ = false;
    op_.finish({.success = !failed});
}

}  // namespace kj
