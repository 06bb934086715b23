// The module velloran-poppler: Poppler behind the renderer interface, drawn
// through Poppler's core C++ interface (PDFDoc and Splash, as its pdftoppm
// draws). Each open document keeps its output devices across pages, so that
// its fonts are loaded once, and draws 3-byte RGB where the encoder takes it.
// The pixels are those Poppler's Qt interface draws with the window's render
// hints (popplerview.h keeps that drawing as the reference, for the tests).
#include "engine/render/popplerrenderer.h"

#include "engine/nativepath.h"
#include "engine/render/backendmodule.h"

#include <QDebug>

// Poppler's core interface: its headers stay in this file.
#include <Annot.h>
#include <Catalog.h>
#include <Error.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <goo/GooString.h>
#include <splash/SplashBitmap.h>

#include <cstring>
#include <mutex>
#include <optional>

namespace {

const ModuleHost *host = nullptr; // set when the module is loaded

// Before keepReports(), reports read as Poppler's Qt interface gives
// them to qDebug, whichever interface set up Poppler first.
void reportToDebug(ErrorCategory, Goffset pos, const char *message)
{
    const QString prefix = pos >= 0 ? QStringLiteral("Error (%1): ").arg(pos) : QStringLiteral("Error: ");
    qDebug() << prefix + QString::fromLatin1(message);
}

// Poppler's global parameters (fonts, character maps) serve both of its
// interfaces in this process. The Qt interface makes them with its first open
// document and drops them with its last (GlobalParamsIniter's count), which
// would pull them from under a document open here; one count taken here for
// the life of the process keeps them, whichever interface came first, and
// keeps the Qt interface from putting its own error callback back.
void setUpPoppler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static GlobalParamsIniter *const forTheProcess = new GlobalParamsIniter(reportToDebug);
        Q_UNUSED(forTheProcess);
    });
}

struct AbortWhen
{
    const std::atomic<bool> *stop;
    QDeadlineTimer deadline;
};

bool stopRequested(void *data)
{
    const auto *when = static_cast<const AbortWhen *>(data);
    return when->stop->load(std::memory_order_relaxed) || when->deadline.hasExpired();
}

// Without annotations: none is drawn, form fields included.
bool drawNoAnnotation(Annot *, void *)
{
    return false;
}

void freeBitmap(void *bitmap)
{
    delete static_cast<SplashBitmap *>(bitmap);
}

// Splash draws a page on paper with an alpha channel beside its pixels and,
// once the page is done, lays it over the paper pixel by pixel
// (Splash::compositeBackground). The same arithmetic here, but pixels nothing
// drew on (alpha 0) and pixels drawn opaque (alpha 255), which make up most of a
// page, are taken eight at a time.
class PaperSplashOutputDev : public SplashOutputDev
{
public:
    PaperSplashOutputDev(SplashColorMode mode, SplashColorPtr paperColour)
        : SplashOutputDev(mode, 4, false, paperColour, true, splashThinLineDefault, false)
    {
        for (int i = 0; i < 3; ++i)
            paper[i] = paperColour[i];
        for (int i = 0; i < 8 * 3; ++i)
            paperRun[i] = paper[i % 3];
    }

    void endPage() override
    {
        SplashBitmap *bitmap = getBitmap();
        const SplashColorMode mode = bitmap->getMode();
        if ((mode != splashModeRGB8 && mode != splashModeBGR8) || !bitmap->getAlphaPtr()) {
            SplashOutputDev::endPage();
            return;
        }
        const int width = bitmap->getWidth();
        for (int y = 0; y < bitmap->getHeight(); ++y) {
            unsigned char *p = bitmap->getDataPtr() + qsizetype(y) * bitmap->getRowSize();
            const unsigned char *q = bitmap->getAlphaPtr() + qsizetype(y) * width;
            int x = 0;
            while (x < width) {
                if (x + 8 <= width) {
                    quint64 eight;
                    std::memcpy(&eight, q + x, sizeof eight);
                    if (eight == ~quint64(0)) {
                        x += 8;
                        continue;
                    }
                    // Untouched pixels hold the paper already, from the page's
                    // clearing; those a drawing left at alpha 0 get it back.
                    if (eight == 0) {
                        unsigned char *pixels = p + qsizetype(x) * 3;
                        if (std::memcmp(pixels, paperRun, sizeof paperRun) != 0)
                            std::memcpy(pixels, paperRun, sizeof paperRun);
                        x += 8;
                        continue;
                    }
                }
                const unsigned char alpha = q[x];
                unsigned char *pixel = p + qsizetype(x) * 3;
                if (alpha == 0) {
                    pixel[0] = paper[0];
                    pixel[1] = paper[1];
                    pixel[2] = paper[2];
                } else if (alpha != 255) {
                    const int under = 255 - alpha;
                    for (int i = 0; i < 3; ++i)
                        pixel[i] = div255(under * paper[i] + alpha * pixel[i]);
                }
                ++x;
            }
        }
    }
private:
    static unsigned char div255(int x) { return (unsigned char)((x + (x >> 8) + 0x80) >> 8); }

    unsigned char paper[3];
    unsigned char paperRun[8 * 3]; // eight pixels of paper
};

