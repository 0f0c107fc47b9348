// The serial backend against pseudo-terminal pairs: the test holds the master
// end and plays the programmer.
#include "link/serial_bridge.h"

#include "common/image_file.h"

#include <gtest/gtest.h>

#include "support/scratch.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace kj {
static void PrintTo(FtStatus s, std::ostream* os) { *os << toString(s); }
}  // namespace kj

namespace {

using namespace kj;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Far beyond any expected wait: only there to turn a hang into a failure.
constexpr Millis kHangBound{5000};
constexpr double kMaxIdleCpuSeconds = 0.2;

Bytes sequence(size_t n, uint8_t first = 0) {
    Bytes b(n);
    std::iota(b.begin(), b.end(), first);
    return b;
}

template <typename F>
Millis timed(F&& f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration_cast<Millis>(Clock::now() - start);
}

template <typename F>
double cpuSeconds(F&& f) {
    const std::clock_t start = std::clock();
    f();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128];
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
            ::ptsname_r(master_, name, sizeof name) == 0)
            slave_ = name;
    }
    ~Pty() { hangUp(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return !slave_.empty(); }
    const std::string& slave() const { return slave_; }
    int master() const { return master_; }

    void send(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    Bytes receive(size_t n, Millis timeout = kHangBound) {
        Bytes got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < n && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) continue;
            uint8_t buf[4096];
            const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }

    void hangUp() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slave_;
};

using TempDir = kjtest::ScratchDir;

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string readFile(const fs::path& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

// ---------------------------------------------------------------- open device

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok());
        uint32_t count = 0;
        ASSERT_EQ(bridge.createDeviceInfoList(count), FtStatus::Ok);
        ASSERT_EQ(count, 1u);
        ASSERT_EQ(bridge.open(0, device), FtStatus::Ok);
        EXPECT_EQ(bridge.lastOpenAdvice(), "");
    }

    termios line() {
        termios t{};  // a master's termios calls reach the slave's settings
        EXPECT_EQ(::tcgetattr(pty.master(), &t), 0);
        return t;
    }

    Pty pty;
    SerialBridge bridge{std::vector<std::string>{pty.slave()}};
    std::unique_ptr<BridgeDevice> device;
};

TEST_F(SerialPort, OpensRaw921600EightNoneOneWithoutFlowControl) {
    const termios t = line();
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B921600));
    EXPECT_EQ(::cfgetispeed(&t), speed_t(B921600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
}

TEST_F(SerialPort, SetUpCallsSucceedAndChangeTheLine) {
    EXPECT_EQ(device->resetDevice(), FtStatus::Ok);
    EXPECT_EQ(device->setBaudRate(kBaudRate), FtStatus::Ok);
    EXPECT_EQ(device->setDataCharacteristics(kDataBits8, kStopBits1, kParityNone), FtStatus::Ok);
    EXPECT_EQ(device->setLatencyTimer(kLatencyMs), FtStatus::Ok);  // a pty has no latency timer
    EXPECT_EQ(device->setTimeouts(300, 300), FtStatus::Ok);
    uint32_t version = 0;
    EXPECT_EQ(device->getDriverVersion(version), FtStatus::Ok);
    EXPECT_EQ(version, kSerialDriverVersion);

    // A pty forces CS8 and no parity whatever it is asked, so only the
    // speed, the stop bits and the odd/even choice show there.
    constexpr tcflag_t kKept = CSTOPB | PARODD;
    ASSERT_EQ(device->setBaudRate(115200), FtStatus::Ok);
    ASSERT_EQ(device->setDataCharacteristics(7, 2, 1), FtStatus::Ok);
    termios t = line();
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & kKept, tcflag_t(CSTOPB | PARODD));

    ASSERT_EQ(device->setDataCharacteristics(8, 0, 2), FtStatus::Ok);
    t = line();
    EXPECT_EQ(t.c_cflag & kKept, 0u);
    ASSERT_EQ(device->setDataCharacteristics(8, 2, 1), FtStatus::Ok);

    // Refused values leave the line as it was.
    EXPECT_EQ(device->setBaudRate(12345), FtStatus::InvalidParameter);
    EXPECT_EQ(device->setDataCharacteristics(6, 0, 0), FtStatus::InvalidParameter);
    EXPECT_EQ(device->setDataCharacteristics(8, 1, 0), FtStatus::InvalidParameter);
    EXPECT_EQ(device->setDataCharacteristics(8, 0, 3), FtStatus::InvalidParameter);
    t = line();
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & kKept, tcflag_t(CSTOPB | PARODD));
}

