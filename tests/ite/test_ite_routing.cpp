// The routing: base lines read into the selectors, the mirroring for a
// reversed cable, --pins lists, and APPLY on the wire.
#include <gtest/gtest.h>

#include "ite_fixture.h"
#include "sim/ite_chip.h"

namespace kjtest {
namespace {

using kj::ite::Routing;

Routing allAt(uint8_t pin) {
    Routing pins;
    pins.fill(pin);
    return pins;
}

TEST(IteBaseLine, IsReadKeyByKeyAndStopsAtTheFirstBadOne) {
    const struct {
        std::string line;
        std::string message;  // empty: applied whole
        size_t changed;       // selectors that took a value from the line
    } cases[] = {
        {"KSI5=15 PD0=7 PD1=17 PD2=3 PD3=4 PD4=5 PD5=6 PD6=8 PD7=9 BUSY=10 STB=11 AFD=12 INIT=13 SLIN=14 KSI4=16", "",
         15},
        {"", "Не найдена информация по номеру ножки для PD0 !", 0},
        {"PD0=0 PD1=1", "Неверный номер ножки для PD0 !", 0},
        {"PD0=33", "Неверный номер ножки для PD0 !", 0},
        {"PD0=7, PD1=1", "Значение '7,' для PD0 не является числом !", 0},
        // BUSY is read before STB#.
        {"PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 BUSY=9", "Не найдена информация по номеру ножки для STB# !",
         9},
    };
    for (const auto& c : cases) {
        const auto applied = kj::ite::applyBaseLine(c.line, allAt(20));
        EXPECT_EQ(applied.message, c.message) << c.line;
        EXPECT_EQ(applied.complete, c.message.empty()) << c.line;
        EXPECT_EQ(kj::ite::kSignalCount - static_cast<size_t>(std::count(applied.pins.begin(), applied.pins.end(), 20)),
                  c.changed)
            << c.line;
    }
    // Keys anywhere, the first occurrence counts: PD0 is 2 and PD1 17; SLIN# (ComboBox11) 14.
    const auto full = kj::ite::applyBaseLine("PD0=2 " + cases[0].line, {}).pins;
    EXPECT_EQ(full, (Routing{2, 17, 3, 4, 5, 6, 8, 9, 11, 12, 14, 13, 10, 16, 15}));
}

TEST(IteMirroring, TurnsPinsRoundTheConnectorAndRefusesWhatItCannotMirror) {
    const Routing pins{1, 30, 15};  // the rest NC
    const auto once = kj::ite::mirrorRouting("KB_pins=30", pins);
    EXPECT_EQ(once.pins, (Routing{30, 1, 16}));
    EXPECT_EQ(kj::ite::mirrorRouting("KB_pins=30", once.pins).pins, pins);
    EXPECT_TRUE(kj::ite::mirrorRouting("KB_pins=32", pins).done);

    const std::string kBadSize = "Неверное количество контактов разьема клавиатуры (23 < допустимо < 33)!";
    const std::pair<std::string, std::string> refusals[] = {
        {"", "Не найдена информация по количеству контактов разьема клавиатуры на MB !"},
        {"KB_pins=23", kBadSize},
        {"KB_pins=33", kBadSize},
        {"KB_pins=2x", "Значение '2x' для KB_pins не является числом !"},
        {"KB_pins=24", "Вывод PD1 стоит на ножке 30, а в разъёме 24 контактов: зеркалирование отменено !"},
    };
    for (const auto& [line, message] : refusals) {
        const auto refused = kj::ite::mirrorRouting(line, pins);
        EXPECT_FALSE(refused.done) << line;
        EXPECT_EQ(refused.message, message) << line;
        EXPECT_EQ(refused.pins, pins) << "no selector changes";
    }
}

TEST(ItePinList, NamesSignalsByTheirBaseKeys) {
    std::string error;
    EXPECT_EQ(kj::ite::parsePinList("PD0=1,STB=nc,KSI5=32", error),
              (Routing{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32}));
    for (const char* bad : {"", "PD8=1", "PD0=33", "PD0=0", "PD0=1,PD0=2", "PD0", "PD0=1,", "STB#=1"})
        EXPECT_FALSE(kj::ite::parsePinList(bad, error)) << bad;
}

// INIT#, AFD#, SLIN#, STB#, KSI4, KSI5, BUSY, then PD0 to PD7, each after its code.
Bytes routingFrames(const Routing& p) {
    return Bytes{'I', 'N', p[11], 'D', 'S', p[9],  'A', 'S', p[10], 'W', 'R', p[8], 'K', '4', p[13],
                 'K', '5', p[14], 'B', 'L', p[12], 'd', '0', p[0],  'd', '1', p[1], 'd', '2', p[2],
                 'd', '3', p[3],  'd', '4', p[4],  'd', '5', p[5],  'd', '6', p[6], 'd', '7', p[7]};
}

TEST_F(IteOperation, ApplySendsTheFramesInOrderAndTheProgrammerKeepsTheRouting) {
    const Routing pins{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_TRUE(applied(pins));
    EXPECT_EQ(wire(), (Bytes{'B', 'S'} + routingFrames(pins) + Bytes{'Q', 'Q', 'Q'}));
    EXPECT_EQ(log(), join({{kStampRu}, kIteLinkLines, {"Отправляем настройки под MB.", "Настройки все отправлены."}}));
    EXPECT_TRUE(checked());  // a link set-up in between
    EXPECT_EQ(chip().routing().size(), 15u);
    EXPECT_EQ(chip().routing().at("IN"), 12);
    EXPECT_EQ(endBytes(), "I") << "none after APPLY";

    // A refused reply ends APPLY there: the fifth frame's, then the settings mode's.
    for (int step : {2 + 5, 2}) {
        faults().wrongReplyAt = step;
        slot().clearRecord();
        EXPECT_FALSE(applied(pins));
        EXPECT_EQ(wire().size(), 2 + 3 * static_cast<size_t>(step - 2));
        EXPECT_EQ(log().back(),
                  step == 2 ? "Ошибка при входе в режим настроек." : "Ошибка протокола при настройке выводов.");
    }
    EXPECT_EQ(endBytes(), "I");
    expectEnded(op());
}

// Two signals on one connector line are refused before the link opens, naming
// both (the window and the command line alike); NC may repeat.
TEST_F(IteOperation, TwoSignalsOnOneLineAreRefusedButNcRepeats) {
    std::string error;
    const auto shared = kj::ite::parsePinList("PD0=1,PD1=1", error);
    ASSERT_TRUE(shared) << error;
    EXPECT_FALSE(applied(*shared));
    EXPECT_EQ(log(), Lines{"Выводы PD0 и PD1 стоят на одной ножке 1: настройки не отправлены !"});
    EXPECT_TRUE(wire().empty());
    EXPECT_TRUE(slot().calls().empty()) << "no link was opened";

    EXPECT_TRUE(applied(*kj::ite::parsePinList("PD0=1", error)));
    EXPECT_EQ(chip().routing().at("d0"), 1);
    EXPECT_EQ(chip().routing().at("d1"), 0);
}

}  // namespace
}  // namespace kjtest
