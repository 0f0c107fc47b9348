// The MEC16 operations against the simulated controller: the bytes on the
// wire, the file, the log, the indicators and the end bytes, per path.
#include <gtest/gtest.h>

#include "mec16_fixture.h"
#include "sim/mec16_chip.h"
#include "support/operation_contract.h"

namespace kjtest {

INSTANTIATE_TEST_SUITE_P(Mec16, OperationContract,
                         ::testing::Values(ContractFamily{
                             .name = "mec16",
                             .firmware = "V42",
                             .make = [](kj::Bridge& bridge, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
                                 return kj::makeImageTool(kj::mec16::kFamily, bridge, ui);
                             },
                             .image = [](const kjsim::Bench& bench) { return bench.chip<kjsim::Mec16Chip>().main(); },
                             .readBlockStep = [](int n) { return n + 4; },  // after 'B', the ID and two writes
                             .readReplies = 4 + 192 + 3,
                             .failureEnd = "O0",
                             .stopKeepsBlocks = true,
                         }));

namespace {

using kj::mec16::Indicator;

TEST(Mec16Frames, AreTheAddressAndValueAsUpperCaseHexText) {
    const auto bytes = [](const auto& frame) { return std::string(frame.begin(), frame.end()); };
    EXPECT_EQ(bytes(kj::mec16::registerWriteFrame(0xFF3908, 0x105)), "wFF390800000105");
    EXPECT_EQ(bytes(kj::mec16::registerWriteFrame(0xFF3904, 0x00FC0000)), "wFF390400FC0000");
    EXPECT_EQ(bytes(kj::mec16::registerReadFrame(0xFF390C)), "rFF390C");
    EXPECT_EQ(bytes(kj::mec16::readStreamFrame(0x040000)), "R040000");
    EXPECT_EQ(kj::mec16::valueText({0x00, 0x00, 0x01, 0x05}), "0000 0105h");
    EXPECT_EQ(kj::mec16::valueText({0xFF, 0xFF, 0xFF, 0xFF}), "FFFF FFFFh");
    EXPECT_EQ(kj::mec16::valueText({0x12, 0x34, 0xAB, 0x0C}), "1234 AB0Ch");
}

class Mec16 : public ::testing::Test, protected Rig {
protected:
    Mec16() : Rig(mec16Bench()), tool_(*bridge, ui, kj::mec16::kFamily) {}

    kjsim::Mec16Chip& chip() { return bench.chip<kjsim::Mec16Chip>(); }
    kj::Operation& op() { return tool_.operation(); }
    void run(const std::function<void()>& start, std::optional<std::string> path = std::nullopt) {
        if (path) ui.chooseNext(path);
        start();
        waitIdle(op());
        expectEnded(op());
    }
    void check() { tool_.sessions<kj::Mec16Sessions>().checkResponse(); }
    void read(bool info = false) { tool_.startRead(info); }
    void erase(bool info = false) { tool_.startErase(info); }
    void startWrite() { tool_.startWrite(); }
    std::string sent() const { return text(wire()); }
    // The colours an indicator was given, in order.
    std::vector<kj::Rgb> shownOn(Indicator which) const {
        std::vector<kj::Rgb> colours;
        for (const auto& event : ui.shown<kj::mec16::IndicatorEvent>())
            if (event.which == which) colours.push_back(event.colour);
        return colours;
    }

    kj::ImageTool tool_;
};

// ---- response check ----

TEST_F(Mec16, CheckShowsTheRegistersAndAllowsAnUnprotectedChip) {
    run([&] { check(); });
    EXPECT_EQ(sent(), "B1j" + r(0xFFFD00) + r(0xFF3908) + r(0xFF3910) + r(0xFF390C) + "I0");
    EXPECT_EQ(writes().at(1), Bytes{'1'}) << "the ID read is two writes of one byte";
    EXPECT_EQ(log(), join({{kStampRu},
                           kLinkLines,
                           {kIdLine, "Регистр FFFD00h -> 0020 1609h", "Регистр FF3908h -> 0000 0000h",
                            "Регистр FF3910h -> 0000 0000h", "Регистр FF390Ch -> 0000 0000h"},
                           kVerdictAllowed,
                           kEndLines}));
    EXPECT_EQ(shownOn(Indicator::Fwp), (std::vector<kj::Rgb>{kj::kBlack, kj::kLime}));
    EXPECT_EQ(shownOn(Indicator::BootLock), (std::vector<kj::Rgb>{kj::kBlack, kj::kLime}));
    EXPECT_EQ(endBytes(), "I0");
    EXPECT_TRUE(tool_.operation().lastSucceeded());
}

TEST_F(Mec16, CheckReportsBothProtectionsAndFails) {
    chip().faults.fwp = true;
    chip().faults.bootLock = true;
    run([&] { check(); });
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 6, lines.end()),
              join({{"Регистр FF390Ch -> 0000 0018h", "--> СТОИТ ЗАЩИТА ЗАПИСИ ! (FWP ножка)",
                     "--> Стоит Boot_Lock ! (защита загрузочного блока)"},
                    kEndLines}));
    EXPECT_EQ(shownOn(Indicator::Fwp).back(), kj::kRed);
    EXPECT_EQ(shownOn(Indicator::BootLock).back(), kj::kRed);
    EXPECT_EQ(endBytes(), "O0");
    EXPECT_FALSE(tool_.operation().lastSucceeded());
}

