#include "cli/progressline.h"

ProgressLine::ProgressLine(FILE *stream, int total, bool shown)
    : stream(stream)
    , total(total)
    , shown(shown)
{
    clock.start();
    draw(true);
}

void ProgressLine::pageDone()
{
    ++done;
    draw(done == total);
}

void ProgressLine::printError(const QString &line)
{
    clear();
    std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    draw(true);
}

void ProgressLine::finish()
{
    if (!drawn)
        return;
    draw(true);
    std::fputc('\n', stream);
    std::fflush(stream);
    drawn = false;
}

void ProgressLine::draw(bool force)
{
    if (!shown)
        return;
    const qint64 now = clock.elapsed();
    // A terminal redrawn for every page of a fast run costs more than it shows.
    if (!force && lastDraw >= 0 && now - lastDraw < 100)
        return;
    lastDraw = now;
    const double seconds = qMax<qint64>(now, 1) / 1000.0;
    const QString text = QStringLiteral("\r%1 of %2 pages, %3 pages/s")
                             .arg(done)
                             .arg(total)
                             .arg(done / seconds, 0, 'f', 1);
    std::fputs(qPrintable(text + QStringLiteral("\x1b[K")), stream);
    std::fflush(stream);
    drawn = true;
}

void ProgressLine::clear()
{
    if (drawn)
        std::fputs("\r\x1b[K", stream);
}
