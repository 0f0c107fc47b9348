#include "sim/keyboard_chip.h"

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
    }
    ++requests_;
    wire.replyInPieces(report.bytes, report.pieces, pieceGap);
}

namespace {
constexpr ChipEntry kKeyboard{
    .name = "keyboard",
    .firmware = "V41",
    .make = [](const BenchOptions&) -> std::shared_ptr<ChipModel> {
        return std::make_shared<KeyboardChip>(KeyboardChip::demoScript(), true);
    },
};
KJ_REGISTER(ChipEntry, kKeyboard)
}  // namespace

}  // namespace kjsim
