// The bridge on Windows without FTDI's D2XX library: serial ports ("COM7"),
// FTDI's virtual COM ports among them, driven with overlapped I/O.
#pragma once

#include <string>
#include <vector>

#include "link/bridge.h"

namespace kj {

// What getDriverVersion() reports: a COM port has no driver version a program
// can ask for, so this is the backend's own, 1.00.00 in the 0x00MMmmbb layout.
inline constexpr uint32_t kComDriverVersion = 0x00010000;

struct ComPort {
    std::string name;        // "COM7"
    bool ftdi = false;       // on a USB device of vendor 0403
    unsigned latencyMs = 0;  // the driver's latency timer; 0 when it has none
};

// The device list: the link walks it from the last index down, so the FTDI
// ports are placed last and the link tries them first, the lowest number first;
// the other ports come after them, the same way.
std::vector<ComPort> inLinkOrder(std::vector<ComPort> ports);

// The serial ports SetupAPI knows, with the ones only the registry's
// SERIALCOMM map names (a port without a device node) added as not FTDI's.
std::vector<ComPort> findComPorts();

// The note logged, once per port, when its latency timer is above what the
// link sets: a COM port cannot change it, only the user in Device Manager.
std::string latencyAdvice(const ComPort& port);

// Devices opened here are 921600 8N1 without flow control, held exclusively,
// with the semantics of the interface:
// - read() waits up to the read time-out; write() waits up to the write
//   time-out (0 means 2 s) and returns Ok with the count that went out.
// - waitForRx() sleeps in WaitCommEvent(EV_RXCHAR) until bytes arrive.
// - setLatencyTimer() is Ok without effect: only the driver's settings change it.
// - After an unplug every call returns DeviceLost; close() still releases the port.
class ComBridge : public Bridge {
public:
    // The ports found afresh by every createDeviceInfoList().
    ComBridge();
    // Exactly these ports ("COM7" or "\\.\COM7"), index 0 first.
    explicit ComBridge(std::vector<std::string> ports);

    FtStatus createDeviceInfoList(uint32_t& count) override;
    // Fails with DeviceNotOpened when the port is missing or held by another program.
    FtStatus open(uint32_t index, std::unique_ptr<BridgeDevice>& device) override;
    // A busy port, or a latency timer worth lowering (said once per port).
    std::string lastOpenAdvice() const override { return advice_; }

private:
    bool scans_;
    bool listed_ = false;
    std::vector<ComPort> ports_;
    std::string advice_;
};

}  // namespace kj
