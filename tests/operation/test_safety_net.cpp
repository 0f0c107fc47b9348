// The net around every family's sessions, driven over each family's simulated
// bench alike: the backup equals the chip before the write, a dead cell is
// caught, the verify action writes nothing, a blank read is flagged. The
// families come from the registries, so a new one is checked without a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <set>

#include "common/digest.h"
#include "operation/image_tool.h"
#include "sim/flash_chip.h"
#include "support/rig.h"

namespace kjtest {
namespace {

namespace fs = std::filesystem;

struct NetFamily {
    const kj::Family* family;
    const kjsim::ChipEntry* chip;
};

void PrintTo(const NetFamily& f, std::ostream* os) { *os << f.family->name; }

std::vector<NetFamily> netFamilies() {
    std::vector<NetFamily> all;
    for (const kj::Family* family : kj::families()) {
        if (!family->sessions) continue;
        for (const kjsim::ChipEntry* chip : kjsim::chipEntries())
            if (chip->tool == family->name) all.push_back({family, chip});
    }
    return all;
}

// The families whose writes are checked by reading the chip back; the others
// have the chip check itself (a sum, the programmer's verify).
const std::set<std::string_view> kReadBack{"edid", "ite", "mec16"};

class SafetyNet : public ::testing::TestWithParam<NetFamily> {
protected:
    // A technician's own folder is often named in Cyrillic.
    SafetyNet() : home_(dataFolder()) {}
    fs::path dataFolder() const { return data_.path() / fs::path(u8"Техник"); }

    void makeRig(kjsim::BenchOptions options = {}) {
        options.family = std::string(GetParam().chip->firmware);
        rig_.emplace(options);
        tool_ = kj::makeImageTool(*GetParam().family, *rig_->bridge, rig_->ui);
        tool_->safety.on = true;
    }
    kj::Operation& op() { return tool_->operation(); }
    kjsim::ChipModel& model() { return *rig_->bench.chip(GetParam().chip->name); }
    Bytes chipImage() { return kjsim::toolImage(*GetParam().chip, model()); }
    size_t imageSize() const { return GetParam().family->imageSize; }
    // Within every chip, the EEPROM's 256 bytes included.
    size_t deadCell() const { return imageSize() > 0x2A51 ? 0x2A51 : 0xA5; }
    // Its address as a verdict names it, zeros before it aside.
    std::string deadCellText() const { return imageSize() > 0x2A51 ? "2A51" : "A5"; }

    // Mostly erased, so that a family that skips erased runs writes it quickly;
    // never FFh at the dead cell, which an erase leaves at FFh.
    Bytes fileImage() const {
        Bytes image(imageSize(), 0xFF);
        for (size_t at = 5; at < image.size(); at += 4096) image[at] = static_cast<uint8_t>(at >> 12);
        image[deadCell()] = 0x00;
        return image;
    }
    std::string fileWith(const Bytes& image) {
        const std::string path = rig_->dir.file("in.bin");
        writeFile(path, image);
        return path;
    }
    bool run(void (*start)(kj::ImageTool&), std::optional<std::string> path) {
        rig_->ui.chooseNext(std::move(path));
        start(*tool_);
        return rig_->succeeded(op());
    }
    static void read(kj::ImageTool& tool) { tool.startRead(); }
    static void write(kj::ImageTool& tool) { tool.startWrite(); }
    static void verify(kj::ImageTool& tool) { tool.startVerify(); }
    std::vector<fs::path> backups() const {
        std::vector<fs::path> found;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dataFolder() / "korvel-jig" / "backups", ec))
            if (entry.is_regular_file()) found.push_back(entry.path());
        return found;
    }
    bool logged(const std::string& text) const {
        const auto lines = rig_->ui.lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }

    ScratchDir data_;
    DataHome home_;
    std::optional<Rig> rig_;
    std::unique_ptr<kj::ImageTool> tool_;
};

INSTANTIATE_TEST_SUITE_P(EveryFamily, SafetyNet, ::testing::ValuesIn(netFamilies()),
                         [](const auto& info) { return std::string(info.param.family->name); });

