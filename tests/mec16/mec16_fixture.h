// What the MEC16 tests share: the simulated controller's bench, the frames as
// the wire carries them, and the log lines every operation shows.
#pragma once

#include <cstdio>
#include <random>
#include <string>

#include "mec16/mec16.h"
#include "support/rig.h"

namespace kjtest {

constexpr size_t kMain = 196608;
constexpr size_t kInfo = 2048;

inline kjsim::BenchOptions mec16Bench() {
    kjsim::BenchOptions options;
    options.family = "V42";
    return options;
}

// The frames written out by hand, apart from the product's own builders.
inline std::string w(unsigned address, unsigned value) {
    char frame[16];
    std::snprintf(frame, sizeof frame, "w%06X%08X", address, value);
    return frame;
}
inline std::string r(unsigned address) {
    char frame[8];
    std::snprintf(frame, sizeof frame, "r%06X", address);
    return frame;
}
inline std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

inline const std::string kClosingFrames = w(0xFF3908, 0x100) + w(0xFF3908, 0) + w(0xFF3910, 0);

inline const Lines kLinkLines{"Number of VCOM ports found on the machine: 1",
                              "Communication with programmer installed."};
inline const std::string kIdLine = "Получен ID от MEC16 -> 0016 0901h";
inline const Lines kClosingLines{"Записали в регистр FF3908h 100h", "Записали в регистр FF3908h 0",
                                 "Записали в регистр FF3910h 0"};
inline const Lines kEndLines{"Закрыли VCOM порт", kStampRu, ""};
inline const Lines kVerdictAllowed{"--> Стирание и запись разрешена (FWP ножка)",
                                   "--> Стирание и запись загрузочного блока разрешена"};

inline Lines readStartLines(const std::string& path, bool withInfo) {
    return join({kLinkLines,
                 {kStampRu, "Читаем в файл: ", path,
                  withInfo ? "Выбрано чтение MAIN и INFO блоков" : "Выбрано чтение только MAIN блока",
                  "Начали чтение MEC16 main block ...", kIdLine, "Записали в регистр FF3910h 1",
                  "Записали в регистр FF3908h 105h"}});
}

inline Bytes randomImage(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes image(size);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    return image;
}

}  // namespace kjtest
