#include "ite/ite_routing.h"

#include <cctype>
#include <utility>

namespace kj::ite {

namespace {

constexpr std::string_view kNoPinLine = "Не найдена информация по номеру ножки для ";
constexpr std::string_view kBadPinLine = "Неверный номер ножки для ";
constexpr std::string_view kLineEnd = " !";
constexpr std::string_view kNoConnectorLine =
    "Не найдена информация по количеству контактов разьема клавиатуры на MB !";
constexpr std::string_view kBadConnectorLine =
    "Неверное количество контактов разьема клавиатуры (23 < допустимо < 33)!";
constexpr std::string_view kConnectorName = "KB_pins";

constexpr std::array<BaseKey, kSignalCount> keysInReadOrder() {
    std::array<BaseKey, kSignalCount> keys{};
    for (size_t i = 0; i < kSignalCount; ++i) keys[i] = kSignals[kReadOrder[i]].key;
    return keys;
}
constexpr auto kBaseKeys = keysInReadOrder();

std::string notANumberLine(std::string_view name, std::string_view text) {
    return "Значение '" + std::string(text) + "' для " + std::string(name) + " не является числом !";
}

std::string_view signalName(std::string_view key) { return key.substr(0, key.size() - 1); }

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

std::string noBaseEntry(const std::filesystem::path& searched) {
#ifdef _WIN32
    if (searched == baseFilePath(kBaseFile))
        return "Файл [MB connection IT85XX.txt] в корне диска C: со значениями не найден ! Прочтите инструкцию.";
#endif
    return "Файл [" + searched.filename().string() + "] в папке " + searched.parent_path().string() +
           " со значениями не найден ! Прочтите инструкцию.";
}

std::string baseLineFormat() {
    const BaseKey connector{kConnectorKey, kConnectorName};
    return "Строка базы, одна MB на строку: <название MB> " + baseKeysTemplate({&connector, 1}) + " " +
           baseKeysTemplate(kBaseKeys);
}

std::string pinText(int pin) { return pin == kNotConnected ? std::string(kNotConnectedText) : std::to_string(pin); }

std::optional<int> pinOfText(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (sameLetters(text, kNotConnectedText)) return kNotConnected;
    const auto pin = text.size() <= 2 ? decimalValue(text) : std::nullopt;
    if (!pin || *pin < kPinRule.min || *pin > kPinRule.max) return std::nullopt;
    return pin;
}

AppliedLine applyBaseLine(std::string_view line, const Routing& pins) {
    const BaseLine parsed = parseBaseLine(line, kBaseKeys, kPinRule);
    AppliedLine applied{.pins = pins, .complete = parsed.status == BaseLine::Status::Ok};
    for (size_t i = 0; i < parsed.values.size(); ++i)
        applied.pins[kReadOrder[i]] = static_cast<uint8_t>(parsed.values[i]);
    const std::string name(applied.complete ? "" : kBaseKeys[parsed.failedKey].name);
    switch (parsed.status) {
        case BaseLine::Status::Ok: break;
        case BaseLine::Status::MissingKey:
            applied.message = std::string(kNoPinLine) + name + std::string(kLineEnd);
            break;
        case BaseLine::Status::OutOfRange:
            applied.message = std::string(kBadPinLine) + name + std::string(kLineEnd);
            break;
        case BaseLine::Status::NotANumber: applied.message = notANumberLine(name, parsed.valueText); break;
    }
    return applied;
}

Mirroring mirrorRouting(std::string_view line, const Routing& pins) {
    Mirroring mirrored{.pins = pins};
    const auto text = baseValueText(line, kConnectorKey);
    if (!text) {
        mirrored.message = kNoConnectorLine;
        return mirrored;
    }
    const auto width = decimalValue(*text);
    if (!width) {
        mirrored.message = notANumberLine(kConnectorName, *text);
        return mirrored;
    }
    if (*width < kConnectorRule.min || *width > kConnectorRule.max) {
        mirrored.message = kBadConnectorLine;
        return mirrored;
    }
    // A line the connector does not have has no mirror image: nothing moves.
    for (size_t row = 0; row < kSignalCount; ++row) {
        if (pins[row] > *width) {
            mirrored.message = "Вывод " + std::string(kSignals[row].key.name) + " стоит на ножке " +
                               std::to_string(pins[row]) + ", а в разъёме " + std::to_string(*width) +
                               " контактов: зеркалирование отменено !";
            return mirrored;
        }
    }
    for (auto& pin : mirrored.pins) {
        if (pin != kNotConnected) pin = static_cast<uint8_t>(mirrorPin(pin, *width));
    }
    mirrored.done = true;
    return mirrored;
}

std::optional<Routing> parsePinList(std::string_view text, std::string& error) {
    Routing pins{};
    std::array<bool, kSignalCount> named{};
    while (true) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const size_t eq = item.find('=');
        const std::string_view signal = item.substr(0, eq);
        size_t row = 0;
        while (row < kSignalCount && signalName(kSignals[row].key.key) != signal) ++row;
        if (eq == std::string_view::npos || row == kSignalCount) {
            error = "\"" + std::string(item) + "\" is not SIGNAL=PIN with a signal of the base (PD0 ... KSI5)";
            return std::nullopt;
        }
        const auto pin = pinOfText(item.substr(eq + 1));
        if (!pin) {
            error = "the pin of " + std::string(signal) + " must be 1 to 32 or NC";
            return std::nullopt;
        }
        if (std::exchange(named[row], true)) {
            error = std::string(signal) + " is named twice";
            return std::nullopt;
        }
        pins[row] = static_cast<uint8_t>(*pin);
        if (comma == std::string_view::npos) return pins;
        text.remove_prefix(comma + 1);
    }
}

std::optional<std::string> sharedLine(const Routing& pins) {
    for (size_t row = 0; row < kSignalCount; ++row) {
        if (pins[row] == kNotConnected) continue;
        for (size_t other = row + 1; other < kSignalCount; ++other) {
            if (pins[other] != pins[row]) continue;
            return "Выводы " + std::string(kSignals[row].key.name) + " и " + std::string(kSignals[other].key.name) +
                   " стоят на одной ножке " + pinText(pins[row]) + ": настройки не отправлены !";
        }
    }
    return std::nullopt;
}

std::string routingText(const Routing& pins) {
    std::string text;
    for (size_t row = 0; row < kSignalCount; ++row) {
        if (row) text += ' ';
        text += std::string(signalName(kSignals[row].key.key)) + "=" + pinText(pins[row]);
    }
    return text;
}

}  // namespace kj::ite
