// korvel-progsim end to end: the built server, a pseudo-terminal and a client
// that uses nothing but POSIX calls.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "operation/family.h"
#include "sim/bench.h"
#include "sim/eeprom_chip.h"
#include "sim/kb90xx_chip.h"
#include "sim/paced_link.h"
#include "support/process.h"
#include "support/scratch.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kjsim::Bytes;

// Only to catch a hang.
constexpr auto kHangBound = std::chrono::seconds(5);
constexpr int kQuietMs = 60;
// A line the program has printed or is about to; an empty one after it: the end.
constexpr std::chrono::milliseconds kLineBound{2000};
// More than the usage text has; past its end each read returns at once.
constexpr int kHelpLines = 200;

int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// korvel-progsim left running beside the test.
class Progsim : public kjtest::Server {
public:
    explicit Progsim(std::vector<std::string> args) : Server(withProgram(std::move(args))) {}
    std::string firstLine() { return readLine(kHangBound); }
    // The pseudo-terminal it serves, from its first line "PORT /dev/pts/N".
    std::string port() {
        const std::string line = firstLine();
        return line.rfind("PORT ", 0) == 0 ? line.substr(5) : std::string();
    }

private:
    static std::vector<std::string> withProgram(std::vector<std::string> args) {
        args.insert(args.begin(), KJ_PROGSIM);
        return args;
    }
};

class Port {
public:
    explicit Port(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ < 0) return;
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ~Port() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    void send(const std::string& text) { ASSERT_EQ(::write(fd_, text.data(), text.size()), ssize_t(text.size())); }
    void flush() { ::tcflush(fd_, TCIOFLUSH); }

    // Up to `count` bytes; stops early at the hang bound, EOF or a hang-up.
    Bytes receive(size_t count, int waitMs = -1) {
        Bytes out;
        const auto deadline = waitMs < 0 ? Clock::now() + kHangBound : Clock::now() + std::chrono::milliseconds(waitMs);
        while (out.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, msLeft(deadline)) <= 0) break;
            uint8_t buf[512];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0) {
                hungUp_ = true;
                break;
            }
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    std::string receiveText(size_t count) {
        const Bytes b = receive(count);
        return std::string(b.begin(), b.end());
    }
    bool hungUp() const { return hungUp_; }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

TEST(SimProgsim, AnswersTheHandshakeOnItsPort) {
    Progsim sim({});
    const std::string port = sim.port();
    ASSERT_FALSE(port.empty());
    {
        Port client(port);
        ASSERT_TRUE(client.isOpen());
        client.send("B");
        EXPECT_EQ(client.receiveText(3), "V41");
    }
    // The port survives the client closing it.
    Port again(port);
    ASSERT_TRUE(again.isOpen());
    again.send("BV");
    EXPECT_EQ(again.receive(4), (Bytes{'V', '4', '1', 0x23}));
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(SimProgsim, ServesTheFlashImageGiven) {
    const fs::path image = fs::temp_directory_path() / ("kj_progsim_" + std::to_string(::getpid()) + ".bin");
    Bytes content(kjsim::kKbFlashSize);
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i / 3);
    std::ofstream(image, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    Progsim sim({"--flash", image.string()});
    Port client(sim.port());
    ASSERT_TRUE(client.isOpen());
    client.send("R");
    EXPECT_EQ(client.receive(256), Bytes(content.begin(), content.begin() + 256));
    client.send("N");
    EXPECT_EQ(client.receive(256), Bytes(content.begin() + 256, content.begin() + 512));
    client.send("X");
    EXPECT_EQ(sim.terminate(), 0);
    fs::remove(image);
}

// Every firmware it has answers the handshake as shipped, behind a link that
// points at the port and goes at exit.
TEST(SimProgsim, ServesEveryFirmwareBehindALinkThatGoesAtExit) {
    for (const kjsim::Firmware* firmware : kjsim::firmwares()) {
        const std::string name(firmware->id.name);
        const fs::path link = fs::temp_directory_path() / ("kj_progsim_link_" + std::to_string(::getpid()) + name);
        Progsim sim({"--link", link.string(), "--family", name});
        const std::string port = sim.port();
        ASSERT_FALSE(port.empty()) << name;
        EXPECT_EQ(fs::read_symlink(link).string(), port);
        Port client(link.string());
        client.send("B");
        EXPECT_EQ(client.receiveText(firmware->version.size()), firmware->version) << name;
        EXPECT_EQ(sim.terminate(), 0);
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link))) << name;
    }
}

