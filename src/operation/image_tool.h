// A tool that reads a chip's image into a file and writes a file into it. Each
// family supplies its sessions, each one link session as its firmware knows it;
// the driver runs them whole on the worker, with the steps around them that keep
// a board's firmware safe: backup → erase when needed → write → verify → verdict.
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
    bool verify = true;        // a write read back and compared, where the family does not check itself
    bool readTwice = false;    // a read repeated and compared, against a flaky clip
    bool confirm = false;      // a write or an erase asked about once, naming the file and the backup
};

// Where backups go: <data folder>/backups/<family>/.
std::filesystem::path backupFolder(const Family& family);

// Why a session runs: the family reads the part of the chip that it needs.
enum class ReadPurpose { Image, BeforeWrite, BeforeErase, Compare };

class ImageTool {
public:
    virtual ~ImageTool() = default;
    virtual Operation& operation() = 0;

    // The read, write and verify buttons' handlers: they return at once, and do
    // nothing while something runs. A verify reads and compares, writes nothing.
    void startRead();
    void startWrite();
    void startVerify();
    // For a family with an erase button: backup, then its erase session.
    void startErase();

    // Set while idle.
    Safety safety{};

protected:
    // One session each, whole, on the worker.
    virtual void read() = 0;
    virtual void write() = 0;
    // The family's own erase session; families without one never need it.
    virtual void eraseSession() {}
    // Before each read the driver makes: the part of the chip it takes (with
    // `bytes` the size the comparison needs, 0 when none).
    virtual void scopeRead(ReadPurpose, size_t /*bytes*/) {}
    // The write checks the flash itself (a sum or the programmer's verify).
    virtual bool verifiesItself() const { return false; }
    // A write goes only onto a blank flash.
    virtual bool writesOnlyBlank() const { return false; }
    // What the last write sent, where the family changed the file on its way
    // (fixed checksums); nothing: the file, padded with FFh.
    virtual std::optional<Bytes> sentImage() const { return std::nullopt; }

private:
    // Runs `whole` with the net on, else the family's `bare` session.
    void launch(void (ImageTool::*whole)(), void (ImageTool::*bare)());
    void readWhole();
    void writeWhole();
    void verifyWhole();
    void eraseWhole();

    // A read session into a file of ours: nothing when it failed.
    // One family session; false when it did not succeed.
    bool session(void (ImageTool::*run)());
    // A read session into `path`: the image, or nothing when it failed.
    std::optional<Bytes> readInto(const std::filesystem::path& path, ReadPurpose purpose, size_t bytes);
    std::optional<Bytes> readToCompare(size_t bytes);
    std::optional<Bytes> backup(ReadPurpose purpose);
    bool eraseIfNeeded(const Bytes& chip);
    // The chip read back and held against `expected`; a verdict when they differ.
    std::optional<Verdict> compareWithChip(Bytes expected);
    // The one question before a write (of `path`) or an erase.
    bool askToDestroy(std::string_view what, const std::string& path, const std::optional<FileHead>& file);
    void logImage(std::string_view label, std::span<const uint8_t> bytes);
    void conclude(const Verdict& verdict);
};

// A family's `imageTool`.
template <class Tool>
std::unique_ptr<ImageTool> makeImageTool(Bridge& bridge, Frontend& ui) {
    return std::make_unique<Tool>(bridge, ui);
}

}  // namespace kj
