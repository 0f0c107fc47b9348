// The NPCE288N/388N window's operations: identify the flash, read it into a
// file, and write a file into it (erase, blank check, write, verify by reading
// it back). The streams run on a worker after their start handler returns.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/frontend.h"
#include "npce/npce_frames.h"
#include "operation/image_tool.h"

namespace kj {

namespace npce {
inline constexpr int kGaugeMax = 512;
inline constexpr int kReadGaugeStep = kGaugeMax / kReadBlockCount;
inline constexpr int kWriteGaugeStep = kGaugeMax / kWriteBlockCount;
inline constexpr const char* kReading = "Reading_NPCE";
inline constexpr const char* kWriting = "Write_NPCE";

extern const Family kFamily;
}  // namespace npce

// The read and the write (erase, blank check, write, the programmer's verify),
// each one link session as the programmer's firmware knows it.
class NpceSessions : public ImageSessions {
public:
    using ImageSessions::ImageSessions;

    // 'Z'; true when the flash identified itself. Logs its lines and sends its
    // end byte either way.
    bool checkConnection();
    // Sends one byte and waits for the one byte that answers it.
    Io sendAndWait(uint8_t byte);

    void read(const ReadRequest& request) override;
    void write(const WriteRequest& request) override;
    const std::string& fileName() const { return fileName_; }

private:
    bool openChip();
    bool eraseAndCheck();
    void startStream(uint8_t command, void (NpceSessions::*stream)());

    void readStream();
    void endRead();

    void writeStream();
    void verify();
    void endVerify(bool match);

    void logStepFailure(Io io, std::initializer_list<std::string_view> lines);
    // A step that failed: its lines, and the ending its Part gives that path.
    void failStep(Io io, std::initializer_list<std::string_view> lines, Ending ending);
    // A step with no line of its own.
    void fail(Io io);

    std::string fileName_;
    Bytes image_;  // the image being written, 0xFF past the file's end
    int block_ = 0;
};

}  // namespace kj
