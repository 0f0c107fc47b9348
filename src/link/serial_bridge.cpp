#include "link/serial_bridge.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kj {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kFtdiVendorId = "0403";
constexpr Millis kDefaultWriteTimeout{2000};
// Bounded like a driver's own receive buffer, so that a flood from a
// confused device cannot grow it without end.
constexpr size_t kRxBufferBytes = 64 * 1024;
// The chip's power-on latency; shorter requests ask for the low-latency mode.
constexpr uint8_t kFtdiDefaultLatencyMs = 16;
constexpr const char* kDefaultPortGroup = "dialout";
constexpr short kHangUpEvents = POLLHUP | POLLERR | POLLNVAL;

bool isLostErrno(int err) { return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE; }

std::optional<speed_t> termiosSpeed(uint32_t baud) {
    switch (baud) {
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        case 1000000: return B1000000;
        case 2000000: return B2000000;
        case 3000000: return B3000000;
        default: return std::nullopt;
    }
}

// Rounded up, so that poll() never returns just before the deadline and
// leaves a loop to spin on a zero time-out.
int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// Received bytes taken off the kernel's queue and not yet read by the caller.
class RxBuffer {
public:
    explicit RxBuffer(size_t capacity) : bytes_(capacity) {}

    size_t size() const { return end_ - begin_; }
    bool full() const { return size() == bytes_.size(); }
    void clear() { begin_ = end_ = 0; }

    size_t take(uint8_t* out, size_t max) {
        const size_t n = std::min(max, size());
        if (n) std::memcpy(out, bytes_.data() + begin_, n);
        begin_ += n;
        if (begin_ == end_) clear();
        return n;
    }

    // Free space at the end, with what is held moved to the front first.
    uint8_t* room(size_t& free) {
        if (begin_ > 0 && end_ == bytes_.size()) {
            std::memmove(bytes_.data(), bytes_.data() + begin_, size());
            end_ -= begin_;
            begin_ = 0;
        }
        free = bytes_.size() - end_;
        return bytes_.data() + end_;
    }
    void added(size_t n) { end_ += n; }

private:
    std::vector<uint8_t> bytes_;
    size_t begin_ = 0;
    size_t end_ = 0;
};

// Received bytes are moved off the kernel's queue into the device's own
// buffer while waiting, so that poll() sleeps until more arrive instead of
// waking at once for bytes already there. The receive-queue count is both.
class SerialDevice final : public BridgeDevice {
public:
    SerialDevice(int fd, std::string port, fs::path latencyFile)
        : fd_(fd), rx_(kRxBufferBytes), port_(std::move(port)), latencyFile_(std::move(latencyFile)) {}
    ~SerialDevice() override { release(); }

    FtStatus resetDevice() override {
        if (auto s = usable(); s != FtStatus::Ok) return s;
        rx_.clear();
        return ::tcflush(fd_, TCIOFLUSH) == 0 ? FtStatus::Ok : failure(errno);
    }

    FtStatus setBaudRate(uint32_t baud) override {
        const auto speed = termiosSpeed(baud);
        return changeTermios(
            [&](termios& t) { return speed && ::cfsetispeed(&t, *speed) == 0 && ::cfsetospeed(&t, *speed) == 0; });
    }