TEST_F(SerialPort, EveryByteValuePassesUnchangedBothWays) {
    const Bytes all = sequence(256);
    uint32_t written = 0;
    ASSERT_EQ(device->write(all.data(), 256, written), FtStatus::Ok);
    EXPECT_EQ(written, 256u);
    EXPECT_EQ(pty.receive(256), all);

    pty.send(all);
    uint32_t queued = 0;
    ASSERT_EQ(device->waitForRx(256, kHangBound, queued), FtStatus::Ok);
    EXPECT_EQ(queued, 256u);
    QueueStatus status;
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, 256u);
    EXPECT_EQ(status.tx, 0u);

    Bytes in(256);
    uint32_t got = 0;
    ASSERT_EQ(device->read(in.data(), 256, got), FtStatus::Ok);
    EXPECT_EQ(got, 256u);
    EXPECT_EQ(in, all);
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, 0u);
}

TEST_F(SerialPort, ResetDiscardsQueuedInput) {
    pty.send(sequence(10));
    uint32_t queued = 0;
    ASSERT_EQ(device->waitForRx(10, kHangBound, queued), FtStatus::Ok);
    ASSERT_EQ(device->resetDevice(), FtStatus::Ok);
    QueueStatus status;
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, 0u);
}

TEST_F(SerialPort, ReadReturnsShortAfterItsTimeOut) {
    ASSERT_EQ(device->setTimeouts(200, 0), FtStatus::Ok);
    pty.send({'V', '4', '1'});
    Bytes in(10);
    uint32_t got = 0;
    FtStatus status{};
    const Millis took = timed([&] { status = device->read(in.data(), 10, got); });
    EXPECT_EQ(status, FtStatus::Ok);
    ASSERT_EQ(got, 3u);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + 3), (Bytes{'V', '4', '1'}));
    EXPECT_GE(took, Millis(200));
    EXPECT_LT(took, kHangBound);
}

TEST_F(SerialPort, ReadWithZeroTimeOutNeverBlocks) {
    ASSERT_EQ(device->setTimeouts(0, 0), FtStatus::Ok);
    Bytes in(10);
    uint32_t got = 99;
    FtStatus status{};
    EXPECT_LT(timed([&] { status = device->read(in.data(), 10, got); }), kHangBound);
    EXPECT_EQ(status, FtStatus::Ok);
    EXPECT_EQ(got, 0u);

    pty.send({1, 2, 3});
    uint32_t queued = 0;
    ASSERT_EQ(device->waitForRx(3, kHangBound, queued), FtStatus::Ok);
    EXPECT_LT(timed([&] { status = device->read(in.data(), 10, got); }), kHangBound);
    EXPECT_EQ(status, FtStatus::Ok);
    EXPECT_EQ(got, 3u);
}

TEST_F(SerialPort, WaitForRxEndsOnDataOrTimeOut) {
    uint32_t queued = 99;
    EXPECT_EQ(device->waitForRx(0, Millis(0), queued), FtStatus::Ok);
    EXPECT_EQ(queued, 0u);

    FtStatus status{};
    Millis took = timed([&] { status = device->waitForRx(4, Millis(200), queued); });
    EXPECT_EQ(status, FtStatus::Ok);
    EXPECT_EQ(queued, 0u);
    EXPECT_GE(took, Millis(200));

    pty.send({1, 2});
    ASSERT_EQ(device->waitForRx(2, kHangBound, queued), FtStatus::Ok);
    took = timed([&] { status = device->waitForRx(4, Millis(200), queued); });
    EXPECT_EQ(status, FtStatus::Ok);
    EXPECT_EQ(queued, 2u);
    EXPECT_GE(took, Millis(200));

    pty.send({3, 4});
    took = timed([&] { status = device->waitForRx(4, Millis(60000), queued); });
    EXPECT_EQ(status, FtStatus::Ok);
    EXPECT_EQ(queued, 4u);
    EXPECT_LT(took, kHangBound);
}

