#ifndef OUTPUTNAME_H
#define OUTPUTNAME_H

#include <QString>

class QDir;

// "<complete base name of the PDF>_<page number from 1>.<extension>".
// The base name and extension are inserted literally: a "%1" in a file
// name stays as it is.
QString outputFileName(const QString &pdfPath, int pageIndex, const QString &extension);

// The same with the page number padded with zeros to the width of the
// largest page number, so that names sort: report_07.png of 42 pages.
QString paddedOutputFileName(const QString &pdfPath, int pageIndex, int pageCount, const QString &extension);

// "<complete base name of the PDF>.<extension>", for one file of every page.
QString documentFileName(const QString &pdfPath, const QString &extension);

// The file name joined to the output folder and made absolute.
QString outputFilePath(const QDir &outputDir, const QString &fileName);

#endif // OUTPUTNAME_H
