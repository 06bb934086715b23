#ifndef OPENDOCUMENT_H
#define OPENDOCUMENT_H

#include "engine/filestamp.h"

#include <QString>

// The window's open document as a worker found it. The window opens no
// document itself: a worker loads it (and a file that crashes or hangs the
// library there costs that worker), checks it is not locked and counts its
// pages; every preview and page is then drawn by workers from the path.
struct OpenDocument
{
    QString path;
    quint32 pageCount = 0;
    // The file as it was when the worker was asked to open it: the pages are
    // drawn from the path, so a file changed since then is another document.
    FileStamp stamp;
};

#endif // OPENDOCUMENT_H
