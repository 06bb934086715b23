#include "engine/filestamp.h"
#include "runner/pagerunner.h"
#include "runner/taskprotocol.h"
#include "runner/worker.h"
#include "runner/workerprogram.h"
#include "support/filechange.h"
#include "support/pdfmaker.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QImage>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

// The page runner through its own interface: the limits that only the runner
// can enforce, and workers that break the protocol.
class TestRunner : public QObject
{
    Q_OBJECT

private slots:
    void workerProcessorTimeIsCounted();
    void pastItsProcessorTime_data();
    void pastItsProcessorTime();
    void untrustedMessagesEndTheirWorker_data();
    void untrustedMessagesEndTheirWorker();
    void pagesShareADescriptorInTurn_data();
    void pagesShareADescriptorInTurn();
    void pagesComeFromTheFileTheRunFound_data();
    void pagesComeFromTheFileTheRunFound();
};

// Processor time a worker uses is counted as such, from the task it takes:
// one thread busy for good uses as much as the time that passes, no more.
void TestRunner::workerProcessorTimeIsCounted()
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    TaskProtocol::Setup setup;
    setup.inputs = QStringList{pdf};
    Worker worker;
    qputenv("VELLORAN_TEST_WORKER", "spin 0:0");
    QVERIFY(worker.start(workerProgram(), setup));
    qunsetenv("VELLORAN_TEST_WORKER");
    QTRY_VERIFY_WITH_TIMEOUT((worker.receive(), worker.ready()), 30000);
    PageTask task;
    task.kind = PageTask::Preview;
    task.path = pdf;
    task.previewArea = QSize(100, 100);
    QVERIFY(worker.send(task, 0));
    QTRY_VERIFY_WITH_TIMEOUT(worker.cpuElapsed() >= 500, 60000);
    const qint64 used = worker.cpuElapsed();
    QVERIFY2(used <= worker.elapsed() + 50, qPrintable(QStringLiteral("%1 ms of processor time in %2 ms")
                                                           .arg(used)
                                                           .arg(worker.elapsed())));
    worker.retire(true, {});
}

void TestRunner::pastItsProcessorTime_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QByteArray>("misbehaviour");
    QTest::newRow("a preview") << int(PageTask::Preview) << QByteArray("spin 0:0");
    QTest::newRow("an opening") << int(PageTask::Probe) << QByteArray("spin 0:open");
}

// A preview or an opening whose renderer loops for good, busy on the
// processor, is ended once it has used its processor time, and says so; the
// runner answers for it.
void TestRunner::pastItsProcessorTime()
{
    QFETCH(int, kind);
    QFETCH(QByteArray, misbehaviour);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("one.pdf"));
    QVERIFY(makePdf(pdf, 1));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.inputs = QStringList{pdf};
    PageRunner runner(settings);

    PageTask task;
    task.kind = PageTask::Kind(kind);
    task.path = pdf;
    task.previewArea = QSize(100, 100);
    task.timeLimitMs = 2000;
    // The worker takes its environment when it starts, inside runOne.
    qputenv("VELLORAN_TEST_WORKER", misbehaviour);
    const std::atomic<bool> running{false};
    rusage before{};
    getrusage(RUSAGE_CHILDREN, &before);
    QElapsedTimer timer;
    timer.start();
    const TaskResult result = runner.runOne(task, running);
    qunsetenv("VELLORAN_TEST_WORKER");
    rusage after{};
    getrusage(RUSAGE_CHILDREN, &after);
    QCOMPARE(result.outcome.result, PageOutcome::TimedOut);
    QCOMPARE(result.outcome.detail, QStringLiteral("timed out after 2 s"));
    QVERIFY(result.workerLost);
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
    // Ended by its processor time, not by three times the limit on the clock:
    // the worker (reaped by now) used the limit and its start, no more.
    const auto ms = [](const rusage &r) {
        return qint64(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    };
    QVERIFY2(ms(after) - ms(before) < task.timeLimitMs + 1000, qPrintable(QString::number(ms(after) - ms(before))));

    // The next task is carried out as usual in a new worker.
    qunsetenv("VELLORAN_TEST_WORKER");
    const TaskResult next = runner.runOne(task, running);
    QCOMPARE(next.outcome.result, PageOutcome::Written);
    if (task.kind == PageTask::Preview)
        QCOMPARE(next.image.size(), QSize(595, 842)); // one pixel a point
    else
        QCOMPARE(next.pageCount, 1);
}

