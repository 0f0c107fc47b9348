#include "keyboard/keyboard.h"

namespace kj {

namespace {
constexpr Language kLanguage = Language::English;
constexpr std::string_view kOverlongLine = "The programmer's report is longer than 1024 bytes and is discarded.";
// Long enough for the worker to see the stop at its next wait and run the end steps.
constexpr Millis kShutdownWait{10000};
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

KeyboardTester::KeyboardTester(Bridge& bridge, Frontend& ui, KeyboardPanel& panel, ScanTimer& timer)
    : ui_(ui), panel_(panel), timer_(timer), link_(bridge, ui) {
    link_.setStopFlag(&stop_);
    report_.reserve(kReportCapacity);
}

KeyboardTester::~KeyboardTester() {
    if (operation_.waitIdle(Millis{0})) return;
    requestStop();
    operation_.waitIdle(kShutdownWait);
}

bool KeyboardTester::startScan() {
    if (!operation_.isIdle()) return false;
    if (link_.open(variants::kKeyboard) != kLinkOpen) return false;
    operation_.set(kKeyboardScanning);
    report_.clear();
    ui_.operationStarted(kKeyboardScanning);
    stop_ = false;
    // The worker starts after the first command: the device has one caller at a time.
    const Io first = link_.send(kStartScan);
    timer_.enable();
    startWorker(operation_, [this, first] { ReadThread_keyboard(first); });
    return true;
}

void KeyboardTester::requestStop() {
    {
        std::lock_guard lock(tickMutex_);
        stop_ = true;
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

void KeyboardTester::ReadThread_keyboard(Io io) {
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
        if (stop_ || !awaitTick()) break;
        report_.clear();
        io = link_.send(kNextReport);
    }
    endScan(io);
}

// Collects bytes until a read ends with '&'. A report that would not fit the
// accumulator is read to its end and dropped, never stored past the end.
Io KeyboardTester::receiveReport(bool& overlong) {
    std::vector<uint8_t> piece;
    for (;;) {
        piece.clear();
        if (auto io = link_.readSome(piece, kReportCapacity, link_.timeouts.reply); io != Io::Ok) return io;
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
    return link_.send(kSoundSignal);
}

// False when a stop was asked for while waiting.
bool KeyboardTester::awaitTick() {
    std::unique_lock lock(tickMutex_);
    ticked_ = false;
    waiting_ = true;
    tickCv_.wait_for(lock, tickWaitLimit, [this] { return ticked_ || stop_.load(); });
    waiting_ = false;
    return !stop_;
}

// The name goes back to "NONE" last: a new scan may open the link only after
// this one has closed it.
void KeyboardTester::endScan(Io io) {
    const bool failed = io != Io::Ok && io != Io::Stopped;
    if (failed) ui_.log(ioFailureLine(io, kLanguage));
    stop_ = false;
    timer_.disable();
    link_.send(kEndScan);
    link_.close();
    succeeded_ = !failed;
    ui_.operationEnded();
    operation_.setIdle();
}

}  // namespace kj
