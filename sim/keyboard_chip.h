// The V41 firmware's keyboard-connector scan: a scripted list of reports, one
// per 'u' / 'U' request, as a keyboard with keys pressed would produce them.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/programmer.h"

namespace kjsim {

struct KeyboardFaults {
    // Two lines shorted together: their pair is in every report, the first one included.
    std::optional<std::pair<uint8_t, uint8_t>> shortedLines{};
};

class KeyboardChip : public ChipModel {
public:
    struct Report {
        Bytes bytes;                 // e.g. {'>', 1, 2, 5, '>', 3, 4, '&'}
        std::vector<size_t> pieces;  // delivery in pieces of these sizes; empty: whole
    };

    KeyboardChip() = default;
    explicit KeyboardChip(std::vector<Report> script, bool loop = false);
    // Plain reports, each delivered whole.
    static std::vector<Report> reports(std::vector<Bytes> plain);
    // A few keys pressed over and over, so that a scan shows cells toggling.
    static std::vector<Report> demoScript();

    void setScript(std::vector<Report> script, bool loop = false);
    void setFaults(KeyboardFaults faults);
    bool handle(uint8_t command, Wire& wire) override;

    // 'u' and 'U' in the order received.
    std::string requestLog() const;
    size_t requests() const { return requests_; }
    size_t beeps() const { return beeps_; }
    size_t quits() const { return quits_; }
    bool quitReceived() const { return quits_ > 0; }
    bool scanning() const { return scanning_; }

    Millis pieceGap{5};

private:
    void answerRequest(uint8_t command, Wire& wire);

    mutable std::mutex mutex_;
    std::vector<Report> script_;
    KeyboardFaults faults_;
    bool loop_ = false;
    size_t next_ = 0;
    std::string requestLog_;
    std::atomic<size_t> requests_{0};
    std::atomic<size_t> beeps_{0};
    std::atomic<size_t> quits_{0};
    std::atomic<bool> scanning_{false};
};

}  // namespace kjsim
