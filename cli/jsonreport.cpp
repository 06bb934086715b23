#include "cli/jsonreport.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

void writeLine(FILE *stream, const QJsonObject &object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}

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

} // namespace

JsonReport::JsonReport(FILE *stream)
    : stream(stream)
{
    sinceStart.start();
}

void JsonReport::page(const QString &pdfPath, const PageOutcome &outcome, const QString &error)
{
    writeLine(stream, QJsonObject{
                          {QStringLiteral("file"), pdfPath},
                          {QStringLiteral("page"), outcome.page + 1},
                          {QStringLiteral("output"), outcome.outputPath},
                          {QStringLiteral("status"), statusOf(outcome.result)},
                          {QStringLiteral("error"), error.isEmpty() ? QJsonValue() : QJsonValue(error)},
                          {QStringLiteral("milliseconds"), outcome.milliseconds},
                      });
}

void JsonReport::summary(const ConversionSummary &summary, int pageCount, int exitStatus, const QString &renderer)
{
    writeLine(stream, QJsonObject{{QStringLiteral("summary"),
                                   QJsonObject{
                                       {QStringLiteral("pages"), pageCount},
                                       {QStringLiteral("written"), summary.written},
                                       {QStringLiteral("failed"), summary.failed},
                                       {QStringLiteral("skipped"), summary.skipped},
                                       {QStringLiteral("not_started"), summary.notStarted},
                                       {QStringLiteral("exit_status"), exitStatus},
                                       {QStringLiteral("renderer"), renderer},
                                       {QStringLiteral("milliseconds"), sinceStart.elapsed()},
                                   }}});
}
