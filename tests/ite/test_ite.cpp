// The ITE link check, read and write against the simulated IT85xx: the bytes
// on the wire, the flash and the file, the log and the end byte together.
#include <gtest/gtest.h>

#include "ite_fixture.h"
#include "support/operation_contract.h"

namespace kjtest {

// 'B', 'T', then a select and a value reply per preparation step.
constexpr int kFirstBlockStep = 2 + 2 * 13;

INSTANTIATE_TEST_SUITE_P(Ite, OperationContract,
                         ::testing::Values(ContractFamily{
                             .name = "ite",
                             .firmware = kjsim::Family::Ite,
                             .make = [](kj::Bridge& bridge, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
                                 return std::make_unique<kj::IteProgrammer>(bridge, ui);
                             },
                             .image = [](const kjsim::Bench& bench) { return bench.ite->flash(); },
                             .readBlockStep = [](int n) { return kFirstBlockStep + n; },
                             .readReplies = kFirstBlockStep + 512,
                             .failureEnd = "O",
                         }));

namespace {

const Bytes kCheckBytes{'B', 'T', 'A', 0x00, 'R', 'A', 0x01, 'R', 'A', 0x02, 'R'};

Lines readLines(std::initializer_list<std::string> after) {
    return join({{""}, kIteLinkLines, {kStampRu, "Начинаем чтение ITE ...", "Преподготовка ITE ..."}, after});
}

Lines writeLines(const std::string& path, std::initializer_list<std::string> after) {
    return join({{""},
                 kIteLinkLines,
                 {kStampRu, "Пишем из файла: " + path, "Начинаем запись ITE ...", "Преподготовка ITE ..."},
                 after});
}

Lines writtenLines(const std::string& path, Lines image, const std::string& end = "Мы все записали. ") {
    return join({writeLines(path, {"Закончили преподготовку ...", "Команда стирания чипа отправлена (0x60/0xC7)...",
                                   "Считали 131072 байта в буфер ..."}),
                 image, {"Начинаем писать байты ...", end, kStampRu}});
}

// ---- link check ----

TEST_F(IteOperation, LinkCheckLogsTheIdAndRevision) {
    EXPECT_TRUE(programmer_.checkConnection());
    EXPECT_EQ(wire(), kCheckBytes + Bytes{'I'});
    EXPECT_EQ(log(), join({{"", "Проверка связи ..."}, kIteLinkLines,
                           {"Программатор найден и готов к работе.", "",
                            "Теперь, как можно быстрее, подключите адаптер (5 сек) ! ",
                            "Найден ID мульта -> 8512 ревизия -> 03"}}));
    EXPECT_EQ(endBytes(), "I");
    EXPECT_TRUE(ui.events().empty()) << "the link check disables nothing";
    expectEnded(op());
}

TEST_F(IteOperation, LinkCheckWithoutAControllerEndsWithItsCode) {
    chip().noController = true;
    EXPECT_FALSE(programmer_.checkConnection());
    EXPECT_EQ(wire(), (Bytes{'B', 'T', 'O'}));
    EXPECT_EQ(log().back(), coded("00"));
    EXPECT_EQ(endBytes(), "O");
    expectEnded(op());
}

TEST_F(IteOperation, LinkCheckThatHearsNothingEndsWithinItsBound) {
    programmer_.controllerWait = kj::Millis{300};
    faults().silentFromStep = 2;
    EXPECT_FALSE(programmer_.checkConnection());
    EXPECT_EQ(log().back(), coded("00"));
    EXPECT_EQ(endBytes(), "O");
    expectEnded(op());
}

// ---- read ----

TEST_F(IteOperation, ReadStoresTheWholeFlash) {
    const std::string path = dir.file("flash.bin");
    read(path);

    Bytes expected = Bytes{'B', 'T'} + kReadPreparationBytes;
    expected.insert(expected.end(), 512, 'r');
    expected.push_back('I');
    EXPECT_EQ(wire(), expected);
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(log(), readLines({"Закончили преподготовку ...", "Читаю, пожалуйста ждите ...", "Мы все прочитали ",
                                kStampRu}));
    EXPECT_EQ(endBytes(), "I");
    EXPECT_EQ(ui.events(), (Lines{"started READ_ITE", "ended"}));
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kLime});
    std::vector<int> pages{0};
    for (int page = 1; page <= 512; ++page) pages.push_back(page);
    EXPECT_EQ(ui.progress(), pages);
    EXPECT_EQ(ui.maximum(), 512);
    ASSERT_EQ(ui.dialogs().size(), 1u);
    EXPECT_EQ(ui.dialogs()[0].defaultName, "ITE_");
    EXPECT_EQ(ui.dialogs()[0].filter, "BIN файл (*.bin)|*.bin");
    expectEnded(op());
}

