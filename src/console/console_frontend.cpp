#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "console/console.h"

namespace kj::cli {

namespace {

constexpr int kBarWidth = 40;
using Clock = std::chrono::steady_clock;

const char* phaseName(Rgb colour) {
    if (colour == kRed) return "writing";
    if (colour == kYellow) return "verifying";
    return "reading";
}

// "12 s left  ", told from the pace so far once there is a pace to tell.
std::string timeLeft(int value, int maximum, double seconds) {
    if (value <= 0 || value >= maximum || seconds <= 0) return {};
    const double left = seconds * (maximum - value) / value;
    return std::to_string(static_cast<long>(left + 0.5)) + " s left  ";
}

}  // namespace

// A reader that went away or a full disk loses these lines, never the operation;
// the stream is cleared so that the next line is tried again.
void ConsoleFrontend::log(std::string_view line) {
    clearBar();
    std::cout << line << '\n' << std::flush;
    std::cout.clear();
}

void ConsoleFrontend::clearBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", stderr);
    barShown_ = false;
    shownFill_ = shownPercent_ = -1;
    shownTenths_ = -1;
}

void ConsoleFrontend::setGaugeColour(Rgb colour, int gauge) {
    if (gauge != 0) return;
    phase_ = colour;
    phaseStart_ = Clock::now();
}

// Drawn only on a terminal, and only when what it shows has changed (at most
// ten times a second for the clock): an operation may report progress per byte.
void ConsoleFrontend::setGaugeProgress(int value, int maximum, int gauge) {
    if (gauge != 0 || maximum <= 0 || !isatty(STDERR_FILENO)) return;
    const int fill = static_cast<int>(static_cast<long long>(kBarWidth) * value / maximum);
    const int percent = static_cast<int>(100LL * value / maximum);
    const double seconds = std::chrono::duration<double>(Clock::now() - phaseStart_).count();
    const long tenths = static_cast<long>(seconds * 10);
    if (fill == shownFill_ && percent == shownPercent_ && tenths == shownTenths_) return;
    shownFill_ = fill;
    shownPercent_ = percent;
    shownTenths_ = tenths;
    std::string bar(static_cast<size_t>(std::clamp(fill, 0, kBarWidth)), '#');
    bar.resize(kBarWidth, '.');
    std::string rate;
    if (imageBytes > 0 && seconds > 0) {
        const double kib = static_cast<double>(imageBytes) * value / maximum / 1024.0;
        rate = std::to_string(static_cast<long>(kib / seconds)) + " KiB/s";
    }
    std::fprintf(stderr, "\r%-9s [%s] %3d%%  %5.1f s  %s%s\033[K", phaseName(phase_), bar.c_str(), percent, seconds,
                 timeLeft(value, maximum, seconds).c_str(), rate.c_str());
    std::fflush(stderr);
    barShown_ = true;
}

std::optional<std::string> ConsoleFrontend::chooseFile(const FileDialogSpec& spec) {
    return spec.kind == FileDialogSpec::Kind::Save ? outputFile : inputFile;
}

// The verdict is the last log line; a warning is also said where a script looks.
void ConsoleFrontend::showVerdict(const Verdict& verdict) {
    if (verdict.kind != Verdict::Kind::Warning) return;
    clearBar();
    std::cerr << "korvel-cli: warning: " << verdict.reason << '\n' << std::flush;
    std::cerr.clear();
}

void ConsoleFrontend::errorBox(std::string_view text) {
    clearBar();
    std::string message = boxIn(text, language);
    for (size_t at = 0; (at = message.find('\n', at)) != std::string::npos; at += 2) message.replace(at, 1, "\n  ");
    std::cerr << "korvel-cli: error: " << message << '\n' << std::flush;
    std::cerr.clear();
}

// A command asks nothing: what it may do its options said, and they were
// checked before the link opened.
bool ConsoleFrontend::confirm(std::string_view question, Ask about) {
    std::string_view allowedBy;
    switch (about) {
        case Ask::Destroy:
        case Ask::BlankChip:
        case Ask::EraseFirst: return true;
        case Ask::ImageSize: allowedBy = anySize; break;
        case Ask::BlankImage: allowedBy = allowBlank; break;
    }
    if (allowedBy.empty()) return false;
    clearBar();
    std::string text(question);
    for (auto& c : text) c = c == '\n' ? ' ' : c;
    std::cerr << "korvel-cli: " << text << " yes (" << allowedBy << ")\n" << std::flush;
    return true;
}

std::optional<size_t> ConsoleFrontend::choose(std::string_view question, const std::vector<std::string>& answers) {
    if (!answer || *answer >= answers.size()) return std::nullopt;
    clearBar();
    std::string text(question);
    for (auto& c : text) c = c == '\n' ? ' ' : c;
    std::cerr << "korvel-cli: " << text << " " << answers[*answer] << '\n' << std::flush;
    return answer;
}

void ConsoleFrontend::operationStarted(std::string_view) {
    shownFill_ = shownPercent_ = -1;
    phaseStart_ = Clock::now();
}

void ConsoleFrontend::operationEnded() {
    if (barShown_) std::fputs("\n", stderr);
    barShown_ = false;
}

}  // namespace kj::cli
