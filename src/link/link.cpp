#include "link/link.h"

#include <algorithm>

namespace kj {

namespace variants {
namespace {
constexpr std::string_view kNotFoundArrow = "-->  The programmer is not found or does not respond";
constexpr std::string_view kNotFound = "The programmer is not found or does not respond";
}  // namespace

//                   latency-first  ms  exact  accept  zero-after  not-found       version line                   set-up lines
const LinkVariant kEdid{true, 300, true, "V41", true, kNotFoundArrow, "", false};
const LinkVariant kKb90xx{false, 300, true, "V41", true, kNotFound, "", false};
const LinkVariant kKeyboard{true, 300, true, "V41", true, kNotFoundArrow, "", true};
const LinkVariant kMec16{false, 300, true, "V42", true, kNotFound, "", false};
const LinkVariant kIte{false, 300, false, "ITE", false, kNotFound, "Версия FW программатора -> ", false};
const LinkVariant kNpce{false, 500, false, "NPCE", false, kNotFound, "Version FW -> ", false};
}  // namespace variants

namespace {
constexpr size_t kExactReplySize = 3;
// Waits are cut into slices so that a stop request is seen promptly.
constexpr Millis kWaitSlice{50};
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
    }
    return "";
}

int Link::open(const LinkVariant& variant) {
    close();
    uint32_t count = 0;
    if (bridge_.createDeviceInfoList(count) != FtStatus::Ok) {
        log_.log("I can not get a list of VCOM ports");
        return kLinkNotFound;
    }
    if (count == 0) {
        log_.log("VCOM port is not found on the machine!");
        return kLinkNotFound;
    }
    log_.log("Number of VCOM ports found on the machine: " + std::to_string(count));
    for (uint32_t index = count; index-- > 0;) {
        std::unique_ptr<BridgeDevice> device;
        if (bridge_.open(index, device) != FtStatus::Ok || !device) {
            if (auto advice = bridge_.lastOpenAdvice(); !advice.empty()) log_.log(advice);
            continue;
        }
        if (!setUp(*device, variant, index)) {
            device->close();
            continue;
        }
        const auto reply = readVersionReply(*device, variant.exactReply ? kExactReplySize : kVersionReplyMax);
        const size_t needed = variant.exactReply ? kExactReplySize : 1;
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
        if (variant.zeroTimeoutsAfter) device->setTimeouts(0, 0);
        device->setLatencyTimer(kLatencyMs);
        device_ = std::move(device);
        return kLinkOpen;
    }
    log_.log(variant.notFoundLine);
    return kLinkNotFound;
}

bool Link::setUp(BridgeDevice& device, const LinkVariant& variant, uint32_t index) {
    auto note = [&](std::string_view line) {
        if (variant.setupLines) log_.log(line);
    };
    // A device that vanished between the list and the set-up is skipped like a silent one.
    bool ok = device.resetDevice() == FtStatus::Ok;
    note("COM порт сброшен.");
    ok = device.setBaudRate(kBaudRate) == FtStatus::Ok && ok;
    note("Установлена скорость 921600 bps.");
    ok = device.setDataCharacteristics(kDataBits8, kStopBits1, kParityNone) == FtStatus::Ok && ok;
    note("Произведена настройка формата передачи данных.");
    note("Произведена настройка таймаутов.");
    if (variant.latencyBeforeHandshake) {
        ok = device.setLatencyTimer(kLatencyMs) == FtStatus::Ok && ok;
        note("Произведена настройка LatencyTimer.");
    }
    const uint32_t ms = variant.handshakeTimeoutMs;
    ok = device.setTimeouts(ms, ms) == FtStatus::Ok && ok;
    note("Настроили порт " + std::to_string(index));
    return ok;
}

std::vector<uint8_t> readVersionReply(BridgeDevice& device, size_t size) {
    uint32_t written = 0;
    if (device.write(&kHandshakeByte, 1, written) != FtStatus::Ok || written != 1) return {};
    std::vector<uint8_t> reply(size);
    uint32_t got = 0;
    if (device.read(reply.data(), static_cast<uint32_t>(reply.size()), got) != FtStatus::Ok) return {};
    reply.resize(got);
    return reply;
}

bool Link::accepts(const LinkVariant& variant, const std::vector<uint8_t>& reply) const {
    if (variant.exactReply) return std::equal(variant.accept.begin(), variant.accept.end(), reply.begin());
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
    if (!device_) return Io::Lost;
    const Deadline deadline(timeout);
    uint32_t have = 0;
    for (;;) {
        if (stopRequested()) return Io::Stopped;
        const bool last = deadline.passed();
        if (device_->waitForRx(count, std::min(deadline.left(), kWaitSlice), have) != FtStatus::Ok) return Io::Lost;
        if (queued) *queued = have;
        if (have >= count) return Io::Ok;
        if (last) return Io::Timeout;
    }
}

Io Link::readExact(std::span<uint8_t> out, Millis timeout) {
    const auto size = static_cast<uint32_t>(out.size());
    if (auto io = awaitQueued(size, timeout); io != Io::Ok) return io;
    uint32_t got = 0;
    if (device_->read(out.data(), size, got) != FtStatus::Ok || got != size) return Io::Lost;
    return Io::Ok;
}

Io Link::readByte(uint8_t& byte, Millis timeout) { return readExact(std::span(&byte, 1), timeout); }

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

Io Link::skipTo(uint8_t wanted, Millis timeout) {
    const Deadline deadline(timeout);
    for (;;) {
        uint8_t byte = 0;
        if (Io io = readByte(byte, deadline.left()); io != Io::Ok) return io;
        if (byte == wanted) return Io::Ok;
        if (deadline.passed()) return Io::Timeout;
    }
}

}  // namespace kj
