// The keyboard tester's tests: a programmer with a scripted keyboard behind a
// bridge of its own, and bounded waits for what the worker does.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "keyboard/keyboard.h"
#include "sim/bench.h"
#include "sim/keyboard_chip.h"
#include "support/rig.h"

namespace kjtest {

// Lines 1-2, 1-5 and 3-4: Shape2, Shape5 and Shape68.
const Bytes kExampleReport = {'>', 1, 2, 5, '>', 3, 4, '&'};
const Bytes kNothing = {'&'};

const std::vector<std::string> kKeyboardLinkLines = {
    "Number of VCOM ports found on the machine: 1",
    "COM порт сброшен.",
    "Установлена скорость 921600 bps.",
    "Произведена настройка формата передачи данных.",
    "Произведена настройка таймаутов.",
    "Произведена настройка LatencyTimer.",
    "Настроили порт 0",
    "Communication with programmer installed.",
};

// Bounds only catch hangs; nothing here waits for time to pass.
inline bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct KeyboardBench {
    KeyboardBench() { chip().pieceGap = std::chrono::milliseconds(1); }

    kjsim::KeyboardChip& chip() { return bench.chip<kjsim::KeyboardChip>(); }
    void script(std::vector<Bytes> reports) { chip().setScript(kjsim::KeyboardChip::reports(std::move(reports))); }
    std::unique_ptr<kj::Bridge> bridge() const {
        return std::make_unique<kjsim::SimBridge>(std::vector<std::shared_ptr<kjsim::SimSlot>>{slot});
    }
    std::string written() const {
        const auto bytes = slot->written();
        return {bytes.begin(), bytes.end()};
    }

    kjsim::Bench bench = kjsim::makeBench({});
    std::shared_ptr<kjsim::SimSlot> slot = kjsim::SimSlot::programmer(bench.programmer);
};

// Gives the worker exactly one tick once it waits for one, and waits for the
// request that follows.
// Counted once the worker waits: by then the chip has answered every request before.
inline bool nextReport(kj::KeyboardTester& tester, kjsim::KeyboardChip& chip) {
    if (!waitFor([&] { return tester.waitingForTick(); })) return false;
    const size_t before = chip.requests();
    tester.tick();
    return waitFor([&] { return chip.requests() == before + 1; });
}

}  // namespace kjtest
