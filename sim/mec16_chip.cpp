#include "sim/mec16_chip.h"

#include "sim/bench.h"

namespace kjsim {

bool Mec16Chip::handle(uint8_t, Wire&) { return false; }

void addMec16Chips(Bench& bench, const BenchOptions&) {
    bench.mec16 = std::make_shared<Mec16Chip>();
    bench.programmer->addChip(bench.mec16);
}

}  // namespace kjsim
