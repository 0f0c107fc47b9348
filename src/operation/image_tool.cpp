#include "operation/image_tool.h"

#include <algorithm>
#include <ctime>
#include <regex>
#include <system_error>

#include "common/backup_name.h"
#include "common/connection_base.h"
#include "common/digest.h"
#include "common/history.h"
#include "common/private_files.h"
#include "common/text.h"

namespace kj {

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kErased = 0xFF;
// A write's file is read whole, to fingerprint it; anything larger is no image.
constexpr size_t kMaxInputBytes = 16u << 20;

// Backups are pruned, oldest first, beyond either bound.
constexpr size_t kMaxBackups = 500;
constexpr uintmax_t kMaxBackupBytes = uintmax_t{1} << 30;

constexpr Text kFileLabel{"File", "Файл"};
constexpr Text kToChipLabel{"To the chip", "В чип"};
constexpr Text kReadLabel{"Read", "Прочитано"};
constexpr Text kBytes{" bytes", " байт"};
constexpr Text kReadingTheChip{": reading the chip ...", ": читаем чип ..."};
constexpr Text kDone{": done, ", ": готово, "};
constexpr Text kBackupLabel{"Backup", "Резервная копия"};
constexpr Text kBlankCheckLabel{"Blank check", "Проверка чистоты"};
constexpr Text kReadBackLabel{"Read-back", "Проверка"};
constexpr Text kSecondReadLabel{"Second read", "Второе чтение"};
constexpr Text kCompareLabel{"Compare", "Сравнение"};
constexpr Text kBackupSaved{"Backup of the chip: ", "Резервная копия чипа: "};
constexpr Text kNoBackup{"no backup will be made", "резервная копия не делается"};
constexpr Text kBackupGoesTo{"the backup goes to ", "резервная копия: "};
constexpr Text kNotBlank{"The flash is not blank: erasing it first.", "Флеш не чистый: сначала стираем."};
constexpr Text kEraseFirst{"The flash is not blank and must be erased before the write. Erase it and write?",
                           "Флеш не чистый, перед записью его нужно стереть. Стереть и записать?"};
constexpr Text kWriteCancelled{"Write cancelled: nothing was written.", "Запись отменена: ничего не записано."};
constexpr Text kEraseCancelled{"Erase cancelled: nothing was erased.", "Стирание отменено: ничего не стёрто."};
constexpr Text kVerifyCancelled{"Verify cancelled.", "Проверка отменена."};
constexpr Text kStoppedUntouched{"Stopped: nothing was written or erased.",
                                 "Остановлено: ничего не записано и не стёрто."};
constexpr Text kWriteQuestion{"Write into the ", "Записать в "};
constexpr Text kRestoreQuestion{"Restore this backup into the ", "Вернуть эту резервную копию в "};
constexpr Text kRestoring{"Restoring ", "Возвращаем "};
constexpr Text kNothingToRestore{"no backup to restore: ", "нет резервной копии для возврата: "};
constexpr Text kSuspect{
    "This backup follows a failed operation on the same board: the chip may no longer hold its own "
    "firmware.",
    "Эта копия снята после неудачной операции с той же платой: в чипе может быть уже не её "
    "прошивка."};
constexpr Text kEraseQuestion{"Erase the ", "Стереть "};
constexpr Text kVerifyTitle{"Choose the file to compare the chip with", "Выберите файл для сравнения с чипом"};
constexpr Text kBlankFile{"The file is blank: every byte is ", "Файл пустой (blank): все байты "};
constexpr Text kWriteAnyway{". Write it anyway?", ". Всё равно записать?"};
constexpr Text kBlankChip{"WARNING: the chip reads blank: every byte is ",
                          "WARNING: чип читается пустым (blank): все байты "};
constexpr Text kClipSeated{"; is the clip seated?", "; клипса сидит плотно?"};
constexpr Text kGoOn{"\nGo on?", "\nПродолжить?"};
constexpr Text kTooLarge{"is too large for an image of this chip", "слишком велик для образа этого чипа"};

constexpr Text kBackupFailed{"the backup read failed; nothing was written or erased",
                             "не удалось прочитать резервную копию; ничего не записано и не стёрто"};
constexpr Text kBackupUnsaved{"the backup could not be saved: ", "резервную копию не удалось сохранить: "};
constexpr Text kBackupIsInput{"the backup would replace the file to write: ",
                              "резервная копия заменила бы записываемый файл: "};
constexpr Text kNothingChanged{"; nothing was written or erased", "; ничего не записано и не стёрто"};
constexpr Text kStopped{"stopped by the user; nothing was written or erased",
                        "остановлено пользователем; ничего не записано и не стёрто"};
constexpr Text kReadFailed{"the read failed", "чтение не удалось"};
constexpr Text kWriteFailed{"the write failed", "запись не удалась"};
constexpr Text kEraseFailed{"the erase failed", "стирание не удалось"};
constexpr Text kReadBackFailed{"the chip could not be read back", "чип не удалось прочитать для проверки"};
constexpr Text kFileUnread{"the file could not be read: ", "файл не прочитан: "};
constexpr Text kDiffersAt{"the chip differs from the file at ", "чип отличается от файла по адресу "};
constexpr Text kReadsDifferAt{"two reads differ at ", "два чтения отличаются по адресу "};
constexpr Text kDifferingCount{"bytes that differ: ", "отличающихся байт: "};
constexpr Text kBlank{"blank image: every byte is ", "пустой образ (blank): все байты "};
constexpr Text kNotVerified{"not verified", "не проверено"};
constexpr Text kSizesDiffer{"the file is ", "в файле "};
constexpr Text kChipHolds{" bytes, the chip ", " байт, в чипе "};
constexpr Text kFirstAgree{"; the first ", "; первые "};
constexpr Text kAgree{" agree", " совпадают"};

struct Difference {
    size_t first = 0;
    size_t count = 0;
};

std::optional<Difference> difference(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    const size_t length = std::max(a.size(), b.size());
    std::optional<Difference> found;
    for (size_t i = 0; i < length; ++i) {
        const bool same = i < a.size() && i < b.size() && a[i] == b[i];
        if (same) continue;
        if (!found) found = Difference{.first = i};
        ++found->count;
    }
    return found;
}

// "0x02A51": as many digits as the image's last address needs.
std::string addressText(size_t address, size_t imageSize) {
    int digits = 1;
    for (size_t last = imageSize > 0 ? imageSize - 1 : 0; last >= 16; last /= 16) ++digits;
    return "0x" + hexUpper(static_cast<uint32_t>(address), std::max(digits, 2));
}

// A failure naming the first differing address and how many differ; nothing when `a` and `b` agree.
std::optional<Verdict> mismatch(const Text& what, std::span<const uint8_t> a, std::span<const uint8_t> b,
                                Language language) {
    const auto diff = difference(a, b);
    if (!diff) return std::nullopt;
    return Verdict{Verdict::Kind::Failed, what(language) + addressText(diff->first, std::max(a.size(), b.size())) +
                                              "; " + kDifferingCount(language) + std::to_string(diff->count)};
}

// One byte over the whole image: nothing read, or a chip that is not there.
std::optional<uint8_t> blankByte(std::span<const uint8_t> image) {
    if (image.empty()) return std::nullopt;
    const bool blank = std::all_of(image.begin(), image.end(), [&](uint8_t b) { return b == image.front(); });
    return blank ? std::optional(image.front()) : std::nullopt;
}

std::string byteText(uint8_t byte) { return hexUpper(byte, 2) + "h"; }

Bytes padded(Bytes image, size_t size) {
    if (image.size() < size) image.resize(size, kErased);
    return image;
}

Verdict failed(std::string reason) { return {Verdict::Kind::Failed, std::move(reason)}; }

// ---- backups ----

// Oldest first beyond the bounds, only this program's own backups in the
// family's own folder: never a link, a subfolder or a file the user put there,
// which do not count either. `keep` stays whatever its age. A backups folder
// that is a link leads somewhere the user chose: nothing there is deleted.
void pruneBackups(const fs::path& folder, std::string_view family, const fs::path& keep) {
    for (const fs::path& at : {folder, folder.parent_path()}) {
        std::error_code linkError;
        if (!fs::is_directory(fs::symlink_status(at, linkError))) return;
    }
    struct Entry {
        fs::path path;
        std::string stamp;
        uintmax_t size;
    };
    std::vector<Entry> own;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec)) {
        std::error_code statError;
        if (!fs::is_regular_file(it->symlink_status(statError)) || statError) continue;
        const auto name = parseBackupName(utf8Of(it->path().filename()), family);
        const uintmax_t size = it->file_size(statError);
        if (name && !statError) own.push_back({it->path(), name->stamp, size});
    }
    std::sort(own.begin(), own.end(), [](const Entry& a, const Entry& b) {
        return a.stamp != b.stamp ? a.stamp > b.stamp : a.path.filename() > b.path.filename();
    });
    uintmax_t kept = 0;
    size_t count = 0;
    for (const Entry& entry : own) {
        if (entry.path == keep || (count < kMaxBackups && kept + entry.size <= kMaxBackupBytes)) {
            ++count;
            kept += entry.size;
            continue;
        }
        fs::remove(entry.path, ec);
    }
}

}  // namespace