    FtStatus setDataCharacteristics(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
        return changeTermios([&](termios& t) {
            if ((bits != 7 && bits != 8) || (stopBits != 0 && stopBits != 2) || parity > 2) return false;
            t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD);
            t.c_cflag |= bits == 8 ? CS8 : CS7;
            if (stopBits == 2) t.c_cflag |= CSTOPB;
            if (parity != 0) t.c_cflag |= PARENB;
            if (parity == 1) t.c_cflag |= PARODD;
            return true;
        });
    }

    FtStatus setLatencyTimer(uint8_t ms) override {
        if (auto s = usable(); s != FtStatus::Ok) return s;
        if (writeSysfsLatency(ms)) return FtStatus::Ok;
        serial_struct serial{};
        if (::ioctl(fd_, TIOCGSERIAL, &serial) != 0) return latencyFailure(errno);
        if (ms < kFtdiDefaultLatencyMs)
            serial.flags |= ASYNC_LOW_LATENCY;
        else
            serial.flags &= ~ASYNC_LOW_LATENCY;
        if (::ioctl(fd_, TIOCSSERIAL, &serial) != 0) return latencyFailure(errno);
        return FtStatus::Ok;
    }

    FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) override {
        if (auto s = usable(); s != FtStatus::Ok) return s;
        readTimeout_ = Millis(readMs);
        writeTimeout_ = writeMs == 0 ? kDefaultWriteTimeout : Millis(writeMs);
        return FtStatus::Ok;
    }

    // One system call when the kernel takes the frame: a hang-up shows in the
    // write's own result, so there is no probe before it.
    FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        written = 0;
        if (auto s = known(); s != FtStatus::Ok) return s;
        if (!data && size) return FtStatus::InvalidParameter;
        const auto deadline = Clock::now() + writeTimeout_;
        while (written < size) {
            const ssize_t n = ::write(fd_, data + written, size - written);
            if (n > 0) {
                written += static_cast<uint32_t>(n);
                continue;
            }
            if (n == 0) return ioError();
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return failure(errno);
            bool ready = false;
            if (auto s = waitFor(POLLOUT, deadline, ready); s != FtStatus::Ok) return s;
            if (!ready) break;
        }
        return FtStatus::Ok;
    }

    FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) override {
        got = 0;
        if (auto s = usable(); s != FtStatus::Ok) return s;
        if (!data && size) return FtStatus::InvalidParameter;
        got = static_cast<uint32_t>(rx_.take(data, size));
        const auto deadline = Clock::now() + readTimeout_;
        while (got < size) {
            const ssize_t n = ::read(fd_, data + got, size - got);
            if (n > 0) {
                got += static_cast<uint32_t>(n);
                continue;
            }
            // With VMIN 1 and O_NONBLOCK an empty queue is EAGAIN; 0 is the
            // end of file a tty gives after a hang-up.
            if (n == 0) return lose();
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return failure(errno);
            bool ready = false;
            if (auto s = waitFor(POLLIN, deadline, ready); s != FtStatus::Ok) return s;
            if (!ready) break;
        }
        return FtStatus::Ok;
    }

    FtStatus getStatus(QueueStatus& status) override {
        status = {};
        if (auto s = usable(); s != FtStatus::Ok) return s;
        int tx = 0;
        if (auto s = receiveCount(status.rx); s != FtStatus::Ok) return s;
        if (::ioctl(fd_, TIOCOUTQ, &tx) != 0) return failure(errno);
        status.tx = static_cast<uint32_t>(tx);
        return FtStatus::Ok;
    }

    FtStatus getDriverVersion(uint32_t& version) override {
        if (auto s = usable(); s != FtStatus::Ok) return s;
        version = kSerialDriverVersion;
        return FtStatus::Ok;
    }

    // No probe first: the read and the poll() below each see a hang-up.
    FtStatus waitForRx(uint32_t count, Millis timeout, uint32_t& queued) override {
        queued = 0;
        if (auto s = known(); s != FtStatus::Ok) return s;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (auto s = takeQueued(); s != FtStatus::Ok) return s;
            // Only a full buffer leaves bytes behind in the kernel.
            if (!rx_.full())
                queued = static_cast<uint32_t>(rx_.size());
            else if (auto s = receiveCount(queued); s != FtStatus::Ok)
                return s;
            if (queued >= count || Clock::now() >= deadline) return FtStatus::Ok;
            // A full buffer takes no more, so then only a hang-up or the
            // deadline can end the wait.
            bool ready = false;
            if (auto s = waitFor(rx_.full() ? 0 : POLLIN, deadline, ready); s != FtStatus::Ok) return s;
        }
    }

    FtStatus close() override {
        if (fd_ < 0) return FtStatus::InvalidHandle;
        release();
        return FtStatus::Ok;
    }

    std::string portPath() const override { return port_; }

