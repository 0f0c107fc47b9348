#include "keyboard/keyboard.h"

#include <filesystem>
#include <utility>

#include "common/image_file.h"
#include "common/registry.h"

namespace kj {

const Family keyboard::kFamily{
    .place = 2,
    .name = "keyboard",
    .launcherButton = "Keyboard",
    .launcherCaption = "Keyboard testing",
    .firmware = firmware::kV41,
    .link = {.latencyFirst = true, .accept = firmware::kV41.name, .notFoundLine = kNotFoundArrowLine},
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

// "Keyboard Lenovo_G580: 84 keys." and the lines of its file that were skipped.
std::string profileLine(const LoadedProfile& loaded) {
    std::string line = "Keyboard " + loaded.profile.model + ": " + std::to_string(loaded.profile.keys.size()) + " keys";
    if (loaded.badLines > 0)
        line += "; " + std::to_string(loaded.badLines) + (loaded.badLines == 1 ? " bad line" : " bad lines") +
                " of its file skipped";
    return line + ".";
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
        case CellColour::Short: return kFuchsia;
    }
    return kAqua;
}

const char* colourName(CellColour colour) {
    switch (colour) {
        case CellColour::Aqua: return "aqua";
        case CellColour::Red: return "red";
        case CellColour::Yellow: return "yellow";
        case CellColour::Short: return "short?";
    }
    return "";
}

// ---- the board ----

namespace keyboard {

namespace {
std::string joined(const std::string& head, const std::vector<std::string>& items) {
    std::string text = head;
    for (const auto& item : items) text += " " + item;
    return items.empty() ? text + " none" : text;
}
}  // namespace

void ScanBoard::begin(KeyboardProfile profile) {
    std::lock_guard lock(mutex_);
    profile_ = std::move(profile);
    firstReport_ = true;
    shorts_.clear();
    closed_.clear();
    toLearn_.reset();
    if (!profile_.keys.empty()) ui_.show(KeysLeft{keysLeft()});
}

void ScanBoard::beginLearning(std::vector<std::string> keys) {
    begin({});
    std::lock_guard lock(mutex_);
    toLearn_ = std::move(keys);
    asked_ = 0;
    promptNext();
}

// Learning, the list holds what was learnt (and the shorts) rather than every
// pair as it first closed: a pair may close before its key is asked for.
void ScanBoard::show(const std::vector<LinePair>& pairs) {
    std::lock_guard lock(mutex_);
    const bool first = std::exchange(firstReport_, false);
    if (first) shorts_.insert(pairs.begin(), pairs.end());
    const auto learnt = toLearn_ ? learnFrom(pairs) : std::nullopt;
    bool pressed = false;
    for (const LinePair& pair : pairs) {
        const CellColour was = colours_.colour(pair);
        const CellColour now = isShort(pair) ? CellColour::Short : toggled(was);
        colours_.set(pair, now);
        const std::string key = profile_.keyOf(pair);
        if (now != was) ui_.show(CellEvent{pair, now, key});
        if (!closed_.insert(pair).second || (toLearn_ && !isShort(pair))) continue;
        ui_.show(PairClosed{listed(pair), isShort(pair)});
        pressed = pressed || (!key.empty() && !isShort(pair));
    }
    if (learnt) ui_.show(PairClosed{listed(*learnt)});
    if (pressed) ui_.show(KeysLeft{keysLeft()});
}

// The first pair of the report that no key has yet, and that was not closed
// from the start, is the key asked for.
std::optional<LinePair> ScanBoard::learnFrom(const std::vector<LinePair>& pairs) {
    if (asked_ >= toLearn_->size()) return std::nullopt;
    for (const LinePair& pair : pairs) {
        if (isShort(pair) || !profile_.keyOf(pair).empty()) continue;
        profile_.keys.push_back({(*toLearn_)[asked_++], pair});
        promptNext();
        return pair;
    }
    return std::nullopt;
}

void ScanBoard::promptNext() { ui_.show(LearnPrompt{asked_ < toLearn_->size() ? (*toLearn_)[asked_] : ""}); }

void ScanBoard::skipKey() {
    std::lock_guard lock(mutex_);
    if (!toLearn_ || asked_ >= toLearn_->size()) return;
    ++asked_;
    promptNext();
}

void ScanBoard::clear() {
    std::lock_guard lock(mutex_);
    colours_.clear();
    ui_.show(CellsCleared{});
}

CellColour ScanBoard::colour(LinePair pair) const {
    std::lock_guard lock(mutex_);
    return colours_.colour(pair);
}

bool ScanBoard::learning() const {
    std::lock_guard lock(mutex_);
    return toLearn_.has_value();
}

KeyboardProfile ScanBoard::profile() const {
    std::lock_guard lock(mutex_);
    return profile_;
}

std::vector<std::string> ScanBoard::keysLeft() const {
    std::vector<std::string> keys;
    for (const auto& [key, pair] : profile_.keys)
        if (!closed_.contains(pair) || isShort(pair)) keys.push_back(key);
    return keys;
}

std::string ScanBoard::listed(LinePair pair) const {
    const std::string name = pairName(pair, profile_.keyOf(pair));
    return isShort(pair) ? name + " short?" : name;
}

std::vector<std::string> ScanBoard::summary() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> pairs;
    for (const LinePair& pair : closed_) pairs.push_back(listed(pair));
    std::vector<std::string> lines = {joined("Closed pairs:", pairs)};
    if (!profile_.keys.empty() && !toLearn_) lines.push_back(joined("Keys not pressed:", keysLeft()));
    return lines;
}

}  // namespace keyboard

