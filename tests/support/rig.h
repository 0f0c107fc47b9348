// A simulated bench, the bridge to it and a recording front end: what a test
// drives an operation against, and what it reads back (wire, end bytes, log,
// files) to judge it.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "operation/operation.h"
#include "sim/bench.h"
#include "support/recording_frontend.h"
#include "support/scratch.h"

namespace kjtest {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

// Far beyond any expected run: only there to turn a hang into a failure.
constexpr std::chrono::seconds kHangBound{30};
// Short bounds for the cases that wait for a silent programmer on purpose.
constexpr kj::LinkTimeouts kShortTimeouts{kj::Millis{300}, kj::Millis{300}};
inline const std::string kStamp = "Current time  HH:MM:SS";
inline const std::string kStampRu = "Текущее время  HH:MM:SS";

inline Lines join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class Rig {
public:
    explicit Rig(kjsim::BenchOptions options = {})
        : bench(kjsim::makeBench(options)), bridge(kjsim::makeSimBridge(bench)) {}

    kjsim::Bench bench;
    std::shared_ptr<kjsim::SimBridge> bridge;
    RecordingFrontend ui;
    ScratchDir dir;

    kjsim::SimSlot& slot() const { return *bridge->devices().front(); }
    kjsim::Faults& faults() { return bench.programmer->faults; }
    // Every byte the PC wrote, and each write call's bytes.
    Bytes wire() const { return slot().written(); }
    std::vector<Bytes> writes() const { return slot().writes(); }
    // The end bytes the programmer took, across operations.
    std::string endBytes() const { return bench.programmer->endBytes(); }
    Lines log() const { return maskTimes(ui.lines()); }
    // Files in the scratch folder, temporary ones included.
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void waitIdle(kj::Operation& operation) const {
        ASSERT_TRUE(operation.waitIdle(kHangBound)) << "the operation did not end";
    }
    // Waits for the operation just launched; whether it succeeded.
    bool succeeded(kj::Operation& operation) const {
        waitIdle(operation);
        return operation.lastSucceeded();
    }
    // Every operation ends idle, with the link closed.
    void expectEnded(kj::Operation& operation) const {
        EXPECT_TRUE(operation.idle());
        EXPECT_FALSE(operation.link().isOpen());
        EXPECT_FALSE(slot().isOpen());
        if (!slot().calls().empty()) {
            EXPECT_EQ(slot().calls().back(), "close");
        }
    }
};

}  // namespace kjtest
