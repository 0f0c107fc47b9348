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
#include <functional>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "common/command_line.h"
#include "operation/family.h"
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
    std::string deadCell;  // as given, checked against the family's chips
    bool listFamilies = false;
    bool listChips = false;
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

// A dead cell: "ADDR" on the family's flash, or "CHIP:ADDR" on another of
// its chips. Checked once the family is known, whatever the order of the flags.
void setDeadCell(Options& o) {
    if (o.deadCell.empty()) return;
    const std::string flag = "--dead-cell";
    const size_t colon = o.deadCell.find(':');
    const ChipEntry* chip = colon == std::string::npos ? flashChipOf(o.bench.family)
                                                       : findChip(std::string_view(o.deadCell).substr(0, colon));
    if (!chip || chip->firmware.name != o.bench.family || chip->writableSize == 0)
        throw std::invalid_argument(flag + ": no such flash behind " + o.bench.family + " in \"" + o.deadCell + "\"");
    const std::string address = colon == std::string::npos ? o.deadCell : o.deadCell.substr(colon + 1);
    o.bench.deadCells[std::string(chip->name)] =
        static_cast<size_t>(argumentInRange(flag, address, 0, static_cast<long>(chip->writableSize) - 1));
}

std::string familyNames(std::string_view separator) {
    std::string names;
    for (const Firmware* firmware : firmwares())
        names += (names.empty() ? "" : std::string(separator)) + std::string(firmware->id.name);
    return names;
}

std::string chipList() {
    std::string text;
    for (const ChipEntry* chip : chipEntries()) {
        text += std::string(chip->name) + " " + std::string(chip->firmware.name) + " " +
                (chip->family ? std::string(chip->family->name) : "-") + " " + std::to_string(chip->writableSize) +
                "\n";
    }
    return text;
}

// One command-line option of the server itself: its name, its argument (none
// for a switch), what it does, and how it sets the options. The chips' own
// options follow them in the usage text, from the chips' entries.
struct Flag {
    std::string_view name;
    std::string_view argument;
    std::string_view help;  // lines after the first are indented under it
    void (*apply)(Options& o, const std::string& flag, const std::string& value);
};

constexpr Flag kFlags[] = {
    {"--family", "NAME", "firmware family (default V41; --list-families names them)",
     [](Options& o, const std::string&, const std::string& v) {
         if (!findFirmware(v)) throw std::invalid_argument("unknown family \"" + v + "\"");
         o.bench.family = v;
     }},
    {"--list-families", "", "print the firmware families, one a line",
     [](Options& o, const std::string&, const std::string&) { o.listFamilies = true; }},
    {"--list-chips", "",
     "print the chips, one a line: name, family, the korvel-cli tool\n"
     "that moves its image (- for none), and the bytes a write reaches",
     [](Options& o, const std::string&, const std::string&) { o.listChips = true; }},
    {"--version", "TEXT", "answer to 'B' (\\r, \\n, \\\\ and \\xHH escapes allowed)",
     [](Options& o, const std::string&, const std::string& v) { o.bench.version = unescape(v); }},
    {"--flash", "FILE", "the family's flash, whole, in its chip's own order (default: a test pattern)",
     [](Options& o, const std::string&, const std::string& v) { o.bench.flashFile = v; }},
    {"--link", "PATH", "make a symlink to the port at PATH (removed at exit)",
     [](Options& o, const std::string&, const std::string& v) { o.link = v; }},
    {"--silent-from-step", "N", "send nothing from the N-th reply on",
     [](Options& o, const std::string& f, const std::string& v) {
         o.bench.faults.silentFromStep = positiveArgument(f, v);
     }},
    {"--hang-up-at-step", "N", "hang up the port instead of the N-th reply",
     [](Options& o, const std::string& f, const std::string& v) {
         o.bench.faults.hangUpAtStep = positiveArgument(f, v);
     }},
    {"--no-chip", "", "nothing wired to the programmer",
     [](Options& o, const std::string&, const std::string&) { o.bench.noChip = true; }},
    {"--dead-cell", "[CHIP:]ADDR",
     "a flash cell that keeps its value when programmed: ADDR in the\n"
     "family's flash, or in its CHIP (eeprom); decimal or 0x hexadecimal",
     [](Options& o, const std::string&, const std::string& v) { o.deadCell = v; }},
    {"--pace", "",
     "take as long as a real jig's USB bridge: 921600 baud both ways,\n"
     "replies in 62-byte USB packets as they fill and the rest after\n"
     "the 2 ms latency timer, commands one 1 ms USB frame late",
     [](Options& o, const std::string&, const std::string&) { o.pace = true; }},
    {"--stats", "FILE",
     "with --pace: at exit, write the session's time and the time\n"
     "the link model needs for the same bytes to FILE",
     [](Options& o, const std::string&, const std::string& v) { o.stats = v; }},
    {"--help", "", "this text", [](Options& o, const std::string&, const std::string&) { o.help = true; }},
};

// Every option, the server's own and then the chips', as rows of the command
// line's grammar, and what each one sets.
struct OptionRows {
    std::vector<kj::Option> options;
    std::vector<std::function<void(Options& o, const std::string& value)>> apply;

    std::vector<const kj::Option*> list() const {
        std::vector<const kj::Option*> all;
        for (const auto& option : options) all.push_back(&option);
        return all;
    }
};

OptionRows optionRows() {
    OptionRows rows;
    for (const Flag& flag : kFlags) {
        // -h as well, as every program takes it.
        rows.options.push_back({.name = flag.name,
                                .value = flag.argument,
                                .help = flag.help,
                                .shortName = flag.name == "--help" ? 'h' : '\0'});
        rows.apply.push_back([&flag](Options& o, const std::string& v) { flag.apply(o, std::string(flag.name), v); });
    }
    for (const ChipEntry* chip : chipEntries()) {
        for (const ChipFlag& flag : chip->flags) {
            rows.options.push_back({.name = flag.name, .value = flag.argument, .help = flag.help});
            rows.apply.push_back(
                [&flag](Options& o, const std::string& v) { flag.apply(o.bench, std::string(flag.name), v); });
        }
    }
    return rows;
}

std::string usage() {
    std::string text =
        "usage: korvel-progsim [options]\n"
        "Serves one simulated programmer on a pseudo-terminal until SIGINT or SIGTERM.\n"
        "Families: " +
        familyNames(", ") + "\n\n";
    text += kj::optionLines(optionRows().list());
    return text + "\nPrints \"PORT <slave path>\" once the port is ready.\n";
}

Options parseArgs(int argc, char** argv) {
    const OptionRows rows = optionRows();
    kj::OptionReader reader(std::vector<std::string>(argv + 1, argv + argc));
    reader.allow(rows.list());
    kj::Arguments given;
    Options o;
    try {
        reader.readAll(given);
    } catch (const kj::UsageError& e) {
        throw std::invalid_argument(e.message);
    }
    for (const auto& arg : given.given()) {
        if (!arg.option) throw std::invalid_argument("unexpected argument: " + arg.text);
        rows.apply[static_cast<size_t>(arg.option - rows.options.data())](o, arg.text);
    }
    if (!o.stats.empty() && !o.pace) throw std::invalid_argument("--stats needs --pace");
    setDeadCell(o);
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
    if (options.listFamilies) {
        std::cout << kjsim::familyNames("\n") << "\n";
        return 0;
    }
    if (options.listChips) {
        std::cout << kjsim::chipList();
        return 0;
    }
    try {
        return kjsim::serve(options);
    } catch (const std::exception& e) {
        std::cerr << "korvel-progsim: " << e.what() << "\n";
        return 1;
    }
}
