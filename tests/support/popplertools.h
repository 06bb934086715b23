#ifndef POPPLERTOOLS_H
#define POPPLERTOOLS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// For the tests that hold this program, run under a poppler-utils program's
// name, beside the real one: running either, the documents both are given,
// and what a written page's header says.

struct ToolRun
{
    int status = -1; // the exit status; -1 for a crash or a run past four minutes
    QByteArray out;
    QByteArray err;
};
// Runs program in folder, with input on its standard input and nothing after,
// and TZ set to zone when one is given.
ToolRun runTool(const QString &program, const QStringList &arguments, const QString &folder,
                const QByteArray &input = QByteArray(), const QString &zone = QString());

// A PDF of one page per entry, each "w,h" or "w,h,rotation" or "w,h,rotation,
// x0,y0,x1,y1" (a crop box): the media box's sides in points as written,
// decimals and all, a red box near its lower left corner and a blue diagonal.
bool makeBoxesPdf(const QString &path, const QStringList &pages);

// What an image's header says: "P6 1275 1650 255", "PNG 100 71 type 2 depth 8",
// "JPEG 640 480 3"; length, when asked, the bytes of a netpbm image.
QString imageHeader(const QByteArray &bytes, qsizetype *length = nullptr);
// The same of a file, and "TIFF w h channels depth bits" of a TIFF.
QString fileHeader(const QString &path);

#endif // POPPLERTOOLS_H
