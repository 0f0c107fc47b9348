// The desktop services a window asks of the user: file dialogs, error boxes,
// questions, and the file manager. Behind an interface so that tests can
// script the user's answers.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "common/frontend.h"

class QWidget;

namespace kj {

class Desktop {
public:
    virtual ~Desktop() = default;
    // Runs the dialog; `canClose` is the window's close-confirmation handler and
    // is called only when the user confirms a file.
    virtual std::optional<QString> runFileDialog(QWidget* parent, const FileDialogSpec& spec,
                                                 const std::function<void()>& canClose) = 0;
    virtual void errorBox(QWidget* parent, const QString& text) = 0;
    // A yes/no question; true for yes.
    virtual bool question(QWidget* parent, const QString& text) = 0;
    // A question with a button per answer, the last one the escape; the
    // index of the button pressed, or nothing when the box was closed.
    virtual std::optional<size_t> choose(QWidget* parent, const QString& text, const QStringList& answers) = 0;
    // The folder that holds `path`, in the system's file manager.
    virtual void showInFolder(const QString& path) = 0;
};

// The real dialogs and message boxes.
class QtDesktop : public Desktop {
public:
    std::optional<QString> runFileDialog(QWidget* parent, const FileDialogSpec& spec,
                                         const std::function<void()>& canClose) override;
    void errorBox(QWidget* parent, const QString& text) override;
    bool question(QWidget* parent, const QString& text) override;
    std::optional<size_t> choose(QWidget* parent, const QString& text, const QStringList& answers) override;
    void showInFolder(const QString& path) override;
};

// "BIN files (*.bin)|*.bin|Others|*.*" as the toolkit's name filters.
QStringList nameFilters(const std::string& filter);

}  // namespace kj
