#include "npce/npce.h"

namespace kj {

const Family npce::kFamily{
    .name = "npce",
    .launcherButton = "BitBtn1",
    .launcherCaption = "NPCE288N/388N",
    .firmware = "NPCE",
    .link = {.handshakeTimeout = Millis{500},
             .reply = LinkVariant::Reply::Search,
             .accept = "NPCE",
             .keepTimeouts = true,
             .versionLinePrefix = "Version FW -> "},
    .language = Language::English,
    .ends = {.answered = true},
    .imageSize = 131072,
    .saveFilter = "BIN файл NPCE (*.bin)|*.bin",
    .openFilter = "BIN файл NPCE (*.bin)|*.bin|Другие|*.*",
};

}  // namespace kj
