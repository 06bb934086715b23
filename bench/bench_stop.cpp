// How soon a stop ends the work in hand, against the program's goal of half a
// second. The tests only check that a stop ends it at all, within seconds, so
// that they hold on a busy machine; this measures the goal, on a quiet one.
//   bench_stop [path of velloran-cli]
// draws a page of thousands of curves (minutes to draw at these resolutions)
// and stops it midway REPEATS times (3 unless set in the environment):
//   - the page pipeline, each renderer, on one thread and on two, by the stop
//     flag and by the page's time limit (300 ms);
//   - the WebP encoder inside libwebp's one call;
//   - with velloran-cli's path, Ctrl-C inside a page at 2000 dpi.
// Each line gives the milliseconds from the stop to the end, the worst and
// the median, and whether the worst is within 500 ms. Exit status 1 when one is not.
#include "engine/image/webpencoder.h"
#include "engine/memorybudget.h"
#include "engine/pagepipeline.h"
#include "engine/render/renderdocument.h"
#include "support/drawingpdf.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr qint64 goalMs = 500;
bool allMet = true;

// Runs one measurement repeats times (each gives milliseconds, or -1 when it
// could not be made) and prints the line.
void report(const char *what, int repeats, const std::function<qint64()> &measure)
{
    std::vector<qint64> times;
    for (int i = 0; i < repeats; ++i) {
        const qint64 ms = measure();
        if (ms < 0) {
            std::printf("%-44s could not be measured\n", what);
            allMet = false;
            return;
        }
        times.push_back(ms);
    }
    std::sort(times.begin(), times.end());
    const qint64 worst = times.back();
    const bool met = worst < goalMs;
    allMet = allMet && met;
    std::printf("%-44s worst %5lld ms, median %5lld ms: %s\n", what, worst, times.at(times.size() / 2),
                met ? "within 500 ms" : "PAST 500 ms");
    std::fflush(stdout);
}

// The page pipeline on a page that takes minutes: stopped 300 ms into the
// drawing, or ended by a time limit of 300 ms. Milliseconds past that point.
qint64 pipelineStop(RendererKind renderer, const QString &pdf, const QString &folder, int threads, bool byDeadline)
{
    const RenderOpenResult opened = openForRendering(renderer, pdf, QByteArray());
    if (!opened.document)
        return -1;
    // Says when the page has taken its memory: its drawing starts right after.
    class Watched : public MemoryBudget
    {
    public:
        qint64 acquire(qint64 bytes, const std::atomic<bool> &stop) override
        {
            const qint64 granted = MemoryBudget::acquire(bytes, stop);
            taken = true;
            return granted;
        }
        std::atomic<bool> taken{false};
    } budget;
    PageJob job;
    job.outputPath = folder + QStringLiteral("/stopped.png");
    job.format = ImageFormat::Png;
    job.resolution = 1200;
    job.memory = &budget;
    job.timeLimitMs = byDeadline ? 300 : 0;
    job.bandThreads = threads;
    job.openCopy = [renderer, pdf] { return openForRendering(renderer, pdf, QByteArray()).document; };
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    QElapsedTimer sinceDrawing;
    std::thread worker([&] {
        convertPage(*opened.document, job, stop);
        done = true;
    });
    // The budget is taken right before the drawing starts.
    while (!budget.taken && !done)
        QThread::usleep(200);
    sinceDrawing.start();
    if (!byDeadline) {
        QThread::msleep(300);
        stop = true;
    }
    worker.join();
    return done && !QFile::exists(job.outputPath) ? qMax<qint64>(0, sinceDrawing.elapsed() - 300) : -1;
}

