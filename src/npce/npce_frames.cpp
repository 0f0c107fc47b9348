#include "npce/npce_frames.h"

#include <algorithm>
#include <vector>

namespace kj::npce {

namespace {
// A command whose two-byte answer comes once the chip has done its work.
Io askSlow(Link& link, uint8_t command, Answer& answer) {
    if (Io io = link.send(command); io != Io::Ok) return io;
    return link.readReply(answer, link.timeouts.slowStep);
}
}  // namespace

bool isFlashId(const IdReply& reply) { return std::equal(kFlashId.begin(), kFlashId.end(), reply.begin()); }

bool readReportGood(const Answer& report) { return report[0] != kReadFailed; }

bool verifyReportGood(const Answer& report) { return report[0] == kDone; }

bool answerGood(const Answer& answer) { return answer[0] == kDone; }

Io identify(Link& link, IdReply& reply) {
    if (Io io = link.send(kIdentifyCmd); io != Io::Ok) return io;
    return link.readReply(reply, link.timeouts.reply);
}

Io sendAndWait(Link& link, uint8_t byte) {
    if (Io io = link.send(byte); io != Io::Ok) return io;
    uint8_t answer = 0;
    const Io io = link.readByte(answer, link.timeouts.reply);
    if (io == Io::Overrun) link.purge();  // what came with the answer belongs to nothing
    return io;
}

Io receiveBlock(Link& link, ReadBlock& block, size_t& received) {
    const Io io = link.readReply(block, link.timeouts.reply);
    received = io == Io::Ok ? kReadBlockSize : 0;
    if (io == Io::Timeout) {
        // What had come by the bound, without waiting again.
        std::vector<uint8_t> part;
        link.readSome(part, kReadBlockSize, Millis{0});
        received = part.size();
    }
    return io;
}

Io endStream(Link& link, Answer& report) {
    if (Io io = link.send(kStreamEndCmd); io != Io::Ok) return io;
    return link.readReply(report, link.timeouts.reply);
}

Io erase(Link& link, Answer& answer) { return askSlow(link, kEraseCmd, answer); }

Io blankCheck(Link& link, Answer& answer) { return askSlow(link, kBlankCheckCmd, answer); }

Io awaitRequest(Link& link, uint8_t& request) { return link.readByte(request, link.timeouts.reply); }

Io sendBlock(Link& link, WriteBlock block) {
    if (Io io = link.send(block); io != Io::Ok) return io;
    return link.drain(link.timeouts.reply);
}

Io awaitStatus(Link& link, uint8_t& status) { return link.readByte(status, link.timeouts.reply); }

}  // namespace kj::npce
