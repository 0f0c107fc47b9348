#include "sim/keyboard_chip.h"

#include <stdexcept>

#include "sim/bench.h"

namespace kjsim {

namespace {
constexpr uint8_t kStartScan = 'u';
constexpr uint8_t kNextReport = 'U';
constexpr uint8_t kSound = 'I';
constexpr uint8_t kQuit = 'Q';
constexpr uint8_t kGroup = '>';
constexpr uint8_t kReportEnd = '&';
}  // namespace

KeyboardChip::KeyboardChip(std::vector<Report> script, bool loop) { setScript(std::move(script), loop); }

std::vector<KeyboardChip::Report> KeyboardChip::reports(std::vector<Bytes> plain) {
    std::vector<Report> out;
    for (auto& bytes : plain) out.push_back({std::move(bytes), {}});
    return out;
}

std::vector<KeyboardChip::Report> KeyboardChip::demoScript() {
    const Bytes nothing = {kReportEnd};
    return reports({
        nothing,
        {kGroup, 1, 2, kReportEnd},
        nothing,
        {kGroup, 1, 2, 5, kGroup, 3, 4, kReportEnd},
        nothing,
        {kGroup, 7, 20, kGroup, 12, 31, 32, kReportEnd},
        nothing,
        nothing,
    });
}

void KeyboardChip::setScript(std::vector<Report> script, bool loop) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
    loop_ = loop;
    next_ = 0;
}

void KeyboardChip::setFaults(KeyboardFaults faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

std::string KeyboardChip::requestLog() const {
    std::lock_guard lock(mutex_);
    return requestLog_;
}

bool KeyboardChip::handle(uint8_t command, Wire& wire) {
    switch (command) {
        case kStartScan:
            scanning_ = true;
            answerRequest(command, wire);
            return true;
        case kNextReport: answerRequest(command, wire); return true;
        case kQuit:
            scanning_ = false;
            ++quits_;
            return true;
        case kSound:
            // Outside a scan 'I' is the programmer's success end byte.
            if (!scanning_) return false;
            ++beeps_;
            return true;
        default: return false;
    }
}

void KeyboardChip::answerRequest(uint8_t command, Wire& wire) {
    Report report{{kReportEnd}, {}};
    {
        std::lock_guard lock(mutex_);
        requestLog_.push_back(static_cast<char>(command));
        if (loop_ && next_ == script_.size()) next_ = 0;
        if (next_ < script_.size()) report = script_[next_++];
        if (const auto shorted = faults_.shortedLines) {
            const Bytes group = {kGroup, shorted->first, shorted->second};
            report.bytes.insert(report.bytes.begin(), group.begin(), group.end());
            if (!report.pieces.empty()) report.pieces.front() += group.size();
        }
    }
    ++requests_;
    wire.replyInPieces(report.bytes, report.pieces, pieceGap);
}

namespace {
// "A-B": two lines of the connector, A below B.
std::pair<uint8_t, uint8_t> linePair(const std::string& flag, const std::string& value) {
    const size_t dash = value.find('-');
    if (dash == std::string::npos) throw std::invalid_argument(flag + " needs two lines as A-B, not \"" + value + "\"");
    const long a = argumentInRange(flag, value.substr(0, dash), 1, 31);
    const long b = argumentInRange(flag, value.substr(dash + 1), a + 1, 32);
    return {static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
}

constexpr ChipFlag kFlags[] = {
    {"--keyboard-short", "A-B", "keyboard: lines A and B shorted together, closed in every report from the first",
     [](BenchOptions& o, const std::string& f, const std::string& v) {
         o.chipFaults<KeyboardFaults>().shortedLines = linePair(f, v);
     }},
};

constexpr ChipEntry kKeyboard{
    .name = "keyboard",
    .firmware = kj::firmware::kV41,
    .make = [](const BenchOptions& options) -> std::shared_ptr<ChipModel> {
        auto chip = std::make_shared<KeyboardChip>(KeyboardChip::demoScript(), true);
        chip->setFaults(options.chipFaults<KeyboardFaults>());
        return chip;
    },
    .flags = kFlags,
};
KJ_REGISTER(ChipEntry, kKeyboard)
}  // namespace

}  // namespace kjsim
