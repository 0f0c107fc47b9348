// korvel-cli edid: the EDID window's read and write, and the summary of an
// image file without a programmer.
#include <filesystem>
#include <iostream>

#include "cli/cli.h"
#include "edid/edid.h"

namespace kj::cli {

namespace {

constexpr const char* kUsage =
    "edid read --output FILE [--force]\n"
    "      reads the panel EEPROM, shows its hex dump and saves its 256 bytes\n"
    "  edid write --input FILE [--fix-checksum]\n"
    "      writes the file's first 256 bytes (a shorter file is padded with FF).\n"
    "      An image whose base block has a bad header or checksum is written as it is,\n"
    "      with a warning, so that a deliberately odd image can still go in;\n"
    "      --fix-checksum corrects the checksum of the base block and of each\n"
    "      extension block within its count before writing (the header is left alone)\n"
    "  edid decode FILE\n"
    "      prints the summary of the image the file would give the EEPROM; no programmer\n"
    "The summary of the image read or written goes to standard error.";

// The window's "EDID info" panel, on standard error so that standard output
// stays the log.
void printInfo(const EdidInfo& info) {
    std::cerr << "EDID info:\n";
    for (const auto& line : describeEdid(info)) std::cerr << "  " << line << '\n';
    std::cerr << std::flush;
}

EdidWriteQuestion writeQuestion(bool fix) {
    return [fix](const EdidInfo&) {
        if (fix) return EdidWriteChoice::FixChecksums;
        std::cerr << "warning: the base block has a bad header or checksum; writing it as it is "
                     "(--fix-checksum corrects the checksums)\n"
                  << std::flush;
        return EdidWriteChoice::AsIs;
    };
}

// The log has no line for a status other than "OK" or "ER"; a command still says why it failed.
void reportOddStatus(const EdidProgrammer& programmer) {
    const auto& status = programmer.lastStatus();
    if (status.empty() || status == "OK" || status == "ER") return;
    std::cerr << "error: the programmer answered the status";
    for (unsigned char c : status) std::cerr << ' ' << hexUpper(c, 2);
    std::cerr << ", neither OK nor ER\n" << std::flush;
}

int runOnProgrammer(Context& context, bool (EdidProgrammer::*operation)(), bool fix) {
    auto bridge = context.bridges("V41");
    EdidProgrammer programmer(*bridge, context.ui);
    programmer.link().setStopFlag(&context.interrupted);
    programmer.onInfo(printInfo);
    programmer.onBadBaseBlock(writeQuestion(fix));
    const bool ok = (programmer.*operation)();
    reportOddStatus(programmer);
    return ok ? kExitSuccess : kExitFailure;
}

int decode(const std::string& path) {
    EdidImage image;
    switch (loadEdidImage(path, image)) {
    case EdidFileRead::Ok: break;
    case EdidFileRead::CannotOpen: std::cerr << "error: cannot open " << path << '\n'; return kExitFailure;
    case EdidFileRead::CannotRead: std::cerr << "error: cannot read " << path << '\n'; return kExitFailure;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size != kEdidImageSize) {
        std::cerr << "note: " << path << " holds " << size << " bytes; the EEPROM image is its first "
                  << kEdidImageSize << ", the rest FF\n";
    }
    for (const auto& line : describeEdid(decodeEdid(image))) std::cout << line << '\n';
    std::cout << std::flush;
    return kExitSuccess;
}

}  // namespace

int runEdid(Context& context, const std::string& action, Options& options) {
    if (action == "read") {
        context.ui.outputFile = outputPath(options);
        options.finish();
        return runOnProgrammer(context, &EdidProgrammer::read, false);
    }
    if (action == "write") {
        const bool fix = options.flag("--fix-checksum");
        context.ui.inputFile = inputPath(options);
        options.finish();
        return runOnProgrammer(context, &EdidProgrammer::write, fix);
    }
    if (action == "decode") {
        const auto path = options.positional();
        if (!path) throw UsageError{std::string("edid decode needs a FILE\nusage: korvel-cli ") + kUsage};
        options.finish();
        return decode(*path);
    }
    throw UsageError{(action.empty() ? std::string("edid needs an action") : "unknown edid action: " + action) +
                     "\nusage: korvel-cli " + kUsage};
}

}  // namespace kj::cli
