#include "sim/npce_chip.h"

#include "sim/bench.h"

namespace kjsim {

bool NpceChip::handle(uint8_t, Wire&) { return false; }

void addNpceChips(Bench& bench, const BenchOptions&) {
    bench.npce = std::make_shared<NpceChip>();
    bench.programmer->addChip(bench.npce);
}

}  // namespace kjsim
