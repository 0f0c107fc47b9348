#include "link/wire_trace.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kj::trace {

namespace {

std::mutex g_mutex;
std::FILE* g_file = nullptr;
std::atomic<bool> g_on{false};
std::chrono::steady_clock::time_point g_start;

// Seconds since the trace started, to the microsecond; g_mutex held.
void writeStamp() {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - g_start).count();
    std::fprintf(g_file, "%6lld.%06lld ", static_cast<long long>(micros / 1000000),
                 static_cast<long long>(micros % 1000000));
}

class TracedDevice : public BridgeDevice {
public:
    TracedDevice(std::unique_ptr<BridgeDevice> inner, std::string port)
        : inner_(std::move(inner)), port_(std::move(port)) {}

    FtStatus resetDevice() override { return inner_->resetDevice(); }
    FtStatus setBaudRate(uint32_t baud) override { return inner_->setBaudRate(baud); }
    FtStatus setDataCharacteristics(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
        return inner_->setDataCharacteristics(bits, stopBits, parity);
    }
    FtStatus setLatencyTimer(uint8_t ms) override { return inner_->setLatencyTimer(ms); }
    FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) override { return inner_->setTimeouts(readMs, writeMs); }
    FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        const FtStatus status = inner_->write(data, size, written);
        bytes(port_, Direction::ToProgrammer, {data, written});
        return status;
    }
    FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) override {
        const FtStatus status = inner_->read(data, size, got);
        bytes(port_, Direction::FromProgrammer, {data, got});
        return status;
    }
    FtStatus getStatus(QueueStatus& status) override { return inner_->getStatus(status); }
    FtStatus getDriverVersion(uint32_t& version) override { return inner_->getDriverVersion(version); }
    FtStatus waitForRx(uint32_t count, Millis timeout, uint32_t& queued) override {
        return inner_->waitForRx(count, timeout, queued);
    }
    FtStatus close() override { return inner_->close(); }

private:
    std::unique_ptr<BridgeDevice> inner_;
    std::string port_;
};

class TracedBridge : public Bridge {
public:
    explicit TracedBridge(std::unique_ptr<Bridge> inner) : inner_(std::move(inner)) {}

    FtStatus createDeviceInfoList(uint32_t& count) override { return inner_->createDeviceInfoList(count); }
    FtStatus open(uint32_t index, std::unique_ptr<BridgeDevice>& device) override {
        const FtStatus status = inner_->open(index, device);
        if (status == FtStatus::Ok && device)
            device = std::make_unique<TracedDevice>(std::move(device), inner_->portName(index));
        return status;
    }
    std::string lastOpenAdvice() const override { return inner_->lastOpenAdvice(); }
    std::string portName(uint32_t index) const override { return inner_->portName(index); }

private:
    std::unique_ptr<Bridge> inner_;
};

}  // namespace

bool start(const std::string& path, std::string& error) {
    std::lock_guard lock(g_mutex);
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (g_file) std::fclose(g_file);
    g_file = file;
    g_start = std::chrono::steady_clock::now();
    std::fprintf(g_file, "# korvel-jig wire trace: seconds, port, -> to the programmer, <- from it; log lines\n");
    std::fflush(g_file);
    g_on = true;
    return true;
}

bool startFromOptions(const std::string& path, std::string& error) {
    if (!path.empty()) return start(path, error);
    const char* variable = std::getenv(kTraceVariable);
    return variable && *variable ? start(variable, error) : true;
}

void stop() {
    std::lock_guard lock(g_mutex);
    g_on = false;
    if (g_file) std::fclose(g_file);
    g_file = nullptr;
}

bool on() { return g_on.load(std::memory_order_relaxed); }

void bytes(std::string_view port, Direction direction, std::span<const uint8_t> data) {
    if (!on() || data.empty()) return;
    std::lock_guard lock(g_mutex);
    if (!g_file) return;
    writeStamp();
    std::fprintf(g_file, "%.*s %s", static_cast<int>(port.size()), port.data(),
                 direction == Direction::ToProgrammer ? "->" : "<-");
    for (const uint8_t byte : data) std::fprintf(g_file, " %02X", byte);
    std::fputc('\n', g_file);
    std::fflush(g_file);  // what a crash or a pulled cable leaves must be in the file
}

void line(std::string_view text) {
    if (!on()) return;
    std::lock_guard lock(g_mutex);
    if (!g_file) return;
    writeStamp();
    std::fprintf(g_file, "log %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(g_file);
}

BridgeFactory traced(BridgeFactory inner) {
    return [inner = std::move(inner)](std::string_view family) -> std::unique_ptr<Bridge> {
        auto bridge = inner(family);
        if (!on() || !bridge) return bridge;
        return std::make_unique<TracedBridge>(std::move(bridge));
    };
}

}  // namespace kj::trace
