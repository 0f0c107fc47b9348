#include "sim/ite_chip.h"

#include "sim/bench.h"

namespace kjsim {

bool IteChip::handle(uint8_t, Wire&) { return false; }

void addIteChips(Bench& bench, const BenchOptions&) {
    bench.ite = std::make_shared<IteChip>();
    bench.programmer->addChip(bench.ite);
}

}  // namespace kjsim
