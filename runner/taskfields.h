#ifndef TASKFIELDS_H
#define TASKFIELDS_H

#include "runner/taskprotocol.h"

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

#include <limits>
#include <type_traits>

// Every field that crosses between a program and its workers, in the order
// it travels: one list a struct, walked by the writer and the reader in
// taskprotocol.cpp, so that a field is read where it is written, and by the
// tests, which fill, send and compare every field from the same lists. A new
// field of a message is a line here and nowhere else.
//
// A visitor is called as v(name, field) for a field that may hold any value,
// and as v(name, field, check) for one the reader checks on arrival: every
// int, qint64 and enum with its Range (a QRect's corner and sides, a QSize's
// sides, each in it), a double with `positive` (finite and above zero). A
// struct with a list of its own is one field, and so is a QList, whose items
// are visited as fields of their own ("pages[1]").
namespace TaskFields {

struct Range
{
    qint64 low;
    qint64 high;
};
struct Positive
{
};

constexpr qint64 most = std::numeric_limits<qint32>::max();
constexpr Range nonNegative{0, most};
constexpr Range anyInt{std::numeric_limits<qint32>::min(), most};
constexpr Range nonNegative64{0, std::numeric_limits<qint64>::max()};
constexpr Range any64{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
constexpr Positive positive;
template<typename Enum>
constexpr Range between(Enum first, Enum last)
{
    return {qint64(first), qint64(last)};
}

// Each list takes its struct, const for a writer, as Message.
template<typename Message, typename Struct>
using Of = std::enable_if_t<std::is_same_v<std::remove_const_t<Message>, Struct>>;

template<typename V, typename M>
Of<M, RenderOptions> fields(V &v, M &o)
{
    v("withoutPaper", o.withoutPaper);
    v("box", o.box, between(PageBox::Media, PageBox::Art));
    v("antialias", o.antialias);
    v("annotations", o.annotations);
    v("cmyk", o.cmyk);
}

template<typename V, typename M>
Of<M, EncoderOptions> fields(V &v, M &e)
{
    v("jpegProgressive", e.jpegProgressive);
    v("jpegOptimize", e.jpegOptimize);
    v("subsampling", e.subsampling, between(ChromaSubsampling::S444, ChromaSubsampling::S420));
    v("tiffCompression", e.tiffCompression, between(TiffCompression::None, TiffCompression::Jpeg));
}

// Any number: pdftoppm's and pdftocairo's own arithmetic gives each a meaning,
// negative ones and a resolution of 0 under -scale-to included (engine/pdftoppmsize).
template<typename V, typename M>
Of<M, PdftoppmSizing> fields(V &v, M &s)
{
    v("active", s.active);
    v("rule", s.rule, between(PdftoppmSizing::Rule::Pdftoppm, PdftoppmSizing::Rule::Pdftocairo));
    v("xResolution", s.xResolution);
    v("yResolution", s.yResolution);
    v("scaleTo", s.scaleTo, anyInt);
    v("scaleToX", s.scaleToX, anyInt);
    v("scaleToY", s.scaleToY, anyInt);
    v("x", s.x, anyInt);
    v("y", s.y, anyInt);
    v("width", s.width, anyInt);
    v("height", s.height, anyInt);
}

// Any value: the file system's own, compared and never used otherwise.
template<typename V, typename M>
Of<M, FileStamp> fields(V &v, M &s)
{
    v("device", s.device, any64);
    v("inode", s.inode, any64);
    v("size", s.size, any64);
    v("changedNs", s.changedNs, any64);
}

// What decides how a task's document is opened and drawn: a worker keeps the
// document open for the next task that has the same.
template<typename V, typename M>
Of<M, PageTask> opening(V &v, M &t)
{
    v("path", t.path);
    v("inputStamp", t.inputStamp);
    v("password", t.password);
    v("renderer", t.renderer, between(RendererKind::MuPdf, RendererKind::Poppler));
    v("options", t.options);
}

template<typename V, typename M>
Of<M, PageTask> fields(V &v, M &t)
{
    v("kind", t.kind, between(PageTask::Convert, PageTask::Check));
    v("document", t.document, nonNegative);
    opening(v, t);
    v("pageIndex", t.pageIndex, nonNegative);
    v("resolution", t.resolution, positive);
    v("fitWidth", t.fitWidth, nonNegative);
    v("fitHeight", t.fitHeight, nonNegative);
    v("longestSide", t.longestSide, nonNegative);
    v("outputPath", t.outputPath);
    v("format", t.format, between(ImageFormat::Jpeg, ImageFormat::Pbm));
    v("quality", t.quality, Range{0, 100});
    v("mode", t.mode, between(PixelMode::Color, PixelMode::Cmyk));
    v("tone", t.tone, between(PixelMode::Color, PixelMode::Mono));
    v("region", t.region, nonNegative);
    v("encoder", t.encoder);
    v("timeLimitMs", t.timeLimitMs, nonNegative64);
    v("synced", t.synced);
    v("heldBack", t.heldBack);
    v("toGivenDescriptor", t.toGivenDescriptor);
    v("inTurn", t.inTurn);
    v("pieces", t.pieces);
    v("bandThreads", t.bandThreads, Range{1, most});
    v("strict", t.strict);
    v("checkSizes", t.checkSizes);
    v("documentInfo", t.documentInfo);
    v("pdftoppm", t.pdftoppm);
    v("previewArea", t.previewArea, anyInt); // an empty one (the window's label less its frame) draws at 72 dpi
}

template<typename V, typename M>
Of<M, PageOutcome> fields(V &v, M &o)
{
    v("page", o.page, anyInt); // the task's, whatever it is: its program compares them
    v("outputPath", o.outputPath);
    v("heldAt", o.heldAt);
    v("result", o.result, between(PageOutcome::Written, PageOutcome::Skipped));
    v("detail", o.detail);
    v("width", o.width, nonNegative);
    v("height", o.height, nonNegative);
    v("milliseconds", o.milliseconds, nonNegative64);
    v("redoneBecause", o.redoneBecause);
    v("renderer", o.renderer);
    v("warnings", o.warnings);
    v("warningCount", o.warningCount, nonNegative); // and no fewer than the warnings (readResult)
    v("drawingErrors", o.drawingErrors);
}

template<typename V, typename M>
Of<M, PdfBox> fields(V &v, M &b)
{
    v("x1", b.x1);
    v("y1", b.y1);
    v("x2", b.x2);
    v("y2", b.y2);
}

template<typename V, typename M>
Of<M, PdfPageInfo> fields(V &v, M &p)
{
    v("mediaBox", p.mediaBox);
    v("cropBox", p.cropBox);
    v("bleedBox", p.bleedBox);
    v("trimBox", p.trimBox);
    v("artBox", p.artBox);
    v("rotation", p.rotation, Range{0, 359});
    v("javaScript", p.javaScript);
}

// Its pages last: the rest of the document's fields come whatever its size.
template<typename V, typename M>
Of<M, PdfDocumentInfo> fields(V &v, M &i)
{
    v("status", i.status, between(PdfLoadStatus::Loaded, PdfLoadStatus::Locked));
    v("title", i.title);
    v("subject", i.subject);
    v("keywords", i.keywords);
    v("author", i.author);
    v("creator", i.creator);
    v("producer", i.producer);
    v("creationDate", i.creationDate);
    v("modDate", i.modDate);
    v("customMetadata", i.customMetadata);
    v("metadataStream", i.metadataStream);
    v("tagged", i.tagged);
    v("userProperties", i.userProperties);
    v("suspects", i.suspects);
    v("form", i.form, between(PdfDocumentInfo::NoForm, PdfDocumentInfo::XfaForm));
    v("documentJavaScript", i.documentJavaScript);
    v("pageCount", i.pageCount, nonNegative);
    v("encrypted", i.encrypted);
    v("mayPrint", i.mayPrint);
    v("mayCopy", i.mayCopy);
    v("mayChange", i.mayChange);
    v("mayAddNotes", i.mayAddNotes);
    v("encryption", i.encryption);
    v("fileSize", i.fileSize, nonNegative64);
    v("linearized", i.linearized);
    v("majorVersion", i.majorVersion, anyInt); // as the file's header says
    v("minorVersion", i.minorVersion, anyInt);
    v("pages", i.pages);
}

// workerLost is the program's own word, never sent.
template<typename V, typename M>
Of<M, TaskResult> fields(V &v, M &r)
{
    v("outcome", r.outcome);
    v("image", r.image);
    v("loadStatus", r.loadStatus, between(PdfLoadStatus::Loaded, PdfLoadStatus::Locked));
    v("rendererStatus", r.rendererStatus, between(PdfLoadStatus::Loaded, PdfLoadStatus::Locked));
    v("pageCount", r.pageCount, nonNegative);
    v("info", r.info);
}

template<typename V, typename M>
Of<M, TaskProtocol::Setup> fields(V &v, M &s)
{
    v("mark", s.mark);
    v("maxMemory", s.maxMemory, nonNegative64);
    v("memoryShare", s.memoryShare, Range{1, most});
    v("inputs", s.inputs);
    v("outputFolders", s.outputFolders);
}

template<typename V, typename M>
Of<M, TaskProtocol::Ready> fields(V &v, M &r)
{
    v("unconfinedBecause", r.unconfinedBecause);
}

template<typename V, typename M>
Of<M, TaskProtocol::TurnWanted> fields(V &v, M &w)
{
    v("page", w.page, nonNegative);
}

template<typename V, typename M>
Of<M, TaskProtocol::TurnGiven> fields(V &v, M &g)
{
    v("write", g.write);
}

// Whether a field's type is visited through a list of its own.
template<typename T>
constexpr bool hasFields = std::is_class_v<T> && !std::is_same_v<T, QString> && !std::is_same_v<T, QByteArray>
                           && !std::is_same_v<T, PixelImage> && !std::is_same_v<T, QRect> && !std::is_same_v<T, QSize>;

// What every visitor shares: the name of the field in hand within the
// structs and lists it is in ("options.box", "info.pages[1].rotation"), and
// the way into a struct's own list and a list's items.
template<typename Visitor>
class Walk
{
public:
    QString name(const char *field) const { return prefix + QLatin1String(field); }

protected:
    template<typename T>
    void into(const char *field, T &value)
    {
        const QString outer = prefix;
        prefix = name(field) + QLatin1Char('.');
        fields(static_cast<Visitor &>(*this), value);
        prefix = outer;
    }
    template<typename T>
    void item(const char *field, qsizetype index, T &value)
    {
        const QByteArray named = QByteArray(field) + '[' + QByteArray::number(index) + ']';
        static_cast<Visitor &>(*this)(named.constData(), value);
    }

private:
    QString prefix;
};

} // namespace TaskFields

#endif // TASKFIELDS_H
