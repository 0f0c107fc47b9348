#include "sim/sim_bridge.h"

#include <algorithm>

namespace kjsim {

namespace {
constexpr uint8_t kExtraByte = 0x5A;
}

using kj::FtStatus;
using Clock = std::chrono::steady_clock;

// ---- ByteQueue ----

void ByteQueue::push(std::span<const uint8_t> bytes) {
    {
        std::lock_guard lock(mutex_);
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }
    cv_.notify_all();
    if (onPush_) onPush_();
}

bool ByteQueue::pop(uint8_t& byte, const StopFn& stop, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    auto ready = [&] { return !bytes_.empty() || stop(); };
    if (deadline == Clock::time_point::max()) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_until(lock, deadline, ready)) {
        return false;
    }
    if (bytes_.empty()) return false;
    byte = bytes_.front();
    bytes_.pop_front();
    return true;
}

size_t ByteQueue::waitFor(size_t count, const StopFn& stop, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    cv_.wait_until(lock, deadline, [&] { return bytes_.size() >= count || stop(); });
    return bytes_.size();
}

size_t ByteQueue::take(uint8_t* out, size_t max) {
    std::lock_guard lock(mutex_);
    const size_t n = std::min(max, bytes_.size());
    std::copy_n(bytes_.begin(), n, out);
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

size_t ByteQueue::size() const {
    std::lock_guard lock(mutex_);
    return bytes_.size();
}

void ByteQueue::clear() {
    std::lock_guard lock(mutex_);
    bytes_.clear();
}

void ByteQueue::wake() {
    { std::lock_guard lock(mutex_); }
    cv_.notify_all();
}

// ---- FirmwareRunner ----

class FirmwareRunner::QueueWire : public Wire {
public:
    explicit QueueWire(FirmwareRunner& runner) : r_(runner) {}

    uint8_t get() override {
        if (!pending_.empty()) {
            const uint8_t b = pending_.back();
            pending_.pop_back();
            return b;
        }
        uint8_t b = 0;
        if (!r_.fromPc_.pop(b, [this] { return r_.stopping_ || r_.draining_; })) throw WireStopped{};
        return b;
    }

    bool tryGet(uint8_t& byte, Millis timeout) override {
        if (!pending_.empty()) {
            byte = get();
            return true;
        }
        const bool got = r_.fromPc_.pop(
            byte, [this] { return r_.stopping_ || r_.draining_; }, Clock::now() + timeout);
        if (r_.stopping_ || (!got && r_.draining_)) throw WireStopped{};
        return got;
    }

    void unget(uint8_t byte) override { pending_.push_back(byte); }

    void reply(std::span<const uint8_t> bytes) override { replyInPieces(bytes, {}, Millis{0}); }

    void replyInPieces(std::span<const uint8_t> bytes, const std::vector<size_t>& sizes, Millis gap) override {
        Bytes out(bytes.begin(), bytes.end());
        if (!applyFaults(out)) return;
        size_t at = 0;
        for (size_t size : sizes) {
            if (at >= out.size()) break;
            const size_t n = std::min(size, out.size() - at);
            r_.toPc_.push(std::span(out).subspan(at, n));
            at += n;
            // No pause after the last piece: the reply is complete, and the
            // firmware must be ready for the next byte at once.
            if (at < out.size()) pause(gap);
        }
        if (at < out.size()) r_.toPc_.push(std::span(out).subspan(at));
    }

private:
    // False when the reply is not to be sent at all.
    bool applyFaults(Bytes& out) {
        const Faults& f = r_.programmer_->faults;
        ++step_;
        pause(f.replyDelay);
        if (f.hangUpAtStep && step_ == f.hangUpAtStep) hangUp();
        if (f.silentFromStep && step_ >= f.silentFromStep) return false;
        if (f.shortReplyAt == step_ && !out.empty()) out.pop_back();
        if (f.halfReplyAt == step_) out.resize(out.size() / 2);
        if (f.wrongReplyAt == step_ && !out.empty()) out[0] = static_cast<uint8_t>(~out[0]);
        if (f.extraByteAt == step_) out.push_back(kExtraByte);
        if (f.perReply && !f.perReply(step_, out)) hangUp();
        return !out.empty();
    }

    [[noreturn]] void hangUp() {
        r_.hungUp_ = true;
        r_.toPc_.wake();
        throw WireStopped{};
    }

    // Sleeps, but wakes at once when the runner stops.
    void pause(Millis duration) {
        if (duration.count() <= 0) return;
        std::unique_lock lock(r_.stopMutex_);
        r_.stopCv_.wait_for(lock, duration, [this] { return r_.stopping_.load(); });
        if (r_.stopping_) throw WireStopped{};
    }

    FirmwareRunner& r_;
    std::vector<uint8_t> pending_;
    int step_ = 0;
};

FirmwareRunner::FirmwareRunner(std::shared_ptr<Programmer> programmer, ByteQueue& fromPc, ByteQueue& toPc)
    : programmer_(std::move(programmer)), fromPc_(fromPc), toPc_(toPc) {}

FirmwareRunner::~FirmwareRunner() { stop(); }

void FirmwareRunner::start() {
    stop();
    stopping_ = false;
    draining_ = false;
    thread_ = std::thread([this] {
        QueueWire wire(*this);
        try {
            programmer_->run(wire);
        } catch (const WireStopped&) {}
    });
}

void FirmwareRunner::finishAndStop() {
    if (!thread_.joinable()) return;
    draining_ = true;
    fromPc_.wake();
    thread_.join();
}

void FirmwareRunner::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(stopMutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
    fromPc_.wake();
    thread_.join();
}

// ---- SimSlot ----

SimSlot::SimSlot(Kind kind, std::shared_ptr<Programmer> p) : kind_(kind), programmer_(std::move(p)) {}

std::shared_ptr<SimSlot> SimSlot::programmer(std::shared_ptr<Programmer> p) {
    return std::shared_ptr<SimSlot>(new SimSlot(Kind::Programmer, std::move(p)));
}
std::shared_ptr<SimSlot> SimSlot::silent() { return std::shared_ptr<SimSlot>(new SimSlot(Kind::Silent)); }
std::shared_ptr<SimSlot> SimSlot::unopenable(std::string advice) {
    auto slot = std::shared_ptr<SimSlot>(new SimSlot(Kind::Unopenable));
    slot->advice_ = std::move(advice);
    return slot;
}

Bytes SimSlot::written() const {
    std::lock_guard lock(mutex_);
    return written_;
}
std::vector<Bytes> SimSlot::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}
std::vector<std::string> SimSlot::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}
void SimSlot::clearRecord() {
    std::lock_guard lock(mutex_);
    written_.clear();
    writes_.clear();
    calls_.clear();
}
void SimSlot::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}
void SimSlot::recordWrite(const uint8_t* data, uint32_t size) {
    std::lock_guard lock(mutex_);
    written_.insert(written_.end(), data, data + size);
    writes_.emplace_back(data, data + size);
    calls_.push_back("write " + std::to_string(size));
}

