// The routing: base lines read into the selectors, the mirroring for a
// reversed cable, --pins lists, and APPLY on the wire.
#include <gtest/gtest.h>

#include "ite_fixture.h"

namespace kjtest {
namespace {

using kj::ite::Routing;

// Rows of the selectors, ComboBox1 to ComboBox15.
constexpr size_t kPd0 = 0, kPd3 = 3, kStb = 8, kAfd = 9, kInit = 11, kBusy = 12, kKsi5 = 14;

const std::string kFullLine =
    "LA-1234 KSI5=15 PD0=7 PD1=17 PD2=3 PD3=4 PD4=5 PD5=6 PD6=8 PD7=9 BUSY=10 STB=11 AFD=12 INIT=13 SLIN=14 "
    "KSI4=16 KB_pins=30";

Routing allAt(uint8_t pin) {
    Routing pins;
    pins.fill(pin);
    return pins;
}

TEST(IteBaseLine, IsReadKeyByKeyAndStopsAtTheFirstBadOne) {
    const Routing old = allAt(20);
    const struct {
        std::string line;
        std::string message;   // empty: applied whole
        size_t changed;        // selectors that took a value from the line, in the order the line is read
    } cases[] = {
        {kFullLine, "", 15},
        {"", "Не найдена информация по номеру ножки для PD0 !", 0},
        {"PD0=0 PD1=1", "Неверный номер ножки для PD0 !", 0},
        {"PD0=33", "Неверный номер ножки для PD0 !", 0},
        {"PD0=7, PD1=1", "Значение '7,' для PD0 не является числом !", 0},
        {"PD0=1 PD1=2 PD2=3 PD3=x PD4=5", "Значение 'x' для PD3 не является числом !", 3},
        // BUSY is read before STB#, which is missing here.
        {"PD0=1 PD1=2 PD2=3 PD3=4 PD4=5 PD5=6 PD6=7 PD7=8 BUSY=9", "Не найдена информация по номеру ножки для STB# !", 9},
    };
    for (const auto& c : cases) {
        const auto applied = kj::ite::applyBaseLine(c.line, old);
        EXPECT_EQ(applied.message, c.message) << c.line;
        EXPECT_EQ(applied.complete, c.message.empty()) << c.line;
        size_t changed = 0;
        for (size_t row = 0; row < kj::ite::kSignalCount; ++row) changed += applied.pins[row] != 20;
        EXPECT_EQ(changed, c.changed) << c.line;
    }
    const auto full = kj::ite::applyBaseLine(kFullLine, old).pins;
    EXPECT_EQ(full[kPd0], 7);
    EXPECT_EQ(full[1], 17);
    EXPECT_EQ(full[kBusy], 10);
    EXPECT_EQ(full[kStb], 11);
    EXPECT_EQ(full[kAfd], 12);
    EXPECT_EQ(full[kInit], 13);
    EXPECT_EQ(full[10], 14);  // SLIN#
    EXPECT_EQ(full[kKsi5], 15);
    // Only the first occurrence of a key counts.
    EXPECT_EQ(kj::ite::applyBaseLine("PD0=2 " + kFullLine, old).pins[kPd0], 2);
    const auto partial = kj::ite::applyBaseLine("PD0=1 PD1=2 PD2=3 PD3=x", old).pins;
    EXPECT_EQ(partial[kPd3], 20) << "the selector where it stopped keeps its value";
}

TEST(IteMirroring, TurnsPinsRoundTheConnectorAndRefusesWhatItCannotMirror) {
    Routing pins{};
    pins[kPd0] = 1;
    pins[1] = 30;
    pins[2] = 15;  // PD3 stays NC
    const auto once = kj::ite::mirrorRouting("KB_pins=30", pins);
    ASSERT_TRUE(once.done) << once.message;
    EXPECT_EQ(once.pins[kPd0], 30);
    EXPECT_EQ(once.pins[1], 1);
    EXPECT_EQ(once.pins[2], 16);
    EXPECT_EQ(once.pins[kPd3], 0);
    EXPECT_EQ(kj::ite::mirrorRouting("KB_pins=30", once.pins).pins, pins);

    const std::string kBadSize = "Неверное количество контактов разьема клавиатуры (23 < допустимо < 33)!";
    const struct {
        std::string line;
        std::string message;
    } refusals[] = {
        {"", "Не найдена информация по количеству контактов разьема клавиатуры на MB !"},
        {"KB_pins=23", kBadSize},
        {"KB_pins=33", kBadSize},
        {"KB_pins=2", kBadSize},
        {"KB_pins=2x", "Значение '2x' для KB_pins не является числом !"},
        {"KB_pins=24", "Вывод PD1 стоит на ножке 30, а в разъёме 24 контактов: зеркалирование отменено !"},
    };
    for (const auto& r : refusals) {
        const auto refused = kj::ite::mirrorRouting(r.line, pins);
        EXPECT_FALSE(refused.done) << r.line;
        EXPECT_EQ(refused.message, r.message) << r.line;
        EXPECT_EQ(refused.pins, pins) << "no selector changes";
    }
    EXPECT_TRUE(kj::ite::mirrorRouting("KB_pins=32", pins).done);
    EXPECT_EQ(kj::ite::mirrorRouting("KB_pins=24", Routing{}).pins, Routing{});
}

TEST(ItePinList, NamesSignalsByTheirBaseKeys) {
    std::string error;
    const auto pins = kj::ite::parsePinList("PD0=1,STB=nc,KSI5=32", error);
    ASSERT_TRUE(pins) << error;
    Routing expected{};
    expected[kPd0] = 1;
    expected[kKsi5] = 32;
    EXPECT_EQ(*pins, expected);
    EXPECT_EQ(kj::ite::parsePinList("PD0=NC", error), Routing{});
    for (const char* bad : {"", "PD8=1", "PD0=33", "PD0=0", "PD0=1,PD0=2", "PD0", "PD0=1,", "STB#=1"})
        EXPECT_FALSE(kj::ite::parsePinList(bad, error)) << bad;
}

// ---- APPLY ----

Bytes routingFrames(const Routing& pins) {
    // INIT#, AFD#, SLIN#, STB#, KSI4, KSI5, BUSY, then PD0 to PD7, each after its code.
    return Bytes{'I', 'N', pins[11], 'D', 'S', pins[9], 'A', 'S', pins[10], 'W', 'R', pins[8], 'K', '4', pins[13],
                 'K', '5', pins[14], 'B', 'L', pins[12], 'd', '0', pins[0], 'd', '1', pins[1], 'd', '2', pins[2],
                 'd', '3', pins[3], 'd', '4', pins[4], 'd', '5', pins[5], 'd', '6', pins[6], 'd', '7', pins[7]};
}

TEST_F(IteOperation, ApplySendsTheFramesInOrderAndTheProgrammerKeepsTheRouting) {
    Routing pins;
    for (size_t row = 0; row < pins.size(); ++row) pins[row] = static_cast<uint8_t>(row + 1);
    EXPECT_TRUE(programmer_.applyRouting(pins));
    EXPECT_EQ(wire(), (Bytes{'B', 'S'} + routingFrames(pins) + Bytes{'Q', 'Q', 'Q'}));
    EXPECT_EQ(log(), join({{kStampRu}, kIteLinkLines, {"Отправляем настройки под MB.", "Настройки все отправлены."}}));
    EXPECT_EQ(endBytes(), "") << "no end byte after APPLY";
    EXPECT_TRUE(ui.events().empty());
    expectEnded(op());

    // Kept across link set-ups: a link check in between changes nothing.
    EXPECT_TRUE(programmer_.checkConnection());
    const auto kept = chip().routing();
    EXPECT_EQ(kept.size(), 15u);
    EXPECT_EQ(kept.at("IN"), 12);
    EXPECT_EQ(kept.at("d7"), 8);

    slot().clearRecord();
    EXPECT_TRUE(programmer_.applyRouting(Routing{}));
    EXPECT_EQ(wire(), (Bytes{'B', 'S'} + routingFrames(Routing{}) + Bytes{'Q', 'Q', 'Q'}));
    EXPECT_EQ(chip().routing().at("IN"), 0);
}

TEST_F(IteOperation, ApplyStopsAtARefusedReply) {
    // Replies: 'B', 'S', then one per frame; the fifth frame (KSI4) is refused.
    faults().wrongReplyAt = 2 + 5;
    EXPECT_FALSE(programmer_.applyRouting(allAt(3)));
    const Bytes all = Bytes{'B', 'S'} + routingFrames(allAt(3));
    EXPECT_EQ(wire(), Bytes(all.begin(), all.begin() + 2 + 5 * 3));
    EXPECT_EQ(log().back(), "Ошибка протокола при настройке выводов.");
    EXPECT_EQ(endBytes(), "");
    expectEnded(op());

    ui.clearLog();
    faults().wrongReplyAt = 2;
    EXPECT_FALSE(programmer_.applyRouting(allAt(3)));
    EXPECT_EQ(log().back(), "Ошибка при входе в режим настроек.");
    EXPECT_EQ(endBytes(), "");
    expectEnded(op());
}

}  // namespace
}  // namespace kjtest
