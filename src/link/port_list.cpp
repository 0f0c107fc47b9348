#include "link/port_list.h"

#include <string>

namespace kj {

bool listPorts(Bridge& bridge, LogSink& log, uint32_t& count) {
    count = 0;
    if (bridge.createDeviceInfoList(count) != FtStatus::Ok) {
        log.log("I can not get a list of VCOM ports");
        return false;
    }
    for (const auto& line : bridge.lastListAdvice()) log.log(line);
    if (count == 0) {
        log.log(kNoPortLine);
        log.log(kNoPortFix);
        return false;
    }
    log.log("Number of VCOM ports found on the machine: " + std::to_string(count));
    return true;
}

}  // namespace kj