fs::path backupFolder(const Family& family) { return dataFolder() / "backups" / std::string(family.name); }

std::unique_ptr<ImageTool> makeImageTool(const Family& family, Bridge& bridge, Frontend& ui) {
    if (!family.sessions) return nullptr;
    return std::make_unique<ImageTool>(bridge, ui, family);
}

ImageTool::ImageTool(Bridge& bridge, Frontend& ui, const Family& family)
    : op_(bridge, ui, family), sessions_(family.sessions(op_)) {}

ImageTool::~ImageTool() {
    op_.abort();
    op_.join();
}

// ---- the handlers ----

void ImageTool::startRead(bool extended) { run(&ImageTool::readAction, extended); }
void ImageTool::startWrite() { run(&ImageTool::writeAction, false); }
void ImageTool::startVerify() { run(&ImageTool::verifyAction, false); }
void ImageTool::startErase(bool extended) { run(&ImageTool::eraseAction, extended); }
void ImageTool::startRestore(std::optional<std::string> backup) {
    op_.launch([this, backup = std::move(backup)] { return restoreAction(backup); });
}

bool ImageTool::run(bool (ImageTool::*action)(bool), bool extended) {
    return op_.launch([this, action, extended] { return (this->*action)(extended); });
}

// ---- the steps ----