private:
    // What is already known without asking the kernel.
    FtStatus known() const {
        if (fd_ < 0) return FtStatus::InvalidHandle;
        return lost_ ? FtStatus::DeviceLost : FtStatus::Ok;
    }

    // InvalidHandle once closed, DeviceLost once hung up; a hang-up shows in
    // poll() whatever events are asked for, bytes buffered or not.
    FtStatus usable() {
        if (auto s = known(); s != FtStatus::Ok) return s;
        pollfd p{fd_, 0, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & kHangUpEvents)) return lose();
        return FtStatus::Ok;
    }

    FtStatus lose() {
        lost_ = true;
        return FtStatus::DeviceLost;
    }

    FtStatus failure(int err) {
        if (err == EBADF) return FtStatus::InvalidHandle;
        if (isLostErrno(err)) return lose();
        return ioError();
    }

    // An unexpected error may still be a hang-up in disguise; poll() tells.
    FtStatus ioError() {
        const auto s = usable();
        return s == FtStatus::Ok ? FtStatus::IoError : s;
    }

    // Ports without a latency setting at all (pseudo-terminals) are fine.
    FtStatus latencyFailure(int err) { return err == ENOTTY || err == EINVAL ? usable() : failure(err); }

    // Moves what the kernel has queued into the buffer, as far as it has room.
    // A read shorter than asked means the kernel's queue is empty.
    FtStatus takeQueued() {
        for (;;) {
            size_t free = 0;
            uint8_t* room = rx_.room(free);
            if (free == 0) return FtStatus::Ok;
            const ssize_t n = ::read(fd_, room, free);
            if (n > 0) {
                rx_.added(static_cast<size_t>(n));
                if (static_cast<size_t>(n) < free) return FtStatus::Ok;
                continue;
            }
            if (n == 0) return lose();
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return FtStatus::Ok;
            return failure(errno);
        }
    }

    FtStatus receiveCount(uint32_t& rx) {
        int kernel = 0;
        if (::ioctl(fd_, FIONREAD, &kernel) != 0) return failure(errno);
        rx = static_cast<uint32_t>(rx_.size() + static_cast<size_t>(kernel));
        return FtStatus::Ok;
    }

    // `ready` stays false when the deadline passed first.
    FtStatus waitFor(short events, Clock::time_point deadline, bool& ready) {
        for (;;) {
            pollfd p{fd_, events, 0};
            const int n = ::poll(&p, 1, msUntil(deadline));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return failure(errno);
            if (p.revents & kHangUpEvents) return lose();
            ready = n > 0;
            return FtStatus::Ok;
        }
    }

    template <typename Edit>
    FtStatus changeTermios(Edit edit) {
        if (auto s = usable(); s != FtStatus::Ok) return s;
        termios t{};
        if (::tcgetattr(fd_, &t) != 0) return failure(errno);
        if (!edit(t)) return FtStatus::InvalidParameter;
        return ::tcsetattr(fd_, TCSANOW, &t) == 0 ? FtStatus::Ok : failure(errno);
    }

    // Only root may usually write it; everyone else gets the flag instead.
    bool writeSysfsLatency(uint8_t ms) const {
        if (latencyFile_.empty()) return false;
        const int file = ::open(latencyFile_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (file < 0) return false;
        const std::string text = std::to_string(ms) + "\n";
        const bool ok = ::write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(file);
        return ok;
    }

    void release() {
        rx_.clear();
        if (fd_ < 0) return;
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }

    int fd_;
    bool lost_ = false;
    RxBuffer rx_;
    Millis readTimeout_{0};
    Millis writeTimeout_{kDefaultWriteTimeout};
    std::string port_;
    fs::path latencyFile_;
};

// Refuses ports another program holds: TIOCEXCL stops later opens (except
// by root), the lock catches programs that opened it before us.
enum class Claim { Ok, Busy, Failed };

Claim claimPort(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? Claim::Busy : Claim::Failed;
    return ::ioctl(fd, TIOCEXCL) == 0 ? Claim::Ok : Claim::Failed;
}

enum class Holding { Any, Reading };

