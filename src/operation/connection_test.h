// The connection test: every device that can be opened, its driver version and
// whatever it answers to the handshake byte. Accepts and rejects nothing.
#pragma once

#include "common/frontend.h"
#include "link/bridge.h"
#include "operation/family.h"

namespace kj {

inline constexpr uint32_t kConnectionTestTimeoutMs = 500;

// True when some device answered.
bool runConnectionTest(Bridge& bridge, LogSink& log);

// The test as an operation of its own window, run on its worker like any other.
extern const Family kConnectionTestFamily;

}  // namespace kj
