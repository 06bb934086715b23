#ifndef OPENDOCUMENT_H
#define OPENDOCUMENT_H

#include <QString>

// The window's open document as a worker found it. The window opens no
// document itself: a worker loads it (and a file that crashes or hangs the
// library there costs that worker), checks it is not locked and counts its
// pages; every preview and page is then drawn by workers from the path.
struct OpenDocument
{
    QString path;
    quint32 pageCount = 0;
};

#endif // OPENDOCUMENT_H