template <class Request>
Outcome ImageTool::session(void (ImageSessions::*run)(const Request&), const Request& request) {
    // A quit ends the action: no session starts after it.
    if (op_.aborted()) return Outcome::Failed;
    op_.startSession();
    (sessions_.get()->*run)(request);
    // A session that gave up before the programmer was asked has not ended yet.
    if (!op_.name().isIdle()) op_.finish(Ending::failed());
    return op_.sessionOutcome();
}

std::optional<Bytes> ImageTool::quietRead(Phase phase, std::string_view label, bool extended) {
    SessionFrontend& ui = op_.ui();
    const Language language = family().language;
    ui.phase(phase);
    ui.log(std::string(label) + kReadingTheChip(language));
    ui.holdLines(true);
    const Outcome outcome = session(&ImageSessions::read, ReadRequest{.into = ReadInto::Memory, .extended = extended});
    ui.holdLines(false);
    const auto held = ui.takeHeldLines();
    if (outcome != Outcome::Succeeded) {
        // Why it failed is in the session's own lines.
        for (const auto& line : held) ui.log(line);
        return std::nullopt;
    }
    Bytes image = op_.output().image();
    ui.log(std::string(label) + kDone(language) + std::to_string(image.size()) + kBytes(language) + ", CRC32 " +
           crc32Hex(image) + ", SHA-256 " + sha256Hex(image));
    return image;
}

