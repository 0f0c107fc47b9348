// Whole operations over the simulated programmer, with every reply changed as
// the input says: cut short, one or more bytes too many, silence, a hang-up.
// Whatever happens, the operation ends, sends the failure end byte when it
// fails on an open link, and claims success only when the file (or the chip)
// holds exactly the image.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>

#include "edid/edid.h"
#include "kb90xx/kb90xx.h"
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
};

const Target kTargets[] = {
    {kjsim::Family::V41,
     [](kj::Bridge& b, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
         return std::make_unique<kj::Kb90xxProgrammer>(b, ui);
     },
     [](const kjsim::Bench& bench) { return bench.kb90xx->flash(); }},
    {kjsim::Family::V41,
     [](kj::Bridge& b, kj::Frontend& ui) -> std::unique_ptr<kj::ImageTool> {
         return std::make_unique<kj::EdidProgrammer>(b, ui);
     },
     [](const kjsim::Bench& bench) { return bench.eeprom->contents(); }},
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
        return false;   // the device is unplugged
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
        written = target.image(bench);
        for (auto& b : written) b = static_cast<uint8_t>(b ^ 0x5A);
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(written.data()),
                                                    static_cast<std::streamsize>(written.size()));
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
