// The ite chip behind its firmware family on the simulated bench.
#pragma once

#include "sim/programmer.h"

namespace kjsim {

struct Bench;
struct BenchOptions;

class IteChip : public ChipModel {
public:
    bool handle(uint8_t command, Wire& wire) override;
};

// The bench entry of the family: puts the chip behind the programmer.
void addIteChips(Bench& bench, const BenchOptions& options);

}  // namespace kjsim
