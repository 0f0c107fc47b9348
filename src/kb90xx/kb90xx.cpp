#include "kb90xx/kb90xx.h"

#include "common/text.h"

namespace kj {

using namespace kb90xx;

namespace {

constexpr Language kLanguage = Language::English;
constexpr std::string_view kStars = "**********************************";
constexpr std::string_view kFileWriteError = "Error writing the file: ";
constexpr std::string_view kFileReadError = "Error reading the file: ";

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

FileDialogSpec kb90xxSaveDialog() { return imageSaveDialog("BIN файл KB901X (*.bin)|*.bin"); }

FileDialogSpec kb90xxOpenDialog() { return imageOpenDialog("BIN файл KB901X (*.bin)|*.bin|Другие|*.*"); }

uint16_t UpdateCrc16_KB90(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF]);
}

Kb90xxProgrammer::Kb90xxProgrammer(Bridge& bridge, Frontend& ui) : ui_(ui), link_(bridge, ui) {}

// ---- start handlers (window thread) ----

bool Kb90xxProgrammer::CheckConnection_KB90() {
    uint8_t id = 0;
    Io io = link_.send(kVersionCmd);
    if (io == Io::Ok) io = link_.readByte(id, link_.timeouts.reply);
    if (io == Io::Ok && id != kNoChip) {
        ui_.log("Communication with KB90XX installed.");
        ui_.log("Embedded Debug Version ID = " + std::to_string(id));
        return true;
    }
    ui_.log("");
    ui_.log("No connection to the KB90XX!");
    ui_.log("Motherboard is connected / powered ?");
    link_.send(kFailureEnd);
    return false;
}

bool Kb90xxProgrammer::openChip() {
    if (link_.open(variants::kKb90xx) != kLinkOpen) return false;
    if (CheckConnection_KB90()) return true;
    link_.close();
    return false;
}

void Kb90xxProgrammer::startRead() {
    if (!operation_.isIdle()) return;
    succeeded_ = false;
    ui_.clearLog();
    if (!openChip()) return;
    const auto path = ui_.chooseFile(kb90xxSaveDialog());
    if (!path) {
        ui_.log("Write to file is interrupted.");
        return link_.close();
    }
    fileName_ = *path;
    if (!file_.create(fileName_)) {
        ui_.errorBox(kCreateFileBox);
        return link_.close();
    }
    ui_.log("Save the file: ");
    ui_.log(fileName_);
    ui_.setGaugeColour(kLime);
    ui_.setGaugeProgress(0, kGaugeMax);
    ui_.log("Reading KB9012 ...");
    startStream(kReading, kReadCmd);
}

void Kb90xxProgrammer::startWrite() {
    if (!operation_.isIdle()) return;
    succeeded_ = false;
    ui_.clearLog();
    if (!openChip()) return;
    const auto path = ui_.chooseFile(kb90xxOpenDialog());
    if (!path) {
        ui_.log("Write operation is interrupted.");
        return link_.close();
    }
    fileName_ = *path;
    if (!file_.open(fileName_)) {
        ui_.errorBox(kOpenFileBox);
        return link_.close();
    }
    ui_.log("Write in KB901X file:");
    ui_.log(fileName_);
    ui_.setGaugeColour(kRed);
    ui_.setGaugeProgress(0, kGaugeMax);
    ui_.log("There is a writing KB901X...");
    fileSum_ = 0;
    fileCrc_ = 0;
    startStream(kWriting, kWriteCmd);
}

// The start command goes out before the worker exists, so that the link has
// one user at a time; a failed send is the worker's first (and last) step.
void Kb90xxProgrammer::startStream(const char* name, uint8_t command) {
    ui_.operationStarted(name);
    logTimeStamp();
    operation_.set(name);
    block_ = 1;
    const Io sent = link_.send(command);
    startWorker(operation_, [this, sent] {
        if (sent != Io::Ok) return endFailed(sent);
        ReadThread_KB90();
    });
}

void Kb90xxProgrammer::ReadThread_KB90() {
    if (operation_.is(kReading)) return readStream();
    if (operation_.is(kWriting)) return writeStream();
}

// ---- read (worker) ----

Io Kb90xxProgrammer::receiveBlock(Block& block) {
    uint32_t queued = 0;
    if (Io io = link_.awaitQueued(kBlockSize, link_.timeouts.reply, &queued); io != Io::Ok) return io;
    // More than one block at once means the two ends no longer agree on the stream.
    if (queued > kBlockSize) return Io::Overrun;
    return link_.readExact(block, Millis{0});
}

void Kb90xxProgrammer::readStream() {
    Block block;
    for (;;) {
        if (Io io = receiveBlock(block); io != Io::Ok) return endFailed(io);
        if (!file_.write(block)) return endFileFailed(kFileWriteError, kWriteFileBox);
        ui_.setGaugeProgress(kGaugeStep * block_, kGaugeMax);
        if (block_ == kBlockCount) return endRead();
        if (Io io = link_.send(kNextCmd); io != Io::Ok) return endFailed(io);
        ++block_;
    }
}

