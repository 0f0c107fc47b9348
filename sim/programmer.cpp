#include "sim/programmer.h"

namespace kjsim {

namespace {
constexpr uint8_t kHandshake = 'B';
constexpr uint8_t kSuccessEnd = 'I';
constexpr uint8_t kFailureEnd = 'O';
constexpr uint8_t kMecClosing = '0';
constexpr uint8_t kNpceEndAnswer = 0x55;
}  // namespace

std::string defaultVersion(Family family) {
    switch (family) {
        case Family::V41: return "V41";
        case Family::V42: return "V42";
        case Family::Ite: return "ITE_V2.3\r\n";
        case Family::Npce: return "NPCE_V1.7\r\n";
    }
    return {};
}

Family familyByName(const std::string& name, bool& ok) {
    ok = true;
    if (name == "V41") return Family::V41;
    if (name == "V42") return Family::V42;
    if (name == "ITE") return Family::Ite;
    if (name == "NPCE") return Family::Npce;
    ok = false;
    return Family::V41;
}

Programmer::Programmer(Family family) : Programmer(family, defaultVersion(family)) {}

Programmer::Programmer(Family family, std::string versionReply) : family_(family), version_(std::move(versionReply)) {}

void Programmer::addChip(std::shared_ptr<ChipModel> chip) { chips_.push_back(std::move(chip)); }

bool Programmer::isEndByte(uint8_t byte) const {
    if (byte == kSuccessEnd || byte == kFailureEnd) return true;
    return family_ == Family::V42 && byte == kMecClosing;
}

void Programmer::recordEnd(uint8_t byte) {
    std::lock_guard lock(mutex_);
    ends_.push_back(static_cast<char>(byte));
}

std::string Programmer::endBytes() const {
    std::lock_guard lock(mutex_);
    return ends_;
}

void Programmer::run(Wire& wire) {
    for (;;) {
        const uint8_t command = wire.get();
        if (command == kHandshake) {
            wire.reply(version_);
            continue;
        }
        bool taken = false;
        for (auto& chip : chips_) {
            if (chip->handle(command, wire)) {
                taken = true;
                break;
            }
        }
        if (taken) continue;
        if (isEndByte(command)) {
            recordEnd(command);
            if (answersEndBytes()) wire.reply(kNpceEndAnswer);
        }
        // Anything else is ignored, as the firmware does with noise.
    }
}

}  // namespace kjsim
