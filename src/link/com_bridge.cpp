#include "link/com_bridge.h"

#include <windows.h>
// SetupAPI after windows.h.
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <set>
#include <utility>

#include "common/wide.h"

namespace kj {
namespace {

using Clock = std::chrono::steady_clock;

constexpr Millis kDefaultWriteTimeout{2000};
constexpr DWORD kQueueBytes = 64 * 1024;
constexpr std::wstring_view kFtdiHardwareId = L"VID_0403";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
constexpr DWORD kPurgeAll = PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR;
// A read returns at once by the port's time-outs, but its completion may still
// come a moment later: that moment is not cut short by a zero read time-out.
constexpr Millis kCompletionBound{1000};
// Some drivers (wine's, over a pseudo-terminal) end a wait without any event
// at once; then the wait goes on in pauses this short instead of spinning.
constexpr DWORD kNoEventPauseMs = 1;

// The ports this program holds: another window's port is skipped without a word.
std::mutex g_heldMutex;
std::set<std::string> g_held;
// Ports whose latency advice was logged already.
std::set<std::string> g_advised;

unsigned portNumber(const std::string& name) {
    const auto digits = name.find_first_of("0123456789");
    return digits == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(name.substr(digits)));
}

std::string comPortName(std::string given) {
    const std::string prefix = narrow(kDevicePrefix);
    if (given.starts_with(prefix)) given.erase(0, prefix.size());
    return given;
}

bool isLostError(DWORD err) {
    return err == ERROR_DEVICE_NOT_CONNECTED || err == ERROR_BAD_COMMAND || err == ERROR_GEN_FAILURE ||
           err == ERROR_FILE_NOT_FOUND || err == ERROR_DEVICE_REMOVED;
}

DWORD msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<Millis>(deadline - Clock::now()).count();
    return static_cast<DWORD>(std::clamp<decltype(left)>(left, 0, INFINITE - 1));
}

