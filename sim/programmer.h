// A simulated programmer: a firmware family's main loop plus the chips on the
// bench behind it. The chips' state (flash, EEPROM) belongs to the bench and
// survives link set-ups; the firmware loop starts afresh with each one.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/wire.h"

namespace kjsim {

enum class Family { V41, V42, Ite, Npce };

// The firmware's answer to 'B' for each family, as shipped by default.
std::string defaultVersion(Family family);
Family familyByName(const std::string& name, bool& ok);

// One chip model behind the programmer. `handle` gets each command byte the
// family loop does not consume itself and returns false when it is not its own.
class ChipModel {
public:
    virtual ~ChipModel() = default;
    virtual bool handle(uint8_t command, Wire& wire) = 0;
};

class Programmer {
public:
    explicit Programmer(Family family);
    Programmer(Family family, std::string versionReply);

    Family family() const { return family_; }
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
    bool answersEndBytes() const { return family_ == Family::Npce; }
    bool isEndByte(uint8_t byte) const;

    Family family_;
    std::string version_;
    std::vector<std::shared_ptr<ChipModel>> chips_;
    mutable std::mutex mutex_;
    std::string ends_;
};

}  // namespace kjsim