TEST_P(SafetyNet, AWriteIsBackedUpFirstAndEndsWithTheImageAndAPass) {
    makeRig();
    const Bytes before = chipImage();
    Bytes image = fileImage();
    image[deadCell()] = 0x42;
    ASSERT_TRUE(run(write, fileWith(image))) << ::testing::PrintToString(rig_->log());

    // A programmed MEC16 flash is erased first: the write does not land on it.
    EXPECT_EQ(chipImage(), image);
    const auto saved = backups();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].parent_path().filename(), GetParam().family->name);
    const std::string sha = kj::sha256Hex(before);
    EXPECT_TRUE(std::regex_match(saved[0].filename().string(),
                                 std::regex("[0-9]{8}-[0-9]{6}-" + std::string(GetParam().family->name) +
                                            "-before-write-" + sha.substr(0, 8) + "\\.bin")))
        << saved[0];
    EXPECT_EQ(readPath(saved[0]), before);
    EXPECT_TRUE(logged(kj::utf8Of(saved[0])));
    EXPECT_TRUE(logged("SHA-256 " + sha));
    EXPECT_TRUE(logged("SHA-256 " + kj::sha256Hex(image)));
    EXPECT_EQ(rig_->ui.verdicts(), (Lines{"PASSED"}));
    EXPECT_EQ(rig_->ui.lines().back(), "PASSED");
    EXPECT_EQ(rig_->ui.colours().back(), kj::kLime);
    rig_->expectEnded(op());
}

TEST_P(SafetyNet, ADeadCellFailsTheWriteAndTheReadBackNamesItsAddress) {
    kjsim::BenchOptions options;
    options.deadCells[std::string(GetParam().chip->name)] = deadCell();
    makeRig(options);
    const Bytes image = fileImage();
    EXPECT_FALSE(run(write, fileWith(image)));

    const Bytes chip = chipImage();
    ASSERT_EQ(chip.size(), image.size());
    EXPECT_NE(chip[deadCell()], image[deadCell()]);
    EXPECT_TRUE(std::equal(chip.begin(), chip.begin() + deadCell(), image.begin())) << "written up to the cell";
    const auto verdicts = rig_->ui.verdicts();
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_EQ(verdicts[0].rfind("FAILED: ", 0), 0u) << verdicts[0];
    if (kReadBack.count(GetParam().family->name)) {
        EXPECT_NE(verdicts[0].find(deadCellText() + "; "), std::string::npos) << verdicts[0];
    }
    EXPECT_EQ(rig_->ui.colours().back(), kj::kRed);
}

TEST_P(SafetyNet, AFailedBackupLeavesTheChipAlone) {
    makeRig();
    rig_->faults().hangUpAtStep = 2;  // the first reply after the handshake
    const Bytes before = chipImage();
    EXPECT_FALSE(run(write, fileWith(fileImage())));
    EXPECT_EQ(chipImage(), before);
    const auto calls = rig_->slot().calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "open"), 1) << "no session after the backup's";
    ASSERT_EQ(rig_->ui.verdicts().size(), 1u);
    EXPECT_EQ(rig_->ui.verdicts()[0].rfind("FAILED: ", 0), 0u);
    EXPECT_TRUE(backups().empty());
}

TEST_P(SafetyNet, TheVerifyActionComparesAndWritesNothing) {
    makeRig();
    const Bytes chip = chipImage();
    Bytes changed = chip;
    changed[deadCell()] ^= 0x5A;
    EXPECT_FALSE(run(verify, fileWith(changed)));
    ASSERT_EQ(rig_->ui.verdicts().size(), 1u);
    EXPECT_NE(rig_->ui.verdicts()[0].find(deadCellText() + "; "), std::string::npos) << rig_->ui.verdicts()[0];

    EXPECT_TRUE(run(verify, fileWith(chip)));
    EXPECT_EQ(rig_->ui.verdicts().back(), "PASSED");
    EXPECT_EQ(chipImage(), chip);
    EXPECT_TRUE(backups().empty());
    rig_->expectEnded(op());
}

TEST_P(SafetyNet, ABlankReadIsFlaggedAndStillSaved) {
    makeRig();
    auto* flash = dynamic_cast<kjsim::FlashChip*>(&model());
    ASSERT_NE(flash, nullptr);
    flash->setFlash({});  // all erased
    const std::string path = rig_->dir.file("blank.bin");
    EXPECT_TRUE(run(read, path));
    EXPECT_EQ(readFile(path), Bytes(imageSize(), 0xFF));
    ASSERT_EQ(rig_->ui.verdicts().size(), 1u);
    EXPECT_EQ(rig_->ui.verdicts()[0].rfind("WARNING: ", 0), 0u);
    EXPECT_NE(rig_->ui.verdicts()[0].find("blank"), std::string::npos);
    EXPECT_EQ(rig_->ui.colours().back(), kj::kYellow);
}

}  // namespace
}  // namespace kjtest