// Whether the descriptor was opened for reading, by its flags in fdinfo.
bool opensForReading(const fs::path& process, const fs::path& fd) {
    std::ifstream info(process / "fdinfo" / fd.filename());
    for (std::string key; info >> key;) {
        if (key != "flags:") continue;
        unsigned long flags = 0;
        info >> std::oct >> flags;
        return (flags & O_ACCMODE) != O_WRONLY;
    }
    return true;
}

bool holdsOpen(const fs::path& process, const fs::path& device, Holding holding = Holding::Any) {
    std::error_code ec;
    for (fs::directory_iterator fd(process / "fd", ec), end; !ec && fd != end; fd.increment(ec)) {
        std::error_code linkError;
        if (fs::read_symlink(fd->path(), linkError) != device) continue;
        if (holding == Holding::Any || opensForReading(process, fd->path())) return true;
    }
    return false;
}

// Another process that holds the port, as far as this user may look:
// "minicom (PID 1234)"; nothing when none is seen.
std::optional<std::string> otherHolderOf(const fs::path& device, Holding holding = Holding::Any) {
    std::error_code ec;
    const std::string self = std::to_string(::getpid());
    for (fs::directory_iterator proc("/proc", ec), end; !ec && proc != end; proc.increment(ec)) {
        const std::string pid = proc->path().filename().string();
        if (pid == self || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
        if (!holdsOpen(proc->path(), device, holding)) continue;
        std::string command;
        std::ifstream(proc->path() / "comm") >> command;
        return command + " (PID " + pid + ")";
    }
    return std::nullopt;
}

std::string busyLine(const std::string& port, const std::string& holder) {
    return "Port " + port + " is busy: " + holder + " holds it open. Close that program and try again.";
}

// A port this program holds itself (another window's operation) is skipped
// without a word; one that another program holds is named.
std::string busyAdvice(const std::string& port) {
    std::error_code ec;
    const fs::path device = fs::canonical(port, ec);
    if (ec || holdsOpen("/proc/self", device)) return {};
    return busyLine(port, otherHolderOf(device).value_or("another program"));
}

// A program that reads the port without a lock (cat < /dev/ttyUSB0) would eat
// the replies: the port is as busy as a locked one.
std::optional<std::string> unlockedHolderAdvice(const std::string& port) {
    std::error_code ec;
    const fs::path device = fs::canonical(port, ec);
    if (ec) return std::nullopt;
    const auto holder = otherHolderOf(device, Holding::Reading);
    if (!holder) return std::nullopt;
    return busyLine(port, *holder);
}

bool makeRaw8N1(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return false;
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CRTSCTS | CSTOPB);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ::cfsetispeed(&t, B921600) == 0 && ::cfsetospeed(&t, B921600) == 0 && ::tcsetattr(fd, TCSANOW, &t) == 0;
}

fs::path latencyFileFor(const std::string& port, const SysfsPaths& sysfs) {
    std::error_code ec;
    const fs::path device = fs::canonical(port, ec);
    if (ec) return {};
    return sysfs.classTty / device.filename() / "device" / "latency_timer";
}

// The group that owns a serial device node is the one to join; "dialout"
// when the node tells nothing useful.
std::string portGroup(const std::string& port) {
    struct stat st {};
    if (::stat(port.c_str(), &st) != 0 || !S_ISCHR(st.st_mode) || st.st_gid == 0) return kDefaultPortGroup;
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return kDefaultPortGroup;
    return found->gr_name;
}

std::string permissionAdvice(const std::string& port) {
    const std::string group = portGroup(port);
    return "Permission denied on " + port + ": add yourself to the " + group + " group (sudo usermod -aG " + group +
           " $USER) and log in again.";
}

// The nearest ancestor with an idVendor is the USB device the tty hangs off.
bool isFtdiTty(const fs::path& ttyEntry) {
    std::error_code ec;
    fs::path node = fs::canonical(ttyEntry / "device", ec);
    if (ec) return false;
    for (;; node = node.parent_path()) {
        std::ifstream vendorFile(node / "idVendor");
        if (vendorFile) {
            std::string vendor;
            vendorFile >> vendor;
            return vendor == kFtdiVendorId;
        }
        if (node == node.parent_path()) return false;
    }
}

