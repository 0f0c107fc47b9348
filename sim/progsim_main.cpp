// korvel-progsim: one simulated programmer served on a pseudo-terminal, so that
// the program and the CLI can be tried end to end without the jig.
//
// The slave side stays open here as well, so the port survives clients closing
// and reopening it. The master runs in packet mode: a client flushing the port
// (as a device reset does) restarts the firmware loop, like a real reset.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "sim/bench.h"
#include "sim/paced_link.h"
#include "sim/sim_bridge.h"

namespace kjsim {
namespace {

constexpr size_t kChunk = 4096;
// Raised by the output pump when the firmware hangs up; the main thread takes
// it with the stop signals.
constexpr int kHangUpSignal = SIGUSR1;

struct Options {
    BenchOptions bench;
    std::string link;
    bool pace = false;
    std::string stats;
    bool help = false;
};

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

int positive(const std::string& flag, const std::string& value) {
    try {
        size_t used = 0;
        const int n = std::stoi(value, &used);
        if (used == value.size() && n > 0) return n;
    } catch (const std::exception&) {}
    throw std::invalid_argument(flag + " needs a positive number, not \"" + value + "\"");
}

long inRange(const std::string& flag, const std::string& value, long min, long max) {
    try {
        size_t used = 0;
        const long n = std::stol(value, &used, 0);
        if (used == value.size() && n >= min && n <= max) return n;
    } catch (const std::exception&) {}
    throw std::invalid_argument(flag + " needs a number from " + std::to_string(min) + " to " + std::to_string(max) +
                                ", not \"" + value + "\"");
}

// Three or four bytes in hexadecimal; a fourth left out stays as it was.
void parseNpceId(const std::string& value, std::array<uint8_t, 4>& id) {
    const bool hex = std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isxdigit(c); });
    if (!hex || (value.size() != 6 && value.size() != 8))
        throw std::invalid_argument("--npce-id needs 3 or 4 bytes in hexadecimal, not \"" + value + "\"");
    for (size_t i = 0; i < value.size() / 2; ++i)
        id[i] = static_cast<uint8_t>(std::stoi(value.substr(2 * i, 2), nullptr, 16));
}

// One command-line option: its name, its argument (none for a switch), what it
// does, and how it sets the options. The usage text is made from these rows.
struct Flag {
    std::string_view name;
    std::string_view argument;
    std::string_view help;  // lines after the first are indented under it
    void (*apply)(Options& o, const std::string& flag, const std::string& value);
};

