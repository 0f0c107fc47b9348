#include "kb90xx/kb90xx_frames.h"

#include <algorithm>

namespace kj::kb90xx {

namespace {
constexpr size_t kChecksumBytes = 4;
// The marks and the check bytes come in one stream; strays followed by this much
// quiet are the check bytes of a stream whose marks will never all come.
constexpr Millis kQuietAfterStrays{500};
}  // namespace

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
    // The programmer sums the whole flash while it sends the marks; a stray byte
    // among them does not count. A garbled mark leaves the count short for good,
    // and the check bytes come as strays: a line that falls quiet after strays is
    // that protocol error, told without waiting out the reply time-out.
    int strays = 0;
    for (int mark = 1; mark <= kBlockCount;) {
        std::vector<uint8_t> byte;
        const Io io =
            link.readSome(byte, 1, strays > 0 ? std::min(kQuietAfterStrays, link.timeouts.reply) : link.timeouts.reply);
        if (io == Io::Timeout && strays > 0) return Io::Unexpected;
        if (io != Io::Ok) return io;
        if (byte.empty() || byte.front() != kProgressMark) {
            ++strays;
            continue;
        }
        strays = 0;
        onMark(mark++);
    }
    std::array<uint8_t, kChecksumBytes> bytes{};
    if (Io io = link.readReply(bytes, link.timeouts.reply); io != Io::Ok) return io;
    checks.sum = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    checks.crc = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
    return Io::Ok;
}

}  // namespace kj::kb90xx