TEST_F(SerialPort, ReplyArrivingInPiecesIsCollected) {
    const Bytes reply = sequence(300, 7);
    auto sendInPieces = [&] {
        for (size_t at = 0; at < reply.size(); at += 100) {
            std::this_thread::sleep_for(Millis(30));
            pty.send(Bytes(reply.begin() + at, reply.begin() + at + 100));
        }
    };

    std::thread peer(sendInPieces);
    uint32_t queued = 0;
    const FtStatus waited = device->waitForRx(300, Millis(60000), queued);
    peer.join();
    EXPECT_EQ(waited, FtStatus::Ok);
    EXPECT_EQ(queued, 300u);
    Bytes in(300);
    uint32_t got = 0;
    ASSERT_EQ(device->read(in.data(), 300, got), FtStatus::Ok);
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(in, reply);

    ASSERT_EQ(device->setTimeouts(60000, 0), FtStatus::Ok);
    peer = std::thread(sendInPieces);
    in.assign(300, 0);
    const FtStatus read = device->read(in.data(), 300, got);
    peer.join();
    EXPECT_EQ(read, FtStatus::Ok);
    EXPECT_EQ(got, 300u);
    EXPECT_EQ(in, reply);
}

TEST_F(SerialPort, BytesHeldByTheDeviceAreCountedAndReadFirstInOrder) {
    pty.send({1, 2, 3, 4});
    uint32_t queued = 0;
    ASSERT_EQ(device->waitForRx(4, kHangBound, queued), FtStatus::Ok);
    QueueStatus status;
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, 4u);

    Bytes in(5);
    uint32_t got = 0;
    ASSERT_EQ(device->read(in.data(), 2, got), FtStatus::Ok);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + got), (Bytes{1, 2}));
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, 2u);

    pty.send({5, 6, 7});
    ASSERT_EQ(device->waitForRx(5, kHangBound, queued), FtStatus::Ok);
    EXPECT_EQ(queued, 5u);
    ASSERT_EQ(device->read(in.data(), 5, got), FtStatus::Ok);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + got), (Bytes{3, 4, 5, 6, 7}));

    // A read that outlasts what is held goes on to wait for the rest.
    pty.send({8, 9});
    ASSERT_EQ(device->waitForRx(2, kHangBound, queued), FtStatus::Ok);
    ASSERT_EQ(device->setTimeouts(60000, 0), FtStatus::Ok);
    std::thread peer([&] {
        std::this_thread::sleep_for(Millis(30));
        pty.send({10, 11, 12});
    });
    const FtStatus read = device->read(in.data(), 5, got);
    peer.join();
    EXPECT_EQ(read, FtStatus::Ok);
    EXPECT_EQ(Bytes(in.begin(), in.begin() + got), (Bytes{8, 9, 10, 11, 12}));
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, 0u);
}