void TestRunner::untrustedMessagesEndTheirWorker_data()
{
    QTest::addColumn<QByteArray>("misbehaviour");
    QTest::addColumn<qint64>("timeLimitMs");
    QTest::addColumn<QString>("detail");
    const QString broke = QStringLiteral("the worker process broke the protocol: ");
    QTest::newRow("a frame that does not parse") << QByteArray("garble") << qint64(0)
                                                  << broke + QStringLiteral("a message that does not parse");
    QTest::newRow("the same, with a time limit") << QByteArray("garble") << qint64(1000)
                                                  << broke + QStringLiteral("a message that does not parse");
    QTest::newRow("another version") << QByteArray("otherversion") << qint64(0)
                                     << broke + QStringLiteral("protocol version %1, not %2").arg(TaskProtocol::version + 1).arg(TaskProtocol::version);
    QTest::newRow("a value out of range") << QByteArray("outofrange") << qint64(0)
                                          << broke + QStringLiteral("field outcome.width: value -1 out of range");
    QTest::newRow("a message nobody asked for") << QByteArray("unasked") << qint64(0)
                                                << broke + QStringLiteral("a ready message where a result was due");
    QTest::newRow("another page's result") << QByteArray("otherpage") << qint64(0)
                                           << broke + QStringLiteral("a result for page 2 while page 1 was in hand");
    QTest::newRow("a length no message has") << QByteArray("oversize") << qint64(0)
                                             << broke + QStringLiteral("a frame longer than any message");
    QTest::newRow("its pipe closed, alive") << QByteArray("mute") << qint64(0)
                                            << QStringLiteral("the worker process closed its pipe but did not end");
}

// A worker's messages are untrusted input: one that sends what it does not
// owe, and lives on (20 s, deaf to the stop), is killed at once, its page
// fails with the reason, and the run goes on in a new worker.
void TestRunner::untrustedMessagesEndTheirWorker()
{
    QFETCH(QByteArray, misbehaviour);
    QFETCH(qint64, timeLimitMs);
    QFETCH(QString, detail);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("two.pdf"));
    QVERIFY(makePdf(pdf, 2));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.inputs = QStringList{pdf};
    settings.outputFolders = QStringList{dir.path()};
    PageRunner runner(settings);
    QList<PageTask> tasks;
    for (int page = 0; page < 2; ++page) {
        PageTask task;
        task.path = pdf;
        task.pageIndex = page;
        task.resolution = 10;
        task.format = ImageFormat::Png;
        task.timeLimitMs = timeLimitMs;
        task.outputPath = dir.filePath(QStringLiteral("two_%1.png").arg(page + 1));
        tasks << task;
    }
    qputenv("VELLORAN_TEST_WORKER", misbehaviour + " 0:0");
    const std::atomic<bool> running{false};
    QMap<int, TaskResult> results;
    QElapsedTimer timer;
    timer.start();
    runner.run(tasks, running, [&results](int index, const TaskResult &result) { results.insert(index, result); });
    const qint64 took = timer.elapsed();
    qunsetenv("VELLORAN_TEST_WORKER");

    // Far less than the 20 s it would have lived: nothing waited for it.
    QVERIFY2(took < 10000, qPrintable(QString::number(took)));
    QCOMPARE(results.keys(), QList<int>({0, 1}));
    QCOMPARE(results[0].outcome.result, PageOutcome::RenderFailed);
    QCOMPARE(results[0].outcome.detail, detail);
    QVERIFY(results[0].workerLost);
    QCOMPARE(results[1].outcome.result, PageOutcome::Written);
    // Nothing of the first page is left, its temporary file neither.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             QStringList({QStringLiteral("two.pdf"), QStringLiteral("two_2.png")}));
}

void TestRunner::pagesShareADescriptorInTurn_data()
{
    QTest::addColumn<QByteArray>("misbehaviour");
    QTest::addColumn<int>("written"); // how many pages, from the first, reach the descriptor
    QTest::newRow("a slow first page") << QByteArray("slow 0:0") << 5;
    QTest::newRow("the third page crashes") << QByteArray("crash 0:2") << 2;
}

