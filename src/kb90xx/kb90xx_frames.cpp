#include "kb90xx/kb90xx_frames.h"

namespace kj::kb90xx {

namespace {
constexpr size_t kChecksumBytes = 4;
}

Io readVersionId(Link& link, uint8_t& id) {
    if (Io io = link.send(kVersionCmd); io != Io::Ok) return io;
    return link.readByte(id, link.timeouts.reply);
}

Io receiveBlock(Link& link, Block& block) { return link.readReply(block, link.timeouts.reply); }

Io awaitRequest(Link& link, Millis timeout) {
    uint8_t request = 0;
    return link.readByte(request, timeout);
}

Io writeBlock(Link& link, const Block& block) {
    if (Io io = link.send(block); io != Io::Ok) return io;
    uint8_t ack = 0;
    return link.readByte(ack, link.timeouts.reply);
}

Io readFlashChecks(Link& link, const std::function<void(int)>& onMark, FlashChecks& checks) {
    if (Io io = link.send(kChecksumCmd); io != Io::Ok) return io;
    for (int mark = 1; mark <= kBlockCount; ++mark) {
        // The programmer sums the whole flash while it sends the marks.
        if (Io io = link.skipTo(kProgressMark, link.timeouts.reply); io != Io::Ok) return io;
        onMark(mark);
    }
    std::array<uint8_t, kChecksumBytes> bytes{};
    if (Io io = link.readReply(bytes, link.timeouts.reply); io != Io::Ok) return io;
    checks.sum = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    checks.crc = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
    return Io::Ok;
}

}  // namespace kj::kb90xx