// libwebp encodes a picture in one call; the stop reaches it through its
// progress hook. Noise of 4000 x 4000 pixels takes seconds to encode.
qint64 webpStop(const QImage &noise)
{
    QBuffer output;
    output.open(QIODevice::WriteOnly);
    WebpEncoder encoder;
    const int side = noise.width();
    if (!encoder.begin(&output, EncodeSettings{side, side, 150, 75, PixelMode::Color, {}})
        || !encoder.writeRows(noise.constBits(), noise.bytesPerLine(), side))
        return -1;
    std::atomic<bool> stop{false};
    encoder.stopWhen(&stop, QDeadlineTimer(QDeadlineTimer::Forever));
    QElapsedTimer sinceStop;
    std::thread stopper([&] {
        QThread::msleep(300);
        sinceStop.start();
        stop = true;
    });
    const bool written = encoder.finish();
    const qint64 elapsed = sinceStop.isValid() ? sinceStop.elapsed() : -1;
    stopper.join();
    return written ? -1 : elapsed;
}

// velloran-cli at 2000 dpi: Ctrl-C once the page's temporary file appears
// (its first band drawn); milliseconds until the process has ended.
qint64 cliInterrupt(const QString &cli, const QString &pdf, const QString &folder)
{
    const QString out = folder + QStringLiteral("/cli");
    QDir(out).removeRecursively();
    QProcess process;
    process.start(cli, {QStringLiteral("-q"), QStringLiteral("-j"), QStringLiteral("1"), QStringLiteral("-t"),
                        QStringLiteral("png"), QStringLiteral("-r"), QStringLiteral("2000"), QStringLiteral("-o"), out,
                        pdf});
    if (!process.waitForStarted())
        return -1;
    QElapsedTimer waited;
    waited.start();
    while (QDir(out).entryList(QDir::Files | QDir::Hidden).isEmpty()) {
        if (process.state() == QProcess::NotRunning || waited.elapsed() > 600000)
            return -1;
        QThread::msleep(2);
    }
    QElapsedTimer sinceInterrupt;
    sinceInterrupt.start();
    ::kill(pid_t(process.processId()), SIGINT);
    if (!process.waitForFinished(600000))
        return -1;
    const qint64 elapsed = sinceInterrupt.elapsed();
    return process.exitCode() == 130 && QDir(out).entryList(QDir::Files | QDir::Hidden).isEmpty() ? elapsed : -1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // QPdfWriter needs a platform, not a screen
    // The back-ends' modules beside the build tree's worker.
    if (qEnvironmentVariableIsEmpty("VELLORAN_WORKER"))
        qputenv("VELLORAN_WORKER", VELLORAN_WORKER_PATH);
    QGuiApplication app(argc, argv);
    const QString cli = app.arguments().value(1);
    const int repeats = qMax(1, qEnvironmentVariableIntValue("REPEATS") > 0 ? qEnvironmentVariableIntValue("REPEATS") : 3);
    QTemporaryDir dir;
    const QString heavy = dir.filePath(QStringLiteral("heavy.pdf"));
    if (!dir.isValid() || !makeDrawingPdf(heavy, 20000)) {
        std::fprintf(stderr, "bench_stop: cannot make the test page\n");
        return 2;
    }
    std::printf("from the stop to the end, %d runs each (goal: %lld ms)\n", repeats, goalMs);

    for (RendererKind renderer : {RendererKind::MuPdf, RendererKind::Poppler}) {
        if (!rendererBuiltIn(renderer))
            continue;
        for (int threads : {1, 2}) {
            for (bool byDeadline : {false, true}) {
                const QByteArray what = QStringLiteral("pipeline, %1, %2 thread%3, %4")
                                            .arg(rendererName(renderer))
                                            .arg(threads)
                                            .arg(threads > 1 ? "s" : "")
                                            .arg(byDeadline ? "time limit" : "stop")
                                            .toUtf8();
                report(what.constData(), repeats,
                       [&] { return pipelineStop(renderer, heavy, dir.path(), threads, byDeadline); });
            }
        }
    }

    QImage noise(4000, 4000, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y)
        random.fillRange(reinterpret_cast<quint32 *>(noise.scanLine(y)), noise.width());
    report("webp encoder, stop", repeats, [&] { return webpStop(noise); });

    if (!cli.isEmpty())
        report("velloran-cli -r 2000, Ctrl-C", repeats, [&] { return cliInterrupt(cli, heavy, dir.path()); });
    return allMet ? 0 : 1;
}