std::optional<Bytes> ImageTool::takeBackup(bool extended, std::string_view before, const std::string& input) {
    SessionFrontend& ui = op_.ui();
    const Family& family = this->family();
    const Language language = family.language;
    // Without a backup the read still tells whether the flash is blank.
    const bool kept = safety.backup;
    std::error_code ec;
    if (kept && !input.empty() && fs::equivalent(pathOf(safety.backupFile), pathOf(input), ec)) {
        conclude(failed(kBackupIsInput(language) + safety.backupFile + kNothingChanged(language)));
        return std::nullopt;
    }
    auto image = quietRead(kept ? Phase::Backup : Phase::BlankCheck,
                           (kept ? kBackupLabel : kBlankCheckLabel).in(language), extended);
    if (!image) {
        if (op_.aborted() && !op_.chipTouched()) ui.log(kStoppedUntouched.in(language));
        conclude(failed(op_.aborted() ? kStopped(language) : kBackupFailed(language)));
        return std::nullopt;
    }
    if (kept) {
        const fs::path folder = backupFolder(family);
        const BackupName name{.stamp = backupStamp(std::time(nullptr)),
                              .job = ui.job(),
                              .tool = std::string(family.name),
                              .before = std::string(before),
                              .sha8 = sha256Hex(*image).substr(0, 8)};
        const fs::path path = !safety.backupFile.empty() ? pathOf(safety.backupFile) : folder / formatBackupName(name);
        std::error_code ec;
        makePrivateFolders(path.parent_path(), ec);
        // Written whole once the chip is read: a failure or a signal leaves no part of it.
        ImageOutput out;
        out.rules.forced = false;
        out.privateFile = true;
        if (ec || !out.create(utf8Of(path)) || !out.write(*image) || !out.commit()) {
            const std::string reason = ec ? ec.message() : out.error();
            conclude(failed(kBackupUnsaved(language) + fileProblem(utf8Of(path), reason) + kNothingChanged(language)));
            return std::nullopt;
        }
        if (safety.backupFile.empty()) pruneBackups(folder, family.name, path);
        ui.log(kBackupSaved(language) + out.placedAt());
        indexBackup(out.placedAt(), before, *image);
    }
    // A clip without contact reads one repeated byte; so does an erased chip.
    if (const auto blank = blankByte(*image)) {
        const std::string warning = kBlankChip(language) + byteText(*blank) + kClipSeated(language);
        ui.log(warning);
        if (!ui.confirm(warning.substr(warning.find(' ') + 1) + kGoOn(language), Ask::BlankChip)) {
            ui.log(kStoppedUntouched.in(language));
            return std::nullopt;
        }
    }
    return image;
}

bool ImageTool::eraseIfNeeded(const Bytes& chip) {
    SessionFrontend& ui = op_.ui();
    const Language language = family().language;
    if (blankByte(chip) == kErased) return true;
    if (!ui.confirm(kEraseFirst.in(language), Ask::EraseFirst)) {
        return cancel(kWriteCancelled.in(language));
    }
    ui.log(kNotBlank.in(language));
    ui.phase(Phase::Erase);
    if (session(&ImageSessions::erase, EraseRequest{}) == Outcome::Succeeded) return true;
    conclude(failed(kEraseFailed(language)));
    return false;
}

std::optional<Verdict> ImageTool::compareWithChip(const Bytes& expected) {
    const Language language = family().language;
    const auto chip = quietRead(Phase::ReadBack, kReadBackLabel.in(language), expected.size() > family().imageSize);
    if (!chip) return failed(kReadBackFailed(language));
    return mismatch(kDiffersAt, *chip, padded(expected, chip->size()), language);
}

