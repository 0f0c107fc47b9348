#include <gtest/gtest.h>

#include "link/port_list.h"
#include "operation/connection_test.h"
#include "sim/sim_bridge.h"
#include "support/recording_frontend.h"

using namespace kj;
using kjsim::Programmer;
using kjsim::SimBridge;
using kjsim::SimSlot;
using Lines = std::vector<std::string>;

TEST(ConnectionTest, ListsEveryOpenableDeviceFromTheTopWithItsAnswer) {
    auto prog = SimSlot::programmer(std::make_shared<Programmer>("V41"));
    auto silent = SimSlot::silent();
    SimBridge bridge({prog, SimSlot::unopenable(), silent});
    kjtest::RecordingFrontend log;
    EXPECT_TRUE(runConnectionTest(bridge, log)) << "some device answered";
    EXPECT_EQ(log.lines(), (Lines{"", "Number of VCOM ports found on the machine: 3", ">>>", "Open VCOM2",
                                  "FTDI DRIVER version -> 2.12.24", "No answer", ">>>", "Open VCOM0",
                                  "FTDI DRIVER version -> 2.12.24", "PROG version FW -> V41"}));
    EXPECT_EQ(prog->calls(), (std::vector<std::string>{"open", "reset", "baud 921600", "data 8 0 0", "timeouts 500 500",
                                                       "write 1", "close"}));
    EXPECT_FALSE(silent->isOpen());
}

TEST(ConnectionTest, ShowsALongReplyInFull) {
    const std::string reply = "NPCE_V1.7 build 2016-05\r\n";
    SimBridge bridge({SimSlot::programmer(std::make_shared<Programmer>("NPCE", reply))});
    kjtest::RecordingFrontend log;
    runConnectionTest(bridge, log);
    EXPECT_EQ(log.lines().back(), "PROG version FW -> NPCE_V1.7 build 2016 05  ");
}

TEST(ConnectionTest, NoDeviceAndNoListEachGiveOneLine) {
    SimBridge none;
    kjtest::RecordingFrontend log;
    EXPECT_FALSE(runConnectionTest(none, log));
    EXPECT_EQ(log.lines(), (Lines{"", "VCOM port is not found on the machine!", std::string(kNoPortFix)}));
    SimBridge broken({SimSlot::silent()});
    broken.failDeviceList(true);
    kjtest::RecordingFrontend log2;
    runConnectionTest(broken, log2);
    EXPECT_EQ(log2.lines(), (Lines{"", "I can not get a list of VCOM ports"}));
}

TEST(ConnectionTest, APortWithoutPermissionSaysHowToGetAccess) {
    const std::string advice = "Permission denied on /dev/ttyUSB1: add yourself to the dialout group";
    SimBridge bridge({SimSlot::programmer(std::make_shared<Programmer>("V41")), SimSlot::unopenable(advice)});
    kjtest::RecordingFrontend log;
    runConnectionTest(bridge, log);
    EXPECT_EQ(log.lines(), (Lines{"", "Number of VCOM ports found on the machine: 2", advice, ">>>", "Open VCOM0",
                                  "FTDI DRIVER version -> 2.12.24", "PROG version FW -> V41"}));
}
