// The programmer's end of the serial link, as its firmware sees it: blocking
// byte input, replies out. Firmware code is written straight-line, the way the
// real firmware loop is, and runs on a thread of its own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace kjsim {

using Bytes = std::vector<uint8_t>;
using Millis = std::chrono::milliseconds;

// Thrown out of Wire::get() when the device is reset, closed or hung up, so
// that a firmware loop unwinds wherever it stands.
struct WireStopped {};

// Fault injection, counted in replies ("steps") since the link was set up:
// step 1 is the answer to the first 'B'.
struct Faults {
    int silentFromStep = 0;  // from this step on, nothing is sent
    int shortReplyAt = 0;    // this step's reply loses its last byte
    int halfReplyAt = 0;     // this step's reply loses its second half
    int wrongReplyAt = 0;    // this step's reply has its first byte inverted
    int extraByteAt = 0;     // this step's reply has one byte too many
    int hangUpAtStep = 0;    // the device is unplugged instead of this reply
    Millis replyDelay{0};    // every reply is held back this long
    // Any change at all, step by step; false hangs up instead of the reply.
    std::function<bool(int step, Bytes& reply)> perReply{};
};

// A thread-safe byte queue with blocking, bounded waits.
class ByteQueue {
public:
    using Clock = std::chrono::steady_clock;
    using StopFn = std::function<bool()>;

    void push(std::span<const uint8_t> bytes);
    // Pops one byte; waits until one is there, `stop()` or `deadline`.
    bool pop(uint8_t& byte, const StopFn& stop, Clock::time_point deadline = Clock::time_point::max());
    // Waits until `count` bytes are there, `stop()` or `deadline`; returns the count.
    size_t waitFor(size_t count, const StopFn& stop, Clock::time_point deadline);
    size_t take(uint8_t* out, size_t max);
    size_t size() const;
    void clear();
    // Wakes every waiter so that it looks at its stop condition again.
    void wake();
    // Called after each push, outside the lock; set before any push.
    void onPush(std::function<void()> listener) { onPush_ = std::move(listener); }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<uint8_t> bytes_;
    std::function<void()> onPush_;
};

class Wire {
public:
    virtual ~Wire() = default;
    // Next byte from the PC; blocks. Throws WireStopped when the link goes away.
    virtual uint8_t get() = 0;
    // Next byte within `timeout`; false when none came.
    virtual bool tryGet(uint8_t& byte, Millis timeout) = 0;
    // One reply (one step, subject to the faults).
    virtual void reply(std::span<const uint8_t> bytes) = 0;
    // One reply delivered in pieces of the given sizes, `gap` apart; the
    // remainder after the last size goes as a last piece.
    virtual void replyInPieces(std::span<const uint8_t> bytes, const std::vector<size_t>& sizes, Millis gap) = 0;
    void reply(uint8_t byte) { reply(std::span<const uint8_t>(&byte, 1)); }
    void reply(const std::string& text) {
        reply(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    // Gives a byte back, to be the next get(): a chip's stream that meets a byte
    // it does not expect hands it back to the firmware's main loop.
    virtual void unget(uint8_t byte) = 0;
    Bytes getN(size_t n) {
        Bytes out(n);
        for (auto& b : out) b = get();
        return out;
    }
};

}  // namespace kjsim
