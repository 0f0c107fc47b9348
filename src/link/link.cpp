#include "link/link.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <thread>

#include "link/port_list.h"
#include "link/wait_guard.h"

namespace kj {

namespace {
constexpr size_t kExactReplySize = 3;
// Waits are cut into slices so that a stop request is seen promptly.
constexpr Millis kWaitSlice{50};
constexpr uint32_t kBitsPerByte = 10;  // 8N1
// Well beyond the bridge's latency timer (16 ms unless set lower): a reply in
// pieces comes faster than that.
constexpr Millis kQuietAfterReply{50};
}  // namespace

std::string_view ioFailureLine(Io io, Language language) {
    const bool ru = language == Language::Russian;
    switch (io) {
        case Io::Ok: return "";
        case Io::Timeout:
            return ru ? "Программатор не отвечает (тайм-аут)." : "The programmer does not answer (time-out).";
        case Io::Lost: return ru ? "Потеряна связь с программатором." : "Connection with the programmer is lost.";
        case Io::Stopped: return ru ? "Операция остановлена." : "Operation is stopped.";
        case Io::Overrun:
            return ru ? "Ошибка протокола: программатор прислал больше байт, чем ожидалось."
                      : "Protocol error: the programmer sent more bytes than expected.";
        case Io::Unexpected:
            return ru ? "Ошибка протокола: программатор прислал не тот байт."
                      : "Protocol error: the programmer sent a wrong byte.";
    }
    return "";
}

int Link::open(const LinkVariant& variant, const SetUpObserver& onSetUp) {
    assertMayWait();
    close();
    uint32_t count = 0;
    if (!listPorts(bridge_, log_, count)) return kLinkNotFound;
    for (uint32_t index = count; index-- > 0;) {
        std::unique_ptr<BridgeDevice> device;
        const bool opened = bridge_.open(index, device) == FtStatus::Ok && device;
        if (auto advice = bridge_.lastOpenAdvice(); !advice.empty()) log_.log(advice);
        if (!opened) continue;
        if (!setUp(*device, variant, index, onSetUp)) {
            device->close();
            continue;
        }
        const bool exact = variant.reply == LinkVariant::Reply::Exact;
        const auto reply =
            readVersionReply(*device, exact ? kExactReplySize : kVersionReplyMax, variant.handshakeTimeout);
        const size_t needed = exact ? kExactReplySize : 1;
        if (reply.size() < needed) {
            device->close();
            continue;
        }
        version_ = bytesToText(reply);
        if (!variant.versionLinePrefix.empty()) log_.log(std::string(variant.versionLinePrefix) + version_);
        if (!accepts(variant, reply)) {
            log_.log("It is necessary to update the firmware programmer!");
            device->close();
            return kLinkWrongFirmware;
        }
        log_.log("Communication with programmer installed.");
        if (!variant.keepTimeouts) device->setTimeouts(0, 0);
        device->setLatencyTimer(kLatencyMs);
        device_ = std::move(device);
        portName_ = device_->portPath().empty() ? bridge_.portName(index) : device_->portPath();
        // A late byte of the handshake must not pass for the first reply of the operation.
        purge();
        return kLinkOpen;
    }
    log_.log(variant.notFoundLine);
    return kLinkNotFound;
}

bool Link::setUp(BridgeDevice& device, const LinkVariant& variant, uint32_t index, const SetUpObserver& onSetUp) {
    auto note = [&](SetUpStep step) {
        if (onSetUp) onSetUp(step, index);
    };
    // A device that vanished between the list and the set-up is skipped like a silent one.
    bool ok = device.resetDevice() == FtStatus::Ok;
    note(SetUpStep::Reset);
    ok = device.setBaudRate(kBaudRate) == FtStatus::Ok && ok;
    note(SetUpStep::BaudRate);
    ok = device.setDataCharacteristics(kDataBits8, kStopBits1, kParityNone) == FtStatus::Ok && ok;
    note(SetUpStep::DataCharacteristics);
    if (variant.latencyFirst) {
        ok = device.setLatencyTimer(kLatencyMs) == FtStatus::Ok && ok;
        note(SetUpStep::LatencyTimer);
    }
    const auto ms = static_cast<uint32_t>(variant.handshakeTimeout.count());
    ok = device.setTimeouts(ms, ms) == FtStatus::Ok && ok;
    note(SetUpStep::Timeouts);
    return ok;
}

std::vector<uint8_t> readVersionReply(BridgeDevice& device, size_t size, Millis timeout) {
    uint32_t written = 0;
    if (device.write(&kHandshakeByte, 1, written) != FtStatus::Ok || written != 1) return {};
    // A reply of up to `size` bytes is whole once the line has gone quiet after
    // it: waiting out the time-out for bytes that never come costs every operation.
    const Deadline deadline(timeout);
    uint32_t queued = 0;
    if (device.waitForRx(1, timeout, queued) != FtStatus::Ok) return {};
    for (uint32_t before = 0; queued > before && queued < size && !deadline.passed();) {
        before = queued;
        if (device.waitForRx(before + 1, std::min(kQuietAfterReply, deadline.left()), queued) != FtStatus::Ok)
            return {};
    }
    std::vector<uint8_t> reply(std::min<size_t>(queued, size));
    uint32_t got = 0;
    if (!reply.empty() && device.read(reply.data(), static_cast<uint32_t>(reply.size()), got) != FtStatus::Ok)
        return {};
    reply.resize(got);
    return reply;
}

bool Link::accepts(const LinkVariant& variant, const std::vector<uint8_t>& reply) const {
    if (variant.reply == LinkVariant::Reply::Exact)
        return std::equal(variant.accept.begin(), variant.accept.end(), reply.begin());
    return version_.find(variant.accept) != std::string::npos;
}

void Link::close() {
    if (!device_) return;
    device_->close();
    device_.reset();
}

Io Link::send(uint8_t byte) { return send(std::span<const uint8_t>(&byte, 1)); }

Io Link::send(std::span<const uint8_t> bytes) {
    if (!device_) return Io::Lost;
    uint32_t written = 0;
    const auto status = device_->write(bytes.data(), static_cast<uint32_t>(bytes.size()), written);
    return status == FtStatus::Ok && written == bytes.size() ? Io::Ok : Io::Lost;
}

Io Link::awaitQueued(uint32_t count, Millis timeout, uint32_t* queued) {
    assertMayWait();
    if (!device_) return Io::Lost;
    const Deadline deadline(timeout);
    uint32_t have = 0;
    for (;;) {
        if (interrupted()) return Io::Stopped;
        const bool last = deadline.passed();
        if (device_->waitForRx(count, std::min(deadline.left(), kWaitSlice), have) != FtStatus::Ok) return Io::Lost;
        if (queued) *queued = have;
        if (have >= count) return Io::Ok;
        if (last) return Io::Timeout;
    }
}

Io Link::readReply(std::span<uint8_t> out, Millis timeout) {
    const auto size = static_cast<uint32_t>(out.size());
    uint32_t queued = 0;
    if (auto io = awaitQueued(size, timeout, &queued); io != Io::Ok) return io;
    if (queued > size) return Io::Overrun;
    uint32_t got = 0;
    if (device_->read(out.data(), size, got) != FtStatus::Ok || got != size) return Io::Lost;
    return Io::Ok;
}

Io Link::readSome(std::vector<uint8_t>& out, size_t max, Millis timeout) {
    if (auto io = awaitQueued(1, timeout); io != Io::Ok) return io;
    return readQueued(out, max);
}

Io Link::readQueued(std::vector<uint8_t>& out, size_t max) {
    if (!device_) return Io::Lost;
    QueueStatus status;
    if (device_->getStatus(status) != FtStatus::Ok) return Io::Lost;
    const auto want = static_cast<uint32_t>(std::min<size_t>(status.rx, max));
    const size_t at = out.size();
    out.resize(at + want);
    uint32_t got = 0;
    if (want && device_->read(out.data() + at, want, got) != FtStatus::Ok) return Io::Lost;
    out.resize(at + got);
    return Io::Ok;
}

Io Link::collect(std::vector<uint8_t>& out, size_t total, Millis timeout) {
    const Deadline deadline(timeout);
    while (out.size() < total) {
        if (Io io = readSome(out, total - out.size(), deadline.left()); io != Io::Ok) return io;
    }
    return Io::Ok;
}

Io Link::purge() {
    std::vector<uint8_t> dropped;
    return readQueued(dropped, SIZE_MAX);
}

Io Link::drain(Millis timeout) {
    assertMayWait();
    if (!device_) return Io::Lost;
    const Deadline deadline(timeout);
    for (;;) {
        QueueStatus status;
        if (device_->getStatus(status) != FtStatus::Ok) return Io::Lost;
        if (status.tx == 0) return Io::Ok;
        if (deadline.passed()) return Io::Timeout;
        if (interrupted()) return Io::Stopped;
        // As long as the queued bytes take on the wire, and no longer than is left.
        const auto onWire = std::chrono::microseconds(1000000ULL * kBitsPerByte * status.tx / kBaudRate);
        std::this_thread::sleep_for(std::min<std::chrono::microseconds>(
            std::max<std::chrono::microseconds>(onWire, std::chrono::microseconds(100)), deadline.left()));
    }
}

}  // namespace kj
