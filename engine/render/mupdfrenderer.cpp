// The module velloran-mupdf: MuPDF behind the renderer interface, used the
// way its own tools use it: one context per document, cloned from a
// process-wide base context that holds the locks and the shared resource
// store; every call that may throw is made inside a small function of plain
// C variables, since MuPDF's errors are longjmps that would skip C++
// destructors. MuPDF is linked into this module alone.
#include "engine/nativepath.h"
#include "engine/render/backendmodule.h"
#include "engine/render/mupdfbackend.h"

#include <mupdf/fitz.h>
#include <mupdf/pdf.h>


#include <atomic>
#include <cmath>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

namespace {

const ModuleHost *host = nullptr; // set when the module is loaded

// ---- The base context: locks for the store shared by every clone. ----

std::mutex muPdfLocks[FZ_LOCK_MAX];

void lockMuPdf(void *, int lock)
{
    muPdfLocks[lock].lock();
}

void unlockMuPdf(void *, int lock)
{
    muPdfLocks[lock].unlock();
}

// MuPDF prints its warnings and the errors it throws on stderr. They are
// kept with the page drawn instead (engine/drawingnotes): an error there means
// something was left out of the page (an object missing, an image that could
// not be decoded or had no memory), a warning that MuPDF drew on as it thought
// best. The terminal gets the engine's own messages, the same whichever
// library drew.
void noteWarning(void *, const char *message)
{
    host->note(DrawingNotes::Severity::Warning, QString::fromUtf8(message));
}

void noteError(void *, const char *message)
{
    host->note(DrawingNotes::Severity::Error, QString::fromUtf8(message));
}

void silence(fz_context *ctx)
{
    fz_set_warning_callback(ctx, noteWarning, nullptr);
    fz_set_error_callback(ctx, noteError, nullptr);
}

std::atomic<qint64> storeLimit{0};

class BaseContext
{
public:
    BaseContext()
    {
        const fz_locks_context locks{nullptr, lockMuPdf, unlockMuPdf};
        const qint64 limit = storeLimit.load();
        ctx = fz_new_context(nullptr, &locks, size_t(limit > 0 ? limit : muPdfStoreBytes));
        if (ctx)
            silence(ctx);
    }
    ~BaseContext() { fz_drop_context(ctx); }
    BaseContext(const BaseContext &) = delete;
    BaseContext &operator=(const BaseContext &) = delete;

    fz_context *ctx = nullptr;
};

// A smaller store, for a process under a memory ceiling; read when the first
// document is opened.
void setStoreLimit(qint64 bytes)
{
    storeLimit.store(bytes);
}

// A context of its own for a document: a document and its context are used by
// one thread at a time, while the store behind them is shared under the locks.
fz_context *newContext()
{
    static BaseContext base;
    if (!base.ctx)
        return nullptr;
    fz_context *ctx = fz_clone_context(base.ctx);
    if (ctx)
        silence(ctx);
    return ctx;
}

// ---- Stopping a drawing: fz_cookie's abort, set by a watcher thread. ----

// MuPDF reads the cookie's abort field as it draws but calls nothing back, so
// one thread of the process looks at the stop flags and deadlines of the
// drawings in progress every few milliseconds and sets their abort fields.
class AbortWatch
{
public:
    struct Drawing
    {
        fz_cookie *cookie;
        const std::atomic<bool> *stop;
        QDeadlineTimer deadline;
    };

    static AbortWatch &instance()
    {
        static AbortWatch watch;
        return watch;
    }

    std::list<Drawing>::iterator add(const Drawing &drawing)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!thread.joinable())
            thread = std::thread([this] { watch(); });
        const auto it = drawings.insert(drawings.end(), drawing);
        changed.notify_one();
        return it;
    }

    void remove(std::list<Drawing>::iterator it)
    {
        const std::lock_guard<std::mutex> lock(mutex);
        drawings.erase(it);
    }

    ~AbortWatch()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            quit = true;
            changed.notify_one();
        }
        if (thread.joinable())
            thread.join();
    }

private:
    static constexpr std::chrono::milliseconds interval{5};

    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!quit) {
            if (drawings.empty()) {
                changed.wait(lock);
                continue;
            }
            for (const Drawing &drawing : drawings) {
                if (drawing.stop->load(std::memory_order_relaxed) || drawing.deadline.hasExpired())
                    __atomic_store_n(&drawing.cookie->abort, 1, __ATOMIC_RELAXED);
            }
            changed.wait_for(lock, interval);
        }
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::list<Drawing> drawings;
    std::thread thread;
    bool quit = false;
};

