// korvel-cli edid: the EDID window's read and write, and the summary of an
// image file without a programmer.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>

#include "common/registry.h"
#include "console/image_actions.h"
#include "edid/edid.h"

namespace kj::edid {

namespace {

using namespace cli;

// The window's "EDID info" panel, on standard error so that standard output
// stays the log.
void printInfo(const std::any& event) {
    const auto* shown = std::any_cast<EdidInfoEvent>(&event);
    if (!shown) return;
    std::cerr << "EDID info:\n";
    for (const auto& line : describeEdid(shown->info)) std::cerr << "  " << line << '\n';
    std::cerr << std::flush;
}

// An image whose base block is not sane goes in only as the user said before
// the link opened: fixed, or as it is with --as-is (or --force, for one more release).
void checkBaseBlock(const std::string& path, bool fix, bool asIs, bool force) {
    std::string error;
    const auto image = loadEdidImage(path, error);
    if (!image) throw UsageError{fileProblem(path, error)};
    if (fix || asIs || baseBlockSane(decodeEdid(*image))) return;
    if (!gateOption(false, "--as-is", force).empty()) return;
    throw UsageError{path +
                     ": the base block has a bad header or checksum; --fix-checksum corrects the "
                     "checksums, --as-is writes it as it is"};
}

// The log has no line for a status other than "OK" or "ER"; a command still says why it failed.
void reportOddStatus(const EdidSessions& sessions) {
    const auto& status = sessions.lastStatus();
    if (status.empty() || status == "OK" || status == "ER") return;
    std::cerr << "korvel-cli: error: the programmer answered the status";
    for (unsigned char c : status) std::cerr << ' ' << hexUpper(c, 2);
    std::cerr << ", neither OK nor ER\n" << std::flush;
}

// A file of a few kilobytes at most holds an EDID, binary or as hex text.
constexpr size_t kMaxDecodeInput = 1024 * 1024;

// The bytes of FILE, or of standard input for "-".
std::optional<Bytes> readInput(const std::string& path, std::string& error) {
    if (path != "-") {
        auto head = readFileHead(path, kMaxDecodeInput, error);
        if (!head) return std::nullopt;
        return std::move(head->bytes);
    }
    // Reading stops at the limit: standard input may never end (cat /dev/zero).
    Bytes bytes(kMaxDecodeInput);
    std::cin.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(std::cin.gcount()));
    return bytes;
}

bool startsWithHeader(const Bytes& bytes) {
    static constexpr uint8_t kHeader[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    return bytes.size() >= std::size(kHeader) && std::equal(std::begin(kHeader), std::end(kHeader), bytes.begin());
}

// The EDID as a binary file or as hex text (edid-decode's dump, xrandr --verbose).
int decode(const std::string& path) {
    std::string error;
    const auto input = readInput(path, error);
    if (!input) {
        std::cerr << "korvel-cli: " << fileProblem(path, error) << '\n';
        return kExitFailure;
    }
    if (input->empty()) {
        std::cerr << "korvel-cli: " << fileProblem(path, "is empty") << '\n';
        return kExitFailure;
    }
    Bytes edid = *input;
    if (!startsWithHeader(edid)) {
        const std::string_view text(reinterpret_cast<const char*>(input->data()), input->size());
        edid = edidFromHexText(text).value_or(Bytes{});
    }
    if (!startsWithHeader(edid)) {
        std::cerr << "korvel-cli: " << fileProblem(path, "holds no EDID header (00 FF FF FF FF FF FF 00)") << '\n';
        return kExitFailure;
    }
    if (edid.size() != kEdidImageSize) {
        std::cerr << "korvel-cli: note: " << path << " holds " << edid.size() << " bytes of EDID; the EEPROM image is "
                  << (edid.size() > kEdidImageSize
                          ? "its first 256"
                          : "these, then FF from byte " + std::to_string(edid.size()) + " on, which is not judged")
                  << "\n";
        edid.resize(std::min(edid.size(), kEdidImageSize));
    }
    for (const auto& line : describeEdid(decodeEdid(edid))) std::cout << line << '\n';
    std::cout << std::flush;
    return kExitSuccess;
}

int run(Context& context, const std::string& action, Options& options) {
    if (action == "decode") {
        const auto path = options.word();
        if (!path) throw UsageError{"edid decode needs a FILE"};
        options.finish();
        return decode(*path);
    }
    auto bridge = context.bridges(kFamily.firmware);
    ImageTool tool(*bridge, context.ui, kFamily);
    context.ui.onEvent = printInfo;
    int status = kExitSuccess;
    if (action != "write") {
        // A backup goes back as it was taken.
        context.ui.answer = kAnswerAsIs;
        status = imageAction(context, tool, action, options);
    } else {
        const bool fix = options.flag("--fix-checksum");
        const bool asIs = options.flag("--as-is");
        if (fix && asIs) throw UsageError{"--fix-checksum and --as-is exclude each other"};
        if (const auto input = options.peek("--input")) checkBaseBlock(*input, fix, asIs, options.has("--force"));
        // The question about a bad base block was answered by the options, before the link opened.
        context.ui.answer = fix ? kAnswerFix : kAnswerAsIs;
        status = writeImage(context, tool, options);
    }
    reportOddStatus(tool.sessions<EdidSessions>());
    return status;
}

}  // namespace

constexpr Option kFixChecksumOption{
    .name = "--fix-checksum",
    .help =
        "correct the checksum of the base block and of each extension block\n"
        "within its count before writing (the header is left alone)",
};
constexpr Option kAsIsOption{.name = "--as-is", .help = "write a base block with a bad header or checksum as it is"};
constexpr const Option* kWriteOwnOptions[] = {&kFixChecksumOption, &kAsIsOption};

constexpr cli::Action kActions[] = {
    cli::kRead.with({}, "reads the panel EEPROM, shows its hex dump and saves its 256 bytes"),
    cli::kWrite.with(kWriteOwnOptions, "writes the file's first 256 bytes (a shorter file is padded with FF)"),
    cli::kVerify.with({},
                      "reads the EEPROM and compares it with the file; a file of another size is compared\n"
                      "as far as both go and never simply passes"),
    cli::kRestore,
    {.name = "decode",
     .words = "FILE|-",
     .help = "prints the summary of an EDID (binary, or hex text as edid-decode or xrandr --verbose\n"
             "print it; - reads standard input); no programmer"},
};

const cli::Tool kCliTool{.family = &kFamily, .actions = kActions, .run = run};
KJ_REGISTER(cli::Tool, kCliTool)

}  // namespace kj::edid
