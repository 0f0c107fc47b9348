#include "operation/operation.h"

#include <utility>

#include "common/history.h"
#include "common/journal.h"
#include "common/text.h"
#include "link/wire_trace.h"

namespace kj {

namespace {

std::string_view fileWriteLine(Language language) {
    return language == Language::Russian ? "Ошибка записи файла: " : "Error writing the file: ";
}

std::string_view notKeptLine(Language language) {
    return language == Language::Russian ? "Неполный файл не сохранён." : "The incomplete file is deleted.";
}

std::string movedLine(Language language, const std::string& placedAt) {
    return language == Language::Russian ? "Папку переместили во время чтения; файл сохранён в ней: " + placedAt
                                         : "The folder was moved during the read; the file is saved in it: " + placedAt;
}

}  // namespace

// ---- OperationName ----

void OperationName::set(const char* name) {
    std::lock_guard lock(mutex_);
    name_.store(name);
    idle_.notify_all();
}

bool OperationName::waitIdle(Millis timeout) const {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return isIdle() && workers_ == 0; });
}

bool OperationName::hasWorker() const {
    std::lock_guard lock(mutex_);
    return workers_ > 0;
}

void OperationName::workerStarted() {
    std::lock_guard lock(mutex_);
    ++workers_;
}

void OperationName::workerFinished() {
    std::lock_guard lock(mutex_);
    --workers_;
    idle_.notify_all();
}

// ---- SessionFrontend ----

void SessionFrontend::holdLines(bool hold) {
    std::lock_guard lock(mutex_);
    holding_ = hold;
    if (hold) held_.clear();
}

std::vector<std::string> SessionFrontend::takeHeldLines() {
    std::lock_guard lock(mutex_);
    return std::exchange(held_, {});
}

void SessionFrontend::log(std::string_view text) {
    const std::string line = printable(text);
    trace::line(line);
    {
        std::lock_guard lock(mutex_);
        if (holding_) {
            held_.push_back(line);
            return;
        }
    }
    record(line);
    ui_.log(line);
}

void SessionFrontend::release(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        record(line);
        ui_.log(line);
    }
}

void SessionFrontend::recordOnly(std::string_view line) { record(printable(line)); }

// The first time the record cannot be kept, the user hears why, once.
void SessionFrontend::record(const std::string& line) {
    if (const auto problem = journal::line(tool_, ui_.job(), line)) ui_.errorBox(*problem);
}

void SessionFrontend::show(const std::any& event) {
    {
        std::lock_guard lock(mutex_);
        if (holding_) return;
    }
    ui_.show(event);
}

// ---- Operation ----

Operation::Operation(Bridge& bridge, Frontend& ui, const Family& family)
    : family_(family), ui_(ui, family.name), link_(bridge, ui_) {
    link_.setInterrupt(&interrupt_);
}

Operation::~Operation() {
    abort();
    join();
}

