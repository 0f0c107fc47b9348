// The net around every family's sessions, driven over each family's simulated
// bench alike: the backup equals the chip before the write, a dead cell is
// caught, the verify action writes nothing, a blank read is flagged. The
// families come from the registries, so a new one is checked without a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <regex>
#include <set>

#include "common/backup_name.h"
#include "common/digest.h"
#include "common/history.h"
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
            if (chip->family == family) all.push_back({family, chip});
    }
    return all;
}

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
    // The net speaks the family's language.
    std::string inLanguage(const std::string& english, const std::string& russian) const {
        return GetParam().family->language == kj::Language::Russian ? russian : english;
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
#ifndef _WIN32
    // A board owner's secrets are the user's alone, whatever the umask.
    EXPECT_EQ(fs::status(saved[0]).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    for (auto folder = saved[0].parent_path(); folder != dataFolder(); folder = folder.parent_path())
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << folder;
#endif
}

// The file is read once: what changes in it meanwhile never reaches the chip,
// and a backup that would land on it is refused before anything is read.
TEST_P(SafetyNet, TheChipGetsExactlyTheBytesThatWereFingerprinted) {
    makeRig();
    const Bytes image = fileImage();
    const std::string path = fileWith(image);
    Bytes other = image;
    other[5] ^= 0x0F;
    rig_->ui.onPhase = [&](kj::Phase phase) {
        if (phase == kj::Phase::Backup) writeFile(path, other);
    };
    ASSERT_TRUE(run(write, path)) << ::testing::PrintToString(rig_->log());
    EXPECT_EQ(chipImage(), image);
    EXPECT_TRUE(logged("SHA-256 " + kj::sha256Hex(image)));

    rig_->ui.onPhase = nullptr;
#ifdef _WIN32
    // No symbolic links for a plain user there: another spelling of the same path.
    const std::string alias = (fs::path(path).parent_path() / "." / fs::path(path).filename()).string();
#else
    const std::string alias = rig_->dir.file("alias.bin");
    fs::create_symlink(path, alias);
#endif
    tool_->safety.backupFile = alias;
    EXPECT_FALSE(run(write, path));
    EXPECT_EQ(readFile(path), other) << "the file to write is left alone";
    EXPECT_EQ(chipImage(), image);
    EXPECT_NE(rig_->ui.verdicts().back().find(
                  inLanguage("the backup would replace the file to write", "резервная копия заменила бы")),
              std::string::npos)
        << rig_->ui.verdicts().back();
}

// A clip without contact reads one repeated byte: said before anything is
// changed, and a no leaves the chip as it was.
TEST_P(SafetyNet, ABlankChipIsNamedBeforeAnythingChangesAndANoKeepsIt) {
    makeRig();
    auto& flash = dynamic_cast<kjsim::FlashChip&>(model());
    flash.setFlash(Bytes(flash.size(), 0x00));
    rig_->ui.answerNext(true);   // write it
    rig_->ui.answerNext(false);  // the chip reads blank: no
    EXPECT_FALSE(run(write, fileWith(fileImage())));
    EXPECT_EQ(chipImage(), Bytes(imageSize(), 0x00));
    EXPECT_TRUE(logged(inLanguage("WARNING: the chip reads blank: every byte is 00h; is the clip seated?",
                                  "WARNING: чип читается пустым (blank): все байты 00h; клипса сидит плотно?")));
    EXPECT_TRUE(rig_->ui.verdicts().empty()) << "a user's no is no verdict";
}

TEST_P(SafetyNet, AWriteThatIsNotReadBackIsNeverAPass) {
    makeRig();
    tool_->safety.verify = false;
    EXPECT_TRUE(run(write, fileWith(fileImage())));
    EXPECT_EQ(rig_->ui.verdicts(), (Lines{"WARNING: " + inLanguage("not verified", "не проверено")}));
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
    // Whatever the chip's own check says, the read-back names the address.
    EXPECT_NE(verdicts[0].find(deadCellText() + "; "), std::string::npos) << verdicts[0];
    EXPECT_EQ(rig_->ui.colours().back(), kj::kRed);
}

// A board back in one action: the write that failed is undone by the
// firmware the board came in with, and the history says what happened to it.
TEST_P(SafetyNet, ARestoreBringsBackTheFirmwareTheBoardCameInWith) {
    kjsim::BenchOptions options;
    options.deadCells[std::string(GetParam().chip->name)] = deadCell();
    makeRig(options);
    rig_->ui.jobLabel = "LA-1234";
    const Bytes original = chipImage();
    EXPECT_FALSE(run(write, fileWith(fileImage())));
    const auto taken = backups();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_NE(taken[0].filename().string().find("-LA-1234-" + std::string(GetParam().family->name) + "-before-write-"),
              std::string::npos);

    dynamic_cast<kjsim::FlashChip&>(model()).setDeadCell(std::nullopt);  // the clip seated again
    tool_->startRestore();
    ASSERT_TRUE(rig_->succeeded(op())) << ::testing::PrintToString(rig_->log());
    EXPECT_EQ(chipImage(), original);
    EXPECT_TRUE(logged(kj::utf8Of(taken[0]))) << "the line before the write names the backup chosen";

    kj::history::Store store;
    const auto rows = store.operations({.tool = std::string(GetParam().family->name)});
    ASSERT_TRUE(rows.ok()) << rows.error();
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0].action, "restore");
    EXPECT_EQ((*rows)[0].verdict, "PASSED");
    EXPECT_EQ((*rows)[0].job, "LA-1234");
    EXPECT_EQ((*rows)[1].action, "write");
    EXPECT_EQ((*rows)[1].verdict, "FAILED");
    const auto index = store.backups({.tool = std::string(GetParam().family->name)});
    ASSERT_TRUE(index.ok() && index->size() == 2u);
    EXPECT_EQ((*index)[0].before, "restore");
    EXPECT_EQ((*index)[0].suspect, true) << "the broken chip, taken after the failed write";
    EXPECT_EQ((*index)[1].verdict, "FAILED");
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
    // A file longer than all the chip holds agrees with it only as far as the chip goes: never a plain pass.
    const Bytes whole = dynamic_cast<kjsim::FlashChip&>(model()).flash();
    Bytes longer = whole;
    longer.resize(whole.size() + 100, 0x11);
    EXPECT_TRUE(run(verify, fileWith(longer)));
    const std::string sizes = std::to_string(longer.size()) + inLanguage(" bytes, the chip ", " байт, в чипе ") +
                              std::to_string(whole.size());
    EXPECT_NE(rig_->ui.verdicts().back().find(sizes), std::string::npos) << rig_->ui.verdicts().back();
    EXPECT_EQ(rig_->ui.verdicts().back().rfind("WARNING: ", 0), 0u);
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