TEST_F(Mec16, CheckGoesOnPastALostRegisterAndFails) {
    tool_.operation().link().timeouts = kShortTimeouts;
    chip().faults.lostFrameAt = 1;  // FFFD00h
    run([&] { check(); });
    EXPECT_EQ(log(), join({{kStampRu},
                           kLinkLines,
                           {kIdLine, "Потеряна связь с MEC16 (I100)", "Регистр FF3908h -> 0000 0000h",
                            "Регистр FF3910h -> 0000 0000h", "Регистр FF390Ch -> 0000 0000h"},
                           kVerdictAllowed,
                           kEndLines}));
    EXPECT_EQ(endBytes(), "O0");
}

// ---- read ----

TEST_F(Mec16, ReadOfMainAndInfoStoresBothBlocks) {
    const std::string path = dir.file("m.bin");
    run([&] { read(true); }, path);
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(readFile(path).size(), kMain + kInfo);
    EXPECT_EQ(sent(), "B1j" + w(0xFF3910, 1) + w(0xFF3908, 0x105) + "R000000" + std::string(191, 'N') + "X" +
                          w(0xFF3908, 0x100) + w(0xFF3908, 0x105) + "R040000" + "NX" + kClosingFrames + "I0");
    EXPECT_EQ(log(), join({readStartLines(path, true),
                           {"Чтение MAIN блока завершено успешно.", "Записали в регистр FF3908h 100h",
                            "Запускаем чтение INFO блока.", "Записали в регистр FF3908h 105h",
                            "Чтение INFO блока завершено успешно."},
                           kClosingLines,
                           kEndLines}));
    std::vector<int> progress{0};
    for (int block = 1; block <= 192; ++block) progress.push_back(block);
    EXPECT_EQ(ui.progress(), progress);
    EXPECT_EQ(ui.maximum(), 192);
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kLime});
    EXPECT_EQ(endBytes(), "I0");
    EXPECT_EQ(ui.dialogs().at(0).title, "Укажите имя файла для сохранения.");
    EXPECT_EQ(ui.dialogs().at(0).filter, "BIN файл MEC16 (*.bin)|*.bin");
}

TEST_F(Mec16, BadPacketStatusEndsTheReadWithoutAnImage) {
    chip().faults.badPacketAt = 5;
    const std::string path = dir.file("m.bin");
    run([&] { read(); }, path);
    EXPECT_EQ(sent(), "B1j" + w(0xFF3910, 1) + w(0xFF3908, 0x105) + "R000000NNNNXO0");
    EXPECT_EQ(
        log(),
        join({readStartLines(path, false),
              {"Потеряна связь с MEC16 (P103).", "Закрыли VCOM порт", "Неполный файл не сохранён.", kStampRu, ""}}));
    EXPECT_TRUE(files().empty());
    EXPECT_FALSE(tool_.operation().lastSucceeded());
}

// HELP and a second read are pressed while block 3 is stored, then the stop.
TEST_F(Mec16, StopKeepsTheBlocksReadSoFarAndNothingElseStartsMeanwhile) {
    struct StopAtBlock : RecordingFrontend {
        kj::ImageTool* tool = nullptr;
        void setGaugeProgress(int value, int maximum, int gauge) override {
            RecordingFrontend::setGaugeProgress(value, maximum, gauge);
            if (value != 3) return;
            tool->sessions<kj::Mec16Sessions>().showHelp();
            tool->startRead();
            tool->operation().requestStop();
        }
    } stopUi;
    kj::ImageTool tool(*bridge, stopUi, kj::mec16::kFamily);
    stopUi.tool = &tool;
    const std::string path = dir.file("m.bin");
    writeFile(path, Bytes(10, 0x11));
    stopUi.chooseNext(path);
    tool.startRead();
    waitIdle(tool.operation());
    const Bytes flash = chip().main();
    EXPECT_EQ(readFile(path), Bytes(flash.begin(), flash.begin() + 3 * 1024));
    EXPECT_EQ(text(wire()), "B1j" + w(0xFF3910, 1) + w(0xFF3908, 0x105) + "R000000NNX" + kClosingFrames + "0O");
    EXPECT_EQ(maskTimes(stopUi.lines()),
              join({readStartLines(path, false), {"Пользователь прервал операцию чтения."}, kClosingLines, kEndLines}));
    EXPECT_EQ(endBytes(), "0O");
    EXPECT_FALSE(tool.operation().lastSucceeded());
}

