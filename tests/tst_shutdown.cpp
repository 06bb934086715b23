#include "app/mainwindow.h"
#include "support/drawingpdf.h"
#include "support/modalcatcher.h"
#include "support/pdfmaker.h"
#include "support/warnings.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdlib>

// Ending the program while a conversion runs. The program is played by a
// child copy of this executable, which starts a long run, ends itself the way
// the user would, and leaves its output folder behind for the parent to check.
namespace {

const char childModeVariable[] = "VELLORAN_SHUTDOWN_CHILD";
const int childPages = 40;
const int lingerPages = 2;

// Like the program: the window is made on the heap and never deleted. The
// pointer keeps it reachable for the leak checker.
MainWindow *childWindow = nullptr;

template<typename T>
T *child(const char *name)
{
    return childWindow->findChild<T *>(QLatin1String(name));
}

QAction *exitAction()
{
    for (QAction *action : childWindow->findChildren<QAction *>()) {
        if (action->text() == QLatin1String("Exit"))
            return action;
    }
    qFatal("no tray Exit action");
}

// When the user asked the program to end, if the child was told to time it.
QElapsedTimer endAsked;
qint64 endWithinMs = 0;

// Whatever route ends the program, the worker must have stopped before the
// process goes: otherwise the page it is writing is cut off.
void checkWorkerStopped()
{
    if (childWindow && childWindow->conversionRunning())
        std::_Exit(5);
    if (endWithinMs > 0 && endAsked.isValid() && endAsked.elapsed() >= endWithinMs)
        std::_Exit(6);
}

void endProgram(const QString &how)
{
    endAsked.start();
    if (how == QLatin1String("close"))
        childWindow->close();
    else if (how == QLatin1String("cancel"))
        child<QPushButton>("pushButton_cancel")->click();
    else
        exitAction()->trigger();
}

// Arguments: how to end, the PDF, the output folder, and "huge" to end the
// program inside one page at 2000 dpi, which takes minutes to draw: the
// program must end within seconds (bench_stop measures the half-second goal);
// or "linger" to end it as the run ends, its workers slow to leave.
int runChild(int argc, char *argv[])
{
    std::atexit(checkWorkerStopped);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString how = args.at(1);
    const QString pdf = args.at(2);
    const QString folder = args.at(3);
    const bool hugePage = args.value(4) == QLatin1String("huge");

    childWindow = new MainWindow;
    childWindow->show();
    auto *catcher = new ModalCatcher(&app);
    catcher->ignoreClass(QStringLiteral("QProgressDialog"));
    catcher->expect(ModalCatcher::chooseFile(pdf));
    // A run that ends as the window closes may still tell that it finished.
    if (args.value(4) == QLatin1String("linger"))
        catcher->expect(ModalCatcher::clickButton(QStringLiteral("Ignore")));
    child<QToolButton>("toolButton_select_input_file")->click();
    child<QComboBox>("comboBox_output_folder")->setEditText(folder);
    child<QSpinBox>("spinBox_resolution")->setValue(hugePage ? 2000 : 200);
    child<QComboBox>("comboBox_output_type")->setCurrentText(QStringLiteral("PNG format"));

    static bool ending = false;
    if (args.value(4) == QLatin1String("linger")) {
        // Its workers take long to leave once dismissed: the program ends as
        // the run does, once its last page is put in place, and tells them to
        // go on ("go") as it asks to end.
        QObject::connect(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged, &app, [how, folder](const QString &line) {
            static int placed = 0;
            if (!line.startsWith(QLatin1String("Output:")) || ++placed < lingerPages || ending)
                return;
            ending = true;
            QFile go(QDir(folder).filePath(QStringLiteral("go")));
            if (!go.open(QIODevice::WriteOnly))
                std::_Exit(7);
            go.close();
            endProgram(how);
        });
    } else if (hugePage) {
        // The page's hidden file appears once its first band is drawn; the
        // other bands take seconds more: end the program inside the page.
        // Cancel goes through the close handler, which ends the program after
        // its own half second; the worker then has the same time as elsewhere,
        // a bound wide enough for a machine busy with other work.
        endWithinMs = how == QLatin1String("cancel") ? 5500 : 5000;
        auto *poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [how, folder, poll] {
            if (ending || QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
                return;
            ending = true;
            poll->stop();
            endProgram(how);
        });
        poll->start(5);
    } else {
        // Once the first page is on disk the run is well under way: end the program.
        QObject::connect(child<QStatusBar>("statusBar"), &QStatusBar::messageChanged, &app, [how](const QString &line) {
            if (!line.startsWith(QLatin1String("Output:")) || ending)
                return;
            ending = true;
            endProgram(how);
        });
    }
    child<QPushButton>("pushButton_convert")->click();
    if (!childWindow->conversionRunning())
        return 3;
    return app.exec();
}

// This test program again, as the child that runs the window and ends it;
// its workers misbehave as workerSwitch says (VELLORAN_TEST_WORKER), if given.
void startChild(QProcess &program, const QStringList &arguments, const QString &workerSwitch = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QLatin1String(childModeVariable), QStringLiteral("1"));
    if (!workerSwitch.isEmpty())
        env.insert(QStringLiteral("VELLORAN_TEST_WORKER"), workerSwitch);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QCoreApplication::applicationFilePath(), arguments);
}

} // namespace

