#include "npce/npce.h"

#include "common/registry.h"

#include <algorithm>

namespace kj {

using namespace npce;

const Family npce::kFamily{
    .place = 6,
    .name = "npce",
    .launcherButton = "BitBtn1",
    .launcherCaption = "NPCE288N/388N",
    .firmware = firmware::kNpce,
    .link = {.handshakeTimeout = Millis{500},
             .reply = LinkVariant::Reply::Search,
             .accept = firmware::kNpce.name,
             .keepTimeouts = true,
             .versionLinePrefix = "Version FW -> "},
    .language = Language::English,
    .ends = {.answered = true},
    .imageSize = kImageSize,
    .saveFilter = "BIN файл NPCE (*.bin)|*.bin",
    .openFilter = "BIN файл NPCE (*.bin)|*.bin|Другие|*.*",
    .flashIncompleteLine = "The NPCE flash is left incomplete: write it again.",
    .verifiesItself = true,
    .sessions = makeSessions<NpceSessions>,
};
KJ_REGISTER(Family, npce::kFamily)

namespace {

constexpr std::string_view kLostChip = "** Lost contact with the chip or ERROR timeout **";
constexpr std::string_view kNotClear = "** Data not clear !**";
constexpr std::string_view kProtocolError = "** HOST/Q17 Protocol ERROR **";
constexpr std::string_view kWriteError = "** ERROR write or ERROR timeout **";
constexpr std::string_view kCorrupted = "ERROR timeout. Corrupted data !? ";
constexpr std::string_view kShortBlock = "Принято не 512 байт  ";

// The end of a write stream, answered like an end byte.
constexpr char kWriteEndByte = static_cast<char>(kWriteEndCmd);
constexpr std::string_view kWriteEnd{&kWriteEndByte, 1};

}  // namespace

// ---- start handlers (window thread) ----

Io NpceSessions::sendAndWait(uint8_t byte) { return npce::sendAndWait(op_.link(), byte); }

bool NpceSessions::checkConnection() {
    IdReply id{};
    const Io io = identify(op_.link(), id);
    if (io == Io::Ok && isFlashId(id)) {
        op_.noteChipId("flash EFh 4012h");
        ui().log("Communication with NPCE installed.");
        ui().log("ID FLASH EFh 4012h ");
        // The answer's value means nothing; only a link that is gone or a quit ends it here.
        const Io answered = sendAndWait(kSuccessEnd);
        if (answered == Io::Lost || answered == Io::Stopped) {
            op_.logFailure(answered);
            return false;
        }
        return true;
    }
    logStepFailure(io, {"No connection to the NPCE!", "Check soldering NPCE or chip damaged."});
    sendAndWait(kFailureEnd);
    return false;
}

bool NpceSessions::openChip() {
    if (!op_.openLink()) return false;
    if (checkConnection()) return true;
    op_.finish(Ending::quietly());  // the check has sent its own end byte
    return false;
}

void NpceSessions::read(const ReadRequest& request) {
    ui().log("");
    if (!openChip()) return;
    const auto path = op_.chooseOutput(request.into, {.cancelled = "Write to file is interrupted."});
    if (!path) return op_.finish(Ending::quietly());
    fileName_ = *path;
    ui().log("Save the file: ");
    ui().log(fileName_);
    ui().setGaugeColour(kLime);
    ui().setGaugeProgress(0, kGaugeMax);
    ui().log("Reading ...");
    op_.begin(kReading);
    op_.logStamp();
    startStream(kReadCmd, &NpceSessions::readStream);
}

void NpceSessions::write(const WriteRequest& request) {
    ui().log("");
    if (!openChip()) return;
    fileName_ = request.name;
    // The chip takes a whole image: 0xFF past the file's end.
    image_ = request.image;
    image_.resize(kImageSize, kErased);
    ui().log("Write to NPCE file:");
    ui().log(fileName_);
    ui().setGaugeColour(kRed);
    ui().setGaugeProgress(0, kGaugeMax);
    op_.logStamp();
    ui().log("Erase ...");
    op_.begin(kWriting);
    if (!eraseAndCheck()) return;
    ui().log("All data is clear!");
    ui().log("Write ...");
    startStream(kWriteCmd, &NpceSessions::writeStream);
}

bool NpceSessions::eraseAndCheck() {
    Link& link = op_.link();
    op_.markFlashChanged();  // whatever the erase answers, the old content may be gone
    Answer answer{};
    Io io = npce::erase(link, answer);
    if (io != Io::Ok || !answerGood(answer)) {
        failStep(io, {kLostChip}, {.stamp = true});
        return false;
    }
    ui().log("Check clear data ...");
    io = blankCheck(link, answer);
    if (io != Io::Ok || !answerGood(answer)) {
        failStep(io, {kNotClear}, {.stamp = true});
        return false;
    }
    return true;
}

void NpceSessions::startStream(uint8_t command, void (NpceSessions::*stream)()) {
    block_ = 1;
    if (Io io = op_.link().send(command); io != Io::Ok) return fail(io);
    (this->*stream)();
}

// ---- read (worker) ----

void NpceSessions::readStream() {
    Link& link = op_.link();
    ReadBlock block{};
    for (;;) {
        size_t received = 0;
        if (Io io = receiveBlock(link, block, received); io != Io::Ok) return fail(io);
        if (!op_.output().write(block)) return op_.failOutput({.stamp = true});
        ui().setGaugeProgress(kReadGaugeStep * block_, kGaugeMax);
        if (block_ == kReadBlockCount) return endRead();
        if (Io io = link.send(kReadCmd); io != Io::Ok) return fail(io);
        ++block_;
    }
}

// The image is stored before the programmer is asked to judge the read, and
// kept only when it calls the read good.
void NpceSessions::endRead() {
    Ending ending{.success = true};
    if (!op_.storeOutput(ending)) {
        ending.stamp = true;
        return op_.finish(ending);
    }
    Answer report{};
    const Io io = endStream(op_.link(), report);
    ui().log("Reading complete ...");
    op_.logStamp();
    if (io != Io::Ok || !readReportGood(report)) return failStep(io, {kCorrupted}, {});
    op_.finish(ending);
}

// ---- write and verify (worker) ----

void NpceSessions::writeStream() {
    Link& link = op_.link();
    for (size_t at = 0;; at += kWriteBlockSize) {
        uint8_t request = 0;
        Io io = awaitRequest(link, request);
        // The Part's protocol error sends no end byte.
        if (io != Io::Ok || request != kWriteRequest)
            return failStep(io, {kProtocolError}, {.bytes = std::string_view{}, .stamp = true});
        io = sendBlock(link, WriteBlock(image_.data() + at, kWriteBlockSize));
        uint8_t status = kBlockFailed;
        if (io == Io::Ok) {
            ui().setGaugeProgress(kWriteGaugeStep * block_, kGaugeMax);
            io = awaitStatus(link, status);
        }
        if (io != Io::Ok || status == kBlockFailed)
            return failStep(io, {kWriteError}, {.bytes = kWriteEnd, .stamp = true});
        if (block_ == kWriteBlockCount) break;
        ++block_;
        if (io = link.send(kWriteCmd); io != Io::Ok) return fail(io);
    }
    op_.markFlashChanged(false);  // written whole; the verification says how well
    if (Io io = sendAndWait(kWriteEndCmd); io != Io::Ok) return fail(io);
    verify();
}

// Reads the flash back and compares it with the image, up to the first block
// that differs.
void NpceSessions::verify() {
    Link& link = op_.link();
    ui().log("Verify ...");
    ui().setGaugeColour(kYellow);
    ui().setGaugeProgress(0, kGaugeMax);
    if (Io io = link.send(kReadCmd); io != Io::Ok) return fail(io);
    ReadBlock block{};
    bool match = true;
    for (int number = 1;; ++number) {
        size_t received = 0;
        const Io io = receiveBlock(link, block, received);
        if (io == Io::Timeout) {
            ui().log(std::string(kShortBlock) + std::to_string(received));
            match = false;
        } else if (io != Io::Ok) {
            return fail(io);
        } else {
            const auto from = image_.begin() + static_cast<std::ptrdiff_t>((number - 1) * kReadBlockSize);
            match = std::equal(block.begin(), block.end(), from);
        }
        ui().setGaugeProgress(kReadGaugeStep * number, kGaugeMax);
        if (!match || number == kReadBlockCount) break;
        if (Io sent = link.send(kReadCmd); sent != Io::Ok) return fail(sent);
    }
    endVerify(match);
}

void NpceSessions::endVerify(bool match) {
    Answer report{};
    const Io io = endStream(op_.link(), report);
    if (io != Io::Ok || !verifyReportGood(report)) return failStep(io, {kCorrupted}, {.stamp = true});
    if (!match) {
        ui().log("*** Data is written incorrectly ***");
        return op_.finish({.stamp = true});
    }
    ui().log("Nuvoton chip is programmed succesfully!");
    op_.finish({.success = true, .stamp = true});
}

// ---- ends ----

// A step with lines of its own: they stand for a time-out and for a wrong
// answer; a reply of the wrong length says so first; a lost link or a stop is
// said as such, and a stop ends with the failure end byte whatever the step.
void NpceSessions::logStepFailure(Io io, std::initializer_list<std::string_view> lines) {
    if (io == Io::Lost || io == Io::Stopped) return op_.logFailure(io);
    if (io == Io::Overrun) op_.logFailure(io);
    for (auto line : lines) ui().log(line);
}

void NpceSessions::failStep(Io io, std::initializer_list<std::string_view> lines, Ending ending) {
    logStepFailure(io, lines);
    if (io == Io::Stopped) ending.bytes.reset();
    op_.finish(ending);
}

void NpceSessions::fail(Io io) {
    op_.logFailure(io);
    op_.finish({.stamp = true});
}

}  // namespace kj
