// What every image tool owes its user, whatever its chip: one suite,
// instantiated per family (INSTANTIATE_TEST_SUITE_P(Family, OperationContract,
// ::testing::Values(...))). Each case drives a read over the family's
// simulated bench and checks the wire's end, the file and the window state.
#pragma once

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "operation/image_tool.h"
#include "support/rig.h"

namespace kjtest {

struct ContractFamily {
    std::string name;
    std::string firmware;
    std::function<std::unique_ptr<kj::ImageTool>(kj::Bridge&, kj::Frontend&)> make;
    // The image a whole read stores, from the bench's chip.
    std::function<Bytes(const kjsim::Bench&)> image;
    // The simulator's reply step that carries block `n` (1-based) of a read.
    std::function<int(int n)> readBlockStep;
    // How many replies a whole read takes, the handshake's included.
    int readReplies = 0;
    // The end bytes a failed or abandoned read leaves at the programmer.
    std::string failureEnd;
    // A stop request keeps the blocks read so far (else it has no effect or discards them).
    bool stopKeepsBlocks = false;
};

inline void PrintTo(const ContractFamily& family, std::ostream* os) { *os << family.name; }

class OperationContract : public ::testing::TestWithParam<ContractFamily> {
protected:
    OperationContract() : rig_(options()), tool_(GetParam().make(*rig_.bridge, rig_.ui)) {}

    kjsim::BenchOptions options() const {
        kjsim::BenchOptions options;
        options.family = GetParam().firmware;
        return options;
    }
    kj::Operation& op() { return tool_->operation(); }
    std::string target() const { return rig_.dir.file("image.bin"); }
    void read(std::optional<std::string> path) {
        rig_.ui.chooseNext(std::move(path));
        tool_->startRead();
        rig_.waitIdle(op());
    }
    // Starts a read slowed down enough to act on while it runs, and waits for its first block.
    void startSlowRead(const std::string& path) {
        rig_.faults().replyDelay = kj::Millis{2};
        rig_.ui.chooseNext(path);
        tool_->startRead();
        for (int i = 0; i < 2000 && rig_.ui.progress().size() < 2; ++i) std::this_thread::sleep_for(kj::Millis{5});
        ASSERT_GE(rig_.ui.progress().size(), 2u) << "no block arrived";
    }
    void startSlowRead() { startSlowRead(target()); }
    // No file, or where a stop keeps blocks, only the blocks read so far.
    void expectNoImageOrWholeBlocks() {
        if (!GetParam().stopKeepsBlocks || !fs::exists(target())) {
            EXPECT_TRUE(rig_.files().empty());
            return;
        }
        const Bytes kept = readFile(target());
        const Bytes image = GetParam().image(rig_.bench);
        EXPECT_FALSE(kept.empty());
        EXPECT_TRUE(kept.size() <= image.size() && std::equal(kept.begin(), kept.end(), image.begin()))
            << "a prefix of the flash";
        EXPECT_EQ(rig_.files(), (Lines{"image.bin"}));
    }
    bool failureEnded() const {
        const std::string ends = rig_.endBytes();
        return ends.size() >= GetParam().failureEnd.size() &&
               ends.compare(ends.size() - GetParam().failureEnd.size(), std::string::npos, GetParam().failureEnd) == 0;
    }

    Rig rig_;
    std::unique_ptr<kj::ImageTool> tool_;
};

TEST_P(OperationContract, AWholeReadStoresTheImageAndSucceeds) {
    read(target());
    EXPECT_TRUE(op().lastSucceeded());
    EXPECT_EQ(readFile(target()), GetParam().image(rig_.bench));
    EXPECT_EQ(rig_.files(), (Lines{"image.bin"}));
    rig_.expectEnded(op());
}

TEST_P(OperationContract, BackToBackReadsEachOpenAFreshLink) {
    read(target());
    const Bytes first = readFile(target());
    rig_.ui.chooseNext(rig_.dir.file("again.bin"));
    tool_->startRead();
    rig_.waitIdle(op());
    EXPECT_TRUE(op().lastSucceeded());
    EXPECT_EQ(readFile(rig_.dir.file("again.bin")), first);
    const auto calls = rig_.slot().calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "open"), 2);
    rig_.expectEnded(op());
}

TEST_P(OperationContract, ACancelledDialogLeavesNoFile) {
    read(std::nullopt);
    EXPECT_FALSE(op().lastSucceeded());
    EXPECT_TRUE(rig_.files().empty());
    rig_.expectEnded(op());
}

TEST_P(OperationContract, AFileThatCannotBeCreatedEndsTheRead) {
    read(rig_.dir.file("no-such-dir/image.bin"));
    EXPECT_FALSE(op().lastSucceeded());
    EXPECT_TRUE(rig_.files().empty());
    rig_.expectEnded(op());
}

