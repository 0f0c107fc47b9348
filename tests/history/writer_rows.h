// The rows a concurrency test's writer adds: every field follows from the
// writer and the row's number, so a torn or mixed row shows.
#pragma once

#include <string>

#include "common/digest.h"
#include "common/history.h"

namespace kjtest {

inline kj::history::OperationRow writerRow(const std::string& writer, int i) {
    const std::string tag = writer + "-" + std::to_string(i);
    const auto bytes = std::span(reinterpret_cast<const uint8_t*>(tag.data()), tag.size());
    std::string reason;
    // Long enough to span pages of the database.
    while (reason.size() < 3000) reason += tag + ", \"quoted\"; ";
    return {.time = "2026-12-09 01:00:00",
            .job = writer,
            .tool = "kb90xx",
            .action = "write",
            .file = "/boards/" + tag + ".bin",
            .size = static_cast<uint64_t>(i),
            .crc32 = kj::crc32Hex(bytes),
            .sha256 = kj::sha256Hex(bytes),
            .verdict = i % 2 ? "PASSED" : "FAILED",
            .reason = reason};
}

}  // namespace kjtest