TEST_F(IteOperation, BadStatusOfTheFifthBlockLeavesNoFile) {
    chip().badBlockAt = 5;
    const std::string path = dir.file("flash.bin");
    read(path);
    const Bytes sent = wire();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'r'), 5);
    EXPECT_EQ(sent.back(), 'O');
    EXPECT_EQ(log(), readLines({"Закончили преподготовку ...", "Читаю, пожалуйста ждите ...",
                                "Ошибка при чтении блока ->5", "Неполный файл не сохранён.", kStampRu}));
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(endBytes(), "O");
    expectEnded(op());
}

TEST_F(IteOperation, ReadEndsAtAPreparationStepRefusedOrAControllerMissing) {
    const std::string path = dir.file("flash.bin");
    chip().refuseRegisterWriteAt = 3;
    read(path);
    EXPECT_EQ(wire(), (Bytes{'B', 'T'} + Bytes(kReadPreparationBytes.begin(), kReadPreparationBytes.begin() + 12) +
                       Bytes{'O'}));
    EXPECT_EQ(log(), readLines({coded("22")}));
    EXPECT_TRUE(files().empty());

    chip().refuseRegisterWriteAt = 0;
    chip().noController = true;
    read(path);
    EXPECT_EQ(log().back(), coded("2F"));
    EXPECT_EQ(endBytes(), "OO");
    EXPECT_TRUE(files().empty());
    expectEnded(op());
}

TEST_F(IteOperation, CancelledSaveDialogSendsTheFailureByte) {
    read(std::nullopt);
    EXPECT_EQ(wire(), (Bytes{'B', 'O'}));
    EXPECT_EQ(log(), join({{""}, kIteLinkLines, {"Чтение отмененено пользователем. Все сворачиваем. (RD_DLG)"}}));
    EXPECT_EQ(ui.events(), (Lines{"started READ_ITE", "ended"}));
    expectEnded(op());
}

// ---- write ----

TEST_F(IteOperation, WriteSendsOnlyBytesThatAreNotErasedEachRunWithItsAddress) {
    Bytes image(kIteImage, 0xFF);
    image[0] = 0x12;
    image[2] = 0x34;
    image[0x010203] = 0x56;
    image[0x010204] = 0x57;
    writeImage(image);

    const Bytes sent = wire();
    ASSERT_GT(sent.size(), 2 + kWritePreparationSize);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 2), (Bytes{'B', 'T'}));
    EXPECT_EQ(afterWritePreparation(), (Bytes{'Y', 0, 0, 0, 'w', 0x12, 'Y', 0, 0, 2, 'w', 0x34, 'Y', 1, 2, 3, 'w',
                                              0x56, 'w', 0x57, 'I'}));
    EXPECT_EQ(chip().flash(), image);
    EXPECT_EQ(chip().erases(), 1);
    EXPECT_EQ(log(), writtenLines(dir.file("image.bin"), {"Количество байт равных 0xFF в файле -> 131068"}));
    EXPECT_TRUE(ui.questions().empty());
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kRed});
    EXPECT_EQ(ui.progress().back(), 512);
    EXPECT_EQ(ui.progress().size(), 513u);
    EXPECT_EQ(ui.events(), (Lines{"started WRITE_ITE_step_one", "ended"}));
    EXPECT_EQ(endBytes(), "I");
    expectEnded(op());
}

TEST_F(IteOperation, ShortLongAndErasedFilesAreSaidAndWrittenAsTheBufferHoldsThem) {
    const std::string path = dir.file("image.bin");
    writeImage({0x12, 0xFF, 0x34});
    EXPECT_EQ(afterWritePreparation(), (Bytes{'Y', 0, 0, 0, 'w', 0x12, 'Y', 0, 0, 2, 'w', 0x34, 'I'}));
    ASSERT_EQ(ui.questions().size(), 1u);
    EXPECT_NE(ui.questions()[0].find("3"), std::string::npos);
    EXPECT_EQ(log(), writtenLines(path, {"Внимание: в файле 3 байт, остаток флеша останется стёртым (0xFF).",
                                         "Количество байт равных 0xFF в файле -> 131070"}));
    Bytes flash(kIteImage, 0xFF);
    flash[0] = 0x12;
    flash[2] = 0x34;
    EXPECT_EQ(chip().flash(), flash);

    Bytes longer(kIteImage + 10);
    for (size_t i = 0; i < longer.size(); ++i) longer[i] = static_cast<uint8_t>(i % 251);
    writeImage(longer);
    EXPECT_EQ(chip().flash(), Bytes(longer.begin(), longer.begin() + kIteImage));
    const Lines lines = log();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Внимание: в файле 131082 байт, записываются только первые 131072."),
              lines.end());

    ui.clearLog();
    slot().clearRecord();
    writeImage(Bytes(kIteImage, 0xFF));
    EXPECT_EQ(afterWritePreparation(), (Bytes{'I'})) << "no address and no data frame";
    EXPECT_EQ(chip().flash(), Bytes(kIteImage, 0xFF));
    EXPECT_EQ(ui.progress().back(), 512);
    EXPECT_EQ(log(), writtenLines(path, {"Количество байт равных 0xFF в файле -> 131072"}));
    EXPECT_EQ(endBytes(), "III");
}

