// The KB9010/9012/9016/9022 window's operations: read the 128 KiB flash into a
// file, write a file into it and verify the write by the programmer's SUM and
// CRC. Each runs on a worker after its start handler returns.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/frontend.h"
#include "common/operation.h"
#include "common/image_file.h"
#include "link/link.h"

namespace kj {

namespace kb90xx {
inline constexpr size_t kBlockSize = 256;
inline constexpr int kBlockCount = 512;
inline constexpr size_t kImageSize = kBlockSize * kBlockCount;  // 128*1024
inline constexpr int kGaugeMax = 32768;
inline constexpr int kGaugeStep = kGaugeMax / kBlockCount;

inline constexpr uint8_t kVersionCmd = 'V';
inline constexpr uint8_t kReadCmd = 'R';
inline constexpr uint8_t kWriteCmd = 'W';
inline constexpr uint8_t kNextCmd = 'N';
inline constexpr uint8_t kEndCmd = 'X';
inline constexpr uint8_t kChecksumCmd = 'S';
inline constexpr uint8_t kProgressMark = '-';
inline constexpr uint8_t kNoChip = 0xFF;
inline constexpr uint8_t kErased = 0xFF;
inline constexpr size_t kChecksumBytes = 4;

inline constexpr const char* kReading = "Reading";
inline constexpr const char* kWriting = "Writing";
}  // namespace kb90xx

// The save dialog of a read and the open dialog of a write.
FileDialogSpec kb90xxSaveDialog();
FileDialogSpec kb90xxOpenDialog();

// One step of the CRC-16/ARC (reflected 0x8005, initial 0, no final XOR).
uint16_t UpdateCrc16_KB90(uint16_t crc, uint8_t byte);

class Kb90xxProgrammer {
public:
    using Block = std::array<uint8_t, kb90xx::kBlockSize>;

    Kb90xxProgrammer(Bridge& bridge, Frontend& ui);

    // The read and write buttons' handlers: ignored unless idle; they return once
    // the worker runs and the start command is sent, or once the start failed.
    void startRead();
    void startWrite();

    // Sends 'V'; true when a chip answered. Logs its lines either way and sends
    // the failure end byte when none did.
    bool CheckConnection_KB90();

    OperationName& operation() { return operation_; }
    Link& link() { return link_; }
    // True when the last operation ended with the success end byte.
    bool lastSucceeded() const { return succeeded_; }
    const std::string& fileName() const { return fileName_; }

private:
    bool openChip();
    void startStream(const char* name, uint8_t command);
    // The worker's body: runs the stream that the operation name selects.
    void ReadThread_KB90();

    void readStream();
    Io receiveBlock(Block& block);
    void endRead();

    void writeStream();
    void endShortWrite(const Block& block);
    void verify();

    // Every failed end: its line, the failure end byte, the link closed.
    void endFailed(std::string_view line, std::string_view box = {});
    void endFailed(Io io);
    // A file that failed: `what` and the system's reason, and the error box.
    void endFileFailed(std::string_view what, std::string_view box);
    void endOperation(bool succeeded);
    void logTimeStamp();

    Frontend& ui_;
    Link link_;
    OperationName operation_;
    ImageFile file_;
    std::string fileName_;
    int block_ = 0;
    uint16_t fileSum_ = 0;
    uint16_t fileCrc_ = 0;
    std::atomic<bool> succeeded_{false};
};

}  // namespace kj
