#include "app/mainwindow.h"
#include "support/warnings.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <cstdio>

// The ways the application ends cannot run inside the test process, because
// they end it. The test executable starts itself again with this variable
// set to the route to take; the child prints what it saw and the parent
// checks the exit status and the printed lines.
static const char childModeVariable[] = "VELLORAN_TRAY_CHILD";

static QSystemTrayIcon *trayOf(const MainWindow &window)
{
    return window.findChild<QSystemTrayIcon *>();
}

static QList<QAction *> trayActions(const MainWindow &window)
{
    QSystemTrayIcon *tray = trayOf(window);
    return tray && tray->contextMenu() ? tray->contextMenu()->actions() : QList<QAction *>();
}

static QAction *trayAction(const MainWindow &window, const QString &text)
{
    for (QAction *action : trayActions(window)) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

class TstTray : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void trayIconAfterStartUp();
    void trayMenuOrder();
    void availability_data();
    void availability();
    void trayMenuActions_data();
    void trayMenuActions();
    void iconActivated_data();
    void iconActivated();
    void minimizingHidesIntoTray();
    void otherStateChangesKeepWindow();
    void endingRoutes_data();
    void endingRoutes();
};

void TstTray::init()
{
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TstTray::cleanup()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        QVERIFY2(!widget->isVisible(), widget->metaObject()->className());
}

void TstTray::trayIconAfterStartUp()
{
    expectNoTray();
    MainWindow window;
    QSystemTrayIcon *tray = trayOf(window);
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QVERIFY(!tray->icon().isNull());
    QVERIFY(tray->toolTip().isEmpty());
}

void TstTray::trayMenuOrder()
{
    expectNoTray();
    MainWindow window;
    const QList<QAction *> actions = trayActions(window);
    QCOMPARE(actions.size(), 5);
    const QStringList expected{"Minimize", "Maximize", "Restore", QString(), "Exit"};
    for (int i = 0; i < actions.size(); ++i) {
        QCOMPARE(actions.at(i)->isSeparator(), i == 3);
        QCOMPARE(actions.at(i)->text(), expected.at(i));
        if (!actions.at(i)->isSeparator())
            QCOMPARE(actions.at(i)->parent(), &window);
    }
}

enum class Situation { ShownNormal, ShownMaximized, HiddenWasNormal, HiddenWasMaximized, MaximizedWithoutShow };

void TstTray::availability_data()
{
    QTest::addColumn<Situation>("situation");
    QTest::addColumn<bool>("minimize");
    QTest::addColumn<bool>("maximize");
    QTest::addColumn<bool>("restore");

    QTest::newRow("shown, normal") << Situation::ShownNormal << true << true << false;
    QTest::newRow("shown, maximized") << Situation::ShownMaximized << true << false << true;
    QTest::newRow("hidden, was normal") << Situation::HiddenWasNormal << false << true << true;
    QTest::newRow("hidden, was maximized") << Situation::HiddenWasMaximized << false << false << true;
    // Only a show or hide updates the actions, not a change of state alone.
    QTest::newRow("maximized by state only") << Situation::MaximizedWithoutShow << true << true << false;
}

void TstTray::availability()
{
    QFETCH(Situation, situation);
    QFETCH(bool, minimize);
    QFETCH(bool, maximize);
    QFETCH(bool, restore);

    expectNoTray();
    MainWindow window;
    expectNoSizeHints();
    switch (situation) {
    case Situation::ShownNormal:
        window.show();
        break;
    case Situation::ShownMaximized:
        window.showMaximized();
        break;
    case Situation::HiddenWasNormal:
        window.show();
        window.hide();
        break;
    case Situation::HiddenWasMaximized:
        window.showMaximized();
        window.hide();
        break;
    case Situation::MaximizedWithoutShow:
        window.show();
        window.setWindowState(Qt::WindowMaximized);
        break;
    }

    QCOMPARE(trayAction(window, "Minimize")->isEnabled(), minimize);
    QCOMPARE(trayAction(window, "Maximize")->isEnabled(), maximize);
    QCOMPARE(trayAction(window, "Restore")->isEnabled(), restore);
    QVERIFY(trayAction(window, "Exit")->isEnabled());
}

void TstTray::trayMenuActions_data()
{
    QTest::addColumn<bool>("startMaximized");
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("maximized");

    QTest::newRow("Minimize") << false << "Minimize" << false << false;
    QTest::newRow("Minimize, maximized window") << true << "Minimize" << false << true;
    QTest::newRow("Maximize") << false << "Maximize" << true << true;
    QTest::newRow("Restore, maximized window") << true << "Restore" << true << false;
}

void TstTray::trayMenuActions()
{
    QFETCH(bool, startMaximized);
    QFETCH(QString, action);
    QFETCH(bool, visible);
    QFETCH(bool, maximized);

    expectNoTray();
    MainWindow window;
    expectNoSizeHints();
    if (startMaximized)
        window.showMaximized();
    else
        window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    trayAction(window, action)->trigger();

    QTRY_COMPARE(window.isVisible(), visible);
    QCOMPARE(window.isMaximized(), maximized);
    // Hiding through the menu is no state change: the window is not minimized and no tool tip is set.
    QVERIFY(!window.isMinimized());
    QVERIFY(trayOf(window)->toolTip().isEmpty());
}

