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

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "sim/kb90xx_chip.h"
#include "support/process.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kjsim::Bytes;

// Only to catch a hang.
constexpr auto kHangBound = std::chrono::seconds(5);
constexpr int kQuietMs = 60;

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
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                 static_cast<std::streamsize>(content.size()));
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

TEST(SimProgsim, LinkPointsAtThePortAndGoesAtExit) {
    const fs::path link = fs::temp_directory_path() / ("kj_progsim_link_" + std::to_string(::getpid()));
    Progsim sim({"--link", link.string(), "--family", "ITE"});
    const std::string port = sim.port();
    ASSERT_FALSE(port.empty());
    EXPECT_EQ(fs::read_symlink(link).string(), port);
    Port client(link.string());
    client.send("B");
    EXPECT_EQ(client.receiveText(10), "ITE_V2.3\r\n");
    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(link)));
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

TEST(SimProgsim, RejectsUnknownOptions) {
    Progsim bad({"--family", "Z80"});
    EXPECT_EQ(bad.port(), "");
    EXPECT_EQ(bad.reap(), 2);
    Progsim help({"--help"});
    EXPECT_EQ(help.firstLine().rfind("usage: korvel-progsim", 0), 0u);
    EXPECT_EQ(help.reap(), 0);
}

}  // namespace
