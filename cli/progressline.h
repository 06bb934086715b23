#ifndef PROGRESSLINE_H
#define PROGRESSLINE_H

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// The one-line progress report of the command-line converter: pages done of
// the total and pages per second, redrawn in place on a terminal. Failure
// lines are printed above it. Not thread-safe: the caller serialises calls.
class ProgressLine
{
public:
    ProgressLine(FILE *stream, int total, bool shown);

    void pageDone();
    void printError(const QString &line);
    void finish();

private:
    void draw(bool force);
    void clear();

    FILE *stream;
    int total;
    int done = 0;
    bool shown;
    bool drawn = false;
    QElapsedTimer clock;
    qint64 lastDraw = -1;
};

#endif // PROGRESSLINE_H
