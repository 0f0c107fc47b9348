// A short operation that the user waits for, run beside the window thread: the
// windows keep painting and carry out its updates, the cursor says busy, and
// clicks and keys are dropped until it has ended (a dialog it opens still gets them).
#pragma once

#include <functional>

namespace kj {

void runWhileBusy(const std::function<void()>& work);

}  // namespace kj
