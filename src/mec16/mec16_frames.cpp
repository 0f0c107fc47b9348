#include "mec16/mec16_frames.h"

#include <algorithm>

#include "common/text.h"

namespace kj::mec16 {

namespace {

constexpr uint32_t kAddressMask = 0xFFFFFF;

// Writes `value` as exactly `digits` upper-case hexadecimal digits at `out`.
template <class It>
It putHex(It out, uint32_t value, int digits) {
    const std::string text = hexUpper(value, digits);
    return std::copy(text.end() - digits, text.end(), out);
}

ReadFrame addressFrame(uint8_t command, uint32_t address) {
    ReadFrame frame{command};
    putHex(frame.begin() + 1, address & kAddressMask, kAddressDigits);
    return frame;
}

}  // namespace

ReadFrame registerReadFrame(uint32_t address) { return addressFrame(kRegisterReadCmd, address); }

ReadFrame readStreamFrame(uint32_t address) { return addressFrame(kReadStreamCmd, address); }

WriteFrame registerWriteFrame(uint32_t address, uint32_t value) {
    WriteFrame frame{kRegisterWriteCmd};
    auto at = putHex(frame.begin() + 1, address & kAddressMask, kAddressDigits);
    putHex(at, value, kValueDigits);
    return frame;
}

std::string valueText(const Value& bytes) {
    return hexUpper(bytes[0], 2) + hexUpper(bytes[1], 2) + " " + hexUpper(bytes[2], 2) + hexUpper(bytes[3], 2) + "h";
}

bool isNoChip(const Value& id) {
    return std::all_of(id.begin(), id.end(), [](uint8_t b) { return b == 0xFF; });
}

bool packetGood(const Packet& packet) { return packet[kPacketData] == kPacketGood; }

Io readRegister(Link& link, uint32_t address, Value& value, Millis timeout) {
    if (Io io = link.send(registerReadFrame(address)); io != Io::Ok) return io;
    std::array<uint8_t, kRegisterReplySize> reply{};
    if (Io io = link.readReply(reply, timeout); io != Io::Ok) return io;
    std::copy_n(reply.begin(), value.size(), value.begin());
    return Io::Ok;
}

Io writeRegister(Link& link, uint32_t address, uint32_t value) {
    if (Io io = link.send(registerWriteFrame(address, value)); io != Io::Ok) return io;
    uint8_t reply = 0;
    if (Io io = link.readByte(reply, link.timeouts.reply); io != Io::Ok) return io;
    return reply == kRegisterWritten ? Io::Ok : Io::Lost;
}

Io readId(Link& link, Value& id) {
    id.fill(0);
    // Two writes of one byte each, as the firmware takes them.
    if (Io io = link.send(kIdPrefix); io != Io::Ok) return io;
    if (Io io = link.send(kIdCmd); io != Io::Ok) return io;
    Value reply{};
    if (Io io = link.readReply(reply, link.timeouts.reply); io != Io::Ok) return io;
    id = reply;
    return Io::Ok;
}

Io startReadStream(Link& link, uint32_t address) { return link.send(readStreamFrame(address)); }

Io receivePacket(Link& link, Packet& packet) { return link.readReply(packet, link.timeouts.reply); }

Io awaitRequest(Link& link) {
    uint8_t request = 0;
    return link.readByte(request, link.timeouts.reply);
}

Io awaitTaken(Link& link) {
    uint8_t answer = 0;
    if (Io io = link.readByte(answer, link.timeouts.reply); io != Io::Ok) return io;
    return answer == kBlockTaken ? Io::Ok : Io::Lost;
}

}  // namespace kj::mec16