TEST_F(IteOperation, UnacknowledgedDataByteEndsTheWriteAndSaysToWriteAgain) {
    Bytes image(kIteImage, 0xFF);
    image[10] = 1;
    image[11] = 2;
    chip().noDataAckAt = 2;
    writeImage(image);
    EXPECT_EQ(afterWritePreparation(), (Bytes{'Y', 0, 0, 10, 'w', 1, 'w', 2, 'O'}));
    const Lines lines = log();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{"Ошибка записи во флеш или потеряна связь с ITE",
                     "Флеш ITE стёрта или записана не полностью: запишите её заново !", kStampRu}));
    EXPECT_EQ(endBytes(), "O");
    expectEnded(op());
}

// A refused step before the erase leaves the flash as it was; from the erase on, it must be written again.
TEST_F(IteOperation, RefusedPreparationStepsReportTheirCodes) {
    const struct {
        int step;
        std::string code;
        bool erased;
    } cases[] = {{1, "T001", false}, {5, "T005", false}, {12, "T012", false},
                 {13, "T013", true}, {17, "T013", true}, {19, "T015", true}};
    const std::string path = dir.file("image.bin");
    writeFile(path, Bytes(kIteImage, 0x00));
    for (const auto& c : cases) {
        ui.clearLog();
        chip().refuseRegisterWriteAt = c.step;
        write(path);
        Lines expected{coded(c.code)};
        if (c.erased) expected.push_back("Флеш ITE стёрта или записана не полностью: запишите её заново !");
        expected.push_back(kStampRu);
        const Lines lines = log();
        ASSERT_GE(lines.size(), expected.size());
        EXPECT_EQ(Lines(lines.end() - static_cast<long>(expected.size()), lines.end()), expected) << c.step;
        EXPECT_EQ(wire().back(), 'O') << c.step;
    }
    EXPECT_EQ(endBytes(), "OOOOOO");
    expectEnded(op());
}

TEST_F(IteOperation, WriteRefusedBeforeTheChipIsTouched) {
    const std::string path = dir.file("short.bin");
    writeFile(path, Bytes(100, 0));
    ui.answerNext(false);
    write(path);
    EXPECT_EQ(wire(), (Bytes{'B', 'O'}));
    EXPECT_EQ(log(), join({{""}, kIteLinkLines, {"Запись отмененена пользователем. Все сворачиваем. (WR_DLG)"}}));

    chip().noController = true;
    writeFile(path, Bytes(kIteImage, 0));
    write(path);
    EXPECT_EQ(log().back(), coded("3F"));
    EXPECT_EQ(chip().erases(), 0);
    EXPECT_EQ(endBytes(), "OO");

    write(dir.file("missing.bin"));
    EXPECT_EQ(log().back(), "Ошибка при открытии файла. (WR_OPN_DLG)");
    EXPECT_EQ(ui.errors(), (Lines{"Ошибка открытия файла.\n" + dir.file("missing.bin") + ": No such file or directory"}));
    EXPECT_EQ(endBytes(), "OOO");
    expectEnded(op());
}

TEST(IteLink, NoProgrammerMeansOnlyTheLinkLines) {
    kjsim::SimBridge bridge;
    RecordingFrontend ui;
    kj::IteProgrammer programmer(bridge, ui);
    programmer.startWrite();
    EXPECT_EQ(ui.lines(), (Lines{"", "VCOM port is not found on the machine!"}));
    EXPECT_EQ(ui.events(), (Lines{"started WRITE_ITE_step_one", "ended"}));
    EXPECT_TRUE(programmer.operation().idle());
}

}  // namespace
}  // namespace kjtest
