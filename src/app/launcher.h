// The launcher: one large button per tool. Creates every window at start-up,
// hidden, and moves between them.
#pragma once

#include <QPushButton>
#include <QWidget>
#include <vector>

#include "gui/testconnect_window.h"
#include "gui/tool_window.h"
#include "operation/family.h"

namespace kj {

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(AppContext& context);
    ~TForm1() override;

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

    TTESTING* TESTING = nullptr;
    QPushButton* Exit = nullptr;
    QPushButton* Test_connect = nullptr;

    void ExitClick();
    void Test_connectClick();
    // The program ends: whatever runs ends the way a stop ends it, then the
    // windows go. Also for a quit from outside (SIGTERM, the session ending).
    void shutDown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createTools(AppContext& context);
    void placeButtons();
    // The tool first, then the launcher.
    void showTool(QWidget* tool);

    std::vector<Tool> tools_;
    bool shuttingDown_ = false;
};

}  // namespace kj
