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

// What the user decides about an image whose base block is not sane.
enum class EdidWriteChoice { AsIs, FixChecksums, Cancel };

// Where the summary beside the log comes from.
enum class EdidSource { Eeprom, File };
// Shows the decoder's summary of the image just read or about to be written
// (beside the log, never in it).
using EdidInfoShow = std::function<void(const EdidInfo&, EdidSource source)>;
// Asked once before writing an image whose base block has a bad header or checksum.
using EdidWriteQuestion = std::function<EdidWriteChoice(const EdidInfo&)>;

FileDialogSpec edidSaveDialog();
FileDialogSpec edidOpenDialog();

// A file as the EEPROM receives it: its first 256 bytes, the rest 0xFF.
// Nothing, with `error` set, when it cannot be read.
std::optional<EdidImage> loadEdidImage(const std::string& path, std::string& error);

class EdidProgrammer : public ImageTool {
public:
    EdidProgrammer(Bridge& bridge, Frontend& ui);

    Operation& operation() override { return op_; }

    Link& link() { return op_.link(); }
    void onInfo(EdidInfoShow show) { showInfo_ = std::move(show); }
    // Without a question the image is written as it is.
    void onBadBaseBlock(EdidWriteQuestion ask) { askBadBaseBlock_ = std::move(ask); }

    // The last chosen file, shared by save and load.
    const std::string& fileName() const { return fileName_; }
    const EdidImage& image() const { return image_; }
    // The programmer's last two status bytes; empty when none came.
    const std::string& lastStatus() const { return status_; }

private:
    // On the worker. Each succeeds only when the exchange ended with "OK" and,
    // for a read, the image was saved whole.
    void read() override;
    void write() override;
    std::optional<Bytes> sentImage() const override { return Bytes(image_.begin(), image_.end()); }
    bool collectImage();
    void saveImage();
    bool loadImage();
    bool confirmBaseBlock();
    void exchangeImage();
    void logDump();
    void show(EdidSource source);
    // A failed exchange: its line, the failure end byte while the link still
    // carries one, the link closed.
    void failExchange(Io io);
    void end(Ending ending);

    Frontend& ui_;
    EdidInfoShow showInfo_;
    EdidWriteQuestion askBadBaseBlock_;
    std::string fileName_;
    EdidImage image_{};
    std::string status_;
    // Last: destroyed first, so nothing it may still use is gone before it.
    Operation op_;
};

}  // namespace kj
