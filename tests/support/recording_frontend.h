// A Frontend that records what an operation shows, for tests: log lines,
// gauge changes, error boxes and button states, with scripted file choices.
#pragma once

#include "common/digest.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/frontend.h"

namespace kjtest {

class RecordingFrontend : public kj::Frontend {
public:
    void log(std::string_view line) override {
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
    }
    void clearLog() override {
        std::lock_guard lock(mutex_);
        lines_.clear();
        ++clears_;
    }
    // Gauge 0's colours and values; a second gauge's values apart.
    void setGaugeColour(kj::Rgb colour, int gauge = 0) override {
        std::lock_guard lock(mutex_);
        if (gauge == 0) colours_.push_back(colour);
    }
    void setGaugeProgress(int value, int maximum, int gauge = 0) override {
        std::lock_guard lock(mutex_);
        if (gauge != 0) {
            lastOther_ = value;
            return;
        }
        progress_.push_back(value);
        maximum_ = maximum;
    }
    // Answers the next dialog with the next scripted choice (nullopt = cancelled).
    std::optional<std::string> chooseFile(const kj::FileDialogSpec& spec) override {
        std::lock_guard lock(mutex_);
        dialogs_.push_back(spec);
        if (choices_.empty()) return std::nullopt;
        auto choice = choices_.front();
        choices_.pop_front();
        return choice;
    }
    void errorBox(std::string_view text) override {
        std::lock_guard lock(mutex_);
        errors_.emplace_back(text);
    }
    // Yes, unless the test scripted another answer.
    bool confirm(std::string_view question, kj::Ask) override {
        std::lock_guard lock(mutex_);
        questions_.emplace_back(question);
        if (answers_.empty()) return true;
        const bool answer = answers_.front();
        answers_.pop_front();
        return answer;
    }
    // The scripted answer's index, else the first answer, as a yes.
    std::optional<size_t> choose(std::string_view question, const std::vector<std::string>& answers) override {
        std::lock_guard lock(mutex_);
        questions_.emplace_back(question);
        if (choiceAnswers_.empty()) return answers.empty() ? std::nullopt : std::optional<size_t>(0);
        const auto answer = choiceAnswers_.front();
        choiceAnswers_.pop_front();
        return answer;
    }
    void show(const std::any& event) override {
        std::lock_guard lock(mutex_);
        shown_.push_back(event);
    }
    void phase(kj::Phase phase) override {
        {
            std::lock_guard lock(mutex_);
            phases_.push_back(phase);
        }
        if (onPhase) onPhase(phase);
    }
    // Set before the operation starts: what happens outside as a phase begins.
    std::function<void(kj::Phase)> onPhase;
    // The board or job, set before the operation starts.
    std::string jobLabel;
    std::string job() const override { return jobLabel; }
    void operationStarted(std::string_view name) override {
        std::lock_guard lock(mutex_);
        events_.push_back("started " + std::string(name));
    }
    void operationEnded() override {
        std::lock_guard lock(mutex_);
        events_.push_back("ended");
    }
    void showVerdict(const kj::Verdict& verdict) override {
        std::lock_guard lock(mutex_);
        verdicts_.push_back(verdict.text());
    }

    void chooseNext(std::optional<std::string> path) {
        std::lock_guard lock(mutex_);
        choices_.push_back(std::move(path));
    }
    void chooseAnswerNext(std::optional<size_t> answer) {
        std::lock_guard lock(mutex_);
        choiceAnswers_.push_back(answer);
    }
    // What the families showed of their own, of type `Event`.
    template <class Event>
    std::vector<Event> shown() const {
        std::lock_guard lock(mutex_);
        std::vector<Event> found;
        for (const auto& event : shown_)
            if (const auto* e = std::any_cast<Event>(&event)) found.push_back(*e);
        return found;
    }
    std::vector<kj::Phase> phases() const {
        std::lock_guard lock(mutex_);
        return phases_;
    }
    void answerNext(bool yes) {
        std::lock_guard lock(mutex_);
        answers_.push_back(yes);
    }
    std::vector<std::string> questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }
    int otherGauge() const {
        std::lock_guard lock(mutex_);
        return lastOther_;
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<int> progress() const {
        std::lock_guard lock(mutex_);
        return progress_;
    }
    std::vector<kj::Rgb> colours() const {
        std::lock_guard lock(mutex_);
        return colours_;
    }
    std::vector<std::string> errors() const {
        std::lock_guard lock(mutex_);
        return errors_;
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<kj::FileDialogSpec> dialogs() const {
        std::lock_guard lock(mutex_);
        return dialogs_;
    }
    std::vector<std::string> verdicts() const {
        std::lock_guard lock(mutex_);
        return verdicts_;
    }
    int clears() const {
        std::lock_guard lock(mutex_);
        return clears_;
    }
    int maximum() const {
        std::lock_guard lock(mutex_);
        return maximum_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::vector<kj::Rgb> colours_;
    std::vector<int> progress_;
    std::vector<std::string> errors_;
    std::vector<std::string> events_;
    std::vector<kj::FileDialogSpec> dialogs_;
    std::deque<std::optional<std::string>> choices_;
    std::deque<bool> answers_;
    std::deque<std::optional<size_t>> choiceAnswers_;
    std::vector<std::any> shown_;
    std::vector<kj::Phase> phases_;
    std::vector<std::string> questions_;
    std::vector<std::string> verdicts_;
    int lastOther_ = 0;
    int clears_ = 0;
    int maximum_ = 0;
};

// Lines with the time of day masked, so that logs compare exactly.
inline std::vector<std::string> maskTimes(std::vector<std::string> lines) {
    for (auto& line : lines) {
        for (const std::string prefix : {"Current time  ", "Текущее время  "}) {
            if (line.rfind(prefix, 0) == 0 && line.size() == prefix.size() + 8) line = prefix + "HH:MM:SS";
        }
    }
    return lines;
}

// The fingerprint line an image is logged with: "Read: 131072 bytes, CRC32 …, SHA-256 …".
inline std::string imageLine(const std::string& label, const std::vector<uint8_t>& image,
                             const std::string& bytes = " bytes") {
    return label + ": " + std::to_string(image.size()) + bytes + ", CRC32 " + kj::crc32Hex(image) + ", SHA-256 " +
           kj::sha256Hex(image);
}

// The line that ends a read the net makes for itself: "Read-back: done, 256 bytes, CRC32 …, SHA-256 …".
inline std::string doneLine(const std::string& label, const std::vector<uint8_t>& image,
                            const std::string& done = ": done, ", const std::string& bytes = " bytes") {
    return label + done + std::to_string(image.size()) + bytes + ", CRC32 " + kj::crc32Hex(image) + ", SHA-256 " +
           kj::sha256Hex(image);
}

// The last `n` lines.
inline std::vector<std::string> tail(const std::vector<std::string>& lines, size_t n) {
    return {lines.end() - static_cast<long>(std::min(n, lines.size())), lines.end()};
}

}  // namespace kjtest
