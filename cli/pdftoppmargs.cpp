#include "cli/pdftoppmargs.h"

namespace {

using Option = PopplerOption<PdftoppmArgs>;
using Kind = PopplerArgKind;

const QList<Option> &options()
{
    using A = PdftoppmArgs;
    const auto ignore = [](A &, const QString &) {};
    static const QList<Option> list = {
        {"-f", Kind::Int, "first page to print", [](A &a, const QString &v) { a.firstPage = popplerInt(v); }},
        {"-l", Kind::Int, "last page to print", [](A &a, const QString &v) { a.lastPage = popplerInt(v); }},
        {"-o", Kind::Flag, "print only odd pages", [](A &a, const QString &) { a.oddOnly = true; }},
        {"-e", Kind::Flag, "print only even pages", [](A &a, const QString &) { a.evenOnly = true; }},
        {"-singlefile", Kind::Flag, "write only the first page and do not add digits",
         [](A &a, const QString &) { a.singleFile = true; }},
        {"-scale-dimension-before-rotation", Kind::Flag, "for rotated pdf, resize dimensions before the rotation",
         ignore},
        {"-r", Kind::Double, "resolution, in DPI (default is 150)",
         [](A &a, const QString &v) { a.resolution = popplerDouble(v); }},
        {"-rx", Kind::Double, "X resolution, in DPI (default is 150)",
         [](A &a, const QString &v) { a.sizing.xResolution = popplerDouble(v); }},
        {"-ry", Kind::Double, "Y resolution, in DPI (default is 150)",
         [](A &a, const QString &v) { a.sizing.yResolution = popplerDouble(v); }},
        {"-scale-to", Kind::Int, "scales each page to fit within scale-to*scale-to pixel box",
         [](A &a, const QString &v) { a.sizing.scaleTo = popplerInt(v); }},
        {"-scale-to-x", Kind::Int, "scales each page horizontally to fit in scale-to-x pixels",
         [](A &a, const QString &v) { a.sizing.scaleToX = popplerInt(v); }},
        {"-scale-to-y", Kind::Int, "scales each page vertically to fit in scale-to-y pixels",
         [](A &a, const QString &v) { a.sizing.scaleToY = popplerInt(v); }},
        {"-x", Kind::Int, "x-coordinate of the crop area top left corner",
         [](A &a, const QString &v) { a.sizing.x = popplerInt(v); }},
        {"-y", Kind::Int, "y-coordinate of the crop area top left corner",
         [](A &a, const QString &v) { a.sizing.y = popplerInt(v); }},
        {"-W", Kind::Int, "width of crop area in pixels (default is 0)",
         [](A &a, const QString &v) { a.sizing.width = popplerInt(v); }},
        {"-H", Kind::Int, "height of crop area in pixels (default is 0)",
         [](A &a, const QString &v) { a.sizing.height = popplerInt(v); }},
        {"-sz", Kind::Int, "size of crop square in pixels (sets W and H)",
         [](A &a, const QString &v) { a.sizing.width = a.sizing.height = popplerInt(v); }},
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
    args.usageError = !readPopplerArgs(arguments, options(), args, args.positional,
                                       [&args](const QString &name, const QString &value) {
                                           if (notHonoured(name, value))
                                               args.ignored << name;
                                       });
    if (args.positional.size() > 2)
        args.usageError = true;
    applyPopplerResolution(args.sizing, args.resolution);
    args.sizing.active = true;
    return args;
}

QString pdftoppmUsage()
{
    return popplerUsage(QStringLiteral("pdftoppm"), QStringLiteral("[PDF-file [PPM-file-prefix]]"), options());
}
