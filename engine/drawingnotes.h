#ifndef DRAWINGNOTES_H
#define DRAWINGNOTES_H

#include <QString>
#include <QStringList>

// What the PDF libraries report while a process draws (MuPDF's warnings and
// the errors it throws, Poppler's error callback, what a worker printed on its
// standard error), gathered for the page in hand: a worker takes them after
// each page and hands them back with its outcome. Shared by every thread of
// the process, since a worker draws one page at a time (its bands on several
// threads); the first few texts are kept, the rest only counted.
namespace DrawingNotes {

enum class Severity {
    Warning, // the library drew on as it thought best
    Error    // something was left out: a missing object, an image that could not be decoded, memory
};

struct Notes
{
    QStringList first; // the first few, each once
    int count = 0;     // all of them, repeats too
    bool errors = false;
};

constexpr int kept = 5;

void add(Severity severity, const QString &text);
// What was added since the last take, and starts afresh.
Notes take();

} // namespace DrawingNotes

#endif // DRAWINGNOTES_H