class WatchedDrawing
{
public:
    WatchedDrawing(fz_cookie *cookie, const std::atomic<bool> &stop, QDeadlineTimer deadline)
        : it(AbortWatch::instance().add({cookie, &stop, deadline}))
    {
    }
    ~WatchedDrawing() { AbortWatch::instance().remove(it); }
    WatchedDrawing(const WatchedDrawing &) = delete;
    WatchedDrawing &operator=(const WatchedDrawing &) = delete;

private:
    std::list<AbortWatch::Drawing>::iterator it;
};

// ---- The calls that may throw, each in a function of plain C variables. ----

enum OpenStatus { Opened, NotOpened, NeedsPassword };

OpenStatus openPdf(fz_context *ctx, const char *path, const char *password, pdf_document **out, int *pageCount)
{
    pdf_document *doc = nullptr;
    OpenStatus status = NotOpened;
    fz_var(doc);
    fz_var(status);
    fz_try(ctx)
    {
        doc = pdf_open_document(ctx, path);
        if (pdf_needs_password(ctx, doc) && !pdf_authenticate_password(ctx, doc, password)) {
            status = NeedsPassword;
        } else {
            *pageCount = pdf_count_pages(ctx, doc);
            status = Opened;
        }
    }
    fz_catch(ctx)
    {
        status = NotOpened;
    }
    if (status != Opened) {
        pdf_drop_document(ctx, doc);
        doc = nullptr;
    }
    *out = doc;
    return status;
}

// The page's box as Poppler reads it when MuPDF's own box is not: MuPDF
// draws a page with a side under one point as a one-point square, where
// Poppler keeps the box the file gives.
fz_rect thinBox(fz_context *ctx, pdf_obj *page)
{
    pdf_obj *box = pdf_dict_get_inheritable(ctx, page, PDF_NAME(CropBox));
    if (!pdf_is_array(ctx, box))
        box = pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox));
    const fz_rect rect = pdf_to_rect(ctx, box);
    const int rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(Rotate)));
    const float w = rect.x1 - rect.x0;
    const float h = rect.y1 - rect.y0;
    return ((rotate % 180) + 180) % 180 == 90 ? fz_make_rect(0, 0, h, w) : fz_make_rect(0, 0, w, h);
}

// A box of the page in its own PDF space: a missing crop box is the media
// box, a missing bleed, trim or art box the crop box, and each is clipped to
// the media box.
fz_rect pdfBox(fz_context *ctx, pdf_obj *page, PageBox which)
{
    const fz_rect media = pdf_to_rect(ctx, pdf_dict_get_inheritable(ctx, page, PDF_NAME(MediaBox)));
    pdf_obj *cropObject = pdf_dict_get_inheritable(ctx, page, PDF_NAME(CropBox));
    const fz_rect crop = pdf_is_array(ctx, cropObject) ? fz_intersect_rect(pdf_to_rect(ctx, cropObject), media)
                                                       : media;
    pdf_obj *name = nullptr;
    switch (which) {
    case PageBox::Media:
        return media;
    case PageBox::Crop:
        return crop;
    case PageBox::Bleed:
        name = PDF_NAME(BleedBox);
        break;
    case PageBox::Trim:
        name = PDF_NAME(TrimBox);
        break;
    case PageBox::Art:
        name = PDF_NAME(ArtBox);
        break;
    }
    pdf_obj *box = pdf_dict_get(ctx, page, name);
    return pdf_is_array(ctx, box) ? fz_intersect_rect(pdf_to_rect(ctx, box), media) : crop;
}

