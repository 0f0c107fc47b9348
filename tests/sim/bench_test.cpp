#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "link/link.h"
#include "operation/family.h"
#include "raw_client.h"
#include "sim/eeprom_chip.h"
#include "sim/kb90xx_chip.h"
#include "sim/keyboard_chip.h"
#include "support/recording_frontend.h"

namespace kjsim::test {
namespace {

namespace fs = std::filesystem;

// Options with one change from the defaults.
template <typename Change>
BenchOptions options(Change change) {
    BenchOptions o;
    change(o);
    return o;
}

fs::path writeTempFile(const std::string& name, const Bytes& bytes) {
    const fs::path path = fs::temp_directory_path() / ("kj_sim_" + std::to_string(::getpid()) + "_" + name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(SimBench, V41BenchCarriesItsChips) {
    const Bench bench = makeBench({});
    ASSERT_TRUE(bench.find<Kb90xxChip>() && bench.find<EepromChip>() && bench.find<KeyboardChip>());
    EXPECT_EQ(bench.programmer->firmware().id, kj::firmware::kV41);
    EXPECT_EQ(bench.chip<Kb90xxChip>().flash(), Kb90xxChip::patternImage());
    EXPECT_EQ(bench.chip<EepromChip>().flash(), builtInPanelEdid());
}

// The product and the simulator name each firmware by the same constant, and
// agree on who talks to it: every chip holds the image of a family that talks
// to the firmware it sits behind, and every family's link accepts the
// handshake of its firmware's bench.
TEST(SimBench, EveryFamilyIsAcceptedByTheFirmwareItTalksTo) {
    for (const ChipEntry* chip : chipEntries()) {
        if (!chip->family) continue;
        EXPECT_EQ(chip->family->firmware.name, chip->firmware.name) << chip->name;
    }
    for (const kj::Family* family : kj::families()) {
        const Bench bench = makeBench(options([&](BenchOptions& o) { o.family = family->firmware.name; }));
        const auto bridge = makeSimBridge(bench);
        kjtest::RecordingFrontend log;
        kj::Link link(*bridge, log);
        EXPECT_EQ(link.open(family->link), kj::kLinkOpen) << family->name;
    }
}

TEST(SimBench, VersionTextReplacesTheDefault) {
    const Bench bench = makeBench(options([](BenchOptions& o) { o.version = "V40"; }));
    RawClient client(makeSimBridge(bench));
    client.send('B');
    EXPECT_EQ(client.receiveText(3), "V40");
}

TEST(SimBench, ImageFilesAreLoadedAndPadded) {
    const fs::path flash = writeTempFile("flash.bin", Bytes(1000, 0x12));
    const fs::path eeprom = writeTempFile("eeprom.bin", Bytes(300, 0x34));
    const Bench bench = makeBench(options([&](BenchOptions& o) {
        o.flashFile = flash.string();
        o.eepromFile = eeprom.string();
    }));
    fs::remove(flash);
    fs::remove(eeprom);
    Bytes expectedFlash(1000, 0x12);
    expectedFlash.resize(kKbFlashSize, 0xFF);
    EXPECT_EQ(bench.chip<Kb90xxChip>().flash(), expectedFlash);
    EXPECT_EQ(bench.chip<EepromChip>().flash(), Bytes(kEepromSize, 0x34));
}

TEST(SimBench, MissingImageFileIsAnError) {
    EXPECT_THROW(makeBench(options([](BenchOptions& o) { o.flashFile = "/nonexistent/flash.bin"; })),
                 std::runtime_error);
}

TEST(SimBench, NoChipSilencesBothChips) {
    const Bench bench = makeBench(options([](BenchOptions& o) { o.noChip = true; }));
    RawClient client(makeSimBridge(bench));
    client.send('V');
    EXPECT_EQ(client.receive(1), Bytes{0xFF});
    client.send("Er");
    const Bytes reply = client.receive(kEepromSize + 2);
    ASSERT_EQ(reply.size(), kEepromSize + 2);
    EXPECT_EQ(reply[kEepromSize], 'E');
    EXPECT_EQ(reply[kEepromSize + 1], 'R');
}

TEST(SimFaults, SilentFromStepKeepsListeningButSaysNothing) {
    const Bench bench = makeBench(options([](BenchOptions& o) { o.faults.silentFromStep = 2; }));
    RawClient client(makeSimBridge(bench));
    client.send('B');
    EXPECT_EQ(client.receiveText(3), "V41");
    client.send('V');
    EXPECT_EQ(client.queuedAfterQuietWait(), 0u);
    // A device reset starts the step count again.
    ASSERT_EQ(client.device().resetDevice(), kj::FtStatus::Ok);
    client.send('B');
    EXPECT_EQ(client.receiveText(3), "V41");
}

TEST(SimFaults, HangUpLosesTheDevice) {
    const Bench bench = makeBench(options([](BenchOptions& o) { o.faults.hangUpAtStep = 2; }));
    RawClient client(makeSimBridge(bench));
    client.send('B');
    EXPECT_EQ(client.receiveText(3), "V41");
    client.send('R');
    EXPECT_TRUE(client.receive(kKbBlockSize).empty());
    EXPECT_EQ(client.lastStatus(), kj::FtStatus::DeviceLost);
    EXPECT_EQ(client.send('N'), kj::FtStatus::DeviceLost);
    EXPECT_EQ(client.device().resetDevice(), kj::FtStatus::DeviceLost);
}

TEST(SimFaults, ResetMidStreamStartsTheFirmwareAfresh) {
    const Bench bench = makeBench({});
    RawClient client(makeSimBridge(bench));
    client.send('W');
    ASSERT_EQ(client.receive(1).size(), 1u);
    client.send(Bytes(100, 0x00));  // half a block, then the PC gives up
    ASSERT_EQ(client.device().resetDevice(), kj::FtStatus::Ok);
    client.send('B');
    EXPECT_EQ(client.receiveText(3), "V41");
    EXPECT_EQ(bench.chip<Kb90xxChip>().blocksWritten(), 0u);
}

// A dead cell keeps the byte it held through a write that changes every other
// one, and the bench takes no dead cell beyond its chip.
TEST(SimFaults, DeadCellKeepsItsValueThroughAWrite) {
    constexpr size_t kDead = 0x12;
    const Bench bench = makeBench(options([](BenchOptions& o) { o.deadCells["eeprom"] = kDead; }));
    const Bytes before = bench.chip<EepromChip>().flash();
    RawClient client(makeSimBridge(bench));
    client.send("Ew");
    ASSERT_EQ(client.receive(1), Bytes{'>'});
    client.send(Bytes(kEepromSize, 0x42));
    ASSERT_EQ(client.receiveText(2), "OK");
    Bytes expected(kEepromSize, 0x42);
    expected[kDead] = before[kDead];
    ASSERT_NE(expected[kDead], 0x42);
    client.send("Er");
    EXPECT_EQ(client.receive(kEepromSize), expected);
    EXPECT_EQ(client.receiveText(2), "OK");

    EXPECT_THROW(makeBench(options([](BenchOptions& o) { o.deadCells["eeprom"] = kEepromSize; })),
                 std::invalid_argument);
    EXPECT_THROW(makeBench(options([](BenchOptions& o) { o.deadCells["keyboard"] = 0; })), std::invalid_argument);
}

TEST(SimFaults, ChipStateOutlivesTheLink) {
    const Bench bench = makeBench({});
    const auto bridge = makeSimBridge(bench);
    const Bytes image(kEepromSize, 0x42);
    {
        RawClient client(bridge);
        client.send("Ew");
        ASSERT_EQ(client.receive(1).size(), 1u);
        client.send(image);
        ASSERT_EQ(client.receiveText(2), "OK");
        client.device().close();
    }
    RawClient client(bridge);
    client.send("Er");
    const Bytes reply = client.receive(kEepromSize + 2);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + kEepromSize), image);
}

}  // namespace
}  // namespace kjsim::test
