// The ITE IT85xx window's operations: send the pin routing to the programmer,
// check that the controller answers, read its 128 KiB flash into a file, and
// erase it and write a file into it. The routing and the link check are short
// and run to their end on the caller's thread; a read or write prepares the
// controller there and streams on its worker.
#pragma once

#include <string>

#include "common/frontend.h"
#include "ite/ite_frames.h"
#include "ite/ite_routing.h"
#include "operation/image_tool.h"

namespace kj {

namespace ite {
inline constexpr const char* kReading = "READ_ITE";
inline constexpr const char* kWriting = "WRITE_ITE_step_one";
inline constexpr int kPagesGauge = 0;
inline constexpr int kPageGauge = 1;  // the position inside the page being written
inline constexpr int kPageGaugeMax = static_cast<int>(kPageSize);
// The programmer gives the user 5 seconds to connect the adapter before it answers 'T'.
inline constexpr Millis kControllerWait{10000};

extern const Family kFamily;
}  // namespace ite

// The routing, the link check, the read and the write, each one link session
// as the programmer's firmware knows it.
class IteSessions : public ImageSessions {
public:
    using ImageSessions::ImageSessions;

    // APPLY: it succeeded once the programmer has taken the whole routing.
    void applyRouting(const ite::Routing& pins);
    // The link check: it succeeded when the controller answered with its ID.
    void checkConnection();

    void read(const ReadRequest& request) override;
    void write(const WriteRequest& request) override;
    const std::string& fileName() const { return fileName_; }
    // How long the reply to 'T' may take.
    Millis controllerWait = ite::kControllerWait;

private:
    // 'T' at the start of a read or write; logs `code`'s line and ends the operation when it fails.
    bool controllerAnswers(std::string_view code);
    // The whole operations, on the worker.
    void routeSignals(const ite::Routing& pins);
    void checkLink();
    bool prepareController(std::span<const ite::RegisterStep> steps);

    void readFlash();
    void writeFlash();
    bool writeBytes();
    void logImageLines();

    // A failed request: the step's line when the programmer refused or said
    // nothing in time, else the link's own line.
    void logFailure(const ite::Answer& answer, std::string_view stepLine);
    // The end of a write that failed; a flash already erased must be written again.
    void failWrite();

    std::string fileName_;
    uint64_t fileSize_ = 0;
    Bytes image_;  // what the flash is to hold: the driver's image, and 0xFF
};

}  // namespace kj
