#include "ite/ite_frames.h"

namespace kj::ite {

namespace {

// One request in one write, and its one-byte reply.
Io request(Link& link, std::span<const uint8_t> bytes, uint8_t& reply, Millis timeout) {
    if (Io io = link.send(bytes); io != Io::Ok) return io;
    return link.readByte(reply, timeout);
}

Answer exchange(Link& link, std::span<const uint8_t> bytes, uint8_t good, Millis timeout) {
    uint8_t reply = 0;
    const Io io = request(link, bytes, reply, timeout);
    return {.io = io, .accepted = io == Io::Ok && reply == good};
}

Answer exchange(Link& link, uint8_t command, uint8_t good, Millis timeout) {
    return exchange(link, std::span(&command, 1), good, timeout);
}

}  // namespace

std::array<uint8_t, 3> routingFrame(std::array<uint8_t, 2> code, uint8_t pin) { return {code[0], code[1], pin}; }

std::array<uint8_t, 4> addressFrame(uint32_t address) {
    return {kAddressCmd, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address)};
}

std::array<uint8_t, 2> dataFrame(uint8_t byte) { return {kDataCmd, byte}; }

Answer enterSettings(Link& link) { return exchange(link, kSettingsCmd, kSettingsReady, link.timeouts.reply); }

Answer sendRouting(Link& link, std::array<uint8_t, 2> code, uint8_t pin) {
    return exchange(link, routingFrame(code, pin), kRoutingTaken, link.timeouts.reply);
}

Answer leaveSettings(Link& link) { return exchange(link, kSettingsEnd, kRoutingTaken, link.timeouts.reply); }

Answer checkController(Link& link, Millis timeout) { return exchange(link, kControllerCmd, kDone, timeout); }

Io selectRegister(Link& link, uint8_t reg, uint8_t& reply) {
    const std::array<uint8_t, 2> frame{kSelectCmd, reg};
    return request(link, frame, reply, link.timeouts.reply);
}

Io readRegister(Link& link, uint8_t& value) {
    return request(link, std::span(&kReadRegisterCmd, 1), value, link.timeouts.reply);
}

Answer writeRegister(Link& link, uint8_t reg, uint8_t value) {
    const std::array<uint8_t, 2> select{kSelectCmd, reg};
    if (Answer a = exchange(link, select, kDone, link.timeouts.reply); !a.ok()) return a;
    const std::array<uint8_t, 2> write{kValueCmd, value};
    return exchange(link, write, kDone, link.timeouts.reply);
}

Answer readBlock(Link& link, std::span<uint8_t, kBlockReplySize> reply) {
    if (Io io = link.send(kBlockCmd); io != Io::Ok) return {.io = io};
    const Io io = link.readReply(reply, link.timeouts.reply);
    return {.io = io, .accepted = io == Io::Ok && reply.back() == kDone};
}

Answer setFlashAddress(Link& link, uint32_t address, Millis timeout) {
    return exchange(link, addressFrame(address), kDone, timeout);
}

Answer writeFlashByte(Link& link, uint8_t byte, Millis timeout) {
    return exchange(link, dataFrame(byte), kDone, timeout);
}

}  // namespace kj::ite