// The file, read whole once: what is fingerprinted is what the chip gets.
std::optional<ImageTool::Input> ImageTool::chooseInput(std::optional<std::string> given) {
    SessionFrontend& ui = op_.ui();
    const Family& family = this->family();
    const Language language = family.language;
    const auto path = given ? given : ui.chooseFile(openDialog(family));
    if (!path) {
        cancel(kWriteCancelled.in(language));
        return std::nullopt;
    }
    std::string error;
    auto head = readFileHead(*path, kMaxInputBytes + 1, error);
    if (head && head->size > kMaxInputBytes) error = kTooLarge(language);
    if (!head || !error.empty()) {
        if (!family.openFailedLine.empty()) ui.log(family.openFailedLine);
        if (family.fileErrorBoxes) ui.errorBox(boxWithReason(kOpenFileBox, *path, error));
        if (safety.on) conclude(failed(kFileUnread(language) + fileProblem(*path, error)));
        return std::nullopt;
    }
    if (!isImageSize(family, head->size) &&
        !ui.confirm(imageSizeQuestion(language, *path, head->size, family.imageSize), Ask::ImageSize)) {
        cancel(kWriteCancelled.in(language));
        return std::nullopt;
    }
    return Input{*path, std::move(head->bytes), head->size};
}

bool ImageTool::failUnlessCancelled(Outcome outcome, std::string_view reason) {
    if (outcome == Outcome::Failed) conclude(failed(std::string(reason)));
    return false;
}

// A user's no: said, and the gauge left empty, with no verdict.
bool ImageTool::cancel(std::string_view line) {
    SessionFrontend& ui = op_.ui();
    ui.log(line);
    ui.setGaugeColour(kBlack);
    ui.setGaugeProgress(0, 1);
    return false;
}

bool ImageTool::askToDestroy(std::string_view what, const Input* input) {
    const Family& family = this->family();
    const Language language = family.language;
    std::string question = std::string(what) + std::string(family.launcherCaption) + "?\n";
    if (input) {
        question += input->path + "\n" + std::to_string(input->size) + kBytes(language) + ", CRC32 " +
                    crc32Hex(input->bytes) + "\n";
    }
    question += safety.backup ? kBackupGoesTo(language) +
                                    (safety.backupFile.empty() ? utf8Of(backupFolder(family)) : safety.backupFile)
                              : kNoBackup(language);
    return op_.ui().confirm(question, Ask::Destroy);
}

void ImageTool::keepFileInRecord(const std::string& path, std::span<const uint8_t> bytes) {
    RunRecord& record = op_.runRecord();
    record.file = path;
    record.size = bytes.size();
    record.crc32 = crc32Hex(bytes);
    record.sha256 = sha256Hex(bytes);
}

// The index says what the backup came before and, once the operation ends,
// how it went; a chip backed up after a failure of the same job is suspect.
void ImageTool::indexBackup(const std::string& path, std::string_view before, std::span<const uint8_t> image) {
    SessionFrontend& ui = op_.ui();
    RunRecord& record = op_.runRecord();
    record.backup = path;
    history::Store store;
    const auto added = store.addBackup({.path = path,
                                        .job = ui.job(),
                                        .tool = std::string(family().name),
                                        .before = std::string(before),
                                        .chipId = record.chipId,
                                        .size = image.size(),
                                        .sha256 = sha256Hex(image)});
    if (!added) return ui.recordOnly("history: " + added.error());
    if (added->suspect.value_or(false)) ui.log(kSuspect.in(family().language));
}

void ImageTool::logImage(std::string_view label, std::span<const uint8_t> bytes) {
    const Language language = family().language;
    op_.ui().log(std::string(label) + ": " + std::to_string(bytes.size()) + kBytes(language) + ", CRC32 " +
                 crc32Hex(bytes) + ", SHA-256 " + sha256Hex(bytes));
}

