// One operation of a tool, from its start handler to its one end path: it owns
// the link, the operation name, the stop request, the image file and the worker.
// A user's action is one run on the worker; the run may chain several link
// sessions (a backup, a write, a read-back), each ending in finish(), while the
// front end sees one start and one end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "common/frontend.h"
#include "common/image_file.h"
#include "link/link.h"
#include "operation/family.h"

namespace kj {

inline constexpr const char* kIdle = "NONE";

// A window's operation name: "NONE" while idle. Read by the window thread and
// the worker alike.
class OperationName {
public:
    const char* get() const { return name_.load(); }
    bool isIdle() const { return std::string_view(get()) == kIdle; }
    // A worker runs: from the click that launched it until its last line is out.
    bool hasWorker() const;
    bool is(std::string_view name) const { return std::string_view(get()) == name; }
    void set(const char* name);
    void setIdle() { set(kIdle); }
    // Blocks until the name reads "NONE" and no worker is left running, or
    // `timeout` passes.
    bool waitIdle(Millis timeout) const;

private:
    friend class Operation;
    void workerStarted();
    void workerFinished();

    std::atomic<const char*> name_{kIdle};
    int workers_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
};

// How a link session ends.
struct Ending {
    bool success = false;
    // What goes out to the programmer; the family's success or failure bytes when unset.
    std::optional<std::string_view> bytes{};
    std::string_view closedLine{};  // logged right before the link is closed
    bool stamp = false;             // the family's time-stamp line after everything else
    bool keepPartialImage = false;  // a user's stop that keeps the blocks read so far
    std::string_view box{};         // an error box once the lines are logged

    static Ending succeeded();
    static Ending failed();
    // Ends before anything was asked of the chip: no end byte.
    static Ending quietly();
};

inline Ending Ending::succeeded() {
    Ending ending;
    ending.success = true;
    return ending;
}
inline Ending Ending::failed() { return Ending(); }
inline Ending Ending::quietly() {
    Ending ending;
    ending.bytes = std::string_view{};
    return ending;
}

// What a start handler logs when the user gives no file, or the file does not do.
struct FileLines {
    std::string_view cancelled{};              // no file confirmed
    std::optional<std::string_view> failed{};  // logged when the file cannot be used
};

// Where a read session puts the image: the file the user chooses at the
// session's own point, or memory, for the net's own reads.
enum class ReadInto { UserFile, Memory };

// How a link session came out.
enum class Outcome { Succeeded, Failed, Cancelled };

// What the history keeps of a run, filled in as it goes; a run that names no
// action keeps no row.
struct RunRecord {
    std::string action{};  // "read", "write", "erase", "verify", "restore", "scan", "check"
    std::string chipId{};
    std::string file{};
    std::optional<uint64_t> size{};
    std::string crc32{};
    std::string sha256{};
    std::string backup{};
    std::optional<Verdict> verdict{};
    bool reachedChip = false;  // the link opened: a row is kept even without a verdict
};

// What a session reports through: the front end's own, with every line of an
// operation kept in the record and the wire trace under its tool and job, and
// control characters made visible. While the net reads for itself the lines
// are held back, shown only when the read fails; gauges still move.
class SessionFrontend : public Frontend {
public:
    SessionFrontend(Frontend& ui, std::string_view tool) : ui_(ui), tool_(tool) {}
    Frontend& shown() { return ui_; }
    // Holds the lines from now on (true), or shows them again (false).
    void holdLines(bool hold);
    // The lines held since holdLines(true), taken.
    std::vector<std::string> takeHeldLines();
    // Lines held back, shown and recorded now.
    void release(const std::vector<std::string>& lines);
    // A line for the record alone.
    void recordOnly(std::string_view line);

    void log(std::string_view line) override;
    void clearLog() override { ui_.clearLog(); }
    void setGaugeColour(Rgb colour, int gauge = 0) override { ui_.setGaugeColour(colour, gauge); }
    void setGaugeProgress(int value, int maximum, int gauge = 0) override {
        ui_.setGaugeProgress(value, maximum, gauge);
    }
    std::optional<std::string> chooseFile(const FileDialogSpec& spec) override { return ui_.chooseFile(spec); }
    void errorBox(std::string_view text) override { ui_.errorBox(text); }
    bool confirm(std::string_view question, Ask about) override { return ui_.confirm(question, about); }
    std::optional<size_t> choose(std::string_view question, const std::vector<std::string>& answers) override {
        return ui_.choose(question, answers);
    }
    // A family's own display follows what the user asked for, never the net's reads.
    void show(const std::any& event) override;
    void operationStarted(std::string_view name) override { ui_.operationStarted(name); }
    void operationEnded() override { ui_.operationEnded(); }
    void busy(bool on) override { ui_.busy(on); }
    void showVerdict(const Verdict& verdict) override { ui_.showVerdict(verdict); }
    void phase(Phase phase) override { ui_.phase(phase); }
    std::string job() const override { return ui_.job(); }

private:
    void record(const std::string& line);

