// The programmer link against simulated devices: which devices are tried, in
// which order, with which set-up calls, and what lands in the log.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <ctime>

#include "edid/edid.h"
#include "ite/ite.h"
#include "kb90xx/kb90xx.h"
#include "keyboard/keyboard.h"
#include "link/link.h"
#include "link/port_list.h"
#include "mec16/mec16.h"
#include "npce/npce.h"
#include "sim/sim_bridge.h"
#include "support/recording_frontend.h"

using namespace kj;
using kjsim::Programmer;
using kjsim::SimBridge;
using kjsim::SimSlot;
using Calls = std::vector<std::string>;

namespace {

std::shared_ptr<SimSlot> programmer(std::string_view family, std::string version = {}) {
    auto p = version.empty() ? std::make_shared<Programmer>(family) : std::make_shared<Programmer>(family, version);
    return SimSlot::programmer(p);
}

struct LinkRun {
    SimBridge bridge;
    kjtest::RecordingFrontend log;
    Link link{bridge, log};
    explicit LinkRun(std::vector<std::shared_ptr<SimSlot>> slots) : bridge(std::move(slots)) {}
};

const Calls kEdidSetUp = {"open", "reset", "baud 921600", "data 8 0 0", "latency 2", "timeouts 300 300", "write 1"};

Calls concat(Calls a, const Calls& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Link, NoDeviceLogsOneLineAndFindsNothing) {
    LinkRun run({});
    EXPECT_EQ(run.link.open(edid::kFamily.link), kLinkNotFound);
    EXPECT_EQ(run.log.lines(),
              (std::vector<std::string>{"VCOM port is not found on the machine!", std::string(kNoPortFix)}));
    EXPECT_FALSE(run.link.isOpen());
}

TEST(Link, FailedDeviceListLogsOneLine) {
    LinkRun run({programmer("V41")});
    run.bridge.failDeviceList(true);
    EXPECT_EQ(run.link.open(kb90xx::kFamily.link), kLinkNotFound);
    EXPECT_EQ(run.log.lines(), std::vector<std::string>{"I can not get a list of VCOM ports"});
}

TEST(Link, SilentHigherIndexIsClosedThenTheProgrammerBelowIsAccepted) {
    auto silent = SimSlot::silent();
    auto prog = programmer("V41");
    LinkRun run({prog, silent});
    EXPECT_EQ(run.link.open(edid::kFamily.link), kLinkOpen);
    EXPECT_TRUE(run.link.isOpen());
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 2",
                                                         "Communication with programmer installed."}));
    EXPECT_EQ(silent->calls(), concat(kEdidSetUp, {"close"}));
    EXPECT_EQ(silent->written(), kjsim::Bytes{'B'});
    EXPECT_EQ(prog->calls(), concat(kEdidSetUp, {"timeouts 0 0", "latency 2"}));
    run.link.close();
    EXPECT_EQ(prog->calls().back(), "close");
}

TEST(Link, WrongFirmwareStopsTheSearchAndClosesTheDevice) {
    auto lower = programmer("V41");
    auto mec = programmer("V42");
    LinkRun run({lower, mec});
    EXPECT_EQ(run.link.open(edid::kFamily.link), kLinkWrongFirmware);
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 2",
                                                         "It is necessary to update the firmware programmer!"}));
    EXPECT_EQ(mec->calls().back(), "close");
    EXPECT_TRUE(lower->calls().empty()) << "a lower index must not be tried";
    EXPECT_FALSE(run.link.isOpen());
}

TEST(Link, Mec16WindowAcceptsV42AndRejectsV41) {
    LinkRun good({programmer("V42")});
    EXPECT_EQ(good.link.open(mec16::kFamily.link), kLinkOpen);
    LinkRun bad({programmer("V41")});
    EXPECT_EQ(bad.link.open(mec16::kFamily.link), kLinkWrongFirmware);
}

TEST(Link, Kb90xxVariantSetsNoLatencyBeforeTheHandshakeAndSaysNotFoundWithoutArrow) {
    auto silent = SimSlot::silent();
    LinkRun run({silent});
    EXPECT_EQ(run.link.open(kb90xx::kFamily.link), kLinkNotFound);
    EXPECT_EQ(silent->calls(),
              (Calls{"open", "reset", "baud 921600", "data 8 0 0", "timeouts 300 300", "write 1", "close"}));
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 1",
                                                         "The programmer is not found or does not respond"}));
}

TEST(Link, EdidVariantSaysNotFoundWithArrow) {
    LinkRun run({SimSlot::silent(), SimSlot::unopenable()});
    EXPECT_EQ(run.link.open(edid::kFamily.link), kLinkNotFound);
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 2",
                                                         "-->  The programmer is not found or does not respond"}));
}