constexpr Flag kFlags[] = {
    {"--family", "V41|V42|ITE|NPCE", "firmware family (default V41)",
     [](Options& o, const std::string&, const std::string& v) {
         bool ok = false;
         o.bench.family = familyByName(v, ok);
         if (!ok) throw std::invalid_argument("unknown family \"" + v + "\"");
     }},
    {"--version", "TEXT", "answer to 'B' (\\r, \\n, \\\\ and \\xHH escapes allowed)",
     [](Options& o, const std::string&, const std::string& v) { o.bench.version = unescape(v); }},
    {"--flash", "FILE", "the flash image: KB90xx, ITE, NPCE, or MEC16 MAIN then INFO (default: a test pattern)",
     [](Options& o, const std::string&, const std::string& v) { o.bench.flashFile = v; }},
    {"--eeprom", "FILE", "EDID EEPROM image (default: a built-in panel EDID)",
     [](Options& o, const std::string&, const std::string& v) { o.bench.eepromFile = v; }},
    {"--link", "PATH", "make a symlink to the port at PATH (removed at exit)",
     [](Options& o, const std::string&, const std::string& v) { o.link = v; }},
    {"--silent-from-step", "N", "send nothing from the N-th reply on",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.faults.silentFromStep = positive(f, v); }},
    {"--hang-up-at-step", "N", "hang up the port instead of the N-th reply",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.faults.hangUpAtStep = positive(f, v); }},
    {"--no-chip", "", "nothing wired to the programmer",
     [](Options& o, const std::string&, const std::string&) { o.bench.noChip = true; }},
    {"--pace", "",
     "take as long as a real jig's USB bridge: 921600 baud both ways,\n"
     "replies in 62-byte USB packets as they fill and the rest after\n"
     "the 2 ms latency timer, commands one 1 ms USB frame late",
     [](Options& o, const std::string&, const std::string&) { o.pace = true; }},
    {"--stats", "FILE",
     "with --pace: at exit, write the session's time and the time\n"
     "the link model needs for the same bytes to FILE",
     [](Options& o, const std::string&, const std::string& v) { o.stats = v; }},
    {"--mec-lost-frame", "N", "MEC16: the N-th register frame of an operation goes unanswered",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.mec16.lostFrameAt = positive(f, v); }},
    {"--mec-bad-packet", "N", "MEC16: the N-th read packet of an operation has a bad status",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.mec16.badPacketAt = positive(f, v); }},
    {"--mec-refuse-block", "N", "MEC16: write block N is answered 'E' instead of 'G'",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.mec16.refusedBlockAt = positive(f, v); }},
    {"--mec-fwp", "", "MEC16: the nFWP pin holds write protection",
     [](Options& o, const std::string&, const std::string&) { o.bench.mec16.fwp = true; }},
    {"--mec-boot-lock", "", "MEC16: Boot_Lock is set",
     [](Options& o, const std::string&, const std::string&) { o.bench.mec16.bootLock = true; }},
    {"--mec-busy-reads", "N", "MEC16: status reads that report an erase still running (default 3)",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.mec16.busyReads = positive(f, v); }},
    {"--ite-refuse-register-write", "N", "ITE: refuse the N-th register write after 'T'",
     [](Options& o, const std::string& f, const std::string& v) {
         o.bench.ite.refuseRegisterWriteAt = positive(f, v);
     }},
    {"--ite-bad-block", "N", "ITE: a bad status for the N-th block of a read",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.ite.badBlockAt = positive(f, v); }},
    {"--ite-no-data-ack", "N", "ITE: no answer to the N-th data frame after 'T'",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.ite.noDataAckAt = positive(f, v); }},
    {"--npce-id", "HEX", "NPCE: the answer to 'Z', 3 or 4 bytes (default EF401217)",
     [](Options& o, const std::string&, const std::string& v) { parseNpceId(v, o.bench.npce.id); }},
    {"--npce-erase-fails", "", "NPCE: 'e' answers 0",
     [](Options& o, const std::string&, const std::string&) { o.bench.npce.eraseFails = true; }},
    {"--npce-blank-check-fails", "", "NPCE: 'x' answers 0",
     [](Options& o, const std::string&, const std::string&) { o.bench.npce.blankCheckFails = true; }},
    {"--npce-bad-request", "N", "NPCE: write block N is asked for with '?' instead of '*'",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.npce.badRequestAtBlock = positive(f, v); }},
    {"--npce-failed-block", "N", "NPCE: write block N gets status 0",
     [](Options& o, const std::string& f, const std::string& v) { o.bench.npce.failedBlock = positive(f, v); }},
    {"--npce-corrupt-byte", "N", "NPCE: flash byte N (from 0) is programmed with a bit wrong",
     [](Options& o, const std::string& f, const std::string& v) {
         o.bench.npce.corruptByteAt = inRange(f, v, 0, static_cast<long>(kNpceFlashSize) - 1);
     }},
    {"--npce-end-report", "BYTE", "NPCE: the first byte of every end report (default 1)",
     [](Options& o, const std::string& f, const std::string& v) {
         o.bench.npce.endReportFirst = static_cast<int>(inRange(f, v, 0, 255));
     }},
    {"--help", "", "this text", [](Options& o, const std::string&, const std::string&) { o.help = true; }},
};

std::string usage() {
    constexpr size_t kHelpColumn = 29;
    std::string text =
        "usage: korvel-progsim [options]\n"
        "Serves one simulated programmer on a pseudo-terminal until SIGINT or SIGTERM.\n\n";
    for (const Flag& flag : kFlags) {
        std::string head = "  " + std::string(flag.name);
        if (!flag.argument.empty()) head += " " + std::string(flag.argument);
        head.resize(std::max(head.size() + 1, kHelpColumn), ' ');
        std::string help(flag.help);
        for (size_t at = 0; (at = help.find('\n', at)) != std::string::npos; at += kHelpColumn + 1)
            help.insert(at + 1, kHelpColumn, ' ');
        text += head + help + "\n";
    }
    return text + "\nPrints \"PORT <slave path>\" once the port is ready.\n";
}

Options parseArgs(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] == std::string("-h") ? "--help" : argv[i];
        const auto flag =
            std::find_if(std::begin(kFlags), std::end(kFlags), [&](const Flag& f) { return f.name == arg; });
        if (flag == std::end(kFlags)) throw std::invalid_argument("unknown option \"" + arg + "\"");
        std::string value;
        if (!flag->argument.empty()) {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            value = argv[++i];
        }
        flag->apply(o, arg, value);
    }
    if (!o.stats.empty() && !o.pace) throw std::invalid_argument("--stats needs --pace");
    return o;
}

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// The pty pair and the two pumps between its master and the firmware. Paced,
// the output pump also hands the PC's bytes to the firmware, each when the
// link model says it arrives.
class PtyServer {
public:
    PtyServer(std::shared_ptr<Programmer> programmer, bool pace) : runner_(std::move(programmer), fromPc_, toPc_) {
        if (pace) pace_.emplace();
    }
    ~PtyServer() {
        stop();
        closePty();
    }

