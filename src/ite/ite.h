// The ite window's family: its firmware, link, language, end bytes and image.
#pragma once

#include "link/family.h"

namespace kj::ite {
extern const Family kFamily;
}  // namespace kj::ite
