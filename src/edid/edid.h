// The EDID window's operations: read the panel's 256-byte EEPROM into a file,
// write a file into it. Both are short: each runs to its end on the caller's
// thread, from the link set-up to the file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "common/frontend.h"
#include "edid/edid_info.h"
#include "operation/image_tool.h"

namespace kj {

inline constexpr size_t kEdidImageSize = 256;
using EdidImage = std::array<uint8_t, kEdidImageSize>;

namespace edid {
extern const Family kFamily;
}

// Where the summary beside the log comes from.
enum class EdidSource { Eeprom, File };
// The decoder's summary of the image just read or about to be written, shown
// beside the log, never in it.
struct EdidInfoEvent {
    EdidInfo info;
    EdidSource source;
    std::string file;  // the file to be written
};

// The question asked once before writing an image whose base block has a bad
// header or checksum, and its answers, in this order; the last is the escape.
std::string badBaseBlockQuestion(const EdidInfo& info);
inline constexpr const char* kWriteAsIs = "Write as it is";
inline constexpr const char* kFixAndWrite = "Fix the checksum(s) and write";
inline constexpr const char* kCancelWrite = "Cancel";
enum EdidWriteAnswer : size_t { kAnswerAsIs, kAnswerFix, kAnswerCancel };

FileDialogSpec edidSaveDialog();
FileDialogSpec edidOpenDialog();

// A file as the EEPROM receives it: its first 256 bytes, the rest 0xFF.
// Nothing, with `error` set, when it cannot be read.
std::optional<EdidImage> loadEdidImage(const std::string& path, std::string& error);

// The read and the write, each one exchange as the programmer's firmware knows it.
class EdidSessions : public ImageSessions {
public:
    using ImageSessions::ImageSessions;

    // Each succeeds only when the exchange ended with "OK" and, for a read,
    // the image was saved whole.
    void read(const ReadRequest& request) override;
    void write(const WriteRequest& request) override;
    // The summary of the file shown, and an image whose base block is not sane
    // asked about: written as it is, with its checksums fixed, or not at all.
    std::optional<Bytes> prepare(const WriteRequest& request) override;

    Link& link() { return op_.link(); }
    // The last chosen file, shared by save and load.
    const std::string& fileName() const { return fileName_; }
    const EdidImage& image() const { return image_; }
    // The programmer's last two status bytes; empty when none came.
    const std::string& lastStatus() const { return status_; }

private:
    bool collectImage();
    void saveImage(ReadInto into);
    void exchangeImage();
    void logDump();
    void show(EdidSource source);
    // A failed exchange: its line, the failure end byte while the link still
    // carries one, the link closed.
    void failExchange(Io io);
    void end(Ending ending);

    std::string fileName_;
    EdidImage image_{};
    std::string status_;
};

}  // namespace kj
