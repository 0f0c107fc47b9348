// What the USB-serial bridge costs a real jig, for korvel-progsim --pace: the
// bytes' time on the line, the bridge chip's USB packets and latency timer,
// and the USB frame a command waits for. The arithmetic only: the caller
// hands bytes in with the times it saw them and takes them out when due.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "sim/wire.h"

namespace kjsim {

struct LinkTiming {
    uint32_t baud = 921600;
    uint32_t bitsPerByte = 10;  // start, eight data, stop
    size_t packetBytes = 62;    // the data in one USB packet from the bridge chip
    Millis latency{2};          // the bridge's latency timer, as the link sets it
    Millis frame{1};            // what reaches the bridge waits for the next USB frame
};

class LinkModel {
public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;

    struct Packet {
        Time due;
        Bytes bytes;
    };

    // `model`: how long the link was busy carrying the bytes. `session`: that
    // plus every wait for the PC, from each delivery that left the link idle to
    // the PC's next byte. `wall`: from the PC's first byte until the link last
    // fell idle, on the clock; it also holds the simulator's own lateness,
    // which a real link does not have.
    struct Stats {
        Clock::duration session{};
        Clock::duration model{};
        Clock::duration wall{};
        uint64_t pcBytes = 0;
        uint64_t chipBytes = 0;
    };

    explicit LinkModel(LinkTiming timing = {});

    // The PC wrote `bytes`; `seen` is when they left it.
    void pcWrote(std::span<const uint8_t> bytes, Time seen);
    // What has reached the chip by `now`, in order; `reached` becomes the time
    // its last byte did.
    Bytes reachedChip(Time now, Time& reached);
    // The chip answers with `bytes`, seen at `now`, to what reached it at
    // `cause`.
    void chipSent(std::span<const uint8_t> bytes, Time cause, Time now);
    // The packets that have reached the PC by `now`, in order, for the caller
    // to hand over at once.
    std::vector<Packet> reachedPc(Time now);
    // When the next byte reaches either end; Time::max() when nothing is in flight.
    Time nextDue() const;
    // A device reset: whatever is in flight is dropped.
    void purge();

    Stats stats() const;

private:
    struct Chunk {
        Time due;
        Bytes bytes;
    };

    // How long `bytes` take on the line.
    std::chrono::nanoseconds lineTime(size_t bytes) const;
    void addToPacket(uint8_t byte, Time in);
    void sendPacket(Time due);
    // Counts [start, end] as busy, merging it with the busy stretch it meets.
    void busy(Time start, Time end);
    Time busyUntil() const;

    LinkTiming timing_;
    Time toChipFree_{};
    Time fromChipFree_{};
    std::deque<Chunk> toChip_;
    std::deque<Packet> toPc_;
    Bytes open_;  // the packet the bridge is filling
    Time openDeadline_{};

    bool started_ = false;
    Time firstSeen_{};
    Time busyFrom_{};
    Time settled_{};  // the busy stretch lasts at least until here
    Clock::duration busyBefore_{};
    Time lastDelivered_{};
    Clock::duration pcWait_{};
    uint64_t pcBytes_ = 0;
    uint64_t chipBytes_ = 0;
};

}  // namespace kjsim
