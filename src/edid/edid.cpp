#include "edid/edid.h"

#include "common/registry.h"

#include <algorithm>
#include <filesystem>

#include "common/image_file.h"

namespace kj {

const Family edid::kFamily{
    .place = 1,
    .name = "edid",
    .launcherButton = "EDID",
    .launcherCaption = "EEPROM lcd (EDID)",
    .firmware = "V41",
    .link = {.latencyFirst = true, .accept = "V41", .notFoundLine = kNotFoundArrowLine},
    .language = Language::English,
    .clearsLog = true,
    .imageSize = kEdidImageSize,
    .saveFilter = "BIN файлы EEPROM (*.bin)|*.bin",
    .openFilter = "BIN файлы EEPROM (*.bin)|*.bin|Другие|*.*",
    .alternateImageSize = 128,  // a base block alone
    .imageTool = makeImageTool<EdidProgrammer>,
};
KJ_REGISTER(Family, edid::kFamily)

namespace {

constexpr std::array<uint8_t, 2> kReadCommand{'E', 'r'};
constexpr std::array<uint8_t, 2> kWriteCommand{'E', 'w'};
constexpr size_t kStatusSize = 2;
constexpr size_t kReceiveSize = kEdidImageSize + kStatusSize;
constexpr std::string_view kStatusOk = "OK";
constexpr std::string_view kStatusError = "ER";
constexpr uint8_t kBlank = 0xFF;
constexpr const char* kReadingName = "EDID_READ";
constexpr const char* kWritingName = "EDID_WRITE";
constexpr std::string_view kSuccessByte = "I";
constexpr std::string_view kFailureByte = "O";

constexpr std::string_view kReading = "Reading EEPROM ...";
constexpr std::string_view kReadDone = "Reading from the EEPROM is completed successfully.";
constexpr std::string_view kReadError = "EEPROM does not respond, check the connection !!!";
constexpr std::string_view kSaveCancelled = "Write to file is interrupted.";
constexpr std::string_view kSaveTo = "Save the file: ";
constexpr std::string_view kWriting = "Writing EEPROM ...";
constexpr std::string_view kWriteDone = "Writing data to EEPROM is completed successfully.";
constexpr std::string_view kWriteError = "EEPROM does not respond, or write error! WP 7 pin = '0' ?";
constexpr std::string_view kWriteCancelled = "Write operation is interrupted.";

std::string fullName(const std::string& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

}  // namespace

FileDialogSpec edidSaveDialog() { return saveDialog(edid::kFamily); }

FileDialogSpec edidOpenDialog() { return openDialog(edid::kFamily); }

std::optional<EdidImage> loadEdidImage(const std::string& path, std::string& error) {
    const auto head = readFileHead(path, kEdidImageSize, error);
    if (!head) return std::nullopt;
    EdidImage image;
    image.fill(kBlank);
    std::copy(head->bytes.begin(), head->bytes.end(), image.begin());
    return image;
}

EdidProgrammer::EdidProgrammer(Bridge& bridge, Frontend& ui) : ui_(ui), op_(bridge, ui, edid::kFamily) {}

void EdidProgrammer::read() {
    status_.clear();
    op_.begin(kReadingName);
    if (!op_.openLink()) return end(Ending::quietly());
    ui_.log(kReading);
    if (!collectImage()) return;
    if (status_ == kStatusError) {
        ui_.log(kReadError);
        ui_.log("");
        return end({.bytes = kFailureByte});
    }
    if (status_ != kStatusOk) return end(Ending::quietly());
    ui_.log(kReadDone);
    logDump();
    ui_.log("");
    if (!op_.releaseLink(kSuccessByte)) {
        op_.logFailure(Io::Lost);
        return end(Ending::quietly());
    }
    show(EdidSource::Eeprom);
    return saveImage();
}

void EdidProgrammer::write() {
    status_.clear();
    op_.begin(kWritingName);
    if (!op_.openLink()) return end(Ending::quietly());
    if (!loadImage()) return end(Ending::quietly());
    show(EdidSource::File);
    if (!confirmBaseBlock()) {
        ui_.log(kWriteCancelled);
        return end(Ending::quietly());
    }
    return exchangeImage();
}

// The reply may come in any pieces; each is taken as it arrives, never more
// than is still missing.
bool EdidProgrammer::collectImage() {
    Link& link = op_.link();
    if (auto io = link.send(kReadCommand); io != Io::Ok) {
        failExchange(io);
        return false;
    }
    std::vector<uint8_t> received;
    received.reserve(kReceiveSize);
    if (auto io = link.collect(received, kReceiveSize, link.timeouts.reply); io != Io::Ok) {
        failExchange(io);
        return false;
    }
    std::copy_n(received.begin(), kEdidImageSize, image_.begin());
    status_.assign(received.begin() + kEdidImageSize, received.end());
    return true;
}

void EdidProgrammer::saveImage() {
    const auto path = op_.chooseFile(edidSaveDialog());
    if (!path) {
        ui_.log(kSaveCancelled);
        return end(Ending::quietly());
    }
    fileName_ = *path;
    if (!op_.output().create(fileName_)) {
        ui_.errorBox(boxWithReason(kCreateFileBox, fileName_, op_.output().error()));
        ui_.log("");
        return end(Ending::quietly());
    }
    ui_.log(kSaveTo);
    ui_.log(fullName(fileName_));
    op_.output().write(image_);
    return end({.success = true});
}

bool EdidProgrammer::loadImage() {
    const auto path = op_.chooseFile(edidOpenDialog());
    if (!path) {
        ui_.log(kWriteCancelled);
        return false;
    }
    fileName_ = *path;
    std::string error;
    const auto image = loadEdidImage(fileName_, error);
    if (!image) {
        ui_.errorBox(boxWithReason(kOpenFileBox, fileName_, error));
        ui_.log("");
        return false;
    }
    ui_.log(kWriting);
    image_ = *image;
    return true;
}

bool EdidProgrammer::confirmBaseBlock() {
    const EdidInfo info = decodeEdid(image_);
    if (baseBlockSane(info) || !askBadBaseBlock_) return true;
    switch (askBadBaseBlock_(info)) {
        case EdidWriteChoice::AsIs: return true;
        case EdidWriteChoice::FixChecksums:
            fixChecksums(image_);
            show(EdidSource::File);
            return true;
        case EdidWriteChoice::Cancel: op_.markCancelled(); return false;
    }
    return false;
}

void EdidProgrammer::exchangeImage() {
    Link& link = op_.link();
    if (auto io = link.send(kWriteCommand); io != Io::Ok) return failExchange(io);
    uint8_t ready = 0;  // its value means nothing
    if (auto io = link.readByte(ready, link.timeouts.reply); io != Io::Ok) return failExchange(io);
    logDump();
    ui_.log("");
    if (auto io = link.send(image_); io != Io::Ok) return failExchange(io);
    std::array<uint8_t, kStatusSize> reply{};
    // The EEPROM is written byte by byte or page by page before the status comes.
    if (auto io = link.readReply(reply, link.timeouts.slowStep); io != Io::Ok) return failExchange(io);
    status_.assign(reply.begin(), reply.end());
    if (status_ == kStatusOk) {
        ui_.log(kWriteDone);
        return end({.success = true, .bytes = kSuccessByte});
    }
    if (status_ == kStatusError) {
        ui_.log(kWriteError);
        return end({.bytes = kFailureByte});
    }
    return end(Ending::quietly());
}

void EdidProgrammer::logDump() {
    for (const auto& line : hexDump(image_)) ui_.log(line);
}

void EdidProgrammer::show(EdidSource source) {
    if (showInfo_) showInfo_(decodeEdid(image_), source);
}

void EdidProgrammer::failExchange(Io io) {
    op_.logFailure(io);
    return end({.bytes = io == Io::Lost ? std::string_view{} : kFailureByte});
}

void EdidProgrammer::end(Ending ending) { op_.finish(ending); }

}  // namespace kj
