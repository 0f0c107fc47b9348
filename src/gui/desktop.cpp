#include "gui/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
#include <algorithm>

namespace kj {

QStringList nameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        // The description already names its pattern in most filters; make sure the toolkit sees it.
        filters << (description.contains('(') ? description : description + " (" + parts[i + 1] + ")");
    }
    return filters;
}

namespace {

// The dialog's own places, then those given that exist. The system's own
// dialog has no room for them everywhere: given places take the toolkit's.
void offerPlaces(QFileDialog& dialog, const std::vector<std::string>& places) {
    QList<QUrl> urls;
    for (const auto& place : places) {
        const QString folder = QString::fromStdString(place);
        if (QFileInfo(folder).isDir()) urls << QUrl::fromLocalFile(folder);
    }
    if (urls.isEmpty()) return;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QList<QUrl> sidebar = dialog.sidebarUrls();
    for (const QUrl& url : urls) {
        if (!sidebar.contains(url)) sidebar << url;
    }
    dialog.setSidebarUrls(sidebar);
}

}  // namespace

std::optional<QString> QtDesktop::runFileDialog(QWidget* parent, const FileDialogSpec& spec,
                                                const std::function<void()>& canClose) {
    const bool save = spec.kind == FileDialogSpec::Kind::Save;
    QFileDialog dialog(parent, QString::fromStdString(spec.title));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(nameFilters(spec.filter));
    if (!spec.defaultExt.empty()) dialog.setDefaultSuffix(QString::fromStdString(spec.defaultExt).remove(0, 1));
    if (!spec.startFolder.empty()) dialog.setDirectory(QString::fromStdString(spec.startFolder));
    offerPlaces(dialog, spec.places);
    if (!spec.defaultName.empty()) dialog.selectFile(QString::fromStdString(spec.defaultName));
    if (save) dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    QObject::connect(&dialog, &QFileDialog::accepted, [&] { canClose(); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

// Titled as the window that raised it.
void QtDesktop::errorBox(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, parent ? parent->windowTitle() : QApplication::applicationName(), text,
                          QMessageBox::Ok);
}

bool QtDesktop::question(QWidget* parent, const QString& text) {
    const QString title = parent ? parent->windowTitle() : QApplication::applicationName();
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

std::optional<size_t> QtDesktop::choose(QWidget* parent, const QString& text, const QStringList& answers) {
    QMessageBox box(QMessageBox::Warning, parent ? parent->windowTitle() : QApplication::applicationName(), text,
                    QMessageBox::NoButton, parent);
    std::vector<QAbstractButton*> buttons;
    for (const QString& answer : answers) buttons.push_back(box.addButton(answer, QMessageBox::AcceptRole));
    if (!buttons.empty()) {
        box.setDefaultButton(static_cast<QPushButton*>(buttons.back()));
        box.setEscapeButton(buttons.back());
    }
    box.exec();
    const auto pressed = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    if (pressed == buttons.end()) return std::nullopt;
    return static_cast<size_t>(pressed - buttons.begin());
}

void QtDesktop::showInFolder(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

}  // namespace kj
