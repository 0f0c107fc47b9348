// What every window of the program shares: the bridge it opens the programmer
// through, the desktop services, the way back to the launcher, and the look of
// its controls.
#pragma once

#include <QColor>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>

#include "common/desktop.h"
#include "link/bridge.h"

namespace kj {

struct AppContext {
    BridgeFactory bridges;
    Desktop& desktop;
};

class ToolWindow : public QWidget {
    Q_OBJECT
public:
    ToolWindow(AppContext& context, QWidget* launcher, const QString& caption, std::string_view family);
    Bridge& bridge() { return *bridge_; }

protected:
    void showEvent(QShowEvent* event) override;
    // The launcher first, then this window.
    void showLauncherAndHide();
    AppContext& context_;
    QWidget* launcher_;

private:
    std::unique_ptr<Bridge> bridge_;
    bool placed_ = false;
};

// Controls with the look the windows share.
QFont courier(int pixelSize, bool bold = false);
QPushButton* makeButton(QWidget* parent, const QString& objectName, const QString& caption,
                        const QColor& textColour = Qt::black, int pixelSize = 16, bool bold = true);
QPlainTextEdit* makeMemo(QWidget* parent, const QString& objectName, int pixelSize = 13);
// Minimise as the only border icon: no close box.
void setMinimiseOnly(QWidget* window);
// Places a window of its final size in the middle of its screen.
void centreOnScreen(QWidget* window);

}  // namespace kj
