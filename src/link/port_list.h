// The first steps of every search for the programmer: list the ports, say
// when there is none and how to fix that, and count them.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/frontend.h"
#include "link/bridge.h"

namespace kj {

inline constexpr std::string_view kNoPortLine = "VCOM port is not found on the machine!";

// What a technician can do about a missing jig on this platform.
#ifdef _WIN32
inline constexpr std::string_view kNoPortFix =
    "Check the jig's USB cable and that Device Manager shows it under Ports with the FTDI driver installed.";
#else
inline constexpr std::string_view kNoPortFix =
    "Check the jig's USB cable (it shows up as /dev/ttyUSB*), join the dialout group "
    "(sudo usermod -aG dialout $USER, then log in again), or name the port with --port PATH.";
#endif

// Lists the bridge's ports and logs the outcome: the list failure, the ports
// named but missing, and then the count, or that there is none with the fix.
// False when there is nothing to try; `count` is the number of ports.
bool listPorts(Bridge& bridge, LogSink& log, uint32_t& count);

}  // namespace kj
