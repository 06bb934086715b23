#include "cli/workerprotocol.h"

#include "engine/nativepath.h"

#include <QList>

namespace {

QByteArray text(const QString &value)
{
    // An empty string is sent as "-": split() would otherwise lose the field.
    // nativePath keeps the bytes of a path that are not UTF-8 (and is UTF-8 otherwise).
    return value.isEmpty() ? QByteArray("-") : nativePath(value).toBase64();
}

QString untext(const QByteArray &field)
{
    return field == "-" ? QString() : pathFromNative(QByteArray::fromBase64(field));
}

bool readInts(const QList<QByteArray> &fields, int from, int count, qint64 *values)
{
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        values[i] = fields.at(from + i).toLongLong(&ok);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

namespace WorkerProtocol {

QByteArray readyLine(const QString &unconfinedBecause)
{
    return "ready " + text(unconfinedBecause) + '\n';
}

std::optional<QString> readReady(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 2 || fields.first() != "ready")
        return std::nullopt;
    return untext(fields.at(1));
}

QByteArray taskLine(const WorkerTask &task)
{
    return "page " + QByteArray::number(task.fileIndex) + ' ' + QByteArray::number(task.pageIndex) + ' '
           + QByteArray::number(task.bandThreads) + '\n';
}

std::optional<WorkerTask> readTask(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    qint64 values[3];
    if (fields.size() != 4 || fields.first() != "page" || !readInts(fields, 1, 3, values))
        return std::nullopt;
    return WorkerTask{int(values[0]), int(values[1]), int(values[2])};
}

QByteArray outcomeLine(const PageOutcome &outcome)
{
    return "done " + QByteArray::number(int(outcome.result)) + ' ' + QByteArray::number(outcome.page) + ' '
           + QByteArray::number(outcome.width) + ' ' + QByteArray::number(outcome.height) + ' '
           + QByteArray::number(outcome.milliseconds) + ' ' + text(outcome.outputPath) + ' ' + text(outcome.detail)
           + '\n';
}

std::optional<PageOutcome> readOutcome(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    qint64 values[5];
    if (fields.size() != 8 || fields.first() != "done" || !readInts(fields, 1, 5, values)
        || values[0] < PageOutcome::Written || values[0] > PageOutcome::Skipped)
        return std::nullopt;
    PageOutcome outcome;
    outcome.result = PageOutcome::Result(values[0]);
    outcome.page = int(values[1]);
    outcome.width = int(values[2]);
    outcome.height = int(values[3]);
    outcome.milliseconds = values[4];
    outcome.outputPath = untext(fields.at(6));
    outcome.detail = untext(fields.at(7));
    return outcome;
}

} // namespace WorkerProtocol
