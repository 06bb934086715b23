#include "cli/jsonreport.h"

#include "engine/nativepath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <system_error>

namespace {

QString statusOf(PageOutcome::Result result)
{
    switch (result) {
    case PageOutcome::Written:
        return QStringLiteral("written");
    case PageOutcome::Skipped:
        return QStringLiteral("skipped");
    default:
        return QStringLiteral("failed");
    }
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// Always a string, so that a script can test it with one comparison: the
// workers report theirs, and a run in which none drew a page (refused, one
// page to standard output, a multi-page TIFF, every page skipped) says so.
QString confinementOf(const ConversionSummary &summary)
{
    return summary.confinement.isEmpty() ? QStringLiteral("none: no page was drawn in a worker")
                                         : summary.confinement;
}

} // namespace

// Names whose bytes are not UTF-8 with those bytes written as \xNN, so that
// the report stays valid UTF-8 (JSON has no way to carry raw bytes).
static QStringList displayed(const QStringList &paths)
{
    QStringList shown;
    shown.reserve(paths.size());
    for (const QString &path : paths)
        shown << displayPath(path);
    return shown;
}

JsonReport::JsonReport(FILE *stream)
    : stream(stream)
{
    sinceStart.start();
}

void JsonReport::writeLine(const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    errno = 0;
    // A failed write is remembered, not fatal: the next lines are still tried,
    // so that whatever can take them gets them.
    const bool whole = std::fwrite(line.constData(), 1, size_t(line.size()), stream) == size_t(line.size());
    const bool flushed = std::fflush(stream) == 0;
    if (!whole || !flushed || std::ferror(stream)) {
        if (!failed && errno != 0)
            reason = QString::fromStdString(std::error_code(errno, std::generic_category()).message());
        failed = true;
        std::clearerr(stream);
    }
}

void JsonReport::page(const QString &pdfPath, const PageOutcome &outcome, const QString &error)
{
    writeLine(QJsonObject{
        {QStringLiteral("file"), displayPath(pdfPath)},
        {QStringLiteral("page"), outcome.page + 1},
        {QStringLiteral("output"), displayPath(outcome.outputPath)},
        {QStringLiteral("status"), statusOf(outcome.result)},
        {QStringLiteral("error"), textOrNull(error)},
        {QStringLiteral("milliseconds"), outcome.milliseconds},
        {QStringLiteral("redone_because"), textOrNull(outcome.redoneBecause)},
        {QStringLiteral("renderer"), textOrNull(outcome.renderer)},
        {QStringLiteral("warnings"), QJsonObject{{QStringLiteral("count"), outcome.warningCount},
                                                 {QStringLiteral("errors"), outcome.drawingErrors},
                                                 {QStringLiteral("first"), QJsonArray::fromStringList(outcome.warnings)}}},
    });
}

void JsonReport::refused(const RefusedFile &file)
{
    writeLine(QJsonObject{
        {QStringLiteral("file"), displayPath(file.path)},
        {QStringLiteral("status"), QStringLiteral("refused")},
        {QStringLiteral("error"), file.reason},
    });
}

void JsonReport::summary(const ConversionSummary &summary, int pageCount, int refusedCount, const QStringList &files,
                         int exitStatus, const QString &renderer)
{
    writeLine(QJsonObject{{QStringLiteral("summary"),
                           QJsonObject{
                               {QStringLiteral("files"), QJsonArray::fromStringList(displayed(files))},
                               {QStringLiteral("pages"), pageCount},
                               {QStringLiteral("written"), summary.written},
                               {QStringLiteral("failed"), summary.failed},
                               {QStringLiteral("skipped"), summary.skipped},
                               {QStringLiteral("not_started"), summary.notStarted},
                               {QStringLiteral("refused"), refusedCount},
                               {QStringLiteral("exit_status"), exitStatus},
                               {QStringLiteral("renderer"), renderer},
                               {QStringLiteral("confinement"), confinementOf(summary)},
                               {QStringLiteral("stopped_because"), textOrNull(summary.stoppedBecause)},
                               {QStringLiteral("memory_limit"), summary.memoryLimit},
                               {QStringLiteral("milliseconds"), sinceStart.elapsed()},
                           }}});
}