// One overlapped request at a time per kind, each with its own event.
struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { ::CloseHandle(ov.hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    OVERLAPPED* arm() {
        ::ResetEvent(ov.hEvent);
        return &ov;
    }
};

class ComDevice final : public BridgeDevice {
public:
    ComDevice(HANDLE port, std::string name) : port_(port), name_(std::move(name)) {}
    ~ComDevice() override { release(); }

    FtStatus resetDevice() override {
        if (auto s = known(); s != FtStatus::Ok) return s;
        return ::PurgeComm(port_, kPurgeAll) ? FtStatus::Ok : failure();
    }

    FtStatus setBaudRate(uint32_t baud) override {
        return changeState([&](DCB& dcb) {
            dcb.BaudRate = baud;
            return baud > 0;
        });
    }

    FtStatus setDataCharacteristics(uint8_t bits, uint8_t stopBits, uint8_t parity) override {
        return changeState([&](DCB& dcb) {
            if ((bits != 7 && bits != 8) || (stopBits != 0 && stopBits != 2) || parity > 2) return false;
            dcb.ByteSize = bits;
            dcb.StopBits = stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
            dcb.Parity = parity == 0 ? NOPARITY : (parity == 1 ? ODDPARITY : EVENPARITY);
            dcb.fParity = parity != 0;
            return true;
        });
    }

    FtStatus setLatencyTimer(uint8_t) override { return known(); }

    FtStatus setTimeouts(uint32_t readMs, uint32_t writeMs) override {
        if (auto s = known(); s != FtStatus::Ok) return s;
        readTimeout_ = Millis(readMs);
        writeTimeout_ = writeMs == 0 ? kDefaultWriteTimeout : Millis(writeMs);
        return FtStatus::Ok;
    }

    FtStatus write(const uint8_t* data, uint32_t size, uint32_t& written) override {
        written = 0;
        if (auto s = known(); s != FtStatus::Ok) return s;
        if (!data && size) return FtStatus::InvalidParameter;
        if (size == 0) return FtStatus::Ok;
        DWORD done = 0;
        if (!::WriteFile(port_, data, size, nullptr, writeOv_.arm()) && ::GetLastError() != ERROR_IO_PENDING)
            return failure();
        if (auto s = finish(writeOv_, Clock::now() + writeTimeout_, done); s != FtStatus::Ok) return s;
        written = done;
        return FtStatus::Ok;
    }

    FtStatus read(uint8_t* data, uint32_t size, uint32_t& got) override {
        got = 0;
        if (auto s = known(); s != FtStatus::Ok) return s;
        if (!data && size) return FtStatus::InvalidParameter;
        const auto deadline = Clock::now() + readTimeout_;
        for (;;) {
            DWORD n = 0;
            // The port's time-outs make ReadFile return what is queued at once.
            if (!::ReadFile(port_, data + got, size - got, nullptr, readOv_.arm()) &&
                ::GetLastError() != ERROR_IO_PENDING)
                return failure();
            if (auto s = finish(readOv_, std::max(deadline, Clock::now() + kCompletionBound), n); s != FtStatus::Ok)
                return s;
            got += n;
            // A read may hand out less than is queued: only an empty one waits.
            if (got >= size) return FtStatus::Ok;
            if (n > 0) continue;
            if (Clock::now() >= deadline) return FtStatus::Ok;
            uint32_t queued = 0;
            if (auto s = waitForRx(1, std::chrono::ceil<Millis>(deadline - Clock::now()), queued); s != FtStatus::Ok)
                return s;
            if (queued == 0) return FtStatus::Ok;
        }
    }

    FtStatus getStatus(QueueStatus& status) override {
        status = {};
        if (auto s = known(); s != FtStatus::Ok) return s;
        COMSTAT stat{};
        DWORD errors = 0;
        if (!::ClearCommError(port_, &errors, &stat)) return failure();
        status.rx = stat.cbInQue;
        status.tx = stat.cbOutQue;
        return FtStatus::Ok;
    }

    FtStatus getDriverVersion(uint32_t& version) override {
        if (auto s = known(); s != FtStatus::Ok) return s;
        version = kComDriverVersion;
        return FtStatus::Ok;
    }

    // Sleeps in WaitCommEvent; a wait still pending from an earlier call is
    // waited on again rather than issued twice.
    FtStatus waitForRx(uint32_t count, Millis timeout, uint32_t& queued) override {
        queued = 0;
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            QueueStatus status;
            if (auto s = getStatus(status); s != FtStatus::Ok) return s;
            queued = status.rx;
            if (queued >= count || Clock::now() >= deadline) return FtStatus::Ok;
            if (!eventPending_) {
                events_ = 0;
                if (!::WaitCommEvent(port_, &events_, eventOv_.arm())) {
                    if (::GetLastError() != ERROR_IO_PENDING) return failure();
                    eventPending_ = true;
                    // Bytes that came before the wait began do not signal it.
                    continue;
                }
                if (events_ == 0) ::Sleep(kNoEventPauseMs);
                continue;  // an event was already there
            }
            const DWORD w = ::WaitForSingleObject(eventOv_.ov.hEvent, msUntil(deadline));
            if (w == WAIT_OBJECT_0) {
                eventPending_ = false;
                DWORD ignored = 0;
                // A purge or a mask change ends a wait as aborted: it is looked at again.
                // Waiting for the result: some drivers set the event a moment early.
                if (!::GetOverlappedResult(port_, &eventOv_.ov, &ignored, TRUE) &&
                    ::GetLastError() != ERROR_OPERATION_ABORTED)
                    return failure();
                if (events_ == 0) ::Sleep(kNoEventPauseMs);
            } else if (w != WAIT_TIMEOUT) {
                return failure();
            }
        }
    }

    FtStatus close() override {
        if (port_ == INVALID_HANDLE_VALUE) return FtStatus::InvalidHandle;
        release();
        return FtStatus::Ok;
    }

    FtStatus configure() {
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;  // reads return at once with what is there
        if (!::SetupComm(port_, kQueueBytes, kQueueBytes) || !::SetCommTimeouts(port_, &timeouts) ||
            !::SetCommMask(port_, EV_RXCHAR))
            return failure();
        if (auto s = changeState([](DCB& dcb) {
                dcb.BaudRate = kBaudRate;
                dcb.ByteSize = kDataBits8;
                dcb.StopBits = ONESTOPBIT;
                dcb.Parity = NOPARITY;
                dcb.fBinary = TRUE;
                dcb.fParity = FALSE;
                dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
                dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = FALSE;
                dcb.fDtrControl = DTR_CONTROL_ENABLE;
                dcb.fRtsControl = RTS_CONTROL_ENABLE;
                return true;
            });
            s != FtStatus::Ok)
            return s;
        return ::PurgeComm(port_, kPurgeAll) ? FtStatus::Ok : failure();
    }

private:
    FtStatus known() const {
        if (port_ == INVALID_HANDLE_VALUE) return FtStatus::InvalidHandle;
        return lost_ ? FtStatus::DeviceLost : FtStatus::Ok;
    }

    FtStatus failure() {
        const DWORD err = ::GetLastError();
        if (isLostError(err)) {
            lost_ = true;
            return FtStatus::DeviceLost;
        }
        return err == ERROR_INVALID_HANDLE ? FtStatus::InvalidHandle : FtStatus::IoError;
    }

    // Waits for an overlapped read or write; one that outlives the deadline is
    // cancelled, and what it moved by then still counts.
    FtStatus finish(Overlapped& request, Clock::time_point deadline, DWORD& done) {
        if (::WaitForSingleObject(request.ov.hEvent, msUntil(deadline)) != WAIT_OBJECT_0)
            ::CancelIoEx(port_, &request.ov);
        if (::GetOverlappedResult(port_, &request.ov, &done, TRUE)) return FtStatus::Ok;
        return ::GetLastError() == ERROR_OPERATION_ABORTED ? FtStatus::Ok : failure();
    }

    template <typename Edit>
    FtStatus changeState(Edit edit) {
        if (auto s = known(); s != FtStatus::Ok) return s;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(port_, &dcb)) return failure();
        if (!edit(dcb)) return FtStatus::InvalidParameter;
        return ::SetCommState(port_, &dcb) ? FtStatus::Ok : failure();
    }

    void release() {
        if (port_ == INVALID_HANDLE_VALUE) return;
        // A pending WaitCommEvent ends when the mask is cleared.
        ::SetCommMask(port_, 0);
        if (eventPending_) {
            DWORD ignored = 0;
            ::CancelIoEx(port_, &eventOv_.ov);
            ::GetOverlappedResult(port_, &eventOv_.ov, &ignored, TRUE);
        }
        ::CloseHandle(std::exchange(port_, INVALID_HANDLE_VALUE));
        std::lock_guard lock(g_heldMutex);
        g_held.erase(name_);
    }

    HANDLE port_;
    std::string name_;
    Overlapped readOv_;
    Overlapped writeOv_;
    Overlapped eventOv_;
    DWORD events_ = 0;
    bool eventPending_ = false;
    bool lost_ = false;
    Millis readTimeout_{0};
    Millis writeTimeout_{kDefaultWriteTimeout};
};

