// The wire trace: every byte to and from the programmer, with a monotonic time
// stamp, its direction and its port, and the operation's log lines in between,
// so that a user's report shows what went over a real jig's wire. Off unless
// started; when off, each call costs one atomic load.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/bridge.h"

namespace kj::trace {

// Environment variable naming a trace file, for either program.
inline constexpr const char* kTraceVariable = "KORVEL_TRACE";

// Starts tracing into `path` (appended to); false with `error` set when the
// file cannot be opened.
bool start(const std::string& path, std::string& error);
// `path` when given, else the environment variable's file, else nothing.
bool startFromOptions(const std::string& path, std::string& error);
void stop();
bool on();

enum class Direction { ToProgrammer, FromProgrammer };
void bytes(std::string_view port, Direction direction, std::span<const uint8_t> data);
void line(std::string_view text);

// Every device the factory's bridges open is traced while the trace is on.
BridgeFactory traced(BridgeFactory inner);

}  // namespace kj::trace
