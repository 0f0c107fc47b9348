// The bridge on Linux: the kernel's ftdi_sio tty (/dev/ttyUSBn), driven with
// termios and poll(). Ports are found in sysfs or given by path.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "link/bridge.h"

namespace kj {

// What getDriverVersion() reports. The kernel driver has no version a program
// can read, so this is the backend's own: 1.00.00 in the 0x00MMmmbb layout.
inline constexpr uint32_t kSerialDriverVersion = 0x00010000;

// Where ports and their latency timers are looked up; tests point these at a
// tree of their own.
struct SysfsPaths {
    std::filesystem::path classTty = "/sys/class/tty";
    std::filesystem::path devDir = "/dev";
};

// Device paths of the ttys whose USB device has vendor 0403, in natural
// order of their names (ttyUSB2 before ttyUSB10). False if classTty cannot
// be listed.
bool findFtdiPorts(const SysfsPaths& paths, std::vector<std::string>& ports);

// "ttyUSB2" < "ttyUSB10": digit runs compare by value.
bool naturalLess(const std::string& a, const std::string& b);

// Devices opened here are raw 921600 8N1 without flow control, held
// exclusively. Semantics follow the interface, with these details:
// - read() waits up to the read time-out; write() waits up to the write
//   time-out (0 means 2 s) for room and then returns Ok with the count it got
//   out, which the caller compares with the size. Nothing waits for the
//   written bytes to leave.
// - waitForRx() moves received bytes into the device's own buffer and sleeps
//   in poll() until more arrive; getStatus() counts that buffer in rx, and
//   read() serves it first.
// - After a hang-up (unplug) every call returns DeviceLost at once; close()
//   still releases the port and returns Ok.
// - setLatencyTimer() writes the port's sysfs latency_timer when that is
//   writable, else sets ASYNC_LOW_LATENCY; ports with neither (pseudo-
//   terminals) report Ok.
class SerialBridge : public Bridge {
public:
    // The FTDI ports in sysfs, listed afresh by every createDeviceInfoList().
    SerialBridge();
    // These paths, index 0 first: each list holds those of them that exist.
    explicit SerialBridge(std::vector<std::string> ports);

    void setSysfsPaths(SysfsPaths paths);

    FtStatus createDeviceInfoList(uint32_t& count) override;
    // Index into the last list; fails with DeviceNotOpened when the port
    // cannot be opened, is held by another program or is not a tty.
    FtStatus open(uint32_t index, std::unique_ptr<BridgeDevice>& device) override;
    std::string lastOpenAdvice() const override { return advice_; }
    std::string portName(uint32_t index) const override {
        return index < ports_.size() ? ports_[index] : Bridge::portName(index);
    }
    std::vector<std::string> lastListAdvice() const override { return missing_; }

private:
    void listNamedPorts();
    bool scansSysfs_;
    bool listed_ = false;
    SysfsPaths sysfs_;
    std::vector<std::string> named_;  // the paths given, when not scanning sysfs
    std::vector<std::string> ports_;
    std::vector<std::string> missing_;
    std::string advice_;
};

}  // namespace kj
