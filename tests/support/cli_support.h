// What the in-process command-line tests share: running one tool's action with
// its output captured, and Ctrl-C pressed at a chosen point of the progress.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "support/recording_frontend.h"

namespace kjtest {

struct CliRun {
    int status = -1;
    std::vector<std::string> out;  // standard output's lines, the time of day masked
    std::string err;
};

inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return maskTimes(lines);
}

// Ctrl-C pressed in each operation once the gauge first reaches `atProgress`,
// and again when it next reaches `againAtProgress`.
class InterruptingFrontend : public kj::cli::ConsoleFrontend {
public:
    int atProgress = -1;
    int againAtProgress = -1;
    std::optional<kj::Phase> onlyIn;  // when set, only in this phase of an image operation
    void setGaugeProgress(int value, int maximum, int gauge) override {
        ConsoleFrontend::setGaugeProgress(value, maximum, gauge);
        if (onlyIn && phase_ != onlyIn) return;
        const int next = presses_ == 0 ? atProgress : presses_ == 1 ? againAtProgress : -1;
        if (value != next) return;
        ++presses_;
        std::raise(SIGINT);
    }
    void operationStarted(std::string_view name) override {
        presses_ = 0;
        phase_.reset();
        ConsoleFrontend::operationStarted(name);
    }
    void phase(kj::Phase phase) override {
        phase_ = phase;
        ConsoleFrontend::phase(phase);
    }

private:
    int presses_ = 0;
    std::optional<kj::Phase> phase_;
};

// Runs `tool`'s `action` with `args` read as korvel-cli reads what follows
// TOOL ACTION; a usage error is thrown on, with the output dropped.
inline CliRun runTool(const kj::cli::Tool& tool, kj::cli::Context& context, const std::string& action,
                      std::vector<std::string> args) {
    kj::cli::Options options = kj::cli::actionArguments(tool, action, std::move(args));
    CliRun result;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    try {
        result.status = tool.run(context, action, options);
    } catch (...) {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        throw;
    }
    result.out = linesOf(testing::internal::GetCapturedStdout());
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

// Ctrl-C reaches the operations of the test, as it does in korvel-cli.
class InterruptHandlers {
public:
    InterruptHandlers() { kj::cli::installInterruptHandlers(); }
    ~InterruptHandlers() {
        for (const int signal : {SIGINT, SIGTERM}) std::signal(signal, SIG_DFL);
#ifndef _WIN32
        for (const int signal : {SIGHUP, SIGPIPE}) std::signal(signal, SIG_DFL);
#endif
    }
};

}  // namespace kjtest