    Frontend& ui_;
    std::string_view tool_;
    std::mutex mutex_;
    bool holding_ = false;
    std::vector<std::string> held_;
};

class Operation {
public:
    Operation(Bridge& bridge, Frontend& ui, const Family& family);
    // A running worker is stopped as a quit stops it, and waited for.
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    const Family& family() const { return family_; }
    // What the sessions report through.
    SessionFrontend& ui() { return ui_; }
    Link& link() { return link_; }
    OperationName& name() { return name_; }
    // Nothing runs: no name, no worker. Start handlers refuse unless idle.
    bool idle() const { return name_.isIdle() && !name_.hasWorker(); }

    // Opens the link with the family's variant; true when it is open.
    bool openLink(const SetUpObserver& onSetUp = {});

    // The user's stop (the window's stop button, Ctrl-C). A wait on the
    // programmer ends on it only where the operation allows that.
    void requestStop();
    bool stopRequested() const { return stop_.load(); }
    void stopEndsWaits(bool yes);
    // Quitting: every wait on the programmer ends at once.
    void abort();
    bool aborted() const { return abort_.load(); }

    // Sets the operation name; the first in a run tells the front end that the run started.
    void begin(const char* name);
    // Runs one user action whole on the worker, from its start checks to its
    // end; the caller returns at once. `run` returns whether the action
    // succeeded. Refused (false) unless idle. Each session in it ends in
    // finish(), or returns before anything was asked of the programmer.
    bool launch(std::function<bool()> run);
    // Waits for the worker of the last run, if any: the owner of the state it
    // uses calls this before that state goes.
    void join();

    // A session starts afresh: no outcome yet, no user's "no".
    void startSession();
    Outcome sessionOutcome() const;

    // The read's target: the user's file, from the family's save dialog and
    // created (beside it) at once, or memory. Nothing, with the lines logged
    // and the family's box shown, when the user cancelled or the file cannot be
    // created; the caller then ends the session. The name to log otherwise
    // (empty for memory).
    std::optional<std::string> chooseOutput(ReadInto into, const FileLines& lines);
    // The user said no to a question of the session's own.
    void markCancelled() { cancelled_ = true; }

    // The image a read stores; finish() commits or discards it.
    ImageOutput& output() { return output_; }
    // From the erase or the first block written until the image is whole in the
    // flash: a write that fails meanwhile says that the flash must be written
    // again. Called right before the first command that changes the chip.
    void markFlashChanged(bool changed = true);
    // Some command of this run may have changed the chip.
    bool chipTouched() const { return touched_.load(); }

    // Stores the image before success is claimed; false, with the failure
    // logged and the ending's error box chosen, when it could not be stored.
    bool storeOutput(Ending& ending);
    // Ends a read whose image could not be written: why, then `ending` as a failure.
    void failOutput(Ending ending);

    // Sends the closing bytes and closes the link, where an operation is done
    // with the programmer before it is done (a file still to save); false when
    // the bytes did not all go out. finish() does the same when the link is open.
    bool releaseLink(std::string_view bytes);

    // The one end of a session: end bytes, the link closed, the image committed
    // or discarded, the closing lines, the name "NONE".
    void finish(Ending ending);

    // The last run's result, once it has ended.
    bool lastSucceeded() const { return succeeded_.load(); }
    // What the history will keep of the run under way; the worker's.
    RunRecord& runRecord() { return record_; }
    // The ID the chip gave, where the family reads one.
    void noteChipId(std::string id) { record_.chipId = std::move(id); }
    bool waitIdle(Millis timeout) const { return name_.waitIdle(timeout); }
    void logStamp();
    // The line a failed exchange leaves, in the family's language.
    void logFailure(Io io);

private:
    // Logs why the image could not be written and turns `ending` into a failure.
    void reportOutputFailure(Ending& ending);
    bool sendEndBytes(std::string_view bytes);
    void settleImage(Ending& ending);
    void updateInterrupt();
    // The run's row in the history, once it has ended.
    void keepHistory(bool succeeded);

    const Family& family_;
    SessionFrontend ui_;
    Link link_;
    OperationName name_;
    ImageOutput output_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stopEndsWaits_{false};
    std::atomic<bool> abort_{false};
    std::atomic<bool> interrupt_{false};
    std::atomic<bool> succeeded_{false};
    std::atomic<bool> announced_{false};  // the front end was told that this run started
    std::atomic<bool> flashChanged_{false};
    std::atomic<bool> touched_{false};
    // The worker's own.
    RunRecord record_;
    bool sessionSucceeded_ = false;
    bool cancelled_ = false;
    std::thread worker_;
};

}  // namespace kj