// More than the device holds: a wait for it ends by its time-out without
// spinning on what the kernel still has, and the stream comes out whole.
TEST_F(SerialPort, StreamLongerThanTheDeviceHoldsArrivesWhole) {
    Bytes stream(256 * 1024);
    for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i % 251);
    std::thread peer([&] { pty.send(stream); });

    uint32_t queued = 0;
    FtStatus waited{};
    const double cpu = cpuSeconds([&] { waited = device->waitForRx(uint32_t(stream.size()), Millis(1000), queued); });
    EXPECT_EQ(waited, FtStatus::Ok);
    EXPECT_GT(queued, 0u);
    EXPECT_LT(queued, stream.size());
    EXPECT_LT(cpu, kMaxIdleCpuSeconds);
    QueueStatus status;
    ASSERT_EQ(device->getStatus(status), FtStatus::Ok);
    EXPECT_EQ(status.rx, queued);

    Bytes in;
    Bytes piece(700);
    while (in.size() < stream.size()) {
        const auto want = static_cast<uint32_t>(std::min(piece.size(), stream.size() - in.size()));
        ASSERT_EQ(device->waitForRx(want, kHangBound, queued), FtStatus::Ok);
        ASSERT_GE(queued, want);
        uint32_t got = 0;
        ASSERT_EQ(device->read(piece.data(), want, got), FtStatus::Ok);
        ASSERT_EQ(got, want);
        in.insert(in.end(), piece.begin(), piece.begin() + got);
    }
    peer.join();
    EXPECT_EQ(in, stream);
}

// Guards against spinning; says nothing about speed.
TEST_F(SerialPort, WaitingBurnsLittleCpu) {
    uint32_t queued = 0;
    const double silent = cpuSeconds([&] { device->waitForRx(1, Millis(1000), queued); });
    EXPECT_EQ(queued, 0u);
    EXPECT_LT(silent, kMaxIdleCpuSeconds);

    pty.send({0x55});
    ASSERT_EQ(device->waitForRx(1, kHangBound, queued), FtStatus::Ok);
    const double partial = cpuSeconds([&] { device->waitForRx(2, Millis(1000), queued); });
    EXPECT_EQ(queued, 1u);
    EXPECT_LT(partial, kMaxIdleCpuSeconds);
}

TEST_F(SerialPort, WriteGivesUpAfterItsTimeOutWithWhatWentOut) {
    ASSERT_EQ(device->setTimeouts(0, 100), FtStatus::Ok);
    const Bytes big(1 << 20, 0xA5);  // far more than the unread pty can hold
    uint32_t written = 0;
    FtStatus status{};
    const Millis took = timed([&] { status = device->write(big.data(), uint32_t(big.size()), written); });
    EXPECT_EQ(status, FtStatus::Ok);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(took, Millis(100));
    EXPECT_LT(took, kHangBound);
}

TEST_F(SerialPort, HangUpDuringWaitMakesEveryCallDeviceLost) {
    std::thread unplug([&] {
        std::this_thread::sleep_for(Millis(100));
        pty.hangUp();
    });
    uint32_t queued = 0;
    FtStatus status{};
    const Millis took = timed([&] { status = device->waitForRx(1, Millis(60000), queued); });
    unplug.join();
    EXPECT_EQ(status, FtStatus::DeviceLost);
    EXPECT_LT(took, kHangBound);

    ASSERT_EQ(device->setTimeouts(60000, 60000), FtStatus::DeviceLost);
    uint8_t byte = 'B';
    uint32_t n = 0;
    EXPECT_LT(timed([&] { status = device->read(&byte, 1, n); }), kHangBound);
    EXPECT_EQ(status, FtStatus::DeviceLost);
    EXPECT_LT(timed([&] { status = device->write(&byte, 1, n); }), kHangBound);
    EXPECT_EQ(status, FtStatus::DeviceLost);
    QueueStatus q;
    EXPECT_EQ(device->getStatus(q), FtStatus::DeviceLost);
    EXPECT_EQ(device->resetDevice(), FtStatus::DeviceLost);
    EXPECT_EQ(device->setBaudRate(kBaudRate), FtStatus::DeviceLost);
    EXPECT_EQ(device->setDataCharacteristics(kDataBits8, kStopBits1, kParityNone), FtStatus::DeviceLost);
    EXPECT_EQ(device->setLatencyTimer(kLatencyMs), FtStatus::DeviceLost);
    EXPECT_EQ(device->getDriverVersion(n), FtStatus::DeviceLost);

    EXPECT_EQ(device->close(), FtStatus::Ok);
    EXPECT_EQ(device->read(&byte, 1, n), FtStatus::InvalidHandle);
    EXPECT_EQ(device->close(), FtStatus::InvalidHandle);
}