TEST(SimProgsim, FlushingThePortResetsTheFirmware) {
    Progsim sim({"--silent-from-step", "2"});
    Port client(sim.port());
    ASSERT_TRUE(client.isOpen());
    client.send("B");
    EXPECT_EQ(client.receiveText(3), "V41");
    client.send("B");
    EXPECT_TRUE(client.receive(1, kQuietMs).empty());
    client.flush();
    client.send("B");
    EXPECT_EQ(client.receiveText(3), "V41");
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(SimProgsim, HangUpClosesThePort) {
    Progsim sim({"--hang-up-at-step", "2"});
    Port client(sim.port());
    ASSERT_TRUE(client.isOpen());
    client.send("B");
    EXPECT_EQ(client.receiveText(3), "V41");
    client.send("V");
    EXPECT_TRUE(client.receive(1).empty());
    EXPECT_TRUE(client.hungUp());
    EXPECT_EQ(sim.terminate(), 0);
}

// The figures korvel-progsim --stats writes, by name.
std::map<std::string, double> readStats(const std::string& path) {
    std::map<std::string, double> stats;
    std::ifstream in(path);
    std::string key;
    for (double value = 0; in >> key >> value;) stats[key] = value;
    return stats;
}

TEST(SimProgsim, PacedLinkCarriesTheSameBytesAndCountsThem) {
    kjtest::ScratchDir dir;
    const std::string statsFile = dir.file("stats");
    Progsim sim({"--pace", "--stats", statsFile});
    Port client(sim.port());
    ASSERT_TRUE(client.isOpen());
    const Bytes flash = kjsim::Kb90xxChip::patternImage();
    client.send("B");
    EXPECT_EQ(client.receiveText(3), "V41");
    client.send("R");
    EXPECT_EQ(client.receive(256), Bytes(flash.begin(), flash.begin() + 256));
    client.send("N");
    EXPECT_EQ(client.receive(256), Bytes(flash.begin() + 256, flash.begin() + 512));
    client.send("X");
    EXPECT_TRUE(client.receive(1, kQuietMs).empty());
    EXPECT_EQ(sim.terminate(), 0);

    const auto stats = readStats(statsFile);
    EXPECT_EQ(stats.at("pc_bytes"), 4);
    EXPECT_EQ(stats.at("chip_bytes"), 3 + 256 + 256);
    EXPECT_GT(stats.at("link_model_seconds"), 0);
    EXPECT_GE(stats.at("session_seconds"), stats.at("link_model_seconds"));
    EXPECT_GE(stats.at("wall_seconds"), stats.at("session_seconds"));
}

// The model's arithmetic on made-up times.
TEST(SimPacedLink, RepliesGoInFullPacketsThenTheRestAfterTheLatencyTimer) {
    using kjsim::LinkModel;
    using std::chrono::microseconds;
    using std::chrono::nanoseconds;
    const kjsim::LinkTiming timing;
    auto line = [&](size_t bytes) { return nanoseconds(bytes * timing.bitsPerByte * 1'000'000'000ULL / timing.baud); };
    LinkModel model(timing);
    const LinkModel::Time t0 = LinkModel::Time() + std::chrono::hours(1);

    model.pcWrote(Bytes{'R'}, t0);
    const LinkModel::Time arrives = t0 + timing.frame + line(1);
    EXPECT_EQ(model.nextDue(), arrives);
    LinkModel::Time reached{};
    EXPECT_TRUE(model.reachedChip(arrives - nanoseconds(1), reached).empty());
    EXPECT_EQ(model.reachedChip(arrives, reached), Bytes{'R'});
    EXPECT_EQ(reached, arrives);

    // Answered a little late by the simulator's clock: the line starts when
    // the command arrived all the same.
    Bytes reply(256);
    for (size_t i = 0; i < reply.size(); ++i) reply[i] = static_cast<uint8_t>(i);
    model.chipSent(reply, reached, reached + microseconds(100));
    const LinkModel::Time tailDue = reached + line(249) + timing.latency;
    auto packets = model.reachedPc(tailDue - nanoseconds(1));
    ASSERT_EQ(packets.size(), 4u);
    for (size_t k = 0; k < packets.size(); ++k) {
        EXPECT_EQ(packets[k].due, reached + line(62 * (k + 1)));
        EXPECT_EQ(packets[k].bytes, Bytes(reply.begin() + 62 * k, reply.begin() + 62 * (k + 1)));
    }
    packets = model.reachedPc(tailDue);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].bytes, Bytes(reply.begin() + 248, reply.end()));
    EXPECT_EQ(model.nextDue(), LinkModel::Time::max());
    EXPECT_EQ(model.stats().model, tailDue - t0);
    EXPECT_EQ(model.stats().session, model.stats().model);

    // The PC's wait counts from the delivery; a reply that comes long after its
    // command is the firmware's delay and counts as neither.
    const LinkModel::Time delivered = tailDue + microseconds(300);
    model.reachedPc(delivered);
    const LinkModel::Time answered = delivered + microseconds(50);
    model.pcWrote(Bytes{'V'}, answered);
    const LinkModel::Time vArrives = answered + timing.frame + line(1);
    model.reachedChip(vArrives, reached);
    const LinkModel::Time late = vArrives + std::chrono::milliseconds(5);
    model.chipSent(Bytes{0x23}, reached, late);
    EXPECT_EQ(model.reachedPc(late + line(1) + timing.latency).size(), 1u);
    const auto stats = model.stats();
    EXPECT_EQ(stats.model, (tailDue - t0) + (vArrives - answered) + (line(1) + timing.latency));
    EXPECT_EQ(stats.session, stats.model + microseconds(50 + 300));
    EXPECT_EQ(stats.wall, late + line(1) + timing.latency - t0);
    EXPECT_EQ(stats.pcBytes, 2u);
    EXPECT_EQ(stats.chipBytes, 257u);

    // A device reset drops what is in flight both ways.
    model.pcWrote(Bytes{'N'}, late + std::chrono::milliseconds(10));
    model.chipSent(reply, late, late + std::chrono::milliseconds(10));
    model.purge();
    EXPECT_EQ(model.nextDue(), LinkModel::Time::max());
    EXPECT_TRUE(model.reachedPc(LinkModel::Time::max()).empty());
    EXPECT_TRUE(model.reachedChip(LinkModel::Time::max(), reached).empty());
}

// --dead-cell reaches the chip named, whatever the flag's place, and its
// address is checked against that chip once the family is known.
TEST(SimProgsim, DeadCellFlagKeepsOneCellThroughAWrite) {
    const Bytes edid = kjsim::builtInPanelEdid();
    Progsim sim({"--dead-cell", "eeprom:0x10", "--family", "V41"});
    Port client(sim.port());
    ASSERT_TRUE(client.isOpen());
    client.send("Ew");
    ASSERT_EQ(client.receiveText(1), ">");
    client.send(std::string(kjsim::kEepromSize, '\0'));
    ASSERT_EQ(client.receiveText(2), "OK");
    client.send("Er");
    Bytes expected(kjsim::kEepromSize, 0x00);
    expected[0x10] = edid[0x10];
    expected.insert(expected.end(), {'O', 'K'});
    EXPECT_EQ(client.receive(expected.size()), expected);
    EXPECT_EQ(sim.terminate(), 0);

    // Past the end of each family's flash, a chip with no flash, no number.
    std::vector<std::vector<std::string>> refused{{"--dead-cell", "keyboard:1"}, {"--dead-cell", "12x"}};
    for (const kjsim::Firmware* firmware : kjsim::firmwares()) {
        if (const kjsim::ChipEntry* flash = kjsim::flashChipOf(firmware->id.name))
            refused.push_back(
                {"--dead-cell", std::to_string(flash->writableSize), "--family", std::string(firmware->id)});
    }
    for (const auto& args : refused) {
        Progsim bad(args);
        EXPECT_EQ(bad.port(), "") << args.back();
        EXPECT_EQ(bad.reap(), 2) << args.back();
    }
}

TEST(SimProgsim, RejectsUnknownOptions) {
    Progsim bad({"--family", "Z80"});
    EXPECT_EQ(bad.port(), "");
    EXPECT_EQ(bad.reap(), 2);
    Progsim statsAlone({"--stats", "/dev/null"});
    EXPECT_EQ(statsAlone.port(), "");
    EXPECT_EQ(statsAlone.reap(), 2);
    Progsim help({"--help"});
    EXPECT_EQ(help.firstLine().rfind("usage: korvel-progsim", 0), 0u);
    std::vector<std::string> flags;
    for (int i = 0; i < kHelpLines; ++i) {
        const std::string line = help.readLine(kLineBound);
        if (line.rfind("  --", 0) == 0) flags.push_back(line.substr(2, line.find(' ', 2) - 2));
    }
    std::vector<std::string_view> expected{"--family", "--dead-cell"};
    for (const kjsim::ChipEntry* chip : kjsim::chipEntries())
        for (const kjsim::ChipFlag& flag : chip->flags) expected.push_back(flag.name);
    for (std::string_view flag : expected) EXPECT_NE(std::find(flags.begin(), flags.end(), flag), flags.end()) << flag;
    EXPECT_EQ(help.reap(), 0);
}

// What scripts enumerate: every firmware, and every chip with the firmware it
// sits behind, the korvel-cli tool that moves its image and the bytes a write
// reaches.
TEST(SimProgsim, ListsTheFirmwaresAndChipsItServes) {
    std::string firmwares;
    for (const kjsim::Firmware* firmware : kjsim::firmwares()) firmwares += std::string(firmware->id) + "\n";
    const auto families = kjtest::runCommand({KJ_PROGSIM, "--list-families"});
    EXPECT_EQ(families.status, 0);
    EXPECT_EQ(families.out, firmwares);

    std::vector<std::string> chips;
    for (const kjsim::ChipEntry* chip : kjsim::chipEntries()) {
        chips.push_back(std::string(chip->name) + " " + std::string(chip->firmware) + " " +
                        (chip->family ? std::string(chip->family->name) : "-") + " " +
                        std::to_string(chip->writableSize));
    }
    const auto listed = kjtest::runCommand({KJ_PROGSIM, "--list-chips"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.lines(), chips);
}

}  // namespace