// Pruning touches only this program's own backups in the family's own folder:
// never a technician's file, a link, a subfolder or another tool's backup, and
// what it leaves alone does not count against the limits.
TEST(SafetyNetPruning, KeepsEverythingThatIsNotItsOwn) {
    ScratchDir data;
    DataHome home(data.path());
    const fs::path folder = data.path() / "korvel-jig" / "backups" / "kb90xx";
    fs::create_directories(folder / "kept");
    const auto own = [](int i) {
        return "20200101-" + std::to_string(100000 + i) + "-kb90xx-before-write-0000abcd.bin";
    };
    for (int i = 0; i < 500; ++i) writeFile((folder / own(i)).string(), {1});
    const std::vector<fs::path> foreign{folder / "customer-42-original.bin", folder / "notes.txt",
                                        folder / "kept" / own(999),
                                        folder / ("20200101-000000-mec16-before-write-"
                                                  "0000abcd.bin")};
    for (const auto& path : foreign) writeFile(path.string(), {2});
#ifndef _WIN32
    fs::create_symlink(folder / "notes.txt", folder / own(998));
#endif
    // Far beyond the size limit, and not ours: it counts for nothing.
    fs::resize_file(foreign[0], (uintmax_t{1} << 31));

    Rig rig;
    auto tool = kj::makeImageTool(*kj::findFamily("kb90xx"), *rig.bridge, rig.ui);
    tool->safety.on = true;
    rig.ui.chooseNext(rig.dir.file("in.bin"));
    writeFile(rig.dir.file("in.bin"), Bytes(131072, 0x5A));
    tool->startWrite();
    ASSERT_TRUE(rig.succeeded(tool->operation()));

    for (const auto& path : foreign) EXPECT_TRUE(fs::exists(path)) << path;
#ifndef _WIN32
    EXPECT_TRUE(fs::is_symlink(folder / own(998)));
#endif
    EXPECT_FALSE(fs::exists(folder / own(0))) << "the oldest own backup goes";
    EXPECT_TRUE(fs::exists(folder / own(1)));
    size_t ownLeft = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        ownLeft += entry.is_regular_file() && !entry.is_symlink() &&
                   kj::parseBackupName(entry.path().filename().string(), "kb90xx");
    EXPECT_EQ(ownLeft, 500u);
}

#ifndef _WIN32
// A backups folder that is a link leads where the user chose to keep them:
// backups go there, and nothing there is deleted, however far past the limits.
TEST(SafetyNetPruning, NeverDeletesThroughALinkedFolder) {
    ScratchDir data;
    DataHome home(data.path());
    const fs::path elsewhere = data.path() / "usb-stick";
    fs::create_directories(elsewhere);
    const fs::path old = elsewhere / "20200101-100000-kb90xx-before-write-0000abcd.bin";
    writeFile(old.string(), {1});
    fs::resize_file(old, uintmax_t{1} << 31);
    fs::create_directories(data.path() / "korvel-jig" / "backups");
    fs::create_directory_symlink(elsewhere, data.path() / "korvel-jig" / "backups" / "kb90xx");

    Rig rig;
    auto tool = kj::makeImageTool(*kj::findFamily("kb90xx"), *rig.bridge, rig.ui);
    tool->safety.on = true;
    writeFile(rig.dir.file("in.bin"), Bytes(131072, 0x5A));
    rig.ui.chooseNext(rig.dir.file("in.bin"));
    tool->startWrite();
    ASSERT_TRUE(rig.succeeded(tool->operation()));
    EXPECT_TRUE(fs::exists(old));
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 2);
}
#endif

}  // namespace
}  // namespace kjtest
