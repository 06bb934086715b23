#ifndef PAGEOUTCOME_H
#define PAGEOUTCOME_H

#include <QString>
#include <QStringList>

// What became of one page. The front ends turn it into their own words.
struct PageOutcome
{
    enum Result : int { // a fixed type: a value off the list read from a worker is refused, not undefined
        Written,
        NoPage,       // the document has no such page, or Poppler cannot give it
        RenderFailed, // Poppler drew nothing, or an image of the wrong size
        TooSmall,     // the page is less than a pixel at this resolution
        TooLarge,     // past what the output format can hold
        WriteFailed,  // detail says why
        Stopped,      // the stop flag was set; nothing was left behind
        TimedOut,     // the page took longer than its time limit; nothing was left behind
        Skipped       // left alone by the caller: its output file was there already
    };

    int page = 0; // 0-based
    QString outputPath;
    // Written but held back: the whole file's temporary name, for the caller
    // to put in place at outputPath.
    QString heldAt;
    Result result = RenderFailed;
    QString detail;
    int width = 0; // pixels, once known
    int height = 0;
    qint64 milliseconds = 0; // how long the page took, where the caller timed it
    QString redoneBecause;   // an output already there that was not whole, and why, where the caller looked
    QString renderer;        // the library that drew it ("mupdf", "poppler"), where the caller knows
    // What the library reported while it drew the page: the first few texts
    // and how many there were in all; errors (a missing object, an image left
    // out, memory refused) may have left something out of the page.
    QStringList warnings;
    int warningCount = 0;
    bool drawingErrors = false;
};

#endif // PAGEOUTCOME_H
