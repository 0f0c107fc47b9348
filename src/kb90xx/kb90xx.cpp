#include "kb90xx/kb90xx.h"

#include "common/registry.h"

#include "common/text.h"

namespace kj {

using namespace kb90xx;

const Family kb90xx::kFamily{
    .place = 3,
    .name = "kb90xx",
    .launcherButton = "KB901X",
    .launcherCaption = "KB9010/12/16/22",
    .firmware = firmware::kV41,
    .link = {.accept = firmware::kV41.name},
    .language = Language::English,
    .clearsLog = true,
    .imageSize = kImageSize,
    .saveFilter = "BIN файл KB901X (*.bin)|*.bin",
    .openFilter = "BIN файл KB901X (*.bin)|*.bin|Другие|*.*",
    .flashIncompleteLine = "The KB90XX flash is left incomplete: write it again.",
    .verifiesItself = true,
    .sessions = makeSessions<Kb90xxSessions>,
};
KJ_REGISTER(Family, kb90xx::kFamily)

namespace {

constexpr std::string_view kStars = "**********************************";

constexpr std::array<uint16_t, 256> makeCrcTable() {
    constexpr uint16_t kPolynomial = 0xA001;  // 0x8005 reflected
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        uint16_t value = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? (value >> 1) ^ kPolynomial : value >> 1;
        table[i] = value;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

std::string hex4(uint16_t value) { return hexUpper(value, 4); }

}  // namespace

FileDialogSpec kb90xxSaveDialog() { return saveDialog(kb90xx::kFamily); }

FileDialogSpec kb90xxOpenDialog() { return openDialog(kb90xx::kFamily); }

uint16_t updateCrc16(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF]);
}

// ---- start handlers (window thread) ----

bool Kb90xxSessions::checkConnection() {
    uint8_t id = 0;
    if (readVersionId(op_.link(), id) == Io::Ok && id != kNoChip) {
        op_.noteChipId("debug version " + std::to_string(id));
        ui().log("Communication with KB90XX installed.");
        ui().log("Embedded Debug Version ID = " + std::to_string(id));
        return true;
    }
    ui().log("");
    ui().log("No connection to the KB90XX!");
    ui().log("Motherboard is connected / powered ?");
    return false;
}

bool Kb90xxSessions::openChip() {
    if (!op_.openLink()) return false;
    if (checkConnection()) return true;
    op_.finish(Ending::failed());
    return false;
}

void Kb90xxSessions::read(const ReadRequest& request) {
    if (!openChip()) return;
    const auto path = op_.chooseOutput(request.into, {.cancelled = "Write to file is interrupted."});
    if (!path) return op_.finish(Ending::quietly());
    fileName_ = *path;
    ui().log("Save the file: ");
    ui().log(fileName_);
    ui().setGaugeColour(kLime);
    ui().setGaugeProgress(0, kGaugeMax);
    ui().log("Reading KB9012 ...");
    startStream(kReading, kReadCmd, &Kb90xxSessions::readStream);
}

void Kb90xxSessions::write(const WriteRequest& request) {
    if (!openChip()) return;
    fileName_ = request.name;
    image_.reset(request.image);
    ui().log("Write in KB901X file:");
    ui().log(fileName_);
    ui().setGaugeColour(kRed);
    ui().setGaugeProgress(0, kGaugeMax);
    // From here the write is under way: the controller erases its flash as soon as it takes the command.
    op_.markFlashChanged();
    ui().log("There is a writing KB901X...");
    fileSum_ = 0;
    fileCrc_ = 0;
    startStream(kWriting, kWriteCmd, &Kb90xxSessions::writeStream);
}

void Kb90xxSessions::startStream(const char* name, uint8_t command, void (Kb90xxSessions::*stream)()) {
    op_.begin(name);
    op_.logStamp();
    block_ = 1;
    if (Io io = op_.link().send(command); io != Io::Ok) return fail(io);
    (this->*stream)();
}

// ---- read (worker) ----

void Kb90xxSessions::readStream() {
    Link& link = op_.link();
    Block block;
    for (;;) {
        if (Io io = receiveBlock(link, block); io != Io::Ok) return fail(io);
        if (!op_.output().write(block)) return op_.failOutput({.stamp = true});
        ui().setGaugeProgress(kGaugeStep * block_, kGaugeMax);
        if (block_ == kBlockCount) return endRead();
        if (Io io = link.send(kNextCmd); io != Io::Ok) return fail(io);
        ++block_;
    }
}

void Kb90xxSessions::endRead() {
    // Success is claimed only for an image that is stored whole.
    Ending ending{.success = true, .stamp = true};
    if (!op_.storeOutput(ending)) return op_.finish(ending);
    op_.link().send(kEndCmd);
    ui().log("Reading completed successfully.");
    op_.finish(ending);
}

// ---- write (worker) ----

void Kb90xxSessions::writeStream() {
    Link& link = op_.link();
    // The chip erases its flash before it asks for the first block.
    Millis requestWait = link.timeouts.slowStep;
    for (;;) {
        if (Io io = awaitRequest(link, requestWait); io != Io::Ok) return fail(io);
        requestWait = link.timeouts.reply;
        Block block;
        const size_t got = image_.next(block, kErased);
        if (got < kBlockSize) return endShortWrite(block);
        for (uint8_t byte : block) {
            fileCrc_ = updateCrc16(fileCrc_, byte);
            fileSum_ = static_cast<uint16_t>(fileSum_ + byte);
        }
        if (Io io = writeBlock(link, block); io != Io::Ok) return fail(io);
        ui().setGaugeProgress(kGaugeStep * block_, kGaugeMax);
        if (++block_ > kBlockCount) {
            op_.markFlashChanged(false);  // written whole; the verification says how well
            return verify();
        }
        if (Io io = link.send(kNextCmd); io != Io::Ok) return fail(io);
    }
}

// The file ran out: its rest, padded with 0xFF, is the last block sent.
void Kb90xxSessions::endShortWrite(const Block& block) {
    ui().log(" __ Warning __");
    ui().log("Recorded file is less than 128*1024 byte");
    if (Io io = writeBlock(op_.link(), block); io != Io::Ok) return fail(io);
    op_.link().send(kEndCmd);
    op_.finish({.success = true, .stamp = true});
}

void Kb90xxSessions::verify() {
    Link& link = op_.link();
    link.send(kEndCmd);
    ui().log("Writing is completed successfully.");
    ui().log(kStars);
    ui().log("SUMM of data from a file  -> " + hex4(fileSum_));
    ui().log("CRC16 of data from a file -> " + hex4(fileCrc_));
    ui().log(kStars);
    ui().setGaugeProgress(0, kGaugeMax);
    ui().setGaugeColour(kYellow);
    FlashChecks flash;
    const auto onMark = [this](int mark) { ui().setGaugeProgress(kGaugeStep * mark, kGaugeMax); };
    if (Io io = readFlashChecks(link, onMark, flash); io != Io::Ok) return fail(io);
    ui().log("SUMM FLASH KB90XX -> " + hex4(flash.sum));
    ui().log("CRC16 FLASH KB90XX-> " + hex4(flash.crc));
    const bool ok = flash.sum == fileSum_ && flash.crc == fileCrc_;
    if (ok) {
        ui().log(kStars);
        ui().log("Writing and verify is OK !");
    } else {
        ui().log("!!! Data is written incorrectly !!! ");
    }
    op_.finish({.success = ok, .stamp = true});
}

// ---- ends ----

void Kb90xxSessions::fail(Io io) {
    op_.logFailure(io);
    op_.finish({.stamp = true});
}

}  // namespace kj