    void open() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0) throw systemError("posix_openpt");
        if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw systemError("grantpt");
        const char* name = ::ptsname(master_);
        if (!name) throw systemError("ptsname");
        slavePath_ = name;
        // Write-only: it never reads the client's bytes, and the client does not take it for one that does.
        slave_ = ::open(slavePath_.c_str(), O_WRONLY | O_NOCTTY);
        if (slave_ < 0) throw systemError("open " + slavePath_);
        termios tio{};
        if (::tcgetattr(slave_, &tio) != 0) throw systemError("tcgetattr");
        ::cfmakeraw(&tio);
        if (::tcsetattr(slave_, TCSANOW, &tio) != 0) throw systemError("tcsetattr");
        int on = 1;
        if (::ioctl(master_, TIOCPKT, &on) != 0) throw systemError("TIOCPKT");
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (::pipe(wake_) != 0) throw systemError("pipe");
    }

    const std::string& slavePath() const { return slavePath_; }

    void start() {
        stopping_ = false;
        runner_.start();
        input_ = std::thread([this] { pumpInput(); });
        output_ = pace_ ? std::thread([this] { pumpPaced(); }) : std::thread([this] { pumpOutput(); });
    }

    LinkModel::Stats paceStats() {
        std::lock_guard lock(paceMutex_);
        return pace_ ? pace_->stats() : LinkModel::Stats{};
    }

    void stop() {
        if (!input_.joinable()) return;
        stopping_ = true;
        const uint8_t byte = 1;
        [[maybe_unused]] auto n = ::write(wake_[1], &byte, 1);
        toPc_.wake();
        input_.join();
        output_.join();
        runner_.stop();
    }

    // The client sees a hang-up once the master is gone.
    void closePty() {
        for (int* fd : {&master_, &slave_, &wake_[0], &wake_[1]}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

private:
    void pumpInput() {
        uint8_t buf[kChunk + 1];
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN | POLLPRI, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            // Paced, what the PC wrote just before a stop still counts in the session.
            const bool lastInput = pace_ && (fds[0].revents & (POLLIN | POLLPRI));
            if ((fds[1].revents || stopping_) && !lastInput) return;
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) {
                std::cerr << "korvel-progsim: port read failed: " << std::strerror(errno) << "\n";
                return;
            }
            if (buf[0] == TIOCPKT_DATA) {
                fromPcSeen(std::span<const uint8_t>(buf + 1, static_cast<size_t>(n - 1)));
            } else if (buf[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) {
                resetFirmware();
            }
        }
    }

    void pumpOutput() {
        uint8_t buf[kChunk];
        for (;;) {
            const auto quit = [this] { return stopping_.load() || runner_.hungUp(); };
            toPc_.waitFor(1, quit, ByteQueue::Clock::now() + std::chrono::hours(1));
            if (stopping_) return;
            if (runner_.hungUp()) {
                ::kill(::getpid(), kHangUpSignal);
                return;
            }
            std::lock_guard lock(ioMutex_);
            const size_t n = toPc_.take(buf, sizeof buf);
            if (!writeAll(buf, n)) return;
        }
    }

    void fromPcSeen(std::span<const uint8_t> bytes) {
        if (!pace_) {
            fromPc_.push(bytes);
            return;
        }
        {
            std::lock_guard lock(paceMutex_);
            pace_->pcWrote(bytes, LinkModel::Clock::now());
        }
        paceWake_ = true;
        toPc_.wake();
    }

    void pumpPaced() {
        // The default timer slack lets a timed wait end up to 50 us late: as
        // much as a PC may spend on a whole exchange.
        ::prctl(PR_SET_TIMERSLACK, 1UL);
        for (;;) {
            paceWake_ = false;
            const auto quit = [this] { return stopping_.load() || runner_.hungUp() || paceWake_.load(); };
            toPc_.waitFor(1, quit, nextPaceDue());
            if (stopping_) return;
            if (runner_.hungUp()) {
                ::kill(::getpid(), kHangUpSignal);
                return;
            }
            if (!paceStep()) return;
        }
    }

    ByteQueue::Clock::time_point nextPaceDue() {
        const auto idle = ByteQueue::Clock::now() + std::chrono::hours(1);
        std::lock_guard lock(paceMutex_);
        return std::min(pace_->nextDue(), idle);
    }

    // Takes what the firmware answered and moves every byte that is due.
    bool paceStep() {
        std::lock_guard io(ioMutex_);
        const auto now = LinkModel::Clock::now();
        Bytes answer(toPc_.size());
        answer.resize(toPc_.take(answer.data(), answer.size()));
        Bytes toFirmware;
        std::vector<LinkModel::Packet> toPc;
        {
            std::lock_guard lock(paceMutex_);
            pace_->chipSent(answer, reachedChip_, now);
            toFirmware = pace_->reachedChip(now, reachedChip_);
            toPc = pace_->reachedPc(now);
        }
        if (!toFirmware.empty()) fromPc_.push(toFirmware);
        for (const auto& packet : toPc) {
            if (!writeAll(packet.bytes.data(), packet.bytes.size())) return false;
        }
        return true;
    }

    bool writeAll(const uint8_t* data, size_t size) {
        while (size > 0) {
            const ssize_t n = ::write(master_, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            // The client is not reading: wait for room, or for the stop.
            pollfd fds[2] = {{master_, POLLOUT, 0}, {wake_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
            if (fds[1].revents || stopping_) return false;
        }
        return true;
    }

    // A device reset: the firmware loop starts afresh and nothing stale survives.
    void resetFirmware() {
        std::lock_guard lock(ioMutex_);
        runner_.stop();
        fromPc_.clear();
        toPc_.clear();
        if (pace_) {
            std::lock_guard lock(paceMutex_);
            pace_->purge();
        }
        if (!runner_.hungUp()) runner_.start();
    }

    ByteQueue fromPc_;
    ByteQueue toPc_;
    FirmwareRunner runner_;
    std::mutex ioMutex_;
    std::atomic<bool> stopping_{false};
    // Paced only. The model is shared with the input pump; taken after ioMutex_.
    std::optional<LinkModel> pace_;
    std::mutex paceMutex_;
    std::atomic<bool> paceWake_{false};
    LinkModel::Time reachedChip_{};
    std::thread input_;
    std::thread output_;
    int master_ = -1;
    int slave_ = -1;
    int wake_[2] = {-1, -1};
    std::string slavePath_;
};

void makeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) throw std::runtime_error(link + " exists and is not a symlink");
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) throw systemError("symlink " + link);
}

