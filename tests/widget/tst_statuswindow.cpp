// The network status window on a watched network of three (one down): opened from the pop-up menu,
// its states, filter, double click and export; the tray's menu and summary.

#include <QtTest>

#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QSortFilterProxyModel>
#include <QTableView>

#include "app/AlarmDigest.h"
#include "console/ElementListPanel.h"
#include "monitor/StatusModel.h"
#include "shell/TrayController.h"
#include "status/StatusWindow.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoSweep.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kDownKey = QStringLiteral("0011223344AA");
const QString kCommaKey = QStringLiteral("0011223344BB");
const QString kTowerKey = QStringLiteral("00AABBCCDD01");

// A watched network: SITE RX never answers; "Studio, A" and TOWER TX do.
struct Network {
    Network()
    {
        sweep.setAnswering(QStringLiteral("127.0.0.6"), true);
        sweep.setAnswering(QStringLiteral("127.0.0.7"), true);
        ConsoleOptions options;
        options.sweep = &sweep;
        options.monitorSettings.presencePeriodMs = 30;
        options.monitorSettings.missesForDown = 1;
        options.monitorSettings.watchAudio = false;
        f = std::make_unique<ConsoleFixture>(options);
        const auto add = [this](const QString& key, const QString& name, const QString& ip, int role) {
            StoredElement element;
            element.name = name;
            element.ip = ip;
            element.role = role;
            return f->writeElement(key, element);
        };
        ok = add(kCommaKey, QStringLiteral("Studio, A"), QStringLiteral("127.0.0.6"), 1)
            && add(kTowerKey, QStringLiteral("TOWER TX"), QStringLiteral("127.0.0.7"), 1)
            && add(kDownKey, QStringLiteral("SITE RX"), QStringLiteral("127.0.0.5"), 2) && f->load();
        LinkMonitor& monitor = f->core().monitor;
        monitor.watch(f->core().store.readAll());
        monitor.start();
        ok =
            ok && QTest::qWaitFor([&] { return monitor.summary() == MonitorSummary {.total = 3, .up = 2, .down = 1}; });
    }
    StatusWindow* open()
    {
        (*f)->mnuStatus->trigger();
        return (*f)->statusWindow;
    }

    FakeEchoSweep sweep;
    std::unique_ptr<ConsoleFixture> f;
    bool ok = false;
};

QStringList Column(const QAbstractItemModel& model, int column)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, column).data().toString());
    return texts;
}

int RowOf(const QAbstractItemModel& model, const QString& name)
{
    return int(Column(model, StatusModel::Name).indexOf(name));
}

} // namespace

class TestStatusWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void openedFromThePopupMenu();
    void statesAndSummary();
    void filter_data();
    void filter();
    void doubleClickShowsTheElement();
    void exportWritesTheRowsAsShown();
    void trayMenuAndSummary();
    void naturalOrderAndKeptLayout();

private:
    QTemporaryDir config_;
};

void TestStatusWindow::initTestCase()
{
    // What the window keeps between openings stays in this run's folder.
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
}

void TestStatusWindow::init()
{
    QFile::remove(StatusWindow::SettingsPath());
}

void TestStatusWindow::openedFromThePopupMenu()
{
    Network n;
    QVERIFY(n.ok);
    FrmMain& w = n.f->w();
    const QList<QAction*> items = w.mnuHidden1->actions();
    QCOMPARE(items.size(), 8); // the last two, the configuration's, in tst_configurationcommands
    QCOMPARE(items[3], w.mnuDelete);
    QVERIFY(items[4]->isSeparator());
    QCOMPARE(items[5]->text(), QStringLiteral("Network &status..."));
    QVERIFY(w.tray->menu()->actions().contains(items[5]));

    QVERIFY(!w.statusWindow);
    StatusWindow* window = n.open();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Network status"));
    QCOMPARE(window->windowType(), Qt::Window); // not a tool window
    QVERIFY(!(window->windowFlags() & Qt::FramelessWindowHint));
    // Opened again, also after it was closed: the same window.
    window->close();
    QCOMPARE(n.open(), window);
    QVERIFY(window->isVisible());
}