TEST_F(SerialPort, HangUpWhileIdleIsDeviceLostAtTheNextCall) {
    pty.hangUp();
    // The kernel hangs the slave up from a work queue, a moment after the close.
    uint32_t version = 0;
    const auto deadline = std::chrono::steady_clock::now() + kHangBound;
    while (device->getDriverVersion(version) != FtStatus::DeviceLost && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(Millis(5));
    }
    EXPECT_EQ(device->getDriverVersion(version), FtStatus::DeviceLost);
    EXPECT_EQ(device->setTimeouts(0, 0), FtStatus::DeviceLost);
    QueueStatus q;
    EXPECT_EQ(device->getStatus(q), FtStatus::DeviceLost);
    EXPECT_EQ(device->setBaudRate(kBaudRate), FtStatus::DeviceLost);
}

TEST_F(SerialPort, HangUpWithBytesHeldIsDeviceLostAndTheyAreNotServed) {
    pty.send({1, 2, 3, 4});
    uint32_t queued = 0;
    ASSERT_EQ(device->waitForRx(4, kHangBound, queued), FtStatus::Ok);
    std::thread unplug([&] {
        std::this_thread::sleep_for(Millis(100));
        pty.hangUp();
    });
    FtStatus status{};
    const double cpu = cpuSeconds([&] { status = device->waitForRx(10, Millis(60000), queued); });
    unplug.join();
    EXPECT_EQ(status, FtStatus::DeviceLost);
    EXPECT_LT(cpu, kMaxIdleCpuSeconds);

    QueueStatus q;
    EXPECT_EQ(device->getStatus(q), FtStatus::DeviceLost);
    Bytes in(4);
    uint32_t got = 0;
    EXPECT_EQ(device->read(in.data(), 4, got), FtStatus::DeviceLost);
    EXPECT_EQ(got, 0u);
}

TEST_F(SerialPort, HangUpDuringReadIsDeviceLost) {
    ASSERT_EQ(device->setTimeouts(60000, 0), FtStatus::Ok);
    pty.send({1});
    std::thread unplug([&] {
        std::this_thread::sleep_for(Millis(100));
        pty.hangUp();
    });
    Bytes in(10);
    uint32_t got = 0;
    FtStatus status{};
    const Millis took = timed([&] { status = device->read(in.data(), 10, got); });
    unplug.join();
    EXPECT_EQ(status, FtStatus::DeviceLost);
    EXPECT_LT(took, kHangBound);
}

// ---------------------------------------------------------------- opening

TEST(SerialBridgeOpen, ExplicitPortsKeepTheirOrderAndAreHeldExclusively) {
    Pty first;
    Pty second;
    ASSERT_TRUE(first.ok() && second.ok());
    SerialBridge bridge({second.slave(), first.slave()});
    uint32_t count = 0;
    ASSERT_EQ(bridge.createDeviceInfoList(count), FtStatus::Ok);
    ASSERT_EQ(count, 2u);

    std::unique_ptr<BridgeDevice> zero;
    std::unique_ptr<BridgeDevice> one;
    ASSERT_EQ(bridge.open(0, zero), FtStatus::Ok);
    ASSERT_EQ(bridge.open(1, one), FtStatus::Ok);
    const uint8_t a = 'a';
    const uint8_t b = 'b';
    uint32_t written = 0;
    ASSERT_EQ(zero->write(&a, 1, written), FtStatus::Ok);
    ASSERT_EQ(one->write(&b, 1, written), FtStatus::Ok);
    EXPECT_EQ(second.receive(1), Bytes{'a'});
    EXPECT_EQ(first.receive(1), Bytes{'b'});

    std::unique_ptr<BridgeDevice> again;
    EXPECT_EQ(bridge.open(0, again), FtStatus::DeviceNotOpened);
    EXPECT_EQ(bridge.lastOpenAdvice(), "");
    EXPECT_EQ(again, nullptr);
    ASSERT_EQ(zero->close(), FtStatus::Ok);
    EXPECT_EQ(bridge.open(0, again), FtStatus::Ok);
    one.reset();  // the destructor lets go of the port too
    EXPECT_EQ(bridge.open(1, one), FtStatus::Ok);

    EXPECT_EQ(bridge.open(2, again), FtStatus::DeviceNotFound);
}