TEST_P(OperationContract, AFailedReReadKeepsTheOldFileByteForByte) {
    const Bytes old(777, 0x5A);
    writeFile(target(), old);
    op().link().timeouts = kShortTimeouts;
    rig_.faults().silentFromStep = GetParam().readBlockStep(3);
    read(target());
    EXPECT_FALSE(op().lastSucceeded());
    EXPECT_TRUE(failureEnded()) << rig_.endBytes();
    EXPECT_EQ(readFile(target()), old);
    EXPECT_EQ(rig_.files(), (Lines{"image.bin"})) << "no temporary file is left";
    rig_.expectEnded(op());
}

TEST_P(OperationContract, ALostDeviceEndsTheReadWithoutAFile) {
    rig_.faults().hangUpAtStep = GetParam().readBlockStep(2);
    read(target());
    EXPECT_FALSE(op().lastSucceeded());
    EXPECT_TRUE(rig_.files().empty());
    rig_.expectEnded(op());
}

TEST_P(OperationContract, ASecondStartWhileBusyDoesNothing) {
    startSlowRead();
    const size_t dialogs = rig_.ui.dialogs().size();
    tool_->startRead();
    tool_->startWrite();
    EXPECT_EQ(rig_.ui.dialogs().size(), dialogs);
    rig_.waitIdle(op());
    EXPECT_TRUE(op().lastSucceeded());
    EXPECT_EQ(readFile(target()), GetParam().image(rig_.bench));
    const auto calls = rig_.slot().calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "open"), 1) << "the second start opened no link";
}

TEST_P(OperationContract, AStopEndsWithinItsBoundAndKeepsOnlyWholeBlocks) {
    startSlowRead();
    op().requestStop();
    rig_.waitIdle(op());
    rig_.expectEnded(op());
    if (op().lastSucceeded()) {
        EXPECT_EQ(readFile(target()), GetParam().image(rig_.bench));
    } else {
        expectNoImageOrWholeBlocks();
    }
}

#ifndef _WIN32  // POSIX files: unnamed temporaries, folders renamed while open, terminals
// A read under way shows nothing in its folder, so that a process killed
// meanwhile strands nothing; this program's own temporaries that such a kill
// left a day ago go on the next read there, and nothing else does.
TEST_P(OperationContract, AReadUnderWayShowsNoFileAndSweepsOnlyStaleOwnTemporaries) {
    const Lines kept{".image.bin.kj-654321", "notes.kj-1"};
    for (const auto& name : {".image.bin.kj-123456", ".image.bin.kj-654321", "notes.kj-1"}) {
        writeFile(rig_.dir.file(name), Bytes{1});
        if (name != kept[0])
            fs::last_write_time(rig_.dir.file(name), fs::file_time_type::clock::now() - std::chrono::hours(25));
    }
    startSlowRead();
    EXPECT_EQ(rig_.files(), kept);
    rig_.waitIdle(op());
    EXPECT_TRUE(op().lastSucceeded());
    EXPECT_EQ(rig_.files(), (Lines{kept[0], "image.bin", kept[1]}));
}

// The folder renamed while the image is read: the image goes where the folder
// went, and the log says so with the new path.
TEST_P(OperationContract, AFolderMovedDuringTheReadKeepsTheImageAndTheLogSaysWhere) {
    fs::create_directory(rig_.dir.file("before"));
    startSlowRead(rig_.dir.file("before/image.bin"));
    fs::rename(rig_.dir.file("before"), rig_.dir.file("after"));
    rig_.waitIdle(op());
    EXPECT_TRUE(op().lastSucceeded());
    const std::string placed = rig_.dir.file("after/image.bin");
    EXPECT_EQ(readFile(placed), GetParam().image(rig_.bench));
    const Lines log = rig_.log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.ends_with(": " + placed);
    })) << testing::PrintToString(log);
    EXPECT_EQ(std::count(log.begin(), log.end(), "The incomplete file is deleted."), 0);
}

// The save dialog answered with a terminal: refused with the reason, and not a
// byte reaches the terminal.
TEST_P(OperationContract, ATerminalIsRefusedAsTheImageFromTheSaveDialog) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    const std::string terminal = ::ptsname(master);
    read(terminal);
    EXPECT_FALSE(op().lastSucceeded());
    const auto boxes = rig_.ui.errors();
    if (op().family().fileErrorBoxes) {
        ASSERT_FALSE(boxes.empty());
        EXPECT_NE(boxes.back().find(terminal + ": is a terminal"), std::string::npos) << boxes.back();
    }
    rig_.expectEnded(op());
    char byte = 0;
    EXPECT_LT(::read(master, &byte, 1), 1) << "bytes reached the terminal";
    ::close(master);
}
#endif

