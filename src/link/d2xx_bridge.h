// The bridge on Windows through FTDI's own D2XX library, when its driver is
// installed: the device list and calls the link procedure was written for.
#pragma once

#include <memory>
#include <string>

#include "link/bridge.h"

namespace kj {

class D2xxLibrary;

// Semantics of the interface, with these details:
// - open() sets 921600 8N1, no flow control, and an event for received bytes;
//   waitForRx() sleeps on that event.
// - The first open of each device says once which COM port it also is.
class D2xxBridge : public Bridge {
public:
    // Loads ftd2xx.dll from the system's search path, or the library at `path`.
    static std::unique_ptr<D2xxBridge> load(const std::wstring& path = L"ftd2xx.dll");
    ~D2xxBridge() override;

    FtStatus createDeviceInfoList(uint32_t& count) override;
    FtStatus open(uint32_t index, std::unique_ptr<BridgeDevice>& device) override;
    std::string lastOpenAdvice() const override { return advice_; }

private:
    explicit D2xxBridge(std::shared_ptr<const D2xxLibrary> library);
    std::shared_ptr<const D2xxLibrary> library_;
    std::string advice_;
};

}  // namespace kj