size_t digitRunEnd(const std::string& s, size_t from) {
    while (from < s.size() && std::isdigit(static_cast<unsigned char>(s[from]))) ++from;
    return from;
}

std::string_view withoutLeadingZeros(std::string_view digits) {
    const auto first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

int naturalCompare(const std::string& a, const std::string& b) {
    size_t i = 0;
    size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool digitB = std::isdigit(static_cast<unsigned char>(b[j]));
        if (!digitA || !digitB) {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        const size_t endA = digitRunEnd(a, i);
        const size_t endB = digitRunEnd(b, j);
        const auto numA = withoutLeadingZeros(std::string_view(a).substr(i, endA - i));
        const auto numB = withoutLeadingZeros(std::string_view(b).substr(j, endB - j));
        if (numA.size() != numB.size()) return numA.size() < numB.size() ? -1 : 1;
        if (const int c = numA.compare(numB); c != 0) return c;
        i = endA;
        j = endB;
    }
    const size_t restA = a.size() - i;
    const size_t restB = b.size() - j;
    return restA == restB ? 0 : (restA < restB ? -1 : 1);
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) {
    const int c = naturalCompare(a, b);
    return c != 0 ? c < 0 : a < b;  // "ttyUSB01" and "ttyUSB1" still get a fixed order
}

bool findFtdiPorts(const SysfsPaths& paths, std::vector<std::string>& ports) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(paths.classTty, ec), end; !ec && it != end; it.increment(ec)) {
        if (isFtdiTty(it->path())) names.push_back(it->path().filename().string());
    }
    if (ec) return false;
    std::sort(names.begin(), names.end(), naturalLess);
    ports.clear();
    for (const auto& name : names) ports.push_back((paths.devDir / name).string());
    return true;
}

SerialBridge::SerialBridge() : scansSysfs_(true) {}

SerialBridge::SerialBridge(std::vector<std::string> ports) : scansSysfs_(false), named_(std::move(ports)) {}

// A port named on the command line that is not there is no port found.
void SerialBridge::listNamedPorts() {
    ports_.clear();
    missing_.clear();
    for (const auto& port : named_) {
        std::error_code ec;
        if (fs::exists(port, ec)) {
            ports_.push_back(port);
        } else {
            missing_.push_back("Port " + port + " (--port) does not exist.");
        }
    }
}

void SerialBridge::setSysfsPaths(SysfsPaths paths) { sysfs_ = std::move(paths); }

FtStatus SerialBridge::createDeviceInfoList(uint32_t& count) {
    count = 0;
    if (scansSysfs_) {
        std::vector<std::string> found;
        if (!findFtdiPorts(sysfs_, found)) return FtStatus::IoError;
        ports_ = std::move(found);
    } else {
        listNamedPorts();
    }
    listed_ = true;
    count = static_cast<uint32_t>(ports_.size());
    return FtStatus::Ok;
}

FtStatus SerialBridge::open(uint32_t index, std::unique_ptr<BridgeDevice>& device) {
    advice_.clear();
    if (!listed_) {
        uint32_t count = 0;
        if (auto s = createDeviceInfoList(count); s != FtStatus::Ok) return s;
    }
    if (index >= ports_.size()) return FtStatus::DeviceNotFound;
    const std::string& port = ports_[index];
    const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM) advice_ = permissionAdvice(port);
        if (errno == EBUSY) advice_ = busyAdvice(port);  // held with TIOCEXCL
        return FtStatus::DeviceNotOpened;
    }
    const Claim claim = claimPort(fd);
    if (claim != Claim::Ok || !makeRaw8N1(fd)) {
        ::close(fd);
        if (claim == Claim::Busy) advice_ = busyAdvice(port);
        return FtStatus::DeviceNotOpened;
    }
    if (auto advice = unlockedHolderAdvice(port)) {
        ::close(fd);
        advice_ = std::move(*advice);
        return FtStatus::DeviceNotOpened;
    }
    device = std::make_unique<SerialDevice>(fd, port, latencyFileFor(port, sysfs_));
    return FtStatus::Ok;
}

}  // namespace kj
