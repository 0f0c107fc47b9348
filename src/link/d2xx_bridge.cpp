#include "link/d2xx_bridge.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <utility>

#include "link/d2xx_api.h"

namespace kj {

using namespace d2xx;

// The library and the entry points the program calls, found once.
class D2xxLibrary {
    HMODULE module_;
    bool complete_ = true;

public:
    explicit D2xxLibrary(HMODULE module) : module_(module) {}
    ~D2xxLibrary() { ::FreeLibrary(module_); }
    D2xxLibrary(const D2xxLibrary&) = delete;
    D2xxLibrary& operator=(const D2xxLibrary&) = delete;

    template <typename Fn>
    Fn* find(const char* name) {
        auto* entry = reinterpret_cast<Fn*>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
        if (!entry) complete_ = false;
        return entry;
    }
    bool complete() const { return complete_; }

    FT_CreateDeviceInfoList* createDeviceInfoList = find<FT_CreateDeviceInfoList>("FT_CreateDeviceInfoList");
    FT_Open* open = find<FT_Open>("FT_Open");
    FT_Close* close = find<FT_Close>("FT_Close");
    FT_ResetDevice* resetDevice = find<FT_ResetDevice>("FT_ResetDevice");
    FT_Purge* purge = find<FT_Purge>("FT_Purge");
    FT_SetBaudRate* setBaudRate = find<FT_SetBaudRate>("FT_SetBaudRate");
    FT_SetDataCharacteristics* setDataCharacteristics = find<FT_SetDataCharacteristics>("FT_SetDataCharacteristics");
    FT_SetFlowControl* setFlowControl = find<FT_SetFlowControl>("FT_SetFlowControl");
    FT_SetLatencyTimer* setLatencyTimer = find<FT_SetLatencyTimer>("FT_SetLatencyTimer");
    FT_SetTimeouts* setTimeouts = find<FT_SetTimeouts>("FT_SetTimeouts");
    FT_Read* read = find<FT_Read>("FT_Read");
    FT_Write* write = find<FT_Write>("FT_Write");
    FT_GetStatus* getStatus = find<FT_GetStatus>("FT_GetStatus");
    FT_GetQueueStatus* getQueueStatus = find<FT_GetQueueStatus>("FT_GetQueueStatus");
    FT_GetDriverVersion* getDriverVersion = find<FT_GetDriverVersion>("FT_GetDriverVersion");
    FT_SetEventNotification* setEventNotification = find<FT_SetEventNotification>("FT_SetEventNotification");
    FT_GetComPortNumber* getComPortNumber = find<FT_GetComPortNumber>("FT_GetComPortNumber");
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kDefaultWriteTimeoutMs = 2000;

// Devices whose COM port was named already.
std::mutex g_namedMutex;
std::set<uint32_t> g_named;

FtStatus statusOf(FT_STATUS s) {
    return s <= static_cast<FT_STATUS>(FtStatus::InvalidParameter) ? static_cast<FtStatus>(s) : FtStatus::IoError;
}

class D2xxDevice final : public BridgeDevice {
public:
    D2xxDevice(std::shared_ptr<const D2xxLibrary> library, FT_HANDLE handle)
        : ft_(std::move(library)), handle_(handle), received_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~D2xxDevice() override { close(); }

