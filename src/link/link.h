// The programmer link: find the programmer among the bridge's devices, set up
// the port, check the firmware's handshake reply, and then the bounded I/O that
// every operation uses until it closes the link.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
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

inline constexpr std::string_view kNotFoundLine = "The programmer is not found or does not respond";
inline constexpr std::string_view kNotFoundArrowLine = "-->  The programmer is not found or does not respond";

// One window's row of the link procedure's variants.
struct LinkVariant {
    enum class Reply {
        Exact,   // three bytes, compared with `accept`
        Search,  // up to 32 bytes, whose text must contain `accept`
    };
    bool latencyFirst = false;  // latency 2 set before the time-outs
    Millis handshakeTimeout{300};
    Reply reply = Reply::Exact;
    std::string_view accept{};
    bool keepTimeouts = false;  // the handshake's time-outs stay once accepted (else 0/0)
    std::string_view notFoundLine = kNotFoundLine;
    std::string_view versionLinePrefix{};  // logged for every device that answered; empty: none
};

// The set-up calls, in order, for a window that reports each one.
enum class SetUpStep { Reset, BaudRate, DataCharacteristics, LatencyTimer, Timeouts };
using SetUpObserver = std::function<void(SetUpStep step, uint32_t deviceIndex)>;

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

// The result of a bounded exchange. Overrun: more bytes than the reply may hold
// were queued, so the two ends no longer agree on the protocol. Unexpected: a
// byte came where the protocol has no place for it.
enum class Io { Ok, Timeout, Lost, Stopped, Overrun, Unexpected };

// A failed step: how it failed, and which one it was (a family's code such as
// "E101", or none), so that each window can word its own line.
struct Fault {
    Io io = Io::Ok;
    std::string_view step;
    explicit operator bool() const { return io != Io::Ok; }
};

// The firmware's answer to the handshake byte: `size` bytes at most, within
// `timeout`; fewer when it stays silent or the line goes quiet after them.
std::vector<uint8_t> readVersionReply(BridgeDevice& device, size_t size, Millis timeout);

// The line a failed exchange leaves in the log, in the window's language.
std::string_view ioFailureLine(Io io, Language language);

// How long an operation waits for the programmer before it gives up.
struct LinkTimeouts {
    Millis reply{3000};      // a block, a request or acknowledge byte, a status
    Millis slowStep{60000};  // a step during which the chip erases or sums its flash
};

class Link {
public:
    Link(Bridge& bridge, LogSink& log) : bridge_(bridge), log_(log) {}
    ~Link() { close(); }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The link procedure: 0 nothing usable found, 1 open and accepted,
    // 2 wrong firmware (closed again). Logs its own lines.
    int open(const LinkVariant& variant, const SetUpObserver& onSetUp = {});
    void close();
    bool isOpen() const { return device_ != nullptr; }
    // The firmware's version reply turned into text.
    const std::string& versionText() const { return version_; }

    // While it reads true, waits end with Io::Stopped.
    void setInterrupt(const std::atomic<bool>* interrupt) { interrupt_ = interrupt; }
    LinkTimeouts timeouts;

    Io send(uint8_t byte);
    Io send(std::span<const uint8_t> bytes);
    // Waits until at least `count` bytes are queued; `queued` is the count then.
    Io awaitQueued(uint32_t count, Millis timeout, uint32_t* queued = nullptr);
    // A whole reply: waits for `out.size()` bytes and reads them. More queued
    // than the reply holds is an Overrun.
    Io readReply(std::span<uint8_t> out, Millis timeout);
    Io readByte(uint8_t& byte, Millis timeout) { return readReply(std::span(&byte, 1), timeout); }
    // Waits for at least one byte, then reads what is queued (at most `max`).
    Io readSome(std::vector<uint8_t>& out, size_t max, Millis timeout);
    // Appends bytes as they arrive, in whatever pieces, never more than are
    // still missing, until `out` holds `total`; one bound for the whole.
    Io collect(std::vector<uint8_t>& out, size_t total, Millis timeout);
    // Drops whatever is queued.
    Io purge();
    // Waits until every byte written has left the PC.
    Io drain(Millis timeout);
    BridgeDevice* device() { return device_.get(); }
    std::string portPath() const { return device_ ? device_->portPath() : std::string(); }
    // The open port as a user knows it: its device node, else its place in the list.
    const std::string& portName() const { return portName_; }

private:
    bool setUp(BridgeDevice& device, const LinkVariant& variant, uint32_t index, const SetUpObserver& onSetUp);
    bool accepts(const LinkVariant& variant, const std::vector<uint8_t>& reply) const;
    bool interrupted() const { return interrupt_ && interrupt_->load(); }
    Io readQueued(std::vector<uint8_t>& out, size_t max);

    Bridge& bridge_;
    LogSink& log_;
    std::unique_ptr<BridgeDevice> device_;
    std::string portName_;
    std::string version_;
    const std::atomic<bool>* interrupt_ = nullptr;
};

}  // namespace kj
