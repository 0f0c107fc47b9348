// The launcher: one large button per tool. Creates every window at start-up,
// hidden, and moves between them.
#pragma once

#include <QPushButton>
#include <QScrollArea>
#include <QWidget>
#include <vector>

#include "gui/history_window.h"
#include "gui/testconnect_window.h"
#include "gui/tool_window.h"
#include "operation/family.h"

namespace kj {

class Launcher : public QWidget {
    Q_OBJECT
public:
    explicit Launcher(AppContext& context);
    ~Launcher() override;

    struct Tool {
        const WindowEntry* entry;
        QPushButton* button;
        ToolWindow* window;
    };
    // In the order of the buttons, top to bottom.
    const std::vector<Tool>& tools() const { return tools_; }
    template <class Window>
    Window* window() const {
        for (const auto& tool : tools_) {
            if (auto* found = dynamic_cast<Window*>(tool.window)) return found;
        }
        return nullptr;
    }
    ConnectionTestWindow* connectionTest() const { return connectionTest_; }
    // Made on the first click of History.
    HistoryWindow* history() const { return history_; }

    // The Exit button.
    void onExit();
    // The program ends: whatever runs ends the way a stop ends it, then the
    // windows go. Also for a quit from outside (SIGTERM, the session ending).
    void shutDown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AppContext& context_;
    ConnectionTestWindow* connectionTest_ = nullptr;
    HistoryWindow* history_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QPushButton* historyButton_ = nullptr;

    void takeJob();
    void onTestConnect();
    void onHistory();
    void createTools(AppContext& context);
    void placeButtons();
    void fitToScreen();
    // The tool first, then the launcher.
    void showTool(QWidget* tool);

    std::vector<Tool> tools_;
    bool shuttingDown_ = false;
};

}  // namespace kj