// ---- SimDevice ----

namespace {

class SimDevice : public kj::BridgeDevice {
public:
    explicit SimDevice(std::shared_ptr<SimSlot> slot) : slot_(std::move(slot)) {
        if (auto p = slot_->programmerModel()) runner_ = std::make_unique<FirmwareRunner>(p, fromPc_, toPc_);
        toPc_.onPush([slot = slot_.get()] { slot->received(); });
        slot_->open_ = true;
        slot_->record("open");
        if (runner_) runner_->start();
    }
    ~SimDevice() override { close(); }

    FtStatus resetDevice() override {
        if (auto s = check()) return *s;
        slot_->record("reset");
        if (runner_) runner_->stop();
        fromPc_.clear();
        toPc_.clear();
        if (runner_) runner_->start();
        return FtStatus::Ok;
    }
    FtStatus setBaudRate(uint32_t baud) override { return note("baud " + std::to_string(baud)); }
    FtStatus setDataCharacteristics(uint8_t bits, uint8_t stop, uint8_t parity) override {
        return note("data " + std::to_string(bits) + " " + std::to_string(stop) + " " + std::to_string(parity));
    }
    FtStatus setLatencyTimer(uint8_t ms) override { return note("latency " + std::to_string(ms)); }
    FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) override {
        readTimeout_ = Millis(readMs);
        return note("timeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
    }
    FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        written = 0;
        if (auto s = check()) return *s;
        slot_->recordWrite(data, size);
        if (runner_) fromPc_.push(std::span(data, size));
        written = size;
        return FtStatus::Ok;
    }
    FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) override {
        got = 0;
        if (auto s = check()) return *s;
        toPc_.waitFor(size, lost(), Clock::now() + readTimeout_);
        if (auto s = check()) return *s;
        got = static_cast<uint32_t>(toPc_.take(data, size));
        return FtStatus::Ok;
    }
    FtStatus getStatus(kj::QueueStatus& status) override {
        status = {};
        if (auto s = check()) return *s;
        status.rx = static_cast<uint32_t>(toPc_.size());
        return FtStatus::Ok;
    }
    FtStatus getDriverVersion(uint32_t& version) override {
        version = kSimDriverVersion;
        return check().value_or(FtStatus::Ok);
    }
    FtStatus waitForRx(uint32_t count, kj::Millis timeout, uint32_t& queued) override {
        queued = 0;
        if (auto s = check()) return *s;
        queued = static_cast<uint32_t>(toPc_.waitFor(count, lost(), Clock::now() + timeout));
        return check().value_or(FtStatus::Ok);
    }
    FtStatus close() override {
        if (closed_) return FtStatus::InvalidHandle;
        closed_ = true;
        if (runner_) runner_->finishAndStop();
        slot_->open_ = false;
        slot_->record("close");
        return FtStatus::Ok;
    }