void Kb90xxProgrammer::endRead() {
    // Success is claimed only for an image that is stored whole.
    if (!file_.close()) return endFileFailed(kFileWriteError, kWriteFileBox);
    link_.send(kEndCmd);
    ui_.log("Reading completed successfully.");
    logTimeStamp();
    link_.send(kSuccessEnd);
    link_.close();
    endOperation(true);
}

// ---- write (worker) ----

void Kb90xxProgrammer::writeStream() {
    // The chip erases its flash before it asks for the first block.
    Millis requestWait = link_.timeouts.slowStep;
    for (;;) {
        uint8_t reply = 0;
        if (Io io = link_.readByte(reply, requestWait); io != Io::Ok) return endFailed(io);
        requestWait = link_.timeouts.reply;
        Block block;
        block.fill(kErased);
        size_t got = 0;
        if (!file_.read(block, got)) return endFileFailed(kFileReadError, kReadFileBox);
        if (got < kBlockSize) return endShortWrite(block);
        if (Io io = link_.send(block); io != Io::Ok) return endFailed(io);
        for (uint8_t byte : block) {
            fileCrc_ = UpdateCrc16_KB90(fileCrc_, byte);
            fileSum_ = static_cast<uint16_t>(fileSum_ + byte);
        }
        ui_.setGaugeProgress(kGaugeStep * block_, kGaugeMax);
        ++block_;
        if (Io io = link_.readByte(reply, link_.timeouts.reply); io != Io::Ok) return endFailed(io);
        if (block_ > kBlockCount) return verify();
        if (Io io = link_.send(kNextCmd); io != Io::Ok) return endFailed(io);
    }
}

// The file ran out: its rest, padded with 0xFF, is the last block sent.
void Kb90xxProgrammer::endShortWrite(const Block& block) {
    ui_.log(" __ Warning __");
    ui_.log("Recorded file is less than 128*1024 byte");
    uint8_t ack = 0;
    Io io = link_.send(block);
    if (io == Io::Ok) io = link_.readByte(ack, link_.timeouts.reply);
    if (io != Io::Ok) return endFailed(io);
    link_.send(kEndCmd);
    link_.send(kSuccessEnd);
    link_.close();
    logTimeStamp();
    endOperation(true);
}

void Kb90xxProgrammer::verify() {
    link_.send(kEndCmd);
    ui_.log("Writing is completed successfully.");
    ui_.log(kStars);
    ui_.log("SUMM of data from a file  -> " + hex4(fileSum_));
    ui_.log("CRC16 of data from a file -> " + hex4(fileCrc_));
    ui_.log(kStars);
    ui_.setGaugeProgress(0, kGaugeMax);
    ui_.setGaugeColour(kYellow);
    block_ = 0;
    if (Io io = link_.send(kChecksumCmd); io != Io::Ok) return endFailed(io);
    while (block_ < kBlockCount) {
        // Bytes other than the mark do not count, and do not extend its wait.
        if (Io io = link_.skipTo(kProgressMark, link_.timeouts.reply); io != Io::Ok) return endFailed(io);
        ++block_;
        ui_.setGaugeProgress(kGaugeStep * block_, kGaugeMax);
    }
    std::array<uint8_t, kChecksumBytes> flash{};
    if (Io io = link_.readExact(flash, link_.timeouts.reply); io != Io::Ok) return endFailed(io);
    const auto flashSum = static_cast<uint16_t>(flash[0] | flash[1] << 8);
    const auto flashCrc = static_cast<uint16_t>(flash[2] | flash[3] << 8);
    ui_.log("SUMM FLASH KB90XX -> " + hex4(flashSum));
    ui_.log("CRC16 FLASH KB90XX-> " + hex4(flashCrc));
    const bool ok = flashSum == fileSum_ && flashCrc == fileCrc_;
    if (ok) {
        ui_.log(kStars);
        ui_.log("Writing and verify is OK !");
    } else {
        ui_.log("!!! Data is written incorrectly !!! ");
    }
    link_.send(ok ? kSuccessEnd : kFailureEnd);
    logTimeStamp();
    link_.close();
    endOperation(ok);
}

// ---- ends ----

void Kb90xxProgrammer::endFailed(std::string_view line, std::string_view box) {
    ui_.log(line);
    if (operation_.is(kReading) && file_.discard()) ui_.log("The incomplete file is deleted.");
    logTimeStamp();
    link_.send(kFailureEnd);
    link_.close();
    if (!box.empty()) ui_.errorBox(box);
    endOperation(false);
}

void Kb90xxProgrammer::endFailed(Io io) { endFailed(ioFailureLine(io, kLanguage)); }

void Kb90xxProgrammer::endFileFailed(std::string_view what, std::string_view box) {
    endFailed(std::string(what) + file_.error(), box);
}

void Kb90xxProgrammer::endOperation(bool succeeded) {
    file_.close();
    succeeded_ = succeeded;
    ui_.operationEnded();
    operation_.setIdle();  // last: a waiter may free this object from here on
}

void Kb90xxProgrammer::logTimeStamp() { ui_.log(timeStampLine(kLanguage)); }

}  // namespace kj
