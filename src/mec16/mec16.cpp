#include "mec16/mec16.h"

#include "common/registry.h"

#include <algorithm>
#include <span>

#include "common/text.h"

namespace kj {

using namespace mec16;

const Family mec16::kFamily{
    .place = 4,
    .name = "mec16",
    .launcherButton = "MEC16XX",
    .launcherCaption = "MEC1609",
    .firmware = firmware::kV42,
    .link = {.accept = firmware::kV42.name},
    .language = Language::Russian,
    .ends = {.success = "I0", .failure = "O0"},
    .emptyLineAfterStamp = true,
    .fileErrorBoxes = false,
    .imageSize = kMainSize,
    .saveFilter = "BIN файл MEC16 (*.bin)|*.bin",
    .openFilter = "BIN файл MEC16 (*.bin)|*.bin|Другие|*.*",
    .extendedImageSize = kMainSize + kInfoSize,  // MAIN and INFO, as a read with INFO stores them
    .flashIncompleteLine = "Флеш MEC16 записан не полностью: его нужно стереть и записать заново.",
    .openFailedLine = "Ошибка открытия файла",
    // MAIN is written in place: an erase must come first.
    .writesOnlyBlank = true,
    .erases = true,
    .sessions = makeSessions<Mec16Sessions>,
};
KJ_REGISTER(Family, mec16::kFamily)

namespace mec16 {

// A logged register write: its frame's address and value, and its line once done.
struct RegisterWrite {
    uint32_t address;
    uint32_t value;
    std::string_view doneLine;
};

// The loss codes of the three writes that put the controller back when an operation ends.
struct ClosingCodes {
    Loss selectEnd;
    Loss selectIdle;
    Loss accessOff;
};

}  // namespace mec16

namespace {

constexpr RegisterWrite kAccessOnWrite{kAccessRegister, kAccessOn, "Записали в регистр FF3910h 1"};
constexpr RegisterWrite kAccessOffWrite{kAccessRegister, kAccessOff, "Записали в регистр FF3910h 0"};
constexpr RegisterWrite kSelectReadWrite{kSelectRegister, kSelectRead, "Записали в регистр FF3908h 105h"};
constexpr RegisterWrite kSelectWriteWrite{kSelectRegister, kSelectWrite, "Записали в регистр FF3908h 106h"};
constexpr RegisterWrite kSelectEraseWrite{kSelectRegister, kSelectErase, "Записали в регистр FF3908h 107h"};
constexpr RegisterWrite kSelectEndWrite{kSelectRegister, kSelectEnd, "Записали в регистр FF3908h 100h"};
constexpr RegisterWrite kSelectIdleWrite{kSelectRegister, kSelectIdle, "Записали в регистр FF3908h 0"};
constexpr RegisterWrite kWriteStartWrite{kCommandRegister, kWriteStart, "Записали в регистр FF3904h 0"};
constexpr RegisterWrite kEraseMainWrite{kCommandRegister, kEraseMain, "Отправили команду стирания."};
constexpr RegisterWrite kEraseAllWrite{kCommandRegister, kEraseMainAndInfo, "Отправили команду стирания."};

constexpr ClosingCodes kStopCodes{{"P100", true}, {"P101", true}, {"P102"}};
constexpr ClosingCodes kMainReadCodes{{"P104", true}, {"P105", true}, {"P106"}};
constexpr ClosingCodes kInfoReadCodes{{"P110", true}, {"P111", true}, {"P112"}};
constexpr ClosingCodes kWriteCodes{{"W104", true}, {"W105", true}, {"W106"}};

// The registers the response check shows before it judges the status.
struct ShownRegister {
    uint32_t address;
    std::string_view shownAs;
    Loss loss;
};
constexpr ShownRegister kShownRegisters[] = {
    {.address = kDeviceRegister, .shownAs = "Регистр FFFD00h -> ", .loss = {"I100"}},
    {.address = kSelectRegister, .shownAs = "Регистр FF3908h -> ", .loss = {"I101"}},
    {.address = kAccessRegister, .shownAs = "Регистр FF3910h -> ", .loss = {"I102"}},
};
constexpr std::string_view kStatusShownAs = "Регистр FF390Ch -> ";

struct Protection {
    uint8_t bit;
    Indicator indicator;
    std::string_view set;
    std::string_view clear;
};
constexpr Protection kProtections[] = {
    {.bit = kFwpBit,
     .indicator = Indicator::Fwp,
     .set = "--> СТОИТ ЗАЩИТА ЗАПИСИ ! (FWP ножка)",
     .clear = "--> Стирание и запись разрешена (FWP ножка)"},
    {.bit = kBootLockBit,
     .indicator = Indicator::BootLock,
     .set = "--> Стоит Boot_Lock ! (защита загрузочного блока)",
     .clear = "--> Стирание и запись загрузочного блока разрешена"},
};

constexpr std::string_view kClosedLine = "Закрыли VCOM порт";
constexpr std::string_view kShortIdLine = "ID готово 4 байта но сняли меньше ОШИБКА";
constexpr std::string_view kIdLine = "Получен ID от MEC16 -> ";
constexpr std::string_view kBadIdLine = "Неверный ID. Операция прервана!";
constexpr std::string_view kReadCancelledLine = "Операция чтения прервана";
constexpr std::string_view kMainReadLine = "Чтение MAIN блока завершено успешно.";
constexpr std::string_view kInfoReadLine = "Чтение INFO блока завершено успешно.";
constexpr std::string_view kStoppedLine = "Пользователь прервал операцию чтения.";

// The bytes that close each path; the family's own are "I0" and "O0".
constexpr std::string_view kCancelEnd = "O";  // a start given up before the chip was asked
constexpr std::string_view kStopEnd = "0O";   // the user's stop of a read
constexpr std::string_view kLostEraseEnd = "0";
constexpr std::string_view kWriteStreamEnd = "O";  // a failed write stream: no closing byte
constexpr std::string_view kShortWriteEnd = "I";   // nor after the short last block

}  // namespace

void Mec16Sessions::checkResponse() {
    op_.launch([this] {
        op_.runRecord().action = "check";
        check();
        return op_.sessionOutcome() == Outcome::Succeeded;
    });
}

// ---- shared steps ----

bool Mec16Sessions::openLink() {
    if (op_.openLink()) return true;
    op_.finish(Ending::quietly());
    return false;
}

// The stamp that opens an operation has no empty line after it.
void Mec16Sessions::logStartStamp() { ui().log(timeStampLine(kFamily.language)); }

void Mec16Sessions::setIndicator(Indicator which, Rgb colour) { ui().show(IndicatorEvent{which, colour}); }

void Mec16Sessions::setIndicators(Rgb colour) {
    setIndicator(Indicator::BootLock, colour);
    setIndicator(Indicator::Fwp, colour);
}

void Mec16Sessions::setGauge(Rgb colour, int maximum) {
    gaugeMax_ = maximum;
    ui().setGaugeColour(colour);
    ui().setGaugeProgress(0, maximum);
}

bool Mec16Sessions::readChipId(Value& id) {
    const bool whole = readId(link(), id) == Io::Ok;
    if (whole && !isNoChip(id)) op_.noteChipId(valueText(id));
    if (!whole) ui().log(kShortIdLine);
    ui().log(std::string(kIdLine) + valueText(id));
    return whole;
}

// A quit is not a lost chip: it says so instead of the step's loss line.
std::string Mec16Sessions::lossLine(Io io, Loss loss) const {
    if (io == Io::Stopped) return std::string(ioFailureLine(io, kFamily.language));
    return "Потеряна связь с MEC16 (" + std::string(loss.code) + (loss.fullStop ? ")." : ")");
}

bool Mec16Sessions::writeLogged(const RegisterWrite& write, Loss loss) {
    const Io io = writeRegister(link(), write.address, write.value);
    ui().log(io == Io::Ok ? std::string(write.doneLine) : lossLine(io, loss));
    return io == Io::Ok;
}

bool Mec16Sessions::readLogged(uint32_t address, std::string_view shownAs, Loss loss, Value& value, Millis timeout) {
    const Io io = readRegister(link(), address, value, timeout);
    if (io != Io::Ok) {
        ui().log(lossLine(io, loss));
        return false;
    }
    if (!shownAs.empty()) ui().log(std::string(shownAs) + valueText(value));
    return true;
}

// Each is tried even when the one before was lost; a quit waits for none of them.
void Mec16Sessions::closingWrites(const ClosingCodes& codes) {
    if (op_.aborted()) return;
    writeLogged(kSelectEndWrite, codes.selectEnd);
    writeLogged(kSelectIdleWrite, codes.selectIdle);
    writeLogged(kAccessOffWrite, codes.accessOff);
}

bool Mec16Sessions::checkProtection(bool& fault, bool showValue, Loss loss) {
    Value status{};
    if (!readLogged(kStatusRegister, showValue ? kStatusShownAs : "", loss, status, link().timeouts.reply)) {
        fault = true;
        return false;
    }
    for (const Protection& p : kProtections) {
        const bool set = status[3] & p.bit;
        ui().log(set ? p.set : p.clear);
        setIndicator(p.indicator, set ? kRed : kLime);
        fault |= set;
    }
    return true;
}

void Mec16Sessions::failStart() { op_.finish({.closedLine = kClosedLine, .stamp = true}); }

// ---- response check, help, erase ----

void Mec16Sessions::check() {
    op_.begin(kChecking);
    ui().setGaugeProgress(0, gaugeMax_);
    setIndicators(kBlack);
    logStartStamp();
    if (!openLink()) return;
    Value value{};
    bool fault = !readChipId(value);
    for (const ShownRegister& shown : kShownRegisters) {
        if (op_.aborted()) break;
        fault |= !readLogged(shown.address, shown.shownAs, shown.loss, value, link().timeouts.reply);
    }
    if (!op_.aborted()) checkProtection(fault, true, {"I103"});
    op_.finish({.success = !fault && !op_.aborted(), .closedLine = kClosedLine, .stamp = true});
}

// Help, not an operation: shown, never recorded.
void Mec16Sessions::showHelp() {
    if (!op_.idle()) return;
    for (std::string_view line : kHelpLines) ui().shown().log(line);
}

void Mec16Sessions::erase(const EraseRequest& request) {
    op_.begin(kErasing);
    ui().setGaugeProgress(0, gaugeMax_);
    setIndicators(kBlack);
    logStartStamp();
    if (!openLink()) return;
    Value id{};
    bool fault = !readChipId(id);
    checkProtection(fault, true, {"E100"});
    if (fault) {
        ui().log("--> Каманда стирания отменена.");
        return op_.finish({.closedLine = kClosedLine, .stamp = true});
    }
    // A lost step leaves the registers as they are: the later writes are not made.
    const auto eraseCommand = [&] {
        op_.markFlashChanged();
        return writeLogged(request.extended ? kEraseAllWrite : kEraseMainWrite, {"E103"});
    };
    const bool erased = writeLogged(kAccessOnWrite, {"E101"}) && writeLogged(kSelectEraseWrite, {"E102"}) &&
                        eraseCommand() && awaitErased();
    if (erased) {
        op_.markFlashChanged(false);  // erased whole
        ui().log("Стирание завершено успешно.");
    }
    const bool reset = erased && writeLogged(kSelectEndWrite, {"E105"}) && writeLogged(kSelectIdleWrite, {"E106"}) &&
                       writeLogged(kAccessOffWrite, {"E107"});
    op_.finish(reset ? Ending{.success = true, .closedLine = kClosedLine, .stamp = true}
                     : Ending{.bytes = kLostEraseEnd, .closedLine = kClosedLine, .stamp = true});
}

// Reads the status, without a line, until the erase is no longer busy; the
// whole wait has the bound of a step in which the chip works.
bool Mec16Sessions::awaitErased() {
    constexpr Loss kLoss{"E104"};
    const Deadline deadline(link().timeouts.slowStep);
    Value status{};
    for (;;) {
        const Millis wait = std::min(link().timeouts.reply, deadline.left());
        if (!readLogged(kStatusRegister, "", kLoss, status, wait)) return false;
        if (!(status[3] & kEraseBusyBit)) return true;
        if (deadline.passed()) {
            ui().log(lossLine(Io::Timeout, kLoss));
            return false;
        }
    }
}

// ---- read ----

void Mec16Sessions::read(const ReadRequest& request) {
    op_.begin(kReadingMain);
    setGauge(kLime, kReadGaugeMax);
    if (!openLink()) return;
    // The window shows no box for a file: the line is all.
    const auto path =
        op_.chooseOutput(request.into, {.cancelled = kReadCancelledLine, .failed = "Ошибка создания файла"});
    if (!path) return op_.finish({.bytes = kCancelEnd, .closedLine = kClosedLine});
    fileName_ = *path;
    logStartStamp();
    ui().log("Читаем в файл: ");
    ui().log(fileName_);
    withInfo_ = request.extended;
    ui().log(withInfo_ ? "Выбрано чтение MAIN и INFO блоков" : "Выбрано чтение только MAIN блока");
    ui().log("Начали чтение MEC16 main block ...");
    Value id{};
    readChipId(id);
    if (isNoChip(id)) {
        ui().log(kBadIdLine);
        return failStart();
    }
    if (!writeLogged(kAccessOnWrite, {"R100"}) || !writeLogged(kSelectReadWrite, {"R101"})) return failStart();
    block_ = 1;
    // The stop button also ends the wait for a MAIN packet.
    op_.stopEndsWaits(true);
    if (Io io = startReadStream(link(), kMainAddress); io != Io::Ok)
        return failStream(ioFailureLine(io, kFamily.language));
    readStream();
}

void Mec16Sessions::readStream() {
    for (;;) {
        const bool main = op_.name().is(kReadingMain);
        const Io io = receivePacket(link(), packet_);
        if (io == Io::Stopped) return endByStop();
        if (io != Io::Ok) return failStream(ioFailureLine(io, kFamily.language));
        if (!op_.output().write(std::span(packet_).first(kPacketData))) return failOutput();
        if (main) {
            ui().setGaugeProgress(kReadGaugeMax / kMainPackets * block_, kReadGaugeMax);
            if (op_.stopRequested()) return endByStop();
        }
        if (!packetGood(packet_)) return failStream(lossLine(Io::Lost, main ? Loss{"P103", true} : Loss{"P109", true}));
        if (block_ < (main ? kMainPackets : kInfoPackets)) {
            if (Io next = link().send(kNextCmd); next != Io::Ok)
                return failStream(ioFailureLine(next, kFamily.language));
            ++block_;
            continue;
        }
        link().send(kEndCmd);
        if (!main || !withInfo_) return endRead(main);
        ui().log(kMainReadLine);
        if (Io info = startInfo(); info != Io::Ok) return failStream(ioFailureLine(info, kFamily.language));
    }
}

// The INFO block follows MAIN in the same file; the stop button leaves it alone.
Io Mec16Sessions::startInfo() {
    op_.stopEndsWaits(false);
    op_.name().set(kReadingInfo);
    block_ = 1;
    writeLogged(kSelectEndWrite, {"P107", true});
    ui().log("Запускаем чтение INFO блока.");
    writeLogged(kSelectReadWrite, {"P108", true});
    return startReadStream(link(), kInfoAddress);
}

void Mec16Sessions::endRead(bool main) {
    Ending ending{.success = true, .closedLine = kClosedLine, .stamp = true};
    // Success is claimed only for an image that is stored whole.
    if (op_.storeOutput(ending)) ui().log(main ? kMainReadLine : kInfoReadLine);
    closingWrites(main ? kMainReadCodes : kInfoReadCodes);
    op_.finish(ending);
}

// The user's stop, and a quit: the blocks read so far stay under the chosen name.
void Mec16Sessions::endByStop() {
    const bool quitting = op_.aborted();
    op_.stopEndsWaits(false);  // the closing writes wait for their replies
    link().send(kEndCmd);
    ui().log(kStoppedLine);
    closingWrites(kStopCodes);
    op_.finish({.bytes = quitting ? kFamily.ends.failure : kStopEnd,
                .closedLine = kClosedLine,
                .stamp = true,
                .keepPartialImage = op_.output().holdsData()});
}

void Mec16Sessions::failStream(std::string_view line) {
    link().send(kEndCmd);
    ui().log(line);
    op_.finish({.closedLine = kClosedLine, .stamp = true});
}

void Mec16Sessions::failOutput() {
    link().send(kEndCmd);
    op_.failOutput({.closedLine = kClosedLine, .stamp = true});
}

// ---- write ----

void Mec16Sessions::write(const WriteRequest& request) {
    op_.begin(kWritingMain);
    setGauge(kRed, kWriteGaugeMax);
    if (!openLink()) return;
    fileName_ = request.name;
    image_.reset(request.image);
    logStartStamp();
    ui().log("Записываем в файл: ");
    ui().log(fileName_);
    ui().log("Выбрана запись только MAIN блока");
    ui().log("Начали запись MEC16 main block ...");
    Value id{};
    readChipId(id);
    if (isNoChip(id)) {
        ui().log(kBadIdLine);
        return failStart();
    }
    bool fault = false;
    if (!checkProtection(fault, false, {"TW001"})) return failStart();
    if (fault) {
        ui().log("--> Команда записи отменена (nFWP или BOOT_LOCK)");
        return failStart();
    }
    if (!writeLogged(kAccessOnWrite, {"W100"}) || !writeLogged(kSelectWriteWrite, {"W101"}) ||
        !writeLogged(kWriteStartWrite, {"W101A"}))
        return failStart();
    block_ = 1;
    if (Io io = link().send(kWriteStreamCmd); io != Io::Ok) return failWrite(ioFailureLine(io, kFamily.language));
    writeStream();
}

// The programmer asks for each block, and takes it with 'G'. The stop button
// does not end a write: a half-written flash is worse than a finished one.
void Mec16Sessions::writeStream() {
    for (;;) {
        if (Io io = awaitRequest(link()); io != Io::Ok) return failWrite(ioFailureLine(io, kFamily.language));
        Block block;
        const size_t got = image_.next(block, kErased);
        if (got < kBlockSize) return endShortWrite(block);
        op_.markFlashChanged();
        Io io = link().send(block);
        ui().setGaugeProgress(kWriteGaugeMax / kWriteBlocks * block_, kWriteGaugeMax);
        if (io == Io::Ok) io = awaitTaken(link());
        if (io != Io::Ok) return failWrite(lossLine(io, {"W103"}));
        if (block_ == kWriteBlocks) return endWrite();
        if (io = link().send(kNextCmd); io != Io::Ok) return failWrite(ioFailureLine(io, kFamily.language));
        ++block_;
    }
}

// The file ran out: its rest, padded with FFh, is the last block. A last block
// the chip did not take leaves the flash incomplete, and the write failed.
void Mec16Sessions::endShortWrite(const Block& block) {
    ui().log("-> Предупреждение!");
    ui().log("-> Записываемый файл короче!");
    op_.markFlashChanged();
    Io io = link().send(block);
    if (io == Io::Ok) io = awaitTaken(link());
    if (io != Io::Ok) ui().log(lossLine(io, {"W102"}));
    link().send(kEndCmd);
    closingWrites(kWriteCodes);
    op_.finish({.success = io == Io::Ok, .bytes = io == Io::Ok ? kShortWriteEnd : kWriteStreamEnd, .stamp = true});
}

void Mec16Sessions::endWrite() {
    link().send(kEndCmd);
    ui().log("Запись MAIN блока завершена успешно.");
    closingWrites(kWriteCodes);
    op_.finish({.success = true, .closedLine = kClosedLine, .stamp = true});
}

void Mec16Sessions::failWrite(std::string_view line) {
    ui().log(line);
    link().send(kEndCmd);
    op_.finish({.bytes = kWriteStreamEnd, .stamp = true});
}

}  // namespace kj
