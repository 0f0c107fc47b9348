// A programmer firmware, named once: the families that talk to it and the
// simulator that plays it refer to the same constant, never to its text. The
// name is the one its handshake reply carries.
#pragma once

#include <string_view>

namespace kj {

struct FirmwareId {
    std::string_view name;

    // Where a firmware is looked up by its name (a bridge, the simulator).
    constexpr operator std::string_view() const { return name; }
    friend constexpr bool operator==(const FirmwareId&, const FirmwareId&) = default;
};

// The firmwares the programmer ships with. A family with a firmware of its
// own declares it beside its descriptor.
namespace firmware {
inline constexpr FirmwareId kV41{"V41"};
inline constexpr FirmwareId kV42{"V42"};
inline constexpr FirmwareId kIte{"ITE"};
inline constexpr FirmwareId kNpce{"NPCE"};
}  // namespace firmware

}  // namespace kj
