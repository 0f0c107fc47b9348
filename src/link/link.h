// The programmer link: find the programmer among the bridge's devices, set up
// the port, check the firmware's handshake reply, and then the bounded I/O that
// every operation uses until it closes the link.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/frontend.h"
#include "common/text.h"
#include "link/bridge.h"

namespace kj {

// What the link procedure returns.
enum LinkResult : int { kLinkNotFound = 0, kLinkOpen = 1, kLinkWrongFirmware = 2 };

// One window's row of the link procedure's variants.
struct LinkVariant {
    bool latencyBeforeHandshake;  // latency 2 set before the time-outs
    uint32_t handshakeTimeoutMs;
    bool exactReply;              // 3 bytes compared; otherwise up to 32 bytes searched for `accept`
    std::string_view accept;
    bool zeroTimeoutsAfter;       // time-outs 0/0 once accepted; otherwise they stay
    std::string_view notFoundLine;
    std::string_view versionLinePrefix;  // logged for every device that answered; empty: none
    bool setupLines;              // the keyboard window's Russian set-up lines
};

namespace variants {
extern const LinkVariant kEdid;
extern const LinkVariant kKb90xx;
extern const LinkVariant kKeyboard;
extern const LinkVariant kMec16;
extern const LinkVariant kIte;
extern const LinkVariant kNpce;
}  // namespace variants

inline constexpr uint8_t kHandshakeByte = 'B';
inline constexpr uint8_t kSuccessEnd = 'I';
inline constexpr uint8_t kFailureEnd = 'O';
inline constexpr size_t kVersionReplyMax = 32;

// A point in time that a wait must not pass.
class Deadline {
public:
    explicit Deadline(Millis timeout) : at_(std::chrono::steady_clock::now() + timeout) {}
    // What is left of it, never below zero.
    Millis left() const {
        const auto rest = std::chrono::duration_cast<Millis>(at_ - std::chrono::steady_clock::now());
        return std::max(rest, Millis{0});
    }
    bool passed() const { return std::chrono::steady_clock::now() >= at_; }

private:
    std::chrono::steady_clock::time_point at_;
};

// The result of a bounded exchange.
enum class Io { Ok, Timeout, Lost, Stopped, Overrun };

// The firmware's answer to the handshake byte, read with the device's own
// read time-out: `size` bytes at most (fewer when it stays silent).
std::vector<uint8_t> readVersionReply(BridgeDevice& device, size_t size);

// The line a failed exchange leaves in the log, in the window's language.
std::string_view ioFailureLine(Io io, Language language);

// How long an operation waits for the programmer before it gives up.
struct LinkTimeouts {
    Millis reply{3000};     // a block, a request or acknowledge byte, a status
    Millis slowStep{60000}; // a step during which the chip erases or sums its flash
};

class Link {
public:
    Link(Bridge& bridge, LogSink& log) : bridge_(bridge), log_(log) {}
    ~Link() { close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The link procedure: 0 nothing usable found, 1 open and accepted,
    // 2 wrong firmware (closed again). Logs its own lines.
    int open(const LinkVariant& variant);
    void close();
    bool isOpen() const { return device_ != nullptr; }
    // The firmware's version reply turned into text.
    const std::string& versionText() const { return version_; }

    // While set, waits end with Io::Stopped (the stop button, Ctrl-C).
    void setStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }
    LinkTimeouts timeouts;

    Io send(uint8_t byte);
    Io send(std::span<const uint8_t> bytes);
    // Waits until at least `count` bytes are queued; `queued` is the count then.
    Io awaitQueued(uint32_t count, Millis timeout, uint32_t* queued = nullptr);
    // Waits for exactly `out.size()` bytes and reads them.
    Io readExact(std::span<uint8_t> out, Millis timeout);
    Io readByte(uint8_t& byte, Millis timeout);
    // Waits for at least one byte, then reads what is queued (at most `max`).
    Io readSome(std::vector<uint8_t>& out, size_t max, Millis timeout);
    // Reads what is queued now, up to `max`, without waiting.
    Io readQueued(std::vector<uint8_t>& out, size_t max);
    // Appends bytes as they arrive, in whatever pieces, never more than are
    // still missing, until `out` holds `total`; one bound for the whole.
    Io collect(std::vector<uint8_t>& out, size_t total, Millis timeout);
    // Reads bytes until one equals `wanted`; others are dropped and do not
    // extend the bound.
    Io skipTo(uint8_t wanted, Millis timeout);
    BridgeDevice* device() { return device_.get(); }

private:
    bool setUp(BridgeDevice& device, const LinkVariant& variant, uint32_t index);
    bool accepts(const LinkVariant& variant, const std::vector<uint8_t>& reply) const;
    bool stopRequested() const { return stop_ && stop_->load(); }

    Bridge& bridge_;
    LogSink& log_;
    std::unique_ptr<BridgeDevice> device_;
    std::string version_;
    const std::atomic<bool>* stop_ = nullptr;
};

}  // namespace kj
