#include "edid/edid.h"

#include "common/registry.h"

#include <algorithm>
#include <filesystem>

#include "common/image_file.h"
#include "common/text.h"

namespace kj {

const Family edid::kFamily{
    .place = 1,
    .name = "edid",
    .launcherButton = "EDID",
    .launcherCaption = "EEPROM lcd (EDID)",
    .firmware = firmware::kV41,
    .link = {.latencyFirst = true, .accept = firmware::kV41.name, .notFoundLine = kNotFoundArrowLine},
    .language = Language::English,
    .clearsLog = true,
    .imageSize = kEdidImageSize,
    .saveFilter = "BIN файлы EEPROM (*.bin)|*.bin",
    .openFilter = "BIN файлы EEPROM (*.bin)|*.bin|Другие|*.*",
    .alternateImageSize = 128,  // a base block alone
    .sessions = makeSessions<EdidSessions>,
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

std::string badBaseBlockQuestion(const EdidInfo& info) {
    std::vector<std::string> problems;
    if (!info.headerValid) problems.emplace_back("the header is not 00 FF FF FF FF FF FF 00");
    if (!info.blocks.empty() && !info.blocks.front().ok()) {
        const auto& block = info.blocks.front();
        problems.push_back("the checksum is 0x" + hexUpper(block.stored, 2) + ", it should be 0x" +
                           hexUpper(block.computed, 2));
    }
    std::string text = "The base block of this image is not a sane EDID: ";
    for (size_t i = 0; i < problems.size(); ++i) text += (i ? "; " : "") + problems[i];
    text += ".";
    if (!info.headerValid) text += "\nFixing sets the checksum bytes only; the header stays as it is.";
    return text + "\n\nWrite it to the EEPROM anyway?";
}

void EdidSessions::read(const ReadRequest& request) {
    status_.clear();
    op_.begin(kReadingName);
    if (!op_.openLink()) return end(Ending::quietly());
    ui().log(kReading);
    if (!collectImage()) return;
    if (status_ == kStatusError) {
        ui().log(kReadError);
        ui().log("");
        return end({.bytes = kFailureByte});
    }
    if (status_ != kStatusOk) return end(Ending::quietly());
    ui().log(kReadDone);
    logDump();
    ui().log("");
    if (!op_.releaseLink(kSuccessByte)) {
        op_.logFailure(Io::Lost);
        return end(Ending::quietly());
    }
    show(EdidSource::Eeprom);
    return saveImage(request.into);
}

void EdidSessions::write(const WriteRequest& request) {
    status_.clear();
    op_.begin(kWritingName);
    if (!op_.openLink()) return end(Ending::quietly());
    fileName_ = request.name;
    image_.fill(kBlank);
    std::copy_n(request.image.begin(), std::min(request.image.size(), image_.size()), image_.begin());
    ui().log(kWriting);
    return exchangeImage();
}

std::optional<Bytes> EdidSessions::prepare(const WriteRequest& request) {
    fileName_ = request.name;
    Bytes image = request.image;
    image.resize(kEdidImageSize, kBlank);
    std::copy(image.begin(), image.end(), image_.begin());
    show(EdidSource::File);
    const EdidInfo info = decodeEdid(image_);
    if (baseBlockSane(info)) return image;
    const auto answer = ui().choose(badBaseBlockQuestion(info), {kWriteAsIs, kFixAndWrite, kCancelWrite});
    if (answer == kAnswerAsIs) return image;
    if (answer != kAnswerFix) return std::nullopt;
    fixChecksums(image_);
    show(EdidSource::File);
    return Bytes(image_.begin(), image_.end());
}

// The reply may come in any pieces; each is taken as it arrives, never more
// than is still missing.
bool EdidSessions::collectImage() {
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

void EdidSessions::saveImage(ReadInto into) {
    const auto path = op_.chooseOutput(into, {.cancelled = kSaveCancelled, .failed = ""});
    if (!path) return end(Ending::quietly());
    fileName_ = *path;
    if (into == ReadInto::UserFile) {
        ui().log(kSaveTo);
        ui().log(fullName(fileName_));
    }
    op_.output().write(image_);
    return end({.success = true});
}

void EdidSessions::exchangeImage() {
    Link& link = op_.link();
    if (auto io = link.send(kWriteCommand); io != Io::Ok) return failExchange(io);
    uint8_t ready = 0;  // its value means nothing
    if (auto io = link.readByte(ready, link.timeouts.reply); io != Io::Ok) return failExchange(io);
    logDump();
    ui().log("");
    op_.markFlashChanged();
    if (auto io = link.send(image_); io != Io::Ok) return failExchange(io);
    std::array<uint8_t, kStatusSize> reply{};
    // The EEPROM is written byte by byte or page by page before the status comes.
    if (auto io = link.readReply(reply, link.timeouts.slowStep); io != Io::Ok) return failExchange(io);
    status_.assign(reply.begin(), reply.end());
    if (status_ == kStatusOk) {
        ui().log(kWriteDone);
        return end({.success = true, .bytes = kSuccessByte});
    }
    if (status_ == kStatusError) {
        ui().log(kWriteError);
        return end({.bytes = kFailureByte});
    }
    return end(Ending::quietly());
}

void EdidSessions::logDump() {
    for (const auto& line : hexDump(image_)) ui().log(line);
}

void EdidSessions::show(EdidSource source) {
    ui().show(EdidInfoEvent{decodeEdid(image_), source, source == EdidSource::File ? fileName_ : std::string()});
}

void EdidSessions::failExchange(Io io) {
    op_.logFailure(io);
    return end({.bytes = io == Io::Lost ? std::string_view{} : kFailureByte});
}

void EdidSessions::end(Ending ending) { op_.finish(ending); }

}  // namespace kj
