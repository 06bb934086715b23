#include "cli/pdftocairoargs.h"

namespace {

using Option = PopplerOption<PdftocairoArgs>;
using Kind = PopplerArgKind;
using A = PdftocairoArgs;

// A PostScript, PDF or SVG option: read, kept to be refused with an image type.
Option printing(const char *name, Kind kind, const char *help)
{
    return {name, kind, help, [name, kind](A &a, const QString &value) {
                // pdftocairo counts a size given above 0 and a paper named.
                const bool given = kind == Kind::Flag || (kind == Kind::Int ? popplerInt(value) > 0 : !value.isEmpty());
                if (given && !a.printingOptions.contains(QLatin1String(name)))
                    a.printingOptions << QLatin1String(name);
            }};
}

Option vector(const char *name, const char *help)
{
    return {name, Kind::Flag, help, [name](A &a, const QString &) {
                if (!a.vectorTypes.contains(QLatin1String(name)))
                    a.vectorTypes << QLatin1String(name);
            }};
}

const QList<Option> &options()
{
    static const QList<Option> list = {
        {"-png", Kind::Flag, "generate a PNG file", [](A &a, const QString &) { a.png = true; }},
        {"-jpeg", Kind::Flag, "generate a JPEG file", [](A &a, const QString &) { a.jpeg = true; }},
        {"-jpegopt", Kind::Text, "jpeg options, with format <opt1>=<val1>[,<optN>=<valN>]*",
         [](A &a, const QString &v) { a.jpegOptions = v; }},
        {"-tiff", Kind::Flag, "generate a TIFF file", [](A &a, const QString &) { a.tiff = true; }},
        {"-tiffcompression", Kind::Text, "set TIFF compression: none, packbits, jpeg, lzw, deflate",
         [](A &a, const QString &v) { a.tiffCompression = v; }},
        vector("-ps", "generate PostScript file"),
        vector("-eps", "generate Encapsulated PostScript (EPS)"),
        vector("-pdf", "generate a PDF file"),
        vector("-svg", "generate a Scalable Vector Graphics (SVG) file"),
        {"-f", Kind::Int, "first page to print", [](A &a, const QString &v) { a.firstPage = popplerInt(v); }},
        {"-l", Kind::Int, "last page to print", [](A &a, const QString &v) { a.lastPage = popplerInt(v); }},
        {"-o", Kind::Flag, "print only odd pages", [](A &a, const QString &) { a.oddOnly = true; }},
        {"-e", Kind::Flag, "print only even pages", [](A &a, const QString &) { a.evenOnly = true; }},
        {"-singlefile", Kind::Flag, "write only the first page and do not add digits",
         [](A &a, const QString &) { a.singleFile = true; }},
        {"-r", Kind::Double, "resolution, in PPI (default is 150)",
         [](A &a, const QString &v) { a.resolution = popplerDouble(v); }},
        {"-rx", Kind::Double, "X resolution, in PPI (default is 150)",
         [](A &a, const QString &v) { a.given.xResolution = popplerDouble(v); }},
        {"-ry", Kind::Double, "Y resolution, in PPI (default is 150)",
         [](A &a, const QString &v) { a.given.yResolution = popplerDouble(v); }},
        {"-scale-to", Kind::Int, "scales each page to fit within scale-to*scale-to pixel box",
         [](A &a, const QString &v) { a.given.scaleTo = popplerInt(v); }},
        {"-scale-to-x", Kind::Int, "scales each page horizontally to fit in scale-to-x pixels",
         [](A &a, const QString &v) { a.given.scaleToX = popplerInt(v); }},
        {"-scale-to-y", Kind::Int, "scales each page vertically to fit in scale-to-y pixels",
         [](A &a, const QString &v) { a.given.scaleToY = popplerInt(v); }},
        {"-x", Kind::Int, "x-coordinate of the crop area top left corner",
         [](A &a, const QString &v) { a.given.x = popplerInt(v); }},
        {"-y", Kind::Int, "y-coordinate of the crop area top left corner",
         [](A &a, const QString &v) { a.given.y = popplerInt(v); }},
        {"-W", Kind::Int, "width of crop area in pixels (default is 0)",
         [](A &a, const QString &v) { a.given.width = popplerInt(v); }},
        {"-H", Kind::Int, "height of crop area in pixels (default is 0)",
         [](A &a, const QString &v) { a.given.height = popplerInt(v); }},
        {"-sz", Kind::Int, "size of crop square in pixels (sets W and H)",
         [](A &a, const QString &v) { a.given.width = a.given.height = popplerInt(v); }},
        {"-cropbox", Kind::Flag, "use the crop box rather than media box", [](A &a, const QString &) { a.cropBox = true; }},
        {"-mono", Kind::Flag, "generate a monochrome image file (PNG, JPEG)", [](A &a, const QString &) { a.mono = true; }},
        {"-gray", Kind::Flag, "generate a grayscale image file (PNG, JPEG)", [](A &a, const QString &) { a.gray = true; }},
        {"-transp", Kind::Flag, "use a transparent background instead of white (PNG)",
         [](A &a, const QString &) { a.transparent = true; }},
        {"-antialias", Kind::Text, "set cairo antialias option", [](A &a, const QString &v) { a.antialias = v; }},
        {"-icc", Kind::Text, "ICC color profile to use", [](A &a, const QString &v) { a.icc = v; }},
        printing("-level2", Kind::Flag, "generate Level 2 PostScript (PS, EPS)"),
        printing("-level3", Kind::Flag, "generate Level 3 PostScript (PS, EPS)"),
        printing("-origpagesizes", Kind::Flag, "conserve original page sizes (PS, PDF, SVG)"),
        printing("-paper", Kind::Text, "paper size (letter, legal, A4, A3, match)"),
        printing("-paperw", Kind::Int, "paper width, in points"),
        printing("-paperh", Kind::Int, "paper height, in points"),
        printing("-nocrop", Kind::Flag, "don't crop pages to CropBox"),
        printing("-expand", Kind::Flag, "expand pages smaller than the paper size"),
        printing("-noshrink", Kind::Flag, "don't shrink pages larger than the paper size"),
        printing("-nocenter", Kind::Flag, "don't center pages smaller than the paper size"),
        printing("-duplex", Kind::Flag, "enable duplex printing"),
        {"-opw", Kind::Text, "owner password (for encrypted files)",
         [](A &a, const QString &v) { a.ownerPassword = v.toUtf8(); }},
        {"-upw", Kind::Text, "user password (for encrypted files)",
         [](A &a, const QString &v) { a.userPassword = v.toUtf8(); }},
        {"-q", Kind::Flag, "don't print any messages or errors", [](A &a, const QString &) { a.quiet = true; }},
        {"-v", Kind::Flag, "print copyright and version info", [](A &a, const QString &) { a.version = true; }},
        {"-h", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
        {"-help", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
        {"--help", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
        {"-?", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
    };
    return list;
}

// The order pdftocairo checks the printing options in with an image type.
const QStringList &printingOrder()
{
    static const QStringList order{"-level2", "-level3", "-origpagesizes", "-paper", "-paperw", "-paperh",
                                   "-nocrop", "-expand", "-noshrink", "-nocenter", "-duplex"};
    return order;
}

} // namespace

PdftoppmSizing PdftocairoArgs::sizing() const
{
    PdftoppmSizing sizing = given;
    sizing.active = true;
    sizing.rule = PdftoppmSizing::Rule::Pdftocairo;
    applyPopplerResolution(sizing, resolution);
    return sizing;
}

PdftocairoArgs parsePdftocairoArgs(const QStringList &arguments)
{
    PdftocairoArgs args;
    args.badValue = !readPopplerArgs(arguments, options(), args, args.positional);
    args.usageError = args.badValue || args.positional.isEmpty() || args.positional.size() > 2;
    return args;
}

QString pdftocairoUsage(bool withFiles)
{
    return popplerUsage(QStringLiteral("pdftocairo"), withFiles ? QStringLiteral("<PDF-file> [<output-file>]") : QString(),
                        options());
}

const QStringList &pdftocairoAntialiasValues()
{
    static const QStringList values{"default", "none", "gray", "subpixel", "fast", "good", "best"};
    return values;
}

QString pdftocairoOptionError(const PdftocairoArgs &args)
{
    const int types = int(args.png) + int(args.jpeg) + int(args.tiff) + int(args.vectorTypes.size());
    if (types == 0)
        return QStringLiteral("Error: one of the output format options (-png, -jpeg, -ps, -eps, -pdf, -print, "
                              "-printdlg, -svg) must be used.");
    if (types > 1)
        return QStringLiteral("Error: use only one of the output format options (-png, -jpeg, -ps, -eps, -pdf, "
                              "-printdlg, -print, -svg).");
    if (!args.vectorTypes.isEmpty())
        return QStringLiteral("Error: %1 is not available: this program writes images only (-png, -jpeg, -tiff).")
            .arg(args.vectorTypes.constFirst());
    for (const QString &option : printingOrder())
        if (args.printingOptions.contains(option))
            return QStringLiteral("Error: %1 may only be used with the -ps, -eps, -pdf, or -svg output options.")
                .arg(option);
    if (!args.antialias.isEmpty() && !pdftocairoAntialiasValues().contains(args.antialias)) {
        QString text = QStringLiteral("Error: Invalid antialias option \"%1\"\nValid options are:").arg(args.antialias);
        for (const QString &value : pdftocairoAntialiasValues())
            text += QStringLiteral("\n  ") + value;
        return text;
    }
    if (!args.icc.isEmpty() && !args.png)
        return QStringLiteral("Error: -icc may only be used with png output.");
    if (args.transparent && !args.png && !args.tiff)
        return QStringLiteral("Error: -transp may only be used with png or tiff output.");
    if (args.mono && args.gray)
        return QStringLiteral("Error: -mono and -gray may not be used together.");
    if (args.mono && !args.png && !args.tiff)
        return QStringLiteral("Error: -mono may only be used with png or tiff output.");
    if (!args.jpegOptions.isEmpty()) {
        if (!args.jpeg)
            return QStringLiteral("Error: -jpegopt may only be used with jpeg output.");
        JpegOptions jpeg;
        QString why;
        if (!parseJpegOptions(args.jpegOptions, jpeg, &why))
            return why;
    }
    if (!args.tiffCompression.isEmpty() && !args.tiff)
        return QStringLiteral("Error: -tiffcompression may only be used with tiff output.");
    return QString();
}

QString pdftocairoRoot(const PdftocairoArgs &args, QString *why)
{
    const QString root = args.root();
    if (root == QLatin1String("-")) {
        if (!args.singleFile) {
            *why = QStringLiteral("Error: stdout may only be used with the ps, eps, pdf, svg output options or if "
                                  "-singlefile is used.");
            return QString();
        }
        return root;
    }
    if (!root.isNull())
        return root;
    const QString file = args.file();
    if (file == QLatin1String("-")) {
        *why = QStringLiteral("Error: an output filename or '-' must be supplied when the PDF file is stdin.");
        return QString();
    }
    QString name = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.isEmpty()) {
        *why = QStringLiteral("Error: invalid output filename.");
        return QString();
    }
    if (name.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}