sigset_t awaitedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, kHangUpSignal);
    return set;
}

// Before any thread starts, so that only the main thread's sigwait takes them.
void blockAwaitedSignals() {
    const sigset_t set = awaitedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

// Blocks until SIGINT, SIGTERM or a hang-up; true for a hang-up.
bool waitForHangUpOrStop() {
    const sigset_t set = awaitedSignals();
    int sig = 0;
    return ::sigwait(&set, &sig) == 0 && sig == kHangUpSignal;
}

double seconds(LinkModel::Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void writeStats(const std::string& path, const LinkModel::Stats& stats) {
    std::ofstream out(path);
    out << std::fixed << std::setprecision(6) << "session_seconds " << seconds(stats.session) << "\n"
        << "link_model_seconds " << seconds(stats.model) << "\n"
        << "wall_seconds " << seconds(stats.wall) << "\n"
        << "pc_bytes " << stats.pcBytes << "\n"
        << "chip_bytes " << stats.chipBytes << "\n";
    out.close();
    if (!out) throw systemError("write " + path);
}

int serve(const Options& options) {
    blockAwaitedSignals();
    const Bench bench = makeBench(options.bench);
    PtyServer server(bench.programmer, options.pace);
    server.open();
    server.start();
    if (!options.link.empty()) makeLink(options.link, server.slavePath());
    std::cout << "PORT " << server.slavePath() << std::endl;

    while (waitForHangUpOrStop()) {
        server.stop();
        server.closePty();
        if (!options.link.empty()) ::unlink(options.link.c_str());
        std::cerr << "korvel-progsim: hung up" << std::endl;
    }
    server.stop();
    server.closePty();
    if (!options.link.empty()) ::unlink(options.link.c_str());
    if (!options.stats.empty()) writeStats(options.stats, server.paceStats());
    return 0;
}

}  // namespace
}  // namespace kjsim

int main(int argc, char** argv) {
    kjsim::Options options;
    try {
        options = kjsim::parseArgs(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "korvel-progsim: " << e.what() << "\n" << kjsim::usage();
        return 2;
    }
    if (options.help) {
        std::cout << kjsim::usage();
        return 0;
    }
    try {
        return kjsim::serve(options);
    } catch (const std::exception& e) {
        std::cerr << "korvel-progsim: " << e.what() << "\n";
        return 1;
    }
}
