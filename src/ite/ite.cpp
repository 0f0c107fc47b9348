#include "ite/ite.h"

#include "common/registry.h"

#include <algorithm>

#include "common/text.h"

namespace kj {

using namespace ite;

const Family ite::kFamily{
    .place = 5,
    .name = "ite",
    .launcherButton = "ITE_BitBtn1",
    .launcherCaption = "ITE_chip",
    .firmware = firmware::kIte,
    .link = {.reply = LinkVariant::Reply::Search,
             .accept = firmware::kIte.name,
             .keepTimeouts = true,
             .versionLinePrefix = "Версия FW программатора -> "},
    .language = Language::Russian,
    .ends = {.drained = true},
    .imageSize = kImageSize,
    .saveFilter = "BIN файл (*.bin)|*.bin",
    .openFilter = "BIN файл  (*.bin)|*.bin|Другие|*.*",
    .saveName = "ITE_",
    .flashIncompleteLine = "Флеш ITE стёрта или записана не полностью: запишите её заново !",
    .openFailedLine = "Ошибка при открытии файла. (WR_OPN_DLG)",
    .sessions = makeSessions<IteSessions>,
};
KJ_REGISTER(Family, ite::kFamily)

namespace {

// APPLY
constexpr std::string_view kSendingRouting = "Отправляем настройки под MB.";
constexpr std::string_view kSettingsRefused = "Ошибка при входе в режим настроек.";
constexpr std::string_view kRoutingRefused = "Ошибка протокола при настройке выводов.";
constexpr std::string_view kRoutingSent = "Настройки все отправлены.";

// link check
constexpr std::string_view kChecking = "Проверка связи ...";
constexpr std::string_view kProgrammerReady = "Программатор найден и готов к работе.";
constexpr std::string_view kConnectNow = "Теперь, как можно быстрее, подключите адаптер (5 сек) ! ";
constexpr std::string_view kControllerFound = "Найден ID мульта -> ";
constexpr std::string_view kRevision = " ревизия -> ";
constexpr std::string_view kCheckCode = "00";

// read
constexpr std::string_view kReadCancelled = "Чтение отмененено пользователем. Все сворачиваем. (RD_DLG)";
constexpr std::string_view kCreateFailed = "Ошибка при создании файла. (RD_CRT_DLG)";
constexpr std::string_view kReadStarting = "Начинаем чтение ITE ...";
constexpr std::string_view kReadCode = "2F";
constexpr std::string_view kReadingBlocks = "Читаю, пожалуйста ждите ...";
constexpr std::string_view kBlockFailed = "Ошибка при чтении блока ->";
constexpr std::string_view kAllRead = "Мы все прочитали ";

// write
constexpr std::string_view kWritingFrom = "Пишем из файла: ";
constexpr std::string_view kWriteStarting = "Начинаем запись ITE ...";
constexpr std::string_view kWriteCode = "3F";
constexpr std::string_view kEraseSent = "Команда стирания чипа отправлена (0x60/0xC7)...";
constexpr std::string_view kBufferRead = "Считали 131072 байта в буфер ...";
constexpr std::string_view kErasedCount = "Количество байт равных 0xFF в файле -> ";
constexpr std::string_view kWritingBytes = "Начинаем писать байты ...";
constexpr std::string_view kAddressRefused = "Ошибка протокола при отправке адреса во флеш.";
constexpr std::string_view kDataRefused = "Ошибка записи во флеш или потеряна связь с ITE";
constexpr std::string_view kAllWritten = "Мы все записали. ";

// read and write
constexpr std::string_view kPreparing = "Преподготовка ITE ...";
constexpr std::string_view kPrepared = "Закончили преподготовку ...";

std::string codedLine(std::string_view code) {
    return "ITE мульт нам не отвечает, проверяйте соединение и настройки выводов. MB запитана? (" + std::string(code) +
           ")";
}

// A file of another size than the flash is noticed before the long write starts.
std::string fileSizeLine(uint64_t size) {
    const std::string bytes = std::to_string(size);
    if (size < kImageSize) return "Внимание: в файле " + bytes + " байт, остаток флеша останется стёртым (0xFF).";
    return "Внимание: в файле " + bytes + " байт, записываются только первые 131072.";
}

}  // namespace

void IteSessions::applyRouting(const Routing& pins) {
    op_.launch([this, pins] {
        routeSignals(pins);
        return op_.sessionOutcome() == Outcome::Succeeded;
    });
}

void IteSessions::checkConnection() {
    op_.launch([this] {
        op_.runRecord().action = "check";
        checkLink();
        return op_.sessionOutcome() == Outcome::Succeeded;
    });
}

void IteSessions::logFailure(const Answer& answer, std::string_view stepLine) {
    if (answer.io == Io::Ok || answer.io == Io::Timeout)
        ui().log(stepLine);
    else
        op_.logFailure(answer.io);
}

// ---- APPLY ----

void IteSessions::routeSignals(const Routing& pins) {
    // Two signals on one line would fight each other on the motherboard.
    if (const auto clash = sharedLine(pins)) return ui().log(*clash);
    op_.logStamp();
    if (!op_.openLink()) return;
    ui().log(kSendingRouting);
    Link& link = op_.link();
    // The routing closes the link without an end byte, whatever happens.
    const auto fail = [&](const Answer& answer, std::string_view line) {
        logFailure(answer, line);
        op_.finish(Ending::quietly());
    };
    if (Answer a = enterSettings(link); !a.ok()) return fail(a, kSettingsRefused);
    for (size_t row : kSendOrder) {
        if (Answer a = sendRouting(link, kSignals[row].code, pins[row]); !a.ok()) return fail(a, kRoutingRefused);
    }
    if (Answer a = leaveSettings(link); !a.ok()) return fail(a, kRoutingRefused);
    ui().log(kRoutingSent);
    op_.finish({.success = true, .bytes = std::string_view{}});
}

// ---- link check ----

void IteSessions::checkLink() {
    ui().log("");
    ui().log(kChecking);
    if (!op_.openLink()) return;
    ui().log(kProgrammerReady);
    ui().log("");
    ui().log(kConnectNow);
    Link& link = op_.link();
    const auto fail = [&](const Answer& answer, std::string_view code) {
        logFailure(answer, codedLine(code));
        op_.finish(Ending::failed());
    };
    if (Answer a = checkController(link, controllerWait); !a.ok()) return fail(a, kCheckCode);
    std::array<uint8_t, kIdRegisters.size()> id{};
    for (size_t i = 0; i < kIdRegisters.size(); ++i) {
        // Any reply to the select but 'e' will do here.
        uint8_t reply = 0;
        Io io = selectRegister(link, kIdRegisters[i].reg, reply);
        if (io == Io::Ok && reply == kRegisterRefused) return fail({}, kIdRegisters[i].code);
        if (io == Io::Ok) io = readRegister(link, id[i]);
        if (io != Io::Ok) return fail({.io = io}, kIdRegisters[i].code);
    }
    op_.noteChipId(hexUpper(id[0], 2) + hexUpper(id[1], 2) + " rev " + hexUpper(id[2], 2));
    ui().log(std::string(kControllerFound) + hexUpper(id[0], 2) + hexUpper(id[1], 2) + std::string(kRevision) +
             hexUpper(id[2], 2));
    op_.finish(Ending::succeeded());
}

// ---- read and write, the start ----

bool IteSessions::controllerAnswers(std::string_view code) {
    if (Answer a = checkController(op_.link(), controllerWait); !a.ok()) {
        logFailure(a, codedLine(code));
        op_.finish(Ending::failed());
        return false;
    }
    return true;
}

bool IteSessions::prepareController(std::span<const RegisterStep> steps) {
    for (const RegisterStep& step : steps) {
        if (step.changesFlash) op_.markFlashChanged();
        if (Answer a = writeRegister(op_.link(), step.reg, step.value); !a.ok()) {
            logFailure(a, codedLine(step.code));
            return false;
        }
    }
    return true;
}

void IteSessions::read(const ReadRequest& request) {
    op_.begin(ite::kReading);
    ui().log("");
    ui().setGaugeColour(kLime, kPagesGauge);
    ui().setGaugeProgress(0, kPageCount, kPagesGauge);
    if (!op_.openLink()) return op_.finish(Ending::quietly());
    const auto path = op_.chooseOutput(request.into, {.cancelled = kReadCancelled, .failed = kCreateFailed});
    if (!path) return op_.finish(Ending::failed());
    fileName_ = *path;
    op_.logStamp();
    ui().log(kReadStarting);
    if (!controllerAnswers(kReadCode)) return;
    ui().log(kPreparing);
    if (!prepareController(kReadPreparation)) return op_.finish(Ending::failed());
    ui().log(kPrepared);
    readFlash();
}

void IteSessions::write(const WriteRequest& request) {
    op_.begin(ite::kWriting);
    ui().setGaugeColour(kRed, kPagesGauge);
    ui().setGaugeProgress(0, kPageCount, kPagesGauge);
    ui().setGaugeProgress(0, kPageGaugeMax, kPageGauge);
    ui().log("");
    if (!op_.openLink()) return op_.finish(Ending::quietly());
    fileName_ = request.name;
    image_ = request.image;
    image_.resize(kImageSize, kErased);
    fileSize_ = request.fileSize;
    op_.logStamp();
    ui().log(std::string(kWritingFrom) + fileName_);
    ui().log(kWriteStarting);
    if (!controllerAnswers(kWriteCode)) return;
    writeFlash();
}

// ---- read (worker) ----

void IteSessions::readFlash() {
    ui().log(kReadingBlocks);
    std::array<uint8_t, kBlockReplySize> reply{};
    for (int block = 1; block <= kPageCount; ++block) {
        if (Answer a = readBlock(op_.link(), reply); !a.ok()) {
            // Which block it was, also when the link is what failed.
            if (a.io != Io::Ok && a.io != Io::Timeout) op_.logFailure(a.io);
            ui().log(std::string(kBlockFailed) + std::to_string(block));
            return op_.finish({.stamp = true});
        }
        if (!op_.output().write(std::span(reply).first(kPageSize))) return op_.failOutput({.stamp = true});
        ui().setGaugeProgress(block, kPageCount, kPagesGauge);
    }
    Ending ending{.success = true, .stamp = true};
    if (!op_.storeOutput(ending)) return op_.finish(ending);
    ui().log(kAllRead);
    op_.finish(ending);
}

// ---- write (worker) ----

void IteSessions::writeFlash() {
    ui().log(kPreparing);
    const std::span<const RegisterStep> steps(kWritePreparation);
    if (!prepareController(steps.first(kWriteSetUpSteps))) return failWrite();
    ui().log(kPrepared);
    if (!prepareController(steps.subspan(kWriteSetUpSteps))) return failWrite();
    ui().log(kEraseSent);
    logImageLines();
    ui().log(kWritingBytes);
    if (!writeBytes()) return failWrite();
    ui().log(kAllWritten);
    op_.finish({.success = true, .stamp = true});
}

void IteSessions::logImageLines() {
    ui().log(kBufferRead);
    if (fileSize_ != kImageSize) ui().log(fileSizeLine(fileSize_));
    const auto erased = std::count(image_.begin(), image_.end(), kErased);
    ui().log(std::string(kErasedCount) + std::to_string(erased));
}

// Only the bytes that are not 0xFF go out: the erase left the rest as it is to
// be. A skipped run makes the next byte say its address.
bool IteSessions::writeBytes() {
    Link& link = op_.link();
    const Millis dataWait = kFamily.link.handshakeTimeout;  // the link's own read time-out
    Millis addressWait = link.timeouts.slowStep;            // the chip erases before it takes the first
    bool addressNeeded = true;
    for (uint32_t at = 0; at < kImageSize; ++at) {
        const uint8_t byte = image_[at];
        if (byte == kErased) {
            addressNeeded = true;
        } else {
            if (addressNeeded) {
                if (Answer a = setFlashAddress(link, at, addressWait); !a.ok()) {
                    logFailure(a, kAddressRefused);
                    return false;
                }
                addressWait = link.timeouts.reply;
                addressNeeded = false;
            }
            if (Answer a = writeFlashByte(link, byte, dataWait); !a.ok()) {
                logFailure(a, kDataRefused);
                return false;
            }
        }
        const uint32_t done = at + 1;
        if (done % kPageSize == 0) ui().setGaugeProgress(static_cast<int>(done / kPageSize), kPageCount, kPagesGauge);
        // A page written whole shows full, not empty: the last page stays in view at the end.
        const uint32_t inPage = done % kPageSize;
        ui().setGaugeProgress(static_cast<int>(inPage == 0 ? kPageSize : inPage), kPageGaugeMax, kPageGauge);
    }
    return true;
}

void IteSessions::failWrite() { op_.finish({.stamp = true}); }

}  // namespace kj
