#ifndef PDFTOPPMARGS_H
#define PDFTOPPMARGS_H

#include "cli/popplerargs.h"
#include "engine/pdftoppmsize.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// pdftoppm's command line (poppler-utils 22.12), read as it reads it
// (cli/popplerargs): the options, then the PDF file and the output root.
struct PdftoppmArgs
{
    int firstPage = 0; // 0: the first
    int lastPage = 0;  // 0: the last
    bool oddOnly = false;
    bool evenOnly = false;
    bool singleFile = false;
    PdftoppmSizing sizing; // always active
    double resolution = 0; // -r, applied to sizing once every option is read (applyPopplerResolution())
    bool cropBox = false;
    bool hideAnnotations = false;
    bool mono = false;
    bool gray = false;
    bool png = false;
    bool jpeg = false;
    bool jpegCmyk = false;
    bool tiff = false;
    QString jpegOptions;     // "quality=90,progressive=y,optimize=n"
    QString tiffCompression; // none, packbits, jpeg, lzw, deflate
    bool antialias = true;   // -aa and -aaVector
    QByteArray ownerPassword;
    QByteArray userPassword;
    bool quiet = false;
    bool progress = false;
    bool forceNumber = false;
    QString separator = QStringLiteral("-"); // one character at most
    bool version = false;
    bool help = false;
    QStringList positional; // the PDF file ("-" or none: standard input), the output root
    QStringList ignored;    // options accepted and not honoured, as given ("-freetype")
    bool usageError = false; // a value missing or not a number, or too many arguments

    QString file() const { return positional.value(0); }
    // Null: every page to standard output.
    QString root() const { return positional.size() > 1 ? positional.at(1) : QString(); }
};

PdftoppmArgs parsePdftoppmArgs(const QStringList &arguments); // the first is the program's name

// The usage text pdftoppm prints on standard error for -h or a bad argument.
QString pdftoppmUsage();

#endif // PDFTOPPMARGS_H
