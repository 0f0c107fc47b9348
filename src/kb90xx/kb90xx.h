// The KB9010/9012/9016/9022 window's operations: read the 128 KiB flash into a
// file, write a file into it and verify the write by the programmer's SUM and
// CRC. Each runs on a worker after its start handler returns.
#pragma once

#include <cstdint>
#include <string>

#include "common/frontend.h"
#include "kb90xx/kb90xx_frames.h"
#include "operation/image_tool.h"

namespace kj {

namespace kb90xx {
inline constexpr int kGaugeMax = 32768;
inline constexpr int kGaugeStep = kGaugeMax / kBlockCount;
inline constexpr const char* kReading = "Reading";
inline constexpr const char* kWriting = "Writing";

extern const Family kFamily;
}  // namespace kb90xx

// The save dialog of a read and the open dialog of a write.
FileDialogSpec kb90xxSaveDialog();
FileDialogSpec kb90xxOpenDialog();

// One step of the CRC-16/ARC (reflected 0x8005, initial 0, no final XOR).
uint16_t updateCrc16(uint16_t crc, uint8_t byte);

// The read and the write, each one link session as the controller's firmware knows it.
class Kb90xxSessions : public ImageSessions {
public:
    using ImageSessions::ImageSessions;

    // Sends 'V'; true when a chip answered. Logs its lines either way.
    bool checkConnection();

    void read(const ReadRequest& request) override;
    void write(const WriteRequest& request) override;
    const std::string& fileName() const { return fileName_; }

private:
    bool openChip();
    void startStream(const char* name, uint8_t command, void (Kb90xxSessions::*stream)());

    void readStream();
    void endRead();

    void writeStream();
    // The next block of the image, padded with 0xFF; `got` is how many bytes the image had for it.
    void endShortWrite(const kb90xx::Block& block);
    void verify();

    void fail(Io io);

    std::string fileName_;
    ImageBlocks image_;  // the write's image, exactly as the driver hands it over
    int block_ = 0;
    uint16_t fileSum_ = 0;
    uint16_t fileCrc_ = 0;
};

}  // namespace kj
