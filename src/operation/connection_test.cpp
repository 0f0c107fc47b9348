#include "operation/connection_test.h"

#include <memory>
#include <vector>

#include "common/text.h"
#include "link/link.h"
#include "link/port_list.h"

namespace kj {

const Family kConnectionTestFamily{.name = "test-connect", .firmware = firmware::kV41};

namespace {

std::vector<uint8_t> askVersion(BridgeDevice& device) {
    device.resetDevice();
    device.setBaudRate(kBaudRate);
    device.setDataCharacteristics(kDataBits8, kStopBits1, kParityNone);
    device.setTimeouts(kConnectionTestTimeoutMs, kConnectionTestTimeoutMs);
    return readVersionReply(device, kVersionReplyMax, Millis{kConnectionTestTimeoutMs});
}

}  // namespace

bool runConnectionTest(Bridge& bridge, LogSink& log) {
    log.log("");
    uint32_t count = 0;
    if (!listPorts(bridge, log, count)) return false;
    bool answered = false;
    for (uint32_t index = count; index-- > 0;) {
        std::unique_ptr<BridgeDevice> device;
        const bool opened = bridge.open(index, device) == FtStatus::Ok && device;
        // Silent, unless the user can do something about it.
        if (auto advice = bridge.lastOpenAdvice(); !advice.empty()) log.log(advice);
        if (!opened) continue;
        log.log(">>>");
        log.log("Open VCOM" + std::to_string(index));
        uint32_t version = 0;
        device->getDriverVersion(version);
        log.log("FTDI DRIVER version -> " + driverVersionText(version));
        const auto reply = askVersion(*device);
        log.log(reply.empty() ? std::string("No answer") : "PROG version FW -> " + bytesToText(reply));
        answered = answered || !reply.empty();
        device->close();
    }
    return answered;
}

}  // namespace kj