    FtStatus resetDevice() override {
        if (auto s = call(ft_->resetDevice); s != FtStatus::Ok) return s;
        return call(ft_->purge, FT_PURGE_RX | FT_PURGE_TX);
    }
    FtStatus setBaudRate(uint32_t baud) override { return call(ft_->setBaudRate, baud); }
    FtStatus setDataCharacteristics(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
        return call(ft_->setDataCharacteristics, bits, stopBits, parity);
    }
    FtStatus setLatencyTimer(uint8_t ms) override { return call(ft_->setLatencyTimer, ms); }
    FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) override {
        // D2XX waits without end on a zero time-out; here zero means "what is queued".
        readMs_ = readMs;
        return call(ft_->setTimeouts, readMs, writeMs == 0 ? kDefaultWriteTimeoutMs : writeMs);
    }
    FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        written = 0;
        DWORD n = 0;
        const auto s = call(ft_->write, const_cast<uint8_t*>(data), size, &n);
        written = n;
        return s;
    }
    FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) override {
        got = 0;
        if (readMs_ == 0) {
            DWORD queued = 0;
            if (auto s = call(ft_->getQueueStatus, &queued); s != FtStatus::Ok) return s;
            size = std::min<uint32_t>(size, queued);
            if (size == 0) return FtStatus::Ok;
        }
        DWORD n = 0;
        const auto s = call(ft_->read, data, size, &n);
        got = n;
        return s;
    }
    FtStatus getStatus(QueueStatus& status) override {
        DWORD rx = 0, tx = 0, events = 0;
        const auto s = call(ft_->getStatus, &rx, &tx, &events);
        status = {rx, tx, events};
        return s;
    }
    FtStatus getDriverVersion(uint32_t& version) override {
        DWORD v = 0;
        const auto s = call(ft_->getDriverVersion, &v);
        version = v;
        return s;
    }
    // The library sets the event when bytes arrive; this only sleeps on it.
    FtStatus waitForRx(uint32_t count, Millis timeout, uint32_t& queued) override {
        queued = 0;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            DWORD rx = 0;
            if (auto s = call(ft_->getQueueStatus, &rx); s != FtStatus::Ok) return s;
            queued = rx;
            const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
            if (queued >= count || left <= 0) return FtStatus::Ok;
            if (::WaitForSingleObject(received_, static_cast<DWORD>(left)) == WAIT_FAILED) return FtStatus::IoError;
        }
    }
    FtStatus close() override {
        if (!handle_) return FtStatus::InvalidHandle;
        const auto s = statusOf(ft_->close(std::exchange(handle_, nullptr)));
        ::CloseHandle(received_);
        return s;
    }

    FtStatus configure() {
        if (!received_) return FtStatus::InsufficientResources;
        for (auto s :
             {call(ft_->setBaudRate, kBaudRate), call(ft_->setDataCharacteristics, kDataBits8, kStopBits1, kParityNone),
              call(ft_->setFlowControl, FT_FLOW_NONE, 0, 0), call(ft_->setLatencyTimer, kLatencyMs),
              call(ft_->setEventNotification, FT_EVENT_RXCHAR, received_)}) {
            if (s != FtStatus::Ok) return s;
        }
        return FtStatus::Ok;
    }

    long comPort() {
        LONG number = -1;
        return call(ft_->getComPortNumber, &number) == FtStatus::Ok ? number : -1;
    }

private:
    template <typename Fn, typename... Args>
    FtStatus call(Fn* fn, Args... args) {
        if (!handle_) return FtStatus::InvalidHandle;
        return statusOf(fn(handle_, args...));
    }

    std::shared_ptr<const D2xxLibrary> ft_;
    FT_HANDLE handle_;
    HANDLE received_;
    uint32_t readMs_ = 0;
};

}  // namespace

std::unique_ptr<D2xxBridge> D2xxBridge::load(const std::wstring& path) {
    HMODULE module = ::LoadLibraryW(path.c_str());
    if (!module) return nullptr;
    auto library = std::make_shared<D2xxLibrary>(module);
    if (!library->complete()) return nullptr;
    return std::unique_ptr<D2xxBridge>(new D2xxBridge(std::move(library)));
}

D2xxBridge::D2xxBridge(std::shared_ptr<const D2xxLibrary> library) : library_(std::move(library)) {}

D2xxBridge::~D2xxBridge() = default;

FtStatus D2xxBridge::createDeviceInfoList(uint32_t& count) {
    DWORD n = 0;
    const auto s = statusOf(library_->createDeviceInfoList(&n));
    count = s == FtStatus::Ok ? n : 0;
    return s;
}

FtStatus D2xxBridge::open(uint32_t index, std::unique_ptr<BridgeDevice>& device) {
    advice_.clear();
    FT_HANDLE handle = nullptr;
    if (auto s = statusOf(library_->open(static_cast<int>(index), &handle)); s != FtStatus::Ok) return s;
    auto opened = std::make_unique<D2xxDevice>(library_, handle);
    if (auto s = opened->configure(); s != FtStatus::Ok) return s;
    const long port = opened->comPort();
    std::lock_guard lock(g_namedMutex);
    if (port >= 0 && g_named.insert(index).second)
        advice_ = "FTDI device " + std::to_string(index) + " is COM" + std::to_string(port) + ".";
    device = std::move(opened);
    return FtStatus::Ok;
}

}  // namespace kj