// Loads the page with its box in MuPDF's page space and the scale of that
// space to points: MuPDF applies /UserUnit, Poppler does not, and the sizes
// follow Poppler.
fz_page *loadPage(fz_context *ctx, pdf_document *doc, int index, PageBox box, fz_rect *bounds, float *userUnit,
                  bool *quarterTurned)
{
    fz_page *page = nullptr;
    fz_var(page);
    fz_try(ctx)
    {
        page = fz_load_page(ctx, &doc->super, index);
        pdf_obj *object = reinterpret_cast<pdf_page *>(page)->obj;
        // A kid that refers to an object the file lacks: MuPDF would draw a
        // blank page of its default size; Poppler has no such page, and neither
        // has this renderer.
        if (!pdf_is_dict(ctx, object))
            fz_throw(ctx, FZ_ERROR_GENERIC, "page %d is not a page object", index + 1);
        const float unit = pdf_to_real(ctx, pdf_dict_get(ctx, object, PDF_NAME(UserUnit)));
        *userUnit = unit > 0 ? unit : 1.0f;
        const int rotate = pdf_to_int(ctx, pdf_dict_get_inheritable(ctx, object, PDF_NAME(Rotate)));
        *quarterTurned = ((rotate % 180) + 180) % 180 == 90;
        if (box == PageBox::Crop) {
            *bounds = fz_bound_page(ctx, page);
            if (fz_is_empty_rect(*bounds)
                || (bounds->x1 - bounds->x0 <= *userUnit && bounds->y1 - bounds->y0 <= *userUnit)) {
                *bounds = thinBox(ctx, object);
                *userUnit = 1.0f;
            }
        } else {
            // The page's transform maps its PDF space to page space (turned,
            // the crop box's corner at the origin); the other box goes
            // through it, so that it is placed where it lies on the page.
            fz_rect cropInPageSpace;
            fz_matrix pageCtm;
            pdf_page_obj_transform(ctx, object, &cropInPageSpace, &pageCtm);
            *bounds = fz_transform_rect(pdfBox(ctx, object, box), pageCtm);
        }
    }
    fz_catch(ctx)
    {
        fz_drop_page(ctx, page);
        page = nullptr;
    }
    return page;
}

// The colour space MuPDF draws an image of the format in, its components in
// the image's byte order; a 32-bit image that is not CMYK has alpha besides
// (premultiplied, or the padding byte of Rgb32, left at 255 by the paper).
fz_colorspace *spaceFor(fz_context *ctx, PixelImage::Format format, bool cmyk)
{
    if (cmyk)
        return fz_device_cmyk(ctx);
    switch (format) {
    case PixelImage::Rgb888:
        return fz_device_rgb(ctx);
    case PixelImage::Grayscale8:
        return fz_device_gray(ctx);
    default:
        return fz_device_bgr(ctx);
    }
}

// Draws the page through ctm into samples, the pixels of bbox in the space
// given (with alpha or without), rows stride bytes apart, on white paper or
// on nothing; with or without its annotations.
bool drawPage(fz_context *ctx, fz_page *page, fz_matrix ctm, fz_irect bbox, fz_colorspace *space, bool alpha,
              unsigned char *samples, int stride, const RenderOptions &options, fz_cookie *cookie)
{
    fz_pixmap *pixmap = nullptr;
    fz_device *device = nullptr;
    bool drawn = false;
    fz_var(pixmap);
    fz_var(device);
    fz_var(drawn);
    fz_try(ctx)
    {
        pixmap = fz_new_pixmap_with_data(ctx, space, bbox.x1 - bbox.x0, bbox.y1 - bbox.y0, nullptr, alpha, stride,
                                         samples);
        pixmap->x = bbox.x0;
        pixmap->y = bbox.y0;
        if (!options.withoutPaper)
            fz_clear_pixmap_with_value(ctx, pixmap, 255); // white, in CMYK too
        else
            fz_clear_pixmap(ctx, pixmap);
        device = fz_new_draw_device(ctx, fz_identity, pixmap);
        if (options.annotations)
            fz_run_page(ctx, page, device, ctm, cookie);
        else
            fz_run_page_contents(ctx, page, device, ctm, cookie);
        fz_close_device(ctx, device);
        drawn = true;
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, device);
        fz_drop_pixmap(ctx, pixmap);
    }
    fz_catch(ctx)
    {
        drawn = false;
    }
    return drawn && !__atomic_load_n(&cookie->abort, __ATOMIC_RELAXED);
}

// ---- The interface. ----

class MuPdfPage : public RenderPage
{
public:
    MuPdfPage(fz_context *ctx, pdf_document *doc, int pageCount, int index, const RenderOptions &options)
        : ctx(ctx)
        , options(options)
    {
        if (index >= 0 && index < pageCount)
            page = loadPage(ctx, doc, index, options.box, &bounds, &userUnit, &turned);
    }
    ~MuPdfPage() override { fz_drop_page(ctx, page); }
    MuPdfPage(const MuPdfPage &) = delete;
    MuPdfPage &operator=(const MuPdfPage &) = delete;

    bool exists() const override { return page != nullptr; }

    QSizeF sizeInPoints() const override
    {
        return page ? QSizeF((bounds.x1 - bounds.x0) / userUnit, (bounds.y1 - bounds.y0) / userUnit) : QSizeF();
    }

