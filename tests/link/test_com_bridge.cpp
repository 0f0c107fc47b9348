// The COM-port backend's device list: the link walks it from the last index
// down, so the FTDI ports must sit at its end, the lowest number last.
#include <gtest/gtest.h>

#include "link/com_bridge.h"

namespace kjtest {
namespace {

std::vector<std::string> names(const std::vector<kj::ComPort>& ports) {
    std::vector<std::string> out;
    for (const auto& port : ports) out.push_back(port.name);
    return out;
}

TEST(ComBridge, TheLinkTriesFtdiPortsFirstLowestNumberFirstThenTheOthers) {
    const auto ordered = kj::inLinkOrder({{.name = "COM10"},
                                          {.name = "COM12", .ftdi = true},
                                          {.name = "COM3", .ftdi = true, .latencyMs = 16},
                                          {.name = "COM1"},
                                          {.name = "COM4", .ftdi = true}});
    EXPECT_EQ(names(ordered), (std::vector<std::string>{"COM10", "COM1", "COM12", "COM4", "COM3"}));
    EXPECT_EQ(kj::latencyAdvice(ordered.back()),
              "The latency timer of COM3 is 16 ms; the programmer works faster with 2 ms: Device Manager → "
              "Ports (COM & LPT) → COM3 → Properties → Port Settings → Advanced → Latency Timer.");
}

TEST(ComBridge, APortThatIsNotThereIsNotOpenedAndNeedsNoAdvice) {
    kj::ComBridge bridge({"COM250"});
    uint32_t count = 0;
    ASSERT_EQ(bridge.createDeviceInfoList(count), kj::FtStatus::Ok);
    EXPECT_EQ(count, 1u);
    std::unique_ptr<kj::BridgeDevice> device;
    EXPECT_EQ(bridge.open(0, device), kj::FtStatus::DeviceNotOpened);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(bridge.lastOpenAdvice(), "");
}

}  // namespace
}  // namespace kjtest