private:
    std::optional<FtStatus> check() const {
        if (closed_) return FtStatus::InvalidHandle;
        if (runner_ && runner_->hungUp()) return FtStatus::DeviceLost;
        return std::nullopt;
    }
    ByteQueue::StopFn lost() const {
        return [this] { return runner_ && runner_->hungUp(); };
    }
    FtStatus note(std::string call) {
        if (auto s = check()) return *s;
        slot_->record(std::move(call));
        return FtStatus::Ok;
    }

    std::shared_ptr<SimSlot> slot_;
    ByteQueue fromPc_;
    ByteQueue toPc_;
    std::unique_ptr<FirmwareRunner> runner_;
    Millis readTimeout_{0};
    bool closed_ = false;
};

}  // namespace

// ---- SimBridge ----

FtStatus SimBridge::createDeviceInfoList(uint32_t& count) {
    count = 0;
    if (failList_) return FtStatus::IoError;
    count = static_cast<uint32_t>(slots_.size());
    return FtStatus::Ok;
}

FtStatus SimBridge::open(uint32_t index, std::unique_ptr<kj::BridgeDevice>& device) {
    advice_.clear();
    if (index >= slots_.size()) return FtStatus::DeviceNotFound;
    const auto& slot = slots_[index];
    if (slot->kind() == SimSlot::Kind::Unopenable) advice_ = slot->openAdvice();
    if (slot->kind() == SimSlot::Kind::Unopenable || slot->isOpen()) return FtStatus::DeviceNotOpened;
    device = std::make_unique<SimDevice>(slot);
    return FtStatus::Ok;
}

kj::BridgeFactory bridgesTo(std::shared_ptr<SimSlot> slot) {
    return [slot = std::move(slot)](std::string_view) -> std::unique_ptr<kj::Bridge> {
        return std::make_unique<SimBridge>(std::vector{slot});
    };
}

}  // namespace kjsim