TEST_F(Mec16, NoChipEndsTheReadBeforeAnyRegisterIsWritten) {
    chip().faults.noChip = true;
    run([&] { read(); }, dir.file("m.bin"));
    EXPECT_EQ(sent(), "B1jO0");
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 5, lines.end()),
              join({{"Получен ID от MEC16 -> FFFF FFFFh", "Неверный ID. Операция прервана!"}, kEndLines}));
    EXPECT_TRUE(files().empty());
}

// ---- erase ----

// MAIN alone, then MAIN and INFO.
TEST_F(Mec16, EraseWaitsWhileBusyAndTakesInfoOnlyWhenAsked) {
    chip().faults.busyReads = 4;
    const Bytes info = chip().info();
    run([&] { erase(); });
    EXPECT_EQ(chip().main(), Bytes(kMain, 0xFF));
    EXPECT_EQ(chip().info(), info);
    std::string polls;
    for (int i = 0; i < 5; ++i) polls += r(0xFF390C);
    EXPECT_EQ(sent(), "B1j" + r(0xFF390C) + w(0xFF3910, 1) + w(0xFF3908, 0x107) + w(0xFF3904, 0x00F80000) + polls +
                          kClosingFrames + "I0");
    EXPECT_EQ(log(), join({{kStampRu},
                           kLinkLines,
                           {kIdLine, "Регистр FF390Ch -> 0000 0000h"},
                           kVerdictAllowed,
                           {"Записали в регистр FF3910h 1", "Записали в регистр FF3908h 107h",
                            "Отправили команду стирания.", "Стирание завершено успешно."},
                           kClosingLines,
                           kEndLines}));
    EXPECT_TRUE(tool_.operation().lastSucceeded());

    run([&] { erase(true); });
    EXPECT_NE(sent().find(w(0xFF3904, 0x00FC0000)), std::string::npos);
    EXPECT_EQ(chip().flash(), Bytes(kMain + kInfo, 0xFF));
    EXPECT_EQ(endBytes(), "I0I0");
}

TEST_F(Mec16, EraseOfAProtectedChipIsCancelledWithoutARegisterWrite) {
    chip().faults.fwp = true;
    const Bytes flash = chip().flash();
    run([&] { erase(); });
    EXPECT_EQ(sent(), "B1j" + r(0xFF390C) + "O0");
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 6, lines.end()),
              join({{"--> СТОИТ ЗАЩИТА ЗАПИСИ ! (FWP ножка)", "--> Стирание и запись загрузочного блока разрешена",
                     "--> Каманда стирания отменена."},
                    kEndLines}));
    EXPECT_EQ(chip().flash(), flash);
    EXPECT_EQ(shownOn(Indicator::Fwp).back(), kj::kRed);
    EXPECT_EQ(shownOn(Indicator::BootLock).back(), kj::kLime);
}

TEST_F(Mec16, ALostEraseCommandEndsWithTheClosingByteOnly) {
    tool_.operation().link().timeouts = kShortTimeouts;
    chip().faults.lostFrameAt = 4;  // the status, FF3910h, FF3908h, then the command
    run([&] { erase(); });
    const Lines lines = log();
    // The command may have reached the chip: its flash may be erased in part.
    EXPECT_EQ(Lines(lines.end() - 5, lines.end()),
              join({{"Потеряна связь с MEC16 (E103)",
                     "Флеш MEC16 записан не полностью: его нужно стереть и записать заново."},
                    kEndLines}));
    EXPECT_EQ(sent().substr(sent().size() - 16), w(0xFF3904, 0x00F80000) + "0");
    EXPECT_EQ(endBytes(), "0");
}

// ---- write ----

