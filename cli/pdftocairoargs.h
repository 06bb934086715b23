#ifndef PDFTOCAIROARGS_H
#define PDFTOCAIROARGS_H

#include "cli/popplerargs.h"
#include "engine/pdftoppmsize.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// pdftocairo's command line (poppler-utils 22.12), read as it reads it
// (cli/popplerargs): its options, then the PDF file and the output root. The
// vector outputs and the printing options are read too, so that they are
// refused as pdftocairo refuses them with an image type.
struct PdftocairoArgs
{
    bool png = false;
    bool jpeg = false;
    bool tiff = false;
    QStringList vectorTypes; // -ps -eps -pdf -svg as given: this program writes none of them
    int firstPage = 0; // 0: the first
    int lastPage = 0;  // 0: the last (with -singlefile: the first)
    bool oddOnly = false;
    bool evenOnly = false;
    bool singleFile = false;
    double resolution = 0; // -r, applied by sizing() (applyPopplerResolution())
    PdftoppmSizing given; // -rx -ry -scale-to* -x -y -W -H -sz as read
    bool cropBox = false;
    bool mono = false;
    bool gray = false;
    bool transparent = false;
    QString antialias; // default, none, gray, subpixel, fast, good, best; empty: not given
    QString icc;       // a profile to embed in PNG files
    QString jpegOptions;
    QString tiffCompression;
    QStringList printingOptions; // the PostScript, PDF and SVG options given, in pdftocairo's order of checks
    QByteArray ownerPassword;
    QByteArray userPassword;
    bool quiet = false;
    bool version = false;
    bool help = false;
    QStringList positional;  // the PDF file ("-": standard input), the output root ("-": standard output)
    bool badValue = false;   // an option's value missing or not a number
    bool usageError = false; // badValue, no PDF file or too many arguments

    QString file() const { return positional.value(0); }
    QString root() const { return positional.value(1); } // null: made from the PDF's name
    // The page sizes asked for, under pdftocairo's rule.
    PdftoppmSizing sizing() const;
};

PdftocairoArgs parsePdftocairoArgs(const QStringList &arguments); // the first is the program's name

// The usage text pdftocairo prints on standard error: for -h and a wrong
// number of arguments with "<PDF-file> [<output-file>]", for a bad value
// without (withFiles false).
QString pdftocairoUsage(bool withFiles = true);

// The antialias values -antialias takes.
const QStringList &pdftocairoAntialiasValues();

// What pdftocairo refuses in its options before it opens anything, in its
// order of checks and words ("Error: -mono may only be used with png or tiff
// output."); empty when the options can be used. A vector type is refused
// here, after the count of types, by this program's own line.
QString pdftocairoOptionError(const PdftocairoArgs &args);

// The output root: as given; "-", standard output, with -singlefile only;
// none: the PDF's name's last part without ".pdf" (of any case), in the
// working folder. Null, with pdftocairo's words in *why, where it gives up:
// "-" without -singlefile, no root for a PDF from standard input, a name
// that ends in "/".
QString pdftocairoRoot(const PdftocairoArgs &args, QString *why);

#endif // PDFTOCAIROARGS_H
