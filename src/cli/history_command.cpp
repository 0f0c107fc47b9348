// korvel-cli history: the operations recorded, as a table or as CSV for a spreadsheet.
#include <cstdio>

#include "common/history.h"
#include "common/registry.h"
#include "console/console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace kj::cli {

namespace {

int runHistory(Context& context, const std::string&, Options& options) {
    history::OperationFilter filter{.job = context.ui.jobLabel,
                                    .tool = options.value("--tool").value_or(""),
                                    .since = options.value("--since").value_or("")};
    const bool csv = options.flag("--csv");
    options.finish();
    if (!filter.since.empty() && !history::isDate(filter.since))
        throw UsageError{"--since takes a date, YYYY-MM-DD: " + filter.since};
    history::Store store;
    const auto rows = store.operations(filter);
    if (!rows) {
        std::fprintf(stderr, "korvel-cli: %s\n", rows.error().c_str());
        return kExitFailure;
    }
    std::vector<std::vector<std::string>> fields;
    for (const auto& row : *rows) fields.push_back(history::operationFields(row));
    std::string text;
    if (csv) {
#ifdef _WIN32
        // The CSV's own CRLF, not one the C library makes of its LF.
        std::fflush(stdout);
        ::_setmode(::_fileno(stdout), _O_BINARY);
#endif
        text = history::csvText(history::operationHeader(), fields);
    } else if (fields.empty()) {
        const bool filtered = !filter.job.empty() || !filter.tool.empty() || !filter.since.empty();
        text = filtered ? "No operations match.\n" : "No operations recorded.\n";
    } else {
        text = history::tableText(history::operationHeader(), fields);
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    return written ? kExitSuccess : kExitFailure;
}

constexpr Option kToolOption{.name = "--tool", .value = "TOOL", .help = "only the operations of TOOL"};
constexpr Option kSinceOption{.name = "--since", .value = "YYYY-MM-DD", .help = "only the operations from that day on"};
constexpr Option kCsvOption{.name = "--csv", .help = "CSV (RFC 4180, UTF-8) instead of a table"};
constexpr const Option* kOptions[] = {&kToolOption, &kSinceOption, &kCsvOption};
constexpr Action kActions[] = {{
    .own = kOptions,
    .help = "the operations recorded, newest first; of one job with --job TEXT",
}};
const Tool kHistory{.ownName = "history", .actions = kActions, .run = runHistory};

}  // namespace

KJ_REGISTER(Tool, kHistory)

}  // namespace kj::cli
