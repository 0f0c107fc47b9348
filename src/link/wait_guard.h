// The thread that shows the windows never waits on the programmer: a debug
// build stops at the first wait that is made there.
#pragma once

namespace kj {

// Called once by a program with windows, on their thread.
void forbidWaitsOnThisThread();
void assertMayWait();

}  // namespace kj
