// A stand-in for FTDI's ftd2xx.dll, built for the tests only and never
// installed: the simulated bench behind the D2XX calls the program makes.
// KJ_STANDIN_FAMILY names the programmer's firmware ("V41" unless set);
// KJ_STANDIN_FLASH names a flash image for its chip.
#include <cstdlib>
#include <memory>
#include <mutex>

#include "link/d2xx_api.h"
#include "sim/bench.h"
#include "sim/sim_bridge.h"

// The entry points' own names are defined below: only the types come in.
using kj::d2xx::FT_EVENT_RXCHAR;
using kj::d2xx::FT_HANDLE;
using kj::d2xx::FT_OK;
using kj::d2xx::FT_STATUS;

namespace {

constexpr LONG kStandInComPort = 3;
constexpr FT_STATUS kInvalidHandle = static_cast<FT_STATUS>(kj::FtStatus::InvalidHandle);

std::string fromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

kjsim::SimBridge& bench() {
    static const auto bridge = [] {
        kjsim::BenchOptions options;
        options.family = fromEnvironment("KJ_STANDIN_FAMILY", "V41");
        options.flashFile = fromEnvironment("KJ_STANDIN_FLASH", "");
        return kjsim::makeSimBridge(kjsim::makeBench(options));
    }();
    return *bridge;
}

struct Handle {
    std::unique_ptr<kj::BridgeDevice> device;
};

FT_STATUS status(kj::FtStatus s) {
    // DeviceLost has no D2XX value of its own; the library says I/O error.
    return s == kj::FtStatus::DeviceLost ? static_cast<FT_STATUS>(kj::FtStatus::IoError) : static_cast<FT_STATUS>(s);
}

template <typename Call>
FT_STATUS on(FT_HANDLE handle, Call call) {
    auto* h = static_cast<Handle*>(handle);
    if (!h || !h->device) return kInvalidHandle;
    return status(call(*h->device));
}

}  // namespace

#define STANDIN extern "C" __declspec(dllexport) FT_STATUS WINAPI

STANDIN FT_CreateDeviceInfoList(LPDWORD count) {
    uint32_t n = 0;
    const auto s = bench().createDeviceInfoList(n);
    *count = n;
    return status(s);
}

STANDIN FT_Open(int index, FT_HANDLE* handle) {
    auto opened = std::make_unique<Handle>();
    if (auto s = bench().open(static_cast<uint32_t>(index), opened->device); s != kj::FtStatus::Ok) return status(s);
    *handle = opened.release();
    return FT_OK;
}

STANDIN FT_Close(FT_HANDLE handle) {
    auto* h = static_cast<Handle*>(handle);
    if (!h) return kInvalidHandle;
    const auto s = h->device->close();
    bench().devices().front()->onReceive({});
    delete h;
    return status(s);
}

STANDIN FT_ResetDevice(FT_HANDLE handle) {
    return on(handle, [](kj::BridgeDevice& d) { return d.resetDevice(); });
}

// The simulated device has nothing buffered apart from the queue a reset clears.
STANDIN FT_Purge(FT_HANDLE handle, ULONG) {
    return on(handle, [](kj::BridgeDevice&) { return kj::FtStatus::Ok; });
}

STANDIN FT_SetBaudRate(FT_HANDLE handle, ULONG baud) {
    return on(handle, [&](kj::BridgeDevice& d) { return d.setBaudRate(baud); });
}

STANDIN FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR bits, UCHAR stopBits, UCHAR parity) {
    return on(handle, [&](kj::BridgeDevice& d) { return d.setDataCharacteristics(bits, stopBits, parity); });
}

STANDIN FT_SetFlowControl(FT_HANDLE handle, USHORT, UCHAR, UCHAR) {
    return on(handle, [](kj::BridgeDevice&) { return kj::FtStatus::Ok; });
}

STANDIN FT_SetLatencyTimer(FT_HANDLE handle, UCHAR ms) {
    return on(handle, [&](kj::BridgeDevice& d) { return d.setLatencyTimer(ms); });
}

STANDIN FT_SetTimeouts(FT_HANDLE handle, ULONG readMs, ULONG writeMs) {
    return on(handle, [&](kj::BridgeDevice& d) { return d.setTimeouts(readMs, writeMs); });
}

STANDIN FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD size, LPDWORD got) {
    uint32_t n = 0;
    const auto s = on(handle, [&](kj::BridgeDevice& d) { return d.read(static_cast<uint8_t*>(buffer), size, n); });
    *got = n;
    return s;
}

STANDIN FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD size, LPDWORD written) {
    uint32_t n = 0;
    const auto s = on(handle, [&](kj::BridgeDevice& d) { return d.write(static_cast<uint8_t*>(buffer), size, n); });
    *written = n;
    return s;
}

STANDIN FT_GetStatus(FT_HANDLE handle, DWORD* rx, DWORD* tx, DWORD* events) {
    kj::QueueStatus queue;
    const auto s = on(handle, [&](kj::BridgeDevice& d) { return d.getStatus(queue); });
    *rx = queue.rx;
    *tx = queue.tx;
    *events = queue.events;
    return s;
}

STANDIN FT_GetQueueStatus(FT_HANDLE handle, DWORD* rx) {
    DWORD tx = 0, events = 0;
    return ::FT_GetStatus(handle, rx, &tx, &events);
}

STANDIN FT_GetDriverVersion(FT_HANDLE handle, LPDWORD version) {
    uint32_t v = 0;
    const auto s = on(handle, [&](kj::BridgeDevice& d) { return d.getDriverVersion(v); });
    *version = v;
    return s;
}

STANDIN FT_SetEventNotification(FT_HANDLE handle, DWORD mask, PVOID event) {
    if (!handle || mask != FT_EVENT_RXCHAR) return static_cast<FT_STATUS>(kj::FtStatus::InvalidParameter);
    bench().devices().front()->onReceive([event] { ::SetEvent(static_cast<HANDLE>(event)); });
    return FT_OK;
}

STANDIN FT_GetComPortNumber(FT_HANDLE handle, LPLONG port) {
    if (!handle) return kInvalidHandle;
    *port = kStandInComPort;
    return FT_OK;
}
