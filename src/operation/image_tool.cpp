#include "operation/image_tool.h"

#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <system_error>

#include "common/connection_base.h"
#include "common/digest.h"
#include "common/text.h"

namespace kj {

namespace fs = std::filesystem;

namespace {

constexpr uint8_t kErased = 0xFF;

// Backups are pruned, oldest first, beyond either bound.
constexpr size_t kMaxBackups = 500;
constexpr uintmax_t kMaxBackupBytes = uintmax_t{1} << 30;

struct Text {
    std::string_view english;
    std::string_view russian;
    std::string_view in(Language language) const { return language == Language::Russian ? russian : english; }
};

constexpr Text kFileLabel{"File", "Файл"};
constexpr Text kReadLabel{"Read", "Прочитано"};
constexpr Text kBackupLabel{"Backup", "Резервная копия"};
constexpr Text kChipLabel{"Chip", "Чип"};
constexpr Text kBytes{" bytes", " байт"};
constexpr Text kBackupSaved{"Backup of the chip: ", "Резервная копия чипа: "};
constexpr Text kBackupStarts{"Backup: reading the chip first ...", "Резервная копия: сначала читаем чип ..."};
constexpr Text kNoBackup{"no backup will be made", "резервная копия не делается"};
constexpr Text kBackupGoesTo{"the backup goes to ", "резервная копия: "};
constexpr Text kVerifyStarts{"Verify: reading the chip back ...", "Проверка: читаем чип обратно ..."};
constexpr Text kSecondRead{"Reading the chip a second time ...", "Читаем чип второй раз ..."};
constexpr Text kNotBlank{"The flash is not blank: erasing it first.", "Флеш не чистый: сначала стираем."};
constexpr Text kEraseFirst{"The flash is not blank and must be erased before the write. Erase it and write?",
                           "Флеш не чистый, перед записью его нужно стереть. Стереть и записать?"};
constexpr Text kWriteInterrupted{"Write operation is interrupted.", "Операция записи прервана"};
constexpr Text kVerifyInterrupted{"Verify is interrupted.", "Проверка прервана"};
constexpr Text kWriteQuestion{"Write into the ", "Записать в "};
constexpr Text kEraseQuestion{"Erase the ", "Стереть "};

constexpr Text kBackupFailed{"the backup read failed; nothing was written or erased",
                             "не удалось прочитать резервную копию; ничего не записано и не стёрто"};
constexpr Text kReadFailed{"the read failed", "чтение не удалось"};
constexpr Text kWriteFailed{"the write failed", "запись не удалась"};
constexpr Text kEraseFailed{"the erase failed", "стирание не удалось"};
constexpr Text kReadBackFailed{"the chip could not be read back", "чип не удалось прочитать для проверки"};
constexpr Text kFileUnread{"the file could not be read: ", "файл не прочитан: "};
constexpr Text kDiffersAt{"the chip differs from the file at ", "чип отличается от файла по адресу "};
constexpr Text kReadsDifferAt{"two reads differ at ", "два чтения отличаются по адресу "};
constexpr Text kDifferingCount{"bytes that differ: ", "отличающихся байт: "};
constexpr Text kBlank{"blank image: every byte is ", "пустой образ (blank): все байты "};

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
    return Verdict{Verdict::Kind::Failed, std::string(what.in(language)) + addressText(diff->first, a.size()) + "; " +
                                              std::string(kDifferingCount.in(language)) + std::to_string(diff->count)};
}

// Enough of a file for every size the family takes, so that a longer one still shows as such.
size_t fileLimit(const Family& family) { return std::max(family.imageSize, family.alternateImageSize); }

// One byte over the whole image: nothing read, or a chip that is not there.
std::optional<uint8_t> blankByte(std::span<const uint8_t> image) {
    if (image.empty()) return std::nullopt;
    const bool blank = std::all_of(image.begin(), image.end(), [&](uint8_t b) { return b == image.front(); });
    return blank ? std::optional(image.front()) : std::nullopt;
}

std::string stampNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

fs::path scratchFile(std::string_view what) {
    static std::atomic<int> counter{0};
    return dataFolder() / "tmp" /
           (std::string(what) + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".bin");
}

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

// Oldest first, beyond the bounds; `keep` stays whatever its age.
void pruneBackups(const fs::path& keep) {
    std::error_code ec;
    struct Entry {
        fs::path path;
        fs::file_time_type time;
        uintmax_t size;
    };
    std::vector<Entry> entries;
    for (auto it = fs::recursive_directory_iterator(dataFolder() / "backups", ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        entries.push_back({it->path(), it->last_write_time(ec), it->file_size(ec)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.time > b.time; });
    uintmax_t total = 0;
    size_t count = 0;
    for (const Entry& entry : entries) {
        total += entry.size;
        if (++count <= kMaxBackups && total <= kMaxBackupBytes) continue;
        if (entry.path != keep) removeQuietly(entry.path);
    }
}

Bytes padded(Bytes image, size_t size) {
    image.resize(size, kErased);
    return image;
}

}  // namespace

fs::path backupFolder(const Family& family) { return dataFolder() / "backups" / std::string(family.name); }

// ---- the handlers ----

void ImageTool::startRead() { launch(&ImageTool::readWhole, &ImageTool::read); }
void ImageTool::startWrite() { launch(&ImageTool::writeWhole, &ImageTool::write); }
void ImageTool::startVerify() { launch(&ImageTool::verifyWhole, &ImageTool::verifyWhole); }
void ImageTool::startErase() { launch(&ImageTool::eraseWhole, &ImageTool::eraseSession); }

void ImageTool::launch(void (ImageTool::*whole)(), void (ImageTool::*bare)()) {
    operation().launch([this, run = safety.on ? whole : bare] {
        if (operation().family().clearsLog) operation().ui().clearLog();
        (this->*run)();
    });
}

// ---- the steps ----

bool ImageTool::session(void (ImageTool::*run)()) {
    Operation& op = operation();
    // A quit ends the chain: no session starts after it.
    if (op.aborted()) return false;
    op.markCancelled(false);
    (this->*run)();
    // A session that gave up before the programmer was asked has not ended yet.
    if (!op.name().isIdle()) op.finish(Ending::failed());
    return op.lastSucceeded();
}

std::optional<Bytes> ImageTool::readInto(const fs::path& path, ReadPurpose purpose, size_t bytes) {
    Operation& op = operation();
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    op.presetFile(utf8Of(path));
    scopeRead(purpose, bytes);
    const bool read = session(&ImageTool::read);
    scopeRead(ReadPurpose::Image, 0);
    if (!read) return std::nullopt;
    return op.output().image();
}

std::optional<Bytes> ImageTool::readToCompare(size_t bytes) {
    const fs::path path = scratchFile("compare");
    auto image = readInto(path, ReadPurpose::Compare, bytes);
    removeQuietly(path);
    return image;
}

std::optional<Bytes> ImageTool::backup(ReadPurpose purpose) {
    Operation& op = operation();
    const Language language = op.family().language;
    // Without a backup the read still tells whether the flash is blank.
    const bool kept = safety.backup;
    const fs::path folder = backupFolder(op.family());
    const std::string stamp = stampNow();
    const fs::path path = !kept                        ? scratchFile("blank-check")
                          : !safety.backupFile.empty() ? pathOf(safety.backupFile)
                                                       : folder / (stamp + "-reading.bin");
    op.ui().log(kBackupStarts.in(language));
    auto image = readInto(path, purpose, 0);
    if (!kept || !image) {
        if (!kept) removeQuietly(path);
        return image;
    }
    fs::path placed = pathOf(op.output().placedAt());
    if (safety.backupFile.empty()) {
        const fs::path named = folder / (stamp + "-" + sha256Hex(*image).substr(0, 8) + ".bin");
        std::error_code ec;
        fs::rename(placed, named, ec);
        if (!ec) placed = named;
        pruneBackups(placed);
    }
    op.ui().log(std::string(kBackupSaved.in(language)) + utf8Of(placed));
    logImage(kBackupLabel.in(language), *image);
    return image;
}

bool ImageTool::eraseIfNeeded(const Bytes& chip) {
    Operation& op = operation();
    const Language language = op.family().language;
    if (blankByte(chip) == kErased) return true;
    if (safety.confirm) {
        if (!op.ui().confirm(kEraseFirst.in(language))) {
            op.ui().log(kWriteInterrupted.in(language));
            return false;
        }
    } else {
        op.ui().log(kNotBlank.in(language));
    }
    if (session(&ImageTool::eraseSession)) return true;
    conclude({Verdict::Kind::Failed, std::string(kEraseFailed.in(language))});
    return false;
}

std::optional<Verdict> ImageTool::compareWithChip(Bytes expected) {
    Operation& op = operation();
    const Language language = op.family().language;
    op.ui().log(kVerifyStarts.in(language));
    const auto chip = readToCompare(expected.size());
    if (!chip) return Verdict{Verdict::Kind::Failed, std::string(kReadBackFailed.in(language))};
    logImage(kChipLabel.in(language), *chip);
    return mismatch(kDiffersAt, *chip, padded(std::move(expected), chip->size()), language);
}

bool ImageTool::askToDestroy(std::string_view what, const std::string& path, const std::optional<FileHead>& file) {
    Operation& op = operation();
    const Family& family = op.family();
    const Language language = family.language;
    if (!safety.confirm) return true;
    std::string question = std::string(what) + std::string(family.launcherCaption) + "?\n";
    if (file) {
        question += path + "\n" + std::to_string(file->bytes.size()) + std::string(kBytes.in(language)) + ", CRC32 " +
                    crc32Hex(file->bytes) + "\n";
    }
    question += safety.backup ? std::string(kBackupGoesTo.in(language)) +
                                    (safety.backupFile.empty() ? utf8Of(backupFolder(family)) : safety.backupFile)
                              : std::string(kNoBackup.in(language));
    return op.ui().confirm(question);
}

void ImageTool::logImage(std::string_view label, std::span<const uint8_t> bytes) {
    const Language language = operation().family().language;
    operation().ui().log(std::string(label) + ": " + std::to_string(bytes.size()) + std::string(kBytes.in(language)) +
                         ", CRC32 " + crc32Hex(bytes) + ", SHA-256 " + sha256Hex(bytes));
}

void ImageTool::conclude(const Verdict& verdict) {
    Operation& op = operation();
    Frontend& ui = op.ui();
    ui.log(verdict.text());
    const bool passed = verdict.kind != Verdict::Kind::Failed;
    ui.setGaugeColour(verdict.kind == Verdict::Kind::Passed    ? kLime
                      : verdict.kind == Verdict::Kind::Warning ? kYellow
                                                               : kRed);
    ui.showVerdict(verdict);
    op.settle(passed);
}

// ---- the operations ----

void ImageTool::readWhole() {
    Operation& op = operation();
    const Language language = op.family().language;
    scopeRead(ReadPurpose::Image, 0);
    if (!session(&ImageTool::read)) {
        if (!op.cancelled()) conclude({Verdict::Kind::Failed, std::string(kReadFailed.in(language))});
        return;
    }
    const Bytes first = op.output().image();
    logImage(kReadLabel.in(language), first);
    if (safety.readTwice) {
        op.ui().log(kSecondRead.in(language));
        const auto second = readToCompare(0);
        if (!second) return conclude({Verdict::Kind::Failed, std::string(kReadFailed.in(language))});
        if (auto failed = mismatch(kReadsDifferAt, first, *second, language)) return conclude(*failed);
    }
    if (const auto blank = blankByte(first)) {
        return conclude({Verdict::Kind::Warning, std::string(kBlank.in(language)) + hexUpper(*blank, 2) + "h"});
    }
    conclude({Verdict::Kind::Passed});
}

void ImageTool::writeWhole() {
    Operation& op = operation();
    const Family& family = op.family();
    const Language language = family.language;
    const auto path = op.chooseFile(openDialog(family));
    std::string error;
    const auto file = path ? readFileHead(*path, fileLimit(family), error) : std::nullopt;
    // A file that cannot go ahead ends in the family's own session, as it always did.
    if (!file || !askToDestroy(kWriteQuestion.in(language), *path, file)) {
        op.presetFile(file ? std::nullopt : path);
        session(&ImageTool::write);
        return;
    }
    logImage(kFileLabel.in(language), file->bytes);
    if (safety.backup || writesOnlyBlank()) {
        const auto chip = backup(ReadPurpose::BeforeWrite);
        if (!chip) return conclude({Verdict::Kind::Failed, std::string(kBackupFailed.in(language))});
        if (writesOnlyBlank() && !eraseIfNeeded(*chip)) return;
    }
    op.presetFile(*path);
    if (!session(&ImageTool::write)) {
        if (!op.cancelled()) conclude({Verdict::Kind::Failed, std::string(kWriteFailed.in(language))});
        return;
    }
    if (safety.verify && !verifiesItself()) {
        Bytes expected = sentImage().value_or(padded(file->bytes, family.imageSize));
        if (auto failed = compareWithChip(std::move(expected))) return conclude(*failed);
    }
    conclude({Verdict::Kind::Passed});
}

void ImageTool::verifyWhole() {
    Operation& op = operation();
    const Family& family = op.family();
    const Language language = family.language;
    const auto path = op.chooseFile(openDialog(family));
    if (!path) return op.ui().log(kVerifyInterrupted.in(language));
    std::string error;
    const auto file = readFileHead(*path, fileLimit(family), error);
    if (!file) return conclude({Verdict::Kind::Failed, std::string(kFileUnread.in(language)) + error});
    logImage(kFileLabel.in(language), file->bytes);
    if (auto failed = compareWithChip(file->bytes)) return conclude(*failed);
    conclude({Verdict::Kind::Passed});
}

void ImageTool::eraseWhole() {
    Operation& op = operation();
    const Language language = op.family().language;
    if (!askToDestroy(kEraseQuestion.in(language), {}, std::nullopt)) return;
    if (safety.backup && !backup(ReadPurpose::BeforeErase)) {
        return conclude({Verdict::Kind::Failed, std::string(kBackupFailed.in(language))});
    }
    if (!session(&ImageTool::eraseSession))
        return conclude({Verdict::Kind::Failed, std::string(kEraseFailed.in(language))});
    conclude({Verdict::Kind::Passed});
}

}  // namespace kj