// ---- the scan ----

KeyboardTester::KeyboardTester(Bridge& bridge, Frontend& ui)
    : op_(bridge, ui, keyboard::kFamily), ui_(op_.ui()), board_(op_.ui()) {
    report_.reserve(kReportCapacity);
}

// The worker is waited for before the state it uses goes; it must not sit out a tick first.
KeyboardTester::~KeyboardTester() {
    {
        std::lock_guard lock(tickMutex_);
        op_.abort();
    }
    tickCv_.notify_all();
    op_.join();
}

bool KeyboardTester::startScan(LoadedProfile profile) {
    return launch([this, profile = std::move(profile)]() mutable {
        if (!profile.profile.model.empty()) ui_.log(profileLine(profile));
        board_.begin(std::move(profile.profile));
    });
}

bool KeyboardTester::startLearning(std::vector<std::string> keys) {
    {
        std::lock_guard lock(modelMutex_);
        model_.clear();
    }
    return launch([this, keys = std::move(keys)]() mutable { board_.beginLearning(std::move(keys)); });
}

void KeyboardTester::finishLearning(std::string model) {
    {
        std::lock_guard lock(modelMutex_);
        model_ = std::move(model);
    }
    requestStop();
}

bool KeyboardTester::launch(std::function<void()> beginBoard) {
    if (!op_.idle()) return false;
    began_ = false;
    return op_.launch([this, beginBoard = std::move(beginBoard)] {
        scan(beginBoard);
        return op_.sessionOutcome() == Outcome::Succeeded;
    });
}

void KeyboardTester::scan(const std::function<void()>& beginBoard) {
    if (!op_.openLink([this](SetUpStep step, uint32_t index) { logSetUpStep(ui_, step, index); })) return;
    op_.begin(kKeyboardScanning);
    beginBoard();
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
            board_.show({});
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

// Every whole report counts, a lone '&' too: only the first one tells shorts.
Io KeyboardTester::showReport() {
    board_.show(reportPairs(report_));
    const bool onlyEnd = report_.size() <= 1;
    if (onlyEnd || muted_) return Io::Ok;
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

void KeyboardTester::saveLearnt() {
    std::string model;
    {
        std::lock_guard lock(modelMutex_);
        model = model_;
    }
    KeyboardProfile profile = board_.profile();
    if (model.empty()) return ui_.log("Learning stopped: no profile saved.");
    if (profile.keys.empty()) return ui_.log("No key was learnt: no profile saved.");
    profile.model = profileFileName(model);
    const auto path = profilePath(profile.model);
    std::error_code ec;
    if (std::filesystem::exists(path, ec) &&
        !ui_.confirm("A profile of the keyboard " + profile.model + " exists. Replace it?", Ask::Destroy)) {
        return ui_.log("The profile of the keyboard " + profile.model + " is kept as it was.");
    }
    std::string error;
    if (!saveProfile(profile, error)) return ui_.log(error);
    ui_.log("Keyboard " + profile.model + ": " + std::to_string(profile.keys.size()) + " keys learnt, saved in " +
            utf8Of(path) + ".");
    ui_.show(keyboard::ProfileSaved{profile.model});
}

void KeyboardTester::endScan(Io io) {
    const bool failed = io != Io::Ok && io != Io::Stopped;
    if (failed) op_.logFailure(io);
    pacing_ = false;
    if (began_) {
        for (const auto& line : board_.summary()) ui_.log(line);
        if (board_.learning()) saveLearnt();
    }
    op_.finish({.success = !failed});
}

}  // namespace kj