class TestShutdown : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void endingDuringRunLeavesOnlyWholeFiles_data();
    void endingDuringRunLeavesOnlyWholeFiles();
    void endingInsideAHugePageIsQuick_data();
    void endingInsideAHugePageIsQuick();
    void endingAsTheRunEndsWaitsForNoWorker_data();
    void endingAsTheRunEndsWaitsForNoWorker();
};

void TestShutdown::init()
{
    failOnUnexpectedWarnings();
}

void TestShutdown::endingDuringRunLeavesOnlyWholeFiles_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("closing the window") << "close";
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("tray Exit") << "exit";
}

void TestShutdown::endingDuringRunLeavesOnlyWholeFiles()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pdf = dir.filePath("long.pdf");
    QVERIFY(makePdf(pdf, childPages));
    const QString folder = dir.filePath("out");

    QProcess program;
    startChild(program, {how, pdf, folder});
    QVERIFY2(program.waitForFinished(240000), "the program did not end");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // Only whole pages under their final names: no temporary or cut-off file.
    const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    QVERIFY(!files.isEmpty());
    QVERIFY2(files.size() < childPages, "the run ended before the program did");
    const QRegularExpression pageName(QStringLiteral("^long_\\d+\\.png$"));
    for (const QString &file : files) {
        QVERIFY2(pageName.match(file).hasMatch(), qPrintable(file));
        QImage page;
        QVERIFY2(page.load(QDir(folder).filePath(file)), qPrintable(file));
        QCOMPARE(page.size(), QSize(1653, 2339));
    }
}

void TestShutdown::endingInsideAHugePageIsQuick_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel button") << "cancel";
    QTest::newRow("tray Exit") << "exit";
}

void TestShutdown::endingInsideAHugePageIsQuick()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // At 2000 dpi its first band takes seconds, the page's 23 bands minutes.
    const QString pdf = dir.filePath("heavy.pdf");
    QVERIFY(makeDrawingPdf(pdf, 4000));
    const QString folder = dir.filePath("out");

    QProcess program;
    startChild(program, {how, pdf, folder, "huge"});
    QVERIFY2(program.waitForFinished(240000), "the program did not end");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QVERIFY2(program.exitCode() != 6, "the worker took 5 s or more to stop");
    QCOMPARE(program.exitCode(), 0);
    // The page was stopped midway: neither it nor its hidden file is left.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

void TestShutdown::endingAsTheRunEndsWaitsForNoWorker_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("closing the window") << "close";
    QTest::newRow("tray Exit") << "exit";
}

// The run has drawn its pages and is letting its workers go, each given time
// to leave by itself, when the program is asked to end: they are killed
// rather than waited for, so that the program ends at once. Each lingers
// 1.5 s after it is told "go" before it marks its leaving, which a program
// that waited for it would see through.
void TestShutdown::endingAsTheRunEndsWaitsForNoWorker()
{
    QFETCH(QString, how);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString pdf = dir.filePath("linger.pdf");
    QVERIFY(makePdf(pdf, lingerPages));
    const QString folder = dir.filePath("out");

    QProcess program;
    startChild(program, {how, pdf, folder, "linger"}, QStringLiteral("linger 0:*"));
    QVERIFY2(program.waitForFinished(240000), "the program did not end");
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);

    // The workers were killed before the program ended: none marked its leaving.
    QDir out(folder);
    QVERIFY(out.exists("go"));
    QVERIFY2(!out.exists("lingered"), "the program waited for a dismissed worker to leave");
    // The run's pages are whole, under their final names, and nothing else is left.
    QCOMPARE(out.entryList(QDir::Files | QDir::Hidden, QDir::Name),
             QStringList({"go", "linger_1.png", "linger_2.png"}));
    for (const QString &file : {QStringLiteral("linger_1.png"), QStringLiteral("linger_2.png")}) {
        QImage page;
        QVERIFY2(page.load(out.filePath(file)), qPrintable(file));
        QCOMPARE(page.size(), QSize(1653, 2339));
    }
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(childModeVariable))
        return runChild(argc, argv);
    QApplication app(argc, argv);
    TestShutdown test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shutdown.moc"