void TestStatusWindow::statesAndSummary()
{
    Network n;
    QVERIFY(n.ok);
    StatusWindow* window = n.open();
    const QAbstractItemModel& rows = *window->table->model();
    QTRY_COMPARE(Column(rows, StatusModel::State), QStringList({"Down", "Up", "Up"}));
    QCOMPARE(Column(rows, StatusModel::Name), QStringList({"SITE RX", "Studio, A", "TOWER TX"}));
    QTRY_COMPARE(window->summaryLabel->text(), QStringLiteral("3 elements: 2 up, 1 down"));
    // The word on its colour: Down and Up differ, and the Down colour is a red.
    const QColor down = rows.index(0, StatusModel::State).data(Qt::BackgroundRole).value<QColor>();
    const QColor up = rows.index(1, StatusModel::State).data(Qt::BackgroundRole).value<QColor>();
    QVERIFY(down.red() > 150 && down.green() < 100 && up != down);
    QVERIFY(n.f->w().alarms->attention());
}

void TestStatusWindow::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("nothing") << "" << QStringList {"SITE RX", "Studio, A", "TOWER TX"};
    QTest::newRow("name, any case") << "studio" << QStringList {"Studio, A"};
    QTest::newRow("MAC") << "44:aa" << QStringList {"SITE RX"};
    QTest::newRow("IP") << "127.0.0.7" << QStringList {"TOWER TX"};
    QTest::newRow("role is not searched") << "decoder" << QStringList {};
    QTest::newRow("a state's word") << "Down" << QStringList {"SITE RX"};
    QTest::newRow("a state's word, any case") << " up " << QStringList {"Studio, A", "TOWER TX"};
    QTest::newRow("part of a state's word") << "dow" << QStringList {};
}

void TestStatusWindow::filter()
{
    QFETCH(QString, text);
    QFETCH(QStringList, names);
    Network n;
    QVERIFY(n.ok);
    StatusWindow* window = n.open();
    window->filterBox->setText(text);
    QCOMPARE(Column(*window->table->model(), StatusModel::Name), names);
}