// The Splash layouts a page is drawn in; each has an output device of its own.
enum class Drawn {
    Rgb,   // splashModeRGB8: RGB888
    Bgr,   // splashModeBGR8: BGR888, as BMP stores it
    Xbgr,  // splashModeXBGR8 on paper: RGB32, as the Qt interface draws, for gray too
    Alpha, // splashModeXBGR8 without paper: premultiplied ARGB32
    Count
};

// Poppler counts a linearized file's pages from its linearization dictionary
// (/N), a claim nothing else backs: a one-page file that says two billion
// would have every caller list two billion pages. What is trusted is what the
// page tree holds: the count of its top (which Poppler keeps to the objects
// the file has), and that only as far as its pages are found, walking the tree.
int pagesInTree(PDFDoc &doc)
{
    const int claimed = doc.getNumPages();
    if (!doc.isLinearized() || claimed <= 1)
        return qMax(0, claimed);
    Catalog *catalog = doc.getCatalog();
    const int counted = catalog ? qMin(claimed, catalog->getNumPages()) : 0;
    if (counted <= 0 || catalog->getPage(counted))
        return qMax(0, counted);
    // The walk stopped at the tree's last page; the pages before it are kept,
    // so this search looks again at none of the tree.
    int found = 0;
    int missing = counted;
    while (missing - found > 1) {
        const int middle = found + (missing - found) / 2;
        (catalog->getPage(middle) ? found : missing) = middle;
    }
    return found;
}

class PopplerCoreDocument : public RenderDocument
{
public:
    PopplerCoreDocument(std::unique_ptr<PDFDoc> doc, const RenderOptions &options)
        : doc(std::move(doc))
        , options(options)
        , pages(pagesInTree(*this->doc))
    {
    }

    int pageCount() const override { return pages; }
    std::unique_ptr<RenderPage> page(int index) const override;

    bool exists(int index) const { return index >= 0 && index < pages && doc->getPage(index + 1); }
    QSizeF sizeInPoints(int index) const;
    PixelImage render(int index, double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                      QDeadlineTimer deadline, PixelImage::Format wanted) const;
    int rotation(int index) const { return doc->getPage(index + 1)->getRotate(); }

private:
    SplashOutputDev &device(Drawn drawn) const;

    std::unique_ptr<PDFDoc> doc;
    const RenderOptions options;
    const int pages;
    // Made on first use and kept, with the fonts they have loaded, for every
    // later page drawn in their layout.
    mutable std::unique_ptr<SplashOutputDev> devices[int(Drawn::Count)];
};

class PopplerCorePage : public RenderPage
{
public:
    PopplerCorePage(const PopplerCoreDocument *document, int index)
        : document(document)
        , index(index)
    {
    }

    bool exists() const override { return document->exists(index); }
    QSizeF sizeInPoints() const override { return document->sizeInPoints(index); }
    PixelImage render(double dpi, const QRect &region, const std::atomic<bool> &stop, QDeadlineTimer deadline,
                      PixelImage::Format wanted) const override
    {
        return document->render(index, dpi, dpi, region, stop, deadline, wanted);
    }
    PixelImage renderStretched(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                               QDeadlineTimer deadline, PixelImage::Format wanted) const override
    {
        return document->render(index, xDpi, yDpi, region, stop, deadline, wanted);
    }
    bool quarterTurned() const override
    {
        const int rotate = document->exists(index) ? document->rotation(index) : 0;
        return rotate == 90 || rotate == 270;
    }

private:
    const PopplerCoreDocument *document;
    const int index;
};

std::unique_ptr<RenderPage> PopplerCoreDocument::page(int index) const
{
    return std::make_unique<PopplerCorePage>(this, index);
}

// The crop box, turned by the page's /Rotate, as the Qt interface gives it.
QSizeF PopplerCoreDocument::sizeInPoints(int index) const
{
    if (!exists(index))
        return QSizeF();
    ::Page *page = doc->getPage(index + 1);
    const QSizeF size(page->getCropWidth(), page->getCropHeight());
    const int rotate = page->getRotate();
    return rotate == 90 || rotate == 270 ? size.transposed() : size;
}

// The settings Poppler's Qt interface gives its Splash device under the
// window's render hints: rows padded to 4 bytes, top down, white paper (none
// without paper), the default thin-line mode, no overprint preview, text and
// vector anti-aliasing as asked, FreeType without hinting, no display profile.
SplashOutputDev &PopplerCoreDocument::device(Drawn drawn) const
{
    std::unique_ptr<SplashOutputDev> &kept = devices[int(drawn)];
    if (kept)
        return *kept;
    SplashColor white;
    for (unsigned char &component : white)
        component = 255;
    SplashColorMode mode = splashModeXBGR8;
    if (drawn == Drawn::Rgb)
        mode = splashModeRGB8;
    else if (drawn == Drawn::Bgr)
        mode = splashModeBGR8;
    if (drawn == Drawn::Alpha)
        kept = std::make_unique<SplashOutputDev>(mode, 4, false, nullptr, true, splashThinLineDefault, false);
    else
        kept = std::make_unique<PaperSplashOutputDev>(mode, white);
    kept->setFontAntialias(options.antialias);
    kept->setVectorAntialias(options.antialias);
    kept->setFreeTypeHinting(false, false);
    kept->startDoc(doc.get());
    return *kept;
}

