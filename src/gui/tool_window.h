// What every window of the program shares: the bridge it opens the programmer
// through, the desktop services, the way back to the launcher, a canvas that
// scrolls when the screen is smaller than the window, and the look of its controls.
#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "gui/desktop.h"
#include "gui/safety_settings.h"
#include "link/bridge.h"
#include "operation/family.h"

namespace kj {

struct AppContext {
    BridgeFactory bridges;
    Desktop& desktop;
    SafetySettings safety{};  // shared by every window
    std::string job{};        // the board or job worked on, safe for a file name; empty: none
};

class ToolWindow : public QWidget {
    Q_OBJECT
public:
    ToolWindow(AppContext& context, QWidget* launcher, const QString& caption, std::string_view firmware);
    Bridge& bridge() { return *bridge_; }
    // Where the controls live.
    QWidget* canvas() const { return canvas_; }
    // Quitting: whatever runs ends at once, as a stop ends it.
    virtual void abortOperations() {}
    // Sized to the screen and centred before it is first shown.
    void setVisible(bool visible) override;

protected:
    // The window's EXIT: a close request from the window manager does the same.
    virtual void exitRequested() = 0;
    // A window of fixed size; it scrolls where the screen is smaller.
    void setCanvasSize(int width, int height);
    // A column of this width right of the canvas that never scrolls: for the
    // controls that must stay in reach on a small screen. Made once.
    QWidget* sidePanel(int width);
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The launcher first, then this window.
    void showLauncherAndHide();
    // What `log` shows whenever the window opens with it empty: how to connect,
    // what to expect. Shown only, never recorded: no operation said it.
    void setInstructions(QPlainTextEdit* log, std::vector<QString> lines);
    AppContext& context_;
    QWidget* launcher_;

private:
    std::unique_ptr<Bridge> bridge_;
    QScrollArea* scroll_ = nullptr;
    QWidget* canvas_ = nullptr;
    QWidget* side_ = nullptr;
    bool placed_ = false;
    QPlainTextEdit* instructionsLog_ = nullptr;
    std::vector<QString> instructions_;
};

// A tool's window, registered in its own file: the launcher makes one of each,
// with a button in the family's place.
struct WindowEntry {
    const Family& family;
    ToolWindow* (*make)(AppContext& context, QWidget* launcher);
};
template <class Window>
ToolWindow* makeToolWindow(AppContext& context, QWidget* launcher) {
    return new Window(context, launcher);
}
// Every registered window, in its family's place.
std::vector<const WindowEntry*> toolWindows();

// A log window. A footer it is given (a child, such as a verdict) sits at its
// bottom right under the text while it shows, never over the last line.
class LogView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit LogView(QWidget* parent) : QPlainTextEdit(parent) {}
    void setFooter(QWidget* footer);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeFooter();
    QWidget* footer_ = nullptr;
};

// Controls with the look the windows share.
QFont courier(int pixelSize, bool bold = false);
// A disabled button greys its caption whatever its colour.
QPushButton* makeButton(QWidget* parent, const QString& objectName, const QString& caption,
                        const QColor& textColour = Qt::black, int pixelSize = 16, bool bold = true);
QPlainTextEdit* makeMemo(QWidget* parent, const QString& objectName, int pixelSize = 13);
QString fromUtf8(std::string_view text);
// Minimise as the only border icon: no close box.
void setMinimiseOnly(QWidget* window);
// The window manager's frame around a window; until the window has been
// framed (before it is first shown), that of `framedLike`, when given.
QSize frameAround(const QWidget* window, const QWidget* framedLike);
// Places a window in the middle of its screen's available area, kept inside it,
// and shrinks it to that area where it is larger.
void centreOnScreen(QWidget* window, const QWidget* framedLike = nullptr);
// Places a window next to `anchor` on the side with more room, narrowed (down
// to `minimumWidth`) where that room is smaller than the window.
void placeBeside(QWidget* window, const QWidget* anchor, int minimumWidth);

}  // namespace kj