    bool quarterTurned() const override { return turned; }

    PixelImage render(double dpi, const QRect &region, const std::atomic<bool> &stop, QDeadlineTimer deadline,
                      PixelImage::Format wanted) const override
    {
        return renderStretched(dpi, dpi, region, stop, deadline, wanted);
    }

    PixelImage renderStretched(double xDpi, double yDpi, const QRect &region, const std::atomic<bool> &stop,
                               QDeadlineTimer deadline, PixelImage::Format wanted) const override
    {
        if (!page || region.isEmpty())
            return PixelImage();
        const bool alpha = options.withoutPaper && !options.cmyk;
        // MuPDF draws any colour space straight; the packed layouts are for
        // pages on paper in RGB, the others stay 32-bit.
        const bool packed = !options.cmyk && !alpha
                            && (wanted == PixelImage::Rgb888 || wanted == PixelImage::Bgr888
                                || wanted == PixelImage::Grayscale8);
        const PixelImage::Format format = packed  ? wanted
                                          : alpha ? PixelImage::Argb32Premultiplied
                                                  : PixelImage::Rgb32;
        PixelImage image(region.size(), format);
        if (image.isNull())
            return PixelImage();
        // Pixel (0, 0) is the page's top left corner, as with Poppler.
        const float xZoom = float(xDpi / 72.0) / userUnit;
        const float yZoom = float(yDpi / 72.0) / userUnit;
        const fz_matrix ctm = fz_pre_translate(fz_scale(xZoom, yZoom), -bounds.x0, -bounds.y0);
        const fz_irect bbox{region.left(), region.top(), region.left() + region.width(),
                            region.top() + region.height()};
        fz_cookie cookie = {};
        const WatchedDrawing watched(&cookie, stop, deadline);
        if (!drawPage(ctx, page, ctm, bbox, spaceFor(ctx, format, options.cmyk), !packed && !options.cmyk, image.bits(),
                      int(image.bytesPerLine()), options, &cookie))
            return PixelImage();
        return image;
    }

private:
    fz_context *ctx;
    fz_page *page = nullptr;
    fz_rect bounds = fz_empty_rect;
    float userUnit = 1.0f;
    bool turned = false;
    const RenderOptions options;
};

class MuPdfDocument : public RenderDocument
{
public:
    MuPdfDocument(fz_context *ctx, pdf_document *doc, int pages, const RenderOptions &options)
        : ctx(ctx)
        , doc(doc)
        , pages(pages)
        , options(options)
    {
    }
    ~MuPdfDocument() override
    {
        pdf_drop_document(ctx, doc);
        fz_drop_context(ctx);
    }
    MuPdfDocument(const MuPdfDocument &) = delete;
    MuPdfDocument &operator=(const MuPdfDocument &) = delete;

    int pageCount() const override { return pages; }
    std::unique_ptr<RenderPage> page(int index) const override
    {
        return std::make_unique<MuPdfPage>(ctx, doc, pages, index, options);
    }

private:
    fz_context *ctx;
    pdf_document *doc;
    int pages;
    const RenderOptions options;
};

RenderOpenResult openWithMuPdf(const QString &path, const QByteArray &password, const RenderOptions &options)
{
    RenderOpenResult result;
    fz_context *ctx = newContext();
    if (!ctx)
        return result;
    // The level belongs to this document's own context, not to the others.
    if (!options.antialias)
        fz_set_aa_level(ctx, 0);
    const QByteArray name = nativePath(path);
    pdf_document *doc = nullptr;
    int pages = 0;
    switch (openPdf(ctx, name.constData(), password.constData(), &doc, &pages)) {
    case Opened:
        result.status = PdfLoadStatus::Loaded;
        result.document = std::make_unique<MuPdfDocument>(ctx, doc, pages, options);
        return result;
    case NeedsPassword:
        result.status = PdfLoadStatus::Locked;
        break;
    case NotOpened:
        break;
    }
    fz_drop_context(ctx);
    return result;
}

} // namespace

VELLORAN_BACKEND_MODULE const BackEndModule *velloranBackEndModule(const ModuleHost *given)
{
    host = given;
    // Its warnings and errors always go to the host's notes: MuPDF's own
    // printing would reach the terminal, not the page.
    static const BackEndModule module{VELLORAN_BACKEND_MODULE_BUILD, RendererKind::MuPdf, openWithMuPdf, setStoreLimit,
                                      nullptr, nullptr};
    return &module;
}