PixelImage PopplerCoreDocument::render(int index, double xDpi, double yDpi, const QRect &region,
                                       const std::atomic<bool> &stop, QDeadlineTimer deadline,
                                       PixelImage::Format wanted) const
{
    if (!exists(index) || region.isEmpty())
        return PixelImage();
    // Gray is asked for in 32-bit pixels: Splash's own gray weighs the
    // colours otherwise, and each encoder makes gray from 32-bit rows its own
    // way (JPEG's by libjpeg), which keeps the Qt interface's files.
    Drawn drawn = Drawn::Xbgr;
    if (options.withoutPaper)
        drawn = Drawn::Alpha;
    else if (wanted == PixelImage::Rgb888)
        drawn = Drawn::Rgb;
    else if (wanted == PixelImage::Bgr888)
        drawn = Drawn::Bgr;
    SplashOutputDev &out = device(drawn);

    AbortWhen when{&stop, deadline};
    // One thread draws on a document at a time: its cross-reference table is
    // read in place, not copied for the page.
    doc->displayPageSlice(&out, index + 1, xDpi, yDpi, 0, false, true, false, region.x(), region.y(),
                          region.width(), region.height(), stopRequested, &when,
                          options.annotations ? nullptr : drawNoAnnotation, nullptr, false);
    // The bitmap goes with the image; the device makes a new one for the next page.
    SplashBitmap *bitmap = out.takeBitmap();
    // A drawing given up midway may leave a text clip or a group behind in
    // the device: the next page gets a new one.
    if (stopRequested(&when)) {
        devices[int(drawn)].reset();
        delete bitmap;
        return PixelImage();
    }
    // Splash falls back to a 1 x 1 bitmap when it cannot allocate the page's.
    if (bitmap->getWidth() != region.width() || bitmap->getHeight() != region.height() || !bitmap->getDataPtr()) {
        delete bitmap;
        return PixelImage();
    }
    PixelImage::Format format = PixelImage::Rgb32;
    switch (drawn) {
    case Drawn::Rgb:
        format = PixelImage::Rgb888;
        break;
    case Drawn::Bgr:
        format = PixelImage::Bgr888;
        break;
    case Drawn::Xbgr:
        break;
    case Drawn::Alpha:
        bitmap->convertToXBGR(SplashBitmap::conversionAlphaPremultiplied);
        format = PixelImage::Argb32Premultiplied;
        break;
    case Drawn::Count:
        break;
    }
    // The image frees the bitmap, whatever becomes of it.
    return PixelImage(bitmap->getDataPtr(), bitmap->getWidth(), bitmap->getHeight(), bitmap->getRowSize(), format,
                      freeBitmap, bitmap);
}

// The path's own bytes, as the file system has them; a password as the Qt
// interface passes it, up to its first zero byte, for both passwords.
std::unique_ptr<PDFDoc> openCore(const QString &path, const QByteArray &password)
{
    setUpPoppler();
    const std::optional<GooString> given(GooString(password.constData()));
    return std::make_unique<PDFDoc>(std::make_unique<GooString>(nativePath(path).constData()), given, given);
}

RenderOpenResult openWithPopplerCore(const QString &path, const QByteArray &password, const RenderOptions &options)
{
    RenderOpenResult result;
    auto doc = openCore(path, password);
    if (!doc->isOk()) {
        result.status = doc->getErrorCode() == errEncrypted ? PdfLoadStatus::Locked : PdfLoadStatus::Failed;
        return result;
    }
    result.status = PdfLoadStatus::Loaded;
    result.document = std::make_unique<PopplerCoreDocument>(std::move(doc), options);
    return result;
}

// Poppler escapes a newline in a report as <0a>.
void keepReport(ErrorCategory, Goffset, const char *message)
{
    QString text = QString::fromLatin1(message);
    text.replace(QLatin1String("<0a>"), QLatin1String(" "));
    host->note(DrawingNotes::Severity::Error, text);
}

// Every report counts as an error, whatever grade Poppler gave it (a syntax
// warning, an error): many mean something was left out.
bool keepingReports = false; // set once, before a worker's first task

void keepReports()
{
    setUpPoppler();
    setErrorCallback(keepReport);
    keepingReports = true;
}

} // namespace

VELLORAN_BACKEND_MODULE const BackEndModule *velloranBackEndModule(const ModuleHost *given)
{
    host = given;
    static const BackEndModule module{VELLORAN_BACKEND_MODULE_BUILD, RendererKind::Poppler, openWithPopplerCore,
                                      nullptr, keepReports, readPopplerInfo};
    return &module;
}

PopplerReportsPrinted::PopplerReportsPrinted()
{
    setUpPoppler();
    setErrorCallback(nullptr); // Poppler's own: standard error
}

PopplerReportsPrinted::~PopplerReportsPrinted()
{
    setErrorCallback(keepingReports ? keepReport : reportToDebug);
}
