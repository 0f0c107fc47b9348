#include "sim/simulated_bridges.h"

#include <iostream>
#include <map>
#include <mutex>
#include <set>

#include "common/connection_base.h"
#include "common/image_file.h"
#include "common/private_files.h"
#include "sim/bench.h"
#include "sim/flash_chip.h"
#include "sim/sim_bridge.h"

namespace kjsim {

namespace {

namespace fs = std::filesystem;

fs::path keptFolder() { return kj::dataFolder() / "simulator"; }

// The chips this run has started afresh, once each; shared by the benches of every window.
struct FreshStart {
    bool wanted = false;
    std::mutex mutex;
    std::set<std::string> done;

    bool firstFor(const std::string& chip) {
        std::lock_guard lock(mutex);
        return wanted && done.insert(chip).second;
    }
};

// A bench whose flash chips are kept in files: loaded when a link opens, and
// stored when it closes if they changed. Only the window or command's own
// thread opens and closes the link.
class KeptBench {
public:
    KeptBench(Bench bench, FreshStart& fresh) : bench_(std::move(bench)) {
        for (auto& [name, chip] : flashChips()) {
            if (fresh.firstFor(name)) store(name, *chip);
        }
    }

    const Bench& bench() const { return bench_; }

    void load() {
        for (auto& [name, chip] : flashChips()) {
            std::string error;
            auto head = kj::readFileHead(kj::utf8Of(fileOf(name)), chip->size() + 1, error);
            if (!head) continue;  // never kept yet
            chip->setFlash(head->bytes);
            kept_[name] = chip->flash();
        }
    }

    void storeChanged() {
        for (auto& [name, chip] : flashChips()) {
            const auto kept = kept_.find(name);
            if (kept == kept_.end() || kept->second != chip->flash()) store(name, *chip);
        }
    }

private:
    static fs::path fileOf(const std::string& chip) { return keptFolder() / (chip + ".bin"); }

    std::map<std::string, FlashChip*> flashChips() const {
        std::map<std::string, FlashChip*> chips;
        for (const auto& chip : bench_.chips)
            if (auto* flash = dynamic_cast<FlashChip*>(chip.model.get())) chips[std::string(chip.entry->name)] = flash;
        return chips;
    }

    // Written whole or not at all; a failure is said and the run goes on.
    void store(const std::string& name, const FlashChip& chip) {
        const Bytes image = chip.flash();
        std::error_code ec;
        kj::ImageOutput out;
        out.rules.forced = false;
        out.privateFile = true;
        if (!kj::makePrivateFolders(keptFolder(), ec)) {
            std::cerr << "simulator: " << kj::fileProblem(kj::utf8Of(keptFolder()), ec.message()) << '\n';
            return;
        }
        if (!out.create(kj::utf8Of(fileOf(name))) || !out.write(image) || !out.finish() || !out.commit()) {
            std::cerr << "simulator: the " << name << " chip is not kept: " << out.error() << '\n';
            return;
        }
        kept_[name] = image;
    }

    Bench bench_;
    std::map<std::string, Bytes> kept_;  // what each chip's file holds, as far as known
};

class KeptDevice : public kj::BridgeDevice {
public:
    KeptDevice(std::unique_ptr<kj::BridgeDevice> device, std::shared_ptr<KeptBench> bench)
        : device_(std::move(device)), bench_(std::move(bench)) {}
    ~KeptDevice() override { close(); }

    kj::FtStatus resetDevice() override { return device_->resetDevice(); }
    kj::FtStatus setBaudRate(uint32_t baud) override { return device_->setBaudRate(baud); }
    kj::FtStatus setDataCharacteristics(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
        return device_->setDataCharacteristics(bits, stopBits, parity);
    }
    kj::FtStatus setLatencyTimer(uint8_t ms) override { return device_->setLatencyTimer(ms); }
    kj::FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) override {
        return device_->setTimeouts(readMs, writeMs);
    }
    kj::FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        return device_->write(data, size, written);
    }
    kj::FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) override { return device_->read(data, size, got); }
    kj::FtStatus getStatus(kj::QueueStatus& status) override { return device_->getStatus(status); }
    kj::FtStatus getDriverVersion(uint32_t& version) override { return device_->getDriverVersion(version); }
    kj::FtStatus waitForRx(uint32_t count, kj::Millis timeout, uint32_t& queued) override {
        return device_->waitForRx(count, timeout, queued);
    }
    // Once the firmware has taken every byte, the chips are as the operation left them.
    kj::FtStatus close() override {
        if (closed_) return kj::FtStatus::InvalidHandle;
        closed_ = true;
        const kj::FtStatus status = device_->close();
        bench_->storeChanged();
        return status;
    }

private:
    std::unique_ptr<kj::BridgeDevice> device_;
    std::shared_ptr<KeptBench> bench_;
    bool closed_ = false;
};

class KeptBridge : public kj::Bridge {
public:
    explicit KeptBridge(std::shared_ptr<KeptBench> bench)
        : bench_(std::move(bench)), bridge_(makeSimBridge(bench_->bench())) {}

    kj::FtStatus createDeviceInfoList(uint32_t& count) override { return bridge_->createDeviceInfoList(count); }
    kj::FtStatus open(uint32_t index, std::unique_ptr<kj::BridgeDevice>& device) override {
        bench_->load();
        std::unique_ptr<kj::BridgeDevice> opened;
        const kj::FtStatus status = bridge_->open(index, opened);
        if (opened) device = std::make_unique<KeptDevice>(std::move(opened), bench_);
        return status;
    }
    std::string lastOpenAdvice() const override { return bridge_->lastOpenAdvice(); }

private:
    std::shared_ptr<KeptBench> bench_;
    std::shared_ptr<SimBridge> bridge_;
};

}  // namespace

kj::BridgeFactory simulatedBridges(bool fresh) {
    auto start = std::make_shared<FreshStart>();
    start->wanted = fresh;
    return [start](std::string_view family) -> std::unique_ptr<kj::Bridge> {
        // Kept as long as the window: what one operation writes, the next one reads back.
        const BenchOptions options{.family = std::string(family)};
        return std::make_unique<KeptBridge>(std::make_shared<KeptBench>(makeBench(options), *start));
    };
}

}  // namespace kjsim
