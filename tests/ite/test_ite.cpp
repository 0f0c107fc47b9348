// The ITE link check, read and write against the simulated IT85xx: the bytes
// on the wire, the flash and the file, the log and the end byte together.
#include <gtest/gtest.h>

#include "ite_fixture.h"
#include "sim/ite_chip.h"
#include "support/operation_contract.h"

namespace kjtest {

// 'B', 'T', then a select and a value reply per preparation step.
constexpr int kFirstBlockStep = 2 + 2 * 13;

INSTANTIATE_TEST_SUITE_P(Ite, OperationContract,
                         ::testing::Values(ContractFamily{
                             .name = "ite",
                             .firmware = "ITE",
                             .make = [](kj::Bridge& bridge, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
                                 return kj::makeImageTool(kj::ite::kFamily, bridge, ui);
                             },
                             .image = [](const kjsim::Bench& bench) { return bench.chip<kjsim::IteChip>().flash(); },
                             .readBlockStep = [](int n) { return kFirstBlockStep + n; },
                             .readReplies = kFirstBlockStep + 512,
                             .failureEnd = "O",
                         }));

namespace {

const std::string kWriteAgain = "Флеш ITE стёрта или записана не полностью: запишите её заново !";

Lines readLines(Lines after) {
    return join({{""}, kIteLinkLines, {kStampRu, "Начинаем чтение ITE ...", "Преподготовка ITE ..."}, after});
}

// A whole write of `path`, with the lines that describe its image.
Lines writtenLines(const std::string& path, Lines image) {
    return join({{""},
                 kIteLinkLines,
                 {kStampRu, "Пишем из файла: " + path, "Начинаем запись ITE ...", "Преподготовка ITE ...",
                  "Закончили преподготовку ...", "Команда стирания чипа отправлена (0x60/0xC7)...",
                  "Считали 131072 байта в буфер ..."},
                 image,
                 {"Начинаем писать байты ...", "Мы все записали. ", kStampRu}});
}

Lines tail(const Lines& lines, size_t n) {
    return Lines(lines.end() - static_cast<long>(std::min(n, lines.size())), lines.end());
}

TEST_F(IteOperation, LinkCheckLogsTheIdOrTheCodeOfTheStepThatFailed) {
    EXPECT_TRUE(checked());
    EXPECT_EQ(wire(), (Bytes{'B', 'T', 'A', 0x00, 'R', 'A', 0x01, 'R', 'A', 0x02, 'R', 'I'}));
    EXPECT_EQ(log(), join({{"", "Проверка связи ..."},
                           kIteLinkLines,
                           {"Программатор найден и готов к работе.", "",
                            "Теперь, как можно быстрее, подключите адаптер (5 сек) ! ",
                            "Найден ID мульта -> 8512 ревизия -> 03"}}));
    EXPECT_TRUE(ui.events().empty()) << "the link check disables nothing";

    chip().noController = true;
    EXPECT_FALSE(checked());
    EXPECT_EQ(log().back(), coded("00"));
    chip().noController = false;
    tool_.sessions<kj::IteSessions>().controllerWait = kj::Millis{300};
    faults().silentFromStep = 2;  // nothing after the handshake
    EXPECT_FALSE(checked());
    EXPECT_EQ(log().back(), coded("00"));
    EXPECT_EQ(endBytes(), "IOO");
    expectEnded(op());
}

TEST_F(IteOperation, ReadStoresTheWholeFlash) {
    const std::string path = dir.file("flash.bin");
    read(path);
    Bytes expected = Bytes{'B', 'T'} + kReadPreparationBytes;
    expected.insert(expected.end(), 512, 'r');
    EXPECT_EQ(wire(), expected + Bytes{'I'});
    EXPECT_EQ(readFile(path), chip().flash());
    EXPECT_EQ(log(),
              readLines({"Закончили преподготовку ...", "Читаю, пожалуйста ждите ...", "Мы все прочитали ", kStampRu}));
    EXPECT_EQ(ui.events(), (Lines{"started READ_ITE", "ended"}));
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kLime});
    EXPECT_EQ(ui.progress().size(), 513u);
    EXPECT_EQ(ui.progress().back(), 512);
    EXPECT_EQ(ui.dialogs().at(0).defaultName, "ITE_");
    EXPECT_EQ(endBytes(), "I");
    expectEnded(op());
}

TEST_F(IteOperation, FailedReadsSendTheFailureByteAndLeaveNoFile) {
    const std::string path = dir.file("flash.bin");
    chip().badBlockAt = 5;
    read(path);
    const Bytes sent = wire();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), 'r'), 5);
    EXPECT_EQ(log(), readLines({"Закончили преподготовку ...", "Читаю, пожалуйста ждите ...",
                                "Ошибка при чтении блока ->5", "Неполный файл не сохранён.", kStampRu}));

    ui.clearLog();
    chip().badBlockAt = 0;
    chip().refuseRegisterWriteAt = 3;
    read(path);
    EXPECT_EQ(log(), readLines({coded("22")}));

    chip().noController = true;
    read(path);
    EXPECT_EQ(log().back(), coded("2F"));
    read(std::nullopt);
    EXPECT_EQ(log().back(), "Чтение отмененено пользователем. Все сворачиваем. (RD_DLG)");
    EXPECT_TRUE(files().empty());
    EXPECT_EQ(endBytes(), "OOOO");
    expectEnded(op());
}

