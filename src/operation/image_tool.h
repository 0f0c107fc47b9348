// The tool over a family's image: the one driver that reads a chip into a
// file, writes a file into it, verifies and erases it, for every family alike.
// It owns the operation and the family's sessions, each one link session as
// the family's firmware knows it, and runs each user action whole on the
// worker, with the steps around the sessions that keep a board's firmware
// safe: the file read once → backup → erase when needed → write → read-back →
// verdict.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/image_file.h"
#include "operation/operation.h"

namespace kj {

// What the driver adds around a family's sessions. A tool alone runs bare
// sessions, as its firmware knows them; each front end turns the net on.
struct Safety {
    bool on = false;           // fingerprints and a verdict, and the steps below
    bool backup = true;        // the chip read into the backups folder before a write or an erase
    std::string backupFile{};  // the backup's file instead; empty: the backups folder
    bool verify = true;        // a write read back and compared with what was sent
    bool readTwice = false;    // a read repeated and compared, against a flaky clip
};

// Where backups go: <data folder>/backups/<family>/.
std::filesystem::path backupFolder(const Family& family);

// What a read session is asked for.
struct ReadRequest {
    ReadInto into = ReadInto::UserFile;
    bool extended = false;  // the chip's extra block too (MEC16's INFO)
};

// What a write session sends: exactly these bytes, read from the file once.
struct WriteRequest {
    std::string name;   // the file, as the session's lines name it
    Bytes image;        // at most the chip's size; the family pads a shorter one as its firmware does
    uint64_t fileSize;  // the file's own size
};

struct EraseRequest {
    bool extended = false;  // the chip's extra block too
};

// A family's sessions over the operation the driver owns.
class ImageSessions {
public:
    explicit ImageSessions(Operation& operation) : op_(operation) {}
    virtual ~ImageSessions() = default;
    ImageSessions(const ImageSessions&) = delete;
    ImageSessions& operator=(const ImageSessions&) = delete;

    // One link session each, whole, ending in the operation's finish().
    virtual void read(const ReadRequest& request) = 0;
    virtual void write(const WriteRequest& request) = 0;
    // Families whose Family::erases is set.
    virtual void erase(const EraseRequest&) {}
    // The image as the chip is to get it, once the user has been asked what the
    // family asks about a file (an EEPROM image with a bad checksum); nothing
    // when the user said no.
    virtual std::optional<Bytes> prepare(const WriteRequest& request) { return request.image; }

protected:
    Operation& op_;
    SessionFrontend& ui() { return op_.ui(); }
};

template <class Sessions>
std::unique_ptr<ImageSessions> makeSessions(Operation& operation) {
    return std::make_unique<Sessions>(operation);
}

class ImageTool {
public:
    ImageTool(Bridge& bridge, Frontend& ui, const Family& family);
    // A running action is ended as a quit ends it, and its worker waited for.
    ~ImageTool();
    ImageTool(const ImageTool&) = delete;
    ImageTool& operator=(const ImageTool&) = delete;

    Operation& operation() { return op_; }
    const Family& family() const { return op_.family(); }
    // The family's own sessions, for its own operations and settings.
    template <class Sessions>
    Sessions& sessions() {
        return static_cast<Sessions&>(*sessions_);
    }

    // The buttons' handlers: they return at once, and do nothing while
    // something runs. `extended`: the chip's extra block too, where it has one.
    void startRead(bool extended = false);
    void startWrite();
    // Reads and compares with a file; writes nothing.
    void startVerify();
    void startErase(bool extended = false);
    // The write of a backup back into the chip, through the whole net; without
    // one named, the firmware the board came in with: the oldest backup of the
    // job when there is a job, else the newest not taken after a failure.
    void startRestore(std::optional<std::string> backup = std::nullopt);

    // Set while idle.
    Safety safety{};

private:
    // A write's file, read whole.
    struct Input {
        std::string path;
        Bytes bytes;
        uint64_t size = 0;
    };
    bool run(bool (ImageTool::*action)(bool), bool extended);
    bool readAction(bool extended);
    bool writeAction(bool);
    bool restoreAction(std::optional<std::string> backup);
    // The write of `given` (else the file the user chooses), backed up as
    // before `before`; `why`, when given, is said once the log is settled.
    bool writeFile(std::optional<std::string> given, std::string_view before, const std::string& why);
    bool verifyAction(bool);
    bool eraseAction(bool extended);

    // One family session; how it came out.
    template <class Request>
    Outcome session(void (ImageSessions::*run)(const Request&), const Request& request);
    // A read the net makes for itself: one line as it starts and one as it
    // ends, the session's own lines held back unless it fails.
    std::optional<Bytes> quietRead(Phase phase, std::string_view starts, bool extended);
    // The chip backed up before it is changed (`before`: "write", "erase"); nothing,
    // with the verdict given or the user's no logged, when it must not go on.
    // `input`: the file a write takes, which the backup never replaces.
    std::optional<Bytes> takeBackup(bool extended, std::string_view before, const std::string& input);
    bool eraseIfNeeded(const Bytes& chip);
    // The chip read back and held against `expected`; a verdict when they differ.
    std::optional<Verdict> compareWithChip(const Bytes& expected);
    std::optional<Input> chooseInput(std::optional<std::string> given);
    void keepFileInRecord(const std::string& path, std::span<const uint8_t> bytes);
    void indexBackup(const std::string& path, std::string_view before, std::span<const uint8_t> image);
    // Ends the action on a session that did not succeed: a verdict unless the user said no.
    bool failUnlessCancelled(Outcome outcome, std::string_view reason);
    // A user's no before anything was changed; false.
    bool cancel(std::string_view line);
    // The one question before a write (of `input`) or an erase.
    bool askToDestroy(std::string_view what, const Input* input);
    void logImage(std::string_view label, std::span<const uint8_t> bytes);
    // The verdict, shown; whether the action succeeded.
    bool conclude(const Verdict& verdict);

    Operation op_;
    std::unique_ptr<ImageSessions> sessions_;
};

// The family's tool, or null when it moves no image.
std::unique_ptr<ImageTool> makeImageTool(const Family& family, Bridge& bridge, Frontend& ui);

}  // namespace kj