TEST(Link, DeviceHeldOpenElsewhereIsSkippedSilently) {
    auto prog = programmer("V41");
    auto held = programmer("V41");
    LinkRun other({held});
    ASSERT_EQ(other.link.open(edid::kFamily.link), kLinkOpen);
    LinkRun run({prog, held});  // the same device, already open in another window
    EXPECT_EQ(run.link.open(kb90xx::kFamily.link), kLinkOpen);
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 2",
                                                         "Communication with programmer installed."}));
}

TEST(Link, APortWithoutPermissionAddsOneLineSayingHowToGetAccess) {
    const std::string advice = "Permission denied on /dev/ttyUSB1: add yourself to the dialout group";
    LinkRun run({programmer("V41"), SimSlot::unopenable(advice)});
    EXPECT_EQ(run.link.open(kb90xx::kFamily.link), kLinkOpen);
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 2", advice,
                                                         "Communication with programmer installed."}));
}

TEST(Link, ShortVersionReplyCountsAsSilence) {
    auto p = std::make_shared<Programmer>("V41");
    p->faults.shortReplyAt = 1;
    auto slot = SimSlot::programmer(p);
    LinkRun run({slot});
    EXPECT_EQ(run.link.open(edid::kFamily.link), kLinkNotFound);
    EXPECT_EQ(slot->calls().back(), "close");
}

TEST(Link, IteVariantFindsItsWordAnywhereAndKeepsTheHandshakeTimeouts) {
    auto slot = programmer("ITE", std::string("\x01xx-ITE_8587\r\n"));
    LinkRun run({slot});
    EXPECT_EQ(run.link.open(ite::kFamily.link), kLinkOpen);
    EXPECT_EQ(run.log.lines(), (std::vector<std::string>{"Number of VCOM ports found on the machine: 1",
                                                         "Версия FW программатора ->  xx ITE_8587  ",
                                                         "Communication with programmer installed."}));
    const auto calls = slot->calls();
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"write 1", "latency 2"}));
}

TEST(Link, UnprintableVersionReplyGivesBlanksAndWrongFirmware) {
    LinkRun run({programmer("ITE", std::string("\x01\x02\xFF"))});
    EXPECT_EQ(run.link.open(ite::kFamily.link), kLinkWrongFirmware);
    EXPECT_EQ(run.log.lines()[1], "Версия FW программатора ->    ");
    EXPECT_EQ(run.log.lines()[2], "It is necessary to update the firmware programmer!");
}

TEST(Link, NpceVariantUsesHalfSecondTimeoutsAndItsOwnVersionLine) {
    auto slot = programmer("NPCE", "NPCE_V1.7");
    LinkRun run({slot});
    EXPECT_EQ(run.link.open(npce::kFamily.link), kLinkOpen);
    EXPECT_EQ(run.log.lines()[1], "Version FW -> NPCE_V1.7");
    EXPECT_EQ(slot->calls()[4], "timeouts 500 500");
    EXPECT_EQ(run.link.versionText(), "NPCE_V1.7");
}

TEST(Link, NpceWindowRejectsAnIteProgrammer) {
    LinkRun run({programmer("ITE")});
    EXPECT_EQ(run.link.open(npce::kFamily.link), kLinkWrongFirmware);
}

// ---- bounded I/O once the link is open ----

// The process's CPU time; Windows' clock() counts wall time instead.
double processCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(ticks(kernel) + ticks(user)) / 1e7;
#else
    return double(std::clock()) / CLOCKS_PER_SEC;
#endif
}

TEST(LinkIo, WaitOnASilentProgrammerTimesOutWithoutBurningCpu) {
    LinkRun run({programmer("V41")});
    ASSERT_EQ(run.link.open(kb90xx::kFamily.link), kLinkOpen);
    const double cpu = processCpuSeconds();
    uint32_t queued = 99;
    EXPECT_EQ(run.link.awaitQueued(256, Millis{600}, &queued), Io::Timeout);
    EXPECT_EQ(queued, 0u);
    const double cpuSeconds = processCpuSeconds() - cpu;
    EXPECT_LT(cpuSeconds, 0.2) << "a wait must block, not spin";
}

TEST(LinkIo, StopFlagEndsAWaitPromptly) {
    LinkRun run({programmer("V41")});
    ASSERT_EQ(run.link.open(kb90xx::kFamily.link), kLinkOpen);
    std::atomic<bool> stop{true};
    run.link.setInterrupt(&stop);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run.link.awaitQueued(1, Millis{30000}), Io::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(LinkIo, HangUpEndsAWaitAsALostLink) {
    auto p = std::make_shared<Programmer>("V41");
    p->faults.hangUpAtStep = 2;  // instead of the answer to a second handshake
    LinkRun run({SimSlot::programmer(p)});
    ASSERT_EQ(run.link.open(kb90xx::kFamily.link), kLinkOpen);
    ASSERT_EQ(run.link.send(kHandshakeByte), Io::Ok);
    uint8_t byte = 0;
    EXPECT_EQ(run.link.readByte(byte, Millis{30000}), Io::Lost);
    EXPECT_EQ(ioFailureLine(Io::Lost, Language::English), "Connection with the programmer is lost.");
}
