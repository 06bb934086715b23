#ifndef DOCUMENTINFO_H
#define DOCUMENTINFO_H

#include "engine/render/pdfstatus.h"

#include <QDataStream>
#include <QList>
#include <QString>

// What a document says of itself, read by a worker and printed by the
// program run as pdfinfo: its Info dictionary, catalog flags, encryption,
// version and every page's boxes and rotation, as plain values. Numbers are
// kept as the PDF's parser gives them, so that the program prints the same
// digits pdfinfo does.

struct PdfBox
{
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};

struct PdfPageInfo
{
    PdfBox mediaBox, cropBox, bleedBox, trimBox, artBox;
    int rotation = 0;        // 0, 90, 180 or 270
    bool javaScript = false; // in the page's annotations, links or fields
};

struct PdfDocumentInfo
{
    PdfLoadStatus status = PdfLoadStatus::Failed;
    // The Info dictionary's text strings, in UTF-8 order of pdfinfo's lines;
    // null when the entry is missing or not a string.
    QString title, subject, keywords, author, creator, producer;
    QByteArray creationDate, modDate; // the PDF's date strings, undecoded
    bool customMetadata = false;      // an Info entry besides the standard ones
    bool metadataStream = false;
    bool tagged = false, userProperties = false, suspects = false; // the catalog's MarkInfo
    enum Form : quint8 { NoForm, AcroForm, XfaForm } form = NoForm;
    bool documentJavaScript = false; // in the document's names or actions
    int pageCount = 0;
    bool encrypted = false;
    bool mayPrint = true, mayCopy = true, mayChange = true, mayAddNotes = true;
    QString encryption; // "RC4", "AES", "AES-256" or "unknown"
    qint64 fileSize = 0;
    bool linearized = false;
    int majorVersion = 0, minorVersion = 0;
    QList<PdfPageInfo> pages;
};

QDataStream &operator<<(QDataStream &out, const PdfDocumentInfo &info);
QDataStream &operator>>(QDataStream &in, PdfDocumentInfo &info);

// A worker reads them with readDocumentInfo() (renderdocument.h).

#endif // DOCUMENTINFO_H
