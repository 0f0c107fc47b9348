#include "link/wait_guard.h"

#include <atomic>
#include <cassert>
#include <thread>

namespace kj {

namespace {
std::atomic<std::thread::id> g_windowThread{};
}

void forbidWaitsOnThisThread() { g_windowThread = std::this_thread::get_id(); }

void assertMayWait() {
    assert(std::this_thread::get_id() != g_windowThread.load() && "a wait on the programmer on the window thread");
}

}  // namespace kj
