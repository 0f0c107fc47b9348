#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/cli.h"

namespace kj::cli {

namespace {
constexpr int kBarWidth = 40;
}

void CliFrontend::log(std::string_view line) {
    if (barShown_) {
        std::fputs("\r\033[K", stderr);
        barShown_ = false;
    }
    std::cout << line << '\n' << std::flush;
}

void CliFrontend::setGaugeProgress(int value, int maximum) {
    if (!isatty(STDERR_FILENO) || maximum <= 0) return;
    const int filled = static_cast<int>(static_cast<long long>(kBarWidth) * value / maximum);
    const int percent = static_cast<int>(100LL * value / maximum);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
    std::fflush(stderr);
    barShown_ = true;
}

std::optional<std::string> CliFrontend::chooseFile(const FileDialogSpec& spec) {
    return spec.kind == FileDialogSpec::Kind::Save ? outputFile : inputFile;
}

void CliFrontend::errorBox(std::string_view text) {
    std::cerr << "error: " << text << '\n' << std::flush;
}

void CliFrontend::operationEnded() {
    if (barShown_) std::fputs("\n", stderr);
    barShown_ = false;
}

}  // namespace kj::cli
