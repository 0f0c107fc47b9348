// Whole operations over the simulated programmer, with every reply changed as
// the input says: cut short, one or more bytes too many, silence, a hang-up.
// Whatever happens, the operation ends, sends the failure end byte when it
// fails on an open link, and claims success only when the file (or the chip)
// holds exactly the image.
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "edid/edid.h"
#include "ite/ite.h"
#include "kb90xx/kb90xx.h"
#include "mec16/mec16.h"
#include "npce/npce.h"
#include "sim/bench.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A front end that answers the dialog with a path and every question with yes.
class FuzzFrontend : public kj::Frontend {
public:
    explicit FuzzFrontend(std::string path) : path_(std::move(path)) {}
    void log(std::string_view) override {}
    void clearLog() override {}
    void setGaugeColour(kj::Rgb, int) override {}
    void setGaugeProgress(int, int, int) override {}
    std::optional<std::string> chooseFile(const kj::FileDialogSpec&) override { return path_; }
    void errorBox(std::string_view) override {}
    bool confirm(std::string_view) override { return true; }
    void operationStarted(std::string_view) override {}
    void operationEnded() override {}

private:
    std::string path_;
};

struct Target {
    kjsim::Family firmware;
    std::function<std::unique_ptr<kj::ImageTool>(kj::Bridge&, kj::Frontend&)> make;
    std::function<Bytes(const kjsim::Bench&)> image;
    // The image a write sends, on a chip made ready for it.
    std::function<Bytes(kjsim::Bench&)> prepareWrite;
};

template <class Tool>
std::unique_ptr<kj::ImageTool> make(kj::Bridge& bridge, kj::Frontend& ui) {
    return std::make_unique<Tool>(bridge, ui);
}

Bytes changed(Bytes image) {
    for (auto& b : image) b = static_cast<uint8_t>(b ^ 0x5A);
    return image;
}

const Target kTargets[] = {
    {kjsim::Family::V41, make<kj::Kb90xxProgrammer>, [](const kjsim::Bench& b) { return b.kb90xx->flash(); },
     [](kjsim::Bench& b) { return changed(b.kb90xx->flash()); }},
    {kjsim::Family::V41, make<kj::EdidProgrammer>, [](const kjsim::Bench& b) { return b.eeprom->contents(); },
     [](kjsim::Bench& b) { return changed(b.eeprom->contents()); }},
    // The write does not erase: the technician erases first.
    {kjsim::Family::V42, make<kj::Mec16Programmer>, [](const kjsim::Bench& b) { return b.mec16->main(); },
     [](kjsim::Bench& b) {
         const Bytes image = changed(b.mec16->main());
         b.mec16->setFlash(Bytes(b.mec16->flash().size(), 0xFF));
         return image;
     }},
    // Mostly erased, as the write sends only what is not: a few bytes keep a run short.
    {kjsim::Family::Ite, make<kj::IteProgrammer>, [](const kjsim::Bench& b) { return b.ite->flash(); },
     [](kjsim::Bench& b) {
         Bytes image(b.ite->flash().size(), 0xFF);
         for (size_t at = 0; at < image.size(); at += 4099) image[at] = static_cast<uint8_t>(at);
         return image;
     }},
    {kjsim::Family::Npce, make<kj::NpceProgrammer>, [](const kjsim::Bench& b) { return b.npce->flash(); },
     [](kjsim::Bench& b) { return changed(b.npce->flash()); }},
};

// One input byte per reply: most leave it alone.
bool change(const uint8_t* plan, size_t size, int step, Bytes& reply) {
    if (step < 1 || static_cast<size_t>(step) > size) return true;
    const uint8_t c = plan[step - 1];
    if (c < 0xC0) return true;
    if (c < 0xD0) {
        reply.resize(reply.size() * (c & 0x0F) / 16);
    } else if (c < 0xE0) {
        reply.insert(reply.end(), (c & 0x0F) + 1u, static_cast<uint8_t>(c));
    } else if (c < 0xF8) {
        reply.clear();  // this reply never comes
    } else {
        return false;  // the device is unplugged
    }
    return true;
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const Target& target = kTargets[data[0] % std::size(kTargets)];
    const bool write = data[1] & 1;
    const uint8_t* plan = data + 2;
    const size_t planSize = size - 2;

    kjsim::BenchOptions options;
    options.family = target.firmware;
    kjsim::Bench bench = kjsim::makeBench(options);
    bench.programmer->faults.perReply = [plan, planSize](int step, Bytes& reply) {
        return change(plan, planSize, step, reply);
    };
    auto bridge = kjsim::makeSimBridge(bench);
    char dir[] = "/tmp/kj-fuzz-XXXXXX";
    if (!::mkdtemp(dir)) return 0;
    const std::string path = std::string(dir) + "/image.bin";
    Bytes written;
    if (write) {
        written = target.prepareWrite(bench);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(written.data()), static_cast<std::streamsize>(written.size()));
    }
    {
        FuzzFrontend ui(path);
        auto tool = target.make(*bridge, ui);
        tool->operation().link().timeouts = {kj::Millis{20}, kj::Millis{20}};
        write ? tool->startWrite() : tool->startRead();
        check(tool->operation().waitIdle(kj::Millis{60000}));
        check(!tool->operation().link().isOpen());
        if (tool->operation().lastSucceeded()) {
            if (write) {
                const Bytes chip = target.image(bench);
                check(chip == written);
            } else {
                std::ifstream in(path, std::ios::binary);
                const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                check(file == target.image(bench));
            }
        } else if (!write) {
            check(!std::filesystem::exists(path));
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