bool ImageTool::conclude(const Verdict& verdict) {
    SessionFrontend& ui = op_.ui();
    ui.log(verdict.text());
    RunRecord& record = op_.runRecord();
    record.verdict = verdict;
    if (!record.backup.empty()) {
        history::Store store;
        (void)store.settleBackup(record.backup, record.file, history::verdictWord(verdict.kind));
    }
    ui.setGaugeColour(verdict.kind == Verdict::Kind::Passed    ? kLime
                      : verdict.kind == Verdict::Kind::Warning ? kYellow
                                                               : kRed);
    Verdict shown = verdict;
    shown.backup = record.backup;
    ui.showVerdict(shown);
    return verdict.kind != Verdict::Kind::Failed;
}

// ---- the actions ----

bool ImageTool::readAction(bool extended) {
    op_.runRecord().action = "read";
    const Language language = family().language;
    if (family().clearsLog) op_.ui().clearLog();
    const Outcome outcome =
        session(&ImageSessions::read, ReadRequest{.into = ReadInto::UserFile, .extended = extended});
    if (!safety.on) return outcome == Outcome::Succeeded;
    if (outcome != Outcome::Succeeded) return failUnlessCancelled(outcome, kReadFailed.in(language));
    const Bytes first = op_.output().image();
    logImage(kReadLabel.in(language), first);
    keepFileInRecord(op_.output().placedAt(), first);
    if (safety.readTwice) {
        const auto second = quietRead(Phase::SecondRead, kSecondReadLabel.in(language), extended);
        if (!second) return conclude(failed(kReadFailed(language)));
        if (auto differ = mismatch(kReadsDifferAt, first, *second, language)) return conclude(*differ);
    }
    if (const auto blank = blankByte(first))
        return conclude({Verdict::Kind::Warning, kBlank(language) + byteText(*blank)});
    return conclude({Verdict::Kind::Passed});
}

bool ImageTool::writeAction(bool) { return writeFile(std::nullopt, kBeforeWrite, {}); }

bool ImageTool::restoreAction(std::optional<std::string> backup) {
    SessionFrontend& ui = op_.ui();
    const Language language = family().language;
    op_.runRecord().action = "restore";
    if (!backup) {
        history::Store store;
        const auto choice = store.restoreChoice(family().name, ui.job());
        if (!choice) return conclude(failed(kNothingToRestore(language) + choice.error()));
        backup = choice->backup.path;
        return writeFile(backup, kBeforeRestore, kRestoring(language) + *backup + " (" + choice->reason + ")");
    }
    return writeFile(backup, kBeforeRestore, kRestoring(language) + *backup);
}

bool ImageTool::writeFile(std::optional<std::string> given, std::string_view before, const std::string& why) {
    SessionFrontend& ui = op_.ui();
    const Family& family = this->family();
    const Language language = family.language;
    RunRecord& record = op_.runRecord();
    if (record.action.empty()) record.action = "write";
    auto input = chooseInput(std::move(given));
    if (!input) return false;
    WriteRequest request{.name = input->path, .image = input->bytes, .fileSize = input->size};
    request.image.resize(std::min(request.image.size(), family.imageSize));
    auto prepared = sessions_->prepare(request);
    if (!prepared) {
        return cancel(kWriteCancelled.in(language));
    }
    request.image = std::move(*prepared);
    if (!safety.on) {
        if (family.clearsLog) ui.clearLog();
        return session(&ImageSessions::write, request) == Outcome::Succeeded;
    }

    if (const auto blank = blankByte(request.image);
        blank && !ui.confirm(kBlankFile(language) + byteText(*blank) + kWriteAnyway(language), Ask::BlankImage)) {
        return cancel(kWriteCancelled.in(language));
    }
    if (!askToDestroy((before == kBeforeRestore ? kRestoreQuestion : kWriteQuestion).in(language), &*input)) {
        return cancel(kWriteCancelled.in(language));
    }
    if (family.clearsLog) ui.clearLog();
    if (!why.empty()) ui.log(why);
    logImage(kFileLabel.in(language), input->bytes);
    keepFileInRecord(input->path, input->bytes);
    if (request.image != input->bytes) logImage(kToChipLabel.in(language), request.image);

    if (safety.backup || family.writesOnlyBlank) {
        const auto chip = takeBackup(false, before, input->path);
        if (!chip) return false;
        if (family.writesOnlyBlank && !eraseIfNeeded(*chip)) return false;
    }
    ui.phase(Phase::Write);
    const Outcome wrote = session(&ImageSessions::write, request);
    if (op_.aborted()) {
        if (!op_.chipTouched()) ui.log(kStoppedUntouched.in(language));
        return conclude(failed(op_.chipTouched() ? kWriteFailed(language) : kStopped(language)));
    }
    const Bytes expected = padded(request.image, family.imageSize);
    if (wrote != Outcome::Succeeded) {
        // A chip that was changed is read back, so that the failure names where it went wrong.
        const auto differ = safety.verify && op_.chipTouched() ? compareWithChip(expected) : std::nullopt;
        return conclude(differ && differ->reason != kReadBackFailed(language) ? *differ
                                                                              : failed(kWriteFailed(language)));
    }
    if (!safety.verify) return conclude({Verdict::Kind::Warning, kNotVerified(language)});
    if (auto differ = compareWithChip(expected)) return conclude(*differ);
    return conclude({Verdict::Kind::Passed});
}

