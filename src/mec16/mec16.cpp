#include "mec16/mec16.h"

namespace kj {

const Family mec16::kFamily{
    .name = "mec16",
    .launcherButton = "MEC16XX",
    .launcherCaption = "MEC1609",
    .firmware = "V42",
    .link = {.accept = "V42"},
    .language = Language::Russian,
    .ends = {.success = "I0", .failure = "O0"},
    .emptyLineAfterStamp = true,
    .fileErrorBoxes = false,
    .imageSize = 196608,
    .saveFilter = "BIN файл MEC16 (*.bin)|*.bin",
    .openFilter = "BIN файл MEC16 (*.bin)|*.bin|Другие|*.*",
    .alternateImageSize = 198656,  // MAIN and INFO, as a read with INFO stores them
};

}  // namespace kj
