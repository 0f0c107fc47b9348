// korvel-cli backups: the chip backups kept, with what the index says of each.
#include <cstdio>

#include "common/backup_name.h"
#include "common/history.h"
#include "common/image_file.h"
#include "common/registry.h"
#include "console/console.h"

namespace kj::cli {

namespace {

int runBackups(Context& context, const std::string&, Options& options) {
    const std::string job = context.ui.jobLabel;
    const std::string tool = options.word().value_or("");
    options.finish();
    const Tool* named = tool.empty() ? nullptr : toolNamed(tool);
    if (!tool.empty() && (!named || !named->family)) throw UsageError{"unknown tool \"" + tool + "\""};
    history::Store store;
    const auto backups = store.backups({.tool = tool, .job = job});
    if (!backups) {
        std::fprintf(stderr, "korvel-cli: %s\n", backups.error().c_str());
        return kExitFailure;
    }
    std::vector<std::vector<std::string>> fields;
    for (const auto& backup : *backups) fields.push_back(history::backupFields(backup));
    const std::string folder = utf8Of(store.backupFolder(tool));
    const std::string text = !fields.empty() ? history::tableText(history::backupHeader(), fields)
                             : job.empty()   ? "No backups in " + folder + ".\n"
                                             : "No backups of job " + safeLabel(job) + " in " + folder + ".\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    return written ? kExitSuccess : kExitFailure;
}

constexpr Action kActions[] = {{
    .words = "[TOOL]",
    .help = "the backups kept of TOOL's chips (of every tool's when none is named), newest\n"
            "first, of one job with --job TEXT; \"unknown\" where the index does not say",
}};
const Tool kBackups{.ownName = "backups", .actions = kActions, .run = runBackups};

}  // namespace

KJ_REGISTER(Tool, kBackups)

}  // namespace kj::cli