void TestStatusWindow::doubleClickShowsTheElement()
{
    Network n;
    QVERIFY(n.ok);
    FrmMain& w = n.f->w();
    StatusWindow* window = n.open();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(!w.isVisible());
    const QRect cell = window->table->visualRect(
        window->table->model()->index(RowOf(*window->table->model(), QStringLiteral("TOWER TX")), StatusModel::Ip));
    // A double click as the platform delivers it: press, release, then the double click.
    QTest::mouseClick(window->table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseDClick(window->table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QTest::mouseRelease(window->table->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    QCOMPARE(n.f->core().state.selectedKey(), kTowerKey);
    QCOMPARE(w.lstElements->currentText(), ElementListPanel::DisplayText(QStringLiteral("TOWER TX"), kTowerKey));
    QVERIFY(w.isVisible());
}

void TestStatusWindow::exportWritesTheRowsAsShown()
{
    Network n;
    QVERIFY(n.ok);
    StatusWindow* window = n.open();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_COMPARE(Column(*window->table->model(), StatusModel::State), QStringList({"Down", "Up", "Up"}));
    // Two of three, by name from Z to A: a click on the header sorted by name turns it round.
    window->filterBox->setText(QStringLiteral("00:11"));
    QHeaderView* header = window->table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(header->sectionViewportPosition(StatusModel::Name) + 5, header->height() / 2));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);

    TempDir dir;
    QString suggested;
    const QString path = dir.file(QStringLiteral("status.csv"));
    window->setSavePathPicker([&](QWidget*, const QString& offered) {
        suggested = offered;
        return path;
    });
    window->exportButton->click();
    QCOMPARE(QFileInfo(suggested).fileName(), QStringLiteral("network-status.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 4); // header, two rows, the empty rest after the last line end
    QCOMPARE(lines[0], QStringLiteral("State,Name,MAC,IP,Role,Round trip (ms),Last seen,Audio peak (dBFS),Since"));
    QVERIFY2(lines[1].startsWith(QStringLiteral("Up,\"Studio, A\",00:11:22:33:44:BB,127.0.0.6,Encoder,")),
             qPrintable(lines[1]));
    QVERIFY2(lines[2].startsWith(QStringLiteral("Down,SITE RX,00:11:22:33:44:AA,127.0.0.5,Decoder,")),
             qPrintable(lines[2]));
    QCOMPARE(n.f->boxes.count(), 0);

    // A folder that does not exist: the operator is told, and nothing is left behind.
    const QString nowhere = dir.file(QStringLiteral("missing/status.csv"));
    window->setSavePathPicker([&](QWidget*, const QString&) { return nowhere; });
    window->exportButton->click();
    n.f->showNotices();
    QCOMPARE(n.f->boxes.count(), 1);
    QVERIFY2(n.f->boxes.shown[0].text.contains(nowhere), qPrintable(n.f->boxes.shown[0].text));
    QVERIFY(!QFileInfo::exists(nowhere));
}

void TestStatusWindow::trayMenuAndSummary()
{
    Network n;
    QVERIFY(n.ok);
    QWidget window;
    TrayController tray(window, true);
    tray.menu()->addAction(QStringLiteral("Network &status..."));
    tray.add();
    QCOMPARE(tray.icon()->toolTip(), TrayTipText());
    tray.followSummary(n.f->core().monitor, 10);
    QTRY_COMPARE(tray.icon()->toolTip(), TrayTipText() + QStringLiteral("\n3 elements: 2 up, 1 down"));

    // The right button brings the window back, then opens the menu.
    tray.iconButtonReleased(Qt::RightButton, QPoint(10, 10));
    QVERIFY(window.isVisible());
    QTRY_VERIFY(tray.menu()->isVisible());
    tray.menu()->hide();
}

void TestStatusWindow::naturalOrderAndKeptLayout()
{
    Network n;
    QVERIFY(n.ok);
    StoredElement element;
    element.role = 1;
    for (const auto& [key, name] : {std::pair {"00AABBCCDD10", "TX 10"}, std::pair {"00AABBCCDD02", "TX 2"}}) {
        element.name = QString::fromLatin1(name);
        element.ip = QStringLiteral("127.0.0.5");
        QVERIFY(n.f->writeElement(QString::fromLatin1(key), element));
    }
    n.f->core().Load_Config();
    StatusWindow* window = n.open();
    QTRY_COMPARE(Column(*window->table->model(), StatusModel::Name),
                 QStringList({"SITE RX", "Studio, A", "TOWER TX", "TX 2", "TX 10"}));
    // Every column is shown whole at the first size.
    QHeaderView* header = window->table->horizontalHeader();
    QVERIFY2(header->length() <= window->table->viewport()->width() + 1,
             qPrintable(QStringLiteral("%1 > %2").arg(header->length()).arg(window->table->viewport()->width())));

    // Sorted by IP from the highest, filtered by a word, resized: all of it kept for the next opening.
    window->table->sortByColumn(StatusModel::Ip, Qt::DescendingOrder);
    window->filterBox->setText(QStringLiteral("tx"));
    header->resizeSection(StatusModel::Mac, 222);
    window->resize(1111, 666);
    window->close();
    StatusWindow again(n.f->core().monitor, *n.f->core().environment().notices, &n.f->core().trends);
    QCOMPARE(again.filterBox->text(), QStringLiteral("tx"));
    QCOMPARE(again.table->horizontalHeader()->sortIndicatorSection(), int(StatusModel::Ip));
    QCOMPARE(again.table->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(again.table->columnWidth(StatusModel::Mac), 222);
    QCOMPARE(again.size(), QSize(1111, 666));
    QCOMPARE(Column(*again.table->model(), StatusModel::Name).first(), QStringLiteral("TOWER TX"));
}

QTEST_MAIN(TestStatusWindow)
#include "tst_statuswindow.moc"
