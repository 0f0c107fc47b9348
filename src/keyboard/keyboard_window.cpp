#include "keyboard/keyboard_window.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QVBoxLayout>

#include "common/registry.h"

namespace kj {

namespace {
const WindowEntry kWindow{keyboard::kFamily, makeToolWindow<KeyboardWindow>};
}  // namespace
KJ_REGISTER(WindowEntry, kWindow)

namespace {
using Rows = KeyboardWindow::Rows;

constexpr int kWidth = 888;
constexpr int kHeight = 879;
constexpr int kCellWidth = 17;
constexpr int kCellHeight = 15;
constexpr int kCellPitch = 24;
constexpr int kGroupGap = 8;  // after every fifth row and column
constexpr int kGroupSize = 5;
constexpr int kFirstRowTop = 40;
constexpr int kMinRowPitch = kCellHeight + 2;
constexpr int kMargin = 8;
constexpr int kSideWidth = 420;
// The pairs closed so far sit in the empty corner under the triangle, from this row down.
constexpr int kPairsPanelRow = 14;
const QColor kNavy(0, 0, 0x80);
const QString kNoProfile = QStringLiteral("No profile");

int cellLeft(int b) { return kCellPitch * (b - 1) + kGroupGap * ((b - 1) / kGroupSize); }
int cellTop(int a, Rows rows) { return kFirstRowTop + rows.pitch * (a - 1) + rows.gap * ((a - 1) / kGroupSize); }
int gridBottom(Rows rows) { return cellTop(kKeyboardLines - 1, rows) + kCellHeight; }

// The form's rows where the room allows them, else the widest that fit;
// the closest rows still leave a gap between cells, and scroll if they must.
Rows rowsFor(int room) {
    Rows rows;
    if (room >= kHeight) return rows;
    for (rows.pitch = kCellPitch - 1; rows.pitch > kMinRowPitch; --rows.pitch) {
        rows.gap = rows.pitch / 3;
        if (gridBottom(rows) + kMargin <= room) break;
    }
    rows.gap = rows.pitch / 3;
    return rows;
}

QString shapeName(int a, int b) { return QStringLiteral("Shape%1").arg(cellNumber(a, b)); }

QColor qColour(CellColour colour) {
    const Rgb rgb = toRgb(colour);
    return QColor(rgb.r, rgb.g, rgb.b);
}

QString cellTip(LinePair pair, const std::string& key) {
    const QString lines = QStringLiteral("Lines %1").arg(QString::fromStdString(pairText(pair)));
    return key.empty() ? lines : fromUtf8(key) + ": " + lines.toLower();
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

QLabel* wrappedLabel(const QString& text, QWidget* parent, const QString& name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    return label;
}
}  // namespace

KeyboardWindow::KeyboardWindow(AppContext& context, QWidget* launcher)
    : ChipWindow(context, launcher, keyboard::kFamily) {
    build({
        .name = "Keyboard_testing",
        .caption = QStringLiteral("Keyboard_testing"),
        .buttons =
            {
                {.name = "START_SCAN",
                 .caption = QStringLiteral("START SCAN"),
                 .handler = [this] { onStart(); },
                 .colour = Qt::red,
                 .pixelSize = 37,
                 .slot = &startButton_},
                {.name = "Clear",
                 .caption = QStringLiteral("Clear"),
                 .handler = [this] { tester_->clear(); },
                 .colour = QColor(0, 255, 255),
                 .pixelSize = 20,
                 .slot = &clearButton_},
                // "STOP" while scanning.
                {.name = "EXIT_KB_TEST",
                 .caption = QStringLiteral("EXIT"),
                 .does = Does::Exit,
                 .colour = kNavy,
                 .pixelSize = 24,
                 .slot = &exitButton_},
            },
        .log = {.name = "Memo_keyboard"},
        .layout = Layout::Own,
        .exit = {.stops = true},
        .hooks = {.started =
                      [this](std::string_view) {
                          closedList_->clear();
                          keysLeft_->setVisible(!learning_ && !profile_.profile.keys.empty());
                          scanning(true);
                      },
                  .ended =
                      [this] {
                          scanning(false);
                          if (learning_) nameCells(profile_.profile);  // what was learnt but not saved goes
                      }},
    });
    createCells();
    createLabels();
    createPairsPanel();
    createControls();
    placeRows({});
    showEvents();
    tester_ = std::make_unique<KeyboardTester>(bridge(), frontend());
    listProfiles({});
    onCreate();
}

void KeyboardWindow::createCells() {
    forEachPair([this](int a, int b) {
        auto* shape = new Shape(canvas());
        shape->setObjectName(shapeName(a, b));
        shape->setBrushColor(qColour(CellColour::Aqua));
        shape->setToolTip(cellTip({a, b}, {}));
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
    for (const auto& r : rows) {
        auto* label = new QLabel(QString::number(r.row), canvas());
        label->setObjectName(r.name);
        label->setFont(courier(24, true));
        label->setStyleSheet(QStringLiteral("color: #000080"));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rowNumbers_.push_back({label, r.row});
    }
}

// The cells, the row numbers and the corner of closed pairs, for rows so spaced.
void KeyboardWindow::placeRows(Rows rows) {
    forEachPair([&](int a, int b) { cell(a, b)->setGeometry(cellLeft(b), cellTop(a, rows), kCellWidth, kCellHeight); });
    constexpr int kLabelWidth = 48;
    constexpr int kLabelHeight = 28;
    for (const auto& [label, row] : rowNumbers_) {
        label->setGeometry(kWidth - kLabelWidth - 12, cellTop(row, rows) + kCellHeight / 2 - kLabelHeight / 2,
                           kLabelWidth, kLabelHeight);
    }
    const bool form = rows.pitch == Rows{}.pitch;
    const int height = form ? kHeight : gridBottom(rows) + kMargin;
    const int top = cellTop(kPairsPanelRow, rows);
    const int right = cellLeft(kPairsPanelRow + 1) - 2 * kMargin;
    pairsPanel_->setGeometry(kMargin, top, right - kMargin, height - top - kMargin);
    setCanvasSize(kWidth, height);
}

void KeyboardWindow::setVisible(bool visible) {
    if (visible && !fitted_ && screen()) {
        fitted_ = true;
        const int room = screen()->availableGeometry().height() - frameAround(this, launcher_).height();
        if (room < kHeight) placeRows(rowsFor(room));
    }
    ChipWindow::setVisible(visible);
}

// Each pair once, newest last, as the scan closes it; and, with a profile,
// the keys still to press.
void KeyboardWindow::createPairsPanel() {
    pairsPanel_ = new QWidget(canvas());
    pairsPanel_->setObjectName("Pairs_panel");
    closedList_ = new QListWidget(pairsPanel_);
    closedList_->setObjectName("Closed_pairs");
    closedList_->setFont(courier(14, true));
    closedList_->setSelectionMode(QAbstractItemView::NoSelection);
    keysLeft_ = wrappedLabel({}, pairsPanel_, "Keys_left");
    keysLeft_->hide();
    auto* layout = new QVBoxLayout(pairsPanel_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Closed pairs, newest last:"), pairsPanel_));
    layout->addWidget(closedList_, 1);
    layout->addWidget(keysLeft_);
}

// The buttons, the mute box, the profiles, the legend and the log stay beside
// the cells, outside the scrolled area, so that a small screen never hides them.
void KeyboardWindow::createControls() {
    QWidget* side = sidePanel(kSideWidth);
    startButton_->setFixedHeight(56);
    clearButton_->setFixedHeight(36);
    muteBox_ = new QCheckBox(QStringLiteral(" No sound"), side);
    muteBox_->setObjectName("Buzzer_box");
    muteBox_->setFont(courier(16, true));
    log()->setLineWrapMode(QPlainTextEdit::WidgetWidth);  // the closed pairs stay in sight
    exitButton_->setFixedHeight(48);

    auto* clearRow = new QHBoxLayout;
    clearRow->addWidget(clearButton_);
    clearRow->addWidget(muteBox_);
    auto* layout = new QVBoxLayout(side);
    layout->addWidget(startButton_);
    layout->addLayout(clearRow);
    layout->addWidget(jobField());
    layout->addWidget(createProfileRow(side));
    layout->addWidget(createLearnBox(side));
    layout->addWidget(createLegend(side));
    layout->addWidget(log(), 1);
    layout->addWidget(exitButton_);

    connect(muteBox_, &QCheckBox::toggled, this, [this](bool checked) { tester_->setMuted(checked); });
}

QWidget* KeyboardWindow::createProfileRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    profileBox_ = new QComboBox(row);
    profileBox_->setObjectName("Keyboard_profile");
    profileBox_->setToolTip(QStringLiteral("The keyboard model whose keys name the pairs"));
    learnButton_ = makeButton(row, "Learn", QStringLiteral("Learn"), kNavy, 16, true);
    learnButton_->setToolTip(QStringLiteral("Learn a keyboard model: press each key asked for"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Keyboard:"), row));
    layout->addWidget(profileBox_, 1);
    layout->addWidget(learnButton_);
    connect(profileBox_, &QComboBox::activated, this, &KeyboardWindow::onProfileChosen);
    connect(learnButton_, &QPushButton::clicked, this, &KeyboardWindow::onLearn);
    return row;
}

// While learning: the key to press, the model's name, Skip and Finish.
QWidget* KeyboardWindow::createLearnBox(QWidget* parent) {
    learnBox_ = new QWidget(parent);
    learnBox_->setObjectName("Learn_box");
    prompt_ = wrappedLabel({}, learnBox_, "Learn_prompt");
    prompt_->setFont(courier(20, true));
    modelName_ = new QLineEdit(learnBox_);
    modelName_->setObjectName("Model_name");
    modelName_->setPlaceholderText(QStringLiteral("the keyboard's model, e.g. Lenovo G580"));
    auto* skip = makeButton(learnBox_, "Skip", QStringLiteral("Skip"), Qt::black, 16, true);
    auto* finish = makeButton(learnBox_, "Finish", QStringLiteral("Finish"), kNavy, 16, true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("Model:"), learnBox_));
    buttons->addWidget(modelName_, 1);
    buttons->addWidget(skip);
    buttons->addWidget(finish);
    auto* layout = new QVBoxLayout(learnBox_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(prompt_);
    layout->addLayout(buttons);
    learnBox_->hide();
    connect(skip, &QPushButton::clicked, this, [this] { tester_->skipKey(); });
    connect(finish, &QPushButton::clicked, this, &KeyboardWindow::onFinish);
    return learnBox_;
}

// What the colours of a cell mean, each beside a swatch of its colour.
QWidget* KeyboardWindow::createLegend(QWidget* parent) {
    struct Entry {
        CellColour colour;
        const char* text;
    };
    static constexpr Entry kEntries[] = {
        {.colour = CellColour::Aqua, .text = "aqua: not reported since Clear"},
        {.colour = CellColour::Red, .text = "red: the pair closed (reported 1, 3, 5... times)"},
        {.colour = CellColour::Yellow, .text = "yellow: closed again (reported while red)"},
        {.colour = CellColour::Short,
         .text = "short?: closed already when the scan began: a short in the keyboard or the connector"},
    };
    auto* legend = new QWidget(parent);
    legend->setObjectName("Legend");
    auto* grid = new QGridLayout(legend);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2);
    for (int row = 0; const auto& entry : kEntries) {
        // A swatch, not a cell: the cells are the window's only shapes.
        auto* sample = new QLabel(legend);
        sample->setFixedSize(kCellWidth, kCellHeight);
        sample->setStyleSheet(QStringLiteral("background: %1; border: 1px solid black; border-radius: 3px")
                                  .arg(qColour(entry.colour).name()));
        auto* text = wrappedLabel(QString::fromLatin1(entry.text), legend,
                                  QStringLiteral("Legend_%1").arg(colourName(entry.colour)));
        grid->addWidget(sample, row, 0, Qt::AlignTop);
        grid->addWidget(text, row++, 1);
    }
    return legend;
}

// The scan's events, each painted as it comes, in order with the lines.
void KeyboardWindow::showEvents() {
    onEvent<keyboard::CellEvent>([this](const keyboard::CellEvent& event) {
        Shape* shape = cell(event.pair.a, event.pair.b);
        shape->setBrushColor(qColour(event.colour));
        if (!event.key.empty()) shape->setToolTip(cellTip(event.pair, event.key));
    });
    onEvent<keyboard::CellsCleared>([this](const keyboard::CellsCleared&) {
        forEachPair([this](int a, int b) { cell(a, b)->setBrushColor(qColour(CellColour::Aqua)); });
    });
    onEvent<keyboard::PairClosed>([this](const keyboard::PairClosed& event) {
        auto* item = new QListWidgetItem(fromUtf8(event.text), closedList_);
        if (event.isShort) item->setBackground(qColour(CellColour::Short));
        closedList_->scrollToBottom();
    });
    onEvent<keyboard::KeysLeft>([this](const keyboard::KeysLeft& event) { showKeysLeft(event.keys); });
    onEvent<keyboard::LearnPrompt>([this](const keyboard::LearnPrompt& event) {
        prompt_->setText(event.key.empty() ? QStringLiteral("Every key asked for: name the model, then Finish.")
                                           : QStringLiteral("Press %1").arg(fromUtf8(event.key)));
    });
    onEvent<keyboard::ProfileSaved>([this](const keyboard::ProfileSaved& event) {
        listProfiles(fromUtf8(event.model));
        onProfileChosen(profileBox_->currentIndex());
    });
}

void KeyboardWindow::showKeysLeft(const std::vector<std::string>& left) {
    QStringList keys;
    for (const auto& key : left) keys << fromUtf8(key);
    keysLeft_->setText(keys.isEmpty() ? QStringLiteral("Every key pressed.")
                                      : QStringLiteral("Not pressed (%1): %2").arg(keys.size()).arg(keys.join(' ')));
    keysLeft_->show();
}

void KeyboardWindow::scanning(bool on) {
    startButton_->setEnabled(!on);
    learnButton_->setEnabled(!on);
    profileBox_->setEnabled(!on);
    exitButton_->setText(on ? QStringLiteral("STOP") : QStringLiteral("EXIT"));
    learnBox_->setVisible(on && learning_);
}

void KeyboardWindow::listProfiles(const QString& selected) {
    profileBox_->clear();
    profileBox_->addItem(kNoProfile);
    for (const auto& model : savedProfiles()) profileBox_->addItem(fromUtf8(model));
    profileBox_->setCurrentIndex(std::max(0, profileBox_->findText(selected)));
}

void KeyboardWindow::onProfileChosen(int index) {
    profile_ = {};
    keysLeft_->hide();
    if (index > 0) {
        std::string error;
        if (auto loaded = loadProfile(profileBox_->itemText(index).toStdString(), error)) {
            profile_ = std::move(*loaded);
        } else {
            context_.desktop.errorBox(this, fromUtf8(error));
            listProfiles({});
        }
    }
    nameCells(profile_.profile);
    if (profile_.profile.keys.empty()) return;
    std::vector<std::string> keys;
    for (const auto& entry : profile_.profile.keys) keys.push_back(entry.key);
    showKeysLeft(keys);
}

void KeyboardWindow::nameCells(const KeyboardProfile& profile) {
    forEachPair([this](int a, int b) { cell(a, b)->setToolTip(cellTip({a, b}, {})); });
    for (const auto& [key, pair] : profile.keys) cell(pair.a, pair.b)->setToolTip(cellTip(pair, key));
}

void KeyboardWindow::onCreate() { tester_->operation().name().setIdle(); }

void KeyboardWindow::onStart() {
    learning_ = false;
    tester_->startScan(profile_);
}

void KeyboardWindow::onLearn() {
    learning_ = true;
    if (modelName_->text().isEmpty() && !profile_.profile.model.empty())
        modelName_->setText(fromUtf8(profile_.profile.model));
    tester_->startLearning(laptopKeys());
}

void KeyboardWindow::onFinish() {
    const QString model = modelName_->text().trimmed();
    if (model.isEmpty()) {
        prompt_->setText(QStringLiteral("Name the model first, then Finish."));
        modelName_->setFocus();
        return;
    }
    tester_->finishLearning(model.toStdString());
}

Shape* KeyboardWindow::cell(int a, int b) const {
    if (cellNumber(a, b) == 0) return nullptr;
    return canvas()->findChild<Shape*>(shapeName(a, b), Qt::FindDirectChildrenOnly);
}

}  // namespace kj
