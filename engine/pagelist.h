#ifndef PAGELIST_H
#define PAGELIST_H

#include <QList>
#include <QString>

// Outcome of reading a typed page list such as "1,2,3,6-9".
struct PageListResult
{
    enum Error {
        None,      // pages holds the 0-based indexes, possibly none
        Empty,     // nothing was typed
        BelowOne,  // a page number below 1
        AboveTotal, // a page number above the page count
        BadPart,    // a part that is neither a page number nor a range (strict reading only)
        Reversed    // a range whose end comes before its start, such as 3-1 (strict reading only)
    };

    Error error = None;
    QList<int> pages;
    QString badPart; // the part refused, with BadPart and Reversed
};

// Parses a typed page list into 0-based page indexes in the order given,
// each page once. Parts that are not numbers (an empty part, "4-", "1-2-3")
// are skipped; the first number out of range stops parsing with its error.
PageListResult parsePageList(const QString &text, quint32 totalPage);

// The same list read strictly, for the command line, where nobody sees what
// a lenient reading dropped: every comma-separated part must be a page number,
// a range a-b of page numbers, an open range a- to the last page, or "odd" or
// "even" (every such page of the document), spaces around them allowed, else
// BadPart names it. A range that runs backwards (3-1) is Reversed rather than
// read as 1-3: the user may have meant another number. Page numbers too long
// for any integer are above the total.
// "even" of a one-page document selects nothing.
PageListResult parsePageListStrictly(const QString &text, quint32 totalPage);

// 0-based indexes of every page, in order.
QList<int> allPages(quint32 totalPage);

// The pages as the user numbers them, such as "3, 7".
QString pageNumbersText(const QList<int> &pageIndexes);

#endif // PAGELIST_H
