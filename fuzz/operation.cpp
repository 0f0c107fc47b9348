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
#include <vector>

#include "operation/family.h"
#include "operation/image_tool.h"
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
    bool confirm(std::string_view, kj::Ask) override { return true; }
    std::optional<size_t> choose(std::string_view, const std::vector<std::string>&) override { return 0; }
    void show(const std::any&) override {}
    void operationStarted(std::string_view) override {}
    void operationEnded() override {}

private:
    std::string path_;
};

Bytes changed(Bytes image) {
    for (auto& b : image) b = static_cast<uint8_t>(b ^ 0x5A);
    return image;
}

// Every tool that moves an image, with the simulated chip that holds it.
struct Target {
    const kj::Family* family;
    const kjsim::ChipEntry* chip;
};

std::vector<Target> targets() {
    std::vector<Target> out;
    for (const kj::Family* family : kj::families()) {
        if (!family->sessions) continue;
        for (const kjsim::ChipEntry* chip : kjsim::chipsBehind(family->firmware))
            if (chip->family == family) out.push_back({family, chip});
    }
    return out;
}

// The image a write sends, on a chip made ready for it.
Bytes prepareWrite(const Target& target, kjsim::ChipModel& chip) {
    Bytes image = changed(kjsim::toolImage(*target.chip, chip));
    return target.chip->prepareWrite ? target.chip->prepareWrite(chip, std::move(image)) : image;
}

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
    static const std::vector<Target> kTargets = targets();
    check(!kTargets.empty());
    const Target& target = kTargets[data[0] % kTargets.size()];
    const bool write = data[1] & 1;
    const uint8_t* plan = data + 2;
    const size_t planSize = size - 2;

    kjsim::Bench bench = kjsim::makeBench({.family = std::string(target.family->firmware)});
    kjsim::ChipModel& chip = *bench.chip(target.chip->name);
    bench.programmer->faults.perReply = [plan, planSize](int step, Bytes& reply) {
        return change(plan, planSize, step, reply);
    };
    auto bridge = kjsim::makeSimBridge(bench);
    char dir[] = "/tmp/kj-fuzz-XXXXXX";
    if (!::mkdtemp(dir)) return 0;
    const std::string path = std::string(dir) + "/image.bin";
    Bytes written;
    if (write) {
        written = prepareWrite(target, chip);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(written.data()), static_cast<std::streamsize>(written.size()));
    }
    {
        FuzzFrontend ui(path);
        auto tool = kj::makeImageTool(*target.family, *bridge, ui);
        tool->operation().link().timeouts = {kj::Millis{20}, kj::Millis{20}};
        write ? tool->startWrite() : tool->startRead();
        check(tool->operation().waitIdle(kj::Millis{60000}));
        check(!tool->operation().link().isOpen());
        if (tool->operation().lastSucceeded()) {
            if (write) {
                check(kjsim::toolImage(*target.chip, chip) == written);
            } else {
                std::ifstream in(path, std::ios::binary);
                const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                check(file == kjsim::toolImage(*target.chip, chip));
            }
        } else if (!write) {
            check(!std::filesystem::exists(path));
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
