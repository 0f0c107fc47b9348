// One operation of a tool, from its start handler to its one end path: it owns
// the link, the operation name, the stop request, the image file and the worker,
// and every way an operation ends goes through finish().
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

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

// How an operation ends.
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
    std::string_view cancelled{};              // no file confirmed, or a size question declined
    std::optional<std::string_view> failed{};  // logged when the file cannot be used
};

// A write's whole input, read before the chip is touched.
struct Input {
    std::string path;
    Bytes bytes;        // at most the limit asked for
    uint64_t size = 0;  // the file's own size
};

class Operation {
public:
    Operation(Bridge& bridge, Frontend& ui, const Family& family);
    // A running worker is stopped as a quit stops it, and waited for.
    ~Operation();
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    const Family& family() const { return family_; }
    Frontend& ui() { return ui_; }
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

    // Sets the operation name and tells the front end.
    void begin(const char* name);
    // Runs the whole operation on its worker, from its start checks to its end;
    // the caller returns at once. Refused (false) unless idle. The body ends in
    // finish(), or returns before anything was asked of the programmer.
    bool launch(std::function<void()> whole);

    // The read's target from the family's save dialog, created (beside it) at
    // once; nothing, with the lines logged and the family's box shown, when the
    // user cancelled or it cannot be created. The caller then ends the operation.
    std::optional<std::string> chooseOutput(const FileLines& lines);
    // The write's input from the family's open dialog, at most `limit` bytes of
    // it; a file whose size is not the chip's goes ahead only when the user says
    // so. Nothing, with the lines logged and the box shown, when it cannot go ahead.
    std::optional<Input> chooseInput(const FileLines& lines, size_t limit);
    // The dialog's answer, or the file the image driver chose for this session.
    std::optional<std::string> chooseFile(const FileDialogSpec& spec);

    // ---- sessions chained by the image driver ----
    // The next session takes this file without a dialog: a path, or nothing for
    // a user who cancelled. `sizeAccepted`: its size was agreed to already.
    void presetFile(std::optional<std::string> path, bool sizeAccepted = false);
    // The user said no to the last question (a dialog, a file's size, an image
    // as it is): nothing failed.
    bool cancelled() const { return cancelled_; }
    void markCancelled(bool yes = true) { cancelled_ = yes; }
    // The chain's outcome, which the front end reads as the operation's.
    void settle(bool success) { succeeded_ = success; }

    // The image a read stores; finish() commits or discards it.
    ImageOutput& output() { return output_; }
    // From the erase or the first block written until the image is whole in the
    // flash: a write that fails meanwhile says that the flash must be written again.
    void markFlashChanged(bool changed = true) { flashChanged_ = changed; }

    // Stores the image before success is claimed; false, with the failure
    // logged and the ending's error box chosen, when it could not be stored.
    bool storeOutput(Ending& ending);
    // Ends a read whose image could not be written: why, then `ending` as a failure.
    void failOutput(Ending ending);

    // Sends the closing bytes and closes the link, where an operation is done
    // with the programmer before it is done (a file still to save); false when
    // the bytes did not all go out. finish() does the same when the link is open.
    bool releaseLink(std::string_view bytes);

    // The one end path: end bytes, the link closed, the image committed or
    // discarded, the closing lines, the front end told, the name "NONE".
    void finish(Ending ending);

    bool lastSucceeded() const { return succeeded_.load(); }
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

    const Family& family_;
    Frontend& ui_;
    Link link_;
    OperationName name_;
    ImageOutput output_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> stopEndsWaits_{false};
    std::atomic<bool> abort_{false};
    std::atomic<bool> interrupt_{false};
    std::atomic<bool> succeeded_{false};
    std::atomic<bool> begun_{false};  // the front end was told that an operation started
    std::atomic<bool> flashChanged_{false};
    // Owned by the worker.
    std::optional<std::optional<std::string>> presetFile_;
    bool presetSizeAccepted_ = false;
    bool cancelled_ = false;
    std::thread worker_;
};

}  // namespace kj
