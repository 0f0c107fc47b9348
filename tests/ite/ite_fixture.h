// What the ITE tests share: a bench with the simulated IT85xx, the programmer's
// operations over it, and the bytes and lines every operation starts with.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ite/ite.h"
#include "sim/ite_chip.h"
#include "support/rig.h"

namespace kjtest {

constexpr size_t kIteImage = 131072;

inline const Lines kIteLinkLines{"Number of VCOM ports found on the machine: 1",
                                 "Версия FW программатора -> ITE_V2.3  ", "Communication with programmer installed."};

inline std::string coded(const std::string& code) {
    return "ITE мульт нам не отвечает, проверяйте соединение и настройки выводов. MB запитана? (" + code + ")";
}

inline kjsim::BenchOptions iteBench() {
    kjsim::BenchOptions options;
    options.family = "ITE";
    return options;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The read preparation as register selects and values: Fast Read from address 0.
inline const Bytes kReadPreparationBytes{'A',  0x27, 'W',  0x01, 'A',  0x27, 'W',  0x80, 'A',  0x04, 'W',  0xFF, 'A',
                                         0x07, 'W',  0x7F, 'A',  0x06, 'W',  0xFF, 'A',  0x05, 'W',  0xFE, 'A',  0x08,
                                         'W',  0x00, 'A',  0x05, 'W',  0xFD, 'A',  0x08, 'W',  0x0B, 'A',  0x08, 'W',
                                         0x00, 'A',  0x08, 'W',  0x00, 'A',  0x08, 'W',  0x00, 'A',  0x08, 'W',  0x00};
constexpr size_t kWritePreparationSize = 19 * 4;

class IteOperation : public ::testing::Test, protected Rig {
protected:
    explicit IteOperation(kjsim::BenchOptions options = iteBench())
        : Rig(options), tool_(*bridge, ui, kj::ite::kFamily) {}

    kjsim::IteChip& chip() { return bench.chip<kjsim::IteChip>(); }
    kj::Operation& op() { return tool_.operation(); }

    bool applied(const kj::ite::Routing& pins) {
        tool_.sessions<kj::IteSessions>().applyRouting(pins);
        return succeeded(op());
    }
    bool checked() {
        tool_.sessions<kj::IteSessions>().checkConnection();
        return succeeded(op());
    }
    void read(const std::optional<std::string>& path) {
        ui.chooseNext(path);
        tool_.startRead();
        waitIdle(op());
    }
    void write(const std::optional<std::string>& path) {
        ui.chooseNext(path);
        tool_.startWrite();
        waitIdle(op());
    }
    // Writes `image` to a file and the file to the chip.
    void writeImage(const Bytes& image) {
        const std::string path = dir.file("image.bin");
        writeFile(path, image);
        write(path);
    }
    // What the PC sent after the write's preparation.
    Bytes afterWritePreparation() const {
        const Bytes sent = wire();
        const size_t start = 2 + kWritePreparationSize;  // after 'B' and 'T'
        return sent.size() < start ? Bytes{} : Bytes(sent.begin() + start, sent.end());
    }

    kj::ImageTool tool_;
};

}  // namespace kjtest