bool ImageTool::verifyAction(bool) {
    op_.runRecord().action = "verify";
    SessionFrontend& ui = op_.ui();
    const Family& family = this->family();
    const Language language = family.language;
    FileDialogSpec dialog = openDialog(family);
    dialog.title = kVerifyTitle(language);
    const auto path = ui.chooseFile(dialog);
    if (!path) {
        return cancel(kVerifyCancelled.in(language));
    }
    std::string error;
    auto file = readFileHead(*path, kMaxInputBytes + 1, error);
    if (file && file->size > kMaxInputBytes) error = kTooLarge(language);
    if (!file || !error.empty()) return conclude(failed(kFileUnread(language) + fileProblem(*path, error)));
    logImage(kFileLabel.in(language), file->bytes);
    keepFileInRecord(*path, file->bytes);
    const bool extended = family.extendedImageSize && file->size > family.imageSize;
    const auto chip = quietRead(Phase::ReadBack, kCompareLabel.in(language), extended);
    if (!chip) return conclude(failed(kReadFailed(language)));
    const size_t common = std::min(chip->size(), file->bytes.size());
    const std::span<const uint8_t> chipHead(chip->data(), common), fileHead(file->bytes.data(), common);
    if (auto differ = mismatch(kDiffersAt, chipHead, fileHead, language)) return conclude(*differ);
    if (file->bytes.size() != chip->size()) {
        // Never a plain pass for a file of another size: the rest was not compared.
        return conclude({Verdict::Kind::Warning, kSizesDiffer(language) + std::to_string(file->bytes.size()) +
                                                     kChipHolds(language) + std::to_string(chip->size()) +
                                                     kFirstAgree(language) + std::to_string(common) +
                                                     kAgree(language)});
    }
    return conclude({Verdict::Kind::Passed});
}

bool ImageTool::eraseAction(bool extended) {
    op_.runRecord().action = "erase";
    SessionFrontend& ui = op_.ui();
    const Language language = family().language;
    if (!safety.on) return session(&ImageSessions::erase, EraseRequest{.extended = extended}) == Outcome::Succeeded;
    if (!askToDestroy(kEraseQuestion.in(language), nullptr)) {
        return cancel(kEraseCancelled.in(language));
    }
    if (safety.backup && !takeBackup(extended, kBeforeErase, {})) return false;
    ui.phase(Phase::Erase);
    const Outcome erased = session(&ImageSessions::erase, EraseRequest{.extended = extended});
    if (op_.aborted() && !op_.chipTouched()) {
        ui.log(kStoppedUntouched.in(language));
        return conclude(failed(kStopped(language)));
    }
    if (erased != Outcome::Succeeded) return failUnlessCancelled(erased, kEraseFailed.in(language));
    return conclude({Verdict::Kind::Passed});
}

}  // namespace kj
