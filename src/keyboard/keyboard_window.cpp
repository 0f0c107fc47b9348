#include "keyboard/keyboard_window.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{keyboard::kFamily, makeToolWindow<KeyboardWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
constexpr int kWidth = 888;
constexpr int kHeight = 879;
constexpr int kCellWidth = 17;
constexpr int kCellHeight = 15;
constexpr int kCellPitch = 24;
constexpr int kGroupGap = 8;  // after every fifth row and column
constexpr int kGroupSize = 5;
constexpr int kGridTop = 16;
constexpr int kSideWidth = 420;
const QColor kNavy(0, 0, 0x80);

int cellLeft(int b) { return kCellPitch * (b - 1) + kGroupGap * ((b - 1) / kGroupSize); }
int cellTop(int a) { return kGridTop + kCellPitch * a + kGroupGap * ((a - 1) / kGroupSize); }

QString shapeName(int a, int b) { return QStringLiteral("Shape%1").arg(cellNumber(a, b)); }

QColor qColour(CellColour colour) {
    const Rgb rgb = toRgb(colour);
    return QColor(rgb.r, rgb.g, rgb.b);
}

CellColour cellColour(const QColor& brush) {
    if (brush == qColour(CellColour::Red)) return CellColour::Red;
    if (brush == qColour(CellColour::Yellow)) return CellColour::Yellow;
    return CellColour::Aqua;
}

template <class F>
void forEachPair(F&& f) {
    for (int a = 1; a < kKeyboardLines; ++a) {
        for (int b = a + 1; b <= kKeyboardLines; ++b) f(a, b);
    }
}

// The column numbers: its text is the row of numbers, and each number is drawn
// centred over its own column whatever the font's width.
class ColumnNumbers : public QLabel {
public:
    ColumnNumbers(const QString& text, QWidget* parent) : QLabel(text, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        const QFontMetrics metrics(font());
        static const QRegularExpression number(QStringLiteral("\\d+"));
        for (auto it = number.globalMatch(text()); it.hasNext();) {
            const QString digits = it.next().captured();
            const int centre = cellLeft(digits.toInt()) + kCellWidth / 2 - x();
            const int width = metrics.horizontalAdvance(digits);
            painter.drawText(QRect(centre - width / 2, 0, width, height()), Qt::AlignCenter, digits);
        }
    }
};
}  // namespace

KeyboardWindow::KeyboardWindow(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, QStringLiteral("Keyboard_testing"), keyboard::kFamily) {
    setObjectName("Keyboard_testing");
    setCanvasSize(kWidth, kHeight);
    createCells();
    createLabels();
    createControls();

    attachFrontend(log_, {},
                   {.started =
                        [this](std::string_view) {
                            closed_.clear();
                            startButton_->setEnabled(false);
                            exitButton_->setText(QStringLiteral("STOP"));
                        },
                    .ended =
                        [this] {
                            startButton_->setEnabled(true);
                            exitButton_->setText(QStringLiteral("EXIT"));
                            appendLogLine(log_, QString::fromStdString(closed_.line()));
                        }});
    tester_ = std::make_unique<KeyboardTester>(bridge(), frontend(), static_cast<KeyboardPanel&>(*this));
    onCreate();
}

void KeyboardWindow::createCells() {
    forEachPair([this](int a, int b) {
        auto* shape = new Shape(canvas());
        shape->setObjectName(shapeName(a, b));
        shape->setGeometry(cellLeft(b), cellTop(a), kCellWidth, kCellHeight);
        shape->setBrushColor(qColour(CellColour::Aqua));
        shape->setToolTip(QStringLiteral("Lines %1").arg(QString::fromStdString(pairText(a, b))));
    });
}

void KeyboardWindow::createLabels() {
    columnNumbers_ =
        new ColumnNumbers(QStringLiteral("2       6        11        16        21        26        31"), canvas());
    columnNumbers_->setObjectName("Label_keybord");
    columnNumbers_->setFont(courier(21, true));
    columnNumbers_->setStyleSheet(QStringLiteral("color: red"));
    columnNumbers_->setGeometry(cellLeft(2) + 2, 8, cellLeft(kKeyboardLines) + 40 - cellLeft(2), 26);

    struct Row {
        const char* name;
        int row;
    };
    const Row rows[] = {{"Label1", 1},  {"Label2", 6},  {"Label3", 11}, {"Label4", 16},
                        {"Label5", 21}, {"Label7", 26}, {"Label8", 31}};
    constexpr int kLabelWidth = 48;
    constexpr int kLabelHeight = 28;
    for (const auto& r : rows) {
        auto* label = new QLabel(QString::number(r.row), canvas());
        label->setObjectName(r.name);
        label->setFont(courier(24, true));
        label->setStyleSheet(QStringLiteral("color: #000080"));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(kWidth - kLabelWidth - 12, cellTop(r.row) + kCellHeight / 2 - kLabelHeight / 2, kLabelWidth,
                           kLabelHeight);
    }
}