void TstTray::iconActivated_data()
{
    QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
    QTest::addColumn<bool>("restored");

    QTest::newRow("Trigger") << QSystemTrayIcon::Trigger << true;
    QTest::newRow("DoubleClick") << QSystemTrayIcon::DoubleClick << true;
    QTest::newRow("Context") << QSystemTrayIcon::Context << false;
    QTest::newRow("MiddleClick") << QSystemTrayIcon::MiddleClick << false;
    QTest::newRow("Unknown") << QSystemTrayIcon::Unknown << false;
}

void TstTray::iconActivated()
{
    QFETCH(QSystemTrayIcon::ActivationReason, reason);
    QFETCH(bool, restored);

    expectNoTray();
    MainWindow window;
    expectNoSizeHints();
    window.showMaximized();
    window.hide();

    emit trayOf(window)->activated(reason);

    if (restored) {
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMaximized());
        QTRY_COMPARE(QApplication::activeWindow(), &window);
    } else {
        QTest::qWait(0);
        QVERIFY(!window.isVisible());
        QVERIFY(window.isMaximized());
    }
}

void TstTray::minimizingHidesIntoTray()
{
    expectNoTray();
    MainWindow window;
    expectNoSizeHints();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSystemTrayIcon *tray = trayOf(window);

    window.setWindowState(Qt::WindowMinimized);

    // The hide waits for the event loop.
    QVERIFY(window.isVisible());
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(tray->isVisible());
    QCOMPARE(tray->toolTip(), QString("Tarnwick Pdf to Image Converter"));
    QVERIFY(!trayAction(window, "Minimize")->isEnabled());
    QVERIFY(trayAction(window, "Restore")->isEnabled());

    // A click on the tray icon brings it back in normal state.
    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
}

void TstTray::otherStateChangesKeepWindow()
{
    expectNoTray();
    MainWindow window;
    expectNoSizeHints();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    window.setWindowState(Qt::WindowMaximized);
    window.setWindowState(Qt::WindowNoState);
    window.setWindowState(Qt::WindowFullScreen);
    QTest::qWait(0);

    QVERIFY(window.isVisible());
    QVERIFY(trayOf(window)->toolTip().isEmpty());
}

// Run by the child process: builds the window, takes one route out and reports.
static int runChild(int argc, char **argv, const QByteArray &mode)
{
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    QSystemTrayIcon *tray = trayOf(window);

    auto report = [&](const char *what) {
        std::printf("%s at=%lld tray=%d visible=%d\n", what, QDateTime::currentMSecsSinceEpoch(),
                    tray->isVisible() ? 1 : 0, window.isVisible() ? 1 : 0);
        std::fflush(stdout);
    };

    QTimer::singleShot(0, &window, [&] {
        if (mode == "cancel") {
            window.findChild<QPushButton *>("pushButton_cancel")->click();
            report("ended");
            QTimer::singleShot(400, &window, [&] { report("later"); });
        } else if (mode == "close") {
            window.close();
            report("ended");
        } else if (mode == "exit") {
            report("ending");
            trayAction(window, "Exit")->trigger();
        }
    });
    const int status = app.exec();
    report("returned");
    return status;
}

struct ChildLine
{
    QString what;
    qint64 at = 0;
    bool tray = false;
    bool visible = false;
};

static QList<ChildLine> parseChildOutput(const QByteArray &output)
{
    static const QRegularExpression pattern(R"(^(\w+) at=(\d+) tray=(\d) visible=(\d)$)");
    QList<ChildLine> lines;
    for (const QByteArray &raw : output.split('\n')) {
        const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(raw));
        if (match.hasMatch())
            lines.append({match.captured(1), match.captured(2).toLongLong(), match.captured(3) == "1",
                          match.captured(4) == "1"});
    }
    return lines;
}

void TstTray::endingRoutes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("reports");
    QTest::addColumn<bool>("trayAfter");
    QTest::addColumn<bool>("visibleAfter");
    QTest::addColumn<int>("minDelayMs");

    // Cancel hides the tray icon at once, leaves the window up and ends the process through the timer.
    QTest::newRow("Cancel") << "cancel" << QStringList{"ended", "later"} << false << true << 400;
    // Closing the last window ends the event loop before the timer fires.
    QTest::newRow("close") << "close" << QStringList{"ended", "returned"} << false << false << 0;
    // Exit from the tray ends the process at once, without returning from the loop.
    QTest::newRow("tray Exit") << "exit" << QStringList{"ending"} << true << true << 0;
}

void TstTray::endingRoutes()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, reports);
    QFETCH(bool, trayAfter);
    QFETCH(bool, visibleAfter);
    QFETCH(int, minDelayMs);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(childModeVariable, mode);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    QVERIFY2(child.waitForFinished(60000), "the process did not end");
    const qint64 endedAt = QDateTime::currentMSecsSinceEpoch();

    const QByteArray errors = child.readAllStandardError();
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QVERIFY2(child.exitCode() == 0, errors.constData());

    const QList<ChildLine> lines = parseChildOutput(child.readAllStandardOutput());
    QStringList seen;
    for (const ChildLine &line : lines)
        seen.append(line.what);
    QCOMPARE(seen, reports);

    const ChildLine &ended = lines.first();
    QCOMPARE(ended.tray, trayAfter);
    QCOMPARE(ended.visible, visibleAfter);
    if (mode == "cancel")
        QVERIFY(lines.at(1).visible);
    QVERIFY2(endedAt - ended.at >= minDelayMs, qPrintable(QString::number(endedAt - ended.at)));
}

int main(int argc, char **argv)
{
    const QByteArray mode = qgetenv(childModeVariable);
    if (!mode.isEmpty())
        return runChild(argc, argv, mode);

    QApplication app(argc, argv);
    TstTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tray.moc"
