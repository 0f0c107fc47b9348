#include "link/connection_test.h"

#include <memory>
#include <vector>

#include "common/text.h"
#include "link/link.h"

namespace kj {

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
    if (bridge.createDeviceInfoList(count) != FtStatus::Ok) {
        log.log("I can not get a list of VCOM ports");
        return false;
    }
    if (count == 0) {
        log.log("VCOM port is not found on the machine!");
        return false;
    }
    bool answered = false;
    log.log("Number of VCOM ports found on the machine: " + std::to_string(count));
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
        log.log("FTDI DRIVER version -> " + hexUpper(version, 2));
        const auto reply = askVersion(*device);
        log.log(reply.empty() ? std::string("No answer") : "PROG version FW -> " + bytesToText(reply));
        answered = answered || !reply.empty();
        device->close();
    }
    return answered;
}

}  // namespace kj