// A named path that does not exist is not counted, but said; one that is no tty is not opened.
TEST(SerialBridgeOpen, MissingPathAndNonTtyAreNotOpened) {
    TempDir dir;
    const fs::path plain = dir.path() / "plain";
    writeFile(plain, "not a tty");
    const std::string missing = (dir.path() / "ttyUSB9").string();
    SerialBridge bridge({missing, plain.string()});
    uint32_t count = 0;
    ASSERT_EQ(bridge.createDeviceInfoList(count), FtStatus::Ok);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(bridge.lastListAdvice(), std::vector<std::string>{"Port " + missing + " (--port) does not exist."});
    std::unique_ptr<BridgeDevice> device;
    EXPECT_EQ(bridge.open(0, device), FtStatus::DeviceNotOpened);
    EXPECT_EQ(bridge.lastOpenAdvice(), "");
    EXPECT_EQ(bridge.open(1, device), FtStatus::DeviceNotFound);
    EXPECT_EQ(bridge.lastOpenAdvice(), "");
    EXPECT_EQ(device, nullptr);
}

// Advice after the unreadable port, then after a missing one, which is not in the list.
std::string adviceSequence(const std::string& unreadable) {
    SerialBridge bridge({unreadable, "/nonexistent/ttyUSB0"});
    std::unique_ptr<BridgeDevice> device;
    std::string out = toString(bridge.open(0, device));
    out += "|" + bridge.lastOpenAdvice() + "|";
    out += toString(bridge.open(1, device));
    return out + "|" + bridge.lastOpenAdvice();
}

// Root ignores file modes, so as root the opens run in a child that has
// dropped to nobody.
std::string adviceSequenceWithoutPrivileges(const std::string& unreadable) {
    if (::geteuid() != 0) return adviceSequence(unreadable);
    const passwd* nobody = ::getpwnam("nobody");
    int out[2];
    if (!nobody || ::pipe(out) != 0) return "no unprivileged user";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(1);
        const std::string result = adviceSequence(unreadable);
        const bool sent = ::write(out[1], result.data(), result.size()) == ssize_t(result.size());
        ::_exit(sent ? 0 : 1);
    }
    ::close(out[1]);
    std::string result;
    char buf[512];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) result.append(buf, size_t(n));
    ::close(out[0]);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    return result;
}