// The buttons, the mute box, the legend and the log stay beside the cells,
// outside the scrolled area, so that a small screen never hides them.
void KeyboardWindow::createControls() {
    QWidget* side = sidePanel(kSideWidth);
    startButton_ = makeButton(side, "START_SCAN", QStringLiteral("START SCAN"), Qt::red, 37, true);
    startButton_->setFixedHeight(64);
    clearButton_ = makeButton(side, "Clear", QStringLiteral("Clear"), QColor(0, 255, 255), 20, true);
    clearButton_->setFixedHeight(40);
    muteBox_ = new QCheckBox(QStringLiteral(" No sound"), side);
    muteBox_->setObjectName("Buzzer_box");
    muteBox_->setFont(courier(16, true));
    log_ = makeMemo(side, "Memo_keyboard");
    log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);  // the closed pairs stay in sight
    exitButton_ = makeButton(side, "EXIT_KB_TEST", QStringLiteral("EXIT"), kNavy, 24, true);
    exitButton_->setFixedHeight(56);

    auto* clearRow = new QHBoxLayout;
    clearRow->addWidget(clearButton_);
    clearRow->addWidget(muteBox_);
    auto* layout = new QVBoxLayout(side);
    layout->addWidget(startButton_);
    layout->addLayout(clearRow);
    layout->addWidget(createLegend(side));
    layout->addWidget(log_, 1);
    layout->addWidget(exitButton_);

    connect(startButton_, &QPushButton::clicked, this, &KeyboardWindow::onStart);
    connect(exitButton_, &QPushButton::clicked, this, &KeyboardWindow::onExit);
    connect(clearButton_, &QPushButton::clicked, this, &KeyboardWindow::onClear);
    connect(muteBox_, &QCheckBox::toggled, this, [this](bool checked) { muted_ = checked; });
}

// What the colours of a cell mean, each beside a cell of its colour.
QWidget* KeyboardWindow::createLegend(QWidget* parent) {
    struct Entry {
        CellColour colour;
        const char* text;
    };
    static constexpr Entry kEntries[] = {
        {.colour = CellColour::Red, .text = "red: the pair closed (reported 1, 3, 5... times)"},
        {.colour = CellColour::Yellow, .text = "yellow: closed again (reported while red)"},
        {.colour = CellColour::Aqua, .text = "aqua: not reported since Clear"},
    };
    auto* legend = new QWidget(parent);
    legend->setObjectName("Legend");
    auto* grid = new QGridLayout(legend);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int row = 0; const auto& entry : kEntries) {
        // A swatch, not a cell: the cells are the window's only shapes.
        auto* sample = new QLabel(legend);
        sample->setFixedSize(kCellWidth, kCellHeight);
        sample->setStyleSheet(QStringLiteral("background: %1; border: 1px solid black; border-radius: 3px")
                                  .arg(qColour(entry.colour).name()));
        auto* text = new QLabel(QString::fromLatin1(entry.text), legend);
        text->setObjectName(QStringLiteral("Legend_%1").arg(colourName(entry.colour)));
        text->setWordWrap(true);
        grid->addWidget(sample, row, 0);
        grid->addWidget(text, row++, 1);
    }
    return legend;
}

void KeyboardWindow::onCreate() { tester_->operation().name().setIdle(); }

void KeyboardWindow::onStart() { tester_->startScan(); }

void KeyboardWindow::onExit() {
    if (tester_->operation().name().is(kKeyboardScanning)) {
        tester_->requestStop();
        return;
    }
    showLauncherAndHide();
}

void KeyboardWindow::onClear() {
    forEachPair([this](int a, int b) { cell(a, b)->setBrushColor(qColour(CellColour::Aqua)); });
}

Shape* KeyboardWindow::cell(int a, int b) const {
    if (cellNumber(a, b) == 0) return nullptr;
    return canvas()->findChild<Shape*>(shapeName(a, b), Qt::FindDirectChildrenOnly);
}

// Read and set in one step on the window thread, so that a Clear cannot come between.
void KeyboardWindow::toggleCell(int a, int b) {
    post([this, a, b] {
        Shape* shape = cell(a, b);
        if (!shape) return;
        shape->setBrushColor(qColour(toggled(cellColour(shape->brushColor()))));
        closed_.add(a, b);
    });
}

}  // namespace kj
