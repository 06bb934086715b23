#ifndef CONVERSIONSUMMARY_H
#define CONVERSIONSUMMARY_H

#include "engine/pageoutcome.h"

#include <QString>

// What became of a run's pages, counted the same way however they were drawn.
struct ConversionSummary
{
    int written = 0;
    int failed = 0;
    int notStarted = 0;     // not written because the run was stopped, or stopped by itself
    int skipped = 0;        // outputs that were there already
    // How far the processes that drew were confined: "landlock", or
    // "none: <why>"; empty when no worker was ready.
    QString confinement;
    // Set when the run stopped by itself before every page was tried, such as
    // at a full disk: why, in a line that names the place.
    QString stoppedBecause;
    // How the workers' memory ceiling was kept: "resident" (measured as they
    // draw), or "none".
    QString memoryLimit = QStringLiteral("none");

    // Counts a page's outcome; false for a page stopped midway, which counts
    // with the pages never started and is not reported.
    bool count(const PageOutcome &outcome)
    {
        switch (outcome.result) {
        case PageOutcome::Stopped:
            return false;
        case PageOutcome::Skipped:
            ++skipped;
            return true;
        case PageOutcome::Written:
            ++written;
            return true;
        default:
            ++failed;
            return true;
        }
    }
    // Once the run has ended: the pages that were neither counted nor refused were never started.
    void finish(int pageCount) { notStarted = pageCount - written - failed - skipped; }
};

#endif // CONVERSIONSUMMARY_H
