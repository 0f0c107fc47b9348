// A simulated programmer: a firmware family's main loop plus the chips on the
// bench behind it. The chips' state (flash, EEPROM) belongs to the bench and
// survives link set-ups; the firmware loop starts afresh with each one.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/registry.h"
#include "link/firmware_id.h"
#include "sim/wire.h"

namespace kjsim {

// What sets one programmer firmware apart from the others, as data. Each
// registers itself from the file of the chip it is made for.
struct Firmware {
    kj::FirmwareId id;                // as the product names it
    std::string_view version;         // its answer to 'B', as shipped
    std::string_view closingBytes{};  // end bytes it takes besides 'I' and 'O'
    bool answersEndBytes = false;     // each end byte gets `endAnswer` back
    uint8_t endAnswer = 0;
};

// Null for a name no firmware has.
const Firmware* findFirmware(std::string_view name);
// Every registered firmware, by name.
std::vector<const Firmware*> firmwares();

// One chip model behind the programmer. `handle` gets each command byte the
// family loop does not consume itself and returns false when it is not its own.
class ChipModel {
public:
    virtual ~ChipModel() = default;
    virtual bool handle(uint8_t command, Wire& wire) = 0;
};

class Programmer {
public:
    // Throws std::invalid_argument for a firmware that is not registered.
    explicit Programmer(std::string_view firmware);
    Programmer(std::string_view firmware, std::string versionReply);

    const Firmware& firmware() const { return firmware_; }
    const std::string& versionReply() const { return version_; }
    void addChip(std::shared_ptr<ChipModel> chip);

    // The firmware main loop; returns when the wire stops.
    void run(Wire& wire);

    // End bytes ('I', 'O', and the closing '0' where the family has one) in the
    // order received, across link set-ups.
    std::string endBytes() const;
    Faults faults;

private:
    void recordEnd(uint8_t byte);
    bool isEndByte(uint8_t byte) const;

    const Firmware& firmware_;
    std::string version_;
    std::vector<std::shared_ptr<ChipModel>> chips_;
    mutable std::mutex mutex_;
    std::string ends_;
};

}  // namespace kjsim
