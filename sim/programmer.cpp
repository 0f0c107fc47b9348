#include "sim/programmer.h"

#include <algorithm>
#include <stdexcept>

namespace kjsim {

namespace {
constexpr uint8_t kHandshake = 'B';
constexpr uint8_t kSuccessEnd = 'I';
constexpr uint8_t kFailureEnd = 'O';

const Firmware& registered(std::string_view name) {
    const Firmware* firmware = findFirmware(name);
    if (!firmware) throw std::invalid_argument("unknown family \"" + std::string(name) + "\"");
    return *firmware;
}
}  // namespace

const Firmware* findFirmware(std::string_view name) {
    for (const Firmware* firmware : kj::Registry<Firmware>::entries())
        if (firmware->id.name == name) return firmware;
    return nullptr;
}

std::vector<const Firmware*> firmwares() {
    auto all = kj::Registry<Firmware>::entries();
    std::sort(all.begin(), all.end(), [](const Firmware* a, const Firmware* b) { return a->id.name < b->id.name; });
    return all;
}

Programmer::Programmer(std::string_view firmware) : firmware_(registered(firmware)), version_(firmware_.version) {}

Programmer::Programmer(std::string_view firmware, std::string versionReply)
    : firmware_(registered(firmware)), version_(std::move(versionReply)) {}

void Programmer::addChip(std::shared_ptr<ChipModel> chip) { chips_.push_back(std::move(chip)); }

bool Programmer::isEndByte(uint8_t byte) const {
    if (byte == kSuccessEnd || byte == kFailureEnd) return true;
    return firmware_.closingBytes.find(static_cast<char>(byte)) != std::string_view::npos;
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
            if (firmware_.answersEndBytes) wire.reply(firmware_.endAnswer);
        }
        // Anything else is ignored, as the firmware does with noise.
    }
}

}  // namespace kjsim