class Mec16Write : public Mec16 {
protected:
    // The image written into an erased chip; returns the path.
    std::string write(const Bytes& image) {
        chip().setFlash(Bytes(kMain + kInfo, 0xFF));
        const std::string path = dir.file("w.bin");
        writeFile(path, image);
        run([&] { startWrite(); }, path);
        return path;
    }
    // The blocks as sent: each padded to 256 with FFh, an 'N' between them.
    static Bytes stream(const Bytes& image, size_t blocks) {
        Bytes out;
        for (size_t b = 0; b < blocks; ++b) {
            if (b) out.push_back('N');
            for (size_t i = b * 256; i < (b + 1) * 256; ++i) out.push_back(i < image.size() ? image[i] : 0xFF);
        }
        return out;
    }
    static Bytes transcript(const Bytes& image, size_t blocks, const std::string& tail) {
        const std::string start = "B1j" + r(0xFF390C) + w(0xFF3910, 1) + w(0xFF3908, 0x106) + w(0xFF3904, 0) + "W";
        Bytes out(start.begin(), start.end());
        const Bytes body = stream(image, blocks);
        out.insert(out.end(), body.begin(), body.end());
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    }
    static Lines startLines(const std::string& path) {
        return join(
            {kLinkLines,
             {kStampRu, "Записываем в файл: ", path, "Выбрана запись только MAIN блока",
              "Начали запись MEC16 main block ...", kIdLine},
             kVerdictAllowed,
             {"Записали в регистр FF3910h 1", "Записали в регистр FF3908h 106h", "Записали в регистр FF3904h 0"}});
    }
};

TEST_F(Mec16Write, AWholeImageGoesInAndEndsWithSuccess) {
    const Bytes image = randomImage(kMain, 1);
    const std::string path = write(image);
    EXPECT_EQ(chip().main(), image);
    EXPECT_EQ(wire(), transcript(image, 768, "X" + kClosingFrames + "I0"));
    EXPECT_EQ(log(), join({startLines(path), {"Запись MAIN блока завершена успешно."}, kClosingLines, kEndLines}));
    EXPECT_EQ(ui.progress().back(), 768);
    EXPECT_EQ(ui.maximum(), 768);
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kRed});
    EXPECT_EQ(endBytes(), "I0");
    EXPECT_EQ(ui.dialogs().at(0).filter, "BIN файл MEC16 (*.bin)|*.bin|Другие|*.*");
}

TEST_F(Mec16Write, AShortFileEndsWithItsPaddedBlockAndNoClosingByte) {
    const Bytes image = randomImage(1000, 2);
    const std::string path = write(image);
    ASSERT_EQ(ui.questions().size(), 1u) << "a file of another size is asked about";
    Bytes flash(kMain, 0xFF);
    std::copy(image.begin(), image.end(), flash.begin());
    EXPECT_EQ(chip().main(), flash);
    EXPECT_EQ(wire(), transcript(image, 4, "X" + kClosingFrames + "I"));
    EXPECT_EQ(
        log(),
        join(
            {startLines(path), {"-> Предупреждение!", "-> Записываемый файл короче!"}, kClosingLines, {kStampRu, ""}}));
    EXPECT_EQ(ui.progress().back(), 3);
    EXPECT_EQ(endBytes(), "I");
    EXPECT_TRUE(tool_.operation().lastSucceeded());
}

TEST_F(Mec16Write, ARefusedLastBlockIsAFailure) {
    chip().faults.refusedBlockAt = 4;
    const Bytes image = randomImage(1000, 3);
    const std::string path = write(image);
    EXPECT_EQ(wire(), transcript(image, 4, "X" + kClosingFrames + "O"));
    EXPECT_EQ(log(), join({startLines(path),
                           {"-> Предупреждение!", "-> Записываемый файл короче!", "Потеряна связь с MEC16 (W102)"},
                           kClosingLines,
                           {"Флеш MEC16 записан не полностью: его нужно стереть и записать заново.", kStampRu, ""}}));
    EXPECT_EQ(endBytes(), "O");
    EXPECT_FALSE(tool_.operation().lastSucceeded());
}

TEST_F(Mec16Write, ARefusedBlockEndsTheStreamAtOnce) {
    chip().faults.refusedBlockAt = 2;
    const Bytes image = randomImage(kMain, 4);
    const std::string path = write(image);
    EXPECT_EQ(wire(), transcript(image, 2, "XO"));
    EXPECT_EQ(log(), join({startLines(path),
                           {"Потеряна связь с MEC16 (W103)",
                            "Флеш MEC16 записан не полностью: его нужно стереть и записать заново.", kStampRu, ""}}));
    EXPECT_EQ(ui.progress().back(), 2);
    EXPECT_EQ(endBytes(), "O");
}

}  // namespace
}  // namespace kjtest
