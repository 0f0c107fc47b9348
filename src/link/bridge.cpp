#include "link/bridge.h"

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

}  // namespace kj