TEST_P(OperationContract, QuittingWhileBusyEndsWithTheFailureEnd) {
    startSlowRead();
    tool_.reset();  // the window goes away, as at the program's end
    EXPECT_TRUE(failureEnded()) << rig_.endBytes();
    expectNoImageOrWholeBlocks();
    EXPECT_FALSE(rig_.slot().isOpen());
}

// A quit during a write: the worker ends before the image it sends goes away,
// the link closes, and the log says the flash must be written again.
TEST_P(OperationContract, QuittingWhileWritingEndsTheWorkerAndSaysTheFlashIsIncomplete) {
    const std::string image = rig_.dir.file("write.bin");
    writeFile(image, GetParam().image(rig_.bench));
    rig_.faults().replyDelay = kj::Millis{2};
    rig_.ui.chooseNext(image);
    tool_->startWrite();
    const auto blockWent = [&] {
        const auto progress = rig_.ui.progress();
        return std::any_of(progress.begin(), progress.end(), [](int value) { return value > 0; });
    };
    for (int i = 0; i < 2000 && !blockWent(); ++i) std::this_thread::sleep_for(kj::Millis{5});
    ASSERT_TRUE(blockWent()) << "no block went out";
    const std::string incomplete(op().family().flashIncompleteLine);
    tool_.reset();
    EXPECT_FALSE(rig_.slot().isOpen());
    const Lines log = rig_.log();
    EXPECT_NE(std::find(log.begin(), log.end(), incomplete), log.end());
}

}  // namespace kjtest

namespace kjtest {

// Every kind of line fault at every kind of exchange step of a read: the start,
// the first blocks, one in the middle, the last, and what follows it. Each run
// ends within its bound with the link closed, and either fails with the
// failure end bytes and no file, or stores the whole image.
TEST_P(OperationContract, EveryLineFaultAtEveryExchangeStepEndsRight) {
    const ContractFamily& family = GetParam();
    constexpr int kTail = 4;  // the last block and what follows it
    std::set<int> steps;
    for (int step = 1; step <= family.readBlockStep(2); ++step) steps.insert(step);
    steps.insert((family.readBlockStep(2) + family.readReplies) / 2);
    for (int step = std::max(1, family.readReplies - kTail + 1); step <= family.readReplies; ++step) steps.insert(step);
    struct LineFault {
        const char* name;
        void (*inject)(kjsim::Faults&, int step);
        bool visible;  // the protocol must notice it
    };
    const LineFault faults[] = {
        {"silence", [](kjsim::Faults& f, int step) { f.silentFromStep = step; }, true},
        {"hang-up", [](kjsim::Faults& f, int step) { f.hangUpAtStep = step; }, true},
        {"half reply", [](kjsim::Faults& f, int step) { f.halfReplyAt = step; }, true},
        {"extra byte", [](kjsim::Faults& f, int step) { f.extraByteAt = step; }, true},
        {"garbage", [](kjsim::Faults& f, int step) { f.wrongReplyAt = step; }, false},
    };
    for (const auto& fault : faults) {
        for (const int step : steps) {
            SCOPED_TRACE(std::string(fault.name) + " at reply " + std::to_string(step));
            Rig rig(options());
            auto tool = family.make(*rig.bridge, rig.ui);
            kj::Operation& op = tool->operation();
            op.link().timeouts = {kj::Millis{100}, kj::Millis{100}};
            fault.inject(rig.faults(), step);
            rig.ui.chooseNext(rig.dir.file("image.bin"));
            tool->startRead();
            ASSERT_TRUE(op.waitIdle(kHangBound));
            rig.expectEnded(op);
            if (op.lastSucceeded()) {
                // Success only with the whole image: a fault the protocol sees may come after the last
                // block, where a family's closing steps only note it (or the handshake drops a stray byte).
                const Bytes file = readFile(rig.dir.file("image.bin"));
                EXPECT_EQ(file.size(), family.image(rig.bench).size());
                EXPECT_TRUE(!fault.visible || file == family.image(rig.bench)) << "claimed success";
                continue;
            }
            EXPECT_TRUE(rig.files().empty()) << "a failed read leaves no file";
            const std::string ends = rig.endBytes();
            const bool linkWasOpen = step > 1;
            if (linkWasOpen && std::string(fault.name) != "hang-up") {
                EXPECT_TRUE(
                    ends.size() >= family.failureEnd.size() &&
                    ends.compare(ends.size() - family.failureEnd.size(), std::string::npos, family.failureEnd) == 0)
                    << "end bytes " << ends;
            }
        }
    }
}

}  // namespace kjtest