void Operation::join() {
    if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

bool Operation::openLink(const SetUpObserver& onSetUp) {
    const int result = link_.open(family_.link, onSetUp);
    // The link's own line says only that the firmware is wrong; this one says which it is.
    if (result == kLinkWrongFirmware) {
        const std::string found = link_.versionText();
        const std::string needed(family_.link.accept);
        ui_.log(family_.language == Language::Russian
                    ? "Найдена прошивка " + found + ", а этому окну нужна " + needed + "."
                    : "The programmer's firmware is " + found + "; this window needs " + needed + ".");
    }
    // The port just opened is never a place for an image.
    if (result == kLinkOpen) {
        output_.rules.port = link_.portPath();
        ui_.recordOnly("port " + link_.portName());
        record_.reachedChip = true;
    }
    return result == kLinkOpen;
}

void Operation::requestStop() {
    stop_ = true;
    updateInterrupt();
}

void Operation::stopEndsWaits(bool yes) {
    stopEndsWaits_ = yes;
    updateInterrupt();
}

void Operation::abort() {
    abort_ = true;
    stop_ = true;
    updateInterrupt();
}

void Operation::updateInterrupt() { interrupt_ = abort_ || (stop_ && stopEndsWaits_); }

void Operation::begin(const char* name) {
    stopEndsWaits_ = false;
    updateInterrupt();
    // Told first: whoever sees the name finds the front end's update queued.
    if (!announced_.exchange(true)) ui_.operationStarted(name);
    name_.set(name);
}

bool Operation::launch(std::function<bool()> run) {
    if (!idle()) return false;
    join();  // the last one has ended
    name_.workerStarted();
    succeeded_ = false;  // until this one says otherwise
    touched_ = false;
    record_ = {};
    startSession();
    stop_ = abort_.load();  // a stop asked for belongs to one run only
    updateInterrupt();
    ui_.busy(true);
    worker_ = std::thread([this, run = std::move(run)] {
        bool succeeded = run();
        // A session that returned without finishing never reached the programmer.
        if (!name_.isIdle()) {
            finish(Ending::failed());
            succeeded = false;
        }
        if (link_.isOpen()) link_.close();
        keepHistory(succeeded);
        succeeded_ = succeeded;
        stop_ = abort_.load();
        updateInterrupt();
        if (announced_.exchange(false)) ui_.operationEnded();
        ui_.busy(false);
        name_.workerFinished();
    });
    return true;
}

void Operation::keepHistory(bool succeeded) {
    if (record_.action.empty() || (!record_.verdict && !record_.reachedChip)) return;
    const Verdict verdict =
        record_.verdict.value_or(Verdict{succeeded ? Verdict::Kind::Passed : Verdict::Kind::Failed});
    history::Store store;
    const auto kept = store.addOperation({.job = ui_.job(),
                                          .tool = std::string(family_.name),
                                          .action = record_.action,
                                          .chipId = record_.chipId,
                                          .file = record_.file,
                                          .size = record_.size,
                                          .crc32 = record_.crc32,
                                          .sha256 = record_.sha256,
                                          .backup = record_.backup,
                                          .verdict = std::string(history::verdictWord(verdict.kind)),
                                          .reason = verdict.reason});
    if (!kept.ok()) ui_.recordOnly("history: " + kept.error());
}

void Operation::startSession() {
    sessionSucceeded_ = false;
    cancelled_ = false;
    flashChanged_ = false;
}

Outcome Operation::sessionOutcome() const {
    if (sessionSucceeded_) return Outcome::Succeeded;
    return cancelled_ ? Outcome::Cancelled : Outcome::Failed;
}

void Operation::markFlashChanged(bool changed) {
    flashChanged_ = changed;
    if (changed) touched_ = true;
}

std::optional<std::string> Operation::chooseOutput(ReadInto into, const FileLines& lines) {
    if (into == ReadInto::Memory) {
        output_.createInMemory();
        return std::string();
    }
    const auto path = ui_.chooseFile(saveDialog(family_, ui_.job()));
    if (!path) {
        cancelled_ = true;
        ui_.log(lines.cancelled);
        return std::nullopt;
    }
    if (output_.create(*path)) return path;
    if (lines.failed) ui_.log(*lines.failed);
    if (family_.fileErrorBoxes) ui_.errorBox(boxWithReason(kCreateFileBox, *path, output_.error()));
    return std::nullopt;
}

bool Operation::storeOutput(Ending& ending) {
    if (!output_.isOpen() || output_.finish()) return true;
    reportOutputFailure(ending);
    return false;
}

void Operation::failOutput(Ending ending) {
    reportOutputFailure(ending);
    finish(ending);
}

void Operation::reportOutputFailure(Ending& ending) {
    ui_.log(std::string(fileWriteLine(family_.language)) + fileProblem(output_.path(), output_.error()));
    ending.success = false;
    ending.keepPartialImage = false;
    if (family_.fileErrorBoxes) ending.box = kWriteFileBox;
}

bool Operation::releaseLink(std::string_view bytes) {
    if (!link_.isOpen()) return bytes.empty();
    const bool sent = sendEndBytes(bytes);
    if (family_.ends.drained) link_.drain(link_.timeouts.reply);
    link_.close();
    return sent;
}

void Operation::finish(Ending ending) {
    if (ending.success) storeOutput(ending);
    if (!ending.success && flashChanged_.exchange(false) && !family_.flashIncompleteLine.empty())
        ui_.log(family_.flashIncompleteLine);
    if (link_.isOpen()) {
        const std::string_view bytes =
            ending.bytes.value_or(ending.success ? family_.ends.success : family_.ends.failure);
        // Success stands only once its last bytes have gone out.
        const bool sent = sendEndBytes(bytes);
        if (!sent && ending.success) {
            ending.success = false;
            logFailure(Io::Lost);
        }
        if (family_.ends.drained) link_.drain(link_.timeouts.reply);
        if (!ending.closedLine.empty()) ui_.log(ending.closedLine);
        link_.close();
    }
    settleImage(ending);
    if (ending.stamp) logStamp();
    if (!ending.box.empty()) ui_.errorBox(ending.box);
    sessionSucceeded_ = ending.success;
    name_.setIdle();
}

bool Operation::sendEndBytes(std::string_view bytes) {
    if (bytes.empty()) return true;
    // A quit must still reach the programmer: the end bytes are not a wait.
    link_.setInterrupt(nullptr);
    Io io = Io::Ok;
    for (const char c : bytes) {
        io = link_.send(static_cast<uint8_t>(c));
        if (io != Io::Ok) break;
        // The answer is waited for, so that the programmer is done with the byte, but not judged.
        uint8_t answer = 0;
        if (family_.ends.answered && link_.readByte(answer, link_.timeouts.reply) != Io::Lost) link_.purge();
    }
    link_.setInterrupt(&interrupt_);
    return io == Io::Ok;
}

void Operation::settleImage(Ending& ending) {
    if (!output_.pending()) return;
    if (ending.success || ending.keepPartialImage) {
        if (output_.commit()) {
            if (output_.placedAt() != output_.path()) ui_.log(movedLine(family_.language, output_.placedAt()));
            return;
        }
        reportOutputFailure(ending);
    }
    if (output_.discard()) ui_.log(notKeptLine(family_.language));
}

void Operation::logStamp() {
    ui_.log(timeStampLine(family_.language));
    if (family_.emptyLineAfterStamp) ui_.log("");
}

void Operation::logFailure(Io io) { ui_.log(ioFailureLine(io, family_.language)); }

}  // namespace kj
