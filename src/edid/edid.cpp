#include "edid/edid.h"

#include <algorithm>
#include <filesystem>

#include "common/image_file.h"

namespace kj {

namespace {

constexpr std::array<uint8_t, 2> kReadCommand{'E', 'r'};
constexpr std::array<uint8_t, 2> kWriteCommand{'E', 'w'};
constexpr size_t kStatusSize = 2;
constexpr size_t kReceiveSize = kEdidImageSize + kStatusSize;
constexpr std::string_view kStatusOk = "OK";
constexpr std::string_view kStatusError = "ER";
constexpr uint8_t kBlank = 0xFF;

constexpr std::string_view kReading = "Reading EEPROM ...";
constexpr std::string_view kReadDone = "Reading from the EEPROM is completed successfully.";
constexpr std::string_view kReadError = "EEPROM does not respond, check the connection !!!";
constexpr std::string_view kSaveCancelled = "Write to file is interrupted.";
constexpr std::string_view kSaveTo = "Save the file: ";
constexpr std::string_view kWriting = "Writing EEPROM ...";
constexpr std::string_view kWriteDone = "Writing data to EEPROM is completed successfully.";
constexpr std::string_view kWriteError = "EEPROM does not respond, or write error! WP 7 pin = '0' ?";
constexpr std::string_view kWriteCancelled = "Write operation is interrupted.";
constexpr std::string_view kSaveFailed = "Error writing the file: it is not saved.";
constexpr std::string_view kLoadFailed = "Error reading the file: nothing is written.";

std::string fullName(const std::string& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

// Up to the image's size from the file; a shorter file leaves the rest blank.
bool readImage(ImageFile& file, EdidImage& image) {
    image.fill(kBlank);
    size_t got = 0;
    const bool whole = file.read(image, got);
    return file.close() && whole;
}

}  // namespace

FileDialogSpec edidSaveDialog() { return imageSaveDialog("BIN файлы EEPROM (*.bin)|*.bin"); }

FileDialogSpec edidOpenDialog() { return imageOpenDialog("BIN файлы EEPROM (*.bin)|*.bin|Другие|*.*"); }

EdidFileRead loadEdidImage(const std::string& path, EdidImage& image) {
    ImageFile file;
    if (!file.open(path)) return EdidFileRead::CannotOpen;
    return readImage(file, image) ? EdidFileRead::Ok : EdidFileRead::CannotRead;
}

EdidProgrammer::EdidProgrammer(Bridge& bridge, Frontend& ui) : link_(bridge, ui), ui_(ui) {}

bool EdidProgrammer::read() {
    ui_.clearLog();
    status_.clear();
    if (link_.open(variants::kEdid) != kLinkOpen) return false;
    ui_.log(kReading);
    if (!collectImage()) return false;
    if (status_ == kStatusError) {
        ui_.log(kReadError);
        ui_.log("");
        finish(kFailureEnd);
        return false;
    }
    if (status_ != kStatusOk) {
        link_.close();
        return false;
    }
    ui_.log(kReadDone);
    logDump();
    ui_.log("");
    finish(kSuccessEnd);
    show();
    return saveImage();
}

bool EdidProgrammer::write() {
    ui_.clearLog();
    status_.clear();
    if (link_.open(variants::kEdid) != kLinkOpen) return false;
    if (!loadImage()) {
        link_.close();
        return false;
    }
    show();
    if (!confirmBaseBlock()) {
        ui_.log(kWriteCancelled);
        link_.close();
        return false;
    }
    return exchangeImage();
}

// The reply may come in any pieces; each is taken as it arrives, never more
// than is still missing.
bool EdidProgrammer::collectImage() {
    if (auto io = link_.send(kReadCommand); io != Io::Ok) return failExchange(io);
    std::vector<uint8_t> received;
    received.reserve(kReceiveSize);
    if (auto io = link_.collect(received, kReceiveSize, link_.timeouts.reply); io != Io::Ok) return failExchange(io);
    std::copy_n(received.begin(), kEdidImageSize, image_.begin());
    status_.assign(received.begin() + kEdidImageSize, received.end());
    return true;
}

bool EdidProgrammer::saveImage() {
    const auto path = ui_.chooseFile(edidSaveDialog());
    if (!path) {
        ui_.log(kSaveCancelled);
        return false;
    }
    fileName_ = *path;
    return writeFile(fileName_);
}

bool EdidProgrammer::writeFile(const std::string& path) {
    ImageFile file;
    if (!file.create(path)) {
        ui_.errorBox(kCreateFileBox);
        ui_.log("");
        return false;
    }
    ui_.log(kSaveTo);
    ui_.log(fullName(path));
    if (file.write(image_) && file.close()) return true;
    // A half-written image must not pass for a saved one later.
    file.discard();
    ui_.errorBox(kWriteFileBox);
    ui_.log(kSaveFailed);
    return false;
}

bool EdidProgrammer::loadImage() {
    const auto path = ui_.chooseFile(edidOpenDialog());
    if (!path) {
        ui_.log(kWriteCancelled);
        return false;
    }
    fileName_ = *path;
    ImageFile file;
    if (!file.open(*path)) {
        ui_.errorBox(kOpenFileBox);
        ui_.log("");
        return false;
    }
    ui_.log(kWriting);
    if (readImage(file, image_)) return true;
    ui_.errorBox(kReadFileBox);
    ui_.log(kLoadFailed);
    return false;
}

bool EdidProgrammer::confirmBaseBlock() {
    const EdidInfo info = decodeEdid(image_);
    if (baseBlockSane(info) || !askBadBaseBlock_) return true;
    switch (askBadBaseBlock_(info)) {
    case EdidWriteChoice::AsIs: return true;
    case EdidWriteChoice::FixChecksums:
        fixChecksums(image_);
        show();
        return true;
    case EdidWriteChoice::Cancel: return false;
    }
    return false;
}

bool EdidProgrammer::exchangeImage() {
    if (auto io = link_.send(kWriteCommand); io != Io::Ok) return failExchange(io);
    uint8_t ready = 0;  // its value means nothing
    if (auto io = link_.readByte(ready, link_.timeouts.reply); io != Io::Ok) return failExchange(io);
    logDump();
    ui_.log("");
    if (auto io = link_.send(image_); io != Io::Ok) return failExchange(io);
    std::array<uint8_t, kStatusSize> reply{};
    // The EEPROM is written byte by byte or page by page before the status comes.
    if (auto io = link_.readExact(reply, link_.timeouts.slowStep); io != Io::Ok) return failExchange(io);
    status_.assign(reply.begin(), reply.end());
    if (status_ == kStatusOk) {
        ui_.log(kWriteDone);
        finish(kSuccessEnd);
        return true;
    }
    if (status_ == kStatusError) {
        ui_.log(kWriteError);
        finish(kFailureEnd);
        return false;
    }
    link_.close();
    return false;
}

void EdidProgrammer::logDump() {
    for (const auto& line : hexDump(image_)) ui_.log(line);
}

void EdidProgrammer::show() {
    if (showInfo_) showInfo_(decodeEdid(image_));
}

bool EdidProgrammer::failExchange(Io io) {
    ui_.log(ioFailureLine(io, Language::English));
    if (io != Io::Lost) link_.send(kFailureEnd);
    link_.close();
    return false;
}

void EdidProgrammer::finish(uint8_t endByte) {
    link_.send(endByte);
    link_.close();
}

}  // namespace kj