// Pages that share a descriptor come out on it whole and in the order of
// their tasks, whichever worker is done first: those after a slow first page
// wait for their turn, the wait not counted against their time limit; one
// larger than a worker holds goes out as its rows come once its turn is
// there; and a page that fails ends what is written, the pages after it not
// written at all (those not yet started are not drawn either).
void TestRunner::pagesShareADescriptorInTurn()
{
    QFETCH(QByteArray, misbehaviour);
    QFETCH(int, written);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("five.pdf"));
    const QSizeF a4(595, 842);
    // The third page is 3333 pixels square: 33 MB of PPM, past what a worker holds.
    QVERIFY(makePdf(pdf, {a4, QSizeF(300, 400), QSizeF(2400, 2400), a4, QSizeF(842, 595)}));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = 3;
    settings.inputs = QStringList{pdf};
    settings.outputFolders = QStringList{dir.path()};
    QList<PageTask> tasks;
    for (int page = 0; page < 5; ++page) {
        PageTask task;
        task.path = pdf;
        task.pageIndex = page;
        task.resolution = 100;
        task.format = ImageFormat::Ppm;
        task.outputPath = dir.filePath(QStringLiteral("five_%1.ppm").arg(page + 1));
        // Each draws well within it; waiting 3 s for its turn would not be.
        task.timeLimitMs = page == 0 || page == 2 ? 0 : 1500;
        tasks << task;
    }
    const std::atomic<bool> running{false};
    QByteArray expected;
    {
        PageRunner toFiles(settings);
        toFiles.run(tasks, running, {});
        for (int page = 0; page < written; ++page) {
            QFile file(tasks.at(page).outputPath);
            QVERIFY(file.open(QIODevice::ReadOnly));
            expected += file.readAll();
        }
    }

    const QString shared = dir.filePath(QStringLiteral("shared.ppm"));
    settings.givenDescriptor = ::open(QFile::encodeName(shared).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    QVERIFY(settings.givenDescriptor >= 0);
    for (PageTask &task : tasks) {
        task.toGivenDescriptor = true;
        task.inTurn = true;
    }
    qputenv("VELLORAN_TEST_WORKER", misbehaviour);
    QMap<int, TaskResult> results;
    {
        PageRunner inTurn(settings);
        inTurn.run(tasks, running, [&results](int index, const TaskResult &result) { results.insert(index, result); });
    }
    qunsetenv("VELLORAN_TEST_WORKER");
    ::close(settings.givenDescriptor);

    // Past a page not written none is started; one started already is not written.
    for (int page = 0; page < 5; ++page) {
        QVERIFY2(results.contains(page) || page > written, qPrintable(QStringLiteral("page %1").arg(page + 1)));
        if (!results.contains(page))
            continue;
        const PageOutcome &outcome = results[page].outcome;
        const PageOutcome::Result result = page < written    ? PageOutcome::Written
                                           : page == written ? PageOutcome::RenderFailed
                                                             : PageOutcome::Stopped;
        QVERIFY2(outcome.result == result, qPrintable(QStringLiteral("page %1: %2").arg(page + 1).arg(outcome.detail)));
        if (page > written)
            QCOMPARE(outcome.detail, QStringLiteral("not written: a page before it was not"));
    }
    QFile file(shared);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray actual = file.readAll();
    QCOMPARE(actual.size(), expected.size());
    QVERIFY(actual == expected);
}

QTEST_MAIN(TestRunner)
#include "tst_runner.moc"

void TestRunner::pagesComeFromTheFileTheRunFound_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("openedBefore"); // by a probe, in the worker that draws the page
    QTest::addColumn<bool>("written");
    QTest::newRow("unchanged") << "" << false << true;
    QTest::newRow("replaced") << "replaced" << false << false;
    QTest::newRow("rewritten in place") << "rewritten" << false << false;
    QTest::newRow("replaced once its worker had opened it") << "replaced" << true << true;
}

// A task carries its file's stamp from before the run: a worker that opens
// the file later draws nothing from another that has taken its name (a
// document exported again meanwhile), and one that opened it before draws
// from what it opened.
void TestRunner::pagesComeFromTheFileTheRunFound()
{
    QFETCH(QString, change);
    QFETCH(bool, openedBefore);
    QFETCH(bool, written);
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("doc.pdf"));
    const QString other = dir.filePath(QStringLiteral("other.pdf"));
    // Two documents whose first pages differ in size, so that the page written
    // shows which file it came from.
    QVERIFY(makePdf(pdf, {QSizeF(300, 400)}));
    QVERIFY(makePdf(other, {QSizeF(500, 200), QSizeF(500, 200)}));
    RunnerSettings settings;
    settings.program = workerProgram();
    settings.workers = 1;
    settings.inputs = QStringList{pdf};
    settings.outputFolders = QStringList{dir.path()};
    PageTask task;
    task.path = pdf;
    task.inputStamp = fileStamp(pdf);
    QVERIFY(task.inputStamp.isSet());
    task.renderer = RendererKind::Poppler;
    task.resolution = 72;
    task.format = ImageFormat::Png;
    task.outputPath = dir.filePath(QStringLiteral("doc_1.png"));
    const std::atomic<bool> running{false};
    PageRunner runner(settings);
    if (openedBefore) {
        PageTask probe = task;
        probe.kind = PageTask::Probe;
        QMap<int, TaskResult> probed;
        runner.run({probe}, running, [&probed](int index, const TaskResult &result) { probed.insert(index, result); });
        QCOMPARE(probed.value(0).pageCount, 1);
    }
    if (change == "replaced")
        QVERIFY(replaceFile(pdf, other));
    else if (change == "rewritten")
        QVERIFY(rewriteInPlace(pdf, other));

    QMap<int, TaskResult> results;
    runner.run({task}, running, [&results](int index, const TaskResult &result) { results.insert(index, result); });
    QVERIFY(results.contains(0));
    const PageOutcome &outcome = results[0].outcome;
    if (!written) {
        QCOMPARE(outcome.result, PageOutcome::RenderFailed);
        QCOMPARE(outcome.detail, QStringLiteral("the file has changed since the run began"));
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.png")}, QDir::Files | QDir::Hidden), QStringList());
        return;
    }
    QVERIFY2(outcome.result == PageOutcome::Written, qPrintable(outcome.detail));
    QCOMPARE(QImage(task.outputPath).size(), QSize(300, 400));
}
