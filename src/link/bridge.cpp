#include "link/bridge.h"

#include <cstdio>

namespace kj {

const char* toString(FtStatus s) {
    switch (s) {
        case FtStatus::Ok: return "OK";
        case FtStatus::InvalidHandle: return "invalid handle";
        case FtStatus::DeviceNotFound: return "device not found";
        case FtStatus::DeviceNotOpened: return "device not opened";
        case FtStatus::IoError: return "I/O error";
        case FtStatus::InsufficientResources: return "insufficient resources";
        case FtStatus::InvalidParameter: return "invalid parameter";
        case FtStatus::DeviceLost: return "device lost";
    }
    return "unknown";
}

std::string driverVersionText(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%X.%02X.%02X", (version >> 16) & 0xFFu, (version >> 8) & 0xFFu, version & 0xFFu);
    return text;
}

}  // namespace kj
