// The D2XX backend against the project's stand-in ftd2xx.dll, which plays the
// simulated bench behind FTDI's calls: the connection test's lines, and a whole
// EDID read into a file with a Cyrillic name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "edid/edid.h"
#include "link/d2xx_bridge.h"
#include "operation/connection_test.h"
#include "sim/bench.h"
#include "sim/eeprom_chip.h"
#include "support/recording_frontend.h"
#include "support/scratch.h"

namespace kjtest {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr kj::Millis kHangBound{10000};

Bytes readWide(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(D2xxBridge, ConnectionTestAndAnEdidReadGoThroughTheLibrary) {
    EXPECT_EQ(kj::D2xxBridge::load(L"no-such-ftd2xx.dll"), nullptr);
    auto bridge = kj::D2xxBridge::load(fs::path(KJ_D2XX_STANDIN).make_preferred().wstring());
    ASSERT_NE(bridge, nullptr);

    RecordingFrontend test;
    EXPECT_TRUE(kj::runConnectionTest(*bridge, test));
    EXPECT_EQ(test.lines(), (Lines{"", "Number of VCOM ports found on the machine: 1", "FTDI device 0 is COM3.", ">>>",
                                   "Open VCOM0", "FTDI DRIVER version -> 2.12.24", "PROG version FW -> V41"}));

    ScratchDir dir;
    const fs::path image = dir.path() / fs::u8path("панель.bin");
    RecordingFrontend ui;
    const std::u8string name = image.u8string();
    ui.chooseNext(std::string(name.begin(), name.end()));
    kj::ImageTool edid(*bridge, ui, kj::edid::kFamily);
    edid.operation().link().timeouts.reply = kHangBound;
    edid.operation().link().timeouts.slowStep = kHangBound;
    edid.startRead();
    ASSERT_TRUE(edid.operation().waitIdle(kHangBound));
    EXPECT_TRUE(edid.operation().lastSucceeded());
    EXPECT_EQ(readWide(image), kjsim::builtInPanelEdid());
    EXPECT_TRUE(ui.errors().empty());
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir.path())) files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<fs::path>{image.filename()}) << "no temporary file is left";
}

}  // namespace
}  // namespace kjtest
