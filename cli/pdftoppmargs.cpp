#include "cli/pdftoppmargs.h"

#include <functional>

namespace {

enum class Kind { Flag, Int, Double, Text };

struct Option
{
    const char *name;
    Kind kind;
    const char *help;
    std::function<void(PdftoppmArgs &, const QString &)> apply;
};

// As poppler's isInt: an optional minus and digits.
bool readInt(const QString &text, int &value)
{
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok && !text.startsWith(QLatin1Char('+'));
}

bool readDouble(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok;
}

const QList<Option> &options()
{
    using A = PdftoppmArgs;
    const auto ignore = [](A &, const QString &) {};
    static const QList<Option> list = {
        {"-f", Kind::Int, "first page to print", [](A &a, const QString &v) { a.firstPage = v.toInt(); }},
        {"-l", Kind::Int, "last page to print", [](A &a, const QString &v) { a.lastPage = v.toInt(); }},
        {"-o", Kind::Flag, "print only odd pages", [](A &a, const QString &) { a.oddOnly = true; }},
        {"-e", Kind::Flag, "print only even pages", [](A &a, const QString &) { a.evenOnly = true; }},
        {"-singlefile", Kind::Flag, "write only the first page and do not add digits",
         [](A &a, const QString &) { a.singleFile = true; }},
        {"-scale-dimension-before-rotation", Kind::Flag, "for rotated pdf, resize dimensions before the rotation",
         ignore},
        {"-r", Kind::Double, "resolution, in DPI (default is 150)",
         [](A &a, const QString &v) { a.sizing.xResolution = a.sizing.yResolution = v.toDouble(); }},
        {"-rx", Kind::Double, "X resolution, in DPI (default is 150)",
         [](A &a, const QString &v) { a.sizing.xResolution = v.toDouble(); }},
        {"-ry", Kind::Double, "Y resolution, in DPI (default is 150)",
         [](A &a, const QString &v) { a.sizing.yResolution = v.toDouble(); }},
        {"-scale-to", Kind::Int, "scales each page to fit within scale-to*scale-to pixel box",
         [](A &a, const QString &v) { a.sizing.scaleTo = v.toInt(); }},
        {"-scale-to-x", Kind::Int, "scales each page horizontally to fit in scale-to-x pixels",
         [](A &a, const QString &v) { a.sizing.scaleToX = v.toInt(); }},
        {"-scale-to-y", Kind::Int, "scales each page vertically to fit in scale-to-y pixels",
         [](A &a, const QString &v) { a.sizing.scaleToY = v.toInt(); }},
        {"-x", Kind::Int, "x-coordinate of the crop area top left corner",
         [](A &a, const QString &v) { a.sizing.x = v.toInt(); }},
        {"-y", Kind::Int, "y-coordinate of the crop area top left corner",
         [](A &a, const QString &v) { a.sizing.y = v.toInt(); }},
        {"-W", Kind::Int, "width of crop area in pixels (default is 0)",
         [](A &a, const QString &v) { a.sizing.width = v.toInt(); }},
        {"-H", Kind::Int, "height of crop area in pixels (default is 0)",
         [](A &a, const QString &v) { a.sizing.height = v.toInt(); }},
        {"-sz", Kind::Int, "size of crop square in pixels (sets W and H)",
         [](A &a, const QString &v) { a.sizing.width = a.sizing.height = v.toInt(); }},
        {"-cropbox", Kind::Flag, "use the crop box rather than media box", [](A &a, const QString &) { a.cropBox = true; }},
        {"-hide-annotations", Kind::Flag, "do not show annotations",
         [](A &a, const QString &) { a.hideAnnotations = true; }},
        {"-mono", Kind::Flag, "generate a monochrome PBM file", [](A &a, const QString &) { a.mono = true; }},
        {"-gray", Kind::Flag, "generate a grayscale PGM file", [](A &a, const QString &) { a.gray = true; }},
        {"-displayprofile", Kind::Text, "ICC color profile to use as the display profile", ignore},
        {"-defaultgrayprofile", Kind::Text, "ICC color profile to use as the DefaultGray color space", ignore},
        {"-defaultrgbprofile", Kind::Text, "ICC color profile to use as the DefaultRGB color space", ignore},
        {"-defaultcmykprofile", Kind::Text, "ICC color profile to use as the DefaultCMYK color space", ignore},
        {"-sep", Kind::Text, "single character separator between name and page number, default - ",
         [](A &a, const QString &v) { a.separator = v.left(1); }},
        {"-forcenum", Kind::Flag, "force page number even if there is only one page ",
         [](A &a, const QString &) { a.forceNumber = true; }},
        {"-png", Kind::Flag, "generate a PNG file", [](A &a, const QString &) { a.png = true; }},
        {"-jpeg", Kind::Flag, "generate a JPEG file", [](A &a, const QString &) { a.jpeg = true; }},
        {"-jpegcmyk", Kind::Flag, "generate a CMYK JPEG file", [](A &a, const QString &) { a.jpegCmyk = true; }},
        {"-jpegopt", Kind::Text, "jpeg options, with format <opt1>=<val1>[,<optN>=<valN>]*",
         [](A &a, const QString &v) { a.jpegOptions = v; }},
        {"-overprint", Kind::Flag, "enable overprint", ignore},
        {"-tiff", Kind::Flag, "generate a TIFF file", [](A &a, const QString &) { a.tiff = true; }},
        {"-tiffcompression", Kind::Text, "set TIFF compression: none, packbits, jpeg, lzw, deflate",
         [](A &a, const QString &v) { a.tiffCompression = v; }},
        {"-freetype", Kind::Text, "enable FreeType font rasterizer: yes, no", ignore},
        {"-thinlinemode", Kind::Text, "set thin line mode: none, solid, shape. Default: none", ignore},
        {"-aa", Kind::Text, "enable font anti-aliasing: yes, no",
         [](A &a, const QString &v) { a.antialias = a.antialias && v != QLatin1String("no"); }},
        {"-aaVector", Kind::Text, "enable vector anti-aliasing: yes, no",
         [](A &a, const QString &v) { a.antialias = a.antialias && v != QLatin1String("no"); }},
        {"-opw", Kind::Text, "owner password (for encrypted files)",
         [](A &a, const QString &v) { a.ownerPassword = v.toUtf8(); }},
        {"-upw", Kind::Text, "user password (for encrypted files)",
         [](A &a, const QString &v) { a.userPassword = v.toUtf8(); }},
        {"-q", Kind::Flag, "don't print any messages or errors", [](A &a, const QString &) { a.quiet = true; }},
        {"-progress", Kind::Flag, "print progress info", [](A &a, const QString &) { a.progress = true; }},
        {"-v", Kind::Flag, "print copyright and version info", [](A &a, const QString &) { a.version = true; }},
        {"-h", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
        {"-help", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
        {"--help", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
        {"-?", Kind::Flag, "print usage information", [](A &a, const QString &) { a.help = true; }},
    };
    return list;
}

// Options this program reads and cannot honour: named on standard error.
bool notHonoured(const QString &name, const QString &value)
{
    static const QStringList always{"-displayprofile", "-defaultgrayprofile", "-defaultrgbprofile",
                                    "-defaultcmykprofile", "-overprint", "-scale-dimension-before-rotation"};
    if (always.contains(name))
        return true;
    if (name == QLatin1String("-freetype"))
        return value == QLatin1String("no");
    if (name == QLatin1String("-thinlinemode"))
        return value != QLatin1String("none");
    return false;
}

} // namespace

PdftoppmArgs parsePdftoppmArgs(const QStringList &arguments)
{
    PdftoppmArgs args;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const Option *found = nullptr;
        for (const Option &option : options()) {
            if (argument == QLatin1String(option.name)) {
                found = &option;
                break;
            }
        }
        if (!found) {
            args.positional << argument;
            continue;
        }
        QString value;
        if (found->kind != Kind::Flag) {
            if (i + 1 >= arguments.size()) {
                args.usageError = true;
                break;
            }
            value = arguments.at(++i);
            int whole = 0;
            double real = 0;
            if ((found->kind == Kind::Int && !readInt(value, whole))
                || (found->kind == Kind::Double && !readDouble(value, real))) {
                args.usageError = true;
                break;
            }
        }
        found->apply(args, value);
        if (notHonoured(argument, value))
            args.ignored << argument;
    }
    if (args.positional.size() > 2)
        args.usageError = true;
    args.sizing.active = true;
    return args;
}

QString pdftoppmUsage()
{
    QString text = QStringLiteral("Usage: pdftoppm [options] [PDF-file [PPM-file-prefix]]\n");
    for (const Option &option : options()) {
        const QString name = QLatin1String(option.name);
        const char *value = option.kind == Kind::Int ? " <int>" : option.kind == Kind::Double ? " <fp>"
                            : option.kind == Kind::Text                                      ? " <string>"
                                                                                             : "";
        text += QStringLiteral("  %1: %2\n").arg(name + QLatin1String(value), -41).arg(QLatin1String(option.help));
    }
    return text;
}

bool parseJpegOptions(const QString &text, JpegOptions &options, QString *why)
{
    if (text.isEmpty())
        return true;
    for (const QString &item : text.split(QLatin1Char(','))) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        if (equals < 0) {
            *why = QStringLiteral("Could not find '=' in -jpegopt string");
            return false;
        }
        const QString name = item.left(equals);
        const QString value = item.mid(equals + 1);
        if (name == QLatin1String("quality")) {
            bool ok = false;
            options.quality = value.toInt(&ok);
            if (!ok || options.quality < 0 || options.quality > 100) {
                *why = QStringLiteral("Invalid jpeg quality");
                return false;
            }
        } else if (name == QLatin1String("progressive") || name == QLatin1String("optimize")) {
            if (value != QLatin1String("y") && value != QLatin1String("n")) {
                *why = QStringLiteral("jpeg %1 option must be \"y\" or \"n\"").arg(name);
                return false;
            }
            (name == QLatin1String("progressive") ? options.progressive : options.optimize) = value == QLatin1String("y");
        } else {
            *why = QStringLiteral("Unknown jpeg option \"%1\"").arg(name);
            return false;
        }
    }
    return true;
}
