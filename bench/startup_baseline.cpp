// SPDX-License-Identifier: MIT
// startup_baseline: a plain Qt Widgets window of the same make-up as the program's, started
// the same way and ended at its first paint, so that start-up can be judged against what Qt
// itself costs on this machine. The same menus, tabs, fonts and texts, 33 panel labels and six
// lamps, a 200 x 19 table with its heading, six picture buttons, the status labels, a progress
// bar and a status bar of three panels; no link, no printer, no settings and nothing of the
// program's own beyond what a first draft would write.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <utility>
#include <vector>

namespace {

constexpr int kRows = 200;
constexpr int kCols = 19;

const char* const kHeadings[kCols] = {"NO.",          "A1电压",   "A2电压",       "A1A2相位",
                                      "A1A2定性相位", "B1电压",   "B2电压",       "B1B2相位",
                                      "B1B2定性相位", "C1电压",   "C2电压",       "C1C2相位",
                                      "C1C2定性相位", "A1B2相位", "A1B2定性相序", "B1C2相位",
                                      "B1C2定性相序", "C1A2相位", "C1A2定性相序"};

QFont font(const char* first, const char* second, double points, bool bold) {
    QFont f;
    f.setFamilies({QString::fromUtf8(first), QString::fromUtf8(second)});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

class FirstPaintQuits final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return QObject::eventFilter(watched, event);
    }
};

void addPanel(QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setGeometry(40, 40, 769, 513);
    panel->setBackgroundRole(QPalette::Base);
    panel->setAutoFillBackground(true);
    const QFont head = font("Noto Sans CJK SC", "黑体", 27.75, true);
    const QFont value = font("Liberation Sans", "Arial", 27.75, true);
    const char* const heads[] = {"电压", "定性相位", "定性相序"};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(QString::fromUtf8(heads[i]), panel);
        l->setFont(head);
        l->setGeometry(160 + 200 * i, 32, 156, 37);
    }
    const char* const names[] = {"A1", "A2", "B1", "B2", "C1", "C2"};
    for (int r = 0; r < 6; ++r) {
        const int top = 120 + 72 * r;
        const QString texts[] = {QString::fromLatin1(names[r]), QStringLiteral("-- kV"),
                                 QStringLiteral("------"), QStringLiteral("------")};
        for (int c = 0; c < 4; ++c) {
            auto* l = new QLabel(texts[c], panel);
            l->setFont(value);
            l->setAlignment(Qt::AlignCenter);
            l->setGeometry(32 + 180 * c, top, 120, 44);
        }
        auto* lamp = new QWidget(panel);
        lamp->setGeometry(88, top + 14, 25, 17);
        lamp->hide();
    }
}

void addTable(QWidget* parent) {
    auto* table = new QTableWidget(kRows, kCols, parent);
    table->setFont(font("Noto Serif CJK SC", "宋体", 9, false));
    table->setGeometry(67, 96, 727, 472);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QStringList headings;
    for (const char* h : kHeadings) headings << QString::fromUtf8(h);
    table->setHorizontalHeaderLabels(headings);
    table->hide();
}

void addButtons(QWidget* parent) {
    const char* const captions[] = {"读取", "保存", "清空", "打印", "帮助", "关闭"};
    for (int i = 0; i < 6; ++i) {
        QPixmap picture(32, 32);
        picture.fill(Qt::transparent);
        QPainter p(&picture);
        p.setBrush(QColor(0, 64 + 30 * i, 128));
        p.drawEllipse(4, 4, 24, 24);
        p.end();
        auto* b = new QToolButton(parent);
        b->setText(QString::fromUtf8(captions[i]));
        b->setIcon(QIcon(picture));
        b->setIconSize(picture.size());
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setGeometry(848, 48 + 72 * i, 73, 57);
    }
}

void addStatus(QWidget* parent) {
    const QFont song = font("Noto Serif CJK SC", "宋体", 12, false);
    const char* const labels[] = {"串口状态", "连接失败"};
    for (int i = 0; i < 2; ++i) {
        auto* l = new QLabel(QString::fromUtf8(labels[i]), parent);
        l->setFont(song);
        l->setGeometry(840, 504 + 40 * i, 97, 25);
    }
    auto* progress = new QProgressBar(parent);
    progress->setGeometry(280, 272, 257, 15);
    progress->hide();
    auto* status = new QStatusBar(parent);
    status->setGeometry(0, 601, 956, 33);
    for (const char* text : {"date", "Zandrel", "time"}) {
        auto* l = new QLabel(QString::fromLatin1(text), status);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        status->addWidget(l);
    }
}

void addMenus(QMainWindow& window) {
    const std::pair<const char*, std::vector<const char*>> menus[] = {
        {"文件", {"读取", "保存", "串口设置...", "关闭"}},
        {"操作", {"清空", "打印"}},
        {"视图", {"相量图", "记录实时数据"}},
        {"帮助", {"关于软件"}},
    };
    for (const auto& [title, entries] : menus) {
        QMenu* menu = window.menuBar()->addMenu(QString::fromUtf8(title));
        for (const char* e : entries) menu->addAction(QString::fromUtf8(e));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Check Korvelt"));
    addMenus(window);
    auto* client = new QWidget(&window);
    client->setFixedSize(956, 634);
    window.setCentralWidget(client);
    auto* tabs = new QTabWidget(client);
    tabs->setGeometry(32, 16, 785, 561);
    tabs->tabBar()->setFont(font("Noto Serif CJK SC", "宋体", 12, true));
    tabs->addTab(new QWidget, QStringLiteral("实时监控"));
    tabs->addTab(new QWidget, QStringLiteral("历史记录"));
    addPanel(client);
    addTable(client);
    addButtons(client);
    addStatus(client);
    window.installEventFilter(new FirstPaintQuits(&window));
    window.show();
    return QApplication::exec();
}