TEST_F(IteOperation, WriteSendsOnlyBytesThatAreNotErasedEachRunWithItsAddress) {
    Bytes image(kIteImage, 0xFF);
    image[0] = 0x12;
    image[2] = 0x34;
    image[0x010203] = 0x56;
    image[0x010204] = 0x57;
    writeImage(image);
    EXPECT_EQ(wire().at(1), 'T');
    EXPECT_EQ(afterWritePreparation(),
              (Bytes{'Y', 0, 0, 0, 'w', 0x12, 'Y', 0, 0, 2, 'w', 0x34, 'Y', 1, 2, 3, 'w', 0x56, 'w', 0x57, 'I'}));
    EXPECT_EQ(chip().flash(), image);
    EXPECT_EQ(chip().erases(), 1);
    EXPECT_EQ(log(), writtenLines(dir.file("image.bin"), {"Количество байт равных 0xFF в файле -> 131068"}));
    EXPECT_EQ(ui.colours(), std::vector<kj::Rgb>{kj::kRed});
    EXPECT_EQ(ui.progress().size(), 513u);
    EXPECT_EQ(ui.otherGauge(), 256) << "the last page written shows full";
    EXPECT_EQ(ui.events(), (Lines{"started WRITE_ITE_step_one", "ended"}));
    EXPECT_EQ(endBytes(), "I");
    expectEnded(op());
}

TEST_F(IteOperation, ShortLongAndErasedFilesAreSaidAndWrittenAsTheBufferHoldsThem) {
    const std::string path = dir.file("image.bin");
    writeImage({0x12, 0xFF, 0x34});
    EXPECT_EQ(afterWritePreparation(), (Bytes{'Y', 0, 0, 0, 'w', 0x12, 'Y', 0, 0, 2, 'w', 0x34, 'I'}));
    EXPECT_EQ(ui.questions().size(), 1u);
    EXPECT_EQ(log(), writtenLines(path, {"Внимание: в файле 3 байт, остаток флеша останется стёртым (0xFF).",
                                         "Количество байт равных 0xFF в файле -> 131070"}));
    Bytes longer(kIteImage + 10);
    for (size_t i = 0; i < longer.size(); ++i) longer[i] = static_cast<uint8_t>(i % 251);
    writeImage(longer);
    EXPECT_EQ(chip().flash(), Bytes(longer.begin(), longer.begin() + kIteImage));
    EXPECT_EQ(tail(log(), 7)[2], "Внимание: в файле 131082 байт, записываются только первые 131072.");

    ui.clearLog();
    slot().clearRecord();
    writeImage(Bytes(kIteImage, 0xFF));
    EXPECT_EQ(afterWritePreparation(), (Bytes{'I'})) << "no address and no data frame";
    EXPECT_EQ(chip().flash(), Bytes(kIteImage, 0xFF));
    EXPECT_EQ(ui.progress().back(), 512);
    EXPECT_EQ(log(), writtenLines(path, {"Количество байт равных 0xFF в файле -> 131072"}));
    EXPECT_EQ(endBytes(), "III");
}

// Refused before the erase, the flash is as it was; from the erase on, it must be written again.
TEST_F(IteOperation, FailedWritesSayWhichStepAndWhetherTheFlashWasErased) {
    writeFile(dir.file("image.bin"), Bytes(kIteImage, 0x00));
    const struct {
        int step;
        Lines lines;
    } refusals[] = {{1, {coded("T001")}},
                    {12, {coded("T012")}},
                    {13, {coded("T013"), kWriteAgain}},
                    {17, {coded("T013"), kWriteAgain}},
                    {19, {coded("T015"), kWriteAgain}}};
    for (const auto& r : refusals) {
        chip().refuseRegisterWriteAt = r.step;
        write(dir.file("image.bin"));
        EXPECT_EQ(tail(log(), r.lines.size() + 1), join({r.lines, {kStampRu}})) << r.step;
    }
    chip().refuseRegisterWriteAt = 0;
    Bytes image(kIteImage, 0xFF);
    image[10] = 1;
    image[11] = 2;
    chip().noDataAckAt = 2;
    slot().clearRecord();
    writeImage(image);
    EXPECT_EQ(afterWritePreparation(), (Bytes{'Y', 0, 0, 10, 'w', 1, 'w', 2, 'O'}));
    EXPECT_EQ(tail(log(), 3), (Lines{"Ошибка записи во флеш или потеряна связь с ITE", kWriteAgain, kStampRu}));
    EXPECT_EQ(endBytes(), "OOOOOO");
    expectEnded(op());
}

TEST_F(IteOperation, WriteRefusedBeforeTheChipIsTouched) {
    const std::string path = dir.file("short.bin");
    writeFile(path, Bytes(100, 0));
    ui.answerNext(false);
    write(path);
    EXPECT_TRUE(wire().empty()) << "a size declined never opens the link";
    EXPECT_EQ(log().back(), "Запись отменена: ничего не записано.");
    chip().noController = true;
    writeFile(path, Bytes(kIteImage, 0));
    write(path);
    EXPECT_EQ(log().back(), coded("3F"));
    write(dir.file("missing.bin"));
    EXPECT_EQ(log().back(), "Ошибка при открытии файла. (WR_OPN_DLG)");
    EXPECT_EQ(ui.errors(),
              (Lines{"Ошибка открытия файла.\n" + dir.file("missing.bin") + ": No such file or directory"}));
    EXPECT_EQ(chip().erases(), 0);
    EXPECT_EQ(endBytes(), "O");
    expectEnded(op());
}

}  // namespace
}  // namespace kjtest