TEST(SerialBridgeOpen, PermissionDeniedGivesAdviceOnce) {
    std::string path = (fs::temp_directory_path() / "kj-serial-denied-XXXXXX").string();
    const int fd = ::mkstemp(path.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    const std::string got = adviceSequenceWithoutPrivileges(path);
    ::unlink(path.c_str());
    EXPECT_EQ(got, std::string("device not opened|Permission denied on ") + path +
                       ": add yourself to the dialout group (sudo usermod -aG dialout $USER) and log in again."
                       "|device not found|");
}

// ---------------------------------------------------------------- sysfs

class FakeSysfs {
public:
    FakeSysfs() { fs::create_directories(root() / "class/tty/tty0"); }
    fs::path root() const { return dir_.path(); }
    SysfsPaths paths() const { return {root() / "class/tty", root() / "dev"}; }

    // A tty on its own USB device with the given vendor.
    void addUsbTty(const std::string& name, const std::string& vendor, const std::string& usbPort) {
        const fs::path usb = root() / "devices/usb1" / usbPort;
        writeFile(usb / "idVendor", vendor + "\n");
        const fs::path port = usb / (usbPort + ":1.0") / name;
        fs::create_directories(port);
        linkDevice(name, port);
    }
    void addPlatformTty(const std::string& name) {
        const fs::path port = root() / "devices/platform/serial8250" / name;
        fs::create_directories(port);
        linkDevice(name, port);
    }
    void addNode(const std::string& name, const std::string& target) {
        fs::create_directories(root() / "dev");
        fs::create_symlink(target, root() / "dev" / name);
    }

private:
    void linkDevice(const std::string& name, const fs::path& port) {
        fs::create_directories(root() / "class/tty" / name);
        fs::create_directory_symlink(port, root() / "class/tty" / name / "device");
    }
    TempDir dir_;
};

TEST(SerialBridgeList, FindsFtdiPortsInNaturalOrderAndRescans) {
    Pty two;
    Pty ten;
    ASSERT_TRUE(two.ok() && ten.ok());
    FakeSysfs sys;
    sys.addUsbTty("ttyUSB10", "0403", "1-1");
    sys.addUsbTty("ttyUSB2", "0403", "1-2");
    sys.addUsbTty("ttyACM0", "2341", "1-3");
    sys.addPlatformTty("ttyS0");
    sys.addNode("ttyUSB2", two.slave());
    sys.addNode("ttyUSB10", ten.slave());

    const std::string dev = (sys.root() / "dev").string();
    std::vector<std::string> ports;
    ASSERT_TRUE(findFtdiPorts(sys.paths(), ports));
    EXPECT_EQ(ports, (std::vector<std::string>{dev + "/ttyUSB2", dev + "/ttyUSB10"}));

    SerialBridge bridge;
    bridge.setSysfsPaths(sys.paths());
    uint32_t count = 0;
    ASSERT_EQ(bridge.createDeviceInfoList(count), FtStatus::Ok);
    EXPECT_EQ(count, 2u);
    std::unique_ptr<BridgeDevice> device;
    ASSERT_EQ(bridge.open(0, device), FtStatus::Ok);
    const uint8_t byte = 'B';
    uint32_t written = 0;
    ASSERT_EQ(device->write(&byte, 1, written), FtStatus::Ok);
    EXPECT_EQ(two.receive(1), Bytes{'B'});

    sys.addUsbTty("ttyUSB3", "0403", "1-4");
    ASSERT_EQ(bridge.createDeviceInfoList(count), FtStatus::Ok);
    EXPECT_EQ(count, 3u);
    ASSERT_TRUE(findFtdiPorts(sys.paths(), ports));
    EXPECT_EQ(ports, (std::vector<std::string>{dev + "/ttyUSB2", dev + "/ttyUSB3", dev + "/ttyUSB10"}));
}

TEST(SerialBridgeList, MissingSysfsIsAListFailure) {
    TempDir dir;
    SerialBridge bridge;
    bridge.setSysfsPaths({dir.path() / "class/tty", dir.path() / "dev"});
    uint32_t count = 7;
    EXPECT_EQ(bridge.createDeviceInfoList(count), FtStatus::IoError);
    EXPECT_EQ(count, 0u);
}

TEST(SerialBridgeList, NaturalOrderComparesDigitRunsByValue) {
    EXPECT_TRUE(naturalLess("ttyUSB2", "ttyUSB10"));
    EXPECT_FALSE(naturalLess("ttyUSB10", "ttyUSB2"));
    EXPECT_TRUE(naturalLess("ttyACM9", "ttyUSB0"));
    EXPECT_TRUE(naturalLess("ttyUSB1", "ttyUSB1a"));
    EXPECT_NE(naturalLess("ttyUSB01", "ttyUSB1"), naturalLess("ttyUSB1", "ttyUSB01"));
    EXPECT_FALSE(naturalLess("ttyUSB3", "ttyUSB3"));
}

TEST(SerialBridgeLatency, WritesTheSysfsLatencyTimerWhenThereIsOne) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    FakeSysfs sys;
    const fs::path timer = sys.paths().classTty / fs::path(pty.slave()).filename() / "device/latency_timer";
    writeFile(timer, "16\n");
    SerialBridge bridge({pty.slave()});
    bridge.setSysfsPaths(sys.paths());
    std::unique_ptr<BridgeDevice> device;
    ASSERT_EQ(bridge.open(0, device), FtStatus::Ok);
    EXPECT_EQ(device->setLatencyTimer(2), FtStatus::Ok);
    EXPECT_EQ(readFile(timer), "2\n");

    fs::remove(timer);  // falls back to the low-latency flag, which a pty lacks
    EXPECT_EQ(device->setLatencyTimer(2), FtStatus::Ok);
}

