// korvel-cli edid: the EDID window's read and write, and the summary of an
// image file without a programmer.
#include <filesystem>
#include <iostream>

#include "console/console.h"
#include "families.h"
#include "edid/edid.h"

namespace kj::edid {

namespace {

using namespace cli;

// The window's "EDID info" panel, on standard error so that standard output
// stays the log.
void printInfo(const EdidInfo& info, EdidSource) {
    std::cerr << "EDID info:\n";
    for (const auto& line : describeEdid(info)) std::cerr << "  " << line << '\n';
    std::cerr << std::flush;
}

// An image whose base block is not sane goes in only as the user said before
// the link opened: fixed, or as it is with --force.
void checkBaseBlock(const std::string& path, bool fix, bool force) {
    std::string error;
    const auto image = loadEdidImage(path, error);
    if (!image) throw UsageError{fileProblem(path, error)};
    if (fix || force || baseBlockSane(decodeEdid(*image))) return;
    throw UsageError{path + ": the base block has a bad header or checksum; --fix-checksum corrects the "
                            "checksums, --force writes it as it is"};
}

EdidWriteQuestion writeQuestion(bool fix) {
    return [fix](const EdidInfo&) {
        if (fix) return EdidWriteChoice::FixChecksums;
        std::cerr << "korvel-cli: warning: the base block has a bad header or checksum; writing it as it is\n"
                  << std::flush;
        return EdidWriteChoice::AsIs;
    };
}

// The log has no line for a status other than "OK" or "ER"; a command still says why it failed.
void reportOddStatus(const EdidProgrammer& programmer) {
    const auto& status = programmer.lastStatus();
    if (status.empty() || status == "OK" || status == "ER") return;
    std::cerr << "korvel-cli: error: the programmer answered the status";
    for (unsigned char c : status) std::cerr << ' ' << hexUpper(c, 2);
    std::cerr << ", neither OK nor ER\n" << std::flush;
}

int decode(const std::string& path) {
    std::string error;
    const auto image = loadEdidImage(path, error);
    if (!image) {
        std::cerr << "korvel-cli: " << fileProblem(path, error) << '\n';
        return kExitFailure;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec && size != kEdidImageSize) {
        std::cerr << "korvel-cli: note: " << path << " holds " << size << " bytes; the EEPROM image is its first "
                  << kEdidImageSize << ", the rest FF\n";
    }
    for (const auto& line : describeEdid(decodeEdid(*image))) std::cout << line << '\n';
    std::cout << std::flush;
    return kExitSuccess;
}

int run(Context& context, const std::string& action, Options& options) {
    if (action == "decode") {
        const auto path = options.positional();
        if (!path) throw UsageError{"edid decode needs a FILE"};
        options.finish();
        return decode(*path);
    }
    auto bridge = context.bridges(kFamily.firmware);
    EdidProgrammer programmer(*bridge, context.ui);
    programmer.onInfo(printInfo);
    int status = kExitSuccess;
    if (action == "read") {
        status = readImage(context, programmer, options);
    } else {
        const bool fix = options.flag("--fix-checksum");
        if (const auto input = options.peek("--input")) checkBaseBlock(*input, fix, options.has("--force"));
        programmer.onBadBaseBlock(writeQuestion(fix));
        status = writeImage(context, programmer, options);
    }
    reportOddStatus(programmer);
    return status;
}

}  // namespace

const cli::Tool kCliTool{
    .name = "edid",
    .usage = "edid read --output FILE [--force]\n"
             "    reads the panel EEPROM, shows its hex dump and saves its 256 bytes\n"
             "edid write --input FILE [--fix-checksum] [--force]\n"
             "    writes the file's first 256 bytes (a shorter file is padded with FF);\n"
             "    --fix-checksum corrects the checksum of the base block and of each extension\n"
             "    block within its count before writing (the header is left alone)\n"
             "edid decode FILE\n"
             "    prints the summary of the image the file would give the EEPROM; no programmer\n",
    .run = run,
};

}  // namespace kj::edid