std::wstring registryString(HKEY key, const wchar_t* value) {
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    return text;
}

DWORD registryNumber(HKEY key, const wchar_t* value) {
    DWORD number = 0;
    DWORD size = sizeof number;
    DWORD type = 0;
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return number;
}

std::wstring hardwareIds(HDEVINFO set, SP_DEVINFO_DATA& device) {
    wchar_t ids[1024] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                             sizeof ids - 2 * sizeof(wchar_t), nullptr))
        return {};
    return std::wstring(ids, std::size(ids));  // a multi-string: every id, NULs and all
}

// The ports class of SetupAPI: a port's name and FTDI's LatencyTimer are in
// its device parameters.
void addSetupApiPorts(std::vector<ComPort>& ports) {
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        ComPort port;
        port.name = narrow(registryString(key, L"PortName"));
        port.ftdi = hardwareIds(set, device).find(kFtdiHardwareId) != std::wstring::npos;
        port.latencyMs = port.ftdi ? registryNumber(key, L"LatencyTimer") : 0;
        ::RegCloseKey(key);
        if (port.name.starts_with("COM")) ports.push_back(std::move(port));
    }
    ::SetupDiDestroyDeviceInfoList(set);
}

void addSerialCommPorts(std::vector<ComPort>& ports) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    wchar_t value[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(std::size(value));
        if (::RegEnumValueW(key, i, value, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::string name = narrow(registryString(key, value));
        const bool known = std::any_of(ports.begin(), ports.end(), [&](const ComPort& p) { return p.name == name; });
        if (!known && name.starts_with("COM")) ports.push_back({.name = name});
    }
    ::RegCloseKey(key);
}

std::string busyAdvice(const std::string& port) {
    return "Port " + port + " is busy: another program holds it open. Close that program and try again.";
}

}  // namespace