// A child process that opens the port its own way and keeps it open until it is
// killed: its PID once the port is open, or -1.
template <typename Open>
pid_t holdInChild(Open open) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        const char byte = open() ? 1 : 0;
        [[maybe_unused]] auto n = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool held = ::read(ready[0], &byte, 1) == 1 && byte == 1;
    ::close(ready[0]);
    if (held) return child;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

// Opening the port while `holder` has it open (the holder is killed after):
// refused, with advice that names the holder by its PID.
void expectBusyWhileHeld(const std::string& port, pid_t holder) {
    SerialBridge bridge({port});
    uint32_t count = 0;
    ASSERT_EQ(bridge.createDeviceInfoList(count), FtStatus::Ok);
    std::unique_ptr<BridgeDevice> device;
    EXPECT_EQ(bridge.open(0, device), FtStatus::DeviceNotOpened);
    const std::string advice = bridge.lastOpenAdvice();
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(advice.rfind("Port " + port + " is busy: ", 0), 0u) << advice;
    EXPECT_NE(advice.find("(PID " + std::to_string(holder) + ")"), std::string::npos) << advice;
}

}  // namespace

// A port another program holds is reported as busy, naming the program; one
// this program holds itself (another window) is skipped without a word.
TEST(SerialBridgeOpen, APortHeldByAnotherProgramIsNamedAsBusy) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const pid_t holder = holdInChild([&] {
        auto* own = new SerialBridge({pty.slave()});  // the child keeps it until it is killed
        uint32_t count = 0;
        std::unique_ptr<BridgeDevice> held;
        return own->createDeviceInfoList(count) == FtStatus::Ok && own->open(0, held) == FtStatus::Ok &&
               held.release() != nullptr;
    });
    ASSERT_GT(holder, 0);
    expectBusyWhileHeld(pty.slave(), holder);
}

// A program that reads the port without any lock (cat < /dev/ttyUSB0) would eat
// the replies: the port is reported busy with that program named, not as a
// programmer that does not answer.
TEST(SerialBridgeOpen, APortReadByAProgramWithoutALockIsNamedAsBusy) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const pid_t reader = holdInChild([&] { return ::open(pty.slave().c_str(), O_RDONLY | O_NOCTTY) >= 0; });
    ASSERT_GT(reader, 0);
    expectBusyWhileHeld(pty.slave(), reader);
    SerialBridge bridge({pty.slave()});
    std::unique_ptr<BridgeDevice> device;
    EXPECT_EQ(bridge.open(0, device), FtStatus::Ok) << "free again once the reader is gone";
}

// An open device names the port it was opened by, and an image is never written
// to that port, by whatever name it is given.
TEST(SerialBridgeOpen, TheOpenPortIsNeverAnImageOutput) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    SerialBridge bridge({pty.slave()});
    std::unique_ptr<BridgeDevice> device;
    ASSERT_EQ(bridge.open(0, device), FtStatus::Ok);
    EXPECT_EQ(device->portPath(), pty.slave());
    TempDir dir;
    const std::string alias = dir.file("jig");
    ASSERT_EQ(::symlink(pty.slave().c_str(), alias.c_str()), 0);
    ImageOutput output;
    output.rules.port = device->portPath();
    EXPECT_FALSE(output.create(alias));
    EXPECT_EQ(output.error(), "is the programmer's port");
}
