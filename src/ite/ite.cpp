#include "ite/ite.h"

namespace kj {

const Family ite::kFamily{
    .name = "ite",
    .launcherButton = "ITE_BitBtn1",
    .launcherCaption = "ITE_chip",
    .firmware = "ITE",
    .link = {.reply = LinkVariant::Reply::Search,
             .accept = "ITE",
             .keepTimeouts = true,
             .versionLinePrefix = "Версия FW программатора -> "},
    .language = Language::Russian,
    .ends = {.drained = true},
    .imageSize = 131072,
    .saveFilter = "BIN файл (*.bin)|*.bin",
    .openFilter = "BIN файл  (*.bin)|*.bin|Другие|*.*",
    .saveName = "ITE_",
};

}  // namespace kj
