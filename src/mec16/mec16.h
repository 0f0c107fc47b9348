// The mec16 window's family: its firmware, link, language, end bytes and image.
#pragma once

#include "link/family.h"

namespace kj::mec16 {
extern const Family kFamily;
}  // namespace kj::mec16
