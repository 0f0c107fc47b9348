// What a worker hands to a window: carried out on the window's thread in the
// order handed over, and a worker that waits for its function gets its result.
#include <gtest/gtest.h>

#include <QWidget>
#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

#include "gui/window_frontend.h"
#include "support/window_support.h"

namespace kjtest {
namespace {

TEST(WindowQueue, HandOversRunOnTheWindowThreadInOrderAndAWaitSeesThemAll) {
    QWidget window;
    auto* queue = new kj::WindowQueue(&window);
    constexpr int kPosts = 200;
    std::vector<int> ran;  // the window thread's alone
    size_t seenByWait = 0;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < kPosts; ++i) queue->post([&ran, i] { ran.push_back(i); });
        queue->wait([&] { seenByWait = ran.size(); });
        done = true;
    });
    const bool finished = runUntil([&] { return done.load(); });
    if (!finished) delete queue;  // lets a worker still waiting go
    worker.join();
    ASSERT_TRUE(finished);

    std::vector<int> expected(kPosts);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(seenByWait, size_t{kPosts});
}

}  // namespace
}  // namespace kjtest