std::vector<ComPort> inLinkOrder(std::vector<ComPort> ports) {
    // Tried first means last in the list.
    std::sort(ports.begin(), ports.end(), [](const ComPort& a, const ComPort& b) {
        if (a.ftdi != b.ftdi) return b.ftdi;
        return portNumber(a.name) > portNumber(b.name);
    });
    return ports;
}

std::vector<ComPort> findComPorts() {
    std::vector<ComPort> ports;
    addSetupApiPorts(ports);
    addSerialCommPorts(ports);
    return inLinkOrder(std::move(ports));
}

std::string latencyAdvice(const ComPort& port) {
    return "The latency timer of " + port.name + " is " + std::to_string(port.latencyMs) +
           " ms; the programmer works faster with " + std::to_string(kLatencyMs) +
           " ms: Device Manager → Ports (COM & LPT) → " + port.name +
           " → Properties → Port Settings → Advanced → Latency Timer.";
}

ComBridge::ComBridge() : scans_(true) {}

ComBridge::ComBridge(std::vector<std::string> ports) : scans_(false) {
    for (auto& name : ports) ports_.push_back({.name = comPortName(std::move(name))});
}

FtStatus ComBridge::createDeviceInfoList(uint32_t& count) {
    if (scans_) {
        ports_ = findComPorts();
        listed_ = true;
    }
    count = static_cast<uint32_t>(ports_.size());
    return FtStatus::Ok;
}

FtStatus ComBridge::open(uint32_t index, std::unique_ptr<BridgeDevice>& device) {
    advice_.clear();
    if (scans_ && !listed_) {
        uint32_t count = 0;
        createDeviceInfoList(count);
    }
    if (index >= ports_.size()) return FtStatus::DeviceNotFound;
    const ComPort& port = ports_[index];
    HANDLE handle = ::CreateFileW(widen(narrow(kDevicePrefix) + port.name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Serial ports are exclusive: another program's handle shows as access denied.
        const bool denied = ::GetLastError() == ERROR_ACCESS_DENIED;
        std::lock_guard lock(g_heldMutex);
        if (denied && !g_held.contains(port.name)) advice_ = busyAdvice(port.name);
        return FtStatus::DeviceNotOpened;
    }
    {
        std::lock_guard lock(g_heldMutex);
        g_held.insert(port.name);
    }
    auto opened = std::make_unique<ComDevice>(handle, port.name);
    if (opened->configure() != FtStatus::Ok) return FtStatus::DeviceNotOpened;
    std::lock_guard lock(g_heldMutex);
    if (port.latencyMs > kLatencyMs && g_advised.insert(port.name).second) advice_ = latencyAdvice(port);
    device = std::move(opened);
    return FtStatus::Ok;
}

}  // namespace kj
