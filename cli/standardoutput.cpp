#include "cli/standardoutput.h"

#include "engine/image/rowencoder.h"

#include <QBuffer>
#include <QFile>

#include <unistd.h>

namespace {

PageOutcome &writeFailed(PageOutcome &outcome, const QString &why)
{
    outcome.result = PageOutcome::WriteFailed;
    outcome.detail = why;
    return outcome;
}

} // namespace

PageOutcome convertPageToStandardOutput(const RenderDocument &document, const PageJob &job,
                                        const std::atomic<bool> &stop)
{
    QFile out;
    if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
        PageOutcome outcome;
        outcome.page = job.pageIndex;
        outcome.outputPath = job.outputPath;
        return writeFailed(outcome, out.errorString());
    }
    const std::unique_ptr<RowEncoder> encoder = makeEncoder(job.format);
    PageOutcome outcome;
    if (!formatFacts(job.format).streams) {
        QBuffer memory;
        memory.open(QIODevice::ReadWrite);
        outcome = appendPage(document, job, *encoder, memory, stop);
        if (outcome.result == PageOutcome::Written && out.write(memory.data()) != memory.data().size())
            return writeFailed(outcome, out.errorString());
    } else {
        outcome = appendPage(document, job, *encoder, out, stop);
    }
    if (!out.flush() && outcome.result == PageOutcome::Written)
        return writeFailed(outcome, out.errorString());
    return outcome;
}
