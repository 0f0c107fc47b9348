// A Desktop whose file dialogs and error boxes are answered by the test.
#pragma once

#include <deque>
#include <optional>

#include "gui/desktop.h"

namespace kjtest {

class ScriptedDesktop : public kj::Desktop {
public:
    std::deque<std::optional<QString>> choices;  // nullopt = the user cancels
    std::vector<kj::FileDialogSpec> dialogs;
    QStringList errors;
    QStringList questions;
    std::deque<bool> answers;  // empty: yes

    std::optional<QString> runFileDialog(QWidget*, const kj::FileDialogSpec& spec,
                                         const std::function<void()>& canClose) override {
        dialogs.push_back(spec);
        if (choices.empty() || !choices.front()) {
            if (!choices.empty()) choices.pop_front();
            return std::nullopt;
        }
        auto path = choices.front();
        choices.pop_front();
        canClose();
        return path;
    }
    void errorBox(QWidget*, const QString& text) override { errors << text; }
    std::deque<std::optional<size_t>> choices_made;  // empty: the first answer, as a yes
    std::optional<size_t> choose(QWidget*, const QString& text, const QStringList& answers) override {
        questions << text;
        if (choices_made.empty()) return answers.isEmpty() ? std::nullopt : std::optional<size_t>(0);
        const auto answer = choices_made.front();
        choices_made.pop_front();
        return answer;
    }
    QStringList shownFolders;  // the files whose folders were shown
    void showInFolder(const QString& path) override { shownFolders << path; }
    bool question(QWidget*, const QString& text) override {
        questions << text;
        if (answers.empty()) return true;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
};

}  // namespace kjtest
