// korvel-window-bench --port PATH (read OUT | write IN): the KB90xx window,
// offscreen, runs one read or write through its buttons over a serial port,
// the file dialogs answered with the path given. Exit 0 when it succeeded.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <string>

#include "kb90xx/kb90xx_window.h"
#include "link/system_bridge.h"

namespace {

class GivenFile : public kj::Desktop {
public:
    explicit GivenFile(QString path) : path_(std::move(path)) {}
    std::optional<QString> runFileDialog(QWidget*, const kj::FileDialogSpec&,
                                         const std::function<void()>& canClose) override {
        canClose();
        return path_;
    }
    void errorBox(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    bool question(QWidget*, const QString&) override { return true; }
    std::optional<size_t> choose(QWidget*, const QString&, const QStringList&) override { return 0; }
    void showInFolder(const QString&) override {}

private:
    QString path_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || std::string(argv[1]) != "--port" ||
        (std::string(argv[3]) != "read" && std::string(argv[3]) != "write")) {
        std::fputs("usage: korvel-window-bench --port PATH (read OUT | write IN)\n", stderr);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GivenFile desktop(QString::fromLocal8Bit(argv[4]));
    const std::string port = argv[2];
    kj::AppContext context{
        [port](std::string_view) -> std::unique_ptr<kj::Bridge> { return kj::makePortBridge({port}); }, desktop};
    QWidget launcher;
    kj::Kb90xxWindow window(context, &launcher);
    window.show();
    auto* button = window.findChild<QPushButton*>(std::string(argv[3]) == "read" ? "KB901X_READ" : "KB901X_WRITE");
    auto* exitButton = window.findChild<QPushButton*>("EXIT_KB901X");
    QTimer::singleShot(0, button, &QPushButton::click);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.tool().operation().idle() && exitButton->isEnabled()) app.quit();
    });
    poll.start(20);
    QApplication::exec();
    return window.tool().operation().lastSucceeded() ? 0 : 1;
}
