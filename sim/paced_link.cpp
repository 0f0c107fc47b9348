#include "sim/paced_link.h"

#include <algorithm>

namespace kjsim {

namespace {
// An answer that comes later than this after what it answers is the
// firmware's own delay, not the simulator's wake-up, and starts when it comes.
constexpr std::chrono::microseconds kPromptAnswer{500};
}  // namespace

LinkModel::LinkModel(LinkTiming timing) : timing_(timing) {}

// Counted from the start of the run rather than byte by byte, so that the
// rounding of one byte's time does not add up.
std::chrono::nanoseconds LinkModel::lineTime(size_t bytes) const {
    const uint64_t bits = static_cast<uint64_t>(bytes) * timing_.bitsPerByte;
    return std::chrono::nanoseconds(bits * 1'000'000'000ULL / timing_.baud);
}

void LinkModel::pcWrote(std::span<const uint8_t> bytes, Time seen) {
    if (bytes.empty()) return;
    // The PC cannot answer a packet before it is handed over, however late
    // the simulator is with it.
    const Time idleFrom = std::max(busyUntil(), lastDelivered_);
    if (started_ && seen > idleFrom) pcWait_ += seen - idleFrom;
    const Time start = std::max(seen + timing_.frame, toChipFree_);
    toChipFree_ = start + lineTime(bytes.size());
    busy(seen, toChipFree_);
    toChip_.push_back({toChipFree_, Bytes(bytes.begin(), bytes.end())});
    pcBytes_ += bytes.size();
}

Bytes LinkModel::reachedChip(Time now, Time& reached) {
    Bytes out;
    while (!toChip_.empty() && toChip_.front().due <= now) {
        reached = toChip_.front().due;
        out.insert(out.end(), toChip_.front().bytes.begin(), toChip_.front().bytes.end());
        toChip_.pop_front();
    }
    return out;
}

void LinkModel::chipSent(std::span<const uint8_t> bytes, Time cause, Time now) {
    if (bytes.empty()) return;
    const Time answered = now - cause > kPromptAnswer ? now : cause;
    const Time start = std::max(answered, fromChipFree_);
    fromChipFree_ = start + lineTime(bytes.size());
    busy(start, fromChipFree_);
    for (size_t i = 0; i < bytes.size(); ++i) addToPacket(bytes[i], start + lineTime(i + 1));
    chipBytes_ += bytes.size();
}

// The bridge sends a packet when it is full, or when the latency timer runs
// out on a part-filled one.
void LinkModel::addToPacket(uint8_t byte, Time in) {
    if (!open_.empty() && in > openDeadline_) sendPacket(openDeadline_);
    if (open_.empty()) openDeadline_ = in + timing_.latency;
    open_.push_back(byte);
    if (open_.size() == timing_.packetBytes) sendPacket(in);
}

void LinkModel::sendPacket(Time due) {
    toPc_.push_back({due, std::move(open_)});
    open_.clear();
    settled_ = std::max(settled_, due);
}

std::vector<LinkModel::Packet> LinkModel::reachedPc(Time now) {
    if (!open_.empty() && openDeadline_ <= now) sendPacket(openDeadline_);
    std::vector<Packet> out;
    while (!toPc_.empty() && toPc_.front().due <= now) {
        out.push_back(std::move(toPc_.front()));
        toPc_.pop_front();
    }
    if (!out.empty()) lastDelivered_ = now;
    return out;
}

LinkModel::Time LinkModel::nextDue() const {
    Time next = Time::max();
    if (!toChip_.empty()) next = std::min(next, toChip_.front().due);
    if (!toPc_.empty()) next = std::min(next, toPc_.front().due);
    if (!open_.empty()) next = std::min(next, openDeadline_);
    return next;
}

void LinkModel::purge() {
    toChip_.clear();
    toPc_.clear();
    open_.clear();
}

void LinkModel::busy(Time start, Time end) {
    if (!started_) {
        started_ = true;
        firstSeen_ = busyFrom_ = start;
    } else if (const Time until = busyUntil(); start > until) {
        busyBefore_ += until - busyFrom_;
        busyFrom_ = start;
    }
    settled_ = std::max(settled_, end);
}

LinkModel::Time LinkModel::busyUntil() const { return open_.empty() ? settled_ : std::max(settled_, openDeadline_); }

LinkModel::Stats LinkModel::stats() const {
    Stats s;
    s.pcBytes = pcBytes_;
    s.chipBytes = chipBytes_;
    if (!started_) return s;
    const Time until = busyUntil();
    s.model = busyBefore_ + (until - busyFrom_);
    s.session = s.model + pcWait_;
    s.wall = until - firstSeen_;
    return s;
}

}  // namespace kjsim
